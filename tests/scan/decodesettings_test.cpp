// The decode-settings file read into the stand-in scan engine, checked by
// reading back what the engine was given.
#include <random>
#include <string>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"
#include "shell/editor.h"
#include "tests/support/wedge_process.h"
#include "tests/support/scanengine_support.h"

namespace scanengine {
namespace {

constexpr int kCode39 = 4, kCode128 = 3, kEan8 = 9, kEan13 = 10, kCodabar = 1, kMsi = 31, kInt25 = 26;

class DecodeSettingsTest : public EngineTerminal {
protected:
    // Writes the text as "\\Zentrova\\DecodeSettings.Vqf" and applies it.
    int applyText(const std::string& text) {
        writeDeviceFile("Zentrova/DecodeSettings.Vqf", text);
        return applyDecodeSettings("\\Zentrova\\DecodeSettings.Vqf");
    }
    int totalWrites() {
        int writes = 0;
        for (int id = 0; id < 64; ++id) writes += terminal::symbology(id).writes;
        return writes;
    }
};

TEST_F(DecodeSettingsTest, AppliesSectionsInTheirFormsAndTheDecodeSettings) {
    ASSERT_EQ(1, applyText(fixture("full.Vqf")));
    EXPECT_TRUE(terminal::engineConnected());  // apply connects the engine first

    terminal::SymbologyState code128 = terminal::symbology(kCode128);
    EXPECT_EQ(0x5u, code128.flags);  // Enable, CheckTransmit (long form)
    EXPECT_EQ(4u, code128.minLength);
    EXPECT_EQ(48u, code128.maxLength);

    // Short form: CheckTransmit sets 0x6 and AddCodeIdentifier 0x800.
    EXPECT_EQ(0x807u, terminal::symbology(kEan13).flags);
    EXPECT_EQ(1, terminal::symbology(kEan13).writes);

    // Long form without AddCodeIdentifier; Enable false switches the symbology off.
    EXPECT_EQ(0x8u, terminal::symbology(kCode39).flags);

    EXPECT_EQ((std::vector<int32_t>{6, 1, 5, 1, 12, 800}), terminal::globalSettings());
    // General, Bluetooth and unknown sections configure nothing.
    EXPECT_EQ(3, totalWrites());
}

TEST_F(DecodeSettingsTest, TabIndentedFileAppliesNothing) {
    std::vector<int32_t> before = terminal::globalSettings();
    ASSERT_EQ(1, applyText(fixture("tabs.Vqf")));
    EXPECT_EQ(0, totalWrites());
    EXPECT_EQ(before, terminal::globalSettings());
}

TEST_F(DecodeSettingsTest, Int25ConfiguresTheIata25Id) {
    ASSERT_EQ(1, applyText(fixture("int25.Vqf")));
    terminal::SymbologyState s = terminal::symbology(kInt25);
    EXPECT_EQ(0x3u, s.flags);
    EXPECT_EQ(6u, s.minLength);
    EXPECT_EQ(14u, s.maxLength);
    EXPECT_EQ(1, totalWrites());
}

TEST_F(DecodeSettingsTest, UnclosedDecodeSectionSwallowsTheNextSection) {
    ASSERT_EQ(1, applyText(fixture("decode_unclosed.Vqf")));
    std::vector<int32_t> globals = terminal::globalSettings();
    EXPECT_EQ(9, globals[0]);
    EXPECT_EQ(2, globals[1]);
    EXPECT_EQ(0, terminal::symbology(kCode128).writes);
    EXPECT_EQ(0x41u, terminal::symbology(kEan8).flags);  // the section after it applies
}

TEST_F(DecodeSettingsTest, RepeatedSymbologyIsWrittenTwiceAndTheLaterWins) {
    ASSERT_EQ(1, applyText(fixture("repeated.Vqf")));
    terminal::SymbologyState s = terminal::symbology(kCode128);
    EXPECT_EQ(2, s.writes);
    EXPECT_EQ(0x2u, s.flags);
    EXPECT_EQ(2u, s.minLength);  // kept from the first section's write
    EXPECT_EQ(30u, s.maxLength);
}

// Each section reader starts with the boolean clear: a flag whose value is
// neither "true" nor "false" follows the previous property of its own section only.
TEST_F(DecodeSettingsTest, FlagWithoutTrueOrFalseFollowsThePreviousPropertyOfItsSection) {
    ASSERT_EQ(1, applyText(fixture("carried_boolean.Vqf")));
    EXPECT_EQ(0x3u, terminal::symbology(kCodabar).flags);
    EXPECT_EQ(0x0u, terminal::symbology(kMsi).flags);
    EXPECT_EQ(1, terminal::symbology(kMsi).writes);
}

TEST_F(DecodeSettingsTest, LinesOverFiveHundredElevenCharactersAreReadInPieces) {
    // The second piece of a long line is a text line: CheckEnable there is ignored.
    std::string longLine = "<K id=\"Enable\">true</K>" + std::string(600, 'x') + "<K id=\"CheckEnable\">true</K>\n";
    ASSERT_EQ(1, applyText("<S id=\"Code128\">\n" + longLine + "</S>\n"));
    EXPECT_EQ(0x1u, terminal::symbology(kCode128).flags);

    // An attribute running past the first piece leaves no value: Enable stays off.
    std::string longAttribute = "<K id=\"Enable\" note=\"" + std::string(600, 'x') + "\">true</K>\n";
    ASSERT_EQ(1, applyText("<S id=\"Code128\">\n" + longAttribute + "<K id=\"MaxLength\">20</K>\n</S>\n"));
    EXPECT_EQ(0x0u, terminal::symbology(kCode128).flags);
    EXPECT_EQ(20u, terminal::symbology(kCode128).maxLength);

    // A piece that begins with a property counts as a line of its own.
    std::string split = std::string(511, ' ') + "<K id=\"Enable\">true</K>\n";
    ASSERT_EQ(1, applyText("<S id=\"Code128\">\n" + split + "</S>\n"));
    EXPECT_EQ(0x1u, terminal::symbology(kCode128).flags);
}

TEST_F(DecodeSettingsTest, FilesOfAnyContentAreReadToTheirEnd) {
    std::mt19937 random(1234);
    const std::string pieces[] = {"<S id=\"Code128\">", "<K id=\"MinLength\">", "<K id=\"Enable\">true</K>", "</S>",
                                  "<S name=\"Decode\">", "\"", "=", ">", "<", "\n", "\r\n", "\t", "  ", "id",
                                  "99999999999999999999", "\xff\xfe", std::string(1, '\0')};
    for (int file = 0; file < 150; ++file) {
        std::string text;
        int count = static_cast<int>(random() % 200);
        for (int i = 0; i < count; ++i) {
            if (random() % 4 == 0)
                text += static_cast<char>(random() % 256);
            else
                text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        }
        ASSERT_EQ(1, applyText(text)) << "file " << file;
    }
    // One line of a megabyte, and a file of nothing but quotes and brackets.
    ASSERT_EQ(1, applyText("<K id=\"" + std::string(1 << 20, 'a') + "\">1</K>\n"));
    ASSERT_EQ(1, applyText(std::string(5000, '"') + std::string(5000, '<') + std::string(5000, '>')));
    // The engine still answers sensibly.
    terminal::SymbologyState s = terminal::symbology(kCode128);
    EXPECT_LE(s.minLength, s.maxLength);
}

// The file found on one terminal is not taken for found on the next: with
// none there, the editor launch says so instead of opening the old path.
TEST_F(DecodeSettingsTest, APowerOnForgetsTheFileFoundBefore) {
    writeDeviceFile("Zentrova/DecodeSettings.Vqf", fixture("full.Vqf"));
    ASSERT_EQ(1, locateDecodeSettings(decodeSettingsPath));

    std::string previous = root;
    root = wedge::freshTerminal(20);
    wedge::removeTerminalRoot(previous);
    ASSERT_FALSE(root.empty());
    writeDeviceFile("Program Files/Fieldkit/Setwright Editor PPC.exe", "");
    settingsEditorLaunch();

    std::vector<terminal::MessageBoxRecord> boxes = terminal::messageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(u"Error: The DecodeSetting.vqf file can not be found.", boxes[0].text);
}

}  // namespace
}  // namespace scanengine
