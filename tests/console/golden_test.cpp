// The console's words against golden files: `--help`, every command's own
// help, and what each command answers to arguments right and wrong (exit
// code, output, messages) on a terminal with no wedge running. The files are
// tests/fixtures/console/*.golden; KEYVANE_UPDATE_GOLDEN=1 rewrites them
// (review the difference before committing it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/console/console_fixture.h"
#include "tests/support/golden.h"

namespace {

using consoletest::Console;
using consoletest::Result;

const std::string kGoldenDir = std::string(KEYVANE_SOURCE_DIR) + "/tests/fixtures/console";

using Words = std::vector<std::string>;

// The commands `--help` lists: the first word of each indented line.
std::vector<std::string> listedCommands(const std::string& help) {
    std::vector<std::string> names;
    std::istringstream lines(help);
    std::string line;
    while (std::getline(lines, line))
        if (line.compare(0, 2, "  ") == 0) names.push_back(line.substr(2, line.find(' ', 2) - 2));
    return names;
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) return;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

std::string shownWords(const Words& words) {
    std::string line = "$ keyvane-terminal";
    for (const auto& w : words)
        line += " " + (w.empty() || w.find_first_of(" \t\"") != std::string::npos ? "\"" + w + "\"" : w);
    return line + "\n";
}

void compareGolden(const std::string& name, const std::string& actual) {
    golden::expectFile(kGoldenDir + "/" + name, actual);
}

class ConsoleGolden : public Console {
protected:
    bool knownCommand(const std::string& word) {
        Result r = run({"help", word}, false);
        return r.code == 0;
    }

    // Runs the words and writes down what came, with the test's folders
    // replaced by names that stay the same from run to run.
    std::string transcript(const Words& words) {
        Result r = run(words);
        // Every complaint is said once, on a line of its own that names the command.
        std::istringstream lines(r.err);
        std::vector<std::string> said;
        for (std::string line; !words.empty() && std::getline(lines, line);) {
            // With --json each complaint is a record that names the command.
            bool json = std::find(words.begin(), words.end(), "--json") != words.end();
            std::string named = json                     ? "{\"command\": \"" + words[0] + "\", \""
                                : knownCommand(words[0]) ? "keyvane-terminal " + words[0] + ": "
                                                         : "keyvane-terminal: ";
            EXPECT_EQ(line.compare(0, named.size(), named), 0) << shownWords(words) << line;
            EXPECT_EQ(std::count(said.begin(), said.end(), line), 0) << shownWords(words) << "said twice: " << line;
            said.push_back(line);
        }
        std::string text = shownWords(words) + "exit " + std::to_string(r.code) + "\n";
        if (!r.out.empty()) text += "stdout:\n" + r.out;
        if (!r.err.empty()) text += "stderr:\n" + r.err;
        replaceAll(text, root_, "ROOT");
        replaceAll(text, dir_, "DIR");
        replaceAll(text, std::string(KEYVANE_BINARY_DIR), "BUILD");
        replaceAll(text, std::string(KEYVANE_SOURCE_DIR), "SOURCE");
        return text + "\n";
    }
};

TEST_F(ConsoleGolden, HelpOfTheConsoleAndOfEveryCommand) {
    Result top = run({"--help"}, false);
    EXPECT_EQ(top.code, 0);
    EXPECT_EQ(top.err, "");
    compareGolden("help.golden", top.out);
    Result viaHelp = run({"help"}, false);
    EXPECT_EQ(viaHelp.out, top.out) << "help and --help print the same";

    std::vector<std::string> names = listedCommands(top.out);
    EXPECT_EQ(names.size(), 57u);
    std::string each;
    for (const std::string& name : names) {
        each += transcript({name, "--help"});
        Result viaHelpCommand = run({"help", name});
        Result viaShort = run({name, "-h"});
        EXPECT_EQ(viaHelpCommand.out, viaShort.out) << name;
    }
    compareGolden("command-help.golden", each);
}

TEST_F(ConsoleGolden, AnswersToArgumentsRightAndWrong) {
    std::string samples = std::string(KEYVANE_SOURCE_DIR) + "/samples/terminal";
    const Words cases[] = {
        {},
        {"frobnicate"},
        {"help", "view"},
        {"help", "frobnicate"},
        {"init", "--bogus"},
        {"init", "--from", "/nonexistent-folder"},
        {"init", "--from", samples},
        {"reset", "x"},
        {"config", "colour", "red"},
        {"config", "screen", "240"},
        {"config", "screen", "240x320"},
        {"config", "screen"},
        {"config", "model", "abc"},
        {"config", "clock", "0"},
        {"config", "multidecode", "2"},
        {"config", "frame", "fast"},
        {"config", "frame", "20ms"},
        {"config", "COM3."},
        {"config", "COM3.failopens", "2"},
        {"config", "COM100", "x"},
        {"config", "power", "1", "2"},
        {"config"},
        {"model"},
        {"model", "7500"},
        {"model"},
        {"model", "x"},
        {"model", "1", "2"},
        {"screen"},
        {"screen", "100"},
        {"screen", "320x240"},
        {"clock"},
        {"clock", "5"},
        {"clock", "0"},
        {"start", "--timeout", "abc"},
        {"stop", "--timeout", "abc"},
        {"command"},
        {"command", "", "x"},
        {"status"},
        {"kill"},
        {"hold", "x"},
        {"release", "x"},
        {"view"},
        {"view", "123", "--row", "480"},
        {"view", "123", "--sym", "ab"},
        {"view", "123", "--id2", "ab"},
        {"view", "123", "--symid", "999"},
        {"view", "123", "--reads", "2"},
        {"view", ""},
        {"view", "1", "2"},
        {"view", "123", "--bogus"},
        {"view", "123", "--sym", "j", "--id2", "]", "--id3", "C", "--symid", "code128", "--row", "100"},
        {"view", "ABC", "--sym", "code128"},
        {"view", "9", "--sym", "4"},
        {"in-view"},
        {"in-view", "x"},
        {"clear-view", "x"},
        {"clear-view"},
        {"in-view"},
        {"scan", "1", "2"},
        {"scan", "--reads", "x"},
        {"scan", "1", "--keep", "--hold"},
        {"label"},
        {"swipe"},
        {"swipe", ""},
        {"swipe", "%B4111^X^2512?"},
        {"tray", "x"},
        {"tray"},
        {"tray", "tap"},
        {"menu"},
        {"menu", "exit"},
        {"menu", "settings"},
        {"menu", "none"},
        {"menu", "bogus"},
        {"menu", "70000"},
        {"answer"},
        {"answer", "perhaps"},
        {"answer", "yes"},
        {"answer", "101"},
        {"focus"},
        {"focus", "Edit"},
        {"focus"},
        {"focus", "--none"},
        {"focus"},
        {"focus", "a", "b"},
        {"focus", ""},
        {"event"},
        {"event", "KVN_Enable"},
        {"event", "KVN_Enable", "toggle"},
        {"event", "KVN_Enable", "set"},
        {"event", "KVN_Enable", "set", "x"},
        {"text"},
        {"text", "--raw"},
        {"text", "x"},
        {"clear-text"},
        {"keys"},
        {"keys", "x"},
        {"clear-keys"},
        {"leds"},
        {"leds", "--now"},
        {"leds", "x"},
        {"leds", "--now", "x"},
        {"vibrator"},
        {"vibrator", "x"},
        {"sounds"},
        {"sounds", "x"},
        {"msgbox"},
        {"windows"},
        {"hotkeys"},
        {"peer"},
        {"peer", "LPT1"},
        {"peer", "COM3"},
        {"peer-open"},
        {"peer-open", "LPT1"},
        {"peer-close", "COM3"},
        {"peer-send", "COM3", "x"},
        {"peer-clear", "COM3"},
        {"bt-device"},
        {"bt-device", "00A1B2C3D4"},
        {"bt-device", "00:A1:B2:C3:D4:E5", "--channel", "31"},
        {"bt-device", "00:A1:B2:C3:D4:E5", "--sdp", "35 0"},
        {"bt-device", "00:A1:B2:C3:D4:E5", "--sdp", "zz"},
        {"bt-device", "00:A1:B2:C3:D4:E5", "--silent", "--channel", "3"},
        {"bt-device", "00:A1:B2:C3:D4:E5", "--sdp-file", "/nonexistent.sdp"},
        {"bt-device", "00:A1:B2:C3:D4:E5", "--name", "Belt printer", "--channel", "3"},
        {"bt-device", "00-80-F7-12-34-56", "--no-service"},
        {"bt-device", "0080F7AAAAAA", "--silent"},
        {"bt"},
        {"bt", "x"},
        {"bt-peer", "00A1B2C3D4E5"},
        {"bt-send", "00A1B2C3D4E5"},
        {"bt-send", "00A1B2C3D4E5", "hello"},
        {"bt-away", "0080F7AAAAAA"},
        {"bt-away", "0080F7AAAAAA"},
        {"bt"},
        {"watch", "--interval", "5"},
        {"watch"},
        {"serve", "--port", "70000"},
        {"serve", "--port"},
        {"serve", "--listen"},
        {"serve", "--from", "/nonexistent"},
        {"serve", "extra"},
        {"serve", "--listen", "203.0.113.9"},
        {"decode", "123"},
        {"decode", "01 02 41 42"},
        {"decode", "--text", "AB", "--framing", "bogus"},
        {"decode", "--text", "\x16\xFE", "--framing", "2"},
        {"trace", "x"},
        {"trace"},
        {"trace", "--clear"},
        {"file"},
        {"file", "/nosuch.txt"},
        {"file", "/Zentrova/Keyvane.ini"},
        {"file", "a", "b"},
        {"write"},
        {"write", "/Zentrova/Keyvane.ini"},
        {"write", "/New/Folder/a.txt", "one\\r\\ntwo\\x00three"},
        {"file", "/new/folder/A.TXT"},
        {"write", "/../../outside.txt", "kept inside"},
        {"file", "/outside.txt"},
        {"engine"},
        {"engine", "x", "y"},
        {"engine", "nosuchname"},
        {"engine", "3"},
        {"engine", "j"},
        {"engine", "D"},
        {"engine", "ean13"},
        {"check", "/nonexistent.ini"},
        {"settings", "OutPutMode"},
        {"settings", "Nosuch"},
        {"symbologies", "j"},
        {"symbologies", "nosuch"},
        {"settings", "Sufix"},
        {"explain"},
        {"explain", "ABC", "--sym", "nosuch"},
        {"explain", "--sym", "j"},
        {"explain", "--models", "some", "ABC"},
        {"explain", "--settings", "/nonexistent.ini", "ABC"},
        {"run"},
        {"run", "a", "b"},
        {"run", "/nonexistent.scenario"},
        {"reset"},
        {"status"},
    };
    std::string all;
    for (const Words& words : cases) all += transcript(words);
    compareGolden("answers.golden", all);
    Result json = run({"--json", "engine", "D"});
    compareGolden("answers-json.golden", json.out);
}

TEST_F(ConsoleGolden, BluetoothDevicesAndTheLastExitCodeAnswerInJson) {
    ASSERT_EQ(run({"init", "--from", std::string(KEYVANE_SOURCE_DIR) + "/samples/terminal"}).code, 0);
    std::string failing = dir_ + "/failing-wedge.sh";
    std::ofstream(failing) << "#!/bin/sh\nexit 7\n";
    std::filesystem::permissions(failing, std::filesystem::perms::owner_all);
    const Words cases[] = {
        {"bt-device", "--json", "00A1B2C3D4"},
        {"bt-device", "--json", "00:A1:B2:C3:D4:E5", "--silent", "--channel", "3"},
        {"bt-device", "--json", "00:A1:B2:C3:D4:E5", "--name", "Belt \"printer\"", "--channel", "3"},
        {"bt-device", "--json", "00-80-F7-12-34-56", "--no-service"},
        {"bt-device", "--json", "0080F7AAAAAA", "--silent"},
        {"bt", "--json"},
        {"bt-send", "--json", "00A1B2C3D4E5", "hello"},
        {"bt-peer", "--json", "00A1B2C3D4E5"},
        {"bt-peer", "--json", "00A1B2C3D4E5", "--hex"},
        {"bt-peer", "--json", "00A1B2C3D4E5", "--framing", "bogus"},
        {"bt-away", "--json", "0080F7AAAAAA"},
        {"bt-away", "--json", "0080F7AAAAAA"},
        {"bt", "--json"},
        {"watch", "--json"},
        {"command", "--json"},
        {"status", "--json"},
        {"start", "--json", "--wedge", failing},
        {"status", "--json"},
    };
    std::string all;
    for (const Words& words : cases) all += transcript(words);
    compareGolden("answers-bt-json.golden", all);
}

TEST_F(ConsoleGolden, MistakesOfAScenarioFileAreReportedWithTheirLines) {
    std::string path = writeScenario("mistakes.scenario",
                                     "# every line below is wrong\n"
                                     "frobnicate\n"
                                     "run other.scenario\n"
                                     "timeout soon\n"
                                     "sleep -1\n"
                                     "expect exit zero\n"
                                     "expect text\n"
                                     "expect text == a b\n"
                                     "expect == a\n"
                                     "expect hold == 1\n"
                                     "expect event KVN_Enable set == 1\n"
                                     "expect tray tap == x\n"
                                     "expect config model 5 == x\n"
                                     "expect model 5 == x\n"
                                     "expect trace --clear == x\n"
                                     "expect focus Edit == x\n"
                                     "expect text lines many\n"
                                     "expect text matches \"(\"\n"
                                     "expect text == \"open\n"
                                     "echo and one right line\n"
                                     "expect event KVN_Enable == 1\n"
                                     "expect peer COM3 --data --hex == x\n"
                                     "expect output 1 == x\n"
                                     "expect write /a == x\n"
                                     "expect trace count \"Start Scan\"\n"
                                     "expect trace count \"Start Scan\" many\n"
                                     "expect trace count \"(\" 2\n"
                                     "expect bt-device 00A1B2C3D4E5 == x\n"
                                     "expect trace count Scan 1 2\n");
    compareGolden("scenario-mistakes.golden", transcript({"run", path}));
}

}  // namespace
