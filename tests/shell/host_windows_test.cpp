// The host terminal's windows, message queues, hot keys, tray and resources,
// exercised in-process on a fresh terminal root.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "shell/app.h"
#include "tests/support/wedge_process.h"

namespace {

std::vector<UINT> seen;

LRESULT CALLBACK recordingProc(HWND, UINT message, WPARAM, LPARAM) {
    seen.push_back(message);
    return 0;
}

class HostWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        wedge::RootOptions options;
        options.writeSettings = false;
        root_ = wedge::makeTerminalRoot(options);
        seen.clear();
        static int classSerial = 0;
        className_ = u"TestClass" + std::u16string(1, static_cast<char16_t>(u'A' + classSerial++ % 26));
        WNDCLASSW c = {};
        c.lpfnWndProc = recordingProc;
        c.lpszClassName = className_.c_str();
        RegisterClassW(&c);
    }
    void TearDown() override { wedge::removeTerminalRoot(root_); }

    HWND makeWindow(const char16_t* title) {
        return CreateWindowExW(0, className_.c_str(), title, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    }

    std::string root_;
    std::u16string className_;
};

TEST_F(HostWindowsTest, CreateSendsCreateAndPostedMessagesArriveInOrderThenQuit) {
    HWND window = makeWindow(u"Probe");
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(seen, std::vector<UINT>{WM_CREATE});
    EXPECT_EQ(FindWindowW(nullptr, u"Probe"), window);
    EXPECT_EQ(FindWindowW(nullptr, u"Prob"), nullptr);
    WCHAR name[4];
    EXPECT_EQ(GetClassNameW(window, name, 4), 3);  // cut to the buffer

    ASSERT_TRUE(PostMessageW(window, WM_USER + 1, 7, 1));
    ASSERT_TRUE(PostMessageW(window, WM_USER + 2, 0, 0));
    PostQuitMessage(5);
    ASSERT_TRUE(PostMessageW(window, WM_USER + 3, 0, 0));  // still before the quit
    MSG msg = {};
    std::vector<UINT> order;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        order.push_back(msg.message);
        DispatchMessageW(&msg);
    }
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(HostWindowsTest, AFullQueueRefusesFurtherPosts) {
    HWND window = makeWindow(u"Full");
    int accepted = 0;
    while (accepted < 1000 && PostMessageW(window, WM_USER, accepted, 0)) ++accepted;
    EXPECT_EQ(accepted, 256);
    EXPECT_EQ(terminal::queuedMessages(getpid()), 256);
    MSG msg = {};
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_TRUE(PostMessageW(window, WM_USER, 999, 0));
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x1234), WM_USER, 0, 0));
}

TEST_F(HostWindowsTest, WindowsOfEndedProcessesAreNotFound) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        HWND w = makeWindow(u"Gone");
        char byte = w ? 1 : 0;
        _exit(write(ready[1], &byte, 1) == 1 && w ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    close(ready[0]);
    close(ready[1]);
    // Ended but not yet reaped: the process owns nothing any more.
    EXPECT_TRUE(wedge::waitFor([] { return FindWindowW(nullptr, u"Gone") == nullptr; }, 2000));
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(FindWindowW(nullptr, u"Gone"), nullptr);
    EXPECT_TRUE(terminal::windows().empty());
}

TEST_F(HostWindowsTest, HotKeysBelongToOneOwnerAndReachItsQueue) {
    HWND window = makeWindow(u"Keys");
    ASSERT_TRUE(RegisterHotKey(window, 42, 0, 42));
    // Another owner (this thread's queue) cannot take the same key.
    EXPECT_FALSE(RegisterHotKey(nullptr, 7, 0, 42));
    EXPECT_EQ(GetLastError(), ERROR_HOTKEY_ALREADY_REGISTERED);
    ASSERT_TRUE(RegisterHotKey(nullptr, 7, MOD_SHIFT, 42));

    // Registering an id the window holds moves it to the new key.
    ASSERT_TRUE(RegisterHotKey(window, 42, MOD_ALT, 42));
    int held = 0;
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.window == reinterpret_cast<uintptr_t>(window) && h.id == 42) {
            ++held;
            EXPECT_EQ(h.modifiers, MOD_ALT);
        }
    EXPECT_EQ(held, 1);
    EXPECT_FALSE(hostfacility::dispatchHotKey(42, 0));

    ASSERT_TRUE(hostfacility::dispatchHotKey(42, MOD_ALT));
    ASSERT_TRUE(hostfacility::dispatchHotKey(42, MOD_SHIFT));
    MSG msg = {};
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_EQ(msg.message, WM_HOTKEY);
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_EQ(msg.lParam, MAKELPARAM(MOD_ALT, 42));
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, nullptr);  // the thread's own registration
    EXPECT_EQ(msg.wParam, 7u);

    EXPECT_TRUE(UnregisterHotKey(window, 42));
    EXPECT_FALSE(UnregisterHotKey(window, 42));
    EXPECT_FALSE(hostfacility::dispatchHotKey(42, MOD_ALT));
}

TEST_F(HostWindowsTest, ShellKeysAreFreedOnlyByUnregisterFunc1) {
    EXPECT_FALSE(RegisterHotKey(nullptr, 1, 0, 0x70));
    EXPECT_EQ(GetLastError(), ERROR_HOTKEY_ALREADY_REGISTERED);
    EXPECT_FALSE(UnregisterHotKey(nullptr, 0));  // not ours to remove
    EXPECT_TRUE(UnregisterFunc1(0, 0x70));
    EXPECT_FALSE(UnregisterFunc1(0, 0x70));
    EXPECT_TRUE(RegisterHotKey(nullptr, 1, 0, 0x70));
}

TEST_F(HostWindowsTest, TrayIconsAreAddedOnceAndTappedThroughTheirCallback) {
    HWND window = makeWindow(u"Tray");
    NOTIFYICONDATAW data = {};
    data.hWnd = window;
    data.uID = 101;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = 101;
    data.hIcon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(101), IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(data.hIcon, nullptr);
    EXPECT_FALSE(terminal::tapTray());
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));
    ASSERT_TRUE(terminal::tapTray());
    MSG msg = {};
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, 101u);
    EXPECT_EQ(msg.lParam, static_cast<LPARAM>(WM_LBUTTONUP));
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_TRUE(terminal::trayIcons().empty());
}

TEST_F(HostWindowsTest, ResourcesComeFromTheCompiledScript) {
    WCHAR text[100];
    EXPECT_EQ(LoadStringW(nullptr, 1, text, 100), 7);
    EXPECT_EQ(std::u16string(text), u"Keyvane");
    EXPECT_EQ(LoadStringW(nullptr, 2, text, 4), 3);
    EXPECT_EQ(std::u16string(text), u"KEY");
    EXPECT_EQ(LoadStringW(nullptr, 3, text, 100), 0);
    EXPECT_NE(LoadIconW(nullptr, MAKEINTRESOURCEW(101)), nullptr);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(102)), nullptr);
    EXPECT_NE(LoadAcceleratorsW(nullptr, MAKEINTRESOURCEW(2)), nullptr);

    for (unsigned id : {4u, 129u, 134u, 135u}) {
        const hostresources::Resource* wave = hostresources::find(hostresources::KindBinary, id, "WAVE");
        ASSERT_NE(wave, nullptr) << id;
        ASSERT_GT(wave->size, 44u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(wave->data), 4), "RIFF");
    }

    HMENU menu = LoadMenuW(nullptr, MAKEINTRESOURCEW(136));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetSubMenu(menu, 1), nullptr);
    EXPECT_EQ(GetSubMenu(popup, 0), nullptr);  // an item, not a popup

    HWND window = makeWindow(u"Menu");
    EXPECT_EQ(TrackPopupMenuEx(popup, TPM_RETURNCMD, 190, 175, window, nullptr), 0);
    terminal::scriptMenuChoice(32773);
    EXPECT_EQ(TrackPopupMenuEx(popup, TPM_RETURNCMD, 10, 20, window, nullptr), 32773);
    std::vector<terminal::MenuPopup> popups = terminal::menuPopups();
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[0].x, 190);
    EXPECT_EQ(popups[0].y, 175);
    EXPECT_EQ(popups[0].choice, 0u);
    EXPECT_EQ(popups[1].choice, 32773u);
    EXPECT_EQ(popups[1].items, (std::vector<std::u16string>{u"Symbology Settings", u"Exit"}));
}

TEST_F(HostWindowsTest, ScreenMetricsFollowTheTerminal) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 240);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 320);
    terminal::setScreen(480, 640);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 640);
}

}  // namespace

namespace {

size_t threadRegistrations() {
    size_t n = 0;
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.window == 0 && h.pid == getpid()) ++n;
    return n;
}

TEST_F(HostWindowsTest, AllKeysCaptureTakesEveryKeyButTheScanKeyAndGivesThemBack) {
    HWND window = makeWindow(u"Scan");
    ASSERT_TRUE(RegisterHotKey(window, SCAN_HOTKEY_ID, 0, kScanKey));
    allKeysCaptured = 0;
    allKeysCapture(TRUE);
    EXPECT_EQ(allKeysCaptured.load(), 1);
    EXPECT_EQ(threadRegistrations(), 254u * 5u);
    bool shellKeyLeft = false;
    for (const terminal::HotKey& h : terminal::hotKeys()) {
        if (h.pid == 0) shellKeyLeft = true;
        if (h.virtualKey == kScanKey) {
            EXPECT_EQ(h.window, reinterpret_cast<uintptr_t>(window));
        }
        if (h.window == 0 && h.virtualKey == 0x41 && h.modifiers == MOD_CONTROL) {
            EXPECT_EQ(h.id, 0x41 + 510);
        }
        if (h.window == 0 && h.virtualKey == 0x41 && h.modifiers == MOD_WIN) {
            EXPECT_EQ(h.id, 0x41 + 1020);
        }
    }
    EXPECT_FALSE(shellKeyLeft) << "the shell's keys are freed before they are taken";
    // A captured key reaches the wedge's own queue, not an application.
    ASSERT_TRUE(hostfacility::dispatchHotKey(0x41, MOD_SHIFT));
    MSG msg = {};
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 0x41u + 765u);

    allKeysCapture(FALSE);
    EXPECT_EQ(threadRegistrations(), 0u);
    EXPECT_EQ(terminal::hotKeys().size(), 1u);  // the scan key stays
    allKeysCaptured = 0;
}

}  // namespace

namespace {

TEST_F(HostWindowsTest, TheScannerSwitchActsOnlyOnAChangeOfState) {
    WNDCLASSW c = {};
    c.lpfnWndProc = mainWindowProc;
    c.lpszClassName = u"KEYVANE";
    RegisterClassW(&c);
    settings.scannerEnabled = 1;
    HWND window = CreateWindowExW(0, u"KEYVANE", u"Keyvane", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    auto scanKeyHeld = [window] {
        for (const terminal::HotKey& h : terminal::hotKeys())
            if (h.window == reinterpret_cast<uintptr_t>(window) && h.id == SCAN_HOTKEY_ID) return true;
        return false;
    };
    ASSERT_TRUE(scanKeyHeld());
    ASSERT_EQ(terminal::trayIcons().size(), 1u);

    mainWindowProc(window, WM_SCANNER_ENABLE, 0, 1);  // already on
    mainWindowProc(window, WM_SCANNER_ENABLE, 0, 2);  // no such request
    EXPECT_TRUE(scanKeyHeld());
    EXPECT_EQ(settings.scannerEnabled.load(), 1);
    EXPECT_FALSE(terminal::engineConnected());

    mainWindowProc(window, WM_SCANNER_ENABLE, 1, 0);
    EXPECT_FALSE(scanKeyHeld());
    EXPECT_EQ(settings.scannerEnabled.load(), 0);
    EXPECT_EQ(mainWindowProc(window, WM_COMMAND, 40002, 0), 0);
    EXPECT_TRUE(trayIcon(window, FALSE));
    EXPECT_FALSE(trayIcon(window, FALSE));
    settings.scannerEnabled = 1;
}

}  // namespace
