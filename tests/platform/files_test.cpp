// Device paths in the terminal root, open failures, and appends that lose no line.
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/textfile.h"
#include "platform_fixture.h"

using FilesTest = PlatformTest;

TEST_F(FilesTest, DevicePathsMapIntoTheRootIgnoringLetterCase) {
    makeDir("debugadv");
    makeDir("Zentrova");
    writeHost("Zentrova/Keyvane.ini", "x");
    EXPECT_EQ(terminal::hostPath(u"\\DebugADV\\Keyvane.txt"), root + "/debugadv/Keyvane.txt");
    EXPECT_EQ(terminal::hostPath(u"\\ZENTROVA\\keyvane.INI"), root + "/Zentrova/Keyvane.ini");
    EXPECT_EQ(terminal::hostPath(u"\\Missing\\New.txt"), root + "/Missing/New.txt");
    // No way out of the root.
    EXPECT_EQ(terminal::hostPath(u"\\..\\..\\etc\\passwd"), root + "/etc/passwd");

    HANDLE h = CreateFileW(u"\\zentrova\\KEYVANE.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char c = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, &c, 1, &got, nullptr));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(c, 'x');
    EXPECT_TRUE(CloseHandle(h));

    // A new file inside an existing folder keeps the spelling given.
    h = CreateFileW(u"\\DebugADV\\New.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFile(h, "abc", 3, &got, nullptr));
    CloseHandle(h);
    EXPECT_EQ(readHost("debugadv/New.txt"), "abc");
}

TEST_F(FilesTest, OpenFailuresReportWhatIsMissing) {
    EXPECT_EQ(CreateFileW(u"\\nofile.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileW(u"\\nodir\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // Appending never creates the folder: the trace log depends on that.
    EXPECT_EQ(CreateFileW(u"\\DebugADV\\Keyvane.txt", FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(textFileAppend(u"\\DebugADV\\Keyvane.txt", "x\n", 2));

    writeHost("exists.txt", "1");
    EXPECT_EQ(CreateFileW(u"\\EXISTS.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    HANDLE h = CreateFileW(u"\\exists.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(h);
    EXPECT_EQ(readHost("exists.txt"), "1");  // OPEN_ALWAYS keeps the contents
}

TEST_F(FilesTest, AppendingFromTwoThreadsLosesNoLine) {
    makeDir("DebugADV");
    constexpr int kLines = 400;
    auto writer = [](char tag) {
        for (int i = 0; i < kLines; ++i) {
            char line[64];
            int n = snprintf(line, sizeof line, "%c line %04d of the writer\n", tag, i);
            textFileAppend(u"\\DebugADV\\Keyvane.txt", line, static_cast<size_t>(n));
        }
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    a.join();
    b.join();
    std::string text = readHost("DebugADV/Keyvane.txt");
    std::vector<int> next(2, 0);
    size_t pos = 0, lines = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(pos, end - pos);
        ASSERT_EQ(line.size(), 25u) << line;
        int who = line[0] == 'A' ? 0 : 1;
        EXPECT_EQ(atoi(line.c_str() + 7), next[who]) << line;  // each writer's lines in its order
        ++next[who];
        ++lines;
        pos = end + 2;
    }
    EXPECT_EQ(lines, 2u * kLines);
}
