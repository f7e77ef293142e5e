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
        {{"view", "123", "--sym", "ab"}, "--sym needs a letter, a BarcodeSym number or a name"},
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

}  // namespace
