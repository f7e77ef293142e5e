// The terminal's change count: one word for the whole terminal, raised by
// every change a person could see, that a watcher (the console's served page,
// a test) sleeps on instead of looking at every record again and again.
//
// What raises it:
// - every notify of a shared record (hostshared::notifyAll) and every line
//   appended to a log of the terminal (hostinternal::appendLog): keys, text,
//   windows, tray, events, lights, sounds, message boxes, engine, view,
//   Bluetooth, ports;
// - the files the terminal keeps and a person reads, which programs write
//   with plain file calls: the trace log, what reached a port's peer
//   (.terminal/log/COMn.out), the settings files, terminal.conf, the exit code
//   a wedge's keeper writes. A watcher thread, started by the first wait of
//   the process, sleeps on an inotify watch of those folders;
// - the end of a process that shows a window of the terminal (a killed wedge
//   notifies nothing): the same thread watches each such process through a
//   process descriptor.
//
// The word lives in the shared record "changes" (a header and two words); it
// is changed with atomic operations only, never under the record's lock, so
// that raising it from inside another record's notify takes no second lock.
// A waiter counts itself in before it reads the word and sleeps on it; a
// raiser adds to the word before it reads the count of waiters: one of the
// two sees the other (both sequentially consistent), so no wake-up is lost.
#include <linux/futex.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

struct ChangeRecord {
    hostshared::SharedHeader header;
    uint32_t count;    // raised by every change; the futex word
    uint32_t waiters;  // threads asleep on it (a killed one leaves it high: a wasted wake call)
};

ChangeRecord* changes() {
    return hostshared::map<ChangeRecord>("changes");
}

long futex(uint32_t* word, int operation, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, word, operation, value, timeout, nullptr, 0);
}

// ------------------------------------------------------------------ the watcher thread
constexpr uint32_t kFileChanges =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr size_t kMostWatchedProcesses = 16;

// The folders whose files a person reads, relative to the root.
const char* const kWatchedFolders[] = {"", ".terminal", ".terminal/log", "DebugADV", "Zentrova", "IPSM"};

std::mutex watcherMutex;
std::string watcherRoot;  // the root the running watcher looks at (empty: none runs)

void watchFolders(int fd, const std::string& root) {
    for (const char* folder : kWatchedFolders) {
        std::string path = *folder ? root + "/" + folder : root;
        inotify_add_watch(fd, path.c_str(), kFileChanges | IN_ONLYDIR);
    }
}

int pidDescriptor(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// The processes that show windows, each with a descriptor that becomes
// readable when it ends.
struct WatchedProcess {
    int pid;
    int fd;
};

void watchProcesses(std::vector<WatchedProcess>& watched) {
    std::vector<int> pids;
    for (const auto& w : terminal::windows())
        if (std::find(pids.begin(), pids.end(), w.pid) == pids.end() && pids.size() < kMostWatchedProcesses)
            pids.push_back(w.pid);
    for (size_t i = 0; i < watched.size();) {
        if (std::find(pids.begin(), pids.end(), watched[i].pid) == pids.end()) {
            close(watched[i].fd);
            watched.erase(watched.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    for (int pid : pids) {
        bool known = std::any_of(watched.begin(), watched.end(), [&](const WatchedProcess& p) { return p.pid == pid; });
        if (known) continue;
        int fd = pidDescriptor(pid);
        if (fd >= 0) watched.push_back({pid, fd});
    }
}

void watcherThread(std::string root) {
    int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) return;
    watchFolders(fd, root);
    std::vector<WatchedProcess> watched;
    uint32_t lookedAt = ~0u;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        // The windows change with notifies; their processes are looked at again then.
        if (uint32_t now = __atomic_load_n(&changes()->count, __ATOMIC_SEQ_CST); now != lookedAt) {
            lookedAt = now;
            watchProcesses(watched);
        }
        std::vector<pollfd> fds;
        fds.push_back({fd, POLLIN, 0});
        for (const auto& p : watched) fds.push_back({p.fd, POLLIN, 0});
        // The windows' processes are looked at again at least every few seconds.
        int rc = poll(fds.data(), fds.size(), 2000);
        if (rc < 0 && errno != EINTR) break;
        if (rc <= 0) continue;
        bool changed = false;
        if (fds[0].revents & POLLIN) {
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                changed = true;
                // A folder made later (DebugADV by a person, .terminal/log) is watched from then on.
                for (ssize_t at = 0; at < got;) {
                    auto* e = reinterpret_cast<inotify_event*>(buffer + at);
                    if ((e->mask & IN_ISDIR) && (e->mask & (IN_CREATE | IN_MOVED_TO))) watchFolders(fd, root);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
        }
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents != 0) {
                changed = true;
                close(watched[i - 1].fd);
                watched[i - 1].fd = -1;
            }
        watched.erase(std::remove_if(watched.begin(), watched.end(), [](const WatchedProcess& p) { return p.fd < 0; }),
                      watched.end());
        if (changed) terminal::noteChange();
    }
    close(fd);
}

void startWatcher() {
    std::lock_guard<std::mutex> hold(watcherMutex);
    const std::string& root = terminal::root();
    if (watcherRoot == root) return;
    watcherRoot = root;
    std::thread(watcherThread, root).detach();
}

}  // namespace

namespace terminal {

void noteChange() {
    ChangeRecord* r = changes();
    if (r == nullptr) return;
    __atomic_add_fetch(&r->count, 1u, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&r->waiters, __ATOMIC_SEQ_CST) != 0) futex(&r->count, FUTEX_WAKE, INT32_MAX, nullptr);
}

uint64_t changeCount() {
    ChangeRecord* r = changes();
    hostinternal::heardFromOutside();
    return r == nullptr ? 0 : __atomic_load_n(&r->count, __ATOMIC_SEQ_CST);
}

uint64_t waitForChange(uint64_t seen, int realMilliseconds) {
    hostinternal::NewsOnReturn news;
    startWatcher();
    ChangeRecord* r = changes();
    if (r == nullptr) return seen;
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += realMilliseconds / 1000;
    until.tv_nsec += static_cast<long>(realMilliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        ++until.tv_sec;
        until.tv_nsec -= 1000000000L;
    }
    __atomic_add_fetch(&r->waiters, 1u, __ATOMIC_SEQ_CST);
    uint32_t now = __atomic_load_n(&r->count, __ATOMIC_SEQ_CST);
    while (now == static_cast<uint32_t>(seen)) {
        timespec left{};
        clock_gettime(CLOCK_MONOTONIC, &left);
        long long ns = (until.tv_sec - left.tv_sec) * 1000000000LL + (until.tv_nsec - left.tv_nsec);
        if (ns <= 0) break;
        left.tv_sec = static_cast<time_t>(ns / 1000000000LL);
        left.tv_nsec = static_cast<long>(ns % 1000000000LL);
        futex(&r->count, FUTEX_WAIT, now, &left);
        now = __atomic_load_n(&r->count, __ATOMIC_SEQ_CST);
    }
    // Never below zero: a waiter killed while asleep cannot be counted out.
    uint32_t w = __atomic_load_n(&r->waiters, __ATOMIC_SEQ_CST);
    while (w != 0 && !__atomic_compare_exchange_n(&r->waiters, &w, w - 1, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    }
    return now;
}

}  // namespace terminal
