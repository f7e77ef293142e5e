// What this process may have heard from outside, and the folder watches
// that let the host answer from memory while it has heard nothing.
//
// The host's hot paths (a trace line's append, every key press's look at
// terminal.conf) resolve the same device paths and read the same file over
// and over. Both keep what they found in memory and make no system call to
// ask whether it still holds:
// - the news count (`outsideNews`) counts the moments this process may have
//   learned of something done outside it: a shared record read under its
//   lock, a wait or a sleep ended, a file, port, device, library, process or
//   terminal.conf looked at. A resolution of the same device path is
//   answered again without a look at the folder watch while the count
//   stands (paths.cpp): whatever changed in a folder since the last look,
//   this process cannot have learned of it yet. Every platform call that
//   brings such news counts it (tests/platform/news_test.cpp lists them and
//   checks each one);
// - the folder watch of the path cache: an inotify watch of every folder a
//   resolution listed, added before the listing is read, reports every entry
//   created, removed or renamed, and any report drops every listing. The
//   kernel queues reports with the change itself, so a change made before a
//   look is seen by it; a look costs one ioctl when nothing changed;
// - the watch of the terminal folder (config.cpp): a watcher thread sleeps on
//   it and raises a change count for every change of terminal.conf (a hand
//   edit, a replacement), which look-ups compare. A forked child starts no
//   thread (after a fork only a process's own thread lives on, and starting
//   more is not safe): it reads its watch's reports itself at each look-up,
//   one system call that misses nothing.
// A forked child makes watches of its own: the descriptors it inherits are
// shared with the parent, whose reports it must not take.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/host/internal.h"

namespace host {

std::atomic<uint64_t> outsideNews{0};

}  // namespace host

// ---------------------------------------------------------------- the path cache's watch
namespace {

constexpr uint32_t kFolderChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// Used under the path cache's lock alone (paths.cpp).
struct FolderWatch {
    int fd = -1;  // inotify descriptor; -1: none (every resolution lists afresh)
    bool tried = false;
};
FolderWatch folderWatch;

void startFolderWatch() {
    if (folderWatch.tried) return;
    folderWatch.tried = true;
    folderWatch.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

}  // namespace

namespace host {

bool folderWatchChanged() {
    startFolderWatch();
    if (folderWatch.fd < 0) return true;
    // Asking how much is queued is cheaper than a read that finds nothing.
    int queued = 0;
    if (ioctl(folderWatch.fd, FIONREAD, &queued) == 0 && queued == 0) return false;
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        ssize_t n = read(folderWatch.fd, buffer, sizeof buffer);
        if (n <= 0) break;
        changed = true;
    }
    if (changed) forgetFolderWatches();
    return changed;
}

bool watchFolder(const std::string& folder) {
    startFolderWatch();
    return folderWatch.fd >= 0 && inotify_add_watch(folderWatch.fd, folder.c_str(), kFolderChanges | IN_ONLYDIR) >= 0;
}

bool foldersWatched() {
    return folderWatch.fd >= 0;
}

void forgetFolderWatches() {
    if (folderWatch.fd >= 0) {
        close(folderWatch.fd);  // takes every watch with it
        folderWatch.fd = -1;
        folderWatch.tried = false;
    }
}

}  // namespace host

// ---------------------------------------------------------------- the terminal folder's watch
namespace {

constexpr char kConfigFile[] = "terminal.conf";

// This process's watch of the terminal folder and its watcher thread.
struct Watch {
    std::mutex mutex;
    int fd = -1;      // inotify descriptor; -1: none yet (or none to be had)
    int folder = -1;  // watch descriptor of the watched folder
    std::string watched;
    bool threadStarted = false;
    std::atomic<bool> threadless{false};  // a forked child: look-ups read the reports
    bool broken = false;                  // the thread ended: back to comparing identities
    std::atomic<uint64_t> changes{0};
};

void lockWatchForFork();
void unlockWatchAfterFork();
void restartWatchInChild();

Watch& watch() {
    static Watch* w = [] {
        auto* fresh = new Watch;  // outlives the watcher thread at exit
        pthread_atfork(lockWatchForFork, unlockWatchAfterFork, restartWatchInChild);
        return fresh;
    }();
    return *w;
}

void lockWatchForFork() {
    watch().mutex.lock();
}
void unlockWatchAfterFork() {
    watch().mutex.unlock();
}
// A forked child has no watcher thread, and the descriptor it inherits is
// shared with the parent, whose reports it must not take: it makes its own,
// which its look-ups read.
void restartWatchInChild() {
    Watch& w = watch();
    if (w.fd >= 0) close(w.fd);
    w.fd = -1;
    w.folder = -1;
    w.watched.clear();
    w.threadStarted = false;
    w.threadless.store(true, std::memory_order_relaxed);
    w.broken = false;
    w.changes.fetch_add(1, std::memory_order_release);
    w.mutex.unlock();
}

// Takes `n` bytes of reports read from the watch `fd` (the watch's lock
// held); true when terminal.conf or the folder itself changed.
bool takeReports(Watch& w, int fd, const char* buffer, ssize_t n) {
    bool changed = false;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->len > 0) {
            if (std::strcmp(e->name, kConfigFile) == 0) changed = true;
            continue;
        }
        // The folder's own end (removed, moved away, unmounted) or lost
        // reports: the next look-up watches the folder at its path afresh.
        changed = true;
        if ((e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) == 0) continue;
        if (w.fd == fd && w.folder == e->wd) {
            if ((e->mask & IN_IGNORED) == 0) inotify_rm_watch(fd, e->wd);
            w.folder = -1;
            w.watched.clear();
        }
    }
    return changed;
}

void* watchConfig(void* argument) {
    Watch& w = watch();
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(argument));
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the descriptor is gone (a fork's child closed its copy, or an error)
        bool changed;
        {
            std::lock_guard<std::mutex> guard(w.mutex);
            changed = takeReports(w, fd, buffer, n);
        }
        if (changed) w.changes.fetch_add(1, std::memory_order_release);
    }
    std::lock_guard<std::mutex> guard(w.mutex);
    if (w.fd == fd) w.broken = true;
    w.changes.fetch_add(1, std::memory_order_release);
    return nullptr;
}

// A forked child's look-up: the reports its watch has queued, which the
// kernel queued with the change itself, raise the change count now.
void readReportsWithoutThread() {
    Watch& w = watch();
    if (!w.threadless.load(std::memory_order_relaxed)) return;  // set only in a fork's child, before its threads
    std::lock_guard<std::mutex> guard(w.mutex);
    if (w.fd < 0) return;
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        ssize_t n = read(w.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // none left (or an error: the next look-up asks again)
        changed = takeReports(w, w.fd, buffer, n) || changed;
    }
    if (changed) w.changes.fetch_add(1, std::memory_order_release);
}

// Watches `folder` (the terminal folder of the current root); false when it
// cannot be watched. The change count is raised when the folder changes.
bool ensureWatch(const std::string& folder) {
    Watch& w = watch();
    std::lock_guard<std::mutex> guard(w.mutex);
    if (w.broken) return false;
    if (w.fd >= 0 && w.folder >= 0 && w.watched == folder) return true;
    if (w.fd < 0) {
        w.fd = inotify_init1(IN_CLOEXEC | (w.threadless.load(std::memory_order_relaxed) ? IN_NONBLOCK : 0));
        if (w.fd < 0) {
            w.broken = true;
            return false;
        }
    }
    if (w.folder >= 0) inotify_rm_watch(w.fd, w.folder);
    w.watched.clear();
    w.folder = inotify_add_watch(w.fd, folder.c_str(),
                                 IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                     IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    if (w.folder < 0) return false;  // no such folder yet: tried again by the next look-up
    w.watched = folder;
    w.changes.fetch_add(1, std::memory_order_release);
    if (!w.threadStarted && !w.threadless.load(std::memory_order_relaxed)) {
        // A small thread that takes no signals: it only sleeps in read().
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 64 * 1024);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        pthread_t thread;
        int started =
            pthread_create(&thread, &attributes, watchConfig, reinterpret_cast<void*>(static_cast<intptr_t>(w.fd)));
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        pthread_attr_destroy(&attributes);
        if (started != 0) {
            inotify_rm_watch(w.fd, w.folder);
            w.folder = -1;
            w.watched.clear();
            return false;
        }
        w.threadStarted = true;
    }
    return true;
}

}  // namespace

namespace host {

void startTerminalFolderWatch() {
    watch();
}

bool watchTerminalFolder(const std::string& folder) {
    return ensureWatch(folder);
}

uint64_t terminalFolderChanges() {
    readReportsWithoutThread();
    return watch().changes.load(std::memory_order_acquire);
}

uint64_t terminalFolderChangesSeen() {
    return watch().changes.load(std::memory_order_acquire);
}

}  // namespace host
