// Costs of the host terminal's layer, each against a floor measured in the
// same run; the counter "ratio" is the measured cost divided by the floor.
//
// SettingsLoad/N     loadSettings() of an N-line Keyvane.ini with no
//                    "\DebugADV" folder (every line's trace append fails)
//                    against inih's ini_parse of the same file with a handler
//                    that copies each key and value (when inih is present);
//                    both in processor time of the thread.
// WedgeIdle          processor time of the started wedge over quiet spells
//                    against a bare process that sleeps 1 ms in a loop
//                    (bench_sleep_loop; the
//                    wedge's event watch polls at that rate), the median
//                    spell's ratio.
// WedgeMemory        the started wedge's resident memory, idle and after
//                    100, 1,000 and 10,000 scans; the floor is its resident
//                    memory without the pages of the terminal's shared
//                    records.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "settings/settingstable.h"
#include "shell/app.h"
#include "shell/constants.h"

#if KEYVANE_HAVE_INIH
#include <ini.h>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string makeRoot() {
    char pattern[] = "/tmp/keyvane-hostbench-XXXXXX";
    const char* made = mkdtemp(pattern);
    std::string root = made ? made : "/tmp/keyvane-hostbench";
    fs::create_directories(root + "/Zentrova");
    terminal::attach(root);
    terminal::reset();
    terminal::setConfig("decoder", KEYVANE_DECODER_PATH);
    return root;
}

// An N-line settings file: sections with the general keys, values in range.
void writeSettings(const std::string& root, int lines) {
    static const char* const kLines[] = {
        "EnableLEDs = 1",         "EnableBeep = 1",      "InterCharacterDelay = 0", "ScanDelaySetting = 3",
        "ContinuousScan = 0",     "EnableSuffix = 1",    "AimerTimeOut = 2",        "VirbrateOnSuccessfulScan = 0",
        "; a comment line here",  "EnableSequenceEditor = 0",
    };
    std::ofstream out(root + "/Zentrova/Keyvane.ini", std::ios::binary);
    out << "[Settings]\r\n";
    for (int i = 1; i < lines; ++i) out << kLines[i % (sizeof kLines / sizeof kLines[0])] << "\r\n";
}

#if KEYVANE_HAVE_INIH
struct Copied {
    std::string section, key, value;
    size_t count = 0;
};
int copyingHandler(void* user, const char* section, const char* name, const char* value) {
    auto* c = static_cast<Copied*>(user);
    c->section = section;
    c->key = name;
    c->value = value;
    ++c->count;
    return 1;
}
#endif

// Processor time of the calling thread, in seconds: on a machine shared with
// other work, wall time would count the time others ran.
double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void SettingsLoad(benchmark::State& state) {
#if KEYVANE_HAVE_INIH
    std::string root = makeRoot();
    int lines = static_cast<int>(state.range(0));
    writeSettings(root, lines);
    resetProcessState();
    double ours = 0, floor = 0;
    for (auto _ : state) {
        double start = threadSeconds();
        resetSettings();
        BOOL loaded = loadSettings();
        double middle = threadSeconds();
        Copied copied;
        int parsed = ini_parse((root + "/Zentrova/Keyvane.ini").c_str(), copyingHandler, &copied);
        double end = threadSeconds();
        benchmark::DoNotOptimize(loaded);
        benchmark::DoNotOptimize(parsed);
        ours += middle - start;
        floor += end - middle;
        state.SetIterationTime(middle - start);
    }
    state.counters["floor_ms"] = floor * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
    fs::remove_all(root);
#else
    state.SkipWithError("inih (libinih-dev) was not found at build time");
    for (auto _ : state) {
    }
#endif
}
BENCHMARK(SettingsLoad)->Arg(1000)->Arg(10000)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ the started wedge

pid_t startWedge(const std::string& root) {
    std::ofstream(root + "/Zentrova/Keyvane.ini", std::ios::binary) << "[Settings]\r\nEnableScanner=1\r\n";
    pid_t child = fork();
    if (child == 0) {
        setenv("KEYVANE_TERMINAL", root.c_str(), 1);
        execl(KEYVANE_WEDGE_PATH, KEYVANE_WEDGE_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Up when its window is there and the loaded event is set.
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (terminal::eventState("KVN_Loaded") != 1 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return child;
}

void stop(pid_t child) {
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

// Processor time of a process so far (every thread's), in seconds.
double processorSeconds(pid_t pid) {
    double nanos = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double onCpu = 0;
        if (in >> onCpu) nanos += onCpu;
    }
    return nanos / 1e9;
}

// Resident kilobytes of a process: all, and those of the terminal's shared records.
void residentKilobytes(pid_t pid, double* all, double* records) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    bool record = false;
    *all = 0;
    *records = 0;
    while (std::getline(in, line)) {
        std::string first = line.substr(0, line.find(' '));
        if (first.find('-') != std::string::npos && first.back() != ':') {
            record = line.find("/.terminal/state/") != std::string::npos;
        } else if (line.rfind("Rss:", 0) == 0) {
            double kb = std::stod(line.substr(4));
            *all += kb;
            if (record) *records += kb;
        }
    }
}

// Moves every thread of the process onto the last processor this one may use.
void pinToOneProcessor(pid_t pid) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    int last = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) last = cpu;
    if (last < 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(last, &one);
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
        sched_setaffinity(static_cast<pid_t>(std::stoi(task.path().filename().string())), sizeof one, &one);
}

// The wedge and the floor's loop run side by side; each round compares what
// both spent in the same spell, and the ratio is the median round's, so that
// a spell in which other work on the machine disturbed one of them more than
// the other does not decide it.
void WedgeIdle(benchmark::State& state) {
    std::string root = makeRoot();
    terminal::setClockSpeed(1);
    pid_t wedge = startWedge(root);
    if (terminal::eventState("KVN_Loaded") != 1) state.SkipWithError("the wedge did not start");
    // A process of its own, not a copy of this one: a copy would carry this
    // program's mappings and threads' worth of bookkeeping into every wake-up.
    pid_t loop = fork();
    if (loop == 0) {
        execl(KEYVANE_SLEEP_LOOP_PATH, KEYVANE_SLEEP_LOOP_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Both on one processor: whatever else the machine runs disturbs them alike.
    pinToOneProcessor(wedge);
    pinToOneProcessor(loop);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> ratios;
    double ours = 0, floor = 0;
    for (auto _ : state) {
        double wedgeBefore = processorSeconds(wedge);
        double loopBefore = processorSeconds(loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        double wedgeSpent = processorSeconds(wedge) - wedgeBefore;
        double loopSpent = processorSeconds(loop) - loopBefore;
        ours += wedgeSpent;
        floor += loopSpent;
        if (loopSpent > 0) ratios.push_back(wedgeSpent / loopSpent);
        state.SetIterationTime(wedgeSpent);
    }
    stop(loop);
    stop(wedge);
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    state.counters["total_ratio"] = floor > 0 ? ours / floor : 0;
    state.counters["wedge_us_per_s"] = ours * 1e6 / (1.5 * static_cast<double>(state.iterations()));
    fs::remove_all(root);
}
BENCHMARK(WedgeIdle)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

// One scan of a text barcode through the started wedge, typed into the
// focused field; true when it was typed.
bool scanOnce(pid_t wedge, int i) {
    terminal::Barcode code;
    code.data = "SCAN" + std::to_string(i);
    std::u16string typed(code.data.begin(), code.data.end());
    terminal::putInView(code);
    terminal::pressKey(kScanKey);
    bool delivered = false;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        std::u16string text = terminal::focusText();
        if (text.size() >= typed.size() && text.compare(text.size() - typed.size(), typed.size(), typed) == 0) {
            delivered = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    terminal::releaseKey(kScanKey);
    terminal::clearView();
    // The next press waits until the wedge has taken the release.
    auto settle = Clock::now() + std::chrono::seconds(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (!terminal::messageLoopIdle(wedge) && Clock::now() < settle)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    if (i % 200 == 199) terminal::clearFocusText();
    return delivered;
}

// Resident memory of one started wedge, idle and after 100, 1,000 and N
// scans (flat when the figures agree).
void WedgeMemory(benchmark::State& state) {
    std::string root = makeRoot();
    terminal::setClockSpeed(100);
    pid_t wedge = startWedge(root);
    if (terminal::eventState("KVN_Loaded") != 1) state.SkipWithError("the wedge did not start");
    int scans = static_cast<int>(state.range(0));
    double all = 0, records = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        double idleAll = 0, idleRecords = 0;
        residentKilobytes(wedge, &idleAll, &idleRecords);
        int delivered = 0;
        for (int i = 0; i < scans; ++i) {
            if (scanOnce(wedge, i)) ++delivered;
            if (i + 1 == 100 || i + 1 == 1000) {
                double at = 0, atRecords = 0;
                residentKilobytes(wedge, &at, &atRecords);
                state.counters["MB_" + std::to_string(i + 1)] = at / 1024;
            }
        }
        residentKilobytes(wedge, &all, &records);
        if (delivered != scans) state.SkipWithError("a scan was not typed");
        state.counters["idle_MB"] = idleAll / 1024;
        state.counters["idle_ratio"] = idleAll / (idleAll - idleRecords);
    }
    stop(wedge);
    state.counters["MB"] = all / 1024;
    state.counters["records_MB"] = records / 1024;
    state.counters["ratio"] = all / (all - records);
    fs::remove_all(root);
}
BENCHMARK(WedgeMemory)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
