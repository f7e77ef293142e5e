// Serial ports of the host terminal. "COMn:" opens, in this order:
//   - the host path configured as "COMn = <path>" (a tty or a pseudo-terminal
//     slave), set raw 8-bit; "COMn = none" means the terminal has no such port;
//   - the pseudo-terminal of a registered Bluetooth virtual port;
//   - otherwise an "auto" port: a pseudo-terminal made for this open, whose
//     slave path is published as configuration "COMn.peer" so that another
//     process (the console, a test, terminal::swipeCard for the card reader
//     on COM1) can talk to the far end; everything written to an auto port is
//     also appended to <root>/.terminal/log/COMn.out. Bytes nobody reads are
//     dropped, as on a wire with nothing attached.
// Fault injection: "COMn.failopens = k" refuses the next k opens of COMn
// (ERROR_SHARING_VIOLATION, as a port held by another program).
//
// Time-outs: with all read time-outs 0, or an interval of MAXDWORD with no
// totals, ReadFile returns what has arrived at once; with a total time-out it
// waits up to that long for the first byte and returns what has arrived.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"

namespace host {
void setFiveVolt(bool on);
}

namespace {

std::mutex& readHookLock() {
    static std::mutex lock;
    return lock;
}
std::function<void(int, uint32_t)>& readHook() {
    static std::function<void(int, uint32_t)> hook;
    return hook;
}

void afterRead(int index, DWORD got) {
    std::lock_guard<std::mutex> guard(readHookLock());
    if (readHook()) readHook()(index, got);
}

constexpr DWORD kPowerOnCode = 17;
constexpr DWORD kPowerOffCode = 18;
constexpr int kPowerPort = 4;
constexpr int kWriteStallRealMs = 2000;

std::string portKey(int index) {
    return "COM" + std::to_string(index);
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

class Port : public host::Object {
public:
    Port(int index, int fd, int autoSlave, std::string peerPath = std::string())
        : index_(index), fd_(fd), autoSlave_(autoSlave), peerPath_(std::move(peerPath)) {
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    ~Port() override {
        if (fd_ >= 0) ::close(fd_);
        if (autoSlave_ >= 0) ::close(autoSlave_);
        if (wake_ >= 0) ::close(wake_);
    }

    BOOL read(void* buffer, DWORD toRead, DWORD* read) override {
        DWORD got = 0;
        BOOL ok = readNow(buffer, toRead, &got);
        DWORD error = GetLastError();
        afterRead(index_, got);
        SetLastError(error);
        if (read != nullptr) *read = got;
        return ok;
    }

    BOOL readNow(void* buffer, DWORD toRead, DWORD* read) {
        *read = 0;
        if (closed_.load()) return fail(ERROR_INVALID_HANDLE);
        if (buffer == nullptr && toRead > 0) return fail(ERROR_INVALID_PARAMETER);
        COMMTIMEOUTS t = timeouts();
        int64_t total = static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * toRead + t.ReadTotalTimeoutConstant;
        if (t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutMultiplier == 0 &&
            t.ReadTotalTimeoutConstant == 0)
            total = 0;
        if (total > 0) {
            int readable = waitReadable(
                host::realMilliseconds(static_cast<DWORD>(total > 0x7FFFFFFF ? 0x7FFFFFFF : total)));
            if (readable < 0) return fail(closed_.load() ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE);
        }
        if (toRead == 0) return TRUE;
        ssize_t n = ::read(fd_, buffer, toRead);
        if (n > 0) {
            *read = static_cast<DWORD>(n);
            return TRUE;
        }
        // A raw tty answers an empty queue with EAGAIN; end of file means the far end hung up.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return fail(ERROR_GEN_FAILURE);
        return TRUE;  // nothing has arrived
    }

    BOOL write(const void* buffer, DWORD toWrite, DWORD* written) override {
        if (written != nullptr) *written = 0;
        if (closed_.load()) return fail(ERROR_INVALID_HANDLE);
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        std::lock_guard<std::mutex> guard(writeLock_);
        DWORD done = 0;
        while (done < toWrite) {
            ssize_t n = ::write(fd_, bytes + done, toWrite - done);
            if (n > 0) {
                done += static_cast<DWORD>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (autoSlave_ >= 0) {
                    tcflush(autoSlave_, TCIFLUSH);  // nobody reads the far end
                    continue;
                }
                pollfd p[2] = {{fd_, POLLOUT, 0}, {wake_, POLLIN, 0}};
                int r = poll(p, 2, kWriteStallRealMs);
                if (r <= 0 || (p[1].revents & POLLIN) || (p[0].revents & (POLLHUP | POLLERR))) break;
                continue;
            }
            break;  // EIO / EPIPE: the far end is gone
        }
        if (written != nullptr) *written = done;
        if (done > 0 && autoSlave_ >= 0) logOutput(bytes, done);
        if (done < toWrite) return fail(closed_.load() ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE);
        return TRUE;
    }

    BOOL ioControl(DWORD code, void*, DWORD, void*, DWORD, DWORD* returned) override {
        if (returned != nullptr) *returned = 0;
        if (index_ == kPowerPort && (code == kPowerOnCode || code == kPowerOffCode) &&
            terminal::config("power") == "port") {
            host::setFiveVolt(code == kPowerOnCode);
            return TRUE;
        }
        return fail(ERROR_NOT_SUPPORTED);
    }

    BOOL setCommMask(DWORD mask) override {
        mask_.store(mask);
        return TRUE;
    }

    // Blocks until characters arrive (with EV_RXCHAR in the mask) or the port
    // is closed by another thread; fails when closed or the far end is gone.
    BOOL waitCommEvent(DWORD* mask) override {
        if (mask != nullptr) *mask = 0;
        if (closed_.load()) return fail(ERROR_INVALID_HANDLE);
        int r = waitReadable(-1);
        if (r > 0) {
            if (mask != nullptr) *mask = EV_RXCHAR;
            return TRUE;
        }
        if (r == 0 || closed_.load()) return fail(ERROR_INVALID_HANDLE);
        usleep(10000);  // the far end hung up: do not let a caller spin
        return fail(ERROR_GEN_FAILURE);
    }

    BOOL getCommTimeouts(COMMTIMEOUTS* out) override {
        if (out == nullptr) return fail(ERROR_INVALID_PARAMETER);
        *out = timeouts();
        return TRUE;
    }

    BOOL setCommTimeouts(const COMMTIMEOUTS* in) override {
        if (in == nullptr) return fail(ERROR_INVALID_PARAMETER);
        std::lock_guard<std::mutex> guard(timeoutsLock_);
        timeouts_ = *in;
        return TRUE;
    }

    void close() override {
        closed_.store(true);
        // An auto port's far end goes with it.
        if (autoSlave_ >= 0 && !peerPath_.empty() && terminal::config(portKey(index_) + ".peer") == peerPath_)
            terminal::setConfig(portKey(index_) + ".peer", "");
        uint64_t one = 1;
        if (wake_ >= 0 && ::write(wake_, &one, sizeof one) < 0) {
        }
    }

private:
    static BOOL fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }

    COMMTIMEOUTS timeouts() {
        std::lock_guard<std::mutex> guard(timeoutsLock_);
        return timeouts_;
    }

    // 1 readable, 0 closed or time-out, -1 the far end hung up.
    int waitReadable(int64_t realMs) {
        bool wantChars = realMs >= 0 || (mask_.load() & EV_RXCHAR) != 0;
        pollfd p[2] = {{fd_, static_cast<short>(wantChars ? POLLIN : 0), 0}, {wake_, POLLIN, 0}};
        for (;;) {
            int r = poll(p, 2, realMs < 0 ? -1 : static_cast<int>(realMs > 0x7FFFFFFF ? 0x7FFFFFFF : realMs));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0 || (p[1].revents & POLLIN) || closed_.load()) return 0;
            if (p[0].revents & POLLIN) return 1;
            if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
            return 0;
        }
    }

    void logOutput(const unsigned char* bytes, DWORD count) {
        std::string path = host::logDir() + "/" + portKey(index_) + ".out";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return;
        if (::write(fd, bytes, count) < 0) {
        }
        ::close(fd);
    }

    int index_;
    int fd_;
    int autoSlave_;
    std::string peerPath_;
    int wake_ = -1;
    std::atomic<bool> closed_{false};
    std::atomic<DWORD> mask_{0};
    std::mutex writeLock_;
    std::mutex timeoutsLock_;
    COMMTIMEOUTS timeouts_{};
};

std::shared_ptr<host::Object> failOpen(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// Consumes one refusal of "COMn.failopens" when any is left.
bool refuseThisOpen(int index) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    std::string key = portKey(index) + ".failopens";
    std::string value = terminal::config(key);
    int left = value.empty() ? 0 : std::atoi(value.c_str());
    if (left <= 0) return false;
    terminal::setConfig(key, std::to_string(left - 1));
    return true;
}

std::shared_ptr<host::Object> openPath(int index, const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failOpen(errno == ENOENT ? ERROR_FILE_NOT_FOUND : host::errorFromErrno(errno));
    // A port is a terminal device (or a FIFO standing in for one): frames
    // written to an ordinary file would pile up in it.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        ::close(fd);
        std::fprintf(stderr, "[terminal] %s: %s is not a character device or FIFO; the port is not opened\n",
                     portKey(index).c_str(), path.c_str());
        return failOpen(ERROR_ACCESS_DENIED);
    }
    makeRaw(fd);
    return std::make_shared<Port>(index, fd, -1);
}

std::shared_ptr<host::Object> openAuto(int index) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) return failOpen(ERROR_GEN_FAILURE);
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return failOpen(ERROR_GEN_FAILURE);
    }
    // The port keeps the slave open itself so the far end may come and go.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return failOpen(ERROR_GEN_FAILURE);
    }
    makeRaw(slave);
    makeRaw(master);
    terminal::setConfig(portKey(index) + ".peer", name);
    return std::make_shared<Port>(index, master, slave, name);
}

}  // namespace

namespace host {

std::shared_ptr<host::Object> openPort(int index, DWORD access) {
    if (index < 0 || index > 9) return failOpen(ERROR_FILE_NOT_FOUND);
    if (refuseThisOpen(index)) return failOpen(ERROR_SHARING_VIOLATION);
    std::string path = terminal::portPath(index);
    if (path == "none") return failOpen(ERROR_FILE_NOT_FOUND);
    if (!path.empty()) return openPath(index, path);
    path = bluetoothPortPath(index);
    if (!path.empty()) return openPath(index, path);
    return openAuto(index);
}

}  // namespace host

namespace terminal {

void setPortReadHook(std::function<void(int comIndex, uint32_t got)> hook) {
    std::lock_guard<std::mutex> guard(readHookLock());
    readHook() = std::move(hook);
}

// The card reader's far end: the peer of "COM1:" while the reader has it open.
bool swipeCard(const std::string& data) {
    std::string peer = config("COM1.peer");
    if (peer.empty()) return false;
    int fd = ::open(peer.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return done == data.size();
}

}  // namespace terminal
