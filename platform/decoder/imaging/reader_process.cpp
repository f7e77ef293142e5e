#include "platform/decoder/imaging/reader_process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

#ifndef KEYVANE_READER_BUILD_PATH
#define KEYVANE_READER_BUILD_PATH ""
#endif

namespace scanimage {

namespace {

constexpr const char* kReaderName = "keyvane-reader";
constexpr size_t kMemoryStep = 1u << 20;

using Clock = std::chrono::steady_clock;

// The one reader process of this process, and the frame memory it shares.
struct Reader {
    std::mutex lock;
    pid_t pid = 0;
    int socket = -1;
    int memory = -1;
    uint8_t* pixels = nullptr;
    size_t capacity = 0;
    uint32_t sequence = 0;
};

// Never destroyed: the end of the process stops the reader after every
// static object is gone.
Reader& reader() {
    static Reader* r = new Reader;
    return *r;
}

bool executable(const std::string& path) {
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

std::string readerProgram() {
    if (const char* env = std::getenv("KEYVANE_READER"); env != nullptr && env[0] != 0) return env;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&readerProcess), &info) != 0 && info.dli_fname != nullptr) {
        std::string module = info.dli_fname;
        size_t slash = module.rfind('/');
        std::string beside = (slash == std::string::npos ? std::string(".") : module.substr(0, slash)) + "/" + kReaderName;
        if (executable(beside)) return beside;
    }
    // A program found through the search path names no folder: its own file.
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = 0;
        std::string exe = self;
        std::string beside = exe.substr(0, exe.rfind('/')) + "/" + kReaderName;
        if (executable(beside)) return beside;
    }
    return KEYVANE_READER_BUILD_PATH;
}

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Ends the reader (it may be in the middle of a frame) and reaps it; `why`
// (when given) goes to the log with how the reader ended by itself.
void stopLocked(Reader& r, const char* why, bool ending = false) {
    closeFd(r.socket);
    if (r.pid > 0) {
        int status = 0;
        pid_t done = waitpid(r.pid, &status, WNOHANG);
        // A reader whose socket closed is on its way out: a moment to finish.
        for (int i = 0; ending && done == 0 && i < 200; ++i) {
            usleep(1000);
            done = waitpid(r.pid, &status, WNOHANG);
        }
        bool ended = done == r.pid;
        if (done == 0) {
            kill(r.pid, SIGKILL);
            while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (why != nullptr) {
            if (ended && WIFSIGNALED(status))
                std::fprintf(stderr, "Decoder: the image reader %s (signal %d)\n", why, WTERMSIG(status));
            else
                std::fprintf(stderr, "Decoder: the image reader %s\n", why);
        }
    }
    r.pid = 0;
}

bool growMemory(Reader& r, size_t bytes) {
    if (bytes <= r.capacity) return true;
    size_t capacity = (bytes + kMemoryStep - 1) / kMemoryStep * kMemoryStep;
    if (ftruncate(r.memory, static_cast<off_t>(capacity)) != 0) return false;
    void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, r.memory, 0);
    if (p == MAP_FAILED) return false;
    if (r.pixels != nullptr) munmap(r.pixels, r.capacity);
    r.pixels = static_cast<uint8_t*>(p);
    r.capacity = capacity;
    return true;
}

bool startLocked(Reader& r) {
    if (r.memory < 0) {
        r.memory = memfd_create("keyvane-frame", MFD_CLOEXEC);
        if (r.memory < 0) return false;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    // Kept clear of the numbers they get in the reader, so that every dup2
    // below really copies (and so drops close-on-exec).
    int theirs = fcntl(pair[1], F_DUPFD_CLOEXEC, 10);
    int memory = fcntl(r.memory, F_DUPFD_CLOEXEC, 10);
    close(pair[1]);
    std::string program = readerProgram();
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, theirs, wire::kSocketFd);
    posix_spawn_file_actions_adddup2(&actions, memory, wire::kMemoryFd);
    // The reader starts with no signal blocked or ignored, whatever this
    // process does with them.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* argv[] = {const_cast<char*>(kReaderName), nullptr};
    pid_t pid = 0;
    int rc = theirs >= 0 && memory >= 0 && !program.empty()
                 ? posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ)
                 : ENOENT;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (theirs >= 0) close(theirs);
    if (memory >= 0) close(memory);
    if (rc != 0) {
        close(pair[0]);
        std::fprintf(stderr, "Decoder: cannot start the image reader %s: %s\n",
                     program.empty() ? kReaderName : program.c_str(), std::strerror(rc));
        return false;
    }
    r.pid = pid;
    r.socket = pair[0];
    return true;
}

enum class Got { All, Closed, Stopped, TooLong };

// Reads exactly `length` bytes, waiting as `wait` allows.
Got receiveAll(int fd, void* data, size_t length, const ReaderWait& wait, Clock::time_point deadline) {
    char* p = static_cast<char*>(data);
    while (length > 0) {
        ssize_t n = recv(fd, p, length, MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return Got::Closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Got::Closed;
        auto now = Clock::now();
        if (now >= deadline) return Got::TooLong;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left < kWaitSliceMs ? left : kWaitSliceMs));
        if (ready == 0 && wait.keepWaiting != nullptr && !wait.keepWaiting(wait.context)) return Got::Stopped;
    }
    return Got::All;
}

bool validSymbol(const wire::AnsweredSymbol& s, int width, int height) {
    int count = 0;
    const FormatInfo* all = formats(count);
    bool known = false;
    for (int i = 0; i < count; ++i) known = known || (all[i].letter == s.letter && all[i].symbologyId == s.symbologyId);
    // The corners of a barcode seen partly may lie a little outside.
    return known && s.length <= wire::kMaxSymbolBytes && s.left <= s.right && s.top <= s.bottom &&
           s.left > -width && s.right < 2 * width && s.top > -height && s.bottom < 2 * height;
}

}  // namespace

bool wire::sendAll(int fd, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

const char* readerOutcomeText(ReaderOutcome outcome) {
    switch (outcome) {
        case ReaderOutcome::Read:
            return "read";
        case ReaderOutcome::Unavailable:
            return "reader unavailable";
        case ReaderOutcome::Died:
            return "reader ended";
        case ReaderOutcome::GaveUp:
            return "given up";
        case ReaderOutcome::BadAnswer:
            return "bad answer";
    }
    return "?";
}

int readSymbolsApart(const GrayImage& image, const ReadRequest& request, Symbol* out, int capacity,
                     const ReaderWait& wait, ReaderOutcome* outcome) {
    ReaderOutcome ignored;
    ReaderOutcome& result = outcome != nullptr ? *outcome : ignored;
    result = ReaderOutcome::Read;
    if (out == nullptr || capacity <= 0 || image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < static_cast<size_t>(image.width) * image.height)
        return 0;
    size_t bytes = static_cast<size_t>(image.width) * image.height;
    auto deadline = Clock::now() + std::chrono::milliseconds(wait.limitMs);
    Reader& r = reader();
    std::lock_guard<std::mutex> lock(r.lock);
    if (r.pid > 0 && waitpid(r.pid, nullptr, WNOHANG) == r.pid) {
        // Ended between frames: started again for this one.
        r.pid = 0;
        closeFd(r.socket);
    }
    if (r.pid == 0 && !startLocked(r)) {
        result = ReaderOutcome::Unavailable;
        return 0;
    }
    if (!growMemory(r, bytes)) {
        result = ReaderOutcome::Unavailable;
        return 0;
    }
    std::memcpy(r.pixels, image.pixels.data(), bytes);
    wire::Request q{};
    q.magic = wire::kRequestMagic;
    q.sequence = ++r.sequence;
    q.width = image.width;
    q.height = image.height;
    q.read = request;
    if (!wire::sendAll(r.socket, &q, sizeof q)) {
        stopLocked(r, "ended before a frame", true);
        result = ReaderOutcome::Died;
        return 0;
    }
    // Whatever went wrong, the reader is stopped: a frame it still works on
    // would answer the next request.
    auto fail = [&](Got got) {
        switch (got) {
            case Got::Closed:
                result = ReaderOutcome::Died;
                stopLocked(r, "ended while reading a frame", true);
                break;
            case Got::Stopped:
                result = ReaderOutcome::GaveUp;
                stopLocked(r, nullptr);
                break;
            case Got::TooLong:
                result = ReaderOutcome::GaveUp;
                stopLocked(r, "took too long on a frame and was stopped");
                break;
            case Got::All:
                result = ReaderOutcome::BadAnswer;
                stopLocked(r, "gave a bad answer and was stopped");
                break;
        }
        return 0;
    };
    wire::Answer a{};
    Got got = receiveAll(r.socket, &a, sizeof a, wait, deadline);
    if (got != Got::All) return fail(got);
    if (a.magic != wire::kAnswerMagic || a.sequence != q.sequence || a.count < 0 || a.count > kMaxSymbols)
        return fail(Got::All);
    int stored = 0;
    std::string data;
    for (int i = 0; i < a.count; ++i) {
        wire::AnsweredSymbol s{};
        if ((got = receiveAll(r.socket, &s, sizeof s, wait, deadline)) != Got::All) return fail(got);
        if (!validSymbol(s, image.width, image.height)) return fail(Got::All);
        data.resize(s.length);
        if (s.length > 0 && (got = receiveAll(r.socket, data.data(), s.length, wait, deadline)) != Got::All)
            return fail(got);
        if (stored >= capacity) continue;
        Symbol& o = out[stored++];
        o.bytes = data;
        o.letter = s.letter;
        o.second = s.second;
        o.third = s.third;
        o.symbologyId = s.symbologyId;
        o.left = s.left;
        o.top = s.top;
        o.right = s.right;
        o.bottom = s.bottom;
    }
    return stored;
}

void stopReader() {
    Reader& r = reader();
    std::lock_guard<std::mutex> lock(r.lock);
    stopLocked(r, nullptr);
}

// A process that ends by returning from main or calling exit() takes its
// reader along; one that is killed leaves it to notice the closed socket.
__attribute__((destructor)) static void stopReaderAtExit() {
    Reader& r = reader();
    // A thread still reading a frame keeps it; the reader ends on its own.
    if (!r.lock.try_lock()) return;
    stopLocked(r, nullptr);
    r.lock.unlock();
}

pid_t readerProcess() {
    Reader& r = reader();
    std::lock_guard<std::mutex> lock(r.lock);
    return r.pid;
}

}  // namespace scanimage
