// The settings list and the check's view of the reader: every key of the list
// is one the reader takes where the list says, the defaults are the power-on
// values, and a check reads a file without acting on the terminal.
#include <cstring>
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

TEST_F(SettingsTest, TheListResetsEveryRuleAndTheCardReaderSettings) {
    // Every byte set, as a load of a full file and then some could leave them.
    std::memset(static_cast<void*>(&ruleTable[4][9]), 0x5a, sizeof(BarcodeRule));
    std::memset(static_cast<void*>(&cardReaderSettings), 0x5a, sizeof cardReaderSettings);
    clearRuleTable();
    resetCardReaderSettings();
    const BarcodeRule& rule = ruleTable[4][9];
    EXPECT_EQ(rule.symbologyLetter, 0);
    EXPECT_EQ(rule.prefixWait, 0);
    EXPECT_EQ(rule.suffixWait, 0);
    EXPECT_EQ(rule.length, 0);
    EXPECT_EQ(rule.beep, 0);
    for (int i = 0; i < kRuleCodeListSlots; ++i) EXPECT_EQ(rule.prefix[i] | rule.suffix[i], 0) << i;
    for (int i = 0; i < kStartTextChars; ++i) EXPECT_EQ(rule.startText[i], 0) << i;
    for (int i = 0; i < kCustomSoundChars; ++i) EXPECT_EQ(rule.customSound[i], 0) << i;
    const CardReaderSettings& card = cardReaderSettings;
    for (int i = 0; i < kCardOutputFormatBytes; ++i) EXPECT_EQ(card.outputFormat[i], 0) << i;
    for (int i = 0; i < kCardCodeListSlots; ++i) EXPECT_EQ(card.prefix[i] | card.suffix[i], 0) << i;
    for (int i = 0; i < kCardCustomSoundChars; ++i) EXPECT_EQ(card.customSound[i], 0) << i;
    EXPECT_EQ(card.prefixWait, 0);
    EXPECT_EQ(card.suffixWait, 0);
    EXPECT_EQ(card.beep, 0);
    EXPECT_EQ(card.field, 0);
}

TEST_F(SettingsTest, EveryStoredFieldLiesInsideItsRecord) {
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        const SettingField& f = s.field;
        size_t unit = f.type == FieldNumber ? sizeof(int)
                      : f.type == FieldByte || f.type == FieldAtomicByte || f.type == FieldText ? 1
                      : f.type == FieldCodes ? sizeof(WORD)
                      : f.type == FieldWideText ? sizeof(WCHAR)
                                                : 0;
        size_t count = f.type == FieldCodes || f.type == FieldText || f.type == FieldWideText ? f.capacity : 1;
        size_t size = f.record == RecordSettings ? sizeof(SettingsRecord)
                      : f.record == RecordRule   ? sizeof(BarcodeRule)
                      : f.record == RecordCardReader ? sizeof(CardReaderSettings)
                                                     : 0;
        EXPECT_EQ(f.record == RecordNone, f.type == FieldNone) << s.name;
        EXPECT_LE(f.offset + unit * count, size) << s.name;
        // The record's section: a key stores only into the record its section reads into.
        if (f.record != RecordNone) {
            EXPECT_EQ(f.record, s.section == SectionGeneral   ? RecordSettings
                                : s.section == SectionBarcode ? RecordRule
                                                              : RecordCardReader)
                << s.name;
        }
    }
}
