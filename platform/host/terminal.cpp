// The host terminal's root folder, its configuration file and the mapping of
// device paths into the root.
#include "platform/host/terminal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/root.h"
#include "platform/host/shared.h"

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string configPath() {
    return hostinternal::terminalDir() + "/terminal.conf";
}

using ConfigLines = std::vector<std::pair<std::string, std::string>>;

ConfigLines parseConfig(const std::string& path) {
    std::ifstream in(path);
    return hostinternal::parseConfigLines(in);
}

// The configuration is read on hot paths (every key press reads the keypad,
// every load the decoder path), so its lines are kept until the file changes.
// Writes replace the file by a rename, which gives it a new identity.
ConfigLines readConfig() {
    static std::mutex cacheMutex;
    static ConfigLines cached;
    static struct stat cachedStat {};
    static std::string cachedPath;
    static bool valid = false;
    std::string path = configPath();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    std::lock_guard<std::mutex> guard(cacheMutex);
    if (valid && path == cachedPath && st.st_ino == cachedStat.st_ino && st.st_dev == cachedStat.st_dev &&
        st.st_size == cachedStat.st_size && st.st_mtim.tv_sec == cachedStat.st_mtim.tv_sec &&
        st.st_mtim.tv_nsec == cachedStat.st_mtim.tv_nsec)
        return cached;
    cached = parseConfig(path);
    cachedStat = st;
    cachedPath = path;
    valid = true;
    return cached;
}

// Holds an exclusive lock on the configuration for a read-modify-write.
class ConfigLock {
public:
    ConfigLock() {
        fd_ = open((configPath() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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

namespace hostinternal {

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
}

}  // namespace hostinternal

namespace terminal {

bool attach(const std::string& rootPath) {
    return hostroot::attach(rootPath);
}

const std::string& root() {
    return hostroot::current().path;
}

void reset() {
    // Every facility keeps its state in a record of the state folder whose
    // all-zero contents mean "power-on state"; the clock keeps running.
    std::string stateDir = root() + "/.terminal/state";
    if (DIR* d = opendir(stateDir.c_str())) {
        std::vector<std::pair<std::string, size_t>> records;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == ".." || name == "clock") continue;
            struct stat st {};
            if (stat((stateDir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            if (static_cast<size_t>(st.st_size) <= sizeof(hostshared::SharedHeader)) continue;
            records.emplace_back(name, static_cast<size_t>(st.st_size));
        }
        closedir(d);
        for (const auto& [name, size] : records) {
            hostshared::SharedHeader* h = hostshared::mapRecord(name.c_str(), size);
            if (h == nullptr) continue;
            hostshared::Lock lock(h);
            std::memset(reinterpret_cast<char*>(h) + sizeof(hostshared::SharedHeader), 0,
                        size - sizeof(hostshared::SharedHeader));
            hostshared::notifyAll(h);
        }
    }
    std::string logs = hostinternal::logDir();
    if (DIR* d = opendir(logs.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
        for (const auto& name : names) unlink((logs + "/" + name).c_str());
    }
}

std::string hostPath(const std::u16string& devicePath) {
    return hostinternal::resolveDevicePath(devicePath).path;
}

// ------------------------------------------------------------------ configuration

void setConfig(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> guard(configMutex());
    ConfigLock lock;
    ConfigLines lines = readConfig();
    bool found = false;
    std::string wanted = hostinternal::lowerAscii(key);
    for (auto& [k, v] : lines)
        if (hostinternal::lowerAscii(k) == wanted) {
            v = value;
            found = true;
        }
    if (!found) lines.emplace_back(key, value);
    std::string temp = configPath() + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& [k, v] : lines) out << k << " = " << v << "\n";
    }
    chmod(temp.c_str(), 0600);
    rename(temp.c_str(), configPath().c_str());
}

std::string config(const std::string& key) {
    std::lock_guard<std::mutex> guard(configMutex());
    std::string wanted = hostinternal::lowerAscii(key);
    std::string value;
    for (const auto& [k, v] : readConfig())
        if (hostinternal::lowerAscii(k) == wanted) value = v;
    return value;
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

namespace terminal {

namespace {

// The one-line refusal for a path others may write, or "".
std::string writableByOthers(const std::string& path, const char* what) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return "";
    return std::string(what) + " " + path +
           " is writable by group or others; refused (make it the owner's alone: chmod go-w " + path + ")";
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace

std::string safetyProblem() {
    const std::string& top = root();
    std::string problem = writableByOthers(top, "terminal root");
    if (problem.empty()) problem = writableByOthers(top + "/.terminal", "terminal folder");
    if (problem.empty()) problem = writableByOthers(configPath(), "terminal configuration");
    if (problem.empty()) {
        std::string decoder = config("decoder");
        if (!decoder.empty()) {
            problem = writableByOthers(decoder, "decoder library");
            size_t slash = decoder.rfind('/');
            if (problem.empty() && slash != std::string::npos && slash > 0)
                problem = writableByOthers(decoder.substr(0, slash), "decoder library folder");
        }
    }
    return problem;
}

bool insideRoot(const std::string& path) {
    std::string top = resolved(root());
    if (top.empty()) return false;
    // The file itself need not exist yet: its folder decides, or, when that
    // is missing too, the nearest folder on the way that exists.
    std::string folder;
    std::string rest = path;
    while (folder.empty()) {
        size_t slash = rest.rfind('/');
        if (slash == std::string::npos || slash == 0) return false;
        rest = rest.substr(0, slash);
        folder = resolved(rest);
    }
    return folder == top || folder.compare(0, top.size() + 1, top + "/") == 0;
}

}  // namespace terminal
