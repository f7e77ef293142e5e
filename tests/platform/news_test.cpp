// The platform calls that return what came from outside the process: each
// one counts it as news (platform/host/news.cpp), or a device path resolved
// again would be answered from memory after this process had learned that
// its folder changed. A call that brings news gets its row here.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/host/internal.h"
#include "platform_fixture.h"

namespace {

class NewsTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        writeHost("data.txt", "bytes");
        file = CreateFileW(u"\\data.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        ASSERT_NE(event, nullptr);
        thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 7; }, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        ASSERT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // looked at: the next look is answered quickly
        terminal::setModel(0x1234);
    }
    void TearDown() override {
        CloseHandle(file);
        CloseHandle(event);
        CloseHandle(thread);
        PlatformTest::TearDown();
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    HANDLE thread = nullptr;
};

struct NewsCall {
    const char* name;
    std::function<void(HANDLE file, HANDLE event, HANDLE thread)> call;
};

// Each call made on its own, after everything it needs was set up.
const NewsCall kNewsCalls[] = {
    {"WaitForSingleObject", [](HANDLE, HANDLE, HANDLE thread) { WaitForSingleObject(thread, 10); }},
    {"WaitForSingleObject without waiting on an object looked at just before",
     [](HANDLE, HANDLE event, HANDLE) { WaitForSingleObject(event, 0); }},
    {"Sleep", [](HANDLE, HANDLE, HANDLE) { Sleep(1); }},
    {"ReadFile",
     [](HANDLE file, HANDLE, HANDLE) {
         char buffer[8];
         DWORD got = 0;
         ReadFile(file, buffer, sizeof buffer, &got, nullptr);
     }},
    {"WaitCommEvent",
     [](HANDLE file, HANDLE, HANDLE) {
         DWORD mask = 0;
         WaitCommEvent(file, &mask, nullptr);
     }},
    {"DeviceIoControl",
     [](HANDLE file, HANDLE, HANDLE) {
         DWORD returned = 0;
         DeviceIoControl(file, 0x1234, nullptr, 0, nullptr, 0, &returned, nullptr);
     }},
    {"KernelIoControl",
     [](HANDLE, HANDLE, HANDLE) {
         int32_t model = 0;
         DWORD returned = 0;
         KernelIoControl(IOCTL_HAL_GET_DEVICE_MODEL, nullptr, 0, &model, sizeof model, &returned);
     }},
    {"GetExitCodeProcess",
     [](HANDLE, HANDLE, HANDLE thread) {
         DWORD code = 0;
         GetExitCodeProcess(thread, &code);
     }},
    {"CreateProcessW",
     [](HANDLE, HANDLE, HANDLE) {
         PROCESS_INFORMATION info{};
         WCHAR commandLine[] = u"no-such-program";
         CreateProcessW(u"\\no-such-program.exe", commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        nullptr, &info);
     }},
    {"CreateFileW",
     [](HANDLE, HANDLE, HANDLE) {
         HANDLE h = CreateFileW(u"\\DATA.TXT", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
     }},
    {"CreateFileW on a port", [](HANDLE, HANDLE, HANDLE) {
         HANDLE h = CreateFileW(u"COM7:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
     }},
    {"GetFileAttributesW", [](HANDLE, HANDLE, HANDLE) { GetFileAttributesW(u"\\data.txt"); }},
    {"CreateDirectoryW", [](HANDLE, HANDLE, HANDLE) { CreateDirectoryW(u"\\made", nullptr); }},
    {"DeleteFileW", [](HANDLE, HANDLE, HANDLE) { DeleteFileW(u"\\no-such-file.txt"); }},
    {"LoadLibraryW", [](HANDLE, HANDLE, HANDLE) { LoadLibraryW(u"NoSuchLibrary.dll"); }},
    {"FindFirstDevice",
     [](HANDLE, HANDLE, HANDLE) {
         DEVMGR_DEVICE_INFORMATION info{};
         info.dwSize = sizeof info;
         HANDLE h = FindFirstDevice(DeviceSearchByLegacyName, u"BTD*", &info);
         if (h != INVALID_HANDLE_VALUE) FindClose(h);
     }},
    {"RegisterDevice", [](HANDLE, HANDLE, HANDLE) { RegisterDevice(u"NOP", 9, u"nosuchdriver.dll", 0); }},
    {"GetTickCount (a shared record read under its lock)", [](HANDLE, HANDLE, HANDLE) { GetTickCount(); }},
};

TEST_F(NewsTest, EveryCallThatReturnsWhatCameFromOutsideCountsIt) {
    for (const NewsCall& entry : kNewsCalls) {
        uint64_t before = host::outsideNews.load();
        entry.call(file, event, thread);
        EXPECT_GT(host::outsideNews.load(), before) << entry.name << " heard nothing";
    }
}

}  // namespace
