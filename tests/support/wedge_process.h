// Starting and stopping the real keyvane program on a host terminal root, for
// end-to-end tests.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wedge {

// A fresh terminal root in a temporary folder with Zentrova/Keyvane.ini holding
// `settingsIni` (unless !writeSettings), a DebugADV folder (trace log on), the
// built stand-in decoder and the given clock speed. The calling process is
// attached to it. Returns the root path ("" on failure).
struct RootOptions {
    std::string settingsIni = "[Settings]\r\nEnableScanner=1\r\n";
    bool writeSettings = true;
    int clockSpeed = 10;
};
std::string makeTerminalRoot(const RootOptions& options = RootOptions());

// How keyvane is started: KEYVANE_TERMINAL (unset when null), the folder it
// starts in and where its output goes (both: as the test's when empty).
struct Launch {
    const char* root = nullptr;
    std::string folder;
    std::string outPath;
    std::string errPath;
};
// Starts keyvane with the arguments, as a child that ends with the test.
pid_t launch(const Launch& how, const std::vector<std::string>& arguments);
// Removes a root made by makeTerminalRoot.
void removeTerminalRoot(const std::string& root);

// The set-up shared by the in-process fixtures: a root without Keyvane.ini at
// the clock speed, the terminal reset and every process-wide record back to
// its power-on state (resetProcessState).
std::string freshTerminal(int clockSpeed);
// A raw pseudo-terminal whose slave serves as "COM<index>:". Returns the
// master (-1 when none); the slave is closed unless `slave` takes it.
int openPeer(int comIndex, int* slave = nullptr);
// Reads from `fd` until `expected` bytes are there or the time passes; when
// `drain`, then also whatever else follows without a pause.
std::string readPeer(int fd, size_t expected, int realMilliseconds, bool drain = false);

// Sounds played ("resource:129", "file:...") and the focused field's text (UTF-8).
std::vector<std::string> soundNames();
std::string typed();
// The lines among `lines` that are one of `wanted`, in order.
std::vector<std::string> linesAmong(const std::vector<std::string>& lines, const std::vector<std::string>& wanted);

// Runs `predicate` until it holds or `realMilliseconds` pass.
bool waitFor(const std::function<bool()>& predicate, int realMilliseconds = 10000);

// One keyvane process on a terminal root.
class WedgeProcess {
public:
    WedgeProcess() = default;
    ~WedgeProcess();
    WedgeProcess(const WedgeProcess&) = delete;
    WedgeProcess& operator=(const WedgeProcess&) = delete;

    // Starts KEYVANE_BINARY_DIR/keyvane with the arguments on `root`.
    bool start(const std::string& root, const std::vector<std::string>& arguments = {});
    // Waits until the program's main window exists, "KVN_Loaded" is signalled
    // and its message loop waits for messages.
    bool waitLoaded(int realMilliseconds = 10000);
    // Waits for the end; returns true with the exit code when it ended in time.
    bool waitExit(int* exitCode, int realMilliseconds = 10000);
    bool running();
    // Waits until the message loop has handled everything posted so far.
    bool idle(int realMilliseconds = 10000);
    // Asks a running instance to quit through a second instance, then waits.
    bool quit(int* exitCode = nullptr, int realMilliseconds = 10000);
    // Ends the process at once (SIGKILL) if it still runs.
    void kill();
    pid_t pid() const { return pid_; }
    // The program's main window handle (0 until it exists).
    uint32_t window() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// Runs keyvane with the arguments to its end (a second instance); returns its
// exit code, or -1000 when it did not end within the time.
int runKeyvane(const std::string& root, const std::vector<std::string>& arguments, int realMilliseconds = 10000);

// The trace log's text ("" when absent), and its lines.
std::string traceText(const std::string& root);
std::vector<std::string> traceLines(const std::string& root);

}  // namespace wedge
