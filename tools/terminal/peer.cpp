// Serial peers: a pseudo-terminal stands at the far end of a COM port. A
// small background process holds its master side, records every byte the
// wedge writes (<root>/.terminal/peers/COMn.bytes) and passes on what is
// queued for the wedge (COMn.in). The console reads the record back, raw or
// split into frames of the serial framings.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

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
#include "platform/host/terminal.h"

namespace console {

namespace fs = std::filesystem;

namespace {

const char kTaggedDecodeHeader[] = "DECRES2P\"9\"CID\"]Z9\"AID0INDREQ\x1D";
const char kTaggedCommandHeader[] = "MNUCMD2P0RSPREQ\"\"DEVNAME0CMDRSPREQ1INDREQ\x1D=AT:0;";

std::string peersDir(const Options& options) {
    return options.root + "/.terminal/peers";
}

std::string peerFile(const Options& options, int port, const char* suffix) {
    return peersDir(options) + "/COM" + std::to_string(port) + suffix;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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
                int out = open(record.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
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

}  // namespace

uint16_t crc16Xmodem(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

namespace {

bool startsWith(const std::string& s, size_t at, const std::string& prefix) {
    return s.size() >= at + prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

const std::string kXr1Start("\x01XR1\0\0\0\x01", 8);
const std::string kTaggedStart("\x16\xFE", 2);
const std::string kHeaderStart("\x01\x02", 2);

// Tagged record at `at`; returns its length (0 when none fits).
size_t tryTagged(const std::string& s, size_t at, Frame& f) {
    if (!startsWith(s, at, kTaggedStart) || s.size() < at + 7) return 0;
    uint32_t length = 0;
    for (int k = 3; k >= 0; --k) length = (length << 8) | static_cast<unsigned char>(s[at + 2 + k]);
    if (s[at + 6] != '\r' || length > s.size() - at - 7) return 0;
    f.framing = "tagged";
    f.length = static_cast<int>(length);
    f.bytes = s.substr(at, 7 + length);
    std::string payload = s.substr(at + 7, length);
    const std::string decode(kTaggedDecodeHeader), command(kTaggedCommandHeader);
    if (startsWith(payload, 0, decode)) {
        f.kind = "decode";
        f.data = payload.substr(decode.size());
    } else if (startsWith(payload, 0, command)) {
        f.kind = "command";
        f.data = "~" + payload.substr(command.size());
    } else {
        f.kind = "unknown";
        f.data = payload;
    }
    return 7 + length;
}

// XR1 record at `at`: the data runs up to the CRC that matches.
size_t tryXr1(const std::string& s, size_t at, Frame& f) {
    if (!startsWith(s, at, kXr1Start) || s.size() < at + 17) return 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data()) + at;
    size_t available = s.size() - at;
    size_t lengthByte = bytes[14];
    auto crcAt = [&](size_t m) {
        uint16_t crc = crc16Xmodem(bytes, 15 + m);
        return bytes[15 + m] == (crc >> 8) && bytes[16 + m] == (crc & 0xFF);
    };
    auto endsWell = [&](size_t m) { return 17 + m == available || startsWith(s, at + 17 + m, kXr1Start); };
    size_t m = SIZE_MAX;
    // The length byte first, then every length that ends on a good CRC.
    if (lengthByte + 17 <= available && crcAt(lengthByte) && endsWell(lengthByte)) m = lengthByte;
    for (size_t k = 0; m == SIZE_MAX && k + 17 <= available; ++k)
        if (crcAt(k) && endsWell(k)) m = k;
    f.framing = "xr1";
    f.sequence = bytes[8];
    f.length = static_cast<int>(lengthByte);
    if (m == SIZE_MAX) {
        // No CRC fits: up to the next record, or the end.
        size_t next = s.find(kXr1Start, at + 1);
        size_t end = next == std::string::npos ? s.size() : next;
        f.bytes = s.substr(at, end - at);
        f.data = end - at >= 17 ? s.substr(at + 15, end - at - 17) : "";
        f.crc = "bad";
        return end - at;
    }
    f.bytes = s.substr(at, 17 + m);
    f.data = s.substr(at + 15, m);
    f.crc = "ok";
    return 17 + m;
}

size_t tryHeader(const std::string& s, size_t at, Frame& f) {
    if (!startsWith(s, at, kHeaderStart)) return 0;
    size_t next = s.find(kHeaderStart, at + 2);
    size_t end = next == std::string::npos ? s.size() : next;
    f.framing = "header";
    f.bytes = s.substr(at, end - at);
    f.data = s.substr(at + 2, end - at - 2);
    return end - at;
}

Frame makeFrame(const std::string& framing, const std::string& bytes) {
    Frame f;
    f.framing = framing;
    f.data = bytes;
    f.bytes = bytes;
    return f;
}

}  // namespace

std::vector<Frame> decodeStream(const std::string& bytes, const std::string& framing) {
    std::vector<Frame> frames;
    if (framing == "raw") {
        if (!bytes.empty()) frames.push_back(makeFrame("raw", bytes));
        return frames;
    }
    size_t at = 0;
    std::string pending;  // bytes that begin no frame
    auto flushPending = [&] {
        if (pending.empty()) return;
        frames.push_back(makeFrame(framing == "auto" ? "raw" : "unknown", pending));
        pending.clear();
    };
    while (at < bytes.size()) {
        Frame f;
        size_t used = 0;
        if (framing == "tagged" || framing == "auto") used = tryTagged(bytes, at, f);
        if (used == 0 && (framing == "xr1" || framing == "auto")) used = tryXr1(bytes, at, f);
        if (used == 0 && (framing == "header" || framing == "auto")) used = tryHeader(bytes, at, f);
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

namespace {

bool knownFraming(const std::string& f) {
    return f == "auto" || f == "raw" || f == "header" || f == "tagged" || f == "xr1";
}

// "1".."3" as in ConnectingTo, or the framing's name.
std::string framingName(const std::string& f) {
    if (f == "1" || f == "0") return "tagged";
    if (f == "2") return "xr1";
    if (f == "3") return "header";
    return f;
}

int printFrames(const Options& options, const std::string& bytes, const Args& args, size_t first, std::ostream& out,
                std::ostream& err) {
    std::string framing = "auto";
    bool dataOnly = false, hexOnly = false;
    for (size_t i = first; i < args.size(); ++i) {
        if (args[i] == "--framing" && i + 1 < args.size()) {
            framing = framingName(args[++i]);
        } else if (args[i] == "--data") {
            dataOnly = true;
        } else if (args[i] == "--hex") {
            hexOnly = true;
        } else {
            err << "unknown option " << args[i] << " (see --help)\n";
            return kUsage;
        }
    }
    if (!knownFraming(framing)) {
        err << "unknown framing " << framing << " (auto, raw, header, tagged, xr1)\n";
        return kUsage;
    }
    if (hexOnly) {
        out << hex(bytes) << "\n";
        return kOk;
    }
    std::vector<Frame> frames = decodeStream(bytes, framing);
    if (dataOnly && !options.json) {
        for (const Frame& f : frames) out << escape(f.data, false) << "\n";
        return kOk;
    }
    std::vector<Record> records;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        Record r{{"frame", std::to_string(i + 1)}, {"framing", f.framing}};
        if (!f.kind.empty()) r.emplace_back("kind", f.kind);
        if (f.sequence >= 0) r.emplace_back("sequence", std::to_string(f.sequence));
        if (f.length >= 0) r.emplace_back("length", std::to_string(f.length));
        if (!f.crc.empty()) r.emplace_back("crc", f.crc);
        r.emplace_back("data", f.data);
        r.emplace_back("hex", hex(f.bytes));
        records.push_back(r);
    }
    printRecords(options, records, out);
    return kOk;
}

}  // namespace

int peerOpen(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (args.size() != 2 || !parsePort(args[1], port)) {
        err << "usage: peer-open COMn\n";
        return kUsage;
    }
    fs::create_directories(peersDir(options));
    std::string pidFile = peerFile(options, port, ".pid");
    if (alive(readPid(pidFile))) {
        out << "COM" << port << "\t" << terminal::portPath(port) << "\talready open\n";
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
    out << "COM" << port << "\t" << slavePath << "\n";
    return kOk;
}

int peerClose(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (args.size() != 2 || !parsePort(args[1], port)) {
        err << "usage: peer-close COMn\n";
        return kUsage;
    }
    std::string pidFile = peerFile(options, port, ".pid");
    int pid = readPid(pidFile);
    unlink(pidFile.c_str());
    if (alive(pid)) kill(pid, SIGTERM);
    unlink(peerFile(options, port, ".in").c_str());
    out << "COM" << port << "\tclosed\n";
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
    if (args.size() < 2 || !parsePort(args[1], port)) {
        err << "usage: peer COMn [--framing auto|raw|header|tagged|xr1] [--data] [--hex]\n";
        return kUsage;
    }
    std::string record = peerFile(options, port, ".bytes");
    // Without a peer of the console's, the terminal's own log of the port.
    if (!fs::exists(record)) record = options.root + "/.terminal/log/COM" + std::to_string(port) + ".out";
    if (!fs::exists(record)) {
        err << "COM" << port << " has no peer (open one with peer-open COM" << port << ")\n";
        return kFailed;
    }
    return printFrames(options, readFile(record), args, 2, out, err);
}

int peerClear(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (args.size() != 2 || !parsePort(args[1], port)) {
        err << "usage: peer-clear COMn\n";
        return kUsage;
    }
    std::ofstream(peerFile(options, port, ".bytes"), std::ios::trunc).close();
    return kOk;
}

int peerSend(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    int port = 0;
    if (args.size() != 3 || !parsePort(args[1], port)) {
        err << "usage: peer-send COMn DATA\n";
        return kUsage;
    }
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
        err << "usage: decode HEX|--text DATA [--framing F] [--data]\n";
        return kUsage;
    }
    std::string bytes;
    size_t first = 2;
    if (args[1] == "--text") {
        if (args.size() < 3) {
            err << "usage: decode --text DATA [--framing F]\n";
            return kUsage;
        }
        bytes = args[2];
        first = 3;
    } else {
        std::string digits;
        for (char c : args[1])
            if (c != ' ' && c != ':' && c != ',') digits += c;
        if (digits.size() % 2 != 0) {
            err << "odd number of hex digits in " << args[1] << "\n";
            return kUsage;
        }
        for (size_t i = 0; i < digits.size(); i += 2) {
            char* end = nullptr;
            std::string pair = digits.substr(i, 2);
            long v = std::strtol(pair.c_str(), &end, 16);
            if (end != pair.c_str() + 2) {
                err << "not a hex byte: " << pair << "\n";
                return kUsage;
            }
            bytes += static_cast<char>(v);
        }
    }
    return printFrames(options, bytes, args, first, out, err);
}

}  // namespace console
