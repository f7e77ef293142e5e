// The console as a user or a script meets it: the real keyvane-terminal in
// its own process, on a fresh terminal root, with the real wedge where a
// scenario needs one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Console : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/keyvane-console-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        root_ = dir_ + "/terminal";
    }

    void TearDown() override {
        // Peers opened by a test end with their pid files.
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root_ + "/.terminal/peers", ec))
            if (e.path().extension() == ".pid") {
                int pid = std::atoi(slurp(e.path()).c_str());
                fs::remove(e.path(), ec);
                if (pid > 0) kill(pid, SIGTERM);
            }
        run({"kill"});
        // A process that just ended may still have been writing its logs.
        for (int i = 0; i < 5 && fs::exists(dir_); ++i) {
            fs::remove_all(dir_, ec);
            if (fs::exists(dir_)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Runs keyvane-terminal --root <root> ARGS.
    Result run(std::vector<std::string> args, bool withRoot = true) {
        std::string exe = std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal";
        if (withRoot) args.insert(args.begin(), {"--root", root_});
        args.insert(args.begin(), exe);
        std::string outPath = dir_ + "/out", errPath = dir_ + "/err";
        pid_t pid = fork();
        if (pid == 0) {
            int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            unsetenv("KEYVANE_TERMINAL");
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(outPath);
        r.err = slurp(errPath);
        return r;
    }

    std::string writeScenario(const std::string& name, const std::string& text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string samples() const { return std::string(KEYVANE_SOURCE_DIR) + "/samples"; }

    std::string dir_, root_;
};

// ------------------------------------------------------------------ arguments

TEST_F(Console, BadArgumentsExitTwoWithAMessageThatNamesTheProblem) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"view"}, "data is missing"},
        {{"view", "123", "--row", "480"}, "--row needs 0..479"},
        {{"view", "123", "--sym", "ab"}, "--sym needs one character"},
        {{"scan", "1", "2"}, "one barcode at a time"},
        {{"config", "screen", "240"}, "WIDTHxHEIGHT"},
        {{"config", "colour", "red"}, "unknown key colour"},
        {{"answer", "perhaps"}, "unknown answer perhaps"},
        {{"event", "KVN_Enable", "toggle"}, "set or reset"},
        {{"peer", "LPT1"}, "usage: peer COMn"},
        {{"swipe"}, "the card's data"},
        {{"view", "\\q"}, "unknown escape \\q"},
        {{"view", "\\x4"}, "\\x needs two hex digits"},
        {{"decode", "123"}, "odd number of hex digits"},
        {{"run"}, "which scenario file"},
    };
    for (const Case& c : cases) {
        Result r = run(c.args);
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        EXPECT_EQ(r.code, 2) << shown;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, "") << shown;
    }
    Result noRoot = run({"--root"}, false);
    EXPECT_EQ(noRoot.code, 2);
    EXPECT_NE(noRoot.err.find("--root needs a folder"), std::string::npos);
}

TEST_F(Console, HelpListsEveryCommandAndExplainsOne) {
    Result all = run({"--help"});
    EXPECT_EQ(all.code, 0);
    for (const char* command : {"init", "start", "stop", "scan", "swipe", "peer COMn", "trace", "run FILE.scenario"})
        EXPECT_NE(all.out.find(command), std::string::npos) << command;
    Result one = run({"scan", "--help"});
    EXPECT_EQ(one.code, 0);
    EXPECT_NE(one.out.find("good read"), std::string::npos);
}

// ------------------------------------------------------------------ state of the terminal

TEST_F(Console, EscapedArgumentsReachTheTerminalAsBytes) {
    ASSERT_EQ(run({"init"}).code, 0);
    ASSERT_EQ(run({"view", "A\\x02B\\tC", "--sym", "j", "--id2", "\\x30", "--row", "17"}).code, 0);
    Result r = run({"in-view"});
    EXPECT_EQ(r.out, "data=A\\x02B\\tC\tsym=j\tid2=0\tsymid=-1\trow=17\n");
    Result json = run({"--json", "in-view"});
    EXPECT_NE(json.out.find("\"data\": \"A\\u0002B\\u0009C\""), std::string::npos) << json.out;
    ASSERT_EQ(run({"clear-view"}).code, 0);
    EXPECT_EQ(run({"in-view"}).out, "");
}

TEST_F(Console, ConfigurationAndEventsAreKeptOnTheTerminal) {
    ASSERT_EQ(run({"init"}).code, 0);
    EXPECT_EQ(run({"model", "0x1F40"}).code, 0);
    EXPECT_EQ(run({"model"}).out, "8000\n");
    EXPECT_EQ(run({"screen", "480x640"}).code, 0);
    EXPECT_EQ(run({"config", "screen"}).out, "480x640\n");
    EXPECT_EQ(run({"event", "KVN_Enable"}).out, "-1\n");
    EXPECT_EQ(run({"event", "KVN_Enable", "set"}).out, "1\n");
    EXPECT_EQ(run({"event", "KVN_Enable"}).out, "1\n");
    EXPECT_EQ(run({"event", "KVN_Enable", "reset"}).out, "0\n");
}

// ------------------------------------------------------------------ serial peers and framings

TEST_F(Console, FramesAreSplitAndCheckedPerFraming) {
    // A tagged decode result and a tagged command, back to back.
    std::string decodeHeader = "DECRES2P\"9\"CID\"]Z9\"AID0INDREQ\x1D";
    std::string commandHeader = "MNUCMD2P0RSPREQ\"\"DEVNAME0CMDRSPREQ1INDREQ\x1D=AT:0;";
    std::string tagged = std::string("\x16\xFE\x23\x00\x00\x00\x0D", 7) + decodeHeader + "12345";
    tagged += std::string("\x16\xFE\x35\x00\x00\x00\x0D", 7) + commandHeader + "PING.";
    std::string hexText;
    char b[4];
    for (unsigned char c : tagged) {
        std::snprintf(b, sizeof b, "%02X", c);
        hexText += b;
    }
    Result r = run({"decode", hexText});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("frame=1\tframing=tagged\tkind=decode\tlength=35\tdata=12345\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frame=2\tframing=tagged\tkind=command\tlength=53\tdata=~PING.\t"), std::string::npos)
        << r.out;

    // XR1: CRC-16/XMODEM over the record; a changed data byte fails the check.
    const std::string good = "01 58 52 31 00 00 00 01 01 00 00 00 01 00 05 31 32 33 34 35 89 CE";
    Result xr1 = run({"decode", good});
    EXPECT_EQ(xr1.out, "frame=1\tframing=xr1\tsequence=1\tlength=5\tcrc=ok\tdata=12345\thex=" + good + "\n");
    Result bad = run({"decode", "01 58 52 31 00 00 00 01 01 00 00 00 01 00 05 31 32 33 34 36 89 CE"});
    EXPECT_NE(bad.out.find("crc=bad"), std::string::npos) << bad.out;

    // Two-byte header records, split at each header; raw bytes stay whole.
    Result header = run({"decode", "0102414201024344", "--data"});
    EXPECT_EQ(header.out, "AB\nCD\n");
    Result raw = run({"decode", "--text", "\\x01\\x02AB", "--framing", "raw", "--data"});
    EXPECT_EQ(raw.out, "\\x01\\x02AB\n");
}

TEST_F(Console, APeerRecordsWhatTheTerminalSideWritesAndSendsBack) {
    ASSERT_EQ(run({"init"}).code, 0);
    Result opened = run({"peer-open", "COM3"});
    ASSERT_EQ(opened.code, 0) << opened.err;
    std::string device = opened.out.substr(opened.out.find('\t') + 1);
    device.pop_back();
    EXPECT_EQ(run({"config", "COM3"}).out, device + "\n");

    // The wedge's side of the port: the pseudo-terminal's device.
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const char frame[] =
        "\x01\x02"
        "AB\r\n";
    ASSERT_EQ(write(fd, frame, 6), 6);
    Result seen;
    for (int i = 0; i < 200; ++i) {
        seen = run({"peer", "COM3", "--hex"});
        if (seen.out == "01 02 41 42 0D 0A\n") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(seen.out, "01 02 41 42 0D 0A\n") << "bytes pass the pseudo-terminal unchanged";
    EXPECT_EQ(run({"peer", "COM3", "--data"}).out, "AB\\r\\n\n");

    ASSERT_EQ(run({"peer-send", "COM3", "ACK\\r"}).code, 0);
    char buffer[16] = {};
    ssize_t got = 0;
    for (int i = 0; i < 200 && got < 4; ++i) {
        ssize_t n = read(fd, buffer + got, sizeof buffer - 1 - static_cast<size_t>(got));
        if (n > 0) got += n;
    }
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(got)), "ACK\r");
    close(fd);

    ASSERT_EQ(run({"peer-clear", "COM3"}).code, 0);
    EXPECT_EQ(run({"peer", "COM3"}).out, "");
    EXPECT_EQ(run({"peer-close", "COM3"}).code, 0);
    EXPECT_EQ(run({"peer-send", "COM3", "x"}).code, 1);
}

// ------------------------------------------------------------------ the wedge

TEST_F(Console, StartReportsAWedgeThatCannotLoadItsSettings) {
    ASSERT_EQ(run({"init"}).code, 0);
    Result r = run({"start", "--timeout", "10"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("ended before it was loaded"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Keyvane.ini"), std::string::npos) << "the message box is shown: " << r.err;
    EXPECT_EQ(run({"status"}).out.substr(0, 10), "running=0\t");
    Result word = run({"command", "quit"});
    EXPECT_EQ(word.code, 1);
    EXPECT_NE(word.err.find("no wedge runs"), std::string::npos);
}

TEST_F(Console, TheVibratorIsFoundByTheDeviceModel) {
    // Vibrate without lights: every light change is the vibrator's.
    fs::create_directories(dir_ + "/vib/Zentrova");
    std::ofstream(dir_ + "/vib/Zentrova/Keyvane.ini")
        << "OutPutMode = 1\nEnableLEDs = 0\nVirbrateOnSuccessfulScan = 1\nVirbrateOnSuccessfulScanTime = 50\n";
    for (const char* model : {"0", "7000", "1234"}) {
        std::string led = std::string(model) == "1234" ? "2" : "0";
        std::string path = writeScenario("vib.scenario",
                                         "init --from vib\n"
                                         "model " +
                                             std::string(model) +
                                             "\n"
                                             "start\n"
                                             "scan 1\n"
                                             "expect vibrator matches \"vibrator=on\\n.*vibrator=off\\n\"\n"
                                             "expect vibrator contains \"now=off\tled=" +
                                             led +
                                             "\"\n"
                                             "expect leds matches \"^time=[0-9]+\tled=" +
                                             led + "\tstate=1\\ntime=[0-9]+\tled=" + led + "\tstate=0$\"\n");
        Result r = run({"run", path}, false);
        EXPECT_EQ(r.code, 0) << "model " << model << "\n" << r.out << r.err;
    }
}

TEST_F(Console, HoldReleaseAndAScanWithoutAWedgeAreSeenOnTheKeyboard) {
    ASSERT_EQ(run({"init"}).code, 0);
    ASSERT_EQ(run({"hold"}).code, 0);
    ASSERT_EQ(run({"release"}).code, 0);
    Result scan = run({"scan", "777", "--timeout", "100"});
    EXPECT_EQ(scan.code, 1);
    EXPECT_EQ(scan.out, "reads=0\n");
    EXPECT_NE(scan.err.find("0 good read(s) of 1 within 100 ms"), std::string::npos) << scan.err;
    // Four scan-key events, the last one up: a failed scan leaves the key released
    // and the barcode out of view.
    Result keys = run({"keys"});
    size_t lines = 0, at = 0;
    while ((at = keys.out.find("vk=0x2A", at)) != std::string::npos) ++lines, ++at;
    EXPECT_EQ(lines, 4u) << keys.out;
    EXPECT_NE(keys.out.rfind("vk=0x2A\tstate=up"), std::string::npos);
    EXPECT_GT(keys.out.rfind("vk=0x2A\tstate=up"), keys.out.rfind("vk=0x2A\tstate=down"));
    EXPECT_EQ(run({"in-view"}).out, "");
}

// Settings written for one test: the general keys given, trace on.
void writeSettings(const std::string& root, const std::string& keys) {
    fs::create_directories(root + "/Zentrova");
    fs::create_directories(root + "/DebugADV");
    std::ofstream(root + "/Zentrova/Keyvane.ini") << keys;
}

TEST_F(Console, EachSerialFramingOfTheWedgeIsReadBack) {
    struct Case {
        const char* connectingTo;
        std::string expected;  // peer COM3 without the hex column
    };
    const Case cases[] = {
        {"1",
         "frame=1\tframing=tagged\tkind=decode\tlength=35\tdata=12345\n"
         "frame=2\tframing=tagged\tkind=command\tlength=53\tdata=~PING.\n"},
        {"2",
         "frame=1\tframing=xr1\tsequence=1\tlength=5\tcrc=ok\tdata=12345\n"
         "frame=2\tframing=xr1\tsequence=2\tlength=6\tcrc=ok\tdata=~PING.\n"},
        {"3", "frame=1\tframing=header\tdata=12345\nframe=2\tframing=header\tdata=~PING.\n"},
        {"4", "frame=1\tframing=raw\tdata=12345~PING.\n"},
    };
    for (const Case& c : cases) {
        writeSettings(dir_ + "/serial",
                      std::string("OutPutMode = 2\nComportNumber = 3\nConnectingTo = ") + c.connectingTo + "\n");
        std::string path = writeScenario("serial.scenario",
                                         "init --clean --from serial\n"
                                         "peer-open COM3\n"
                                         "start\n"
                                         "scan 12345\n"
                                         "scan ~PING.\n"
                                         "expect peer COM3 --data contains ~PING.\n"
                                         "stop\n");
        Result r = run({"run", path, "--quiet"});
        ASSERT_EQ(r.code, 0) << "ConnectingTo " << c.connectingTo << "\n" << r.out << r.err;
        Result peer = run({"peer", "COM3"});
        std::string withoutHex;
        std::istringstream lines(peer.out);
        std::string line;
        while (std::getline(lines, line)) withoutHex += line.substr(0, line.find("\thex=")) + "\n";
        EXPECT_EQ(withoutHex, c.expected) << "ConnectingTo " << c.connectingTo;
        run({"peer-close", "COM3"});
    }
}

TEST_F(Console, TheTrayMenuAndMessageBoxAnswersSteerTheWedge) {
    std::string path = writeScenario("tray.scenario",
                                     "init --from " + samples() +
                                         "/terminal\n"
                                         "peer-open COM3\n"
                                         "start\n"
                                         "expect tray lines 1\n"
                                         "menu exit\n"
                                         "answer no\n"
                                         "tray tap\n"
                                         "expect trace contains \"App Exit cancel\"\n"
                                         "expect msgbox matches \"caption=Keyvane 1.9.1\ttext=Are you sure you want to "
                                         "close Keyvane\t.*answer=7\"\n"
                                         "expect status contains running=1\n"
                                         "menu exit\n"
                                         "answer yes\n"
                                         "tray tap\n"
                                         "expect status contains running=0\n"
                                         "expect tray lines 0\n");
    Result r = run({"run", path}, false);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
}

TEST_F(Console, ASwipeReturnsOnceTheCardIsDelivered) {
    std::string path = writeScenario("swipe.scenario", "init --from " + samples() +
                                                           "/terminal\n"
                                                           "peer-open COM3\n"
                                                           "start\n"
                                                           "swipe \"%B5500000000000004^ROE/JANE^2612?\"\n"
                                                           "text\n"
                                                           "stop\n");
    Result r = run({"run", path}, false);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("  ok      text\n      5500000000000004\\n\n"), std::string::npos) << r.out;
}

TEST_F(Console, ExpectationsWaitForLateOutputAndExitCodesCanBeExpected) {
    ASSERT_EQ(run({"init"}).code, 0);
    std::string path = writeScenario("late.scenario",
                                     "timeout 3000\n"
                                     "scan 1 --timeout 50\n"
                                     "expect exit 1\n"
                                     "event Late\n"
                                     "expect event Late == 1\n"
                                     "expect keys lines 2\n"
                                     "expect keys != \"\"\n"
                                     "expect text lacks 1\n");
    // The event is set by another process while the expectation waits.
    pid_t setter = fork();
    if (setter == 0) {
        usleep(400000);
        execl((std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal").c_str(), "keyvane-terminal", "--root",
              root_.c_str(), "event", "Late", "set", static_cast<char*>(nullptr));
        _exit(127);
    }
    Result r = run({"run", path});
    int status = 0;
    waitpid(setter, &status, 0);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("  ok      expect event Late == 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("scenario late.scenario: 7 passed, 0 failed"), std::string::npos) << r.out;
}

// ------------------------------------------------------------------ scenarios

TEST_F(Console, APassingScenarioDrivesTheWedgeAndExitsZero) {
    std::string path = writeScenario("pass.scenario", "init --from " + samples() +
                                                          "/terminal\n"
                                                          "peer-open COM3\n"
                                                          "focus Edit\n"
                                                          "start\n"
                                                          "scan 0042 --sym a\n"
                                                          "expect text == \"0042\\n\"\n"
                                                          "expect peer COM3 --data == 0042\n"
                                                          "expect trace contains \"Start Scan\"\n"
                                                          "stop\n"
                                                          "expect status contains running=0\n");
    Result r = run({"run", path}, false);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("  ok      expect text == \"0042\\n\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("scenario pass.scenario: 10 passed, 0 failed"), std::string::npos) << r.out;
}

TEST_F(Console, AFailingScenarioShowsTheDifferenceAndExitsNonZero) {
    std::string path = writeScenario("fail.scenario", "init --from " + samples() +
                                                          "/terminal\n"
                                                          "peer-open COM3\n"
                                                          "start\n"
                                                          "timeout 300\n"
                                                          "scan 12345\n"
                                                          "expect text == \"12346\\n\"\n"
                                                          "expect trace lacks \"Start Scan\"\n"
                                                          "expect peer COM3 --data == 12345\n"
                                                          "command quit\n"
                                                          "expect exit 3\n");
    Result r = run({"run", path}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("  FAILED  expect text == \"12346\\n\"   (line 6)\n"
                         "      expected: 12346\\n\n"
                         "      got:      12345\\n\n"
                         "      first difference at byte 5: expected \"6\", got \"5\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("FAILED  expect trace lacks \"Start Scan\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  ok      expect peer COM3 --data == 12345"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      expected: exit code 3\n      got:      exit code 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 failed"), std::string::npos) << r.out;
}

TEST_F(Console, AFailedCommandStopsTheScenarioAndLeavesNothingRunning) {
    std::string path = writeScenario("stop.scenario",
                                     "init\n"
                                     "start --timeout 5\n"
                                     "expect text == never\n");
    Result r = run({"run", path, "--keep"}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("FAILED  start --timeout 5   (line 2)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 not run after a failed step"), std::string::npos) << r.out;
    size_t kept = r.out.find("terminal kept at ");
    ASSERT_NE(kept, std::string::npos);
    std::string keptRoot = r.out.substr(kept + 17, r.out.find('\n', kept) - kept - 17);
    EXPECT_TRUE(fs::exists(keptRoot + "/.terminal"));
    std::error_code ec;
    fs::remove_all(keptRoot, ec);
}

TEST_F(Console, AScenarioWithMistakesIsRefusedWithTheirLines) {
    std::string path = writeScenario("bad.scenario",
                                     "init\n"
                                     "# a comment\n"
                                     "teleport COM3\n"
                                     "expect text\n"
                                     "expect text == \"unterminated\n"
                                     "sleep soon\n"
                                     "expect start == started\n");
    Result r = run({"run", path}, false);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("bad.scenario:3: unknown command teleport"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.scenario:4: expect needs"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.scenario:5: unterminated double quote"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.scenario:6: sleep needs milliseconds"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.scenario:7: expect reads back with one of"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "nothing runs";
}

}  // namespace
