// Starting and stopping the wedge on a terminal, and second instances with a
// command word.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "console.h"
#include "platform/host/loader.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"

namespace console {

namespace {

using Clock = std::chrono::steady_clock;

std::string pidFile(const Options& options) {
    return options.root + "/.terminal/wedge.pid";
}
std::string logFile(const Options& options) {
    return options.root + "/.terminal/wedge.log";
}
// The exit code of the last wedge started by a console, written by its keeper.
std::string exitFile(const Options& options) {
    return options.root + "/.terminal/wedge.exit";
}

int readPid(const std::string& path) {
    std::ifstream in(path);
    int pid = 0;
    in >> pid;
    return pid;
}

bool fileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Signed exit code of a finished process (a wedge returning -3 exits 253).
int exitCode(int status) {
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        return code > 127 ? code - 256 : code;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Whether `pid` has ended; `code` gets its exit code when it was our child.
bool ended(int pid, int& code, bool& known) {
    known = false;
    if (pid <= 0) return true;
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
        code = exitCode(status);
        known = true;
        return true;
    }
    if (r == 0) return false;
    // Not our child: ask the kernel whether it still runs (zombies count as ended).
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    // Its parent may reap it between the two looks: a status that cannot be
    // read is of a process that is gone.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all;
    if (!std::getline(stat, all)) return true;
    size_t close = all.rfind(')');
    return close == std::string::npos || close + 2 >= all.size() || all[close + 2] == 'Z' || all[close + 2] == 'X';
}

bool ourWedgeRuns(const Options& options) {
    int pid = readPid(pidFile(options));
    int code = 0;
    bool known = false;
    return pid > 0 && !ended(pid, code, known);
}

int wedgeWindowPid() {
    for (const auto& w : terminal::windows())
        if (w.title == u"Keyvane") return w.pid;
    return 0;
}

bool wedgeWindowExists() {
    for (const auto& w : terminal::windows())
        if (w.title == u"Keyvane") return true;
    return false;
}

// Starts the wedge with `argument` (empty: none) on the terminal.
pid_t spawn(const Options& options, const std::string& wedge, const std::string& argument) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setsid();
    setenv("KEYVANE_TERMINAL", options.root.c_str(), 1);
    int null = open("/dev/null", O_RDONLY);
    int log = open(logFile(options).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0600);
    if (null >= 0) dup2(null, 0);
    if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
    }
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (argument.empty())
        execl(wedge.c_str(), wedge.c_str(), static_cast<char*>(nullptr));
    else
        execl(wedge.c_str(), wedge.c_str(), argument.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

// Starts the wedge under a keeper: a process of its own that waits for the
// wedge, whatever ends it (a command word, the tray menu, a signal), and
// writes its exit code to wedge.exit. Returns the wedge's pid (-1: none).
pid_t spawnKept(const Options& options, const std::string& wedge) {
    std::string exitPath = exitFile(options), partPath = exitPath + ".part";
    unlink(exitPath.c_str());
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) return -1;
    pid_t middle = fork();
    if (middle < 0) {
        close(channel[0]);
        close(channel[1]);
        return -1;
    }
    if (middle == 0) {
        // The middle process ends at once, so that the keeper is nobody's
        // child here and the console never has to reap it.
        setsid();
        if (fork() != 0) _exit(0);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != channel[1]) close(fd);
        pid_t pid = spawn(options, wedge, "");
        ssize_t put = write(channel[1], &pid, sizeof pid);
        (void)put;
        close(channel[1]);
        if (pid < 0) _exit(1);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        char text[48];
        int n = std::snprintf(text, sizeof text, "%d %d\n", static_cast<int>(pid), exitCode(status));
        int fd = open(partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ssize_t w = write(fd, text, static_cast<size_t>(n));
            (void)w;
            close(fd);
            rename(partPath.c_str(), exitPath.c_str());
        }
        _exit(0);
    }
    close(channel[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t pid = -1;
    ssize_t got = 0;
    do {
        got = read(channel[0], &pid, sizeof pid);
    } while (got < 0 && errno == EINTR);
    close(channel[0]);
    return got == static_cast<ssize_t>(sizeof pid) ? pid : -1;
}

// The exit code of the kept wedge `pid` (0: of the last one), waiting up
// to `milliseconds` for its keeper to write it; false when there is none.
bool keptExitCode(const Options& options, int pid, int milliseconds, int& code) {
    return waitUntil(deadlineIn(milliseconds), 5, nullptr, [&] {
        std::ifstream in(exitFile(options));
        int ended = 0;
        return in >> ended >> code && (pid == 0 || ended == pid);
    });
}


void showMessageBoxes(std::ostream& err, size_t from) {
    auto boxes = terminal::messageBoxes();
    for (size_t i = from; i < boxes.size(); ++i)
        err << "  message box \"" << escape(utf8(boxes[i].caption)) << "\": " << escape(utf8(boxes[i].text)) << "\n";
}

}  // namespace

Waiting::Waiting(const Options& options, std::string command, std::string what)
    : out_(options.progress), command_(std::move(command)), what_(std::move(what)), since_(Clock::now()) {}

Waiting::~Waiting() {
    if (out_ != nullptr && shown_) *out_ << "\r\033[K" << std::flush;
}

void Waiting::tick() {
    if (out_ == nullptr) return;
    auto now = Clock::now();
    // Quick waits stay silent; longer ones are redrawn a few times a second.
    if (now - since_ < std::chrono::milliseconds(300) || now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    shown_ = true;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1f", std::chrono::duration<double>(now - since_).count());
    *out_ << "\rkeyvane-terminal " << command_ << ": waiting for " << what_ << " (" << elapsed << " s)\033[K"
          << std::flush;
}

int runningWedgePid() {
    return wedgeWindowPid();
}

bool processAlive(int pid) {
    int code = 0;
    bool known = false;
    return pid > 0 && !ended(pid, code, known);
}

int wedgeRunning(const Options& options) {
    int pid = readPid(pidFile(options));
    if (processAlive(pid)) return pid;
    int window = wedgeWindowPid();
    return processAlive(window) ? window : 0;
}

bool stopWedgeFirst(const Options& options, const std::string& command, std::ostream& err) {
    std::ostringstream said, ignored;
    if (stopWedge(options, {"stop"}, ignored, said) != kOk) {
        // A wedge that does not obey "quit" is ended by force, if it is ours.
        killWedge(options);
    }
    int still = wedgeRunning(options);
    if (still == 0) return true;
    err << "keyvane-terminal " << command << ": the wedge (pid " << still
        << ") did not stop; end it first (keyvane-terminal kill)\n";
    return false;
}

std::string selfDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string wedgePath() {
    if (const char* env = std::getenv("KEYVANE_WEDGE")) return env;
    return selfDirectory() + "/keyvane";
}

std::string decoderPath() {
    return terminal::defaultDecoderLibrary();
}

int startWedge(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    // The device reads its files in silence; the console says first what it will ignore.
    if (std::string summary = checkSummary(options); !summary.empty()) err << summary << "\n";
    std::string wedge = wedgePath();
    long long timeoutMs = 20000;
    std::vector<OptionGiven> given;
    Args rest;
    if (int rc = readOptions(args[0], args, 1, kNoWords, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) {
        if (o.rule->kind == ValueKind::File) wedge = o.text;
        if (o.rule->kind == ValueKind::Duration) timeoutMs = o.number;
    }
    if (access(wedge.c_str(), X_OK) != 0) {
        err << "no wedge program at " << wedge << " (build it, or give --wedge PATH)\n";
        return kFailed;
    }
    if (ourWedgeRuns(options) || (wedgeWindowExists() && terminal::eventState("KVN_Loaded") == 1)) {
        err << "a wedge already runs on " << options.root << " (stop it first)\n";
        return kFailed;
    }
    if (terminal::config("decoder").empty() && fileExists(decoderPath())) terminal::setConfig("decoder", decoderPath());
    // The wedge creates "KVN_Loaded" signalled before it loads anything, but
    // an event another program still holds keeps its state until the wedge
    // sets it once its window runs. So a held event is reset here, and one
    // that a wedge left signalled does not count as loaded either.
    terminal::setEventState("KVN_Loaded", false);
    size_t boxesBefore = terminal::messageBoxes().size();
    pid_t pid = spawnKept(options, wedge);
    if (pid < 0) {
        err << "cannot start " << wedge << ": " << std::strerror(errno) << "\n";
        return kFailed;
    }
    {
        std::ofstream p(pidFile(options), std::ios::trunc);
        p << pid << "\n";
    }
    bool loaded = false, gone = false, known = false;
    int code = 0;
    {
        Waiting waiting(options, "start", "the wedge to signal KVN_Loaded");
        waitUntil(deadlineIn(timeoutMs), 10, &waiting, [&] {
            loaded = terminal::eventState("KVN_Loaded") == 1 && wedgeWindowExists() && terminal::messageLoopIdle(pid);
            gone = !loaded && ended(pid, code, known);
            return loaded || gone;
        });
    }
    if (loaded) {
        printRecord(options, {Field::word("state", "started"), {"pid", pid}}, out);
        return kOk;
    }
    if (gone) {
        err << "the wedge ended before it was loaded";
        if (known || keptExitCode(options, pid, 2000, code)) err << " (exit code " << code << ")";
        err << "; its output is in " << logFile(options) << "\n";
        showMessageBoxes(err, boxesBefore);
        unlink(pidFile(options).c_str());
        return kFailed;
    }
    err << "the wedge did not signal KVN_Loaded within " << durationText(timeoutMs) << " (it keeps running, pid " << pid
        << "); seen instead: "
        << (terminal::eventState("KVN_Loaded") < 0 ? std::string("no KVN_Loaded event")
                                                   : "KVN_Loaded=" + std::to_string(terminal::eventState("KVN_Loaded")))
        << ", its window " << (wedgeWindowExists() ? "shown" : "not shown") << ", its message loop "
        << (terminal::messageLoopIdle(pid) ? "waiting" : "busy") << "\n";
    showMessageBoxes(err, boxesBefore);
    return kFailed;
}

namespace {

// Runs a second instance with `word` and waits for it. Returns false when it
// did not end in time. With a `target` (the running wedge's process), an
// instance that finds no wedge window because the target ended meanwhile
// starts as a wedge itself: it is ended as soon as it shows a window, and
// `targetEnded` tells.
bool runSecondInstance(const Options& options, const std::string& command, const std::string& wedge,
                       const std::string& word, long long timeoutMs, int& code, std::ostream& err, int target = 0,
                       bool* targetEnded = nullptr) {
    if (targetEnded != nullptr) *targetEnded = false;
    pid_t pid = spawn(options, wedge, word);
    if (pid < 0) {
        err << "cannot start " << wedge << ": " << std::strerror(errno) << "\n";
        return false;
    }
    bool known = false, finished = false, tookOver = false;
    {
        Waiting waiting(options, command, "the instance with \"" + word + "\" to end");
        waitUntil(deadlineIn(timeoutMs), 5, &waiting, [&] {
            finished = ended(pid, code, known);
            int targetCode = 0;
            bool targetKnown = false;
            tookOver = !finished && target > 0 && ended(target, targetCode, targetKnown) && wedgeWindowPid() == pid;
            return finished || tookOver;
        });
    }
    if (finished) return true;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (tookOver) {
        if (targetEnded != nullptr) *targetEnded = true;
        code = 0;
        return true;
    }
    err << "the instance with \"" << word << "\" did not end within " << durationText(timeoutMs)
        << "; seen instead: " << (wedgeWindowExists() ? "the wedge's window, " : "no wedge window, ")
        << "KVN_Loaded=" << terminal::eventState("KVN_Loaded") << "\n";
    return false;
}

}  // namespace

int commandWord(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::string wedge = wedgePath();
    long long timeoutMs = 10000;
    std::string word;
    bool haveWord = false;  // "" is a word too: an empty command line
    bool force = false;
    std::vector<OptionGiven> given;
    Args rest;
    const WordRule oneWord{1, "one command word only", nullptr, nullptr};
    if (int rc = readOptions(args[0], args, 1, oneWord, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) {
        if (o.rule->kind == ValueKind::File) wedge = o.text;
        if (o.rule->kind == ValueKind::Duration) timeoutMs = o.number;
        if (o.rule->kind == ValueKind::Flag) force = true;
    }
    if (!rest.empty()) {
        word = rest[0];
        haveWord = true;
    }
    if (!haveWord) {
        return usage(
            args[0], err,
            "which command word? (quit, connect, disconnect, enable, disable; \"\" for an empty command line)");
    }
    if (!force && !ourWedgeRuns(options) && !wedgeWindowExists()) {
        err << "no wedge runs on " << options.root
            << ": a command word would start a new one (start one first, or give --force)\n";
        return kFailed;
    }
    int code = 0;
    int target = wedgeRunning(options);
    if (!runSecondInstance(options, "command", wedge, word, timeoutMs, code, err)) return kFailed;
    printRecord(options, {{"exit", code}}, out);
    // "quit" ends the wedge on purpose; any other word must leave it running.
    if (target > 0 && word != "quit" && !processAlive(target)) {
        err << "the wedge (pid " << target << ") ended while \"" << word << "\" was under way\n";
        return code != 0 ? code : kFailed;
    }
    return code;
}

int stopWedge(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    long long timeoutMs = 20000;
    std::vector<OptionGiven> given;
    Args rest;
    if (int rc = readOptions(args[0], args, 1, kNoWords, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) timeoutMs = o.number;
    int pid = readPid(pidFile(options));
    int code = 0;
    bool known = false;
    if (pid <= 0 || ended(pid, code, known)) {
        if (!wedgeWindowExists()) {
            err << "no wedge runs on " << options.root << "\n";
            return kFailed;
        }
        pid = 0;
    }
    int quitCode = 0;
    bool endedMeanwhile = false;
    int target = pid > 0 ? pid : wedgeWindowPid();
    if (!runSecondInstance(options, "stop", wedgePath(), "quit", timeoutMs, quitCode, err, target, &endedMeanwhile))
        return kFailed;
    if (endedMeanwhile) {
        unlink(pidFile(options).c_str());
        err << "the wedge ended before \"quit\" reached it\n";
        return kFailed;
    }
    if (quitCode != 0) {
        err << "the instance with \"quit\" ended with exit code " << quitCode << "\n";
        return kFailed;
    }
    bool gone = false;
    {
        Waiting waiting(options, "stop", "the wedge to end");
        // Ended, and its window gone from the terminal.
        gone = waitUntil(deadlineIn(timeoutMs), 5, &waiting,
                         [&] { return (pid <= 0 || ended(pid, code, known)) && !wedgeWindowExists(); });
    }
    if (!gone) {
        err << "the wedge did not end within " << durationText(timeoutMs) << " after \"quit\"; seen instead: "
            << (wedgeWindowExists() ? "its window still shown" : "its process still running") << "\n";
        return kFailed;
    }
    unlink(pidFile(options).c_str());
    if (!known && pid > 0) known = keptExitCode(options, pid, 2000, code);
    Record record{Field::word("state", "stopped")};
    if (known) record.emplace_back("exit", code);
    record.emplace_back("KVN_Loaded", terminal::eventState("KVN_Loaded"));
    printRecord(options, record, out);
    return kOk;
}

int wedgeStatus(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    int pid = readPid(pidFile(options));
    bool runs = ourWedgeRuns(options) || wedgeWindowExists();
    Record record{{"running", runs}};
    if (runs && pid > 0) record.emplace_back("pid", pid);
    for (const char* name : {"KVN_Loaded", "KVN_Enable", "KVN_Enable_State"})
        record.emplace_back(name, terminal::eventState(name));
    int code = 0;
    if (!runs && keptExitCode(options, 0, 0, code)) record.emplace_back("last_exit", code);
    printRecord(options, record, out);
    return kOk;
}

bool lastWedgeExit(const Options& options, int& code) {
    return keptExitCode(options, 0, 0, code);
}

bool killWedge(const Options& options) {
    int pid = readPid(pidFile(options));
    int code = 0;
    bool known = false;
    if (pid <= 0 || ended(pid, code, known)) return false;
    auto gone = [&] { return ended(pid, code, known); };
    kill(pid, SIGTERM);
    if (!waitUntil(deadlineIn(2000), 10, nullptr, gone)) {
        kill(pid, SIGKILL);
        waitUntil(deadlineIn(2000), 10, nullptr, gone);
    }
    unlink(pidFile(options).c_str());
    // Its keeper writes down the signal that ended it.
    keptExitCode(options, pid, 1000, code);
    return true;
}

int killCommand(const Options& options, const Args&, std::ostream&, std::ostream& err) {
    if (!killWedge(options)) {
        err << "no wedge started by this console runs on " << options.root << "\n";
        return kFailed;
    }
    return kOk;
}

}  // namespace console
