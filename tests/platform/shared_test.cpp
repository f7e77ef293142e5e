// The terminal's shared records when an attached process dies at any moment:
// while it waits for messages or for an event, while it holds a record's
// lock, or half-way through registering windows and hot keys. The processes
// left must go on as before, and nothing of the dead one may linger.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "platform/host/shared.h"
#include "platform/host/windows.h"
#include "platform/textfile.h"
#include "platform_fixture.h"
#include "tests/support/test_child.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs `work` in a child process; true when it ended with 0 within the time.
// A hang shows as false instead of blocking the test program.
bool completesWithin(const std::function<bool()>& work, int realMilliseconds = 3000) {
    pid_t child = testchild::forkTestChild();
    if (child == 0) _exit(work() ? 0 : 1);
    auto deadline = Clock::now() + std::chrono::milliseconds(realMilliseconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void killAndReap(pid_t child) {
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

LRESULT CALLBACK quietProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool registerClass(const char16_t* name) {
    WNDCLASSW c = {};
    c.lpfnWndProc = quietProc;
    c.lpszClassName = name;
    return RegisterClassW(&c) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

// A child with a window titled `title` whose message loop waits; returns
// once the loop waits.
pid_t childWaitingForMessages(const char16_t* title) {
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        registerClass(u"WaitingLoop");
        CreateWindowExW(0, u"WaitingLoop", title, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        _exit(0);
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!terminal::messageLoopIdle(child) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return child;
}

}  // namespace

using SharedTest = PlatformTest;

// A process killed while its message loop waits: other loops still sleep
// and wake, posts and window look-ups still answer, and its window is gone.
TEST_F(SharedTest, AProcessKilledWhileItsMessageLoopWaitsBlocksNoOne) {
    pid_t first = childWaitingForMessages(u"First");
    ASSERT_TRUE(terminal::messageLoopIdle(first));
    pid_t second = childWaitingForMessages(u"Second");
    ASSERT_TRUE(terminal::messageLoopIdle(second));
    killAndReap(first);

    // The survivor still gets what is posted to it, and quits on it.
    EXPECT_TRUE(completesWithin([] {
        HWND w = FindWindowW(nullptr, u"Second");
        return w != nullptr && FindWindowW(nullptr, u"First") == nullptr && PostMessageW(w, WM_USER, 0, 0) &&
               PostMessageW(w, WM_DESTROY, 0, 0);
    }));
    EXPECT_TRUE(completesWithin([] {
        registerClass(u"Fresh");
        HWND w = CreateWindowExW(0, u"Fresh", u"Fresh", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        if (w == nullptr || !PostMessageW(w, WM_USER + 5, 7, 0)) return false;
        MSG msg{};
        return GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message == WM_USER + 5 && msg.wParam == 7;
    }));
    EXPECT_TRUE(completesWithin([] { return terminal::windows().size() == 1; }));
    EXPECT_TRUE(completesWithin([] {
        terminal::reset();
        return terminal::windows().empty();
    }));
    killAndReap(second);
    EXPECT_TRUE(terminal::windows().empty());
}

// A process killed while it holds a record's lock, or waits on an event:
// the next process takes the lock over, and setting the event wakes the
// waiters that are left.
TEST_F(SharedTest, AProcessKilledHoldingALockOrWaitingOnAnEventBlocksNoOne) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"KVN_Enable");
    ASSERT_NE(event, nullptr);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = testchild::forkTestChild();
    if (holder == 0) {
        terminal::windows();  // creates the record
        struct stat st {};
        if (stat((terminal::root() + "/.terminal/state/windows").c_str(), &st) != 0) _exit(1);
        host::Lock lock(host::mapRecord("windows", static_cast<size_t>(st.st_size)));
        char byte = 1;
        if (write(ready[1], &byte, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    pid_t waiter = testchild::forkTestChild();
    if (waiter == 0) {
        HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Enable");
        char byte = 2;
        if (write(ready[1], &byte, 1) != 1) _exit(1);
        WaitForSingleObject(h, INFINITE);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the waiter sleeps in its wait
    killAndReap(holder);
    killAndReap(waiter);
    close(ready[0]);
    close(ready[1]);

    EXPECT_TRUE(completesWithin([] { return terminal::windows().empty(); }));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SetEvent(event);
    });
    EXPECT_TRUE(completesWithin([] {
        HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Enable");
        return h != nullptr && WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0;
    }));
    late.join();
    CloseHandle(event);
}

// A process killed at random moments while it makes its window and registers
// and drops hot keys, tray icons and events leaves nothing that still seems owned: the
// scan key, the title and the events are free for the next process.
TEST_F(SharedTest, AProcessKilledAtRandomMomentsLeavesNothingHeld) {
    unsigned seed = static_cast<unsigned>(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    size_t shellKeys = terminal::hotKeys().size();
    for (int round = 0; round < 40; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = testchild::forkTestChild();
        if (child == 0) {
            registerClass(u"Churn");
            char byte = 1;
            if (write(ready[1], &byte, 1) != 1) _exit(1);
            HWND w = CreateWindowExW(0, u"Churn", u"Keyvane", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
            for (;;) {
                HANDLE e = CreateEventW(nullptr, TRUE, TRUE, u"KVN_Loaded");
                for (UINT key = 1; key < 64; ++key) RegisterHotKey(w, static_cast<int>(key), 0, key);
                NOTIFYICONDATAW icon = {};
                icon.cbSize = sizeof icon;
                icon.hWnd = w;
                icon.uFlags = NIF_ICON;
                icon.hIcon = reinterpret_cast<HICON>(1);
                Shell_NotifyIconW(NIM_ADD, &icon);
                for (UINT key = 1; key < 64; ++key) UnregisterHotKey(w, static_cast<int>(key));
                Shell_NotifyIconW(NIM_DELETE, &icon);
                CloseHandle(e);
            }
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        close(ready[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        killAndReap(child);

        ASSERT_TRUE(completesWithin([&] {
            return terminal::hotKeys().size() == shellKeys && terminal::windows().empty() &&
                   terminal::trayIcons().empty() && terminal::eventState("KVN_Loaded") == -1 &&
                   FindWindowW(nullptr, u"Keyvane") == nullptr && RegisterHotKey(nullptr, 42, 0, 42) &&
                   UnregisterHotKey(nullptr, 42);
        })) << "round "
            << round;
    }
}

namespace {

// Runs `work` in a child whose terminal root lies on a file system of
// `kilobytes` (a private tmpfs in a namespace of its own, so no privilege is
// needed). The child ends with what `work` answers, 3 when the namespace
// cannot be had; a signal that kills it shows in the status.
int onSmallDisk(const std::string& mountPoint, int kilobytes, const std::function<int()>& work) {
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(3);
        auto put = [](const char* file, const std::string& text) {
            std::ofstream out(file);
            out << text;
            return static_cast<bool>(out.flush());
        };
        put("/proc/self/setgroups", "deny");
        if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
            _exit(3);
        std::string size = "size=" + std::to_string(kilobytes) + "k";
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, size.c_str()) != 0)
            _exit(3);
        _exit(work());
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return 100 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// Fills the file system of `folder` to the last block.
void fillDisk(const std::string& folder) {
    int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    static const char block[4096] = {};
    while (fd >= 0 && write(fd, block, sizeof block) > 0) {
    }
    while (fd >= 0 && write(fd, block, 1) > 0) {
    }
    if (fd >= 0) close(fd);
}

}  // namespace

// A full disk: a record that cannot be had fails the call that needed it,
// with "disk full"; records made before go on working, appends to a log are
// refused; no process is killed for touching a record's page (SIGBUS).
TEST_F(SharedTest, AFullDiskFailsTheCallThatMetItAndKillsNoOne) {
    std::string disk = root + "/disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    int result = onSmallDisk(disk, 512, [&] {
        std::string small = disk + "/terminal";
        if (!terminal::attach(small)) return 10;
        // The clock, made while there is room, goes on.
        GetTickCount();
        CreateDirectoryW(u"\\DebugADV", nullptr);
        fillDisk(disk);
        // The events record cannot be made: the call fails and says why.
        if (CreateEventW(nullptr, TRUE, FALSE, u"Full") != nullptr) return 11;
        if (GetLastError() != ERROR_DISK_FULL) return 12;
        // So do the lights, every time, and the process lives on.
        NLED_SETTINGS_INFO led = {};
        led.LedNum = 1;
        led.OffOnBlink = 1;
        for (int i = 0; i < 3; ++i)
            if (NLedSetDevice(NLED_SETTINGS_INFO_ID, &led)) return 13;
        // A trace line is skipped.
        if (textFileAppend(u"\\DebugADV\\Keyvane.txt", "x\n", 2)) return 14;
        DWORD before = GetTickCount();
        Sleep(2);
        if (GetTickCount() < before) return 15;
        // With room again, the record is made afresh and works.
        unlink((disk + "/filler").c_str());
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, u"Full");
        if (event == nullptr || !SetEvent(event) || terminal::eventState("Full") != 1) return 16;
        if (!NLedSetDevice(NLED_SETTINGS_INFO_ID, &led) || terminal::ledState(1) != 1) return 17;
        return 0;
    });
    if (result == 3) GTEST_SKIP() << "no private mount namespace on this machine";
    EXPECT_EQ(result, 0) << "(1xx: killed by signal xx)";
}

// Waits and sets in quick turns across processes, with waiters coming and
// going on both sides: no set is slept through. The waits are unbounded, so a
// lost wake-up shows as a hang.
TEST_F(SharedTest, EventsSetInQuickTurnsAcrossProcessesWakeEveryWaiter) {
    constexpr int kRounds = 4000;
    HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, u"Ping");
    HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, u"Pong");
    ASSERT_NE(ping, nullptr);
    ASSERT_NE(pong, nullptr);
    pid_t ponger = testchild::forkTestChild();
    if (ponger == 0) {
        // Two threads take the turns between them, so waiters come and go.
        auto answer = [] {
            HANDLE in = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Ping");
            HANDLE out = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Pong");
            for (;;) {
                if (WaitForSingleObject(in, INFINITE) != WAIT_OBJECT_0) _exit(1);
                SetEvent(out);
            }
        };
        std::thread other(answer);
        answer();
    }
    EXPECT_TRUE(completesWithin(
        [] {
            HANDLE out = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Ping");
            HANDLE in = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Pong");
            for (int i = 0; i < kRounds; ++i) {
                SetEvent(out);
                if (WaitForSingleObject(in, INFINITE) != WAIT_OBJECT_0) return false;
            }
            return true;
        },
        30000));
    killAndReap(ponger);
    CloseHandle(ping);
    CloseHandle(pong);
}
