// The rule table read by the second pass, and the character-to-key table.
#include "settings_fixture.h"

TEST_F(SettingsTest, RulesAreReadOnlyWhenWanted) {
    const std::string rules = "[Barcode1]\r\nBarcodeSym=2\r\n";
    for (const char* off : {"EnableADVSuffixPrefix=0\r\nEnableSequenceEditor=0\r\n",
                            "EnableADVSuffixPrefix=1\r\nEnableSequenceEditor=0\r\n"}) {
        ASSERT_TRUE(load(off + rules));
        EXPECT_EQ(ruleTable[0][0].symbologyLetter, 0) << off;
    }
    EXPECT_FALSE(traceHas("Scan Sync Enabled"));

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
        load("EnableSequenceEditor=1\r\nprefix=1,2\r\n"
             "[Barcode1]\r\nBarcodeSym=31\r\nPrefix=65,66\r\nSUFFIX=13\r\nPrefixWait=100\r\nSuffixWait=200\r\n"
             "Length=12\r\nStartWith=123456789\r\nCustomSound=\\Windows\\ok.wav\r\n"
             "Beep=1\r\nBeep=2\r\nEnableScanner=0\r\n"
             "[Barcode2]\r\nBarcodeSym=47\r\n"
             "[BARCODE3]\r\nBarcodeSym=46\r\nBeep=1\r\nBeep=x\r\nCustomSound=\r\n"
             "[Barcode7]\r\nLength=5\r\n"));
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
    EXPECT_EQ(third.length, 5);                     // [Barcode7] selects nothing: the keys go to slot 2
    EXPECT_EQ(ruleTable[0][1].symbologyLetter, 0);  // a number outside the table
    EXPECT_TRUE(boxes().empty());
}

TEST_F(SettingsTest, OverlongRuleValuesKeepTheFieldAndShowAMessage) {
    terminal::setFocusClass(u"Edit");
    const std::string value49 = "65,66,67,68,69,70,71,72,73,74,75,76,77,78,79,80,8";
    const std::string value50 = value49 + "1";
    ASSERT_EQ(value49.size(), 49u);
    ASSERT_TRUE(load("EnableSequenceEditor=1\r\n[Barcode1]\r\nStartWith=ABC\r\nStartWith=1234567890\r\nprefix=" +
                     value49 + "\r\nprefix=" + value50 + "\r\nsuffix=9\r\nsuffix=" + value50 +
                     "\r\nCustomSound=a.wav\r\nCustomSound=" + std::string(151, 's') +
                     "\r\nCustomSound=" + std::string(150, 't') + "\r\n"));
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
    ruleTable[3][7].symbologyLetter = 'q';  // the second pass clears earlier rules
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
    EXPECT_EQ(ruleTable[3][7].symbologyLetter, 0);
}

// ------------------------------------------------------------------ character-to-key table

TEST(KeyTable, KeypadFamiliesMoveTheirOwnKeys) {
    fillCharacterToKeyTable(123456);  // not in the device table: the standard keypad
    EXPECT_EQ(keypadFamily(123456), 0);
    EXPECT_EQ(characterToKeyTable['!'].virtualKey, 49u);
    EXPECT_EQ(characterToKeyTable['!'].shiftNeeded, 1);
    EXPECT_EQ(characterToKeyTable['~'].virtualKey, 148u);
    EXPECT_EQ(characterToKeyTable['a'].virtualKey, 65u);
    EXPECT_EQ(characterToKeyTable['a'].shiftNeeded, 0);
    for (int code = 32; code <= 127; ++code) EXPECT_NE(characterToKeyTable[code].virtualKey, 0u) << code;

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
    EXPECT_EQ(keypadFamily(kFallbackDeviceModel), 1);
    EXPECT_EQ(characterToKeyTable['~'].virtualKey, 192u);
    EXPECT_EQ(characterToKeyTable['~'].shiftNeeded, 1);
}

TEST(KeyTable, DeviceTable) {
    EXPECT_EQ(keypadFamily(('K' << 24) | ('V' << 16) | ('5' << 8) | 'N'), 5);  // a packed model name
    EXPECT_EQ(keypadFamily(('K' << 24) | ('V' << 16) | ('2' << 8) | '1'), 2);
    EXPECT_EQ(keypadFamily(('K' << 24) | ('V' << 16) | ('2' << 8) | '2'), 0);
    EXPECT_EQ(powerSwitchMethod(kFallbackDeviceModel), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(4100), PowerSwitchPortControl);
    EXPECT_EQ(powerSwitchMethod(4200), PowerSwitchNone);
    EXPECT_EQ(powerSwitchMethod(5520), PowerSwitchKernelControl);
    EXPECT_EQ(powerSwitchMethod(5852), PowerSwitchNone);
}
