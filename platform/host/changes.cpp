// The terminal's change count: one word for the whole terminal, raised by
// every change a person could see, that a watcher (the console's served page,
// a test) sleeps on instead of looking at every record again and again.
//
// What raises it:
// - every notify of a shared record (host::notifyAll) and every line
//   appended to a log of the terminal (host::appendLog): keys, text,
//   windows, tray, events, lights, sounds, message boxes, engine, view,
//   Bluetooth, ports;
// - the files the terminal keeps and a person reads, which programs write
//   with plain file calls: the trace log, what reached a port's peer
//   (.terminal/log/COMn.out), the settings files, terminal.conf, the exit code
//   a wedge's keeper writes. A watcher thread, started by the first look or
//   wait of the process, sleeps on an inotify watch of those folders;
// - the end of a process that shows a window of the terminal (a killed wedge
//   notifies nothing): the same thread polls a process descriptor of each,
//   which a second thread, woken by every change, keeps to the windows.
//
// The word lives in the shared record "changes" (a header and two words); it
// is changed with atomic operations only, never under the record's lock, so
// that raising it from inside another record's notify takes no second lock.
// A waiter counts itself in before it reads the word and sleeps on it; a
// raiser adds to the word before it reads the count of waiters: one of the
// two sees the other (both sequentially consistent), so no wake-up is lost.
#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

struct ChangeRecord {
    host::SharedHeader header;
    uint32_t count;    // raised by every change; the futex word
    uint32_t waiters;  // threads asleep on it (a killed one leaves it high: a wasted wake call)
};

ChangeRecord* changes() {
    return host::map<ChangeRecord>("changes");
}

long futex(uint32_t* word, int operation, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, word, operation, value, timeout, nullptr, 0);
}

// ------------------------------------------------------------------ the watcher thread
constexpr uint32_t kFileChanges =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr size_t kMostWatchedProcesses = 16;

// The folders whose files a person reads, relative to the root.
const char* const kWatchedFolders[] = {"", ".terminal", ".terminal/log", ".terminal/peers", "DebugADV", "Zentrova", "IPSM"};

// Never destroyed: the watchers are detached threads that may still look at
// them while the process exits.
std::mutex& watcherMutex() {
    static auto* m = new std::mutex;
    return *m;
}
// The root the running watchers look at (empty: none run); under watcherMutex.
std::string& watcherRoot() {
    static auto* root = new std::string;
    return *root;
}

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
// readable when it ends. The list follows the windows: a thread of its own
// sleeps on the change count and looks at the windows after each change
// (ended processes' windows go then); a process gone from them is a change
// too, and a new one is handed to the file watcher's poll.
struct WatchedProcess {
    int pid;
    int fd;
};

struct Watch {
    std::string root;
    int files = -1;  // inotify
    int wake = -1;   // eventfd: the list of processes changed
    std::mutex mutex;
    std::vector<WatchedProcess> processes;  // under mutex

    ~Watch() {
        for (const auto& p : processes) close(p.fd);
        if (files >= 0) close(files);
        if (wake >= 0) close(wake);
    }
};

bool attachedTo(const Watch& w) {
    return terminal::root() == w.root;
}

// Looks at the windows' processes again: those gone from the windows since
// the last look, and those ended already, are a change; the new ones get a
// descriptor for the file watcher's poll. True when something changed.
bool lookAtWindows(Watch& w, std::vector<int>& shown) {
    std::vector<int> pids;
    for (const auto& win : terminal::windows())
        if (std::find(pids.begin(), pids.end(), win.pid) == pids.end() && pids.size() < kMostWatchedProcesses)
            pids.push_back(win.pid);
    if (pids == shown) return false;
    bool gone = std::any_of(shown.begin(), shown.end(),
                            [&](int pid) { return std::find(pids.begin(), pids.end(), pid) == pids.end(); });
    shown = pids;
    {
        std::lock_guard<std::mutex> hold(w.mutex);
        for (size_t i = 0; i < w.processes.size();) {
            if (std::find(pids.begin(), pids.end(), w.processes[i].pid) == pids.end()) {
                close(w.processes[i].fd);
                w.processes.erase(w.processes.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        for (int pid : pids) {
            if (std::any_of(w.processes.begin(), w.processes.end(), [&](const WatchedProcess& p) { return p.pid == pid; }))
                continue;
            int fd = pidDescriptor(pid);
            if (fd >= 0)
                w.processes.push_back({pid, fd});
            else
                gone = true;  // ended already
        }
    }
    uint64_t one = 1;
    ssize_t ignored = write(w.wake, &one, sizeof one);
    (void)ignored;
    return gone;
}

void windowsThread(std::shared_ptr<Watch> w, std::vector<int> shown, uint32_t seen) {
    while (attachedTo(*w)) {
        seen = static_cast<uint32_t>(terminal::waitForChange(seen, 2000));
        if (lookAtWindows(*w, shown)) terminal::noteChange();
    }
}

void filesThread(std::shared_ptr<Watch> w) {
    alignas(inotify_event) char buffer[8192];
    while (attachedTo(*w)) {
        std::vector<pollfd> fds{{w->files, POLLIN, 0}, {w->wake, POLLIN, 0}};
        std::vector<int> pids;
        {
            std::lock_guard<std::mutex> hold(w->mutex);
            for (const auto& p : w->processes) {
                fds.push_back({p.fd, POLLIN, 0});
                pids.push_back(p.pid);
            }
        }
        int rc = poll(fds.data(), fds.size(), 2000);
        if (rc < 0 && errno != EINTR) break;
        if (rc <= 0) continue;
        bool changed = false;
        if (fds[0].revents & POLLIN) {
            ssize_t got = read(w->files, buffer, sizeof buffer);
            if (got > 0) {
                changed = true;
                // A folder made later (DebugADV by a person, .terminal/peers) is watched from then on.
                for (ssize_t at = 0; at < got;) {
                    auto* e = reinterpret_cast<inotify_event*>(buffer + at);
                    if ((e->mask & IN_ISDIR) && (e->mask & (IN_CREATE | IN_MOVED_TO))) watchFolders(w->files, w->root);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
        }
        if (fds[1].revents & POLLIN) {
            uint64_t n = 0;
            ssize_t ignored = read(w->wake, &n, sizeof n);
            (void)ignored;
        }
        std::vector<int> ended;
        for (size_t i = 2; i < fds.size(); ++i)
            if (fds[i].revents != 0) ended.push_back(pids[i - 2]);
        if (!ended.empty()) {
            changed = true;
            std::lock_guard<std::mutex> hold(w->mutex);
            for (size_t i = 0; i < w->processes.size();) {
                if (std::find(ended.begin(), ended.end(), w->processes[i].pid) != ended.end()) {
                    close(w->processes[i].fd);
                    w->processes.erase(w->processes.begin() + static_cast<long>(i));
                } else {
                    ++i;
                }
            }
        }
        if (changed) terminal::noteChange();
    }
}

// The watches are made before the call returns, so that a change made after
// it is seen; the threads read them. They end, closing them, within a poll's
// time once the process is attached to another root.
void startWatcher() {
    std::lock_guard<std::mutex> hold(watcherMutex());
    const std::string& root = terminal::root();
    if (watcherRoot() == root) return;
    auto w = std::make_shared<Watch>();
    w->root = root;
    w->files = inotify_init1(IN_CLOEXEC);
    w->wake = eventfd(0, EFD_CLOEXEC);
    if (w->files < 0 || w->wake < 0) return;  // no watch: changes of records still wake
    watchFolders(w->files, root);
    // The windows shown now are watched before the call returns too.
    ChangeRecord* r = changes();
    uint32_t seen = r == nullptr ? 0 : __atomic_load_n(&r->count, __ATOMIC_SEQ_CST);
    std::vector<int> shown;
    if (lookAtWindows(*w, shown)) terminal::noteChange();
    watcherRoot() = root;
    std::thread(filesThread, w).detach();
    std::thread(windowsThread, w, std::move(shown), seen).detach();
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
    startWatcher();
    ChangeRecord* r = changes();
    host::heardFromOutside();
    return r == nullptr ? 0 : __atomic_load_n(&r->count, __ATOMIC_SEQ_CST);
}

uint64_t waitForChange(uint64_t seen, int realMilliseconds) {
    host::NewsOnReturn news;
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
