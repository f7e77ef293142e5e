// Serial peers: a pseudo-terminal stands at the far end of a COM port. A
// small background process holds its master side, records every byte the
// wedge writes (<root>/.terminal/peers/COMn.bytes) and passes on what is
// queued for the wedge (COMn.in). The console reads the record back, raw or
// split into frames of the serial framings with the wedge's own frame reader
// (output/framing.h).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "console.h"
#include "output/framing.h"
#include "platform/host/terminal.h"

namespace console {

namespace fs = std::filesystem;

namespace {

std::string peersDir(const Options& options) {
    return options.root + "/.terminal/peers";
}

std::string peerFile(const Options& options, int port, const char* suffix) {
    return peersDir(options) + "/COM" + std::to_string(port) + suffix;
}

// "COM3", "COM3:", "3" -> 3.
bool parsePort(const std::string& text, int& port) {
    std::string t = text;
    if (t.size() >= 3 && (t[0] == 'C' || t[0] == 'c') && (t[1] == 'O' || t[1] == 'o') && (t[2] == 'M' || t[2] == 'm'))
        t = t.substr(3);
    if (!t.empty() && t.back() == ':') t.pop_back();
    long long n = 0;
    if (!parseInt(t, n) || n < 0 || n > 99) return false;
    port = static_cast<int>(n);
    return true;
}

int readPid(const std::string& path) {
    std::ifstream in(path);
    int pid = 0;
    in >> pid;
    return pid;
}

bool alive(int pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// The background process: copies the master's bytes to the record and the
// queue's bytes to the master, until it is told to stop or its pid file goes.
[[noreturn]] void peerLoop(int master, const std::string& record, const std::string& queue,
                           const std::string& pidFile) {
    int pid = getpid();
    int queueFd = open(queue.c_str(), O_RDONLY | O_NONBLOCK);
    auto lastCheck = std::chrono::steady_clock::now();
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {queueFd, POLLIN, 0}};
        int n = poll(fds, queueFd >= 0 ? 2 : 1, 200);
        if (n > 0 && (fds[0].revents & POLLIN)) {
            char buffer[4096];
            ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) {
                int out = open(record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0600);
                if (out >= 0) {
                    ssize_t w = write(out, buffer, static_cast<size_t>(got));
                    (void)w;
                    close(out);
                }
            }
        }
        if (n > 0 && queueFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buffer[4096];
            ssize_t got = read(queueFd, buffer, sizeof buffer);
            if (got > 0) {
                ssize_t w = write(master, buffer, static_cast<size_t>(got));
                (void)w;
            } else if (got == 0) {
                // Every writer left: reopen to wait for the next one.
                close(queueFd);
                queueFd = open(queue.c_str(), O_RDONLY | O_NONBLOCK);
            }
        }
        auto now = std::chrono::steady_clock::now();
        if (now - lastCheck > std::chrono::milliseconds(300)) {
            lastCheck = now;
            if (readPid(pidFile) != pid) _exit(0);
        }
    }
}

// One frame of `framing` at `at` (the wedge's own reader); 0 when none begins there.
size_t frameAt(const std::string& s, size_t at, SerialFraming framing, Frame& f) {
    ParsedFrame parsed;
    size_t used = parseFrame(framing, reinterpret_cast<const unsigned char*>(s.data()) + at, s.size() - at, &parsed);
    if (used == 0) return 0;
    f.framing = framingName(framing);
    f.bytes = s.substr(at, used);
    f.data = f.bytes.substr(parsed.dataAt, parsed.dataBytes);
    f.sequence = parsed.sequence;
    f.length = static_cast<int>(parsed.lengthField);
    if (parsed.crcGood >= 0) f.crc = parsed.crcGood ? "ok" : "bad";
    if (parsed.kind == TaggedDecodeResult) f.kind = "decode";
    if (parsed.kind == TaggedCommand) {
        f.kind = "command";
        f.data = "~" + f.data;
    }
    if (parsed.kind == TaggedUnknown) f.kind = "unknown";
    return used;
}

Frame makeFrame(const std::string& framing, const std::string& bytes) {
    Frame f;
    f.framing = framing;
    f.data = bytes;
    f.bytes = bytes;
    return f;
}

// The framing a name gives; false for "auto" or a name of none.
bool framingNamed(const std::string& name, SerialFraming& framing) {
    for (const FramingInfo& info : kFramings) {
        if (name == info.name) {
            framing = info.framing;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<Frame> decodeStream(const std::string& bytes, const std::string& framing) {
    std::vector<Frame> frames;
    SerialFraming only = FramingRaw;
    bool named = framingNamed(framing, only);
    if (named && only == FramingRaw) {
        if (!bytes.empty()) frames.push_back(makeFrame("raw", bytes));
        return frames;
    }
    size_t at = 0;
    std::string pending;  // bytes that begin no frame
    auto flushPending = [&] {
        if (pending.empty()) return;
        frames.push_back(makeFrame(named ? "unknown" : "raw", pending));
        pending.clear();
    };
    while (at < bytes.size()) {
        Frame f;
        size_t used = 0;
        // "auto" tries every framing that has bounds, in the order of the list.
        for (const FramingInfo& info : kFramings) {
            if (used != 0 || info.framing == FramingRaw || (named && info.framing != only)) continue;
            used = frameAt(bytes, at, info.framing, f);
        }
        if (used == 0) {
            pending += bytes[at++];
            continue;
        }
        flushPending();
        frames.push_back(f);
        at += used;
    }
    flushPending();
    return frames;
}

Record frameRecord(const Frame& f, size_t number) {
    Record r{{"frame", number}, {"framing", f.framing}};
    if (!f.kind.empty()) r.emplace_back("kind", f.kind);
    if (f.sequence >= 0) r.emplace_back("sequence", f.sequence);
    if (f.length >= 0) r.emplace_back("length", f.length);
    if (!f.crc.empty()) r.emplace_back("crc", f.crc);
    r.emplace_back("data", f.data);
    r.emplace_back("hex", hex(f.bytes));
    return r;
}

namespace {

bool knownFraming(const std::string& f) {
    SerialFraming framing;
    return f == "auto" || framingNamed(f, framing);
}

// A ConnectingTo value 1..n names its framing ("0" too, for tagged, as
// before), any other word is taken as a name.
std::string framingArgument(const std::string& f) {
    if (f == "0") return framingName(FramingTagged);
    if (f.size() == 1 && f[0] > '0' && f[0] - '0' <= kNamedFramingCount) return framingName(framingOf(f[0] - '0'));
    return f;
}

}  // namespace

int printFrames(const Options& options, const std::string& bytes, const Args& args, size_t first, std::ostream& out,
                std::ostream& err) {
    std::string framing = "auto";
    bool dataOnly = false, hexOnly = false;
    std::vector<OptionGiven> given;
    Args rest;
    if (int rc = readOptions(args[0], args, first, {0, nullptr, "unknown option ", nullptr}, given, rest, err); rc != kOk)
        return rc;
    for (const OptionGiven& o : given) {
        if (o.is("--framing")) framing = framingArgument(o.text);
        dataOnly = dataOnly || o.is("--data");
        hexOnly = hexOnly || o.is("--hex");
    }
    if (!knownFraming(framing)) {
        return usage(args[0], err, "unknown framing " + framing + " (auto, raw, header, tagged, xr1)");
    }
    if (hexOnly) {
        printRecord(options, {Field::word("hex", hex(bytes))}, out);
        return kOk;
    }
    std::vector<Frame> frames = decodeStream(bytes, framing);
    if (dataOnly && !options.json) {
        for (const Frame& f : frames) out << escape(f.data, false) << "\n";
        return kOk;
    }
    std::vector<Record> records;
    for (size_t i = 0; i < frames.size(); ++i) records.push_back(frameRecord(frames[i], i + 1));
    printRecords(options, records, out);
    return kOk;
}

namespace {

// The port the command's first argument names.
int portArgument(const Args& args, int& port, std::ostream& err) {
    if (args.size() < 2) return usage(args[0], err, "which port? (COM0..COM99, e.g. COM3)");
    if (!parsePort(args[1], port)) return usage(args[0], err, "no port " + args[1] + " (COM0..COM99, e.g. COM3)");
    return kOk;
}

}  // namespace

int peerOpen(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (int rc = portArgument(args, port, err); rc != kOk) return rc;
    if (args.size() != 2) return usage(args[0], err, "one port only");
    fs::create_directories(peersDir(options));
    std::string pidFile = peerFile(options, port, ".pid");
    if (alive(readPid(pidFile))) {
        printRecord(options,
                    {Field::word("port", "COM" + std::to_string(port)), Field::word("device", terminal::portPath(port)),
                     Field::word("state", "already open")},
                    out);
        return kOk;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        err << "cannot create a pseudo-terminal: " << std::strerror(errno) << "\n";
        return kFailed;
    }
    std::string slavePath = ptsname(master);
    // Raw bytes both ways; the daemon keeps the slave open so that the
    // master never reads end-of-file between the wedge's opens.
    int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    std::string record = peerFile(options, port, ".bytes");
    std::string queue = peerFile(options, port, ".in");
    std::ofstream(record, std::ios::trunc).close();
    unlink(queue.c_str());
    mkfifo(queue.c_str(), 0644);
    pid_t pid = fork();
    if (pid < 0) {
        err << "cannot start the peer: " << std::strerror(errno) << "\n";
        return kFailed;
    }
    if (pid == 0) {
        setsid();
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2) close(null);
        }
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != master && fd != slave) close(fd);
        // The pid file names this process; its removal ends it.
        for (int i = 0; i < 100 && readPid(pidFile) != getpid(); ++i) usleep(10000);
        peerLoop(master, record, queue, pidFile);
    }
    close(master);
    if (slave >= 0) close(slave);
    {
        std::ofstream p(pidFile, std::ios::trunc);
        p << pid << "\n";
    }
    terminal::setPortPath(port, slavePath);
    printRecord(options, {Field::word("port", "COM" + std::to_string(port)), Field::word("device", slavePath)}, out);
    return kOk;
}

int peerClose(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (int rc = portArgument(args, port, err); rc != kOk) return rc;
    if (args.size() != 2) return usage(args[0], err, "one port only");
    std::string pidFile = peerFile(options, port, ".pid");
    int pid = readPid(pidFile);
    unlink(pidFile.c_str());
    if (alive(pid)) kill(pid, SIGTERM);
    unlink(peerFile(options, port, ".in").c_str());
    printRecord(options, {Field::word("port", "COM" + std::to_string(port)), Field::word("state", "closed")}, out);
    return kOk;
}

void closeAllPeers(const Options& options) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(peersDir(options), ec)) {
        if (entry.path().extension() != ".pid") continue;
        int pid = readPid(entry.path().string());
        fs::remove(entry.path(), ec);
        if (alive(pid)) kill(pid, SIGTERM);
    }
}

int peerShow(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (int rc = portArgument(args, port, err); rc != kOk) return rc;
    std::string record = peerFile(options, port, ".bytes");
    // Without a peer of the console's, the terminal's own log of the port.
    if (!fs::exists(record)) record = options.root + "/.terminal/log/COM" + std::to_string(port) + ".out";
    if (!fs::exists(record)) {
        err << "COM" << port << " has no peer (open one with peer-open COM" << port << ")\n";
        return kFailed;
    }
    std::string bytes;
    readHostFile(record, bytes);  // no record yet: nothing arrived
    return printFrames(options, bytes, args, 2, out, err);
}

int peerClear(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (int rc = portArgument(args, port, err); rc != kOk) return rc;
    if (args.size() != 2) return usage(args[0], err, "one port only");
    std::ofstream(peerFile(options, port, ".bytes"), std::ios::trunc).close();
    return kOk;
}

int peerSend(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (int rc = portArgument(args, port, err); rc != kOk) return rc;
    if (args.size() != 3) return usage(args[0], err, "the port and the data, as two arguments");
    if (!alive(readPid(peerFile(options, port, ".pid")))) {
        err << "COM" << port << " has no peer (open one with peer-open COM" << port << ")\n";
        return kFailed;
    }
    int fd = open(peerFile(options, port, ".in").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        err << "cannot reach the peer of COM" << port << ": " << std::strerror(errno) << "\n";
        return kFailed;
    }
    ssize_t w = write(fd, args[2].data(), args[2].size());
    close(fd);
    if (w != static_cast<ssize_t>(args[2].size())) {
        err << "the peer took " << w << " of " << args[2].size() << " bytes\n";
        return kFailed;
    }
    return kOk;
}

int decodeFrames(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() < 2) {
        return usage(args[0], err, "the bytes in hex, or --text DATA");
    }
    std::string bytes;
    size_t first = 2;
    if (args[1] == "--text") {
        if (args.size() < 3) {
            return usage(args[0], err, "--text needs the data");
        }
        bytes = args[2];
        first = 3;
    } else {
        std::string digits;
        for (char c : args[1])
            if (c != ' ' && c != ':' && c != ',') digits += c;
        if (digits.size() % 2 != 0) {
            return usage(args[0], err, "odd number of hex digits in " + args[1]);
        }
        for (size_t i = 0; i < digits.size(); i += 2) {
            char* end = nullptr;
            std::string pair = digits.substr(i, 2);
            long v = std::strtol(pair.c_str(), &end, 16);
            if (end != pair.c_str() + 2) {
                return usage(args[0], err, "not a hex byte: " + pair);
            }
            bytes += static_cast<char>(v);
        }
    }
    if (first == 3) {
        // Text that begins no frame of the framing named is the data a
        // delivery hands over: shown framed as the wedge first frames it
        // after the port opens.
        std::string framing;
        for (size_t i = first; i + 1 < args.size(); ++i)
            if (args[i] == "--framing") framing = framingArgument(args[i + 1]);
        SerialFraming named = FramingRaw;
        if (framingNamed(framing, named) && named != FramingRaw) {
            std::vector<Frame> frames = decodeStream(bytes, framing);
            bool none = std::all_of(frames.begin(), frames.end(), [](const Frame& f) { return f.framing == "unknown"; });
            if (none && !bytes.empty()) {
                unsigned char frame[kFrameBytes];
                restartFrameSequence();
                size_t n = buildFrame(named, bytes.data(), static_cast<int>(bytes.size()), frame);
                bytes.assign(reinterpret_cast<const char*>(frame), n);
            }
        }
    }
    return printFrames(options, bytes, args, first, out, err);
}

}  // namespace console
