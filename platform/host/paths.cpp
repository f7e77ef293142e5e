// Device paths ("\\DebugADV\\Keyvane.txt") resolved to host paths inside the
// terminal root, letter case ignored.
//
// Each folder met on the way is listed once and its listing kept until the
// folder changes: an inotify watch, added before the listing is read, reports
// every entry created, removed or renamed in it, and any such report drops
// every listing. Reports are queued by the kernel as the change happens, so a
// change made before a resolution is seen by it. A resolution costs one look
// at the (non-blocking) watch descriptor when nothing changed, and never
// touches a folder past the first missing component.
//
// The same path resolved again is answered without another look while this
// process has heard nothing from outside since the last one (no shared record
// read, no wait or sleep ended, no file, port or process asked; see
// heardFromOutside): a change made by another process since that look cannot
// be known here yet, and one made by this process went through a resolution
// of its own path. A trace line appended while its folder is missing then
// costs no system call. Whatever was heard, the watch is looked at again at
// least once a millisecond.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/host/internal.h"
#include "platform/host/root.h"
#include "platform/host/terminal.h"

namespace hostinternal {
namespace {

constexpr size_t kMaxFolders = 256;  // listings kept before all are dropped
constexpr int64_t kLookAtLeastEvery = 1000000;  // nanoseconds
constexpr uint32_t kChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

struct Listing {
    bool exists = false;
    std::unordered_map<std::string, std::string> byName;   // exact name -> name
    std::unordered_map<std::string, std::string> byLower;  // folded name -> first name with it
};

struct Cache {
    std::mutex mutex;
    int watch = -1;  // inotify descriptor; -1: none (every resolution lists afresh)
    bool tried = false;
    std::unordered_map<std::string, Listing> folders;
    // The last resolution, answered again while nothing changed (a trace
    // line's append resolves the same path over and over).
    bool lastValid = false;
    std::u16string lastDevice;
    uint64_t lastGeneration = 0;
    int64_t lastLook = 0;      // when the watch was last looked at (monotonic nanoseconds)
    uint64_t lastNews = 0;     // outsideNews when it was
    ResolvedPath last;
};


void dropAll(Cache& c);

// A forked child gets its own watches: the descriptor it inherits is shared
// with the parent, whose reports it would take away.
void lockForFork();
void unlockAfterFork();
void restartInChild();

Cache& cache() {
    static Cache* c = [] {
        auto* fresh = new Cache;  // outlives detached threads at exit
        pthread_atfork(lockForFork, unlockAfterFork, restartInChild);
        return fresh;
    }();
    return *c;
}

void lockForFork() {
    cache().mutex.lock();
}
void unlockAfterFork() {
    cache().mutex.unlock();
}
void restartInChild() {
    Cache& c = cache();
    dropAll(c);
    c.mutex.unlock();
}

void dropAll(Cache& c) {
    c.folders.clear();
    c.lastValid = false;
    if (c.watch >= 0) {
        close(c.watch);  // takes every watch with it
        c.watch = -1;
        c.tried = false;
    }
}

// Drops the listings when anything watched changed (cache lock held).
void takeChanges(Cache& c) {
    if (!c.tried) {
        c.tried = true;
        c.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    if (c.watch < 0) {
        c.folders.clear();
        c.lastValid = false;
        return;
    }
    // Asking how much is queued is cheaper than a read that finds nothing.
    int queued = 0;
    if (ioctl(c.watch, FIONREAD, &queued) == 0 && queued == 0) return;
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        ssize_t n = read(c.watch, buffer, sizeof buffer);
        if (n <= 0) break;
        changed = true;
    }
    if (changed) dropAll(c);
}

// Cleared when a resolution met a folder that cannot be watched.
thread_local bool allWatched = true;

const Listing& listing(Cache& c, const std::string& folder) {
    auto found = c.folders.find(folder);
    if (found != c.folders.end()) return found->second;
    if (c.folders.size() >= kMaxFolders) dropAll(c);
    if (!c.tried) takeChanges(c);
    Listing l;
    // Watched first: a change made while the folder is being read is reported.
    bool watched = c.watch >= 0 && inotify_add_watch(c.watch, folder.c_str(), kChanges | IN_ONLYDIR) >= 0;
    if (DIR* d = opendir(folder.c_str())) {
        l.exists = true;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            l.byLower.emplace(lowerAscii(name), name);
            l.byName.emplace(name, name);
        }
        closedir(d);
    }
    // A folder that cannot be watched is listed again on every resolution.
    if (!watched) {
        allWatched = false;
        static Listing scratch;
        scratch = std::move(l);
        return scratch;
    }
    return c.folders.emplace(folder, std::move(l)).first->second;
}

}  // namespace

void resolveDevicePath(const char16_t* devicePath, ResolvedPath& out, bool pathWhenFolderMissing) {
    const hostroot::Attachment& attachment = hostroot::current();
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.mutex);
    bool same = c.lastValid && c.lastGeneration == attachment.generation && c.lastDevice.compare(devicePath) == 0;
    int64_t now = monotonicNanos();
    uint64_t news = outsideNews.load(std::memory_order_seq_cst);
    if (!same || news != c.lastNews || now - c.lastLook >= kLookAtLeastEvery) {
        // Counted before the look: news heard from here on asks for the next.
        c.lastNews = news;
        c.lastLook = now;
        takeChanges(c);
        same = same && c.lastValid;
    }
    if (same) {
        out.missing = c.last.missing;
        if (pathWhenFolderMissing || out.missing != MissingFolder)
            out.path.assign(c.last.path);
        else
            out.path.clear();
        return;
    }
    std::string path = toUtf8(devicePath);
    out.path.assign(attachment.path);
    out.missing = MissingNone;
    allWatched = true;
    size_t pos = 0;
    bool missing = false;
    while (pos <= path.size()) {
        size_t end = path.find_first_of("\\/", pos);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == "." || part == "..") continue;
        if (missing) {
            // Past the first missing component nothing exists.
            out.missing = MissingFolder;
            out.path += "/" + part;
            continue;
        }
        const Listing& l = listing(c, out.path);
        auto exact = l.byName.find(part);
        if (exact != l.byName.end()) {
            out.path += "/" + part;
            continue;
        }
        auto folded = l.byLower.find(lowerAscii(part));
        if (folded != l.byLower.end()) {
            out.path += "/" + folded->second;
            continue;
        }
        missing = true;
        out.missing = l.exists ? MissingLast : MissingFolder;
        out.path += "/" + part;
    }
    // Kept only when every folder on the way is watched.
    c.lastValid = c.watch >= 0 && allWatched;
    c.lastDevice = devicePath;
    c.lastGeneration = attachment.generation;
    c.last = out;
}

ResolvedPath resolveDevicePath(const std::u16string& devicePath) {
    ResolvedPath out;
    resolveDevicePath(devicePath.c_str(), out);
    return out;
}

}  // namespace hostinternal

namespace terminal {

std::string hostPath(const std::u16string& devicePath) {
    return hostinternal::resolveDevicePath(devicePath).path;
}

}  // namespace terminal
