// Device paths ("\\DebugADV\\Keyvane.txt") resolved to host paths inside the
// terminal root, letter case ignored.
//
// Each folder met on the way is listed once and its listing kept until the
// folder watch (news.cpp) reports a change in any watched folder. A
// resolution never touches a folder past the first missing component.
//
// The same path resolved again is answered without another look at the watch
// while this process has heard nothing from outside since the last one
// (news.cpp): a change made by another process since that look cannot be
// known here yet, and one made by this process went through a resolution of
// its own path. A trace line appended while its folder is missing then costs
// no system call. Whatever was heard, the watch is looked at again at least
// once a millisecond.
#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/host/internal.h"
#include "platform/host/root.h"
#include "platform/host/terminal.h"

namespace host {
namespace {

constexpr size_t kMaxFolders = 256;  // listings kept before all are dropped
constexpr int64_t kLookAtLeastEvery = 1000000;  // nanoseconds

struct Listing {
    bool exists = false;
    std::unordered_map<std::string, std::string> byName;   // exact name -> name
    std::unordered_map<std::string, std::string> byLower;  // folded name -> first name with it
};

struct Cache {
    std::mutex mutex;
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

// A forked child gets its own watches (news.cpp).
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
    forgetFolderWatches();
}

// Drops the listings when anything watched changed (cache lock held).
void takeChanges(Cache& c) {
    if (folderWatchChanged()) dropAll(c);
}

// Cleared when a resolution met a folder that cannot be watched.
thread_local bool allWatched = true;

const Listing& listing(Cache& c, const std::string& folder) {
    auto found = c.folders.find(folder);
    if (found != c.folders.end()) return found->second;
    if (c.folders.size() >= kMaxFolders) dropAll(c);
    Listing l;
    // Watched first: a change made while the folder is being read is reported.
    bool watched = watchFolder(folder);
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
    const host::Attachment& attachment = host::current();
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
    c.lastValid = foldersWatched() && allWatched;
    c.lastDevice = devicePath;
    c.lastGeneration = attachment.generation;
    c.last = out;
}

ResolvedPath resolveDevicePath(const std::u16string& devicePath) {
    ResolvedPath out;
    resolveDevicePath(devicePath.c_str(), out);
    return out;
}

}  // namespace host

namespace terminal {

std::string hostPath(const std::u16string& devicePath) {
    return host::resolveDevicePath(devicePath).path;
}

}  // namespace terminal
