// The live view in a real text terminal: keyvane-terminal watch runs in a
// terminal multiplexer of its own, and the test reads its screen while the
// wedge works, as a person watching it would.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "console_fixture.h"

using namespace consoletest;

namespace {

bool haveTmux() {
    return access("/usr/bin/tmux", X_OK) == 0 || system("command -v tmux >/dev/null 2>&1") == 0;
}

class Watch : public Console {
protected:
    void TearDown() override {
        if (!socket_.empty()) tmux({"kill-server"});
        Console::TearDown();
    }

    // Runs tmux on this test's own server; its output.
    Result tmux(std::vector<std::string> args) {
        args.insert(args.begin(), {"tmux", "-f", "/dev/null", "-S", socket_});
        std::string command;
        for (const auto& a : args) command += "'" + a + "' ";
        return runProgram({"/bin/sh", "-c", command}, dir_ + "/tmux.out", dir_ + "/tmux.err");
    }

    void startWatch(int width, int height) {
        socket_ = dir_ + "/tmux.sock";
        std::string exe = std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal";
        std::string command =
            "'" + exe + "' --root '" + root_ + "' watch; echo \"watch-exit=$?\" > '" + dir_ + "/watch.exit'";
        Result r = tmux(
            {"new-session", "-d", "-s", "view", "-x", std::to_string(width), "-y", std::to_string(height), command});
        ASSERT_EQ(0, r.code) << r.err;
    }

    // The screen as shown (with -e: with its colour sequences).
    std::string screen(bool colours = false) {
        std::vector<std::string> args{"capture-pane", "-p", "-t", "view"};
        if (colours) args.push_back("-e");
        return tmux(args).out;
    }

    // Waits up to 10 s until the screen satisfies `ok`; the last screen.
    std::string waitScreen(const std::function<bool(const std::string&)>& ok, bool colours = false) {
        std::string shown;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        do {
            shown = screen(colours);
            if (ok(shown)) return shown;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        return shown;
    }

    static std::function<bool(const std::string&)> has(const std::string& text) {
        return [text](const std::string& s) { return s.find(text) != std::string::npos; };
    }

    std::string socket_;
};

TEST_F(Watch, ShowsTheDeviceWorkAndLeavesWithQ) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed: the live view cannot be tested";
    ASSERT_EQ(0, run({"init"}).code);
    ASSERT_EQ(0, run({"write", "/Zentrova/Keyvane.ini",
                      "EnableScanner = 1\\r\\nOutPutMode = 3\\r\\nComportNumber = 3\\r\\nConnectingTo = 2\\r\\n"})
                     .code);
    ASSERT_EQ(0, run({"peer-open", "COM3"}).code);
    ASSERT_EQ(0, run({"focus", "Edit"}).code);
    ASSERT_EQ(0, run({"start"}).code);

    startWatch(110, 45);
    std::string shown = waitScreen(has("running pid"));
    EXPECT_NE(std::string::npos, shown.find("Keyvane terminal  " + root_)) << shown;
    EXPECT_NE(std::string::npos, shown.find("KVN_Loaded=1")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Focus    Edit")) << shown;

    // The scan key held: the scanning light is lit, a coloured dot.
    ASSERT_EQ(0, run({"hold"}).code);
    shown = waitScreen(has("key down"));
    ASSERT_NE(std::string::npos, shown.find("key down")) << shown;
    shown = waitScreen([](const std::string& s) { return s.find("m\u25CF") != std::string::npos; }, true);
    EXPECT_NE(std::string::npos, shown.find("m\u25CF")) << shown;
    ASSERT_EQ(0, run({"release"}).code);
    shown = waitScreen(has("key up"));
    EXPECT_NE(std::string::npos, shown.find("key up")) << shown;

    // A scan: the typed text, the sound and the XR1 record at the peer.
    Result scan = run({"scan", "4006381333931"});
    ASSERT_EQ(0, scan.code) << scan.err;
    shown = waitScreen(has("crc=ok  4006381333931"));
    EXPECT_NE(std::string::npos, shown.find("| 4006381333931")) << shown;
    EXPECT_NE(std::string::npos, shown.find("COM3: 1 frame(s)")) << shown;
    EXPECT_NE(std::string::npos, shown.find("xr1 #1 crc=ok  4006381333931")) << shown;
    // Lights and sounds by the names the leds and sounds commands give them.
    EXPECT_NE(std::string::npos, shown.find("good read")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("resource:")) << shown;
    EXPECT_NE(std::string::npos, shown.find("scanning")) << shown;
    EXPECT_NE(std::string::npos, shown.find("good-read")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("LED1")) << shown;

    // Held over a barcode, the good-read light is lit green until the release.
    ASSERT_EQ(0, run({"view", "LOT1"}).code);
    ASSERT_EQ(0, run({"hold"}).code);
    shown = waitScreen([](const std::string& s) { return s.find("32m\u25CF") != std::string::npos; }, true);
    EXPECT_NE(std::string::npos, shown.find("32m\u25CF")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("33m\u25CF")) << shown;
    ASSERT_EQ(0, run({"release"}).code);
    ASSERT_EQ(0, run({"clear-view"}).code);

    // A smaller window: the view is drawn for it, every line cut to its
    // width (a line that wrapped would push the next ones down).
    ASSERT_EQ(0, tmux({"resize-window", "-t", "view", "-x", "40", "-y", "12"}).code);
    ASSERT_EQ(0, run({"focus", "RichInk"}).code);
    shown = waitScreen(has("Focus    RichInk"));
    std::vector<std::string> rows;
    std::istringstream lines(shown);
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(12u, rows.size()) << shown;
    EXPECT_EQ(0u, rows[0].find("Keyvane terminal")) << shown;
    EXPECT_EQ(0u, rows[1].find("screen 240x320")) << shown;
    EXPECT_EQ(0u, rows[2].find("Wedge")) << shown;
    EXPECT_EQ(0u, rows[5].find("Focus    RichInk")) << shown;

    // The wedge ends: the view says so, with its exit code.
    ASSERT_EQ(0, tmux({"resize-window", "-t", "view", "-x", "110", "-y", "45"}).code);
    ASSERT_EQ(0, run({"stop"}).code);
    shown = waitScreen(has("not running  (last exit 0)"));
    EXPECT_NE(std::string::npos, shown.find("not running  (last exit 0)")) << shown;

    ASSERT_EQ(0, tmux({"send-keys", "-t", "view", "q"}).code);
    std::string exited;
    for (int i = 0; i < 200 && exited.empty(); ++i) {
        exited = testfiles::fileText(dir_ + "/watch.exit");
        if (exited.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ("watch-exit=0\n", exited);
}

TEST_F(Watch, RefusesAnythingButATextTerminal) {
    ASSERT_EQ(0, run({"init"}).code);
    Result r = run({"watch"});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("needs a text terminal")) << r.err;
}

}  // namespace
