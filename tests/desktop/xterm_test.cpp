// A barcode typed into xterm, the terminal emulator a person would scan
// into: its shell reads the line, and a screenshot of the screen is kept
// in the build folder (desktop-xterm.png).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <string>

#include "tests/desktop/desktop_support.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DesktopXterm, ABarcodeTypedIntoXtermReachesItsShell) {
    std::string missing = desktop::missingXvfb();
    if (!missing.empty()) GTEST_SKIP() << missing;
    for (const char* program : {"xterm", "xdotool", "import"}) {
        if (desktop::runProgram({"sh", "-c", std::string("command -v ") + program}, "").empty())
            GTEST_SKIP() << program << " is not installed (packages xterm, xdotool, imagemagick)";
    }
    std::string dir = desktop::tempFolder();
    ASSERT_FALSE(dir.empty());
    desktop::XServer server;
    ASSERT_TRUE(server.start());
    std::string received = dir + "/received.txt";
    pid_t xterm = desktop::spawn({"xterm", "-geometry", "80x10+0+0", "-e", "sh", "-c", "cat > " + received}, nullptr,
                                 server.name());
    ASSERT_GT(xterm, 0);
    int code = -1;
    desktop::runProgram({"xdotool", "search", "--sync", "--class", "XTerm"}, server.name(), &code);
    ASSERT_EQ(code, 0);
    // Without a window manager the focus follows the pointer.
    desktop::runProgram({"xdotool", "mousemove", "40", "40"}, server.name(), &code);

    std::string root = desktop::makeDesktopRoot(dir, server.name());
    ASSERT_FALSE(root.empty());
    mkdir((root + "/Zentrova").c_str(), 0700);
    std::ofstream(root + "/Zentrova/Keyvane.ini", std::ios::binary) << "EnableScanner = 1\r\nSuffix = 13\r\n";
    desktop::console(root, {"start"}, &code);
    ASSERT_EQ(code, 0);
    desktop::console(root, {"scan", "XTERM-4006381333931"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(desktop::waitUntil([&] { return readFile(received) == "XTERM-4006381333931\n"; }))
        << readFile(received);
    std::string shot = KEYVANE_BINARY_DIR "/tests/desktop-xterm.png";
    desktop::runProgram({"import", "-display", server.name(), "-window", "root", shot}, server.name(), &code);
    EXPECT_EQ(code, 0);
    struct stat st {};
    EXPECT_TRUE(stat(shot.c_str(), &st) == 0 && st.st_size > 0) << shot;
    desktop::console(root, {"stop"}, &code);
    kill(xterm, SIGKILL);
    waitpid(xterm, nullptr, 0);
    desktop::removeFolder(dir);
}

}  // namespace
