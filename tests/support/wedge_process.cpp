#include "tests/support/wedge_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "platform/host/internal.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "settings/settings.h"
#include "shell/app.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"
#include "tests/support/test_child.h"

namespace wedge {

namespace fs = std::filesystem;

std::string makeTerminalRoot(const RootOptions& options) {
    std::string root = testfiles::makeTempFolder("keyvane-root");
    if (root.empty()) return "";
    fs::create_directories(fs::path(root) / "Zentrova");
    fs::create_directories(fs::path(root) / "DebugADV");
    if (options.writeSettings) {
        std::ofstream ini(fs::path(root) / "Zentrova" / "Keyvane.ini", std::ios::binary);
        ini << options.settingsIni;
    }
    terminal::attach(root);
    terminal::setConfig("decoder", KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so");
    terminal::setClockSpeed(options.clockSpeed);
    return root;
}

void removeTerminalRoot(const std::string& root) {
    testfiles::removeFolder(root);
}

std::string freshTerminal(int clockSpeed) {
    RootOptions options;
    options.writeSettings = false;
    options.clockSpeed = clockSpeed;
    std::string root = makeTerminalRoot(options);
    if (root.empty()) return root;
    terminal::reset();
    resetProcessState();
    return root;
}

int openPeer(int comIndex, int* slave) {
    int master = -1, far = -1;
    char name[256] = {};
    if (openpty(&master, &far, name, nullptr, nullptr) != 0) return -1;
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    terminal::setPortPath(comIndex, name);
    if (slave)
        *slave = far;
    else
        close(far);
    return master;
}

std::string readPeer(int fd, size_t expected, int realMilliseconds, bool drain) {
    std::string bytes;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    for (;;) {
        bool enough = bytes.size() >= expected;
        if (enough ? !drain : std::chrono::steady_clock::now() >= end) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, enough ? 30 : 20) <= 0) {
            if (enough) break;
            continue;
        }
        char chunk[4096];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            bytes.append(chunk, static_cast<size_t>(n));
        else if (enough)
            break;
    }
    return bytes;
}

std::vector<std::string> soundNames() {
    std::vector<std::string> names;
    for (const terminal::SoundRecord& s : terminal::sounds()) names.push_back(s.sound);
    return names;
}

std::string typed() {
    return host::toUtf8(terminal::focusText());
}

std::vector<std::string> linesAmong(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    std::vector<std::string> out;
    for (const std::string& line : lines)
        for (const std::string& w : wanted)
            if (line == w) out.push_back(line);
    return out;
}

bool waitFor(const std::function<bool()>& predicate, int realMilliseconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    // Looks again soon at first (most waits end within a few milliseconds),
    // then every 5 ms.
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
    }
}

pid_t launch(const Launch& how, const std::vector<std::string>& arguments) {
    std::string program = KEYVANE_BINARY_DIR "/keyvane";
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = testchild::forkTestChild();
    if (pid == 0) {
        if (!how.folder.empty() && chdir(how.folder.c_str()) != 0) _exit(126);
        if (how.root)
            setenv("KEYVANE_TERMINAL", how.root, 1);
        else
            unsetenv("KEYVANE_TERMINAL");
        for (auto [fd, path] : {std::pair{1, &how.outPath}, std::pair{2, &how.errPath}}) {
            if (path->empty()) continue;
            int file = open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (file < 0 || dup2(file, fd) < 0) _exit(126);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

namespace {

// The exit code as the program returned it (-1, -2, -3, 0, ...).
int exitCodeOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return static_cast<signed char>(WEXITSTATUS(waitStatus));
    return -1000 - (WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0);
}

pid_t spawn(const std::string& root, const std::vector<std::string>& arguments) {
    Launch how;
    how.root = root.c_str();
    return launch(how, arguments);
}

}  // namespace

WedgeProcess::~WedgeProcess() {
    kill();
}

bool WedgeProcess::start(const std::string& root, const std::vector<std::string>& arguments) {
    pid_ = spawn(root, arguments);
    reaped_ = false;
    return pid_ > 0;
}

uint32_t WedgeProcess::window() const {
    for (const terminal::WindowInfo& w : terminal::windows())
        if (w.pid == pid_ && w.title == u"Keyvane") return w.handle;
    return 0;
}

bool WedgeProcess::waitLoaded(int realMilliseconds) {
    return waitFor(
               [this] {
                   return !running() ||
                          (window() != 0 && terminal::eventState("KVN_Loaded") == 1 && terminal::messageLoopIdle(pid_));
               },
               realMilliseconds) &&
           running();
}

bool WedgeProcess::idle(int realMilliseconds) {
    return waitFor([this] { return terminal::messageLoopIdle(pid_); }, realMilliseconds);
}

bool WedgeProcess::running() {
    if (pid_ <= 0 || reaped_) return false;
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) reaped_ = true;
    return !reaped_;
}

bool WedgeProcess::waitExit(int* exitCode, int realMilliseconds) {
    bool ended = waitFor([this] { return !running(); }, realMilliseconds);
    if (ended && exitCode) *exitCode = exitCodeOf(status_);
    return ended;
}

bool WedgeProcess::quit(int* exitCode, int realMilliseconds) {
    if (!running()) return waitExit(exitCode, 0);
    runKeyvane(terminal::root(), {"quit"}, realMilliseconds);
    return waitExit(exitCode, realMilliseconds);
}

void WedgeProcess::kill() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
}

int runKeyvane(const std::string& root, const std::vector<std::string>& arguments, int realMilliseconds) {
    WedgeProcess p;
    if (!p.start(root, arguments)) return -1000;
    int code = -1000;
    if (!p.waitExit(&code, realMilliseconds)) return -1000;
    return code;
}

std::string traceText(const std::string& root) {
    return testfiles::fileText((fs::path(root) / "DebugADV" / "Keyvane.txt").string());
}

std::vector<std::string> traceLines(const std::string& root) {
    std::vector<std::string> lines;
    std::istringstream in(traceText(root));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace wedge
