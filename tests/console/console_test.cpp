// The console as a user or a script meets it: the real keyvane-terminal in
// its own process, on a fresh terminal root, with the real wedge where a
// scenario needs one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/decoder/imaging/image.h"
#include "platform/decoder/imaging/symbols.h"
#include "tests/console/console_fixture.h"

using consoletest::Console;
using consoletest::Result;
namespace fs = std::filesystem;

namespace {

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
        {{"peer", "LPT1"}, "keyvane-terminal peer: no port LPT1"},
        {{"swipe"}, "the card's data"},
        {{"view", "\\q"}, "unknown escape \\q"},
        {{"view", "\\x4"}, "\\x needs two hex digits"},
        {{"decode", "123"}, "odd number of hex digits"},
        {{"run"}, "which scenario file"},
    };
    ASSERT_EQ(run({"init"}).code, 0);
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

// A scan waits until the pass is over; when it is not over in time the scan
// failed, whatever was read.
TEST_F(Console, AScanThatDoesNotSettleInTimeFails) {
    ASSERT_EQ(run({"init"}).code, 0);
    Result r = run({"scan", "--reads", "0", "--timeout", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "reads=0\n");
    EXPECT_NE(r.err.find("scan: the wedge was still busy 1 ms after the key was released"), std::string::npos) << r.err;
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

// ------------------------------------------------------------------ check and the reference

namespace {

const std::string kFixtures = std::string(KEYVANE_SOURCE_DIR) + "/tests/fixtures/check";

// Whether `out` has a line FILE:LINE: SEVERITY: ...TEXT...
bool hasFinding(const std::string& out, const std::string& file, int line, const std::string& severity,
                const std::string& text) {
    std::istringstream lines(out);
    std::string l;
    std::string head = file + ":" + std::to_string(line) + ": " + severity + ": ";
    while (std::getline(lines, l))
        if (l.compare(0, head.size(), head) == 0 && l.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST_F(Console, CheckReportsEveryMistakeOfABrokenSettingsFileOnItsLine) {
    std::string file = kFixtures + "/broken.ini";
    Result r = run({"check", file});
    EXPECT_EQ(r.code, 1) << r.err;
    struct Expected {
        int line;
        const char* severity;
        const char* text;
    };
    const Expected expected[] = {
        {2, "error", "unknown key `EnableScaner` (did you mean `EnableScanner`?)"},
        {3, "error", "`OutPutMode` \"9\" is none of 0, 1, 2, 3, 4, 5, 6, 7; the wedge uses 1"},
        {4, "error", "`ComportNumber` 300 is outside 0..9"},
        {5, "error", "`ConnectingTo` \"7\" is none of 1, 2, 3"},
        {5, "warning", "serial framing (`ConnectingTo`) with no serial output"},
        {6, "error", "`Suffix`: characters that are neither digits nor commas are dropped; the wedge uses 13"},
        {8, "warning", "`SendData` is ignored after `OutPutMode` (line 3)"},
        {9, "error", "`AimerTimeOut` \"2o\" is not a number; the wedge uses 2"},
        {10, "error", "2500 is above 2000: refused, the wedge keeps 200"},
        {11, "warning", "`EnableLEDs` takes 0 or 1; \"yes\" counts as 0"},
        {12, "warning", "`PrefixID` takes one digit 0..3"},
        {13, "warning", "`ScanDelayMode` \"12\": only the first character counts"},
        {14, "error", "`InterCharacterDelay` -5 is outside"},
        {15, "error", "is no Bluetooth address"},
        {16, "error", "`BarcodeSym` means nothing among the general keys"},
        {17, "error", "`MCROutputFormat` means nothing among the general keys"},
        {18, "error", "an empty or zero code ends the list"},
        {19, "warning", "[Barcode2] before [Barcode1] or [Sync1]"},
        {20, "warning", "`OutputFormat` is cut to 55 characters"},
        {21, "error", "line longer than 399 characters"},
        {22, "warning", "`EnableADVSuffixPrefix` on line 23 switches scan sync off"},
        {25, "error", "the card reader takes `MCROutputFormat` only in this letter case"},
        {26, "warning", "`Field` \"9\" is none of 1, 2, 3, 4"},
        {26, "warning", "card reader settings with the reader off"},
        {28, "error", "`BarcodeSym` 99 is outside 1..46"},
        {29, "error", "cut to four; the wedge uses 67,49,5000"},
        {30, "error", "`suffix`: characters that are neither digits nor commas are dropped; the wedge uses none"},
        {31, "error", "`StartWith` value of 11 characters is refused (at most 9)"},
        {32, "error", "`OutPutMode` means nothing in a barcode section"},
        {33, "error", "`Length` \"ten\" is not a number"},
        {34, "warning", "`Beep` takes 0, 1 or 2"},
        {35, "error", "`BarcodeSym` \"Q\" is not a number"},
        {36, "error", "[Barcode7] is beyond [Barcode6]"},
        {38, "warning", "`Length` after [Sync2] but before its first [Barcode]"},
        {39, "warning", "[Sync1] after [Sync2]: sync sections out of order"},
        {41, "warning", "[Barcode1] again in sync group 1 (line 40)"},
        {42, "error", "`CustomSound` value of 160 characters is refused (at most 150)"},
        {43, "error", "`prefix` value of 89 characters is refused (at most 49)"},
    };
    for (const Expected& e : expected)
        EXPECT_TRUE(hasFinding(r.out, file, e.line, e.severity, e.text)) << e.line << ": " << e.text << "\n" << r.out;
    // Each finding is one line of its own; nothing is said twice.
    std::istringstream lines(r.out);
    std::vector<std::string> all;
    for (std::string l; std::getline(lines, l);) all.push_back(l);
    std::vector<std::string> unique = all;
    std::sort(unique.begin(), unique.end());
    EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end()) << r.out;
    EXPECT_GE(all.size(), 38u);

    Result json = run({"--json", "check", file});
    EXPECT_EQ(json.code, 1);
    EXPECT_NE(json.out.find("{\"file\": \"" + file + "\", \"line\": 2, \"severity\": \"error\""), std::string::npos)
        << json.out;
}

// Each kind of mistake that changes what the wedge does, in a file of its own.
TEST_F(Console, CheckSaysWhichOfAKeyGivenTwiceWins) {
    std::string file = kFixtures + "/repeated.ini";
    Result r = run({"check", file});
    EXPECT_TRUE(hasFinding(r.out, file, 5, "warning", "`Suffix` is given again (line 2: \"13\"): this line's \"13,10\" wins"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 6, "warning", "`AimerMode` is given again (line 4 as `AmierMode`: \"1\")"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 11, "warning", "`suffix` is given again (line 10: \"9\")")) << r.out;
    // "Beep = 2" leaves the field as it was: it wins nothing.
    EXPECT_EQ(r.out.find(file + ":13:"), std::string::npos) << r.out;
}

TEST_F(Console, CheckReportsLinesWithoutAnEqualsSign) {
    std::string file = kFixtures + "/no-equals.ini";
    Result r = run({"check", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(hasFinding(r.out, file, 2, "error",
                           "no \"=\" in \"EnableScanner0\": the line is ignored (write `EnableScanner = 0`)"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 4, "error", "no \"=\" in \"Suffix13\": the line is ignored")) << r.out;
    EXPECT_EQ(r.out.find(file + ":5: error: no"), std::string::npos) << "a header has no \"=\"\n" << r.out;
}

TEST_F(Console, CheckReportsValuesThatReadAsSomethingElse) {
    std::string file = kFixtures + "/values.ini";
    Result r = run({"check", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(hasFinding(r.out, file, 2, "error",
                           "`prefix` \"76 58\": blanks are removed, so codes without commas run together into "
                           "\"7658\"; separate the codes with commas: 76,58"))
        << r.out;
    EXPECT_EQ(r.out.find(file + ":3:"), std::string::npos) << "blanks after a comma change nothing\n" << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 4, "warning", "`OutputFormat` \"MF2\": the quotes are part of the value"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 5, "warning",
                           "`RemapToTab` \"09\" begins with 0: the field is left unchanged, no character is typed as Tab"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 6, "warning",
                           "`EnableScanner`: \"; off for now\" after the value is read as part of it (the value is "
                           "\"0;offfornow\"); comments begin with \"'\""))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 7, "warning", "`ComportNumber`: \"# the printer\" after the value")) << r.out;
}

TEST_F(Console, CheckSaysTheCommentMarkOfTheFile) {
    std::string file = kFixtures + "/comments.ini";
    Result r = run({"check", file});
    EXPECT_TRUE(hasFinding(r.out, file, 2, "warning",
                           "a line beginning with \";\" is no comment: the file's comment mark is \"'\"; the line is "
                           "read as the unknown key `;OutPutMode` and ignored"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 3, "warning", "beginning with \"#\" is no comment")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 4, "warning", "having no \"=\", the line is ignored")) << r.out;
    EXPECT_EQ(r.out.find("unknown key"), r.out.find("unknown key `;OutPutMode` and ignored")) << r.out;
}

TEST_F(Console, CheckNamesSectionsTheFileDoesNotHave) {
    std::string file = kFixtures + "/sections.ini";
    Result r = run({"check", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(hasFinding(r.out, file, 2, "warning",
                           "unknown section [Scanner]: the file has no such section; the keys under it are read as "
                           "general keys"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 4, "error", "unknown section [Barcod2] (did you mean `[Barcode2]`?)")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 8, "error", "[Barcode7] is beyond [Barcode6]")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 10, "error",
                           "unknown section [Barcod2] (did you mean `[Barcode2]`?): it selects nothing; the keys "
                           "under it go to [Barcode1] before it"))
        << r.out;
}

TEST_F(Console, CheckTellsKeysThatActOnlyTogether) {
    std::string file = kFixtures + "/together.ini";
    Result r = run({"check", file});
    EXPECT_TRUE(hasFinding(r.out, file, 5, "note",
                           "[Barcode1]: barcodes of symbology j get this rule's prefix (65) and suffix (none) in place "
                           "of the global `prefix` (none) and `Suffix` (13): they end with no suffix at all"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 7, "warning",
                           "`StartWith` is ignored: without scan sync (`EnableSequenceEditor` 1 or 2) the rules match "
                           "by symbology (`BarcodeSym`) alone"))
        << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 8, "warning", "`Length` is ignored: without scan sync")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 10, "error",
                           "`ComportNumber` means nothing in a barcode section: not read (it is a general key: it "
                           "belongs before [Barcode1] and [Sync1])"))
        << r.out;
    EXPECT_EQ(r.out.find(file + ":11: note"), std::string::npos) << "[Barcode2] keeps the global suffix\n" << r.out;
}

TEST_F(Console, CheckSaysWhereTheEncodingMatters) {
    std::string bom = dir_ + "/bom.ini";
    std::ofstream(bom, std::ios::binary) << "\xEF\xBB\xBFOutPutMode = 1\r\n";
    Result r = run({"check", bom});
    EXPECT_EQ(r.out, bom + ": note: encoding: UTF-8 with a byte-order mark; the mark is skipped and changes nothing\n");
    std::string ansi = dir_ + "/ansi.ini";
    std::ofstream(ansi, std::ios::binary) << "' caf\xE9\r\nOutPutMode = 1\r\n[Barcode1]\r\nStartWith = \xE9t\xE9\r\n";
    r = run({"check", ansi});
    EXPECT_TRUE(hasFinding(r.out, ansi, 4, "note", "the characters beyond ASCII on this line are read as Windows-1252"))
        << r.out;
    EXPECT_EQ(r.out.find(ansi + ":1:"), std::string::npos) << r.out;
}

TEST_F(Console, CheckSaysACleanFileIsCleanAndSumsUpSeveralFiles) {
    std::string clean = kFixtures + "/clean.ini", values = kFixtures + "/values.ini";
    Result r = run({"check", clean});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, clean + ": no findings\n");
    r = run({"check", clean, values});
    EXPECT_EQ(r.out.compare(0, clean.size() + 14, clean + ": no findings\n"), 0) << r.out;
    EXPECT_NE(r.out.find("\n2 files: 2 error(s), 5 warning(s)\n"), std::string::npos) << r.out;
}

TEST_F(Console, CheckFindsNothingOnTheSamples) {
    for (const char* sample : {"terminal", "sync"}) {
        std::string dir = samples() + "/" + sample + "/Zentrova/";
        Result r = run({"check", "--strict", dir + "Keyvane.ini", dir + "DecodeSettings.Vqf"});
        EXPECT_EQ(r.code, 0) << sample << "\n" << r.out << r.err;
        EXPECT_EQ(r.out.find(": error: "), std::string::npos) << sample << "\n" << r.out;
        EXPECT_EQ(r.out.find(": warning: "), std::string::npos) << sample << "\n" << r.out;
        EXPECT_NE(r.out.find("\n2 files: 0 error(s), 0 warning(s)\n"), std::string::npos) << r.out;
    }
    // Without files: those the wedge finds on the terminal.
    ASSERT_EQ(run({"init", "--from", samples() + "/terminal"}).code, 0);
    Result r = run({"check", "--strict"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find(": warning: "), std::string::npos) << r.out;
}

TEST_F(Console, CheckSuggestsTheNearestKeyForCommonTypos) {
    std::string file = dir_ + "/typos.ini";
    std::ofstream(file) << "EnableScaner = 0\nOutputMod = 3\nComportNumbr = 3\nVibrateOnSuccessfulScan = 1\n"
                           "Sufix = 13\nPresentationMod = 1\nXyzzy = 1\n";
    Result r = run({"check", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(hasFinding(r.out, file, 1, "error", "did you mean `EnableScanner`?")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 2, "error", "did you mean `OutPutMode`?")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 3, "error", "did you mean `ComportNumber`?")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 4, "error", "did you mean `VirbrateOnSuccessfulScan`?")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 5, "error", "did you mean `Suffix`?")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 6, "error", "did you mean `PresentationMode`?")) << r.out;
    EXPECT_TRUE(hasFinding(r.out, file, 7, "error", "unknown key `Xyzzy`; ignored")) << r.out;
}

TEST_F(Console, CheckReadsUtf16AndWindows1252FilesAndSaysSo) {
    std::string utf16 = dir_ + "/wide.ini";
    std::string text = "Suffix = 13\r\nEnableScaner = 0\r\n";
    std::string bytes = "\xFF\xFE";
    for (char c : text) bytes += std::string{c, '\0'};
    std::ofstream(utf16, std::ios::binary) << bytes;
    Result r = run({"check", utf16});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find(utf16 + ": note: encoding: UTF-16LE"), std::string::npos) << r.out;
    EXPECT_TRUE(hasFinding(r.out, utf16, 2, "error", "unknown key `EnableScaner`")) << r.out;

    std::string ansi = dir_ + "/ansi.ini";
    std::ofstream(ansi, std::ios::binary) << "' caf\xE9\r\nSuffix = 13\r\n";
    r = run({"check", ansi});
    EXPECT_EQ(r.code, 0) << r.out;  // a note is no mistake
    EXPECT_EQ(r.out, ansi + ": note: not valid UTF-8: read as Windows-1252; only comments hold other characters, so "
                            "it changes nothing\n");
}

TEST_F(Console, CheckReportsTheMistakesOfADecodeSettingsFile) {
    std::string file = dir_ + "/DecodeSettings.Vqf";
    std::ofstream(file) << "<?xml version=\"1.0\"?>\n"                  // 1
                           "<Settings>\n"                               // 2
                           "  <Section name=\"Decode\">\n"              // 3
                           "    <Key id=\"DecodeMode\">Fast</Key>\n"    // 4
                           "    <Key id=\"PrintWeight\">heavy</Key>\n"  // 5
                           "  <Section id=\"Code128\">\n"               // 6: Decode not closed
                           "    <Key id=\"Enable\">true</Key>\n"        // 7
                           "  </Section>\n"                             // 8
                           "  <Section id=\"Code12B\">\n"               // 9
                           "  </Section>\n"                             // 10
                           "  <Section id=\"Int25\">\n"                 // 11
                           "    <Key id=\"Enabel\">true</Key>\n"        // 12
                           "    <Key id=\"MinLength\">yes</Key>\n"      // 13
                           "  </Section>\n"                             // 14
                           "  <Section id=\"IATA25\">\n"                // 15
                           "    <Key id=\"Enable\">ja</Key>\n"          // 16
                           "  </Section>\n"                             // 17
                           "\t<Section id=\"EAN13\">\n"                 // 18
                           "\t</Section>\n"                             // 19
                           "  <Section id=\"EAN8\">\n";                 // 20
    Result r = run({"check", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(hasFinding(r.out, file, 4, "error", "\"DecodeMode\" takes Standard, QuickOmni or LinearPriority"));
    EXPECT_TRUE(hasFinding(r.out, file, 5, "error", "\"PrintWeight\" takes a number, not \"heavy\""));
    EXPECT_TRUE(hasFinding(r.out, file, 6, "error", "section \"Code128\" that ends it is not applied"));
    EXPECT_TRUE(hasFinding(r.out, file, 9, "error", "unknown section \"Code12B\" (did you mean `Code128`?)"));
    EXPECT_TRUE(hasFinding(r.out, file, 12, "warning", "property \"Enabel\" means nothing in section \"Int25\""));
    EXPECT_TRUE(hasFinding(r.out, file, 13, "error", "\"MinLength\" takes a number"));
    EXPECT_TRUE(hasFinding(r.out, file, 15, "warning", "(engine id 26) is written again (\"Int25\", line 11)"));
    EXPECT_TRUE(hasFinding(r.out, file, 16, "error", "\"Enable\" takes true or false, not \"ja\""));
    EXPECT_TRUE(hasFinding(r.out, file, 18, "warning", "2 line(s) not read from here on"));
    EXPECT_TRUE(hasFinding(r.out, file, 20, "error", "section \"EAN8\" has no closing line")) << r.out;
}

TEST_F(Console, CheckExitCodes) {
    std::string warnings = dir_ + "/warnings.ini";
    std::ofstream(warnings) << "EnableLEDs = yes\nOutPutMode = 1\n";
    Result r = run({"check", warnings});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(hasFinding(r.out, warnings, 1, "warning", "`EnableLEDs` takes 0 or 1"));
    EXPECT_EQ(run({"check", "--strict", warnings}).code, 1);
    EXPECT_EQ(run({"check", "--pedantic", warnings}).code, 2);
    EXPECT_EQ(run({"check", dir_ + "/missing.ini"}).code, 2);
    // A terminal without settings files: nothing to check is a usage mistake.
    ASSERT_EQ(run({"init"}).code, 0);
    EXPECT_EQ(run({"check"}).code, 2);
}

TEST_F(Console, ReferenceListsEveryKeyTheReaderKnows) {
    Result r = run({"settings"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    // The keys of the settings reader, of the barcode rules and of the card reader.
    for (const char* key : {"AimerTimeOut",
                            "RemoteBTMAC",
                            "EnableLEDs",
                            "VirbrateOnSuccessfulScanTime",
                            "VirbrateOnSuccessfulScan",
                            "EnableCardReader",
                            "EnableScanner",
                            "prefix",
                            "Suffix",
                            "PrefixID",
                            "SuffixID",
                            "CancelOnNoneSeqScan",
                            "EnableSequenceEditor",
                            "EnableAimer",
                            "EnableIllumination",
                            "ComportNumber",
                            "OutPutMode",
                            "SendData",
                            "ContinuousScan",
                            "PresentationMode",
                            "ConnectingTo",
                            "ScanDelayMode",
                            "ScanDelaySetting",
                            "SendToForegroundApp",
                            "EnableADVSuffixPrefix",
                            "InterCharacterDelay",
                            "SuffixWait",
                            "PrefixWait",
                            "OutputFormat",
                            "Centering",
                            "AmierMode",
                            "AimerMode",
                            "RemapToTab",
                            "StartWith",
                            "CustomSound",
                            "BarcodeSym",
                            "Length",
                            "Beep",
                            "suffix",
                            "MCROutputFormat",
                            "Prefix",
                            "Field"})
        EXPECT_NE(("\n" + r.out).find(std::string("\n") + key + "  ["), std::string::npos) << key;
    Result one = run({"settings", "outputmode"}, false);
    EXPECT_EQ(one.code, 0);
    EXPECT_NE(one.out.find("OutPutMode  [general] choice"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("    7: keystrokes into an edit control, all keys captured, and serial"), std::string::npos);
    // Numbers are numbers in the records; a default that is no number stays text.
    EXPECT_NE(run({"--json", "settings", "AimerTimeOut"}, false).out.find("\"default\": 20,"), std::string::npos);
    EXPECT_NE(run({"--json", "settings", "ComportNumber"}, false).out.find("\"default\": \"none\","),
              std::string::npos);
    EXPECT_EQ(run({"settings", "NoSuchKey"}, false).code, 1);
    // A misspelt key is answered with the nearest one, as check answers it.
    Result typo = run({"settings", "Sufix"}, false);
    EXPECT_EQ(typo.code, 1);
    EXPECT_EQ(typo.err, "keyvane-terminal settings: no key Sufix (did you mean `Suffix`?)\n");
    Result roff = run({"settings", "--roff"}, false);
    EXPECT_EQ(roff.out.compare(0, 19, ".TH KEYVANE.INI 5 \""), 0) << roff.out.substr(0, 80);
    EXPECT_NE(roff.out.find(".B VirbrateOnSuccessfulScanTime\n"), std::string::npos);
}

TEST_F(Console, OneNamingOfSymbologies) {
    Result r = run({"symbologies", "code128"}, false);
    EXPECT_EQ(r.out, "number=4\tletter=j\tname=code128\tengine=3\tsection=Code128\n");
    EXPECT_EQ(run({"symbologies", "11"}, false).out, "number=11\tletter=d\tname=ean13\tengine=10\tsection=EAN13\n");
    EXPECT_EQ(run({"symbologies"}, false).out.find("number=46\tletter=I\tname=gs1_128"),
              run({"symbologies"}, false).out.find("number=46"));
    EXPECT_EQ(run({"symbologies", "nosuch"}, false).code, 1);
    ASSERT_EQ(run({"init"}).code, 0);
    ASSERT_EQ(run({"view", "A1", "--sym", "code128"}).code, 0);
    ASSERT_EQ(run({"view", "B2", "--sym", "11"}).code, 0);
    ASSERT_EQ(run({"view", "C3", "--sym", "x", "--symid", "ean8"}).code, 0);
    Result view = run({"in-view"});
    EXPECT_NE(view.out.find("data=A1\tsym=j"), std::string::npos) << view.out;
    EXPECT_NE(view.out.find("data=B2\tsym=d"), std::string::npos) << view.out;
    EXPECT_NE(view.out.find("data=C3\tsym=x\tsymid=9"), std::string::npos) << view.out;
    EXPECT_EQ(run({"view", "D4", "--sym", "code999"}).code, 2);
    Result engine = run({"engine", "ean13"});
    EXPECT_EQ(engine.code, 0);
    EXPECT_NE(engine.out.find("symbology=10\t"), std::string::npos) << engine.out;
    EXPECT_NE(engine.out.find("name=ean13"), std::string::npos) << engine.out;
}

// A label the console renders and the picture engine reads carries the
// letter that `--sym` gives the symbology by its name and by its BarcodeSym
// number: a rule written with either matches the picture.
TEST_F(Console, APictureCarriesTheLetterTheConsoleNamesItsSymbologyWith) {
    struct Case {
        const char* format;
        const char* name;
        const char* data;
    };
    const Case cases[] = {
        {"QRCode", "qr", "LOT-77"},
        {"UPC-A", "upca", "012345678905"},
        {"UPC-E", "upce0", "01234565"},
        {"ITF", "int25", "12345678"},
    };
    ASSERT_EQ(run({"init"}).code, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::string file = dir_ + "/" + c.name + ".png";
        ASSERT_EQ(run({"label", c.data, "--sym", c.format, "--out", file}).code, 0);
        scanimage::GrayImage image;
        ASSERT_EQ(scanimage::LoadStatus::Ok, scanimage::loadImage(file, image));
        scanimage::Symbol read[2];
        ASSERT_EQ(1, scanimage::readSymbols(image, scanimage::openRequest(), read, 2));
        EXPECT_EQ(c.data, read[0].bytes);

        Result named = run({"symbologies", c.name}, false);
        ASSERT_EQ(named.code, 0) << named.err;
        std::string number = named.out.substr(named.out.find("number=") + 7);
        number = number.substr(0, number.find('\t'));
        EXPECT_NE(named.out.find("letter=" + std::string(1, read[0].letter) + "\t"), std::string::npos)
            << named.out;
        ASSERT_EQ(run({"clear-view"}).code, 0);
        ASSERT_EQ(run({"view", "BY-NAME", "--sym", c.name}).code, 0);
        ASSERT_EQ(run({"view", "BY-NUMBER", "--sym", number}).code, 0);
        Result view = run({"in-view"});
        EXPECT_NE(view.out.find("data=BY-NAME\tsym=" + std::string(1, read[0].letter) + "\t"), std::string::npos)
            << view.out;
        EXPECT_NE(view.out.find("data=BY-NUMBER\tsym=" + std::string(1, read[0].letter) + "\t"), std::string::npos)
            << view.out;
    }
}

TEST_F(Console, StartSaysWhatTheCheckFoundAndStartsAnyway) {
    ASSERT_EQ(run({"init", "--from", samples() + "/terminal"}).code, 0);
    std::ofstream(root_ + "/Zentrova/Keyvane.ini", std::ios::app) << "\nEnableScaner = 0\n";
    Result r = run({"start"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("check: 1 error(s), 0 warning(s)"), std::string::npos) << r.err;
    EXPECT_EQ(run({"stop"}).code, 0);
}

// With an open umask a whole session (the demo: scans, serial peer, card
// swipe, trace) leaves nothing in the root that group or others may read or
// write.
TEST_F(Console, ASessionUnderAnOpenUmaskLeavesOnlyOwnerOnlyFiles) {
    mode_t previous = umask(0);
    Result made = run({"init"});
    Result r = run({"run", samples() + "/scenarios/demo.scenario", "--quiet"});
    umask(previous);
    ASSERT_EQ(made.code, 0) << made.err;
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    size_t seen = 0;
    std::error_code ec;
    ASSERT_EQ(fs::status(root_).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
    for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_symlink()) continue;
        ++seen;
        EXPECT_EQ(it->status().permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none)
            << it->path();
    }
    EXPECT_GT(seen, 10u);
    EXPECT_TRUE(fs::exists(root_ + "/DebugADV/Keyvane.txt"));
}

// The console refuses a terminal whose configuration or root others may
// write, in one line naming the path and the fix; it works again once fixed.
TEST_F(Console, AConfigurationOthersMayWriteIsRefusedWithItsFix) {
    ASSERT_EQ(run({"init", "--from", samples() + "/terminal"}).code, 0);
    std::string conf = root_ + "/.terminal/terminal.conf";
    for (const std::string& path : {conf, root_}) {
        SCOPED_TRACE(path);
        mode_t tight = fs::is_directory(path) ? 0700 : 0600;
        ASSERT_EQ(chmod(path.c_str(), tight | 0022), 0);
        Result r = run({"status"});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(path + " is writable by group or others"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("chmod go-w " + path), std::string::npos) << r.err;
        ASSERT_EQ(chmod(path.c_str(), tight), 0);
        EXPECT_EQ(run({"status"}).code, 0);
    }
}

// The console keeps the exit code of every wedge it started, across its own
// processes: one that ends before it is loaded, and one stopped by "quit".
TEST_F(Console, TheLastWedgesExitCodeOutlivesTheConsoleThatStartedIt) {
    ASSERT_EQ(run({"init", "--from", samples() + "/terminal"}).code, 0);
    std::string failing = dir_ + "/failing-wedge.sh";
    std::ofstream(failing) << "#!/bin/sh\nexit 7\n";
    fs::permissions(failing, fs::perms::owner_all);
    Result early = run({"start", "--wedge", failing});
    EXPECT_EQ(early.code, 1);
    EXPECT_NE(early.err.find("the wedge ended before it was loaded (exit code 7)"), std::string::npos) << early.err;
    Result status = run({"status"});
    EXPECT_NE(status.out.find("running=0"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("\tlast_exit=7\n"), std::string::npos) << status.out;

    ASSERT_EQ(run({"start"}).code, 0);
    status = run({"status"});
    EXPECT_EQ(status.out.find("last_exit"), std::string::npos)
        << "a running wedge has no exit code yet: " << status.out;
    Result stop = run({"stop"});
    EXPECT_EQ(stop.code, 0) << stop.err;
    EXPECT_NE(stop.out.find("stopped\texit=0\t"), std::string::npos) << stop.out;
    EXPECT_NE(run({"status"}).out.find("\tlast_exit=0\n"), std::string::npos);

    // Ended from its tray menu: the menu's record and the exit code as JSON numbers.
    ASSERT_EQ(run({"config", "screen", "480x640"}).code, 0);
    ASSERT_EQ(run({"start"}).code, 0);
    ASSERT_EQ(run({"menu", "exit"}).code, 0);
    ASSERT_EQ(run({"answer", "yes"}).code, 0);
    ASSERT_EQ(run({"tray", "tap"}).code, 0);
    std::string tray = run({"tray", "--json"}).out;
    EXPECT_NE(tray.find("\"x\": 380, \"y\": 350, \"items\": \"Symbology Settings|Exit\", \"choice\": 32773}]"),
              std::string::npos)
        << tray;
    std::string json;
    for (int i = 0; i < 200 && json.find("\"last_exit\"") == std::string::npos; ++i) {
        json = run({"status", "--json"}).out;
        if (json.find("\"last_exit\"") == std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(json.compare(0, 18, "{\"running\": false,"), 0) << json;
    EXPECT_NE(json.find(", \"last_exit\": 0}"), std::string::npos) << json;
}

// The terminal's logs are read line by line: a line it did not write (a
// damaged file, a hand edit) is passed over and the rest is still shown.
TEST_F(Console, ALogLineTheTerminalDidNotWriteIsPassedOver) {
    ASSERT_EQ(run({"init"}).code, 0);
    std::string log = root_ + "/.terminal/log/";
    std::ofstream(log + "menu.log") << "popup\t1\t2\t0\t0\tBad\\uzz\n"
                                    << "popup\tleft\t2\t0\t0\tExit\n"
                                    << "popup\t10\t20\t0\t32773\tSymbology Settings\tExit\n"
                                    << "popup\t3\t4\t0\t0\tEnds\\u00\n";
    std::ofstream(log + "msgbox.log") << "MB_OK\t0\t1\tKeyvane\tBad\n"
                                      << "0\t0\t1\tWarning\tKeyvane is already running\n";
    std::ofstream(log + "sounds.log") << "soon resource:1\n"
                                      << "5 resource:129\n";
    std::ofstream(log + "leds.log") << "1 2\n"
                                    << "x 1 1\n"
                                    << "7 1 1\n";

    Result tray = run({"tray", "--json"});
    ASSERT_EQ(tray.code, 0) << tray.err;
    EXPECT_NE(tray.out.find(
                  "{\"popup\": 1, \"x\": 10, \"y\": 20, \"items\": \"Symbology Settings|Exit\", \"choice\": 32773}"),
              std::string::npos)
        << tray.out;

    auto count = [](const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    Result boxes = run({"msgbox", "--json"});
    ASSERT_EQ(boxes.code, 0) << boxes.err;
    EXPECT_EQ(count(boxes.out, "\"caption\""), 1u) << boxes.out;
    EXPECT_NE(boxes.out.find("\"text\": \"Keyvane is already running\""), std::string::npos) << boxes.out;
    Result sounds = run({"sounds", "--json"});
    ASSERT_EQ(sounds.code, 0) << sounds.err;
    EXPECT_EQ(count(sounds.out, "\"sound\""), 1u) << sounds.out;
    EXPECT_NE(sounds.out.find("\"time\": 5, \"name\": \"good read\", \"sound\": \"resource:129\""), std::string::npos) << sounds.out;
    Result leds = run({"leds", "--json"});
    ASSERT_EQ(leds.code, 0) << leds.err;
    EXPECT_EQ(count(leds.out, "\"led\""), 1u) << leds.out;
    EXPECT_NE(leds.out.find("\"time\": 7,"), std::string::npos) << leds.out;
}
