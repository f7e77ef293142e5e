// The console's words as a newcomer meets them: one way of writing a
// duration, frames of a named framing, ports that are devices, a failed scan
// that says why, a piped scenario run that shows each step as it happens,
// and the shell completing values from the console's own tables.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/console/console_fixture.h"

using consoletest::Console;
using consoletest::Result;
namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ------------------------------------------------------------------ durations

TEST_F(Console, EveryDurationTakesMillisecondsOrAUnitAndOldSecondsStillWork) {
    ASSERT_EQ(run({"init"}).code, 0);
    // A wedge that never signals: start waits exactly what it was given.
    std::string silent = dir_ + "/silent-wedge.sh";
    std::ofstream(silent) << "#!/bin/sh\nexec sleep 30\n";
    fs::permissions(silent, fs::perms::owner_all);

    Result ms = run({"start", "--wedge", silent, "--timeout", "300ms"});
    EXPECT_EQ(ms.code, 1);
    EXPECT_TRUE(contains(ms.err, "did not signal KVN_Loaded within 300 ms")) << ms.err;
    run({"kill"});
    Result unit = run({"start", "--wedge", silent, "--timeout", "0.5s"});
    EXPECT_TRUE(contains(unit.err, "within 500 ms")) << unit.err;
    run({"kill"});
    // A bare number above the old bound is milliseconds, as everywhere.
    Result bare = run({"start", "--wedge", silent, "--timeout", "700"});
    EXPECT_TRUE(contains(bare.err, "within 700 ms")) << bare.err;
    run({"kill"});
    // A small bare number is what old scripts meant: seconds, with a note.
    Result old = run({"stop", "--timeout", "2"});
    EXPECT_TRUE(contains(old.err, "keyvane-terminal stop: --timeout 2 is read as 2 s, as before; write 2s")) << old.err;

    Result wrong = run({"scan", "--timeout", "5 s"});
    EXPECT_EQ(wrong.code, 2);
    EXPECT_TRUE(contains(wrong.err, "--timeout needs a duration 0 ms..10 min")) << wrong.err;
    EXPECT_EQ(run({"scan", "--hold", "2h"}).code, 2);
    EXPECT_EQ(run({"watch", "--interval", "10ms"}).code, 2);
    EXPECT_EQ(run({"command", "enable", "--timeout", "2x"}).code, 2);

    // Scenario steps read durations the same way.
    Result steps = run({"run", writeScenario("units.scenario", "timeout 2s\nsleep 0.05s\nsleep 20ms\ntimeout 3x\n")});
    EXPECT_EQ(steps.code, 2);
    EXPECT_TRUE(contains(steps.err, "units.scenario:4: timeout needs a duration")) << steps.err;
    EXPECT_FALSE(contains(steps.err, "units.scenario:1")) << steps.err;
    EXPECT_FALSE(contains(steps.err, "units.scenario:2")) << steps.err;
}

// ------------------------------------------------------------------ decode and config

TEST_F(Console, TextThatIsNoFrameIsShownFramedByTheFramingNamed) {
    Result xr1 = run({"decode", "--text", "LOT1", "--framing", "xr1"});
    EXPECT_EQ(xr1.code, 0) << xr1.err;
    EXPECT_TRUE(contains(xr1.out, "framing=xr1\tsequence=1\tlength=4\tcrc=ok\tdata=LOT1")) << xr1.out;
    Result tagged = run({"decode", "--text", "LOT1", "--framing", "tagged"});
    EXPECT_TRUE(contains(tagged.out, "framing=tagged\tkind=decode")) << tagged.out;
    EXPECT_TRUE(contains(tagged.out, "data=LOT1")) << tagged.out;
    // Bytes that are a frame stay that frame; without a framing nothing is built.
    Result frame = run({"decode", "--text", "\\x01\\x02LOT1", "--framing", "header"});
    EXPECT_TRUE(contains(frame.out, "frame=1\tframing=header\tdata=LOT1\thex=01 02 4C 4F 54 31")) << frame.out;
    EXPECT_EQ(run({"decode", "--text", "LOT1"}).out, "frame=1\tframing=raw\tdata=LOT1\thex=4C 4F 54 31\n");
}

TEST_F(Console, APortThatIsNoDeviceIsRefusedWhenConfigured) {
    ASSERT_EQ(run({"init"}).code, 0);
    std::string file = dir_ + "/ordinary.txt";
    std::ofstream(file) << "x";
    Result ordinary = run({"config", "COM3", file});
    EXPECT_EQ(ordinary.code, 2);
    EXPECT_TRUE(contains(ordinary.err, "COM3 needs a terminal device or FIFO; " + file + " is an ordinary file"))
        << ordinary.err;
    EXPECT_EQ(run({"config", "COM3", dir_}).code, 2);
    EXPECT_EQ(run({"config", "COM3", dir_ + "/nosuch"}).code, 2);
    EXPECT_EQ(run({"config", "COM3"}).out, "\n") << "a refused port was written";
    EXPECT_EQ(run({"config", "COM3", "/dev/null"}).code, 0);
    EXPECT_EQ(run({"config", "COM4", "none"}).code, 0);
    EXPECT_EQ(run({"config", "COM3"}).out, "/dev/null\n");
}

// ------------------------------------------------------------------ a failed scan

TEST_F(Console, AFailedScanSaysWhy) {
    ASSERT_EQ(run({"init"}).code, 0);
    ASSERT_EQ(run({"write", "/Zentrova/Keyvane.ini", "ScanDelayMode = 2\\r\\nScanDelaySetting = 5\\r\\n"}).code, 0);
    ASSERT_EQ(run({"focus", "Edit"}).code, 0);
    ASSERT_EQ(run({"start"}).code, 0);
    const std::string failed = "keyvane-terminal scan: 0 good read(s) of 1 within 1 s: ";

    Result nothing = run({"scan", "--timeout", "1s"});
    EXPECT_EQ(nothing.code, 1);
    EXPECT_TRUE(contains(nothing.err, failed + "nothing in view; sounds played: bad read\n")) << nothing.err;

    ASSERT_EQ(run({"scan", "LOT1"}).code, 0);
    Result again = run({"scan", "LOT1", "--timeout", "1s"});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(contains(again.err, failed + "a duplicate was skipped (ScanDelayMode 2)")) << again.err;

    // A symbology the engine has no id for: the barcode is in view but never read.
    Result bad = run({"scan", "LOT4", "--symid", "255", "--timeout", "1s"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(contains(bad.err, failed + "bad read (the engine does not read what is in view")) << bad.err;

    // Switched off in the settings: the wedge holds no scan key.
    ASSERT_EQ(run({"stop"}).code, 0);
    ASSERT_EQ(run({"write", "/Zentrova/Keyvane.ini", "EnableScanner = 0\\r\\n"}).code, 0);
    ASSERT_EQ(run({"start"}).code, 0);
    Result off = run({"scan", "LOT5", "--timeout", "1s"});
    EXPECT_EQ(off.code, 1);
    EXPECT_TRUE(contains(off.err, failed + "the scanner is off; no sound\n")) << off.err;
}

// ------------------------------------------------------------------ a piped run

TEST_F(Console, APipedRunShowsEachStepAsItHappens) {
    ASSERT_EQ(run({"init"}).code, 0);
    // The run waits for a file that the test writes only once it has read
    // the step before: held back output would leave the wait to time out.
    std::string path = writeScenario("piped.scenario",
                                     "echo first\n"
                                     "timeout 20000\n"
                                     "expect file /go.txt == yes\n"
                                     "echo last\n");
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<std::string> args{std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal", "--root", root_, "run",
                                      path};
        consoletest::execProgram(args);
    }
    close(pipeEnds[1]);
    FILE* from = fdopen(pipeEnds[0], "r");
    ASSERT_NE(from, nullptr);
    char line[512];
    std::string seen;
    while (seen.find("== first\n") == std::string::npos && fgets(line, sizeof line, from) != nullptr) seen += line;
    EXPECT_EQ(seen.find("expect file"), std::string::npos) << "the wait was over before its step was shown:\n" << seen;
    EXPECT_EQ(run({"write", "/go.txt", "yes"}).code, 0);
    std::string rest;
    while (fgets(line, sizeof line, from) != nullptr) rest += line;
    fclose(from);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << rest;
    EXPECT_TRUE(contains(rest, "  ok      expect file /go.txt == yes\n== last\n")) << rest;
}

// ------------------------------------------------------------------ completion

class Completion : public Console {
protected:
    // What the installed completion offers for the words typed so far (the
    // last one being completed), the console found by its full path.
    std::vector<std::string> complete(const std::vector<std::string>& typed) {
        std::string exe = std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal";
        std::string words = "'" + exe + "'";
        for (const auto& w : typed) words += " '" + w + "'";
        std::string script = "source '" + std::string(KEYVANE_SOURCE_DIR) +
                             "/dist/bash-completion/keyvane-terminal'\n"
                             "COMP_WORDS=(" +
                             words +
                             ")\n"
                             "COMP_CWORD=" +
                             std::to_string(typed.size()) +
                             "\n"
                             "_keyvane_terminal\n"
                             "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
        std::ofstream(dir_ + "/complete.sh") << script;
        Result r = consoletest::runProgram({"/bin/bash", dir_ + "/complete.sh"}, dir_ + "/c.out", dir_ + "/c.err");
        std::vector<std::string> offered;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) offered.push_back(line);
        return offered;
    }

    static bool has(const std::vector<std::string>& words, const std::string& word) {
        return std::find(words.begin(), words.end(), word) != words.end();
    }
};

TEST_F(Completion, ValuesComeFromTheConsolesTables) {
    auto sym = complete({"view", "123", "--sym", "code1"});
    EXPECT_TRUE(has(sym, "code128")) << testing::PrintToString(sym);
    EXPECT_FALSE(has(sym, "ean13")) << testing::PrintToString(sym);
    EXPECT_TRUE(has(complete({"engine", "ea"}), "ean13"));
    auto keys = complete({"settings", "OutPut"});
    EXPECT_TRUE(has(keys, "OutPutMode")) << testing::PrintToString(keys);
    auto config = complete({"config", ""});
    EXPECT_TRUE(has(config, "multidecode")) << testing::PrintToString(config);
    EXPECT_TRUE(has(config, "COM3")) << testing::PrintToString(config);
    EXPECT_TRUE(has(complete({"config", "COM3", "no"}), "none"));
    auto framing = complete({"peer", "COM3", "--framing", ""});
    EXPECT_TRUE(has(framing, "xr1")) << testing::PrintToString(framing);
    EXPECT_TRUE(has(framing, "auto")) << testing::PrintToString(framing);
    auto duration = complete({"start", "--timeout", "5"});
    EXPECT_TRUE(has(duration, "5s")) << testing::PrintToString(duration);
    EXPECT_TRUE(has(duration, "5ms")) << testing::PrintToString(duration);
    // Commands and options still complete as before.
    EXPECT_TRUE(has(complete({"pee"}), "peer-open"));
    EXPECT_TRUE(has(complete({"scan", "--ti"}), "--timeout"));
}

// Each option whose synopsis names a duration, a file, a folder, a framing or
// a symbology is in the command's option list, which completion reads.
TEST_F(Completion, EveryOptionValueASynopsisNamesIsOffered) {
    Result help = run({"--help"}, false);
    ASSERT_EQ(help.code, 0) << help.err;
    const std::regex option(R"((--[a-z][a-z-]*) (DURATION|FILE|DIR|PATH|SYMBOLOGY|N\|SYMBOLOGY|auto\|))");
    std::istringstream lines(help.out.substr(help.out.find("Commands:")));
    int checked = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 2, "  ") != 0) continue;
        std::string command = line.substr(2, line.find(' ', 2) - 2);
        for (std::sregex_iterator m(line.begin(), line.end(), option), end; m != end; ++m) {
            Result offered = run({"help", "--complete", command, (*m)[1]}, false);
            EXPECT_NE(offered.out, "") << command << " " << (*m)[1] << ": nothing offered";
            ++checked;
        }
    }
    EXPECT_GE(checked, 15);
}

}  // namespace
