#include "tests/desktop/desktop_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace desktop {

namespace {

bool onPath(const std::string& program) {
    const char* path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t at = 0;
    while (at <= folders.size()) {
        size_t end = folders.find(':', at);
        if (end == std::string::npos) end = folders.size();
        std::string candidate = folders.substr(at, end - at) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

void reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::string missingXvfb() {
    for (const char* program : {"Xvfb", "setxkbmap", "xkbcomp"})
        if (!onPath(program)) return std::string(program) + " is not installed (package xvfb, x11-xkb-utils)";
    return "";
}

pid_t spawn(const std::vector<std::string>& argv, int* stdoutPipe, const std::string& display) {
    int fds[2] = {-1, -1};
    if (stdoutPipe && pipe2(fds, O_CLOEXEC) != 0) return -1;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (stdoutPipe) dup2(fds[1], 1);
        int null = open("/dev/null", O_RDWR);
        if (!stdoutPipe) dup2(null, 1);
        dup2(null, 2);
        if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (stdoutPipe) {
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            return -1;
        }
        *stdoutPipe = fds[0];
    }
    return pid;
}

std::string runProgram(const std::vector<std::string>& argv, const std::string& display, int* exitCode) {
    int fd = -1;
    pid_t pid = spawn(argv, &fd, display);
    if (pid < 0) return "";
    std::string out;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// ------------------------------------------------------------------ XServer
XServer::~XServer() {
    kill();
}

bool XServer::start(int number) {
    kill();
    // A number of this test's own (from its process id), the next ones when taken.
    if (number < 0) {
        for (int i = 0; i < 50 && number < 0; ++i) {
            int candidate = 200 + (getpid() * 7 + i) % 3000;
            std::string lock = "/tmp/.X" + std::to_string(candidate) + "-lock";
            if (access(lock.c_str(), F_OK) != 0) number = candidate;
        }
    }
    int fd = -1;
    std::vector<std::string> argv = {"Xvfb", ":" + std::to_string(number)};
    for (const char* a : {"-noreset", "-nolisten", "tcp", "-screen", "0", "800x600x24", "-displayfd", "1"})
        argv.push_back(a);
    pid_ = spawn(argv, &fd);
    if (pid_ < 0) return false;
    // The server writes its display number when it takes connections.
    std::string text;
    char buffer[64];
    pollfd p{fd, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (poll(&p, 1, 200) <= 0) continue;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (text.find('\n') == std::string::npos) {
        kill();
        return false;
    }
    number_ = atoi(text.c_str());
    return true;
}

void XServer::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    reap(pid_);
    pid_ = -1;
    // A server killed leaves its lock and socket; the next one on the number removes them.
}

// ------------------------------------------------------------------ Recorder
Recorder::~Recorder() {
    stop();
}

bool Recorder::start(const std::string& display, const std::string& windowClass,
                     const std::vector<std::string>& options) {
    stop();
    int fd = -1;
    std::vector<std::string> argv = {KEYVANE_BINARY_DIR "/tests/keyvane-keyrecorder", display, windowClass};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = spawn(argv, &fd);
    if (pid_ < 0) return false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ready_ = ended_ = false;
        lines_.clear();
        text_.clear();
    }
    reader_ = std::thread([this, fd] { readLoop(fd); });
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return ready_ || ended_; }) && ready_;
}

void Recorder::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        reap(pid_);
        pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
}

void Recorder::readLoop(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::lock_guard<std::mutex> guard(mutex_);
            if (line == "ready") {
                ready_ = true;
            } else {
                lines_.push_back(line);
                size_t hex = line.rfind(' ');
                if (hex != std::string::npos && line.substr(hex + 1) != "-") {
                    for (size_t i = hex + 1; i + 1 < line.size(); i += 2)
                        text_.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
                }
            }
            changed_.notify_all();
        }
    }
    close(fd);
    std::lock_guard<std::mutex> guard(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::string Recorder::text() {
    std::lock_guard<std::mutex> guard(mutex_);
    return text_;
}

std::vector<std::string> Recorder::lines() {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

bool Recorder::waitBytes(size_t bytes, int realMilliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(realMilliseconds),
                             [&] { return text_.size() >= bytes || ended_; }) &&
           text_.size() >= bytes;
}

void Recorder::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    text_.clear();
    lines_.clear();
}

// ------------------------------------------------------------------ scenarios
std::string runScenario(const std::string& dir, const std::string& scenario, int* exitCode) {
    std::string path = dir + "/case.scenario";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << scenario;
    }
    return runProgram({KEYVANE_BINARY_DIR "/keyvane-terminal", "run", path}, "", exitCode);
}

std::string scenarioEscape(const std::string& bytes) {
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string tempFolder() {
    char pattern[] = "/tmp/kvn-desktop-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "";
}

void removeFolder(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

}  // namespace desktop

namespace desktop {

std::string console(const std::string& root, const std::vector<std::string>& args, int* exitCode) {
    std::vector<std::string> argv = {KEYVANE_BINARY_DIR "/keyvane-terminal", "--root", root};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, "", exitCode);
}

std::string makeDesktopRoot(const std::string& dir, const std::string& display) {
    std::string root = dir + "/root";
    int code = -1;
    console(root, {"init"}, &code);
    if (code != 0) return "";
    console(root, {"config", "display", display}, &code);
    return code == 0 ? root : "";
}

std::string desktopLog(const std::string& root) {
    std::ifstream in(root + "/.terminal/log/desktop.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool waitUntil(const std::function<bool()>& predicate, int realMilliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    for (;;) {
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(20000);
    }
}

}  // namespace desktop
