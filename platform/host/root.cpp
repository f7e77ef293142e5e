// The terminal root this process is attached to: attaching (the root's
// folders made owner-only), the current attachment, the terminal and log
// folders inside it, and the logs' appends.
#include "platform/host/root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/terminal.h"

extern char** environ;

namespace host {
namespace {

std::mutex& attachMutex() {
    static std::mutex m;
    return m;
}
// Attachments are never freed: a thread may still use the previous one while
// a test attaches to a fresh terminal. The list keeps them reachable.
std::vector<const Attachment*>& attachments() {
    static auto* v = new std::vector<const Attachment*>;
    return *v;
}
std::atomic<const Attachment*> currentAttachment{nullptr};
std::atomic<const char*> attachedEnvironment{nullptr};
uint64_t nextGeneration = 1;  // guarded by attachMutex

bool makeDirs(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolute(const std::string& path) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) != nullptr) return buffer;
    return path;
}

}  // namespace

bool attach(const std::string& rootPath) {
    std::lock_guard<std::mutex> guard(attachMutex());
    std::string path = rootPath.empty() ? std::string("./terminal") : rootPath;
    // Owner-only whatever the umask the process came with (a stricter one is kept).
    mode_t previousMask = umask(077);
    if ((previousMask | 077) != 077) umask(previousMask | 077);
    if (!makeDirs(path + "/.terminal/state") || !makeDirs(path + "/.terminal/log")) return false;
    path = absolute(path);
    // Programs started from here, and second copies of the platform inside
    // loaded libraries, attach to the same terminal.
    const char* env = getenv("KEYVANE_TERMINAL");
    if (env == nullptr || path != env) setenv("KEYVANE_TERMINAL", path.c_str(), 1);
    attachedEnvironment.store(getenv("KEYVANE_TERMINAL"), std::memory_order_release);
    const Attachment* previous = currentAttachment.load(std::memory_order_acquire);
    if (previous != nullptr && previous->path == path) return true;
    auto* next = new Attachment{path, nextGeneration++};
    attachments().push_back(next);
    currentAttachment.store(next, std::memory_order_release);
    return true;
}

namespace {

// Where this thread last found KEYVANE_TERMINAL naming the attachment: the
// environment's array and the entry in it. The environment's strings are
// never changed in place, so while the array and the entry are the same, so
// is the value, and the search of the environment is spared.
struct Seen {
    char** array = nullptr;
    size_t index = 0;
    const char* entry = nullptr;
    const Attachment* attachment = nullptr;
};
thread_local Seen seen;

const Attachment& lookUp();

}  // namespace

const Attachment& current() {
    const Attachment* a = currentAttachment.load(std::memory_order_acquire);
    if (a != nullptr && a == seen.attachment && environ == seen.array && environ[seen.index] == seen.entry) return *a;
    const Attachment& found = lookUp();
    seen = Seen{};
    const char* env = getenv("KEYVANE_TERMINAL");
    if (env != nullptr && environ != nullptr && found.path == env) {
        for (size_t i = 0; environ[i] != nullptr; ++i)
            if (environ[i] + sizeof "KEYVANE_TERMINAL" == env) {
                seen = Seen{environ, i, environ[i], &found};
                break;
            }
    }
    return found;
}

namespace {

const Attachment& lookUp() {
    // KEYVANE_TERMINAL always names the attached terminal (attach sets it), so
    // a second copy of the platform inside a loaded library follows this
    // process to a fresh terminal. The environment's strings are not changed
    // in place, so the string seen at the attachment still names it.
    const char* env = getenv("KEYVANE_TERMINAL");
    const Attachment* a = currentAttachment.load(std::memory_order_acquire);
    if (a != nullptr &&
        (env == nullptr || env[0] == 0 || env == attachedEnvironment.load(std::memory_order_acquire) || a->path == env))
        return *a;
    attach(env != nullptr && env[0] != 0 ? env : "./terminal");
    a = currentAttachment.load(std::memory_order_acquire);
    if (a == nullptr) {
        static const Attachment fallback{"./terminal", 0};
        return fallback;
    }
    return *a;
}

}  // namespace

std::string terminalDir() {
    return terminal::root() + "/.terminal";
}
std::string logDir() {
    return terminal::root() + "/.terminal/log";
}

void appendLog(const std::string& fileName, const std::string& line) {
    std::string path = logDir() + "/" + fileName;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
    terminal::noteChange();
}

}  // namespace host

namespace terminal {

bool attach(const std::string& rootPath) {
    return host::attach(rootPath);
}

const std::string& root() {
    return host::current().path;
}

bool isRoot(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           stat((path + "/.terminal").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace terminal
