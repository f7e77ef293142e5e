#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, NewFilesKeepTheSpellingGivenInsideExistingFolders) {
    makeDir("debugadv");
    HANDLE h = CreateFileW(u"\\DebugADV\\Keyvane.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    CloseHandle(h);
    EXPECT_EQ(readHost("debugadv/Keyvane.txt"), "abc");
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
    struct stat st {};
    EXPECT_NE(stat(hostFile("DebugADV").c_str(), &st), 0);

    writeHost("exists.txt", "1");
    EXPECT_EQ(CreateFileW(u"\\EXISTS.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    HANDLE h = CreateFileW(u"\\exists.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    char c;
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));  // opened for writing only
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(h);
    EXPECT_EQ(readHost("exists.txt"), "1");  // OPEN_ALWAYS keeps the contents
}

TEST_F(FilesTest, AttributesDirectoriesDeletionAndSeeking) {
    EXPECT_EQ(GetFileAttributesW(u"\\Zentrova"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(CreateDirectoryW(u"\\Zentrova", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\zentrova", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(GetFileAttributesW(u"\\ZENTROVA") & FILE_ATTRIBUTE_DIRECTORY, 0u);

    HANDLE h = CreateFileW(u"\\Zentrova\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, "0123456789", 10, &n, nullptr);
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    char buffer[16] = {};
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "456789");
    EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
    EXPECT_EQ(SetFilePointer(h, -30, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesW(u"\\Zentrova\\F.BIN") & FILE_ATTRIBUTE_DIRECTORY, 0u);

    EXPECT_TRUE(DeleteFileW(u"\\ZENTROVA\\F.bin"));
    EXPECT_FALSE(DeleteFileW(u"\\Zentrova\\f.bin"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(u"\\Zentrova"));
}

TEST_F(FilesTest, HandlesOfOtherKindsRefuseFileCalls) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char c;
    DWORD n = 5;
    EXPECT_FALSE(ReadFile(event, &c, 1, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(WriteFile(nullptr, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetCommMask(event, EV_RXCHAR));
    CloseHandle(event);
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

TEST_F(FilesTest, ThePlatformFollowsTheTerminalNamedByTheEnvironment) {
    // attach publishes the root, so programs started from here and other
    // copies of the platform in loaded libraries find the same terminal.
    EXPECT_EQ(std::string(getenv("KEYVANE_TERMINAL")), terminal::root());
    terminal::setEventState("InFirst", true);

    char pattern[] = "/tmp/keyvane-platform-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string second = pattern;
    setenv("KEYVANE_TERMINAL", second.c_str(), 1);
    EXPECT_EQ(terminal::root(), second);
    EXPECT_EQ(terminal::eventState("InFirst"), -1);  // shared records follow too
    struct stat st {};
    EXPECT_EQ(stat((second + "/.terminal/state").c_str(), &st), 0);

    ASSERT_TRUE(terminal::attach(root));
    EXPECT_EQ(terminal::eventState("InFirst"), 1);
    EXPECT_EQ(std::string(getenv("KEYVANE_TERMINAL")), root);
    ASSERT_EQ(system(("rm -rf '" + second + "'").c_str()), 0);
}

TEST_F(FilesTest, PortNamesOpenTheConfiguredPortsAndOtherNamesAreFiles) {
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    terminal::setPortPath(3, name);
    HANDLE port = CreateFileW(u"com3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(port, "hi", 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    pollfd p{master, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    char got[8] = {};
    EXPECT_EQ(read(master, got, sizeof got), 2);
    EXPECT_STREQ(got, "hi");
    EXPECT_TRUE(CloseHandle(port));
    close(slave);
    close(master);

    // A port switched off is refused even where a file could be created.
    terminal::setPortPath(4, "none");
    EXPECT_EQ(CreateFileW(u"COM4:", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // Without the colon, or with two digits, the name is a file of the root.
    for (const char16_t* file : {u"COM4", u"COM10:"}) {
        HANDLE h = CreateFileW(file, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    EXPECT_EQ(readHost("COM4"), "");
    EXPECT_EQ(readHost("COM10:"), "");
}

TEST_F(FilesTest, AppendingFromTwoProcessesLosesNoLine) {
    makeDir("DebugADV");
    auto append = [](const char* tag) {
        for (int i = 0; i < 300; ++i) textFileAppend(u"\\DebugADV\\Keyvane.txt", tag, 6);
    };
    pid_t child = fork();
    if (child == 0) {
        append("child\n");
        _exit(0);
    }
    append("mine \n");
    int status = 0;
    waitpid(child, &status, 0);
    std::string text = readHost("DebugADV/Keyvane.txt");
    size_t children = 0, mine = 0;
    for (size_t pos = 0; pos < text.size(); pos += 7) {
        std::string line = text.substr(pos, 7);
        if (line == "child\r\n")
            ++children;
        else if (line == "mine \r\n")
            ++mine;
        else
            ADD_FAILURE() << "torn line at " << pos;
    }
    EXPECT_EQ(children, 300u);
    EXPECT_EQ(mine, 300u);
}
