// The terminal's change count (platform/host/changes.cpp): everything the
// console's served page shows must wake a watcher asleep in waitForChange,
// or the page would keep showing what was. A facility the page shows gets
// its row here; a change that does not raise the count fails its row.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/textfile.h"
#include "platform_fixture.h"
#include "tests/support/test_child.h"

namespace {

LRESULT CALLBACK quietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow(const char16_t* title) {
    WNDCLASSW c = {};
    c.lpfnWndProc = quietProc;
    c.lpszClassName = u"Changes";
    RegisterClassW(&c);
    return CreateWindowExW(0, u"Changes", title, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

// What the changes work on.
struct Scene {
    std::string root;
    HWND window = nullptr;
    HANDLE event = nullptr;
};

class ChangesTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        makeDir("DebugADV");
        makeDir("Zentrova");
        terminal::setFocusClass(u"Edit");
        scene.root = root;
        scene.window = makeWindow(u"Watched");
        ASSERT_NE(scene.window, nullptr);
        scene.event = CreateEventW(nullptr, TRUE, FALSE, u"Watched_Event");
        ASSERT_NE(scene.event, nullptr);
    }
    void TearDown() override {
        CloseHandle(scene.event);
        PlatformTest::TearDown();
    }

    // Whether `change` wakes a watcher that saw the count before it.
    bool wakes(const std::function<void()>& change) {
        uint64_t seen = terminal::changeCount();
        change();
        return terminal::waitForChange(seen, 10000) != seen;
    }

    Scene scene;
};

struct Change {
    const char* what;
    std::function<void(const Scene& t)> make;
};

void appendHost(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// What the page shows, each changed the way the wedge, another program or a person changes it.
const Change kChanges[] = {
    {"the scan key held", [](const Scene&) { terminal::pressKey(42); }},
    {"a key typed into the focused application",
     [](const Scene&) {
         keybd_event('A', 0, 0, 0);
         keybd_event('A', 0, KEYEVENTF_KEYUP, 0);
     }},
    {"the focused application", [](const Scene&) { terminal::setFocusClass(u"RichInk"); }},
    {"the text cleared", [](const Scene&) { terminal::clearFocusText(); }},
    {"a window made", [](const Scene&) { makeWindow(u"Another"); }},
    {"a tray icon added",
     [](const Scene& t) {
         NOTIFYICONDATAW icon = {};
         icon.cbSize = sizeof icon;
         icon.hWnd = t.window;
         icon.uID = 101;
         icon.uFlags = NIF_ICON;
         icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(101));
         Shell_NotifyIconW(NIM_ADD, &icon);
     }},
    {"a named event set", [](const Scene& t) { SetEvent(t.event); }},
    {"a light switched",
     [](const Scene&) {
         NLED_SETTINGS_INFO led = {};
         led.LedNum = 1;
         led.OffOnBlink = 1;
         NLedSetDevice(NLED_SETTINGS_INFO_ID, &led);
     }},
    {"a sound played", [](const Scene&) { PlaySoundW(u"\\Windows\\beep.wav", nullptr, SND_FILENAME | SND_ASYNC); }},
    {"a message box shown", [](const Scene&) { MessageBoxW(nullptr, u"Settings file not found", u"Error", MB_OK); }},
    {"a barcode put in view", [](const Scene&) { terminal::putInView({"ABC", 'j'}); }},
    {"the view cleared", [](const Scene&) { terminal::clearView(); }},
    {"terminal.conf set", [](const Scene&) { terminal::setConfig("screen", "320x240"); }},
    {"a trace line written", [](const Scene&) { textFileAppend(u"\\DebugADV\\Keyvane.txt", "Start Scan\r\n", 12); }},
    {"bytes at a serial port's far end",
     [](const Scene& t) { appendHost(t.root + "/.terminal/log/COM3.out", "\x01XR1"); }},
    {"a settings file saved by a person",
     [](const Scene& t) { appendHost(t.root + "/Zentrova/Keyvane.ini", "OutPutMode = 3\r\n"); }},
    {"a wedge's exit code written by its keeper",
     [](const Scene& t) {
         appendHost(t.root + "/.terminal/wedge.exit.part", "123 0\n");
         rename((t.root + "/.terminal/wedge.exit.part").c_str(), (t.root + "/.terminal/wedge.exit").c_str());
     }},
    {"a remote Bluetooth device in range", [](const Scene&) { terminal::putSilentRemoteDevice(0x0011223344AAull); }},
    {"a folder made later (a trace folder)",
     [](const Scene& t) {
         std::string cmd = "rm -rf '" + t.root + "/DebugADV'";
         ASSERT_EQ(system(cmd.c_str()), 0);
         uint64_t seen = terminal::changeCount();
         mkdir((t.root + "/DebugADV").c_str(), 0700);
         ASSERT_NE(terminal::waitForChange(seen, 10000), seen);
         // Watched from then on.
         appendHost(t.root + "/DebugADV/Keyvane.txt", "Start Scan\r\n");
     }},
};

TEST_F(ChangesTest, EveryChangeThePageShowsWakesAWatcher) {
    for (const Change& c : kChanges) EXPECT_TRUE(wakes([&] { c.make(scene); })) << c.what;
}

TEST_F(ChangesTest, AKilledProcessThatShowedAWindowWakesAWatcher) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        makeWindow(u"Keyvane");
        char b = 1;
        ssize_t ignored = write(ready[1], &b, 1);
        (void)ignored;
        pause();
        _exit(0);
    }
    char b = 0;
    ASSERT_EQ(read(ready[0], &b, 1), 1);
    close(ready[0]);
    close(ready[1]);
    // Killed as kill -9 kills it: nothing of the terminal is told.
    EXPECT_TRUE(wakes([&] {
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    }));
    bool shown = false;
    for (const auto& w : terminal::windows()) shown = shown || w.pid == child;
    EXPECT_FALSE(shown);
}

TEST_F(ChangesTest, AWatcherWithNothingChangedSleepsItsTimeOut) {
    // Nothing changes: the count stands (no wake-up without a change).
    uint64_t seen = terminal::changeCount();
    EXPECT_EQ(terminal::waitForChange(seen, 50), seen);
}

}  // namespace
