// keyvane-terminal explain: what barcodes become under a settings file, told
// by the real wedge on a terminal of its own, against what the scenario
// runner sees for the same barcodes.
#include "console_fixture.h"

namespace consoletest {

namespace {

// The value after "LABEL" up to the end of its line ("" when none).
std::string lineAfter(const std::string& out, const std::string& label, size_t from = 0) {
    size_t at = out.find(label, from);
    if (at == std::string::npos) return "";
    at += label.size();
    return out.substr(at, out.find('\n', at) - at);
}

// The hex bytes of the serial lines, in order, joined by blanks.
std::string serialHex(const std::string& out) {
    std::string all;
    for (size_t at = out.find("   serial:   "); at != std::string::npos; at = out.find("   serial:   ", at + 1)) {
        size_t next = out.find('\n', at) + 1;
        std::string hex = out.substr(next, out.find('\n', next) - next);
        all += (all.empty() ? "" : " ") + hex.substr(hex.find_first_not_of(' '));
    }
    return all;
}

}  // namespace

TEST_F(Console, ExplainTellsWhatTheScenarioRunnerSeesForTheSameBarcodes) {
    std::string settings = samples() + "/terminal/Zentrova/Keyvane.ini";
    Result r = run({"explain", "--settings", settings, "12345", "--sym", "code128", "777", "--sym", "ean13"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("1. \"12345\" symbology j\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   rule:     [Barcode1] (line 54): the first rule of symbology j"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   typed:    \"C128 12345 END\\n\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   keys:     Shift+C 1 2 8 Space 1 2 3 4 5 Space Shift+E Shift+N Shift+D Enter\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("   serial:   COM3 xr1, sequence 1, length 5, CRC ok: \"12345\"\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("   serial:   COM3 xr1, sequence 2, length 3, CRC ok: \"777\"\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("   rule:     no rule of symbology d: the global prefix (none) and `Suffix` (13), no waits"),
              std::string::npos)
        << r.out;
    EXPECT_NE(lineAfter(r.out, "   feedback: ").find("good-read sound"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("not delivered"), std::string::npos) << r.out;

    // The same barcodes through the scenario runner on the sample terminal.
    std::string hex = serialHex(r.out);
    ASSERT_FALSE(hex.empty()) << r.out;
    std::string scenario = writeScenario(
        "same.scenario", "init --from " + samples() + "/terminal\nclock 20\nstart\nscan 12345 --sym code128\n"
                         "scan 777 --sym ean13\nexpect text == \"C128 12345 END\\n777\\n\"\nexpect peer COM3 --hex == \"" +
                             hex + "\"\nstop\n");
    Result same = run({"run", scenario, "--quiet"}, false);
    EXPECT_EQ(same.code, 0) << same.out << same.err;
}

TEST_F(Console, ExplainReadsAScanSyncSetTogetherAndHoldsAnIncompleteOne) {
    std::string settings = samples() + "/sync/Zentrova/Keyvane.ini";
    Result r = run({"explain", "--settings", settings, "B2", "--sym", "7", "A1", "--sym", "code128"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    size_t second = r.out.find("2. \"A1\"");
    ASSERT_NE(second, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   read:     together with the barcodes in view, in the press of barcode 2"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("scan sync: symbology j is taken by [Sync1] [Barcode1]"), std::string::npos) << r.out;
    // The set goes out in rule order, whatever the order of the barcodes.
    EXPECT_EQ(lineAfter(r.out, "   typed:    ", second), "\"ORDER A1\\nPART B2\\n\"") << r.out;

    r = run({"explain", "--settings", settings, "A1", "--sym", "code128"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lineAfter(r.out, "   not delivered: "),
              "scan sync: the set in view is not complete; nothing of it is delivered")
        << r.out;
}

TEST_F(Console, ExplainSaysWhatIsNotDeliveredAndWhy) {
    std::string duplicates = dir_ + "/duplicates.ini";
    std::ofstream(duplicates) << "OutPutMode = 1\nSuffix = 13\nScanDelayMode = 2\nScanDelaySetting = 5\n";
    Result r = run({"explain", "--settings", duplicates, "ABC", "--sym", "code128", "abc", "--sym", "code128"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    size_t second = r.out.find("2. \"abc\"");
    ASSERT_NE(second, std::string::npos) << r.out;
    EXPECT_EQ(lineAfter(r.out, "   typed:    "), "\"ABC\\n\"") << r.out;
    EXPECT_EQ(lineAfter(r.out, "   not delivered: ", second),
              "a duplicate: `ScanDelayMode` 2 passes over a barcode read before")
        << r.out;

    std::string silent = dir_ + "/silent.ini";
    std::ofstream(silent) << "OutPutMode = 0\n";
    r = run({"explain", "--settings", silent, "ABC", "--sym", "code128"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("   not delivered: output mode 0: `SendData` and `SendToForegroundApp` are both 0\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Console, ExplainShowsTheFindingsThatBearOnTheRule) {
    std::string settings = dir_ + "/Keyvane.ini";
    std::ofstream(settings) << "OutPutMode = 1\nSuffix = 13\nEnableADVSuffixPrefix = 1\n[Barcode1]\nBarcodeSym = 4\n"
                               "StartWith = X\nsuffix = 9\n[Barcode2]\nBarcodeSym = 11\nLength = 3\n";
    Result r = run({"explain", "--settings", settings, "AB", "--sym", "code128"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("   finding:  Keyvane.ini:6: warning: `StartWith` is ignored"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Keyvane.ini:10:"), std::string::npos) << "[Barcode2] does not take it\n" << r.out;
    EXPECT_EQ(lineAfter(r.out, "   keys:     "), "Shift+A Shift+B Tab") << r.out;
}

TEST_F(Console, ExplainFramesEachFramingAsThePeerDecodesIt) {
    struct Case {
        const char* connectingTo;
        const char* line;
    };
    const Case cases[] = {
        {"1", "   serial:   COM2 tagged decode, length 32: \"AB\"\n"},
        {"2", "   serial:   COM2 xr1, sequence 1, length 2, CRC ok: \"AB\"\n"},
        {"3", "   serial:   COM2 header: \"AB\"\n"},
        {"9", "   serial:   COM2 raw: \"AB\"\n"},
    };
    for (const Case& c : cases) {
        std::string settings = dir_ + "/framing" + c.connectingTo + ".ini";
        std::ofstream(settings) << "OutPutMode = 2\nComportNumber = 2\nConnectingTo = " << c.connectingTo << "\n";
        Result r = run({"explain", "--settings", settings, "AB", "--sym", "code128"}, false);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << c.connectingTo << "\n" << r.out;
        EXPECT_EQ(r.out.find("typed:"), std::string::npos) << r.out;
    }
}

TEST_F(Console, ExplainReadsAPictureAndACard) {
    ASSERT_EQ(run({"init"}).code, 0);
    std::string picture = dir_ + "/can.png";
    ASSERT_EQ(run({"label", "4006381333931", "--sym", "EAN-13", "--out", picture}).code, 0);
    std::string settings = dir_ + "/Keyvane.ini";
    std::ofstream(settings) << "OutPutMode = 1\nSuffix = 13\nEnableCardReader = 1\n[MCRSettings]\n"
                               "MCROutputFormat = MF2SD94C13\n";
    Result r = run({"explain", "--settings", settings, "--image", picture, "--swipe", "%B4111222233334444^DOE/J^2512?"},
                   false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lineAfter(r.out, "   typed:    "), "\"4006381333931\\n\"") << r.out;
    size_t card = r.out.find("2. card ");
    ASSERT_NE(card, std::string::npos) << r.out;
    EXPECT_EQ(lineAfter(r.out, "   typed:    ", card), "\"4111222233334444\\n\"") << r.out;
}

TEST_F(Console, ExplainLeavesNoTerminalBehindAndRefusesWhatItCannotRead) {
    // Its temporary terminal goes in $TMPDIR, here a folder of this test's own.
    std::string tmp = dir_ + "/tmp";
    fs::create_directory(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    Result r = run({"explain", "ABC"}, false);
    unsetenv("TMPDIR");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(tmp)) << "the temporary terminal was left behind";
    EXPECT_FALSE(fs::exists(root_)) << "no root of the user's is made";
    EXPECT_EQ(run({"explain", "--settings", dir_ + "/missing.ini", "ABC"}, false).code, 2);
    EXPECT_EQ(run({"explain", "ABC", "--sym", "nosuch"}, false).code, 2);
    EXPECT_EQ(run({"explain", "--image", dir_ + "/missing.png"}, false).code, 2);
}

TEST_F(Console, ExplainTellsWhereTheKeypadFamiliesDiffer) {
    std::string settings = dir_ + "/Keyvane.ini";
    std::ofstream(settings) << "OutPutMode = 1\n";
    Result r = run({"explain", "--settings", settings, "--models", "all", "A(", "--sym", "code128", "AB", "--sym",
                    "code128"},
                   false);
    ASSERT_EQ(r.code, 0) << r.err;
    // "(" is typed with other keys on some families; "AB" the same on all.
    EXPECT_NE(r.out.find("barcode=2\tdata=AB\tfamily=all\tkeys=Shift+A Shift+B\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("barcode=1\tdata=A(\tfamily=0\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("barcode=1\tdata=A(\tfamily=5\t"), std::string::npos) << r.out;
}

}  // namespace consoletest
