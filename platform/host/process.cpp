// Programs of the host terminal. CreateProcessW starts the host program that
// terminal::installProgram registered for the device path, else the device
// path's own file in the root when it is executable. The argument text is
// handed over as ONE argument (argv[1]), so its quoting is the program's own
// business. The child attaches to the same terminal (KEYVANE_TERMINAL).
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"

extern char** environ;

namespace {

using ProcessState = host::Completion;
using ProcessObject = host::CompletionObject;

// The primary thread's handle: it can be waited on like the process.
using ThreadOfProcess = ProcessObject;

std::string programKey(const std::u16string& devicePath) {
    std::string path = host::lowerAscii(host::toUtf8(devicePath));
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.empty() || path[0] != '\\') path.insert(path.begin(), '\\');
    return "program:" + path;
}

bool isExecutable(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

namespace host {

uint64_t processStartTime(int32_t pid) {
    if (pid <= 0) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char line[1024];
    ssize_t n = read(fd, line, sizeof line - 1);
    close(fd);
    if (n <= 0) return 0;
    line[n] = 0;
    // "pid (name) state ppid ...": the name may hold blanks and parentheses,
    // so the fields are counted from the last ')'. The start time is field 22.
    const char* p = std::strrchr(line, ')');
    if (p == nullptr || p[1] != ' ') return 0;
    char state = p[2];
    if (state == 'Z' || state == 'X' || state == 'x') return 0;
    p += 2;
    for (int field = 3; field < 22; ++field) {
        p = std::strchr(p, ' ');
        if (p == nullptr) return 0;
        ++p;
    }
    uint64_t started = std::strtoull(p, nullptr, 10);
    return started != 0 ? started : 1;
}

namespace {
// This process's identity, asked of the system once: a forked child forgets
// its parent's.
struct OwnIdentity {
    std::atomic<int32_t> pid{0};
    std::atomic<uint64_t> started{0};
};
OwnIdentity& ownIdentity() {
    static OwnIdentity* own = [] {
        auto* fresh = new OwnIdentity;  // read by detached threads at exit
        pthread_atfork(nullptr, nullptr, [] { ownIdentity().pid.store(0, std::memory_order_release); });
        return fresh;
    }();
    return *own;
}
}  // namespace

ProcessIdentity currentProcess() {
    OwnIdentity& own = ownIdentity();
    int32_t pid = own.pid.load(std::memory_order_acquire);
    if (pid == 0) {
        pid = static_cast<int32_t>(getpid());
        own.started.store(processStartTime(pid), std::memory_order_relaxed);
        own.pid.store(pid, std::memory_order_release);
    }
    return ProcessIdentity{pid, own.started.load(std::memory_order_relaxed)};
}

bool processRuns(const ProcessIdentity& id) {
    if (id.pid <= 0 || id.started == 0) return false;
    ProcessIdentity self = currentProcess();
    if (id.pid == self.pid) return id.started == self.started;
    return processStartTime(id.pid) == id.started;
}

}  // namespace host

namespace terminal {
void installProgram(const std::u16string& devicePath, const std::string& hostExecutable) {
    setConfig(programKey(devicePath), hostExecutable);
}
}  // namespace terminal

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                    DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION processInformation) {
    host::NewsOnReturn news;
    if (applicationName == nullptr || applicationName[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string device(applicationName);
    std::string program = terminal::config(programKey(device));
    if (program.empty()) {
        std::string path = terminal::hostPath(device);
        if (isExecutable(path)) program = path;
    }
    if (program.empty() || !isExecutable(program)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    std::string argument = commandLine != nullptr ? host::toUtf8(commandLine) : std::string();
    std::vector<char*> argv;
    argv.push_back(program.data());
    if (commandLine != nullptr) argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::string terminalVariable = "KEYVANE_TERMINAL=" + terminal::root();
    std::vector<char*> envp;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (std::strncmp(*e, "KEYVANE_TERMINAL=", 17) != 0) envp.push_back(*e);
    envp.push_back(terminalVariable.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = ETXTBSY;
    // A program file just written may still be open in a child being forked
    // by another thread for a moment.
    for (int attempt = 0; attempt < 50 && rc == ETXTBSY; ++attempt) {
        rc = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data());
        if (rc == ETXTBSY) usleep(2000);
    }
    if (rc != 0) {
        SetLastError(host::errorFromErrno(rc));
        return FALSE;
    }

    auto state = std::make_shared<ProcessState>();
    try {
        std::thread([state, pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            DWORD code = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                           : 0x80000000u | static_cast<DWORD>(WTERMSIG(status));
            {
                std::lock_guard<std::mutex> guard(state->mutex);
                state->code = code;
                state->done = true;
            }
            state->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // Without a reaper the program still runs; its end is never seen.
    }

    HANDLE process = host::add(std::make_shared<ProcessObject>(state));
    if (processInformation != nullptr) {
        processInformation->hProcess = process;
        processInformation->hThread = host::add(std::make_shared<ThreadOfProcess>(state));
        processInformation->dwProcessId = static_cast<DWORD>(pid);
        processInformation->dwThreadId = static_cast<DWORD>(pid);
    } else {
        CloseHandle(process);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
