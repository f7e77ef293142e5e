#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/host/objects.h"
#include "platform_fixture.h"

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
    // Names are case-sensitive kernel names.
    EXPECT_EQ(terminal::eventState("kvn_loaded"), -1);
    CloseHandle(first);
    CloseHandle(second);

    // The terminal keeps the event after the handles are closed.
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Loaded");
    EXPECT_NE(opened, nullptr);
    CloseHandle(opened);
    EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Missing"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    terminal::reset();
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
}

TEST_F(KernelTest, TheTerminalHoldsSixtyFourNamedEvents) {
    for (int i = 0; i < 64; ++i) {
        std::u16string name = u"E" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        HANDLE h = CreateEventW(nullptr, TRUE, i % 2, name.c_str());
        ASSERT_NE(h, nullptr) << i;
        CloseHandle(h);
    }
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"OneTooMany"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(terminal::eventState("EB"), 1);  // the others are intact
    std::u16string longName(261, u'n');
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, longName.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    terminal::reset();
    EXPECT_NE(CreateEventW(nullptr, TRUE, FALSE, u"OneTooMany"), nullptr);
}

TEST_F(KernelTest, AnotherProcessSettingANamedEventWakesTheWaiter) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"KVN_Enable");
    ASSERT_NE(event, nullptr);
    pid_t child = fork();
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
    child = fork();
    if (child == 0) {
        HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Enable");
        _exit(h != nullptr && WaitForSingleObject(h, 20000) == WAIT_OBJECT_0 ? 0 : 1);
    }
    Sleep(50);
    terminal::setEventState("KVN_Enable", true);
    EXPECT_EQ(childExitCode(child), 0);
    CloseHandle(event);
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

TEST_F(KernelTest, UnnamedEventsAreLocalAndWaitsTimeOut) {
    terminal::setClockSpeed(20);
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 200), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    std::thread setter([&] {
        Sleep(100);
        SetEvent(manual);
    });
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    CloseHandle(manual);
    CloseHandle(automatic);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(manual));
}

TEST_F(KernelTest, TheClockSpeedScalesSleepsAndTicksForEveryProcess) {
    terminal::setClockSpeed(100);
    EXPECT_EQ(terminal::clockSpeed(), 100);
    EXPECT_EQ(terminal::config("clock"), "100");
    EXPECT_EQ(hostfacility::realMilliseconds(1000), 10);
    EXPECT_EQ(hostfacility::realMilliseconds(INFINITE), -1);

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
    pid_t child = fork();
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

TEST_F(KernelTest, ThreadsRunDetachedAndCanBeWaitedFor) {
    terminal::setClockSpeed(10);
    static std::atomic<DWORD> seenId{0};
    static std::atomic<bool> release{false};
    auto body = [](LPVOID parameter) -> DWORD {
        seenId = GetCurrentThreadId();
        while (!release) Sleep(10);
        return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
    };
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, body, reinterpret_cast<LPVOID>(uintptr_t{42}), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 100), WAIT_TIMEOUT);
    release = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(seenId.load(), id);
    EXPECT_TRUE(GetExitCodeProcess(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));

    // The last error is per thread.
    SetLastError(1234);
    std::thread other([] { SetLastError(5); });
    other.join();
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(KernelTest, DeviceModelAndFiveVoltOutput) {
    DWORD model = 0, returned = 0;
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_GET_DEVICE_MODEL, nullptr, 0, &model, sizeof model, &returned));
    terminal::setModel(0x0B0C0D0E);
    EXPECT_EQ(terminal::model(), 0x0B0C0D0E);
    EXPECT_TRUE(KernelIoControl(IOCTL_HAL_GET_DEVICE_MODEL, nullptr, 0, &model, sizeof model, &returned));
    EXPECT_EQ(model, 0x0B0C0D0Eu);
    EXPECT_EQ(returned, 4u);
    uint16_t tooSmall = 0;
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_GET_DEVICE_MODEL, nullptr, 0, &tooSmall, sizeof tooSmall, &returned));

    // Without kernel power control the codes are refused and nothing switches.
    EXPECT_FALSE(KernelIoControl(IOCTL_5V_OUTPUT_ON, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(terminal::fiveVoltState(), -1);
    terminal::setConfig("power", "kernel");
    EXPECT_TRUE(KernelIoControl(IOCTL_5V_OUTPUT_ON, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(terminal::fiveVoltState(), 1);
    EXPECT_TRUE(KernelIoControl(IOCTL_5V_OUTPUT_OFF, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(terminal::fiveVoltState(), 0);
    EXPECT_EQ(readHost(".terminal/log/power.log"), "5V on\n5V off\n");
    EXPECT_FALSE(KernelIoControl(0x12345678, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    terminal::reset();
    EXPECT_EQ(terminal::fiveVoltState(), -1);
    EXPECT_EQ(terminal::config("power"), "kernel");  // configuration survives a reset
}

TEST_F(KernelTest, ConfigurationIsAKeyValueFileSharedWithOtherProcesses) {
    terminal::setPortPath(3, "/dev/pts/9");
    terminal::setScreen(240, 320);
    terminal::setConfig("decoder", "/x/libDecoder.so");
    terminal::setConfig("Decoder", "/y/libDecoder.so");  // keys ignore letter case
    EXPECT_EQ(terminal::portPath(3), "/dev/pts/9");
    EXPECT_EQ(terminal::portPath(4), "");
    std::string conf = readHost(".terminal/terminal.conf");
    EXPECT_NE(conf.find("COM3 = /dev/pts/9\n"), std::string::npos) << conf;
    EXPECT_NE(conf.find("screen = 240x320\n"), std::string::npos) << conf;
    EXPECT_NE(conf.find("decoder = /y/libDecoder.so\n"), std::string::npos) << conf;
    EXPECT_EQ(conf.find("/x/"), std::string::npos);

    pid_t child = fork();
    if (child == 0) {
        terminal::setConfig("written-by", "child");
        _exit(terminal::portPath(3) == "/dev/pts/9" ? 0 : 1);
    }
    EXPECT_EQ(childExitCode(child), 0);
    EXPECT_EQ(terminal::config("written-by"), "child");
}
