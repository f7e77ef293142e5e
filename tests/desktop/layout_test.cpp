// The desktop keyboard types every character right on the us, de and fr
// layouts, and leaves the layout as it found it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/host/terminal.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/desktop/desktop_support.h"

namespace {

// Printable ASCII, Latin-1 letters and the euro sign (the device's code page:
// 0xE9 is "é", 0x80 "€"), Tab; the suffix Enter ends it.
const std::string kText = std::string("Az09 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~") + "\t\xE9\xC4\xDF\xFC\xF1\x80";

std::string highBytes() {
    std::string bytes;
    for (int c = 0x80; c <= 0xFF; ++c) bytes.push_back(static_cast<char>(c));
    return bytes;
}

const char kSettings[] = "write /Zentrova/Keyvane.ini \"EnableScanner = 1\\r\\nSuffix = 13\\r\\n\"\n";

std::string scenario(const std::string& display) {
    std::string s = "init\nclock 20\n";
    if (!display.empty()) s += "config display " + display + "\n";
    s += kSettings;
    s += "start\n";
    s += "scan \"" + desktop::scenarioEscape(kText) + "\"\n";
    s += "scan \"" + desktop::scenarioEscape(highBytes()) + "\"\n";
    s += "stop\n";
    return s;
}

// What the stand-in field receives for the scenario, in UTF-8.
std::string standInText(const std::string& dir) {
    std::string root = dir + "/standin";
    int code = -1;
    desktop::runProgram({KEYVANE_BINARY_DIR "/keyvane-terminal", "--root", root, "init"}, "", &code);
    std::string out = desktop::runProgram(
        {KEYVANE_BINARY_DIR "/keyvane-terminal", "--root", root, "run", dir + "/standin.scenario", "--quiet"}, "",
        &code);
    if (code != 0) return "run failed: " + out;
    std::string text = desktop::runProgram({KEYVANE_BINARY_DIR "/keyvane-terminal", "--root", root, "text", "--raw"},
                                           "", &code);
    return text;
}

// UTF-8 text without U+0080..U+009F (two bytes each, 0xC2 0x80..0x9F).
std::string withoutC1Controls(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string keymap(const std::string& display) {
    return desktop::runProgram({"xmodmap", "-pke"}, display) + desktop::runProgram({"xkbcomp", "-xkb", display, "-"}, display);
}

// Every press the client received, for a failure's message.
std::string recordedPresses(desktop::Recorder& recorder) {
    std::string all = "presses received:\n";
    for (const std::string& line : recorder.lines()) all += line + "\n";
    return all;
}

class DesktopLayouts : public desktop::FolderTest {};

TEST_F(DesktopLayouts, EveryCharacterRightOnEachLayoutWhichStaysAsItWas) {
    {
        FILE* f = std::fopen((dir_ + "/standin.scenario").c_str(), "w");
        ASSERT_TRUE(f);
        std::string s = scenario("");
        std::fwrite(s.data(), 1, s.size(), f);
        std::fclose(f);
    }
    std::string expected = standInText(dir_);
    // The stand-in turns the suffix Enter into a line feed; the X client reads Return as a carriage return.
    for (char& c : expected)
        if (c == '\n') c = '\r';
    // The code page's unassigned bytes are C1 control codes, which no X key
    // carries as a character: the desktop keyboard leaves them out.
    expected = withoutC1Controls(expected);
    ASSERT_GT(expected.size(), kText.size() + 128u) << expected;

    for (const char* layout : {"us", "de", "fr"}) {
        SCOPED_TRACE(layout);
        desktop::XServer server;
        ASSERT_TRUE(server.start());
        int code = -1;
        desktop::runProgram({"setxkbmap", "-display", server.name(), layout}, server.name(), &code);
        ASSERT_EQ(code, 0);
        std::string before = keymap(server.name());
        desktop::Recorder recorder;
        ASSERT_TRUE(recorder.start(server.name()));

        std::string out = desktop::runScenario(dir_, scenario(server.name()), &code);
        ASSERT_EQ(code, 0) << out;
        recorder.waitBytes(expected.size(), 10000);
        EXPECT_EQ(recorder.text(), expected) << recordedPresses(recorder);
        std::string after = keymap(server.name());
        EXPECT_EQ(before, after) << "the layout changed";

        // The anchor: the same text through xdotool type, recorded, printed.
        recorder.clear();
        std::string utf8 = expected;
        desktop::runProgram({"xdotool", "type", "--delay", "2", utf8}, server.name(), &code);
        recorder.waitBytes(utf8.size(), 3000);
        std::string got = recorder.text();
        size_t same = 0;
        while (same < got.size() && same < utf8.size() && got[same] == utf8[same]) ++same;
        std::printf("[ anchor   ] xdotool type on %s: %s (%zu of %zu bytes, first difference at %zu)\n", layout,
                    got == utf8 ? "right" : "wrong", got.size(), utf8.size(), same);
    }
}

// A busy application handles its key presses long after they were typed,
// and looks each keycode up then. More characters than the layout has spare
// keycodes make the pool bind keycodes again, and the wedge ends right after
// the scan: neither may change a binding the application has not yet read.
TEST_F(DesktopLayouts, ABusyApplicationGetsEveryCharacterThroughTheSpareKeycodes) {
    std::string latin1;  // forty letters none of which the us layout has
    for (int c = 0xC0; c < 0xE8; ++c) latin1.push_back(static_cast<char>(c));
    std::string expected;
    for (unsigned char c : latin1) {
        expected.push_back(static_cast<char>(0xC0 | (c >> 6)));
        expected.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    expected += "\r";

    desktop::XServer server;
    ASSERT_TRUE(server.start());
    desktop::Recorder recorder;
    ASSERT_TRUE(recorder.start(server.name(), "KeyRecorder", {"--lag", "50"}));
    std::string s = "init\nclock 20\nconfig display " + server.name() + "\n" + kSettings + "start\n";
    s += "scan \"" + desktop::scenarioEscape(latin1) + "\"\nstop\n";
    int code = -1;
    std::string out = desktop::runScenario(dir_, s, &code);
    ASSERT_EQ(code, 0) << out;
    recorder.waitBytes(expected.size(), 20000);
    EXPECT_EQ(recorder.text(), expected);
}

}  // namespace
