// The settings list and the check's view of the reader: every key of the list
// is one the reader takes where the list says, the defaults are the power-on
// values, and a check reads a file without acting on the terminal.
#include <filesystem>
#include <string>
#include <vector>

#include "output/framing.h"
#include "platform/textfile.h"
#include "settings/settingstable.h"
#include "settings_fixture.h"

namespace {

std::vector<SettingsNote> inspect(const std::string& text) {
    static std::vector<SettingsNote> notes;
    notes.clear();
    SettingsDiagnostics diagnostics = {
        [](void*, const SettingsNote& n) {
            SettingsNote copy = n;
            copy.key = copy.value = nullptr;
            notes.push_back(copy);
        },
        nullptr};
    TextFile* file = textFileOpenBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    inspectSettingsFile(file, diagnostics);
    textFileClose(file);
    return notes;
}

int count(const std::vector<SettingsNote>& notes, SettingsEvent what) {
    int n = 0;
    for (const SettingsNote& note : notes) n += note.what == what;
    return n;
}

}  // namespace

TEST_F(SettingsTest, EveryListedKeyIsTakenByTheReaderInItsSection) {
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        std::string line = std::string(s.name) + "=1\n";
        std::string text = s.section == SectionGeneral  ? line
                           : s.section == SectionBarcode ? "EnableSequenceEditor=1\n[Barcode1]\n" + line
                                                         : "EnableCardReader=1\n[MCRSettings]\n" + line;
        auto notes = inspect(text);
        EXPECT_EQ(count(notes, NoteKeyUnknown) + count(notes, NoteKeyMisplaced) + count(notes, NoteCaseMismatch), 0)
            << s.name;
        EXPECT_GE(count(notes, NoteValue) + count(notes, NoteValueIgnored), 1) << s.name;
    }
    auto notes = inspect("NoSuchKey=1\n");
    EXPECT_EQ(count(notes, NoteKeyUnknown), 1);
}

TEST_F(SettingsTest, DefaultsAreThePowerOnValues) {
    settings.AimerTimeOut = 7;
    settings.ConnectingTo = FramingTagged;
    settings.Suffix[0] = 13;
    settings.SendToForegroundApp = 0;
    resetSettings();
    EXPECT_EQ(settings.AimerTimeOut, 20);
    EXPECT_EQ(settings.EnableLEDs, 1);
    EXPECT_EQ(settings.VirbrateOnSuccessfulScanTime, 200);
    EXPECT_EQ(settings.EnableScanner, 1);
    EXPECT_EQ(settings.ComportNumber, 1);
    EXPECT_EQ(settings.ConnectingTo, FramingRaw);
    EXPECT_EQ(settings.SendToForegroundApp, 1);
    EXPECT_EQ(settings.Suffix[0], 0);
    EXPECT_EQ(settings.SendData.load(), 0);
    EXPECT_EQ(settings.scannerEnabled.load(), 1);
    EXPECT_EQ(settings.multiDecode.load(), 1);
}

TEST_F(SettingsTest, ACheckLeavesTheTerminalAlone) {
    std::filesystem::create_directories(hostFile("DebugADV"));
    auto notes = inspect(
        "EnableCardReader=1\nOutPutMode=7\nEnableAimer=1\nRemoteBTMAC=001122334455\nPresentationMode=1\n"
        "EnableSequenceEditor=1\n[Barcode1]\nStartWith=ABCDEFGHIJKL\n");
    EXPECT_EQ(count(notes, NoteValueRefused), 1);
    EXPECT_TRUE(terminal::messageBoxes().empty());
    EXPECT_FALSE(std::filesystem::exists(hostFile("DebugADV/Keyvane.txt")));
    EXPECT_FALSE(allKeysCaptured.load());
    EXPECT_FALSE(terminal::engineConnected());
    // The record holds what the file says, as the wedge would.
    EXPECT_EQ(settings.PresentationMode.load(), 1);
    EXPECT_EQ(settings.SendData.load(), 1);
}
