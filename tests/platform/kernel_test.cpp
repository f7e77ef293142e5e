// Named events shared by processes, and the terminal clock.
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/host/objects.h"
#include "platform_fixture.h"
#include "tests/support/test_child.h"

using KernelTest = PlatformTest;

namespace {
int childExitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST_F(KernelTest, CreatingAnExistingNamedEventKeepsItsState) {
    HANDLE first = CreateEventW(nullptr, TRUE, TRUE, u"KVN_Loaded");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);

    // Asking for a non-signalled auto-reset event gets the existing one as it is.
    HANDLE second = CreateEventW(nullptr, FALSE, FALSE, u"KVN_Loaded");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    // Still manual reset: waiting does not consume it.
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    CloseHandle(first);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    CloseHandle(second);

    // The last handle closed, the event is gone; the next creation makes it
    // afresh with the state it asks for.
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
    EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Loaded"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    terminal::setEventState("KVN_Loaded", true);  // nobody holds it: nothing to set
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
    HANDLE again = CreateEventW(nullptr, TRUE, TRUE, u"KVN_Loaded");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    CloseHandle(again);
    EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Missing"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// Handles of a process that ended, however it ended, count as closed.
TEST_F(KernelTest, AnEventHeldOnlyByProcessesThatEndedIsGone) {
    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "exited");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = testchild::forkTestChild();
        if (child == 0) {
            HANDLE h = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Loaded");
            bool made = h != nullptr && GetLastError() == ERROR_SUCCESS && SetEvent(h);
            char byte = made ? 1 : 0;
            if (write(ready[1], &byte, 1) != 1) _exit(2);
            if (killed) pause();  // killed while it holds the handle
            _exit(made ? 0 : 1);  // ends without closing it
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        ASSERT_EQ(byte, 1);
        close(ready[0]);
        close(ready[1]);
        if (killed) {
            EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);  // alive, it holds the event
            kill(child, SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Loaded");
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
        CloseHandle(h);
    }
    // An event another process still holds lives on with its state.
    HANDLE mine = CreateEventW(nullptr, TRUE, TRUE, u"KVN_Enable");
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Enable");
        bool existed = GetLastError() == ERROR_ALREADY_EXISTS && WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
        ResetEvent(h);
        _exit(existed ? 0 : 1);
    }
    EXPECT_EQ(childExitCode(child), 0);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    CloseHandle(mine);
}

TEST_F(KernelTest, AnotherProcessSettingANamedEventWakesTheWaiter) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"KVN_Enable");
    ASSERT_NE(event, nullptr);
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        Sleep(100);
        HANDLE h = CreateEventW(nullptr, FALSE, FALSE, u"KVN_Enable");
        bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        _exit(h != nullptr && existed && SetEvent(h) ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(childExitCode(child), 0);
    // Auto reset: the wait consumed the signal.
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    // And the other way round: the terminal sets it, a child process waits.
    child = testchild::forkTestChild();
    if (child == 0) {
        HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Enable");
        _exit(h != nullptr && WaitForSingleObject(h, 20000) == WAIT_OBJECT_0 ? 0 : 1);
    }
    Sleep(50);
    terminal::setEventState("KVN_Enable", true);
    EXPECT_EQ(childExitCode(child), 0);
    CloseHandle(event);
}

// The event watch looks at its events with zero waits once a millisecond:
// each look answers what the event is now, whoever changed it, and only ever
// for its own event.
TEST_F(KernelTest, AZeroWaitSeesEachChangeOfAnotherProcessAndOnlyItsOwnEvent) {
    HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Enable");
    ASSERT_NE(mine, nullptr);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    constexpr int kChanges = 200;
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Enable");
        char c = 0;
        for (int i = 0; i < kChanges; ++i) {
            if (read(toChild[0], &c, 1) != 1) _exit(2);
            if (!(i % 2 == 0 ? SetEvent(h) : ResetEvent(h))) _exit(3);
            if (write(toParent[1], &c, 1) != 1) _exit(4);
        }
        _exit(h != nullptr ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int seen = 0;
    for (int i = 0; i < kChanges; ++i) {
        char c = 'x';
        ASSERT_EQ(write(toChild[1], &c, 1), 1);
        ASSERT_EQ(read(toParent[0], &c, 1), 1);
        if (WaitForSingleObject(mine, 0) == (i % 2 == 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT)) ++seen;
    }
    EXPECT_EQ(seen, kChanges);
    EXPECT_EQ(childExitCode(child), 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);

    // After a reset of the terminal another event (its name as long) may take
    // the slot this handle found its event in: the look still answers for its
    // own event, which comes back not signalled and held by this process.
    SetEvent(mine);
    terminal::reset();
    HANDLE other = CreateEventW(nullptr, TRUE, TRUE, u"KVN_Other1");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(other));
    EXPECT_TRUE(SetEvent(mine));
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);
    CloseHandle(other);
    CloseHandle(mine);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), -1);
}

TEST_F(KernelTest, AnAutoResetEventReleasesOneWaiterPerSignal) {
    terminal::setClockSpeed(10);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"KVN_Enable_State");
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (WaitForSingleObject(event, 3000) == WAIT_OBJECT_0) ++woken;
    };
    std::thread a(waiter), b(waiter);
    Sleep(500);
    SetEvent(event);
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    CloseHandle(event);
}

TEST_F(KernelTest, TheClockSpeedScalesSleepsAndTicksForEveryProcess) {
    terminal::setClockSpeed(100);
    EXPECT_EQ(host::realMilliseconds(1000), 10);
    EXPECT_EQ(host::realMilliseconds(INFINITE), -1);

    DWORD before = GetTickCount();
    auto realBefore = std::chrono::steady_clock::now();
    Sleep(3000);
    auto realSpent = std::chrono::steady_clock::now() - realBefore;
    DWORD spent = GetTickCount() - before;
    EXPECT_GE(spent, 3000u);
    // 30 real milliseconds expected; far less than the 3 s of terminal time.
    EXPECT_LT(realSpent, std::chrono::milliseconds(2500));

    // Another process agrees on the terminal time and the speed.
    DWORD parentNow = GetTickCount();
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        DWORD now = GetTickCount();
        _exit(terminal::clockSpeed() == 100 && now >= parentNow && now - parentNow < 60000 ? 0 : 1);
    }
    EXPECT_EQ(childExitCode(child), 0);

    // Changing the speed does not make the terminal time jump back.
    DWORD beforeChange = GetTickCount();
    terminal::setClockSpeed(1);
    EXPECT_GE(GetTickCount(), beforeChange);
}

TEST_F(KernelTest, ASleepNeverEndsBeforeItsTerminalTimeWhateverTheSpeedDoes) {
    // Speeds that do not divide a millisecond: the real pause is rounded up.
    for (int speed : {3, 7, 1000}) {
        terminal::setClockSpeed(speed);
        for (DWORD pause : {1u, 2u, 10u}) {
            DWORD before = GetTickCount();
            Sleep(pause);
            EXPECT_GE(GetTickCount() - before, pause) << "speed " << speed;
        }
    }
    // Slowed down while it sleeps, a sleep still lasts its terminal time:
    // 200 ms at speed 10 would end after 20 real ms.
    terminal::setClockSpeed(10);
    DWORD before = GetTickCount();
    std::thread sleeper([] { Sleep(200); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    terminal::setClockSpeed(1);
    sleeper.join();
    EXPECT_GE(GetTickCount() - before, 200u);
    terminal::setClockSpeed(1);
}

TEST_F(KernelTest, ClosingAHandleEndsTheWaitsOnIt) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Loaded");
    HANDLE other = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Loaded");
    std::atomic<DWORD> result{WAIT_TIMEOUT};
    std::thread waiter([&] { result = WaitForSingleObject(event, INFINITE); });
    Sleep(50);
    CloseHandle(event);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_FAILED);
    // The other handle still holds the event; it is gone with that one.
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    CloseHandle(other);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
}

// A named mutex: the first creation makes it, later ones get it with
// ERROR_ALREADY_EXISTS; it lives while a running process holds a handle, and
// an owner that is killed leaves it abandoned to the next wait.
TEST_F(KernelTest, ANamedMutexTellsTheSecondCreatorAndDiesWithItsLastHolder) {
    HANDLE first = CreateMutexW(nullptr, TRUE, u"KVN_Instance");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateMutexW(nullptr, TRUE, u"KVN_Instance");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // Owned by this thread from the first creation: waits nest.
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(second));
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        HANDLE h = CreateMutexW(nullptr, FALSE, u"KVN_Instance");
        bool existed = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
        bool busy = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
        bool notOwner = !ReleaseMutex(h) && GetLastError() == ERROR_NOT_OWNER;
        _exit(existed && busy && notOwner ? 0 : 1);
    }
    EXPECT_EQ(childExitCode(child), 0);
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_FALSE(ReleaseMutex(first));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    CloseHandle(first);
    CloseHandle(second);
    HANDLE again = CreateMutexW(nullptr, FALSE, u"KVN_Instance");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the mutex outlived its last handle";
    CloseHandle(again);

    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "exited");
        int ready[2];
        int go[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(go), 0);
        child = testchild::forkTestChild();
        if (child == 0) {
            HANDLE h = CreateMutexW(nullptr, TRUE, u"KVN_Instance");
            char byte = h != nullptr && GetLastError() == ERROR_SUCCESS ? 1 : 0;
            if (write(ready[1], &byte, 1) != 1) _exit(2);
            // Killed meanwhile, or told to end: either way owning the mutex,
            // without closing it.
            if (read(go[0], &byte, 1) != 1) _exit(2);
            _exit(0);
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        ASSERT_EQ(byte, 1);
        HANDLE mine = CreateMutexW(nullptr, FALSE, u"KVN_Instance");
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
        if (killed)
            kill(child, SIGKILL);
        else
            ASSERT_EQ(write(go[1], &byte, 1), 1);
        for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WaitForSingleObject(mine, 1000), WAIT_ABANDONED);
        EXPECT_TRUE(ReleaseMutex(mine));
        CloseHandle(mine);
        // Nobody holds it now: the next creation makes it afresh.
        HANDLE fresh = CreateMutexW(nullptr, FALSE, u"KVN_Instance");
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        CloseHandle(fresh);
    }
}

// Keys a process held down with keybd_event are released when it ends: the
// next key typed is not shifted, and the release is in the key log.
TEST_F(KernelTest, KeysHeldByAProcessThatWasKilledAreReleased) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        keybd_event(VK_SHIFT, 0, 0, 0);
        char byte = 1;
        if (write(ready[1], &byte, 1) != 1) _exit(2);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(terminal::keyDown(VK_SHIFT)) << "a running holder keeps its key down";
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_FALSE(terminal::keyDown(VK_SHIFT));
    terminal::clearFocusText();
    terminal::pressKey('3');
    terminal::releaseKey('3');
    EXPECT_EQ(terminal::focusText(), u"3");
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[1].virtualKey, VK_SHIFT);
    EXPECT_FALSE(events[1].down);

    // Held by this process, which runs: Shift stays down and shifts.
    keybd_event(VK_SHIFT, 0, 0, 0);
    terminal::clearFocusText();
    terminal::pressKey('3');
    terminal::releaseKey('3');
    keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(terminal::focusText(), u"#");
}

TEST_F(KernelTest, TheKeyLogKeepsEveryEventOnceInOrderWhenItsWriterIsKilledAnywhere) {
    // A writer of key events killed at random moments: the log read after
    // its end holds exactly the events it made, in order, none twice, none
    // lost, whether they were still waiting in the record or half written.
    auto keyOf = [](size_t i) { return static_cast<int>('A' + (i / 2) % 26); };
    // How many events the writer had made when it was killed.
    auto* made = static_cast<std::atomic<size_t>*>(
        mmap(nullptr, sizeof(std::atomic<size_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(made, MAP_FAILED);
    unsigned seed = 12345;
    for (int round = 0; round < 20; ++round) {
        terminal::clearKeyEvents();
        made->store(0);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = testchild::forkTestChild();
        if (child == 0) {
            char byte = 1;
            if (write(ready[1], &byte, 1) != 1) _exit(2);
            for (size_t i = 0;; ++i) {
                keybd_event(static_cast<BYTE>(keyOf(i)), 0, i % 2 ? KEYEVENTF_KEYUP : 0, 0);
                made->store(i + 1);
            }
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        close(ready[1]);
        // The kill comes after the first event at the earliest: a loaded
        // machine may not have run the writer at all yet.
        while (made->load() == 0) std::this_thread::yield();
        seed = seed * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::microseconds(200 + (seed >> 8) % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        terminal::keyDown('A');  // the terminal releases what the ended writer held
        std::vector<terminal::KeyEvent> events = terminal::keyEvents();
        ASSERT_FALSE(events.empty()) << "round " << round;
        // The writer's events, then the release of the key it held down, if
        // any, which the terminal makes for an ended process (and which reads
        // as the writer's next event would): presses and releases in turn.
        size_t own = 0;
        while (own < events.size() && events[own].virtualKey == keyOf(own) && events[own].down == (own % 2 == 0)) ++own;
        EXPECT_EQ(own, events.size()) << "round " << round << ": event " << own << " breaks the order";
        EXPECT_EQ(events.size() % 2, 0u) << "round " << round << ": a key stayed down";
        // Every event made is there; the one under way when the kill came may
        // be, and the release after it.
        EXPECT_GE(events.size(), made->load()) << "round " << round;
        EXPECT_LE(events.size(), made->load() + 2) << "round " << round;
        // Read again: the same events.
        EXPECT_EQ(terminal::keyEvents().size(), events.size());
    }
    munmap(made, sizeof(std::atomic<size_t>));
    // More events than the record holds at once, from this process.
    terminal::clearKeyEvents();
    for (size_t i = 0; i < 1000; ++i) keybd_event(static_cast<BYTE>(keyOf(i)), 0, i % 2 ? KEYEVENTF_KEYUP : 0, 0);
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_EQ(events.size(), 1000u);
    for (size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(events[i].virtualKey, keyOf(i)) << i;
        ASSERT_EQ(events[i].down, i % 2 == 0) << i;
    }
}
