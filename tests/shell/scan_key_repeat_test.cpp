// The scan key pressed again and again: every hot-key message reaches the
// message loop that owns it, whether it arrives while the loop waits, while
// the previous message is still being handled, or just as the handler
// returns; none is left waiting in a queue.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "platform/host/shared.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "settings/keytable.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

constexpr int kScanKey = 42;

size_t linesTyped() {
    std::string text = scanloop::typed();
    size_t n = 0;
    for (char c : text) n += c == '\n' ? 1 : 0;
    return n;
}

// The lights of the fallback model: scanning on 1, good read on 2. A read
// turns both off once it sees the key up, just before it returns.
bool goodReadLight() {
    return terminal::ledState(2) == 1;
}
bool lightsOff() {
    return terminal::ledState(1) == 0 && terminal::ledState(2) == 0;
}

class ScanKeyRepeatTest : public ::testing::Test {
protected:
    void SetUp() override {
        wedge::RootOptions options;
        options.settingsIni = "[Settings]\r\nEnableScanner=1\r\nSuffix=13\r\n";
        options.clockSpeed = 20;
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
        terminal::setConfig("keypad", std::to_string(keypadFamily(kFallbackDeviceModel)));
        ASSERT_TRUE(program_.start(root_));
        ASSERT_TRUE(program_.waitLoaded());
    }
    void TearDown() override {
        terminal::releaseKey(kScanKey);
        program_.kill();
        wedge::removeTerminalRoot(root_);
    }
    std::string state() const {
        return "queued " + std::to_string(terminal::queuedMessages(program_.pid())) + ", loop idle " +
               std::to_string(terminal::messageLoopIdle(program_.pid())) + ", typed " + std::to_string(linesTyped());
    }

    std::string root_;
    wedge::WedgeProcess program_;
};

// Each press follows the previous one once its read has seen the key up,
// within a few milliseconds, while the program is on its way back to its
// message loop or has just begun to wait there.
TEST_F(ScanKeyRepeatTest, PressRightAfterTheReadEndsIsHandled) {
    terminal::putInView(scanloop::barcode("4006381333931"));
    std::mt19937 random(4242);
    constexpr size_t kPresses = 120;
    for (size_t i = 0; i < kPresses; ++i) {
        SCOPED_TRACE("press " + std::to_string(i + 1));
        terminal::pressKey(kScanKey);
        ASSERT_TRUE(wedge::waitFor([i] { return linesTyped() == i + 1; }, 5000)) << state();
        ASSERT_TRUE(goodReadLight());
        terminal::releaseKey(kScanKey);
        ASSERT_TRUE(wedge::waitFor(lightsOff, 5000)) << state();
        int gap = std::uniform_int_distribution<int>(0, 3)(random);
        if (gap) std::this_thread::sleep_for(std::chrono::microseconds(gap * 500));
    }
    ASSERT_TRUE(program_.idle()) << state();
    EXPECT_EQ(0, terminal::queuedMessages(program_.pid()));
    EXPECT_EQ(kPresses, linesTyped());
}

// A press made while the read still waits for the key to come up (released
// and pressed again within one poll) continues that read; its own hot-key
// message is handled once the read returns, finds the key up and scans
// nothing. Should the read see the short release after all, the press starts
// a read of its own. Either way the program then waits idle with nothing
// queued, every read that started typed the barcode, and the next press
// reads again.
TEST_F(ScanKeyRepeatTest, PressWithinTheReleasePollIsHandledAfterTheRead) {
    terminal::putInView(scanloop::barcode("4006381333931"));
    auto reads = [this] { return static_cast<size_t>(scanloop::countOf(wedge::traceLines(root_), "Start Scan")); };
    size_t continued = 0;
    for (size_t i = 0; i < 10; ++i) {
        SCOPED_TRACE("round " + std::to_string(i + 1));
        size_t before = linesTyped();
        terminal::pressKey(kScanKey);
        ASSERT_TRUE(wedge::waitFor([before] { return linesTyped() == before + 1; }, 5000)) << state();
        // The read now polls the key every 40 terminal milliseconds (2 real).
        terminal::releaseKey(kScanKey);
        terminal::pressKey(kScanKey);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        terminal::releaseKey(kScanKey);
        ASSERT_TRUE(program_.idle()) << state();
        EXPECT_EQ(0, terminal::queuedMessages(program_.pid()));
        EXPECT_EQ(reads(), linesTyped());
        continued += linesTyped() == before + 1 ? 1 : 0;
    }
    EXPECT_GT(continued, 0u);
    size_t before = linesTyped();
    terminal::pressKey(kScanKey);
    EXPECT_TRUE(wedge::waitFor([before] { return linesTyped() == before + 1; }, 5000)) << state();
}

// ---------------------------------------------------------------- in-process

std::atomic<int> handled{0};
std::atomic<int> handlerPause{0};  // microseconds of work per hot key

LRESULT CALLBACK hotKeyProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_HOTKEY) {
        int pause = handlerPause.load();
        if (pause) std::this_thread::sleep_for(std::chrono::microseconds(pause));
        handled.fetch_add(1);
    }
    return 0;
}

class HotKeyQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        wedge::RootOptions options;
        options.writeSettings = false;
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
        handled = 0;
        handlerPause = 0;
        static bool registered = false;
        if (!registered) {
            WNDCLASSW c = {};
            c.lpfnWndProc = hotKeyProc;
            c.lpszClassName = u"HotKeyLoop";
            registered = RegisterClassW(&c) != 0;
        }
        ASSERT_TRUE(registered);
    }
    void TearDown() override {
        terminal::releaseKey(kScanKey);
        stop_ = true;
        if (window_) PostMessageW(window_, WM_USER, 0, 0);  // wakes the loop to see `stop_`
        if (loop_.joinable()) loop_.join();
        wedge::removeTerminalRoot(root_);
    }

    // A message loop on its own thread, owning a window that holds the scan key.
    void startLoop() {
        std::atomic<bool> ready{false};
        loop_ = std::thread([this, &ready] {
            HWND w = CreateWindowExW(0, u"HotKeyLoop", u"Loop", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
            if (w && RegisterHotKey(w, kScanKey, 0, kScanKey)) window_ = w;
            ready = true;
            if (!window_) return;
            MSG msg = {};
            while (!stop_.load() && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            UnregisterHotKey(w, kScanKey);
        });
        while (!ready.load()) std::this_thread::yield();
        ASSERT_NE(window_.load(), nullptr);
        ASSERT_TRUE(wedge::waitFor([] { return terminal::messageLoopIdle(getpid()); }, 5000));
    }
    // The loop has taken every message and waits again.
    bool drained(int expected) {
        return wedge::waitFor(
            [expected] {
                return handled.load() == expected && terminal::queuedMessages(getpid()) == 0 &&
                       terminal::messageLoopIdle(getpid());
            },
            5000);
    }
    std::string state(int expected) const {
        return "handled " + std::to_string(handled.load()) + " of " + std::to_string(expected) + ", queued " +
               std::to_string(terminal::queuedMessages(getpid())) + ", loop idle " +
               std::to_string(terminal::messageLoopIdle(getpid()));
    }

    std::string root_;
    std::thread loop_;
    std::atomic<HWND> window_{nullptr};
    std::atomic<bool> stop_{false};
};

// Presses come in bursts with random gaps, some while the loop waits, some
// while it is busy with the previous key, some just as it goes back to wait.
TEST_F(HotKeyQueueTest, EveryPressReachesTheLoopWhateverItIsDoing) {
    startLoop();
    std::mt19937 random(77);
    int pressed = 0;
    for (int burst = 0; burst < 200; ++burst) {
        SCOPED_TRACE("burst " + std::to_string(burst));
        handlerPause = std::uniform_int_distribution<int>(0, 300)(random);
        int presses = std::uniform_int_distribution<int>(1, 6)(random);
        for (int p = 0; p < presses; ++p) {
            terminal::pressKey(kScanKey);
            terminal::releaseKey(kScanKey);
            ++pressed;
            int gap = std::uniform_int_distribution<int>(0, 400)(random);
            if (gap > 200) std::this_thread::sleep_for(std::chrono::microseconds(gap - 200));
        }
        ASSERT_TRUE(drained(pressed)) << state(pressed);
    }
    // The key typed nothing: every press went to the hot key.
    EXPECT_EQ(u"", terminal::focusText());
}

// Wake-ups of the windows record so far: every change to it wakes its waiters.
uint64_t windowsWakeUps() {
    std::string path = terminal::root() + "/.terminal/state/windows";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    hostshared::SharedHeader* h = hostshared::mapRecord("windows", static_cast<size_t>(st.st_size));
    if (!h) return 0;
    hostshared::Lock lock(h);
    return h->generation;
}

// Two message loops on one terminal: while nothing is posted both sleep (a
// loop that goes back to wait wakes no other), and a post to one wakes it
// and only it takes the message.
TEST_F(HotKeyQueueTest, TwoLoopsSleepUntilPostedAndEachGetsItsOwn) {
    startLoop();
    std::atomic<int> secondSeen{0};
    std::atomic<HWND> second{nullptr};
    std::atomic<bool> secondStop{false};
    std::thread other([&] {
        HWND w = CreateWindowExW(0, u"HotKeyLoop", u"Other", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        second = w;
        MSG msg = {};
        while (w && !secondStop.load() && GetMessageW(&msg, nullptr, 0, 0) > 0)
            if (msg.message == WM_USER + 1) secondSeen.fetch_add(1);
    });
    ASSERT_TRUE(wedge::waitFor([&] { return second.load() != nullptr; }, 5000));
    ASSERT_TRUE(PostMessageW(second.load(), WM_USER + 1, 0, 0));
    ASSERT_TRUE(wedge::waitFor([&] { return secondSeen.load() == 1; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

    uint64_t before = windowsWakeUps();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(before, windowsWakeUps()) << "waiting loops keep waking each other";

    for (int i = 1; i <= 300; ++i) {
        if (i % 2) {
            terminal::pressKey(kScanKey);
            terminal::releaseKey(kScanKey);
        } else {
            ASSERT_TRUE(PostMessageW(second.load(), WM_USER + 1, 0, 0));
        }
        if (i % 10 == 0) {
            ASSERT_TRUE(
                wedge::waitFor([&] { return handled.load() == (i + 1) / 2 && secondSeen.load() == 1 + i / 2; }, 5000))
                << state((i + 1) / 2) << ", second " << secondSeen.load();
        }
    }
    secondStop = true;
    PostMessageW(second.load(), WM_USER, 0, 0);
    other.join();
    EXPECT_EQ(151, secondSeen.load());
}

}  // namespace
