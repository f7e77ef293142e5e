// Settings files of any content load without overrunning a field or hanging,
// and leave every code list terminated within its slots.
#include <algorithm>
#include <random>

#include "settings_fixture.h"

namespace {

template <typename T>
bool terminated(const T* list, int slots) {
    return std::find(list, list + slots, T{0}) != list + slots;
}

void expectRecordSound() {
    EXPECT_TRUE(terminated(settings.prefix, kGlobalCodeListSlots));
    EXPECT_TRUE(terminated(settings.Suffix, kGlobalCodeListSlots));
    EXPECT_EQ(settings.OutputFormat[kOutputFormatBytes - 1], 0);
    for (const auto& group : ruleTable) {
        for (const BarcodeRule& rule : group) {
            EXPECT_TRUE(terminated(rule.prefix, kRuleCodeListSlots));
            EXPECT_TRUE(terminated(rule.suffix, kRuleCodeListSlots));
            EXPECT_TRUE(terminated(rule.startText, kStartTextChars));
            EXPECT_TRUE(terminated(rule.customSound, kCustomSoundChars));
        }
    }
}

const char* const kKeys[] = {"prefix",     "Suffix", "StartWith",  "CustomSound",  "OutputFormat", "RemoteBTMAC",
                             "BarcodeSym", "Length", "RemapToTab", "AimerTimeOut", "PrefixID"};

}  // namespace

class BadInputTest : public SettingsTest {
protected:
    void loadAndCheck(const std::string& bytes, const char* what) {
        SCOPED_TRACE(what);
        resetSettings();
        clearRuleTable();
        // No trace log: the pieces of a megabyte would only fill the disk.
        std::filesystem::remove_all(hostFile("DebugADV"));
        EXPECT_TRUE(load(bytes));
        expectRecordSound();
    }
};

TEST_F(BadInputTest, FilesOfAnyContent) {
    std::mt19937 random(20261206);
    std::string garbage;
    for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(random() & 0xff);
    loadAndCheck("EnableSequenceEditor=1\r\n" + garbage, "binary garbage");

    loadAndCheck("EnableSequenceEditor=1\r\n[Barcode1]\r\nprefix=" + std::string(1 << 20, '9') + "\r\n", "1 MB line");

    std::string sections = "EnableSequenceEditor=1\r\n";
    for (int i = 0; i < 10000; ++i) {
        sections += (i % 2 ? "[Sync" : "[Barcode") + std::to_string(i % 13) + "]\r\nBarcodeSym=" + std::to_string(i) +
                    "\r\nprefix=1,2,3\r\n";
    }
    loadAndCheck(sections, "10,000 sections");

    std::string values = "EnableSequenceEditor=1\r\n";
    for (const char* key : kKeys) values += std::string(key) + "=" + std::string(390, '7') + "\r\n";
    values += "[Barcode1]\r\n";
    for (const char* key : kKeys) {
        for (size_t length : {10u, 50u, 151u, 390u}) {
            values += std::string(key) + "=" + std::string(length, '8') + "\r\n";
            values += std::string(key) + "=" + std::string(length, ',') + "\r\n";
        }
    }
    loadAndCheck(values, "values of any length");

    std::string lists = "EnableSequenceEditor=1\r\nprefix=";
    for (int i = 0; i < 120; ++i) lists += std::to_string(i + 1) + ",";
    lists += "\r\n[Barcode2]\r\nsuffix=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,\r\n";
    loadAndCheck(lists, "code lists of any length");

    loadAndCheck("\xff\xfe\x00\xd8\x41\x00=\x00" + std::string("\xc3\x28\xa0\xa1\xed\xa0\x80\xf8\x88\x80\x80\x80", 12) +
                     "\r\nEnableScanner=\xe2\x82\r\n",
                 "invalid encodings");
    loadAndCheck(std::string("\xfe\xff\xdc\x00\x00", 5), "odd UTF-16");
    loadAndCheck(std::string("Enable\0Scanner=0\r\n\0\0\0", 22), "zero bytes");
    loadAndCheck("", "empty file");
}

TEST_F(BadInputTest, UnterminatedLinePieceIsReadInBounds) {
    WCHAR line[kSettingsLineChars];
    for (WCHAR& c : line) c = u'=';
    SettingsLine parsed = prepareSettingsLine(line);
    EXPECT_EQ(parsed.key[0], 0);
    EXPECT_EQ(parsed.value, line + 1);
}

TEST(CodeList, CutToItsSlotsAndFourDigits) {
    WORD list[5];
    for (WORD& w : list) w = 0xeeee;
    settingsCodeList(list, 5, TEXT("1,2,3,4,5,6"));
    EXPECT_EQ(list[3], 4);
    EXPECT_EQ(list[4], 0);

    settingsCodeList(list, 5, TEXT("99999,x7y,65536"));
    EXPECT_EQ(list[0], 9999);
    EXPECT_EQ(list[1], 7);
    EXPECT_EQ(list[2], 6553);
    EXPECT_EQ(list[3], 0);

    settingsCodeList(list, 5, TEXT("0,65"));  // a zero code ends the list
    EXPECT_EQ(list[0], 0);

    WORD one[1] = {0x1234};
    settingsCodeList(one, 1, TEXT("65,66"));
    EXPECT_EQ(one[0], 0);
}
