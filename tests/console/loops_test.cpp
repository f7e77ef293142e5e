// The wedge on one terminal root through a long working life, as the console
// drives it: many stops and starts, each checked by a switch of the named
// events, and many kills at random moments (idle, scanning, typing, reading a
// card, starting, stopping), each followed by start, scan, stop and reset.
// A hang or a lost switch fails the loop, with the seed that replays it; how
// many steps took longer than a second is printed (a figure, not a check:
// the machine's load decides it).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "shell/constants.h"
#include "tests/console/console_fixture.h"
#include "tests/support/temp_root.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Sanitizer builds run fewer rounds: they look for races, not for numbers.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRestartRounds = 10;
constexpr int kKillRounds = 20;
#else
constexpr int kRestartRounds = 100;
constexpr int kKillRounds = 200;
#endif
// A step is done within a second on an idle machine; one still not done
// after a minute has hung, and fails at once.
constexpr int kStepMilliseconds = 1000;
constexpr int kHangMilliseconds = 60000;

const std::string kBarcode = "4006381333931";

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool waitFor(const std::function<bool()>& predicate, int realMilliseconds) {
    auto end = Clock::now() + std::chrono::milliseconds(realMilliseconds);
    for (;;) {
        if (predicate()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}


class Loops : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testfiles::makeTempFolder("keyvane-loops");
        ASSERT_FALSE(dir_.empty());
        root_ = dir_ + "/terminal";
        ASSERT_EQ(run({"init", "--from", std::string(KEYVANE_SOURCE_DIR) + "/samples/terminal"}).code, 0);
        ASSERT_EQ(run({"config", "clock", "10"}).code, 0);
        ASSERT_TRUE(terminal::attach(root_));
        seed_ = static_cast<unsigned>(std::random_device{}());
        random_.seed(seed_);
    }

    void TearDown() override {
        run({"kill"});
        std::error_code ec;
        for (int i = 0; i < 5 && fs::exists(dir_); ++i) {
            fs::remove_all(dir_, ec);
            if (fs::exists(dir_)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    struct Result {
        int code = -1;  // -1: did not end in time (then killed)
        long long milliseconds = 0;
        std::string out, err;
    };

    // Starts keyvane-terminal --root <root> ARGS; its output goes to files
    // named by `tag`.
    pid_t launch(const std::vector<std::string>& words, const std::string& tag) {
        std::vector<std::string> args{std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal", "--root", root_};
        args.insert(args.end(), words.begin(), words.end());
        return consoletest::startProgram(args, dir_ + "/" + tag + ".out", dir_ + "/" + tag + ".err");
    }

    // Waits for a console started by launch; kills it when it outlives the time.
    Result finish(pid_t pid, const std::string& tag, Clock::time_point started, int realMilliseconds) {
        Result r;
        int status = 0;
        auto deadline = started + std::chrono::milliseconds(realMilliseconds);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                r.milliseconds = millisSince(started);
                r.err = testfiles::fileText(dir_ + "/" + tag + ".err");
                return r;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        r.milliseconds = millisSince(started);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = testfiles::fileText(dir_ + "/" + tag + ".out");
        r.err = testfiles::fileText(dir_ + "/" + tag + ".err");
        return r;
    }

    Result run(const std::vector<std::string>& words, int realMilliseconds = 20000) {
        Clock::time_point started = Clock::now();
        return finish(launch(words, "step"), "step", started, realMilliseconds);
    }

    // A console step that must succeed within the step time.
    void step(const std::vector<std::string>& words) {
        Result r = run(words, kHangMilliseconds);
        ASSERT_EQ(r.code, 0) << words[0] << " (" << r.milliseconds << " ms): " << r.err;
        timed(words[0], r.milliseconds);
    }

    // Counts a step that took longer than the step time.
    void timed(const std::string& what, long long ms) {
        ++steps_;
        if (ms > kStepMilliseconds) {
            ++slowSteps_;
            std::printf("slow step: %s took %lld ms\n", what.c_str(), ms);
        }
    }

    void printStepTimes() {
        std::printf("[ steps    ] %d of %d steps took over %d ms\n", slowSteps_, steps_, kStepMilliseconds);
    }

    int wedgePid() { return std::atoi(testfiles::fileText(root_ + "/.terminal/wedge.pid").c_str()); }

    // A scan as a person does it: the barcode in view, the scan key held
    // until the good read is typed, then let go; the wedge is idle again.
    void scan() {
        Clock::time_point started = Clock::now();
        int pid = wedgePid();
        terminal::clearFocusText();
        terminal::Barcode barcode;
        barcode.data = kBarcode;
        barcode.symbologyLetter = 'd';
        terminal::putInView(barcode);
        terminal::pressKey(kScanKey);
        bool typed = waitFor([] { return terminal::focusText() == u"4006381333931\n"; }, kHangMilliseconds);
        terminal::releaseKey(kScanKey);
        terminal::clearView();
        ASSERT_TRUE(typed) << "typed: " << hostText(terminal::focusText());
        ASSERT_TRUE(waitFor([pid] { return terminal::messageLoopIdle(pid); }, kHangMilliseconds));
        timed("scan", millisSince(started));
    }

    static std::string hostText(const std::u16string& text) { return std::string(text.begin(), text.end()); }

    // The named-event switch another program makes: off, then on again, each
    // obeyed (the scanner state in force follows) within the step time.
    void switchByEvents() {
        for (bool on : {false, true}) {
            Clock::time_point started = Clock::now();
            Result r = run({"event", "KVN_Enable", on ? "set" : "reset"}, kHangMilliseconds);
            ASSERT_EQ(r.code, 0) << r.err;
            bool obeyed = waitFor([on] { return terminal::eventState("KVN_Enable_State") == (on ? 1 : 0); },
                                  kHangMilliseconds);
            ASSERT_TRUE(obeyed) << "KVN_Enable " << (on ? "set" : "reset") << " was not obeyed";
            timed(on ? "KVN_Enable set" : "KVN_Enable reset", millisSince(started));
        }
    }

    int randomBelow(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
    void sleepRandom(int upToMicroseconds) {
        std::this_thread::sleep_for(std::chrono::microseconds(randomBelow(upToMicroseconds)));
    }

    std::string dir_, root_;
    unsigned seed_ = 0;
    std::mt19937 random_;
    int steps_ = 0;
    int slowSteps_ = 0;
};

// Half the rounds another program holds "KVN_Loaded" (and so keeps it, reset,
// across the restart); the other half nothing holds the events between runs.
TEST_F(Loops, StopAndStartOnOneRootAHundredTimesAndTheEventsStillSteerTheScanner) {
    SCOPED_TRACE("seed " + std::to_string(seed_));
    HANDLE held = nullptr;
    for (int round = 0; round < kRestartRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(step({"start"}));
        if (round % 2 == 1 && held == nullptr) held = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Loaded");
        if (round % 2 == 0 && held != nullptr) {
            CloseHandle(held);
            held = nullptr;
        }
        ASSERT_NO_FATAL_FAILURE(switchByEvents());
        ASSERT_NO_FATAL_FAILURE(step({"stop"}));
        EXPECT_EQ(terminal::eventState("KVN_Loaded"), held != nullptr ? 0 : -1);
    }
    if (held != nullptr) CloseHandle(held);
    printStepTimes();
}

TEST_F(Loops, KilledAtRandomMomentsTwoHundredTimesTheWedgeStartsScansAndStopsEachTime) {
    SCOPED_TRACE("seed " + std::to_string(seed_));
    const char* const moments[] = {"idle", "mid-scan", "mid-delivery", "mid-swipe", "mid-start", "mid-stop"};
    ASSERT_EQ(run({"focus", "Edit"}).code, 0);
    for (int round = 0; round < kKillRounds; ++round) {
        int moment = randomBelow(6);
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", killed " + moments[moment]);
        pid_t background = -1;
        int pid = 0;
        Clock::time_point backgroundStarted = Clock::now();
        if (moment == 4) {
            background = launch({"start"}, "background");
            ASSERT_TRUE(waitFor([&] { return (pid = wedgePid()) > 0; }, kHangMilliseconds));
            sleepRandom(60000);
        } else {
            ASSERT_NO_FATAL_FAILURE(step({"start"}));
            pid = wedgePid();
            ASSERT_GT(pid, 0);
            terminal::Barcode barcode;
            barcode.data = kBarcode;
            barcode.symbologyLetter = 'd';
            switch (moment) {
                case 0:
                    sleepRandom(20000);
                    break;
                case 1:
                    terminal::putInView(barcode);
                    terminal::pressKey(kScanKey);
                    sleepRandom(15000);
                    break;
                case 2:
                    terminal::putInView(barcode);
                    terminal::pressKey(kScanKey);
                    waitFor([] { return !terminal::focusText().empty(); }, kStepMilliseconds);
                    sleepRandom(10000);
                    break;
                case 3:
                    terminal::swipeCard("%B4111111111111111^DOE/JOHN^2512?");
                    sleepRandom(20000);
                    break;
                case 5:
                    background = launch({"stop"}, "background");
                    sleepRandom(60000);
                    break;
            }
        }
        kill(pid, SIGKILL);
        terminal::releaseKey(kScanKey);
        terminal::clearView();
        if (background > 0) {
            // The console's own start or stop notices the end and returns.
            Result r = finish(background, "background", backgroundStarted, kHangMilliseconds);
            ASSERT_NE(r.code, -1) << "the console's " << moments[moment] << " hung on a killed wedge";
        }
        ASSERT_TRUE(waitFor([] { return terminal::windows().empty(); }, kHangMilliseconds));
        // A key the killed wedge left down stays down, as on the device; the
        // user lets it go.
        for (int key : {VK_SHIFT, VK_CONTROL, 0x12}) terminal::releaseKey(key);

        ASSERT_NO_FATAL_FAILURE(step({"start"}));
        ASSERT_NO_FATAL_FAILURE(scan());
        ASSERT_NO_FATAL_FAILURE(step({"stop"}));
        ASSERT_NO_FATAL_FAILURE(step({"reset"}));
        ASSERT_EQ(run({"focus", "Edit"}).code, 0);
    }
    printStepTimes();
}

}  // namespace
