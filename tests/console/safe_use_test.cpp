// The console used carelessly: a mistyped root, init or reset under a
// running wedge, recorders left behind, a wedge that dies while the console
// waits; and its answers in one shape: one-line errors, --json everywhere,
// progress on a terminal, readable lights, hot keys and trace.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"
#include "shell/constants.h"
#include "tests/console/console_fixture.h"

using consoletest::Console;
using consoletest::Result;
namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Whether a process has ended (a zombie no one reaps counts as ended).
bool ended(int pid) {
    if (kill(pid, 0) != 0) return true;
    std::string stat = testfiles::fileText("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || (close + 2 < stat.size() && stat[close + 2] == 'Z');
}

bool endsWithin(int pid, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (ended(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ended(pid);
}

class SafeUse : public Console {
protected:
    void initSamples() { ASSERT_EQ(run({"init", "--from", samples() + "/terminal"}).code, 0); }

    void startWedge() {
        Result r = run({"start"});
        ASSERT_EQ(r.code, 0) << r.err;
    }

    bool wedgeRuns() { return contains(run({"status"}).out, "running=1"); }

    int recorderPid(const std::string& port) {
        return std::atoi(testfiles::fileText(root_ + "/.terminal/peers/" + port + ".pid").c_str());
    }

    // Runs the console with its standard error on a pseudo-terminal, as a
    // person at a shell sees it; returns what appeared there.
    Result runOnTerminal(std::vector<std::string> args) {
        std::string exe = std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal";
        args.insert(args.begin(), {exe, "--root", root_});
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            int o = open((dir_ + "/pty-out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            consoletest::execProgram(args);
        }
        Result r;
        char buffer[4096];
        for (;;) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // EIO once the console has ended
            r.err.append(buffer, static_cast<size_t>(n));
        }
        close(master);
        int status = 0;
        waitpid(pid, &status, 0);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = testfiles::fileText(dir_ + "/pty-out");
        return r;
    }
};

// ------------------------------------------------------------------ safe

TEST_F(SafeUse, EveryCommandButInitRefusesARootThatIsNoTerminal) {
    const std::vector<std::vector<std::string>> commands = {
        {"status"}, {"text"}, {"reset"}, {"start"}, {"scan", "1"}, {"peer-open", "COM3"}, {"trace"}, {"model", "5"}};
    for (const auto& words : commands) {
        Result r = run(words);
        EXPECT_EQ(r.code, 2) << words[0];
        EXPECT_TRUE(
            contains(r.err, "no terminal at " + root_ + " (make one with: keyvane-terminal --root " + root_ + " init)"))
            << r.err;
        EXPECT_FALSE(fs::exists(root_)) << words[0] << " made the root";
    }
    // A scenario run on a named root needs it too; on its own temporary one it does not.
    std::string scenario = writeScenario("a.scenario", "init\nfocus Edit\nexpect focus == Edit\n");
    EXPECT_EQ(run({"run", scenario}).code, 2);
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_EQ(run({"run", scenario}, false).code, 0);
    // An ordinary folder is no terminal either, and is left as it was.
    fs::create_directories(root_);
    EXPECT_EQ(run({"status"}).code, 2);
    EXPECT_TRUE(fs::is_empty(root_));
    EXPECT_EQ(run({"init"}).code, 0);
    EXPECT_EQ(run({"status"}).code, 0);
}

TEST_F(SafeUse, InitAndResetRefuseWhileTheWedgeRunsAndForceStopsItFirst) {
    initSamples();
    startWedge();
    for (const std::vector<std::string>& words : {std::vector<std::string>{"init"}, {"init", "--clean"}, {"reset"}}) {
        Result r = run(words);
        EXPECT_EQ(r.code, 1) << words[0];
        EXPECT_TRUE(contains(r.err, "keyvane-terminal " + words[0] + ": a wedge runs on this terminal")) << r.err;
        EXPECT_TRUE(contains(r.err, "--force")) << r.err;
    }
    // Nothing was taken from under it: its files, its state and its obedience.
    EXPECT_TRUE(fs::exists(root_ + "/Zentrova/Keyvane.ini"));
    EXPECT_TRUE(contains(run({"status"}).out, "running=1\tpid="));
    EXPECT_TRUE(contains(run({"status"}).out, "KVN_Loaded=1"));
    Result stop = run({"stop", "--timeout", "10"});
    EXPECT_EQ(stop.code, 0) << stop.err;

    startWedge();
    Result reset = run({"reset", "--force"});
    EXPECT_EQ(reset.code, 0) << reset.err;
    EXPECT_FALSE(wedgeRuns());
    startWedge();
    Result init = run({"init", "--force", "--from", samples() + "/terminal"});
    EXPECT_EQ(init.code, 0) << init.err;
    EXPECT_FALSE(wedgeRuns());
    // And the terminal works afterwards.
    startWedge();
    EXPECT_EQ(run({"stop"}).code, 0);
}

TEST_F(SafeUse, SerialRecordersEndWithPeerCloseInitCleanAndTheirRoot) {
    ASSERT_EQ(run({"init"}).code, 0);
    ASSERT_EQ(run({"peer-open", "COM3"}).code, 0);
    int first = recorderPid("COM3");
    ASSERT_GT(first, 0);
    ASSERT_FALSE(ended(first));
    EXPECT_EQ(run({"peer-close", "COM3"}).code, 0);
    EXPECT_TRUE(endsWithin(first, 3000)) << "peer-close left the recorder running";

    ASSERT_EQ(run({"peer-open", "COM3"}).code, 0);
    ASSERT_EQ(run({"peer-open", "COM4"}).code, 0);
    int three = recorderPid("COM3"), four = recorderPid("COM4");
    EXPECT_EQ(run({"init", "--clean"}).code, 0);
    EXPECT_TRUE(endsWithin(three, 3000)) << "init --clean left COM3's recorder running";
    EXPECT_TRUE(endsWithin(four, 3000)) << "init --clean left COM4's recorder running";

    ASSERT_EQ(run({"peer-open", "COM3"}).code, 0);
    int last = recorderPid("COM3");
    ASSERT_FALSE(ended(last));
    std::error_code ec;
    fs::remove_all(root_, ec);
    EXPECT_TRUE(endsWithin(last, 3000)) << "the recorder outlived its root";
}

TEST_F(SafeUse, AScanThatReadsNothingSaysWhatCameInsteadAndOneWhoseWedgeDiesFails) {
    initSamples();
    startWedge();
    // Nothing in view: no good read, and the pass ends with the bad-read sound.
    Result nothing = run({"scan", "--timeout", "1000"});
    EXPECT_EQ(nothing.code, 1);
    EXPECT_TRUE(contains(nothing.err,
                         "keyvane-terminal scan: 0 good read(s) of 1 within 1 s: nothing in view; sounds played: bad read"))
        << nothing.err;
    EXPECT_EQ(linesOf(nothing.err).size(), 1u) << nothing.err;

    int pid = std::atoi(testfiles::fileText(root_ + "/.terminal/wedge.pid").c_str());
    ASSERT_GT(pid, 0);
    // Nothing in view: the scan waits for a good read that never comes, and
    // the wedge is killed while it waits (once the scan key is down).
    ASSERT_TRUE(terminal::attach(root_));
    std::thread killer([pid] {
        for (int i = 0; i < 1000 && !terminal::keyDown(kScanKey); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid, SIGKILL);
    });
    auto started = std::chrono::steady_clock::now();
    Result r = run({"scan", "--timeout", "20000"});
    killer.join();
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(
        contains(r.err, "keyvane-terminal scan: the wedge (pid " + std::to_string(pid) + ") ended during the scan"))
        << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "the scan waited out its time";
}

// ------------------------------------------------------------------ consistent

TEST_F(SafeUse, ErrorsAreOneLineNamingTheCommandSaidOnceWithAHint) {
    ASSERT_EQ(run({"init"}).code, 0);
    struct Case {
        std::vector<std::string> words;
        std::string line;
    };
    const Case cases[] = {
        {{"model", "abc"},
         "keyvane-terminal model: model needs a number (keyvane-terminal model --help shows the usage)"},
        {{"peer-open", "COM100"}, "keyvane-terminal peer-open: no port COM100 (COM0..COM99, e.g. COM3)"},
        {{"peer-open"}, "keyvane-terminal peer-open: which port? (COM0..COM99, e.g. COM3)"},
        {{"statsu"}, "keyvane-terminal: unknown command \"statsu\" (did you mean status?)"},
        {{"peerclose", "COM3"}, "keyvane-terminal: unknown command \"peerclose\" (did you mean peer-close?)"},
        {{"frobnicate"}, "keyvane-terminal: unknown command \"frobnicate\" (keyvane-terminal --help lists them)"},
        {{"symbologies", "a", "b"},
         "keyvane-terminal symbologies: one symbology at most (keyvane-terminal symbologies --help shows the usage)"},
    };
    for (const Case& c : cases) {
        Result r = run(c.words);
        EXPECT_EQ(r.code, 2) << c.words[0];
        EXPECT_EQ(r.err, c.line + "\n");
        EXPECT_EQ(r.out, "");
    }
    // The usage comes when asked for.
    Result help = run({"peer-open", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(contains(help.out, "usage: keyvane-terminal [--root DIR] [--json] peer-open COMn"));
}

TEST_F(SafeUse, JsonBeforeOrAfterTheCommandWithTypedFieldsAndErrorsAsRecords) {
    ASSERT_EQ(run({"init"}).code, 0);
    Result before = run({"--json", "status"});
    Result after = run({"status", "--json"});
    EXPECT_EQ(before.code, 0);
    EXPECT_EQ(before.out, after.out);
    EXPECT_EQ(after.out, "{\"running\": false, \"KVN_Loaded\": -1, \"KVN_Enable\": -1, \"KVN_Enable_State\": -1}\n");

    ASSERT_EQ(run({"model", "7500"}).code, 0);
    EXPECT_EQ(run({"model", "--json"}).out, "{\"model\": 7500}\n");
    EXPECT_EQ(run({"model"}).out, "7500\n");
    ASSERT_EQ(run({"view", "12345", "--sym", "j", "--row", "100"}).code, 0);
    EXPECT_EQ(run({"in-view", "--json"}).out, "[{\"data\": \"12345\", \"sym\": \"j\", \"symid\": -1, \"row\": 100}]\n");
    EXPECT_EQ(run({"in-view"}).out, "data=12345\tsym=j\tsymid=-1\trow=100\n");

    // Text is escaped for JSON: control characters, quotes, backslashes; UTF-8 kept.
    ASSERT_EQ(run({"write", "/a.txt", "x\\x01\\t\"\\\\\\u00e9\\u20ac\\r\\nsecond"}).code, 0);
    EXPECT_EQ(run({"--json", "file", "/a.txt"}).out,
              "[\"x\\u0001\\u0009\\\"\\\\\xC3\xA9\xE2\x82\xAC\",\n \"second\"]\n");

    Result error = run({"model", "abc", "--json"});
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.out, "");
    EXPECT_EQ(error.err,
              "{\"command\": \"model\", \"error\": \"model needs a number (keyvane-terminal model --help shows the "
              "usage)\", \"exit\": 2}\n");
    Result badOption = run({"--json", "--bogus", "status"});
    EXPECT_EQ(badOption.code, 2);
    EXPECT_EQ(badOption.err,
              "{\"command\": \"\", \"error\": \"unknown option --bogus (keyvane-terminal --help lists the "
              "options)\", \"exit\": 2}\n");
    Result noRoot = run({"--root", dir_ + "/none", "--json", "text"}, false);
    EXPECT_EQ(noRoot.code, 2);
    EXPECT_TRUE(contains(noRoot.err, "{\"command\": \"text\", \"error\": \"no terminal at ")) << noRoot.err;
}

TEST_F(SafeUse, RunWithJsonReportsAndComparesWhatThePlainRunCompares) {
    std::string good = writeScenario("good.scenario",
                                     "init\n"
                                     "model 7500\n"
                                     "expect model == 7500\n"
                                     "expect status contains running=0\n"
                                     "focus Edit\n"
                                     "expect focus == Edit\n");
    Result plain = run({"run", good}, false);
    EXPECT_EQ(plain.code, 0) << plain.out;
    Result json = run({"--json", "run", good}, false);
    EXPECT_EQ(json.code, 0) << json.out;
    EXPECT_EQ(json.out.compare(0, 48, "{\"scenario\": \"good.scenario\", \"passed\": 6, \"fail"), 0) << json.out;
    EXPECT_TRUE(contains(json.out,
                         "\"failed\": 0, \"not_run\": 0, \"steps\": [{\"line\": 1, \"step\": \"init\", "
                         "\"result\": \"ok\"}"))
        << json.out;
    EXPECT_EQ(linesOf(json.out).size(), 6u) << "one object, a step a line";

    std::string bad = writeScenario("bad.scenario", "init\nexpect model == 5\nclock 0\nfocus Edit\n");
    Result failed = run({"run", bad, "--json"}, false);
    EXPECT_EQ(failed.code, 1);
    EXPECT_TRUE(contains(failed.out,
                         "{\"line\": 2, \"step\": \"expect model == 5\", \"result\": \"failed\", \"got\": "
                         "\"0\"}"))
        << failed.out;
    EXPECT_TRUE(contains(failed.out, "{\"line\": 4, \"step\": \"focus Edit\", \"result\": \"not run\"}")) << failed.out;
    EXPECT_TRUE(contains(failed.out, "\"passed\": 1, \"failed\": 2, \"not_run\": 1")) << failed.out;
}

TEST_F(SafeUse, LongWaitsSayWhatTheyWaitForOnATerminalAndWhatWasSeenInstead) {
    ASSERT_EQ(run({"init"}).code, 0);
    // A "wedge" that never comes up.
    std::string wedge = dir_ + "/silent-wedge.sh";
    std::ofstream(wedge) << "#!/bin/sh\nsleep 30\n";
    fs::permissions(wedge, fs::perms::owner_all);
    Result shown = runOnTerminal({"start", "--wedge", wedge, "--timeout", "1.5s"});
    EXPECT_EQ(shown.code, 1);
    EXPECT_TRUE(contains(shown.err, "keyvane-terminal start: waiting for the wedge to signal KVN_Loaded ("))
        << shown.err;
    EXPECT_TRUE(contains(shown.err, "seen instead: no KVN_Loaded event, its window not shown")) << shown.err;
    ASSERT_EQ(run({"kill"}).code, 0);

    // Not on a terminal: only the outcome.
    Result quiet = run({"start", "--wedge", wedge, "--timeout", "1.5s"});
    EXPECT_EQ(quiet.code, 1);
    EXPECT_FALSE(contains(quiet.err, "waiting for")) << quiet.err;
    EXPECT_EQ(linesOf(quiet.err).size(), 1u) << quiet.err;
    ASSERT_EQ(run({"kill"}).code, 0);
}

TEST_F(SafeUse, LightsHotKeysAndTraceReadAsAPersonNamesThem) {
    initSamples();
    ASSERT_EQ(run({"model", "0"}).code, 0);
    // The fallback model turns the lights round: the scanning light is platform LED 1.
    EXPECT_EQ(run({"leds", "--now"}).out,
              "light=vibrator\tcolour=none\tled=0\tstate=0\n"
              "light=scanning\tcolour=red\tled=1\tstate=0\n"
              "light=good-read\tcolour=green\tled=2\tstate=0\n"
              "light=unused\tcolour=none\tled=3\tstate=0\n");
    ASSERT_EQ(run({"model", "7500"}).code, 0);
    EXPECT_TRUE(contains(run({"leds", "--now"}).out, "light=scanning\tcolour=red\tled=0\tstate=0\n"));

    startWedge();
    EXPECT_TRUE(contains(run({"hotkeys"}).out, "modifiers=0\tvk=0x2A\tkey=Scan\twith=none\n")) << run({"hotkeys"}).out;
    EXPECT_EQ(run({"stop"}).code, 0);

    ASSERT_EQ(run({"write", "/DebugADV/Keyvane.txt",
                   "Open Success : 0\\r\\n\\r\\nStart Scan\\r\\nStart Scan\\r\\n"
                   "Barcode : 12\\r34\\r\\n"})
                  .code,
              0);
    EXPECT_EQ(run({"trace", "--tidy"}).out, "Open Success : 0\nStart Scan (2 times)\nBarcode : 1234\n");
    EXPECT_EQ(run({"trace"}).out, "Open Success : 0\n\nStart Scan\nStart Scan\nBarcode : 12\\r34\n");
}

}  // namespace
