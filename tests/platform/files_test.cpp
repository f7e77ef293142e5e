// Device paths in the terminal root, open failures, and appends that lose no line.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/textfile.h"
#include "platform_fixture.h"
#include "tests/support/test_child.h"

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

// Folders and files made, renamed or removed behind the platform's back (by
// the host, another process) are seen by the very next call, in this process
// and in a child forked before the change. What another process did is
// known here once a platform call brought word of it (here the child's event,
// waited for); a raw wait for the child would tell the platform nothing.
TEST_F(FilesTest, ChangesOnTheHostAreSeenByTheNextCall) {
    EXPECT_FALSE(textFileAppend(u"\\DebugADV\\Keyvane.txt", "a\n", 2));
    EXPECT_EQ(GetFileAttributesW(u"\\DebugADV\\Keyvane.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    HANDLE appended = CreateEventW(nullptr, TRUE, FALSE, u"FilesTestAppended");
    ASSERT_NE(appended, nullptr);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        // Resolves once before the parent's change, then waits for it.
        bool before = GetFileAttributesW(u"\\DEBUGADV") == INVALID_FILE_ATTRIBUTES;
        if (write(toParent[1], "r", 1) != 1) _exit(8);
        char go = 0;
        bool woke = read(toChild[0], &go, 1) == 1;
        bool after = textFileAppend(u"\\DEBUGADV\\Keyvane.txt", "child\n", 6);
        bool said = SetEvent(appended) != 0;
        _exit((before ? 0 : 1) | (woke ? 0 : 2) | (after ? 0 : 4) | (said ? 0 : 8));
    }
    char ready = 0;
    ASSERT_EQ(read(toParent[0], &ready, 1), 1);
    makeDir("debugAdv");
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    EXPECT_EQ(WaitForSingleObject(appended, 10000), WAIT_OBJECT_0);
    CloseHandle(appended);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: found before, 2: not woken, 4: not appended, 8: not said";
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);

    EXPECT_TRUE(textFileAppend(u"\\DebugADV\\Keyvane.txt", "b\n", 2));
    EXPECT_EQ(readHost("debugAdv/Keyvane.txt"), "child\r\nb\r\n");
    EXPECT_EQ(GetFileAttributesW(u"\\debugadv\\keyvane.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));

    // Renamed: the old name is gone, the new one answers.
    ASSERT_EQ(rename(hostFile("debugAdv").c_str(), hostFile("Other").c_str()), 0);
    EXPECT_FALSE(textFileAppend(u"\\DebugADV\\Keyvane.txt", "c\n", 2));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_NE(GetFileAttributesW(u"\\OTHER\\Keyvane.txt"), INVALID_FILE_ATTRIBUTES);

    // Removed file: "file not found" in the folder that is still there;
    // made again with another spelling, it is found under that one.
    ASSERT_EQ(unlink(hostFile("Other/Keyvane.txt").c_str()), 0);
    EXPECT_EQ(GetFileAttributesW(u"\\Other\\Keyvane.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    writeHost("Other/KEYVANE.TXT", "x");
    HANDLE h = CreateFileW(u"\\other\\keyvane.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    // A folder never opens as a file.
    EXPECT_EQ(CreateFileW(u"\\Other", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileW(u"\\Other"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// An append whose folder is missing is answered from memory while this
// process has heard nothing from outside. Another process makes the folder
// (or moves it away) and then says so by an event: the append right after
// the wait sees the change, every turn, however soon it comes.
TEST_F(FilesTest, AFolderChangedElsewhereIsSeenByTheAppendAfterWordOfIt) {
    constexpr int kTurns = 60;
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, u"FilesTestGo");
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, u"FilesTestDone");
    ASSERT_NE(go, nullptr);
    ASSERT_NE(done, nullptr);
    const std::string folder = hostFile("DebugADV");
    pid_t child = testchild::forkTestChild();
    if (child == 0) {
        for (int i = 0; i < kTurns; ++i) {
            if (WaitForSingleObject(go, 10000) != WAIT_OBJECT_0) _exit(2);
            int rc = i % 2 == 0 ? mkdir(folder.c_str(), 0755)
                                : rename(folder.c_str(), (folder + ".old" + std::to_string(i)).c_str());
            if (rc != 0) _exit(3);
            SetEvent(done);
        }
        _exit(0);
    }
    int stale = 0;
    for (int i = 0; i < kTurns; ++i) {
        bool made = i % 2 == 0;  // what the child does this turn
        // Twice before (with the folder missing, the second needs no look).
        EXPECT_EQ(textFileAppend(u"\\DebugADV\\Keyvane.txt", "before\n", 7), !made) << "turn " << i;
        EXPECT_EQ(textFileAppend(u"\\DebugADV\\Keyvane.txt", "before\n", 7), !made) << "turn " << i;
        ASSERT_TRUE(SetEvent(go));
        // Once more while the child works: the change then comes within
        // microseconds of this append's look, or just before it.
        textFileAppend(u"\\DebugADV\\Keyvane.txt", "during\n", 7);
        ASSERT_EQ(WaitForSingleObject(done, 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "turn " << i;
        stale += textFileAppend(u"\\DebugADV\\Keyvane.txt", "after\n", 6) != made;
    }
    EXPECT_EQ(stale, 0) << "appends after the word that missed the change, of " << kTurns;
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    // Each folder moved away holds what was appended while it was there.
    EXPECT_EQ(readHost("DebugADV.old1/Keyvane.txt").rfind("after\r\nbefore\r\nbefore\r\n", 0), 0u);
    CloseHandle(go);
    CloseHandle(done);
}

namespace {

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0xFFFFu;
}

// Sets the umask for the scope of a test and puts the previous one back.
class Umask {
public:
    explicit Umask(mode_t mask) : previous_(umask(mask)) {}
    ~Umask() { umask(previous_); }

private:
    mode_t previous_;
};

}  // namespace

// Whatever the umask, what the terminal and the wedge create in the root is
// the owner's alone.
TEST_F(FilesTest, EverythingCreatedInTheRootIsOwnerOnlyEvenWithAnOpenUmask) {
    std::string fresh = root + "/fresh";
    {
        // Attaching tightens an open umask for whatever else the process makes.
        Umask open(0);
        ASSERT_TRUE(terminal::attach(fresh));
        std::ofstream(fresh + "/other.txt") << "x";
        EXPECT_EQ(modeOf(fresh + "/other.txt"), 0600u);
    }
    // The terminal's own files and folders do not depend on it.
    Umask open(0);
    terminal::setConfig("model", "0x1F40");
    ASSERT_TRUE(CreateDirectoryW(u"\\DebugADV", nullptr));
    HANDLE h = CreateFileW(u"\\DebugADV\\Keyvane.txt", FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "4111111111111111\r\n", 18, &written, nullptr));
    CloseHandle(h);
    EXPECT_EQ(modeOf(fresh), 0700u);
    EXPECT_EQ(modeOf(fresh + "/.terminal"), 0700u);
    EXPECT_EQ(modeOf(fresh + "/.terminal/log"), 0700u);
    EXPECT_EQ(modeOf(fresh + "/.terminal/terminal.conf"), 0600u);
    EXPECT_EQ(modeOf(fresh + "/DebugADV"), 0700u);
    EXPECT_EQ(modeOf(fresh + "/DebugADV/Keyvane.txt"), 0600u);
    for (const char* state : {"keyboard", "events"}) {
        keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
        HANDLE e = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Loaded");
        CloseHandle(e);
        EXPECT_EQ(modeOf(fresh + "/.terminal/state/" + state), 0600u) << state;
    }
}

// A symbolic link in the root never leads a created or written file out of
// it; reading through one still works.
TEST_F(FilesTest, SymbolicLinksDoNotLeadWrittenFilesOutOfTheRoot) {
    std::string outside = root + "-outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    std::ofstream(outside + "/victim.txt") << "kept";
    makeDir("DebugADV");
    ASSERT_EQ(symlink((outside + "/victim.txt").c_str(), hostFile("DebugADV/Keyvane.txt").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), hostFile("Elsewhere").c_str()), 0);

    HANDLE h = CreateFileW(u"\\DebugADV\\Keyvane.txt", FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    h = CreateFileW(u"\\Elsewhere\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateDirectoryW(u"\\Elsewhere\\Made", nullptr));
    std::ifstream kept(outside + "/victim.txt");
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(std::ifstream(outside + "/new.txt").good());

    // Reading a linked settings file is fine.
    h = CreateFileW(u"\\Elsewhere\\victim.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    std::string command = "rm -rf '" + outside + "'";
    ASSERT_EQ(system(command.c_str()), 0);
}

// A COM port opens only on a character device or a FIFO; a path that names
// an ordinary file is refused and the file stays as it was.
TEST_F(FilesTest, AComPortOpensOnlyOnADeviceOrAFifo) {
    writeHost("not-a-port", "before");
    terminal::setPortPath(3, hostFile("not-a-port"));
    HANDLE h = CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readHost("not-a-port"), "before");
    makeDir("folder");
    terminal::setPortPath(3, hostFile("folder"));
    EXPECT_EQ(CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);

    ASSERT_EQ(mkfifo(hostFile("fifo").c_str(), 0600), 0);
    terminal::setPortPath(3, hostFile("fifo"));
    h = CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "AB", 2, &written, nullptr));
    char back[2] = {};
    DWORD read = 0;
    COMMTIMEOUTS quick{};
    quick.ReadTotalTimeoutConstant = 500;
    SetCommTimeouts(h, &quick);
    EXPECT_TRUE(ReadFile(h, back, 2, &read, nullptr));
    EXPECT_EQ(std::string(back, read), "AB");
    CloseHandle(h);
}

// The terminal's programs refuse a root, configuration or decoder library
// that group or others may write, naming the path and the fix.
TEST_F(FilesTest, WritableRootConfigurationOrDecoderIsNamedWithItsFix) {
    terminal::setConfig("model", "0x1F40");
    EXPECT_EQ(terminal::safetyProblem(), "");
    std::string conf = root + "/.terminal/terminal.conf";
    struct Case {
        std::string path;
        mode_t loose;
        mode_t tight;
        const char* what;
    };
    std::string decoder = root + "-lib/libDecoder.so";
    ASSERT_EQ(mkdir((root + "-lib").c_str(), 0755), 0);
    std::ofstream(decoder) << "not really a library";
    chmod(decoder.c_str(), 0644);
    terminal::setConfig("decoder", decoder);
    EXPECT_EQ(terminal::safetyProblem(), "");
    for (const Case& c :
         {Case{root, 0777, 0700, "terminal root"}, Case{root, 0720, 0700, "terminal root"},
          Case{conf, 0666, 0600, "terminal configuration"}, Case{decoder, 0646, 0644, "decoder library"},
          Case{root + "-lib", 0775, 0755, "decoder library folder"}}) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(chmod(c.path.c_str(), c.loose), 0);
        EXPECT_EQ(terminal::safetyProblem(), std::string(c.what) + " " + c.path +
                                                 " is writable by group or others; refused (make it the owner's "
                                                 "alone: chmod go-w " +
                                                 c.path + ")");
        ASSERT_EQ(chmod(c.path.c_str(), c.tight), 0);
        EXPECT_EQ(terminal::safetyProblem(), "");
    }
    std::string command = "rm -rf '" + root + "-lib'";
    ASSERT_EQ(system(command.c_str()), 0);
}
