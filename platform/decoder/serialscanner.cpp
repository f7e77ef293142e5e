#include "platform/decoder/serialscanner.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/host/terminal.h"
#include "scan/aimids.h"

namespace serialscanner {

namespace {

constexpr int kQueued = 8;
constexpr int64_t kNsPerMs = 1000000;

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Queued {
    int64_t arrived;
    Line line;
};

struct Scanner {
    std::mutex mutex;
    Queued queue[kQueued];
    int count = 0;
    int readers = 0;
    int64_t lastReadEnd = 0;
};

Scanner& scanner() {
    static Scanner* s = new Scanner;  // outlives the reader thread at exit
    return *s;
}

enum End { EndAny, EndCr, EndLf, EndCrLf };

End endOf(const std::string& word) {
    if (word == "cr") return EndCr;
    if (word == "lf") return EndLf;
    if (word == "crlf") return EndCrLf;
    return EndAny;
}

// A line as it came, into the queue when something reads (or just did).
void arrived(const uint8_t* bytes, size_t length) {
    if (length == 0) return;
    Line line{};
    line.letter = line.second = line.third = 0;
    size_t from = 0;
    if (length >= 3 && bytes[0] == ']') {
        const Symbology* s = symbologyByAim(static_cast<char>(bytes[1]), static_cast<char>(bytes[2]));
        line.letter = s ? s->letter : 0;
        from = 3;
    }
    size_t n = length - from < static_cast<size_t>(kLineBytes) ? length - from : kLineBytes;
    std::memcpy(line.data, bytes + from, n);
    line.length = static_cast<uint32_t>(n);
    Scanner& s = scanner();
    std::lock_guard<std::mutex> guard(s.mutex);
    int64_t at = nowNs();
    if (s.readers == 0 && at - s.lastReadEnd > kReadGapMs * kNsPerMs) {
        std::fprintf(stderr, "Decoder: a scanner line came while nothing read; dropped\n");
        return;
    }
    if (s.count == kQueued) {
        std::memmove(&s.queue[0], &s.queue[1], sizeof(Queued) * (kQueued - 1));
        --s.count;
    }
    s.queue[s.count].arrived = at;
    s.queue[s.count].line = line;
    ++s.count;
}

int openTty(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    tcflush(fd, TCIFLUSH);
    return fd;
}

// Reads the scanner's lines; reopens it (each second) when it goes away.
void readLines() {
    static uint8_t pending[kLineBytes + 2];
    size_t have = 0;
    bool lastCr = false;
    int fd = -1;
    std::string path;
    bool said = false;
    for (;;) {
        std::string wanted = terminal::config("scanner");
        if (fd >= 0 && wanted != path) {
            close(fd);
            fd = -1;
        }
        if (fd < 0) {
            path = wanted;
            fd = path.empty() ? -1 : openTty(path);
            if (fd < 0) {
                if (!said && !path.empty())
                    std::fprintf(stderr, "Decoder: cannot open the scanner %s: %s\n", path.c_str(), std::strerror(errno));
                said = true;
                usleep(1000000);
                continue;
            }
            said = false;
            have = 0;
        }
        End end = endOf(terminal::config("scanner.end"));
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 500) <= 0) continue;
        uint8_t buffer[512];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            close(fd);
            fd = -1;
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            uint8_t c = buffer[i];
            bool ends = (end == EndAny && (c == '\r' || c == '\n')) || (end == EndCr && c == '\r') ||
                        (end == EndLf && c == '\n') || (end == EndCrLf && c == '\n' && lastCr);
            lastCr = c == '\r';
            if (ends) {
                size_t length = have;
                if (end == EndCrLf && length > 0 && pending[length - 1] == '\r') --length;
                arrived(pending, length);
                have = 0;
            } else if (have < sizeof pending) {
                pending[have++] = c;
            }
        }
    }
}

}  // namespace

bool configured() {
    return !terminal::config("scanner").empty();
}

void listen() {
    if (!configured()) return;
    static std::once_flag started;
    std::call_once(started, [] { std::thread(readLines).detach(); });
}

Reading::Reading() : start_(nowNs()), active_(configured()) {
    if (!active_) return;
    listen();
    Scanner& s = scanner();
    std::lock_guard<std::mutex> guard(s.mutex);
    ++s.readers;
}

Reading::~Reading() {
    if (!active_) return;
    Scanner& s = scanner();
    std::lock_guard<std::mutex> guard(s.mutex);
    --s.readers;
    s.lastReadEnd = nowNs();
}

bool Reading::take(Line& out) {
    if (!active_) return false;
    Scanner& s = scanner();
    std::lock_guard<std::mutex> guard(s.mutex);
    // Lines older than this call's start less the gap came while nothing read.
    int stale = 0;
    while (stale < s.count && s.queue[stale].arrived < start_ - kReadGapMs * kNsPerMs) ++stale;
    if (stale > 0) {
        std::memmove(&s.queue[0], &s.queue[stale], sizeof(Queued) * static_cast<size_t>(s.count - stale));
        s.count -= stale;
    }
    if (s.count == 0) return false;
    out = s.queue[0].line;
    std::memmove(&s.queue[0], &s.queue[1], sizeof(Queued) * static_cast<size_t>(s.count - 1));
    --s.count;
    return true;
}

}  // namespace serialscanner
