// The host terminal's configuration file, terminal.conf: its "key = value"
// lines, kept in memory under a watch of the terminal folder, and the
// settings the console makes in it (model, screen, ports, clock, frame).
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/decoder/frame.h"
#include "platform/host/internal.h"
#include "platform/host/root.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

using ConfigLines = std::vector<std::pair<std::string, std::string>>;

ConfigLines parseConfig(const std::string& path) {
    std::ifstream in(path);
    return host::parseConfigLines(in);
}

// The configuration is read on hot paths (every key press reads the keypad
// and the model, every load the decoder path), so its lines are kept in
// memory, and a look-up that finds them current makes no system call. Two
// things tell that they are not:
// - the change stamp of the configuration's shared record, which setConfig
//   raises once the new file is in place: the next look-up of every process
//   after a `config` command sees the change;
// - this process's change count of the terminal folder's watch (news.cpp),
//   raised for every change of terminal.conf (a hand edit, a replacement):
//   look-ups after it was raised see it.
// Where the folder cannot be watched, each look-up compares the file's
// identity instead (one stat), as it did before.
struct ConfigRecord {
    host::SharedHeader header;
    uint64_t stamp;  // raised by every change made through setConfig; never repeats
};

// The stamp of the shared record, or 0 without one (no terminal yet); the
// last error stays as it was, so a look-up never changes what a failed call
// reported.
uint64_t sharedStamp() {
    DWORD error = GetLastError();
    auto* r = host::map<ConfigRecord>("config");
    if (r == nullptr) {
        SetLastError(error);
        return 0;
    }
    return __atomic_load_n(&r->stamp, __ATOMIC_ACQUIRE);
}

void raiseSharedStamp() {
    auto* r = host::map<ConfigRecord>("config");
    if (r == nullptr) return;
    host::Lock lock(&r->header);
    // Monotonic nanoseconds, which no earlier stamp reached, even after a
    // reset cleared the record.
    uint64_t now = static_cast<uint64_t>(host::monotonicNanos());
    uint64_t next = r->stamp + 1 > now ? r->stamp + 1 : now;
    __atomic_store_n(&r->stamp, next, __ATOMIC_RELEASE);
}

// The kept lines and what they were read under.
struct ConfigCache {
    std::mutex mutex;
    ConfigLines lines;
    bool valid = false;
    bool watched = false;  // read under a watch: the counts tell; else the file's identity
    uint64_t rootGeneration = 0;
    uint64_t stamp = 0;
    uint64_t changes = 0;
    struct stat identity {};
    std::string path;
};

std::mutex& configCacheMutex();

ConfigCache& configCache() {
    static ConfigCache* c = [] {
        auto* fresh = new ConfigCache;  // outlives detached threads at exit
        // The watch's fork handlers first: this lock is taken before the
        // watch's, here as in a look-up.
        host::startTerminalFolderWatch();
        pthread_atfork([] { configCacheMutex().lock(); }, [] { configCacheMutex().unlock(); },
                       [] { configCacheMutex().unlock(); });
        return fresh;
    }();
    return *c;
}

std::mutex& configCacheMutex() {
    return configCache().mutex;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Calls `use` with the current lines, the cache lock held.
template <class Use>
void withConfig(Use use) {
    ConfigCache& c = configCache();
    uint64_t rootGeneration = host::current().generation;
    uint64_t stamp = sharedStamp();
    uint64_t changes = host::terminalFolderChanges();
    std::lock_guard<std::mutex> guard(c.mutex);
    if (c.valid && c.watched && c.rootGeneration == rootGeneration && c.stamp == stamp && c.changes == changes) {
        use(c.lines);
        return;
    }
    std::string path = host::configPath();
    bool watched = host::watchTerminalFolder(host::terminalDir());
    // Counted after the watch is in place: a change from here on raises it.
    changes = host::terminalFolderChangesSeen();
    struct stat st {};
    bool exists = stat(path.c_str(), &st) == 0;
    if (!watched && c.valid && !c.watched && exists && path == c.path && sameFile(st, c.identity)) {
        use(c.lines);
        return;
    }
    c.lines = exists ? parseConfig(path) : ConfigLines{};
    host::heardFromOutside();  // read afresh: a hand edit may be news
    c.valid = true;
    c.watched = watched;
    c.rootGeneration = rootGeneration;
    c.stamp = stamp;
    c.changes = changes;
    c.identity = exists ? st : (struct stat){};
    c.path = path;
    if (!exists && !watched) c.valid = false;
    use(c.lines);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

ConfigLines readConfig() {
    ConfigLines lines;
    withConfig([&](const ConfigLines& current) { lines = current; });
    return lines;
}

// Holds an exclusive lock on the configuration for a read-modify-write.
class ConfigLock {
public:
    ConfigLock() {
        fd_ = open((host::configPath() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ >= 0) flock(fd_, LOCK_EX);
    }
    ~ConfigLock() {
        if (fd_ >= 0) close(fd_);
    }
    ConfigLock(const ConfigLock&) = delete;
    ConfigLock& operator=(const ConfigLock&) = delete;

private:
    int fd_;
};

std::mutex& configMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

namespace host {

std::string configPath() {
    return terminalDir() + "/terminal.conf";
}

std::vector<std::pair<std::string, std::string>> parseConfigLines(std::istream& in) {
    ConfigLines lines;
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        lines.emplace_back(trim(t.substr(0, eq)), trim(t.substr(eq + 1)));
    }
    return lines;
}

}  // namespace host

namespace terminal {

void setConfig(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> guard(configMutex());
    ConfigLock lock;
    ConfigLines lines = readConfig();
    bool found = false;
    std::string wanted = host::lowerAscii(key);
    for (auto& [k, v] : lines)
        if (host::lowerAscii(k) == wanted) {
            v = value;
            found = true;
        }
    if (!found) lines.emplace_back(key, value);
    std::string temp = host::configPath() + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& [k, v] : lines) out << k << " = " << v << "\n";
    }
    chmod(temp.c_str(), 0600);
    rename(temp.c_str(), host::configPath().c_str());
    raiseSharedStamp();
}

std::string config(const std::string& key) {
    std::string value;
    withConfig([&](const ConfigLines& lines) {
        for (const auto& [k, v] : lines)
            if (equalsNoCase(k, key)) value = v;
    });
    return value;
}

uint32_t frameMilliseconds() {
    uint32_t frame = decoderframe::kDefaultFrameMilliseconds;
    std::string value = config("frame");
    if (!value.empty() && !decoderframe::parseFrameSetting(value.c_str(), frame))
        frame = decoderframe::kDefaultFrameMilliseconds;
    return frame;
}

void setModel(int32_t modelNumber) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(modelNumber));
    setConfig("model", text);
}

int32_t model() {
    std::string v = config("model");
    if (v.empty()) return 0;
    return static_cast<int32_t>(strtoul(v.c_str(), nullptr, 0));
}

void setScreen(int width, int height) {
    setConfig("screen", std::to_string(width) + "x" + std::to_string(height));
}

void setPortPath(int comIndex, const std::string& path) {
    setConfig("COM" + std::to_string(comIndex), path);
}

std::string portPath(int comIndex) {
    return config("COM" + std::to_string(comIndex));
}

}  // namespace terminal
