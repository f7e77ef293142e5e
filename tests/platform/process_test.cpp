// Programs started and waited for, and message boxes answered from a script.
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host/internal.h"
#include "platform_fixture.h"
#include "tests/support/test_child.h"
#include "tests/support/wedge_process.h"

namespace {

// Started by CreateProcessW as a program of the terminal, this test program
// does what its one argument says and leaves before the tests run:
//   "helper exit <n> <anything>"  records its arguments and terminal, exits with n
//   "helper set <event>"          sets the named event of its terminal
std::vector<std::string> commandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(arg);
    return args;
}

const int helperRan = [] {
    std::vector<std::string> args = commandLine();
    if (args.size() < 2 || args[1].rfind("helper ", 0) != 0) return 0;
    const std::string& what = args[1];
    if (what.rfind("helper exit ", 0) == 0) {
        std::ofstream out(terminal::root() + "/helper.txt", std::ios::binary);
        out << args.size() << "|" << what << "|" << getenv("KEYVANE_TERMINAL");
        out.close();
        _exit(atoi(what.c_str() + 12));
    }
    if (what.rfind("helper set ", 0) == 0) {
        std::u16string name(what.begin() + 11, what.end());
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        _exit(h != nullptr && SetEvent(h) ? 0 : 1);
    }
    _exit(99);
}();

std::string selfExecutable() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

class ProcessTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        terminal::installProgram(u"\\Program Files\\Fieldkit\\Helper PPC.exe", selfExecutable());
    }
    // Starts the helper with `argument` and waits for its exit code.
    DWORD run(const char16_t* device, const std::u16string& argument) {
        std::u16string line = argument;
        PROCESS_INFORMATION info{};
        STARTUPINFOW startup{};
        if (!CreateProcessW(device, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return 0xDEAD;
        EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        EXPECT_TRUE(CloseHandle(info.hThread));
        EXPECT_TRUE(CloseHandle(info.hProcess));
        return code;
    }
};

}  // namespace

TEST_F(ProcessTest, StartsTheInstalledProgramWithOneArgumentAndReportsItsExitCode) {
    ASSERT_EQ(helperRan, 0);
    EXPECT_EQ(run(u"\\program files\\FIELDKIT\\helper ppc.exe", u"helper exit 3 /f \"\\Zentrova\\a b.ini\""), 3u);
    // One argument, quotes and blanks untouched; the child is on this terminal.
    EXPECT_EQ(readHost("helper.txt"), "2|helper exit 3 /f \"\\Zentrova\\a b.ini\"|" + root);

    // The program sets a named event of this terminal, which this process holds.
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, u"KVN_FromChild");
    EXPECT_EQ(run(u"\\Program Files\\Fieldkit\\Helper PPC.exe", u"helper set KVN_FromChild"), 0u);
    EXPECT_EQ(terminal::eventState("KVN_FromChild"), 1);
    CloseHandle(held);
}

TEST_F(ProcessTest, ScriptsOfTheRootRunAndCanBeWaitedForAndMissingOnesAreRefused) {
    terminal::setClockSpeed(10);
    makeDir("Windows");
    writeHost("Windows/quick.sh", "#!/bin/sh\nsleep 0.2\nexit 1\n");
    chmod(hostFile("Windows/quick.sh").c_str(), 0755);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(
        CreateProcessW(u"\\Windows\\quick.sh", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info));
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    // Closing the primary thread's handle does not stop the program.
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 1u);
    CloseHandle(info.hProcess);

    writeHost("Windows/plain.txt", "not a program");
    EXPECT_FALSE(
        CreateProcessW(u"\\Windows\\plain.txt", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProcessTest, MessageBoxesAreRecordedAndAnsweredFromTheScript) {
    EXPECT_EQ(MessageBoxW(nullptr, u"Settings file not found", u"Error: File not found", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"Exit?", u"Keyvane", MB_YESNO | MB_ICONQUESTION), IDNO);
    terminal::scriptMessageBoxAnswer(IDYES);
    terminal::scriptMessageBoxAnswer(IDCANCEL);
    HWND owner = reinterpret_cast<HWND>(uintptr_t{0x1234});
    EXPECT_EQ(MessageBoxW(owner, u"Line one\nLine\ttwo \\ three", u"Keyvane : Warning", MB_YESNO), IDYES);
    // The script is shared by every process of the terminal.
    pid_t child = testchild::forkTestChild();
    if (child == 0) _exit(MessageBoxW(nullptr, u"from child", u"Warning", MB_OK));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), IDCANCEL);

    auto boxes = terminal::messageBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].caption, u"Error: File not found");
    EXPECT_EQ(boxes[0].answer, IDOK);
    EXPECT_EQ(boxes[1].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(boxes[1].answer, IDNO);
    EXPECT_EQ(boxes[2].text, u"Line one\nLine\ttwo \\ three");
    EXPECT_EQ(boxes[2].owner, 0x1234u);
    EXPECT_EQ(boxes[2].answer, IDYES);
    EXPECT_EQ(boxes[3].text, u"from child");
}

// A child of a test ends with the test, however the test ends: here a copy of
// the test program forks a child the way every test does and is then killed
// as ctest kills a test at its time-out.
TEST(TestChildren, AChildEndsWhenItsTestIsKilled) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t test = testchild::forkTestChild();
    ASSERT_GE(test, 0);
    if (test == 0) {
        close(report[0]);
        pid_t child = testchild::forkTestChild();
        if (child == 0)
            for (;;) pause();
        if (write(report[1], &child, sizeof child) != static_cast<ssize_t>(sizeof child)) _exit(1);
        for (;;) pause();
    }
    close(report[1]);
    pid_t child = 0;
    ASSERT_EQ(read(report[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
    close(report[0]);
    ASSERT_NE(host::processStartTime(child), 0u) << "the child runs while its test does";

    kill(test, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(test, &status, 0), test);
    bool ended = wedge::waitFor([child] { return host::processStartTime(child) == 0; }, 10000);
    if (!ended) kill(child, SIGKILL);
    EXPECT_TRUE(ended) << "pid " << child << " outlived its killed test";
}
