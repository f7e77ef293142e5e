// What the served page shows, made of the console's own records.
#include "serve_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/host/terminal.h"
#include "platform/platform.h"

namespace console::serve {

namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// The last `most` frames of bytes that reached a peer, as the peer command shows them.
std::string framesJson(const Options& given, const std::string& bytes) {
    Options options = given;
    options.json = true;
    std::vector<Frame> frames = decodeStream(bytes, "auto");
    std::vector<Record> records;
    size_t first = frames.size() > kShownFrames ? frames.size() - kShownFrames : 0;
    for (size_t i = first; i < frames.size(); ++i) records.push_back(frameRecord(frames[i], i + 1));
    std::ostringstream out;
    printRecords(options, records, out);
    return "{\"count\":" + std::to_string(frames.size()) + ",\"bytes\":" + std::to_string(bytes.size()) +
           ",\"frames\":" + trimmed(out.str()) + "}";
}

// The serial ports whose far end has a record: a peer the console opened
// (.terminal/peers/COMn.bytes) or an auto port's log (.terminal/log/COMn.out).
std::vector<int> peerPorts(const Options& options) {
    std::vector<int> ports;
    for (const char* folder : {"/.terminal/peers", "/.terminal/log"}) {
        DIR* d = opendir((options.root + folder).c_str());
        if (d == nullptr) continue;
        while (dirent* e = readdir(d)) {
            int port = -1;
            char rest[16] = {};
            if (std::sscanf(e->d_name, "COM%d.%15s", &port, rest) == 2 && port >= 0 && port <= 99 &&
                (std::string(rest) == "bytes" || std::string(rest) == "out") &&
                std::find(ports.begin(), ports.end(), port) == ports.end())
                ports.push_back(port);
        }
        closedir(d);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::string peerBytes(const Options& options, int port) {
    std::string bytes;
    std::string record = options.root + "/.terminal/peers/COM" + std::to_string(port) + ".bytes";
    if (access(record.c_str(), F_OK) != 0) record = options.root + "/.terminal/log/COM" + std::to_string(port) + ".out";
    readHostFile(record, bytes);
    return bytes;
}

// The end of the trace log, one string per line.
std::string traceJson(const Options& options) {
    std::string path = terminal::hostPath(u"\\DebugADV\\Keyvane.txt");
    std::ifstream in(path, std::ios::binary);
    if (!in) return "null";
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    constexpr std::streamoff kTail = 64 * 1024;
    in.seekg(size > kTail ? size - kTail : 0);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (size > kTail) {
        size_t cut = text.find('\n');
        text = cut == std::string::npos ? std::string() : text.substr(cut + 1);
    }
    std::vector<std::string> lines;
    std::istringstream all(text);
    // Blank lines and stray carriage returns dropped, as trace --tidy does.
    for (std::string line; std::getline(all, line);) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    size_t first = lines.size() > kShownTraceLines ? lines.size() - kShownTraceLines : 0;
    std::string out = "{\"lines\":" + std::to_string(lines.size()) + ",\"tail\":[";
    for (size_t i = first; i < lines.size(); ++i) out += (i > first ? "," : "") + jsonString(lines[i]);
    return out + "]}";
}

// The sounds played, the last few by the name a person knows them by.
std::string soundsJson() {
    auto played = terminal::sounds();
    std::string out = "{\"count\":" + std::to_string(played.size()) + ",\"last\":[";
    size_t first = played.size() > 8 ? played.size() - 8 : 0;
    for (size_t i = first; i < played.size(); ++i)
        out += std::string(i > first ? "," : "") + "{\"time\":" + std::to_string(played[i].time) +
               ",\"sound\":" + jsonString(played[i].sound) + ",\"name\":" + jsonString(soundName(played[i].sound)) +
               "}";
    return out + "]}";
}

// The LEDs by their use and colour, as the leds command names them.
std::string lightsJson() {
    std::string out = "[";
    for (unsigned led = 0; led < 4; ++led) {
        Light light = lightOf(led);
        out += std::string(led ? "," : "") + "{\"led\":" + std::to_string(led) + ",\"name\":" + jsonString(light.name) +
               ",\"colour\":" + jsonString(light.colour) + ",\"state\":" + std::to_string(terminal::ledState(led)) +
               ",\"vibrator\":" + (led == vibratorLed() ? "true" : "false") + "}";
    }
    return out + "]";
}

}  // namespace

std::string commandJson(const Options& given, const Args& args, int* rc, std::string* problems) {
    Options options = given;
    options.json = true;
    options.progress = nullptr;
    std::ostringstream out, err;
    int code = runCommand(options, args, out, err);
    if (rc != nullptr) *rc = code;
    if (problems != nullptr) *problems = err.str();
    std::string text = trimmed(out.str());
    return text.empty() ? "null" : text;
}

int runConsole(const std::string& program, const Options& options, const Args& args, std::string& out,
               std::string& err, int realMilliseconds, size_t mostBytes) {
    out.clear();
    err.clear();
    std::vector<std::string> words{program, "--root", options.root, "--json"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int toOut[2], toErr[2];
    if (pipe2(toOut, O_CLOEXEC) != 0) return -1;
    if (pipe2(toErr, O_CLOEXEC) != 0) {
        close(toOut[0]);
        close(toOut[1]);
        return -1;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Ends with the server, however the server ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null >= 0) dup2(null, 0);
        dup2(toOut[1], 1);
        dup2(toErr[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(toOut[1]);
    close(toErr[1]);
    if (pid < 0) {
        close(toOut[0]);
        close(toErr[0]);
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    pollfd fds[2] = {{toOut[0], POLLIN, 0}, {toErr[0], POLLIN, 0}};
    std::string* into[2] = {&out, &err};
    int open = 2;
    bool late = false;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            late = true;
            break;
        }
        int rc = poll(fds, 2, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[8192];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                if (into[i]->size() < mostBytes)
                    into[i]->append(buffer, std::min(static_cast<size_t>(got), mostBytes - into[i]->size()));
                continue;
            }
            close(fds[i].fd);
            fds[i].fd = -1;
            --open;
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    if (late) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (late || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string snapshotJson(const Options& options) {
    std::string s = "{";
    auto add = [&](const char* key, const std::string& value) {
        s += std::string(s.size() > 1 ? "," : "") + jsonString(key) + ":" + value;
    };
    add("root", jsonString(options.root));
    add("screen", "{\"width\":" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) +
                      ",\"height\":" + std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "}");
    add("status", commandJson(options, {"status"}));
    add("focus", commandJson(options, {"focus"}));
    add("text", commandJson(options, {"text"}));
    add("lights", lightsJson());
    add("vibrator", commandJson(options, {"vibrator"}));
    add("sounds", soundsJson());
    add("msgbox", commandJson(options, {"msgbox"}));
    add("tray", commandJson(options, {"tray"}));
    add("windows", commandJson(options, {"windows"}));
    add("inView", commandJson(options, {"in-view"}));
    std::string peers = "[";
    for (int port : peerPorts(options))
        peers += std::string(peers.size() > 1 ? "," : "") + "{\"port\":\"COM" + std::to_string(port) +
                 "\",\"stream\":" + framesJson(options, peerBytes(options, port)) + "}";
    add("peers", peers + "]");
    std::string devices = "[";
    for (const auto& d : terminal::remoteDevices()) {
        char address[16];
        std::snprintf(address, sizeof address, "%012llX", static_cast<unsigned long long>(d.address));
        devices += std::string(devices.size() > 1 ? "," : "") + "{\"address\":\"" + address +
                   "\",\"name\":" + jsonString(d.name) + ",\"answers\":" + (d.answers ? "true" : "false") +
                   ",\"stream\":" + framesJson(options, terminal::remoteReceived(d.address)) + "}";
    }
    add("bluetooth", devices + "]");
    add("trace", traceJson(options));
    return s + "}";
}

}  // namespace console::serve
