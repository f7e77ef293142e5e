// The rule table read by the second pass, and the character-to-key table.
#include "settings_fixture.h"

namespace {

std::vector<int> codes(const WORD* list, int slots) {
    std::vector<int> out;
    for (int i = 0; i < slots && list[i] != 0; ++i) out.push_back(list[i]);
    return out;
}

bool tableEmpty() {
    for (const auto& group : ruleTable) {
        for (const BarcodeRule& rule : group) {
            if (rule.symbologyLetter != 0 || rule.prefix[0] != 0 || rule.startText[0] != 0 || rule.length != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

TEST_F(SettingsTest, RulesAreReadOnlyWhenWanted) {
    const std::string rules = "[Barcode1]\r\nBarcodeSym=2\r\n";
    ASSERT_TRUE(load("EnableADVSuffixPrefix=0\r\nEnableSequenceEditor=0\r\n" + rules));
    EXPECT_TRUE(tableEmpty());
    EXPECT_FALSE(traceHas("Scan Sync Enabled"));

    ASSERT_TRUE(load("EnableADVSuffixPrefix=1\r\nEnableSequenceEditor=0\r\n" + rules));
    EXPECT_TRUE(tableEmpty());

    ASSERT_TRUE(load("EnableSequenceEditor=2\r\nEnableADVSuffixPrefix=1\r\n" + rules));
    EXPECT_EQ(ruleTable[0][0].symbologyLetter, 'a');
    EXPECT_EQ(settings.EnableSequenceEditor, 0);
    EXPECT_EQ(settings.EnableADVSuffixPrefix, 1);
    EXPECT_EQ(settings.multiDecode.load(), 0);
    // The banner, then every line again from the top.
    std::string t = trace();
    size_t banner = t.find("---------------------\r\r\n--Scan Sync Enabled--\r\r\n---------------------\r\r\n\r\n");
    ASSERT_NE(banner, std::string::npos);
    EXPECT_NE(t.find("EnableSequenceEditor=2\r\n\r\n", banner), std::string::npos);
    EXPECT_NE(t.find("BarcodeSym=2\r\n\r\n", banner), std::string::npos);
}

TEST_F(SettingsTest, RuleFields) {
    ASSERT_TRUE(
        load("EnableSequenceEditor=1\r\n"
             "prefix=1,2\r\n"
             "[Barcode1]\r\n"
             "BarcodeSym=31\r\n"
             "Prefix=65,66\r\n"
             "SUFFIX=13\r\n"
             "PrefixWait=100\r\n"
             "SuffixWait=200\r\n"
             "Length=12\r\n"
             "StartWith=123456789\r\n"
             "CustomSound=\\Windows\\ok.wav\r\n"
             "Beep=1\r\n"
             "Beep=2\r\n"
             "EnableScanner=0\r\n"
             "[BARCODE3]\r\n"
             "BarcodeSym=46\r\n"
             "Beep=1\r\n"
             "Beep=x\r\n"
             "CustomSound=\r\n"
             "[Barcode7]\r\n"
             "Length=5\r\n"));
    const BarcodeRule& first = ruleTable[0][0];
    EXPECT_EQ(first.symbologyLetter, 'T');
    EXPECT_EQ(codes(first.prefix, kRuleCodeListSlots), (std::vector<int>{65, 66}));
    EXPECT_EQ(codes(first.suffix, kRuleCodeListSlots), (std::vector<int>{13}));
    EXPECT_EQ(first.prefixWait, 100);
    EXPECT_EQ(first.suffixWait, 200);
    EXPECT_EQ(first.length, 12);
    EXPECT_EQ(std::u16string(first.startText), u"123456789");
    EXPECT_EQ(std::u16string(first.customSound), u"\\Windows\\ok.wav");
    EXPECT_EQ(first.beep, 1);
    EXPECT_EQ(settings.EnableScanner, 1);  // a general key inside a barcode section
    EXPECT_EQ(codes(settings.prefix, kGlobalCodeListSlots), (std::vector<int>{1, 2}));

    const BarcodeRule& third = ruleTable[0][2];
    EXPECT_EQ(third.symbologyLetter, 'I');
    EXPECT_EQ(third.beep, 0);
    EXPECT_EQ(third.customSound[0], 0);
    EXPECT_EQ(third.length, 5);  // [Barcode7] selects nothing: the keys go to slot 2
    EXPECT_EQ(ruleTable[0][1].symbologyLetter, 0);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(SettingsTest, SymbologyNumbersOutsideTheTableLeaveTheSlotEmpty) {
    EXPECT_EQ(symbologyLetter(1), 'z');
    EXPECT_EQ(symbologyLetter(10), 'D');
    EXPECT_EQ(symbologyLetter(32), '=');
    EXPECT_EQ(symbologyLetter(38), '?');
    EXPECT_EQ(symbologyLetter(45), 'I');
    EXPECT_EQ(symbologyLetter(0), 0);
    EXPECT_EQ(symbologyLetter(47), 0);
    EXPECT_EQ(symbologyLetter(-5), 0);
    ASSERT_TRUE(
        load("EnableSequenceEditor=1\r\n[Barcode1]\r\nBarcodeSym=5\r\nBarcodeSym=47\r\n"
             "[Barcode2]\r\nBarcodeSym=99999999999\r\n"));
    EXPECT_EQ(ruleTable[0][0].symbologyLetter, 0);
    EXPECT_EQ(ruleTable[0][1].symbologyLetter, 0);
}

TEST_F(SettingsTest, OverlongRuleValuesKeepTheFieldAndShowAMessage) {
    terminal::setFocusClass(u"Edit");
    const std::string value49 = "65,66,67,68,69,70,71,72,73,74,75,76,77,78,79,80,8";
    const std::string value50 = value49 + "1";
    ASSERT_EQ(value49.size(), 49u);
    ASSERT_TRUE(
        load("EnableSequenceEditor=1\r\n[Barcode1]\r\n"
             "StartWith=ABC\r\nStartWith=1234567890\r\n"
             "prefix=" +
             value49 + "\r\nprefix=" + value50 +
             "\r\n"
             "suffix=9\r\nsuffix=" +
             value50 +
             "\r\n"
             "CustomSound=a.wav\r\nCustomSound=" +
             std::string(151, 's') +
             "\r\n"
             "CustomSound=" +
             std::string(150, 't') + "\r\n"));
    const BarcodeRule& rule = ruleTable[0][0];
    EXPECT_EQ(std::u16string(rule.startText), u"ABC");
    EXPECT_EQ(codes(rule.prefix, kRuleCodeListSlots).size(), 17u);
    EXPECT_EQ(rule.prefix[16], 8);
    EXPECT_EQ(codes(rule.suffix, kRuleCodeListSlots), (std::vector<int>{9}));
    EXPECT_EQ(std::u16string(rule.customSound), std::u16string(150, u't'));

    const std::u16string expected[] = {u"Setting \"BarcodeStartWith\" is to long.", u"Setting \"Prefix\" is to long.",
                                       u"Setting \"Suffix\" is to long.", u"Setting \"CustomSound\" is to long."};
    auto shown = boxes();
    ASSERT_EQ(shown.size(), 4u);
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].text, expected[i]);
        EXPECT_EQ(shown[i].caption, u"Error");
        EXPECT_EQ(shown[i].type, static_cast<unsigned>(MB_OK));
        EXPECT_NE(shown[i].owner, 0u);
    }
}

TEST_F(SettingsTest, SyncGroups) {
    ASSERT_TRUE(
        load("EnableSequenceEditor=1\r\n"
             "[Barcode1]\r\nBarcodeSym=2\r\nLength=1\r\n"
             "[Barcode2]\r\nBarcodeSym=3\r\n"
             "[Sync1]\r\n[Barcode1]\r\nBarcodeSym=5\r\n"
             "[SYNC2]\r\nLength=22\r\n"
             "[Barcode4]\r\nBarcodeSym=24\r\n"
             "[Sync11]\r\nLength=44\r\n"
             "[Sync10]\r\n[Barcode6]\r\nBarcodeSym=43\r\n"));
    EXPECT_EQ(ruleTable[0][0].symbologyLetter, 'b');  // [Sync1] overwrites group 0
    EXPECT_EQ(ruleTable[0][0].length, 1);
    EXPECT_EQ(ruleTable[0][1].symbologyLetter, 'h');
    EXPECT_EQ(ruleTable[1][0].length, 22);  // before any section of group 1: the slot chosen last
    EXPECT_EQ(ruleTable[1][3].symbologyLetter, 'A');
    EXPECT_EQ(ruleTable[1][3].length, 44);  // [Sync11] selects nothing
    EXPECT_EQ(ruleTable[9][5].symbologyLetter, 'M');
    EXPECT_EQ(ruleTable[2][0].symbologyLetter, 0);
}

TEST_F(SettingsTest, SecondPassClearsEarlierRules) {
    ruleTable[3][7].symbologyLetter = 'q';
    ruleTable[0][0].prefix[0] = 5;
    ASSERT_TRUE(load("EnableSequenceEditor=1\r\n"));
    EXPECT_TRUE(tableEmpty());
}

TEST_F(SettingsTest, FixtureWithRulesAndGeneralKeys) {
    ASSERT_TRUE(loadFixture("scan_sync.ini"));
    EXPECT_EQ(settings.EnableSequenceEditor, 2);
    EXPECT_EQ(settings.SendData.load(), 1);
    EXPECT_EQ(settings.ConnectingTo, 1);
    EXPECT_EQ(codes(settings.Suffix, kGlobalCodeListSlots), (std::vector<int>{13}));
    EXPECT_EQ(ruleTable[0][0].symbologyLetter, 'j');
    EXPECT_EQ(std::u16string(ruleTable[0][0].startText), u"AB");
    EXPECT_EQ(ruleTable[0][1].symbologyLetter, 'd');
    EXPECT_EQ(ruleTable[0][1].length, 8);
    EXPECT_EQ(ruleTable[1][0].symbologyLetter, 'a');
    EXPECT_EQ(codes(ruleTable[1][0].suffix, kRuleCodeListSlots), (std::vector<int>{9}));
    EXPECT_EQ(ruleTable[1][0].beep, 1);
    EXPECT_EQ(std::u16string(ruleTable[1][0].customSound), u"\\Windows\\Alarm1.wav");
}

// ------------------------------------------------------------------ character-to-key table

TEST(KeyTable, DefaultKeypad) {
    fillCharacterToKeyTable(123456);  // not in the device table
    EXPECT_EQ(keypadFamily(123456), 0);
    const int rows[][3] = {{'A', 65, 1}, {'a', 65, 0},  {'!', 49, 1},  {'\t', 9, 0}, {'7', 55, 0},
                           {127, 46, 0}, {'~', 148, 0}, {'}', 221, 1}, {8, 0, 0},    {0, 0, 0}};
    for (const auto& row : rows) {
        EXPECT_EQ(characterToKeyTable[row[0]].virtualKey, static_cast<DWORD>(row[1])) << row[0];
        EXPECT_EQ(characterToKeyTable[row[0]].shiftNeeded, row[2]) << row[0];
    }
    for (int code = 32; code <= 127; ++code) EXPECT_NE(characterToKeyTable[code].virtualKey, 0u) << code;
}

TEST(KeyTable, KeypadFamiliesChangeOnlyTheirRows) {
    fillCharacterToKeyTable(123456);
    KeyTableEntry standard[128];
    for (int i = 0; i < 128; ++i) standard[i] = characterToKeyTable[i];

    struct Family {
        int model;
        int family;
        int changedRows;
    };
    const Family families[] = {{kFallbackDeviceModel, 1, 9},
                               {7015, 1, 9},
                               {7203, 2, 3},
                               {7300, 3, 9},
                               {7409, 4, 4},
                               {7500, 5, 9},
                               {7600, 6, 10}};
    for (const Family& f : families) {
        EXPECT_EQ(keypadFamily(f.model), f.family) << f.model;
        fillCharacterToKeyTable(f.model);
        int changed = 0;
        for (int code = 0; code < 128; ++code) {
            const KeyTableEntry& e = characterToKeyTable[code];
            if (e.virtualKey != standard[code].virtualKey || e.shiftNeeded != standard[code].shiftNeeded) ++changed;
        }
        EXPECT_EQ(changed, f.changedRows) << "family " << f.family;
    }

    fillCharacterToKeyTable(7500);
    EXPECT_EQ(characterToKeyTable['!'].virtualKey, 153u);
    EXPECT_EQ(characterToKeyTable['!'].shiftNeeded, 0);
    EXPECT_EQ(characterToKeyTable['%'].virtualKey, 53u);
    fillCharacterToKeyTable(7600);
    EXPECT_EQ(characterToKeyTable['%'].virtualKey, 211u);
    EXPECT_EQ(characterToKeyTable['%'].shiftNeeded, 1);
    EXPECT_EQ(characterToKeyTable['@'].virtualKey, 151u);
    fillCharacterToKeyTable(7300);
    EXPECT_EQ(characterToKeyTable['*'].virtualKey, 56u);
    EXPECT_EQ(characterToKeyTable['*'].shiftNeeded, 1);
    EXPECT_EQ(characterToKeyTable['+'].virtualKey, 187u);
    fillCharacterToKeyTable(kFallbackDeviceModel);
    EXPECT_EQ(characterToKeyTable['#'].virtualKey, 51u);
    EXPECT_EQ(characterToKeyTable['~'].virtualKey, 192u);
    EXPECT_EQ(characterToKeyTable['~'].shiftNeeded, 1);
}

TEST(KeyTable, DeviceTable) {
    const int packed = ('K' << 24) | ('V' << 16) | ('5' << 8) | 'N';
    EXPECT_EQ(keypadFamily(packed), 5);
    EXPECT_EQ(keypadFamily(('K' << 24) | ('V' << 16) | ('2' << 8) | '1'), 2);
    EXPECT_EQ(keypadFamily(('K' << 24) | ('V' << 16) | ('2' << 8) | '2'), 0);
    EXPECT_EQ(powerSwitchMethod(kFallbackDeviceModel), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(0), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(4099), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(4100), PowerSwitchPortControl);
    EXPECT_EQ(powerSwitchMethod(4199), PowerSwitchPortControl);
    EXPECT_EQ(powerSwitchMethod(4200), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(4650), PowerSwitchPortControl);
    EXPECT_EQ(powerSwitchMethod(5520), PowerSwitchKernelControl);
    EXPECT_EQ(powerSwitchMethod(5521), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(5800), PowerSwitchKernelControl);
    EXPECT_EQ(powerSwitchMethod(5851), PowerSwitchKernelControl);
    EXPECT_EQ(powerSwitchMethod(5852), PowerSwitchNone);
}

TEST_F(SettingsTest, LoadBuildsTheKeyTableForTheDevice) {
    deviceModel = 7500;
    ASSERT_TRUE(load("EnableScanner=1\r\n"));
    EXPECT_EQ(characterToKeyTable['!'].virtualKey, 153u);
    deviceModel = 1;
    ASSERT_TRUE(load("EnableScanner=1\r\n"));
    EXPECT_EQ(characterToKeyTable['!'].virtualKey, 49u);
}
