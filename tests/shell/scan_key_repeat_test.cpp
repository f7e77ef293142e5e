// The scan key pressed again and again: every hot-key message reaches the
// message loop that owns it, whether it arrives while the loop waits, while
// the previous message is still being handled, or just as the handler
// returns; none is left waiting in a queue.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "platform/host/shared.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "settings/keytable.h"
#include "shell/constants.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

size_t linesTyped() {
    std::string text = scanloop::typed();
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Each press of the real program's scan key follows the previous one within
// a few milliseconds of its read seeing the key up (the fallback model's
// lights, scanning on 1 and good read on 2, go off just before it returns),
// while the program is on its way back to its message loop or has just begun
// to wait there.
TEST(ScanKeyRepeat, PressRightAfterTheReadEndsIsHandled) {
    wedge::RootOptions options;
    options.settingsIni = "[Settings]\r\nEnableScanner=1\r\nSuffix=13\r\n";
    options.clockSpeed = 20;
    std::string root = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root.empty());
    terminal::setConfig("keypad", std::to_string(keypadFamily(kFallbackDeviceModel)));
    wedge::WedgeProcess program;
    ASSERT_TRUE(program.start(root));
    ASSERT_TRUE(program.waitLoaded());
    auto state = [&] {
        return "queued " + std::to_string(terminal::queuedMessages(program.pid())) + ", loop idle " +
               std::to_string(terminal::messageLoopIdle(program.pid())) + ", typed " + std::to_string(linesTyped());
    };

    terminal::putInView(scanloop::barcode("4006381333931"));
    std::mt19937 random(4242);
    constexpr size_t kPresses = 120;
    for (size_t i = 0; i < kPresses; ++i) {
        SCOPED_TRACE("press " + std::to_string(i + 1));
        terminal::pressKey(kScanKey);
        ASSERT_TRUE(wedge::waitFor([i] { return linesTyped() == i + 1; }, 5000)) << state();
        ASSERT_EQ(terminal::ledState(2), 1);
        terminal::releaseKey(kScanKey);
        ASSERT_TRUE(wedge::waitFor([] { return terminal::ledState(1) == 0 && terminal::ledState(2) == 0; }, 5000))
            << state();
        int gap = std::uniform_int_distribution<int>(0, 3)(random);
        if (gap) std::this_thread::sleep_for(std::chrono::microseconds(gap * 500));
    }
    EXPECT_TRUE(program.idle()) << state();
    EXPECT_EQ(0, terminal::queuedMessages(program.pid()));
    EXPECT_EQ(kPresses, linesTyped());
    terminal::releaseKey(kScanKey);
    program.kill();
    wedge::removeTerminalRoot(root);
}

std::atomic<int> hotKeysHandled{0};

LRESULT CALLBACK hotKeyProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_HOTKEY) hotKeysHandled.fetch_add(1);
    return 0;
}

// Wake-ups of the windows record so far: every change to it wakes its waiters.
uint64_t windowsWakeUps() {
    std::string path = terminal::root() + "/.terminal/state/windows";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    host::SharedHeader* h = host::mapRecord("windows", static_cast<size_t>(st.st_size));
    if (!h) return 0;
    host::Lock lock(h);
    return h->generation;
}

// Two message loops on one terminal, one holding the scan key: while nothing
// is posted both sleep (a loop that goes back to wait wakes no other), and a
// post to one wakes it and only it takes the message.
TEST(TwoMessageLoops, SleepUntilPostedAndEachGetsItsOwn) {
    wedge::RootOptions options;
    options.writeSettings = false;
    std::string root = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root.empty());
    static const bool registered = [] {
        WNDCLASSW c = {};
        c.lpfnWndProc = hotKeyProc;
        c.lpszClassName = u"HotKeyLoop";
        return RegisterClassW(&c) != 0;
    }();
    ASSERT_TRUE(registered);
    hotKeysHandled = 0;

    std::atomic<bool> stop{false};
    std::atomic<int> secondSeen{0};
    std::atomic<HWND> first{nullptr}, second{nullptr};
    auto loop = [&](const char16_t* title, std::atomic<HWND>* window, bool scanKey) {
        HWND w = CreateWindowExW(0, u"HotKeyLoop", title, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        if (scanKey && !RegisterHotKey(w, SCAN_HOTKEY_ID, 0, kScanKey)) w = nullptr;
        *window = w;
        MSG msg = {};
        while (w && !stop.load() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_USER + 1) secondSeen.fetch_add(1);
            DispatchMessageW(&msg);
        }
        if (scanKey && w) UnregisterHotKey(w, SCAN_HOTKEY_ID);
    };
    std::thread a(loop, u"Loop", &first, true);
    ASSERT_TRUE(wedge::waitFor([&] { return first.load() != nullptr; }, 5000));
    std::thread b(loop, u"Other", &second, false);
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
            ASSERT_TRUE(wedge::waitFor(
                [&] { return hotKeysHandled.load() == (i + 1) / 2 && secondSeen.load() == 1 + i / 2; }, 5000))
                << "hot keys " << hotKeysHandled.load() << ", second " << secondSeen.load();
        }
    }
    EXPECT_EQ(u"", terminal::focusText());  // every press went to the hot key
    stop = true;
    PostMessageW(first.load(), WM_USER, 0, 0);
    PostMessageW(second.load(), WM_USER, 0, 0);
    a.join();
    b.join();
    EXPECT_EQ(151, secondSeen.load());
    wedge::removeTerminalRoot(root);
}

}  // namespace
