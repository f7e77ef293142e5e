// X11 servers, the key recorder and the console's scenarios for the desktop
// keyboard's tests. Every process started here ends with the test process
// (PR_SET_PDEATHSIG) and with its owner object.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace desktop {

// Whether the X virtual framebuffer server is installed ("" when it is, else why not).
std::string missingXvfb();

// A child process, with its standard output read into `output` when piped.
pid_t spawn(const std::vector<std::string>& argv, int* stdoutPipe = nullptr, const std::string& display = "");
// Runs a program to its end; returns its standard output (and its exit code).
std::string runProgram(const std::vector<std::string>& argv, const std::string& display, int* exitCode = nullptr);

// A private Xvfb server.
class XServer {
public:
    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    // Starts the server on `number` (-1: a free number the server picks) and
    // waits until it takes connections.
    bool start(int number = -1);
    // Ends the server at once (SIGKILL) and waits for its end.
    void kill();
    std::string name() const { return ":" + std::to_string(number_); }
    int number() const { return number_; }

private:
    pid_t pid_ = -1;
    int number_ = -1;
};

// The key recorder (tests/desktop/recorder) on a display.
class Recorder {
public:
    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    // Starts it with the window class and waits until its window has the focus.
    // `options`: the recorder's own ("--lag", "50", "--no-ping").
    bool start(const std::string& display, const std::string& windowClass = "KeyRecorder",
               const std::vector<std::string>& options = {});
    void stop();
    // The text received so far (UTF-8, each press's characters in order).
    std::string text();
    // The recorded lines so far ("press KEYCODE STATE HEX").
    std::vector<std::string> lines();
    // Waits until the text received has at least `bytes` bytes.
    bool waitBytes(size_t bytes, int realMilliseconds = 20000);
    void clear();

private:
    void readLoop(int fd);
    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::string text_;
    bool ready_ = false;
    bool ended_ = false;
};

// Runs a scenario text with the console (`keyvane-terminal run`) in the
// folder `dir`; returns its output and sets the exit code.
std::string runScenario(const std::string& dir, const std::string& scenario, int* exitCode);

// Raw bytes with "\xHH" escapes for the scenario language.
std::string scenarioEscape(const std::string& bytes);

// A temporary folder (removed by the caller with removeFolder).
std::string tempFolder();
void removeFolder(const std::string& path);

}  // namespace desktop

namespace desktop {

// Runs a console command on the terminal root `root`; returns its output.
std::string console(const std::string& root, const std::vector<std::string>& args, int* exitCode = nullptr);
// A terminal root made with `init`, its display set to `display`.
std::string makeDesktopRoot(const std::string& dir, const std::string& display);
// The lines of the terminal's desktop log.
std::string desktopLog(const std::string& root);
// Waits until `predicate` holds or the real time passes.
bool waitUntil(const std::function<bool()>& predicate, int realMilliseconds = 20000);

}  // namespace desktop
