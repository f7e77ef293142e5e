// The settings file reader: value kinds, key order, headers, line pieces,
// encodings, over-long values and the no-output warning.
#include "output/framing.h"
#include "settings_fixture.h"

namespace {
const std::u16string kNoOutput =
    u"With the current setting the application will only Scan but will not trasmit the data.";
}  // namespace

TEST_F(SettingsTest, ValueKinds) {
    ASSERT_TRUE(
        load("EnableLEDs=10\r\nVirbrateOnSuccessfulScan=true\r\nAimerTimeOut=\t-35xyz\r\nPrefixID=A\r\nSuffixID=3\r\n"
             "prefix=13,10\r\nSuffix=13,,10\r\nCancelOnNoneSeqScan=0\r\nEnableScanner=0\r\nOutputFormat=abc\r\n"));
    EXPECT_EQ(settings.EnableLEDs, 1);
    EXPECT_EQ(settings.VirbrateOnSuccessfulScan, 0);
    EXPECT_EQ(settings.AimerTimeOut, -35);
    EXPECT_EQ(settings.PrefixID, 17);
    EXPECT_EQ(settings.SuffixID, 3);
    EXPECT_EQ(codes(settings.prefix, kGlobalCodeListSlots), (std::vector<int>{13, 10}));
    EXPECT_EQ(codes(settings.Suffix, kGlobalCodeListSlots), (std::vector<int>{13}));
    EXPECT_EQ(settings.CancelOnNoneSeqScan, 1);
    EXPECT_EQ(settings.EnableScanner, 0);
    EXPECT_EQ(settings.scannerEnabled.load(), 0);
    EXPECT_STREQ(settings.OutputFormat, "abc");
}

TEST_F(SettingsTest, ChoicesMapTheirFirstCharacter) {
    struct Case {
        const char* value;
        int connectingTo, aimerMode, sequenceEditor;
    };
    const Case cases[] = {{"1", FramingTagged, AimerTimed, 1},      {"2", FramingXr1, AimerUntilTrigger, 2},
                          {"3", FramingHeader, AimerOff, 0},        {"", FramingRaw, AimerOff, 0},
                          {"x", FramingRaw, AimerOff, 0},           {"21", FramingXr1, AimerUntilTrigger, 2}};
    for (const Case& c : cases) {
        resetSettings();
        std::string v = c.value;
        ASSERT_TRUE(load("ConnectingTo=" + v + "\r\nAmierMode=" + v + "\r\nEnableSequenceEditor=" + v + "\r\n"));
        EXPECT_EQ(settings.ConnectingTo, c.connectingTo) << v;
        EXPECT_EQ(settings.AmierMode, c.aimerMode) << v;
        EXPECT_EQ(settings.EnableSequenceEditor, c.sequenceEditor) << v;
    }
}

TEST_F(SettingsTest, OutPutModeOverridesSendDataAndForegroundInEitherOrder) {
    for (const char* file :
         {"SendData=1\r\nOutPutMode=1\r\n", "OutPutMode=1\r\nSendData=1\r\nSendToForegroundApp=0\r\n"}) {
        resetSettings();
        ASSERT_TRUE(load(file));
        EXPECT_EQ(settings.SendData.load(), 0) << file;
        EXPECT_EQ(settings.SendToForegroundApp, 1) << file;
    }

    struct Case {
        char mode;
        int foreground, serial, editControl;
    };
    const Case cases[] = {{'0', 0, 0, 0}, {'3', 1, 1, 0}, {'4', 1, 0, 1}, {'5', 1, 1, 1}, {'9', 1, 0, 0}};
    for (const Case& c : cases) {
        resetSettings();
        ASSERT_TRUE(load(std::string("OutPutMode=") + c.mode + "\r\n"));
        EXPECT_EQ(settings.SendToForegroundApp, c.foreground) << c.mode;
        EXPECT_EQ(settings.SendData.load(), c.serial) << c.mode;
        EXPECT_EQ(settings.editControlDelivery, c.editControl) << c.mode;
        EXPECT_EQ(allKeysCaptured.load(), 0) << c.mode;
    }
    // The edit-control flag is only ever set.
    ASSERT_TRUE(load("OutPutMode=4\r\nOutPutMode=3\r\n"));
    EXPECT_EQ(settings.editControlDelivery, 1);
}

TEST_F(SettingsTest, PresentationModeKeepsContinuousScan) {
    // A final PresentationMode=0 keeps the load from starting the scan thread.
    ASSERT_TRUE(load("PresentationMode=1\r\nContinuousScan=0\r\nPresentationMode=0\r\n"));
    EXPECT_EQ(settings.ContinuousScan, 1);
    EXPECT_EQ(settings.PresentationMode.load(), 0);

    resetSettings();
    ASSERT_TRUE(load("ContinuousScan=0\r\nPresentationMode=1\r\nPresentationMode=0\r\n"));
    EXPECT_EQ(settings.ContinuousScan, 1);
}

TEST_F(SettingsTest, SectionHeadersBlanksAndComments) {
    ASSERT_TRUE(
        load("[Anything]\r\n  Enable LEDs =  0 ' comment = 1\r\n"
             "[=5\r\n"
             "[General\r\nCentering=1\r\n"
             "[BARCODE1]\r\nEnableScanner=0\r\n"));
    EXPECT_EQ(settings.EnableLEDs, 0);  // read under another header
    EXPECT_EQ(settings.Centering, 1);
    EXPECT_EQ(settings.EnableScanner, 1);  // after [Barcode1]: not a general key

    resetSettings();
    ASSERT_TRUE(load("[sync1]\r\nEnableScanner=0\r\n"));
    EXPECT_EQ(settings.EnableScanner, 1);
    // A later barcode section does not end the general keys.
    resetSettings();
    ASSERT_TRUE(load("[Barcode2]\r\nEnableScanner=0\r\n"));
    EXPECT_EQ(settings.EnableScanner, 0);
}

TEST_F(SettingsTest, CardReaderSectionFeedsTheCardReaderAndTheGeneralKeys) {
    ASSERT_TRUE(
        load("[MCRSettings]\r\nPrefix=65,66\r\nMCROutputFormat=F1R\r\nOutputFormat=xyz\r\n"
             "[Other]\r\nMCROutputFormat=ZZZ\r\n"));
    EXPECT_EQ(codes(settings.prefix, kGlobalCodeListSlots), (std::vector<int>{65, 66}));
    EXPECT_STREQ(cardReaderSettings.outputFormat, "F1R");
    EXPECT_STREQ(settings.OutputFormat, "xyz");
}

TEST_F(SettingsTest, LongLineIsReadInPiecesOf399) {
    std::string first(399, 'x');
    ASSERT_TRUE(load(first + "EnableScanner=0\r\nEnableLEDs=0" + std::string(387, 'z') + "Centering=1\r\n"));
    EXPECT_EQ(settings.EnableScanner, 0);
    EXPECT_EQ(settings.EnableLEDs, 0);
    EXPECT_EQ(settings.Centering, 1);
    std::string t = trace();
    EXPECT_NE(t.find(first + "\r\nEnableScanner=0\r\n\r\n"), std::string::npos);
}

TEST_F(SettingsTest, WarningWhenNothingWouldBeDelivered) {
    terminal::setFocusClass(u"Edit");
    ASSERT_NE(GetForegroundWindow(), nullptr);
    ASSERT_TRUE(load("OutPutMode=0\r\n"));
    auto shown = boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kNoOutput);
    EXPECT_EQ(shown[0].caption, u"Keyvane : Warning");
    EXPECT_EQ(shown[0].owner, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetForegroundWindow())));
    EXPECT_TRUE(traceHas("will not trasmit the data.\r\n"));
    resetSettings();
    ASSERT_TRUE(load("SendData=0\r\nSendToForegroundApp=0\r\n"));
    EXPECT_EQ(boxesWithText(kNoOutput), 2);
    resetSettings();  // serial output given: no further warning
    ASSERT_TRUE(load("SendToForegroundApp=0\r\nSendData=1\r\n"));
    EXPECT_EQ(boxesWithText(kNoOutput), 2);
}

TEST_F(SettingsTest, OverlongValuesAreCut) {
    std::string many;
    for (int i = 1; i <= 40; ++i) many += std::to_string(100 + i) + ",";
    ASSERT_TRUE(load("prefix=" + many + "\r\nSuffix=123456,65\r\nOutputFormat=" + std::string(80, 'q') + "\r\n"));
    std::vector<int> expected;
    for (int i = 1; i <= kGlobalCodeListSlots - 1; ++i) expected.push_back(100 + i);
    EXPECT_EQ(codes(settings.prefix, kGlobalCodeListSlots), expected);
    EXPECT_EQ(settings.prefix[kGlobalCodeListSlots - 1], 0);
    EXPECT_EQ(codes(settings.Suffix, kGlobalCodeListSlots), (std::vector<int>{1234, 65}));
    EXPECT_EQ(std::string(settings.OutputFormat), std::string(55, 'q'));
}

TEST_F(SettingsTest, Encodings) {
    const std::u16string text =
        u"EnableScanner=0\r\nEnableSequenceEditor=1\r\n[Barcode1]\r\nBarcodeSym=2\r\nStartWith=\u00e9Z\r\n";
    auto utf16 = [&](bool bigEndian) {
        std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
        for (char16_t w : text) {
            char hi = static_cast<char>(w >> 8), lo = static_cast<char>(w & 0xff);
            bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return bytes;
    };
    const std::string ansi(text.begin(), text.end());
    std::string utf8 = ansi;
    utf8.replace(utf8.find('\xe9'), 1, "\xc3\xa9");
    const std::pair<const char*, std::string> files[] = {{"utf-8", utf8},
                                                         {"utf-8 bom", "\xef\xbb\xbf" + utf8},
                                                         {"utf-16le", utf16(false)},
                                                         {"utf-16be", utf16(true)},
                                                         {"ansi", ansi}};
    for (const auto& [name, bytes] : files) {
        resetSettings();
        clearRuleTable();
        ASSERT_TRUE(load(bytes)) << name;
        EXPECT_EQ(settings.EnableScanner, 0) << name;
        EXPECT_EQ(ruleTable[0][0].symbologyLetter, 'a') << name;
        EXPECT_EQ(std::u16string(ruleTable[0][0].startText), u"\u00e9Z") << name;
    }
}
