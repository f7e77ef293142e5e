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
//                    (bench_sleep_loop; the wedge's event watch polls at
//                    that rate), the median spell's ratio.
// WedgeMemory        the started wedge's resident memory, idle and after
//                    100, 1,000 and 10,000 scans; the floor is its resident
//                    memory without the pages of the terminal's shared
//                    records.
// WedgeTyping        a 30-character mixed-case barcode with an Enter suffix
//                    at InterCharacterDelay 1, typed by the started wedge
//                    after a scan-key press: the time from the press to the
//                    first key in the focused application against the fixed
//                    pauses before it (20 ms at the start of a pass, 2 ms
//                    before the good-read light), and the time from the first
//                    key to the last against the keystroke pauses between
//                    them (2 ms for each key, the character delay after each
//                    character). Each floor is the same pauses slept by a bare
//                    thread right after the scan; medians of the iterations
//                    (of each delivery's ratio to its floor).
// WedgeTypingLengths 10, 100, 1,000 and 4,000 characters (no delay, no
//                    suffix) typed by the started wedge, the lengths taking
//                    turns in rounds: for each, the processor time per
//                    character of the wedge's typing thread, against 10
//                    characters' in the same round (the median of the
//                    rounds), and the time per character above the same
//                    pauses slept by a bare thread.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    double n = static_cast<double>(state.iterations());
    state.counters["floor_ms"] = floor * 1000 / n;
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

pid_t startWedge(const std::string& root, const std::string& settings = "[Settings]\r\nEnableScanner=1\r\n") {
    std::ofstream(root + "/Zentrova/Keyvane.ini", std::ios::binary) << settings;
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

// Times the threads of a process were put on a processor so far (each
// wake-up of a sleeping thread is one).
double runs(pid_t pid) {
    double count = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double onCpu = 0, waiting = 0, slices = 0;
        if (in >> onCpu >> waiting >> slices) count += slices;
    }
    return count;
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
    double wedgeRuns = 0, loopRuns = 0;
    for (auto _ : state) {
        double wedgeBefore = processorSeconds(wedge), wedgeRunsBefore = runs(wedge);
        double loopBefore = processorSeconds(loop), loopRunsBefore = runs(loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        double wedgeSpent = processorSeconds(wedge) - wedgeBefore;
        double loopSpent = processorSeconds(loop) - loopBefore;
        wedgeRuns += runs(wedge) - wedgeRunsBefore;
        loopRuns += runs(loop) - loopRunsBefore;
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
    // Wake-ups a second of each: alike when both keep the same time.
    state.counters["wedge_runs_per_s"] = wedgeRuns / (1.5 * static_cast<double>(state.iterations()));
    state.counters["floor_runs_per_s"] = loopRuns / (1.5 * static_cast<double>(state.iterations()));
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

// ------------------------------------------------------------------ typing through the started wedge

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A pause as a bare thread keeps it: one relative sleep with the finest timer
// slack, the best a sleeping thread gets from this machine at this moment.
void bareSleep(int milliseconds) {
    static thread_local bool fine = (prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL), true);
    (void)fine;
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// Processor time of one thread of a process so far, in seconds.
double threadProcessorSeconds(pid_t pid, pid_t tid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/schedstat");
    double onCpu = 0;
    in >> onCpu;
    return onCpu / 1e9;
}

std::string typingSettings(int interCharacterDelay, bool enterSuffix) {
    std::string text = "[Settings]\r\nEnableScanner=1\r\nInterCharacterDelay=" + std::to_string(interCharacterDelay) + "\r\n";
    if (enterSuffix) text += "Suffix=13\r\n";
    return text;
}

// `length` characters of mixed case: every other letter needs Shift.
std::string mixedCase(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>((i % 2 ? 'a' : 'A') + static_cast<char>(i % 26)));
    return text;
}

// Waits until the started wedge has settled in its message loop.
void settle(pid_t wedge) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    while (!terminal::messageLoopIdle(wedge) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
}

// One scan of `data` by the started wedge: the times (ms after the press) at
// which the first and the last of `typed` characters were in the focused
// application, and the processor seconds the wedge's main thread spent
// between them. False when the text did not come.
//
// The processor time is read when this process has seen a character come,
// a moment after the wedge pressed its key. It is exact, from one key press
// to another, when the wedge still held the key down at the reading (it
// lets it go after the key's pause); `exact` says whether both readings
// were, for a barcode of letters typed without a suffix.
struct ScanTimes {
    double firstKey = 0, lastKey = 0, processor = 0;
    bool exact = false;
};
int letterKey(char c) {
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}
bool timedScan(pid_t wedge, const std::string& data, size_t typed, ScanTimes* times) {
    terminal::clearFocusText();
    terminal::Barcode code;
    code.data = data;
    terminal::putInView(code);
    auto pressed = Clock::now();
    terminal::pressKey(kScanKey);
    size_t first = terminal::waitFocusText(1, 5000);
    times->firstKey = millisSince(pressed);
    double cpuStart = threadProcessorSeconds(wedge, wedge);
    bool startHeld = terminal::keyDown(letterKey(data.front()));
    size_t all = terminal::waitFocusText(typed, 5000 + static_cast<int>(typed) * 20);
    times->lastKey = millisSince(pressed);
    times->processor = threadProcessorSeconds(wedge, wedge) - cpuStart;
    times->exact = startHeld && terminal::keyDown(letterKey(data.back()));
    terminal::releaseKey(kScanKey);
    terminal::clearView();
    settle(wedge);  // the next press waits until the wedge has taken the release
    return first >= 1 && all >= typed;
}

void WedgeTyping(benchmark::State& state) {
    std::string root = makeRoot();
    terminal::setClockSpeed(1);
    terminal::setFocusClass(u"Edit");
    pid_t wedge = startWedge(root, typingSettings(1, true));
    if (terminal::eventState("KVN_Loaded") != 1) state.SkipWithError("the wedge did not start");
    settle(wedge);
    const std::string barcode = "AbCdEfGhIjKlMnOpQrStUvWxYz0a1B";
    std::vector<double> latency, latencyFloor, delivery, deliveryFloor;
    for (auto _ : state) {
        ScanTimes t;
        if (!timedScan(wedge, barcode, barcode.size() + 1, &t)) {
            state.SkipWithError("the barcode was not typed");
            break;
        }
        // The same pauses slept by a bare thread: before the first key, the
        // start of a pass and the wait before the good-read light; between
        // the first key and the Enter, each character's key pause, its yield
        // and the character delay.
        auto bare = Clock::now();
        bareSleep(20);
        bareSleep(2);
        double bareLatency = millisSince(bare);
        bare = Clock::now();
        for (size_t i = 0; i < barcode.size(); ++i) {
            bareSleep(2);
            sched_yield();
            bareSleep(1);
        }
        double bareDelivery = millisSince(bare);
        latency.push_back(t.firstKey);
        latencyFloor.push_back(bareLatency);
        delivery.push_back(t.lastKey - t.firstKey);
        deliveryFloor.push_back(bareDelivery);
        state.SetIterationTime(t.lastKey / 1000);
    }
    stop(wedge);
    // The whole delivery's pauses, 13 ms of which follow the Enter key.
    state.counters["pauses_ms"] = 30 * (2.0 + 1.0) + (2.0 + 10.0 + 1.0);
    state.counters["first_key_ms"] = median(latency);
    state.counters["first_key_floor_ms"] = median(latencyFloor);
    state.counters["first_key_over_ms"] = median(latency) - median(latencyFloor);
    state.counters["delivery_ms"] = median(delivery);
    state.counters["delivery_floor_ms"] = median(deliveryFloor);
    // Each delivery against the floor slept right after it, the median of
    // those: a busy spell of the machine weighs on both of a pair.
    std::vector<double> ratios;
    for (size_t i = 0; i < delivery.size(); ++i)
        if (deliveryFloor[i] > 0) ratios.push_back(delivery[i] / deliveryFloor[i]);
    state.counters["ratio"] = median(ratios);
    state.counters["nominal_ratio"] = median(delivery) / (30 * (2.0 + 1.0));
    fs::remove_all(root);
}
BENCHMARK(WedgeTyping)->Iterations(41)->UseManualTime()->Unit(benchmark::kMillisecond);

void WedgeTypingLengths(benchmark::State& state) {
    std::string root = makeRoot();
    // At the terminal's own speed: with its pauses shortened, a long barcode
    // is typed with hardly a rest between keys, which this machine charges
    // 5 to 15 per cent more for than the short bursts of a short one (more
    // again when the wedge shares one processor with others), unlike
    // anything a user's terminal does.
    terminal::setClockSpeed(1);
    terminal::setFocusClass(u"Edit");
    pid_t wedge = startWedge(root, typingSettings(0, false));
    if (terminal::eventState("KVN_Loaded") != 1) state.SkipWithError("the wedge did not start");
    settle(wedge);
    // The lengths take turns, each typing the same number of characters in
    // a round. Each round gives every length's cost against the shortest's
    // in that round, and the median of the rounds is reported: a busy
    // neighbour on a shared host weighs on the lengths of a round alike, and
    // on few rounds.
    // Arguments: the rounds, and the longest length (a round types that
    // many characters at each length up to it).
    constexpr size_t kLengths[] = {10, 100, 1000, 4000};
    const int rounds = static_cast<int>(state.range(0));
    const size_t longest = static_cast<size_t>(state.range(1));
    constexpr size_t kMost = std::size(kLengths);
    size_t count = 0;
    while (count < kMost && kLengths[count] <= longest) ++count;
    const double perRound = static_cast<double>(longest);
    std::vector<double> over[kMost], cost[kMost], ratio[kMost];
    double wall = 0, inexact = 0;
    bool failed = false;
    for (auto _ : state) {
        for (int round = 0; round < rounds && !failed; ++round) {
            double processor[kMost] = {}, characters[kMost] = {}, typed[kMost] = {};
            for (;;) {
                // Next, the length whose next scan's middle comes first in
                // the round's course: a 4,000-character scan falls in its
                // middle, between the shorter lengths' first halves and
                // their second, and a drift of the machine over the round
                // weighs on it as on them.
                size_t next = count;
                auto middle = [&](size_t i) { return typed[i] + static_cast<double>(kLengths[i]) / 2; };
                for (size_t i = 0; i < count; ++i)
                    if (typed[i] < perRound && (next == count || middle(i) < middle(next))) next = i;
                if (next == count) break;
                size_t length = kLengths[next];
                ScanTimes t;
                if (!timedScan(wedge, mixedCase(length), length, &t)) {
                    state.SkipWithError("the barcode was not typed");
                    failed = true;
                    break;
                }
                typed[next] += static_cast<double>(length);
                wall += t.lastKey;
                // A reading taken late would leave out, or take in, part of a
                // character's work: the scan is left out.
                if (!t.exact) {
                    ++inexact;
                    continue;
                }
                // Between the first key and the last, each character but the
                // first sleeps 2 ms and yields; the bare floor is that pause
                // measured over up to 20 characters.
                size_t pauses = std::min<size_t>(length - 1, 20);
                auto bare = Clock::now();
                for (size_t i = 0; i < pauses; ++i) {
                    bareSleep(2);
                    sched_yield();
                }
                double barePause = millisSince(bare) / static_cast<double>(pauses);
                double typing = t.lastKey - t.firstKey;
                over[next].push_back((typing - barePause * static_cast<double>(length - 1)) * 1000 /
                                     static_cast<double>(length - 1));
                processor[next] += t.processor;
                characters[next] += static_cast<double>(length - 1);
            }
            if (failed) break;
            // All the round's processor time over all its characters: work
            // done once for many keys (the key log is written 64 events at a
            // time) falls in some short scans and not in others, and counts
            // as its share.
            double perChar[kMost] = {};
            for (size_t i = 0; i < count; ++i) {
                if (characters[i] == 0) continue;  // every scan of it left out
                perChar[i] = processor[i] * 1e6 / characters[i];
                cost[i].push_back(perChar[i]);
                if (perChar[0] > 0) ratio[i].push_back(perChar[i] / perChar[0]);
            }
        }
        state.SetIterationTime(wall / 1000);
    }
    stop(wedge);
    for (size_t i = 0; i < count && !failed; ++i) {
        std::string n = std::to_string(kLengths[i]);
        state.counters["over_us_per_char_" + n] = median(over[i]);
        state.counters["cpu_us_per_char_" + n] = median(cost[i]);
        state.counters["ratio_" + n] = median(ratio[i]);
    }
    state.counters["inexact_scans"] = inexact;
    fs::remove_all(root);
}
BENCHMARK(WedgeTypingLengths)->Args({6, 4000})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(WedgeTypingLengths)->Args({1, 100})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
