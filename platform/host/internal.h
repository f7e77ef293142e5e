// Helpers shared by the host terminal's own facilities (not part of the API).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/objects.h"

namespace host {

// UTF-16 <-> UTF-8 (unpaired surrogates become U+FFFD).
std::string toUtf8(const std::u16string& text);
std::string toUtf8(const WCHAR* text);
std::u16string fromUtf8(const std::string& text);

// The "key = value" lines of terminal.conf, in file order; blank lines,
// "#" comments and lines without "=" are passed over, both sides trimmed.
std::vector<std::pair<std::string, std::string>> parseConfigLines(std::istream& in);

// Folds ASCII letters to lower case.
std::string lowerAscii(std::string text);

// A number as the terminal's own files write it: `text` is digits of `base`
// alone (after one '-' for readSigned), within [least, most]. Anything else
// (empty, blanks, other characters, out of range) is refused with false and
// `value` untouched, so that a reader skips the line and goes on.
bool readUnsigned(const std::string& text, int base, uint64_t most, uint64_t& value);
bool readSigned(const std::string& text, int64_t least, int64_t most, int64_t& value);

// A device path resolved to a host path in the terminal root (paths.cpp):
// each component matched without regard to letter case against what exists;
// from the first missing one on, the components are kept as given.
enum Missing { MissingNone = 0, MissingLast = 1, MissingFolder = 2 };
struct ResolvedPath {
    std::string path;
    Missing missing = MissingNone;  // what is missing: nothing, the last component, a folder on the way
};
ResolvedPath resolveDevicePath(const std::u16string& devicePath);
// The same into `out`, whose text's room is reused. Without
// `pathWhenFolderMissing`, the path may be left empty when a folder on the
// way is missing (the caller then only reports that).
void resolveDevicePath(const char16_t* devicePath, ResolvedPath& out, bool pathWhenFolderMissing = true);

// <root>/.terminal and its log folder (root.cpp); terminal.conf in it (config.cpp).
std::string terminalDir();
std::string logDir();
std::string configPath();

// Appends one complete line to a log file of the terminal (O_APPEND, one write).
void appendLog(const std::string& fileName, const std::string& line);

// Windows-like last error for the errno of a failed host call.
DWORD errorFromErrno(int error);

// ---------------------------------------------------------------- news from outside (news.cpp)
// Counts the moments this process may have learned of something done
// outside it: a shared record read under its lock, a wait or a sleep ended,
// a file, port, device, library, process or terminal.conf looked at. A
// device path's resolution is answered from memory, without a look at the
// folder watch, only while the count stands. Every platform call that brings
// such news counts it: tests/platform/news_test.cpp lists them.
extern std::atomic<uint64_t> outsideNews;
inline void heardFromOutside() {
    outsideNews.fetch_add(1, std::memory_order_seq_cst);
}
// Counts one when the call that holds it returns, whichever way.
struct NewsOnReturn {
    NewsOnReturn() = default;
    NewsOnReturn(const NewsOnReturn&) = delete;
    NewsOnReturn& operator=(const NewsOnReturn&) = delete;
    ~NewsOnReturn() { heardFromOutside(); }
};

// The path cache's folder watch (called under the path cache's lock).
// Whether anything watched changed since the last look, or nothing can be
// watched: the listings kept are then dropped, and a change forgets the
// watches too.
bool folderWatchChanged();
// Watches `folder` (before it is listed); false when it cannot be watched.
bool watchFolder(const std::string& folder);
// Whether the watch stands (a resolution's result is kept only then).
bool foldersWatched();
// Ends every watch (a fork's child, or too many folders listed).
void forgetFolderWatches();

// The terminal folder's watch, for terminal.conf (config.cpp). Started
// before the configuration's cache, whose lock is taken before the watch's.
void startTerminalFolderWatch();
// Watches `folder` (the current root's terminal folder); false when it cannot
// be watched. The change count is raised when terminal.conf or the folder
// changes.
bool watchTerminalFolder(const std::string& folder);
// The change count, after a forked child read its watch's queued reports.
uint64_t terminalFolderChanges();
// The change count as it stands.
uint64_t terminalFolderChangesSeen();

// Real monotonic time in nanoseconds (shared by all processes of the machine).
int64_t monotonicNanos();

// A process of the machine as the shared records name it: its id and its
// start time (in clock ticks since boot), which tells a reused id apart.
struct ProcessIdentity {
    int32_t pid;
    uint64_t started;
};
// The start time of process `pid` while it runs; 0 when it does not (never
// was, ended, or ended and waits to be reaped by its parent).
uint64_t processStartTime(int32_t pid);
// This process (its start time read once per process, forks included).
ProcessIdentity currentProcess();
// Whether the process named by `id` still runs: the same id and start time.
// The one check of the host for every record that names a process (events,
// mutexes, keys held down, windows, queues, hot keys, tray icons).
bool processRuns(const ProcessIdentity& id);

// The end of a thread or process, which its handles wait for.
struct Completion {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    DWORD code = STILL_ACTIVE;
};

// A handle on a Completion: waits (in terminal time) for the end and gives the exit code.
class CompletionObject : public host::Object {
public:
    explicit CompletionObject(std::shared_ptr<Completion> state) : state_(std::move(state)) {}

    DWORD wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        auto ended = [this] { return state_->done; };
        if (milliseconds == INFINITE) {
            state_->changed.wait(lock, ended);
            return WAIT_OBJECT_0;
        }
        return state_->changed.wait_for(lock, std::chrono::milliseconds(host::realMilliseconds(milliseconds)),
                                        ended)
                   ? WAIT_OBJECT_0
                   : WAIT_TIMEOUT;
    }

    BOOL exitCode(DWORD* code) override {
        std::lock_guard<std::mutex> guard(state_->mutex);
        *code = state_->code;
        return TRUE;
    }

private:
    std::shared_ptr<Completion> state_;
};

}  // namespace host
