// The console's scenarios that type, run with the desktop keyboard on a
// private X server: the X application receives byte for byte the text the
// terminal's own field receives without it (the text each scenario expects
// of the field, which its plain run checks).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/desktop/desktop_support.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The quoted text of a scenario line (its escapes \n \r \t \\ \" \xHH \uXXXX), as UTF-8.
std::string quotedText(const std::string& line) {
    size_t open = line.find('"');
    std::string out;
    for (size_t i = open + 1; open != std::string::npos && i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            out.push_back(line[i]);
            continue;
        }
        char e = line[++i];
        if (e == 'n') out.push_back('\n');
        else if (e == 'r') out.push_back('\r');
        else if (e == 't') out.push_back('\t');
        else if (e == 'x') appendUtf8(out, std::stoul(line.substr(i + 1, 2), nullptr, 16)), i += 2;
        else if (e == 'u') appendUtf8(out, std::stoul(line.substr(i + 1, 4), nullptr, 16)), i += 4;
        else out.push_back(e);
    }
    return out;
}

bool startsWith(const std::string& line, const std::string& word) {
    return line.compare(0, word.size(), word) == 0;
}

// What the field holds at the end of each stretch of the scenario (up to a
// clear-text, an init or the end), joined: the last "expect text ==" of each.
std::string fieldTexts(const std::string& scenario) {
    std::istringstream lines(scenario);
    std::string line, all, last;
    auto close = [&] {
        all += last;
        last.clear();
    };
    while (std::getline(lines, line)) {
        if (startsWith(line, "clear-text") || startsWith(line, "init")) close();
        if (startsWith(line, "expect text == ")) last = quotedText(line);
    }
    close();
    return all;
}

// The scenario for the desktop: the display set after every init (the X
// application's class taken for the field's Edit), the field's expectations
// left out, sample folders found from the scenario's own folder.
std::string forDesktop(const std::string& scenario, const std::string& folder, const std::string& display) {
    std::istringstream lines(scenario);
    std::string line, out;
    while (std::getline(lines, line)) {
        if (startsWith(line, "expect text")) continue;
        size_t from = line.find("--from ");
        if (startsWith(line, "init") && from != std::string::npos && line[from + 7] != '/') line.insert(from + 7, folder + "/");
        out += line + "\n";
        if (startsWith(line, "init")) {
            out += "config display " + display + "\n";
            out += "config class.KeyRecorder Edit\n";
        }
    }
    return out;
}

class DesktopScenarios : public ::testing::TestWithParam<const char*> {};

TEST_P(DesktopScenarios, TheXApplicationReceivesWhatTheFieldReceives) {
    std::string missing = desktop::missingXvfb();
    if (!missing.empty()) GTEST_SKIP() << missing;
    std::string path = std::string(KEYVANE_SOURCE_DIR) + "/" + GetParam();
    std::string folder = path.substr(0, path.rfind('/'));
    std::string scenario = readFile(path);
    ASSERT_FALSE(scenario.empty()) << path;

    // The plain run: the field receives what the scenario expects of it.
    int code = -1;
    std::string out = desktop::runProgram({KEYVANE_BINARY_DIR "/keyvane-terminal", "run", path, "--quiet"}, "", &code);
    ASSERT_EQ(code, 0) << out;
    std::string expected = fieldTexts(scenario);
    ASSERT_FALSE(expected.empty());
    for (char& c : expected)
        if (c == '\n') c = '\r';  // Enter, which the X application reads as a carriage return

    desktop::XServer server;
    ASSERT_TRUE(server.start());
    desktop::Recorder recorder;
    ASSERT_TRUE(recorder.start(server.name()));
    std::string dir = desktop::tempFolder();
    out = desktop::runScenario(dir, forDesktop(scenario, folder, server.name()), &code);
    desktop::removeFolder(dir);
    ASSERT_EQ(code, 0) << out;
    recorder.waitBytes(expected.size(), 10000);
    EXPECT_EQ(recorder.text(), expected);
}

INSTANTIATE_TEST_SUITE_P(Typing, DesktopScenarios,
                         ::testing::Values("samples/scenarios/demo.scenario",
                                           "tests/scenarios/output-typed-and-framed.scenario",
                                           "tests/scenarios/scan-key.scenario",
                                           "tests/scenarios/scan-sync-groups.scenario"));

}  // namespace
