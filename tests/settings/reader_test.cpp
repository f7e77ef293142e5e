// The settings file reader: value kinds, key order, headers, line pieces,
// files and encodings, side effects, trace lines and messages.
#include "settings_fixture.h"

namespace {

std::vector<int> codes(const WORD* list, int slots) {
    std::vector<int> out;
    for (int i = 0; i < slots && list[i] != 0; ++i) out.push_back(list[i]);
    return out;
}

const std::u16string kNoOutput =
    u"With the current setting the application will only Scan but will not trasmit the data.";

}  // namespace

TEST_F(SettingsTest, FileWithoutGeneralKeysKeepsDefaultsButLosesThePort) {
    ASSERT_TRUE(load("' nothing but a comment\r\n\r\n[General]\r\nUnknownKey=5\r\n"));
    EXPECT_EQ(settings.ComportNumber, -1);
    EXPECT_EQ(settings.AimerTimeOut, 20);
    EXPECT_EQ(settings.SendToForegroundApp, 1);
    EXPECT_EQ(settings.ConnectingTo, 3);
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_TRUE(boxes().empty());
}

TEST_F(SettingsTest, ValueKinds) {
    ASSERT_TRUE(
        load("EnableLEDs=10\r\n"
             "VirbrateOnSuccessfulScan=true\r\n"
             "AimerTimeOut=\t-35xyz\r\n"
             "PrefixID=A\r\n"
             "SuffixID=3\r\n"
             "prefix=13,10\r\n"
             "Suffix=13,,10\r\n"
             "CancelOnNoneSeqScan=0\r\n"
             "ConnectingTo=1\r\n"
             "ScanDelayMode=3\r\n"
             "ScanDelaySetting=250\r\n"
             "Centering=1\r\n"
             "EnableScanner=0\r\n"
             "InterCharacterDelay=7\r\n"
             "PrefixWait=11\r\n"
             "SuffixWait=12\r\n"
             "OutputFormat=abc\r\n"));
    EXPECT_EQ(settings.EnableLEDs, 1);
    EXPECT_EQ(settings.VirbrateOnSuccessfulScan, 0);
    EXPECT_EQ(settings.AimerTimeOut, -35);
    EXPECT_EQ(settings.PrefixID, 17);
    EXPECT_EQ(settings.SuffixID, 3);
    EXPECT_EQ(codes(settings.prefix, kGlobalCodeListSlots), (std::vector<int>{13, 10}));
    EXPECT_EQ(codes(settings.Suffix, kGlobalCodeListSlots), (std::vector<int>{13}));
    EXPECT_EQ(settings.CancelOnNoneSeqScan, 1);
    EXPECT_EQ(settings.ConnectingTo, 0);
    EXPECT_EQ(settings.ScanDelayMode, 3);
    EXPECT_EQ(settings.ScanDelaySetting, 250);
    EXPECT_EQ(settings.Centering, 1);
    EXPECT_EQ(settings.EnableScanner, 0);
    EXPECT_EQ(settings.scannerEnabled.load(), 0);
    EXPECT_EQ(settings.InterCharacterDelay, 7);
    EXPECT_EQ(settings.PrefixWait, 11);
    EXPECT_EQ(settings.SuffixWait, 12);
    EXPECT_STREQ(settings.OutputFormat, "abc");
}

TEST_F(SettingsTest, ChoicesMapTheirFirstCharacter) {
    struct Case {
        const char* value;
        int connectingTo;
        int aimerMode;
        int sequenceEditor;
    };
    const Case cases[] = {{"1", 0, 1, 1}, {"2", 1, 2, 2}, {"3", 2, 0, 0},
                          {"", 3, 0, 0},  {"x", 3, 0, 0}, {"21", 1, 2, 2}};
    for (const Case& c : cases) {
        resetSettings();
        std::string v = c.value;
        ASSERT_TRUE(load("ConnectingTo=" + v + "\r\nAmierMode=" + v + "\r\nEnableSequenceEditor=" + v + "\r\n"));
        EXPECT_EQ(settings.ConnectingTo, c.connectingTo) << v;
        EXPECT_EQ(settings.AmierMode, c.aimerMode) << v;
        EXPECT_EQ(settings.EnableSequenceEditor, c.sequenceEditor) << v;
    }
}

TEST_F(SettingsTest, RemapToTabAndComportNumber) {
    struct Case {
        const char* value;
        int remap;
    };
    const Case cases[] = {{"9", 57}, {"13", 13}, {"0", 99}, {"09", 99}, {"A", 65}, {"5x", 53}};
    for (const Case& c : cases) {
        resetSettings();
        settings.RemapToTab = 99;
        ASSERT_TRUE(load(std::string("RemapToTab=") + c.value + "\r\n"));
        EXPECT_EQ(settings.RemapToTab, c.remap) << c.value;
    }
    ASSERT_TRUE(load("ComportNumber=x5\r\n"));
    EXPECT_EQ(settings.ComportNumber, -1);
    ASSERT_TRUE(load("ComportNumber=4\r\nComportNumber=-3\r\n"));
    EXPECT_EQ(settings.ComportNumber, 4);
}

TEST_F(SettingsTest, VibrateTimeAboveTwoSecondsIsRefused) {
    ASSERT_TRUE(load("VirbrateOnSuccessfulScanTime=2000\r\nVirbrateOnSuccessfulScanTime=2001\r\n"));
    EXPECT_EQ(settings.VirbrateOnSuccessfulScanTime, 2000);
    EXPECT_TRUE(traceHas("(Vibrate for: Time set to long\r\n"));
}

TEST_F(SettingsTest, OutPutModeOverridesSendDataAndForegroundInEitherOrder) {
    ASSERT_TRUE(load("SendData=1\r\nOutPutMode=1\r\n"));
    EXPECT_EQ(settings.SendData.load(), 0);
    EXPECT_EQ(settings.SendToForegroundApp, 1);

    resetSettings();
    ASSERT_TRUE(load("OutPutMode=1\r\nSendData=1\r\nSendToForegroundApp=0\r\n"));
    EXPECT_EQ(settings.SendData.load(), 0);
    EXPECT_EQ(settings.SendToForegroundApp, 1);

    struct Case {
        char mode;
        int foreground, serial, editControl;
    };
    const Case cases[] = {{'0', 0, 0, 0}, {'2', 0, 1, 0}, {'3', 1, 1, 0},
                          {'4', 1, 0, 1}, {'5', 1, 1, 1}, {'9', 1, 0, 0}};
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

TEST_F(SettingsTest, OutPutModeSevenCapturesAllKeysAtOnce) {
    ASSERT_TRUE(load("OutPutMode=7\r\n"));
    EXPECT_EQ(settings.SendData.load(), 1);
    EXPECT_EQ(settings.SendToForegroundApp, 1);
    EXPECT_EQ(settings.editControlDelivery, 1);
    EXPECT_EQ(allKeysCaptured.load(), 1);
}

TEST_F(SettingsTest, PresentationModeKeepsContinuousScan) {
    // A final PresentationMode=0 keeps the load from starting the scan thread.
    ASSERT_TRUE(load("PresentationMode=1\r\nContinuousScan=0\r\nPresentationMode=0\r\n"));
    EXPECT_EQ(settings.ContinuousScan, 1);
    EXPECT_EQ(settings.PresentationMode.load(), 0);

    resetSettings();
    ASSERT_TRUE(load("ContinuousScan=0\r\nPresentationMode=1\r\nPresentationMode=0\r\n"));
    EXPECT_EQ(settings.ContinuousScan, 1);

    resetSettings();
    ASSERT_TRUE(load("ContinuousScan=1\r\nContinuousScan=0\r\n"));
    EXPECT_EQ(settings.ContinuousScan, 0);
}

TEST_F(SettingsTest, AimerTimeOutScaledForAimerModeTwo) {
    ASSERT_TRUE(load("AimerMode=2\r\nAimerTimeOut=20\r\n"));
    EXPECT_EQ(settings.AimerTimeOut, 200);
    resetSettings();
    ASSERT_TRUE(load("AimerTimeOut=20\r\nAmierMode=2\r\nAimerMode=1\r\n"));
    EXPECT_EQ(settings.AmierMode, 1);
    EXPECT_EQ(settings.AimerTimeOut, 20);
    resetSettings();
    ASSERT_TRUE(load("AimerMode=2\r\nAimerTimeOut=999999999\r\n"));
    EXPECT_EQ(settings.AimerTimeOut, 2147483647);
}

TEST_F(SettingsTest, SpacesCommentsAndLetterCase) {
    ASSERT_TRUE(load("  Enable Scanner =  0 ' the scanner starts off = 1\r\nSUFFIX=1 3 ,10\r\n"));
    EXPECT_EQ(settings.EnableScanner, 0);
    EXPECT_EQ(codes(settings.Suffix, kGlobalCodeListSlots), (std::vector<int>{13, 10}));
    // Tabs are no blanks: the key does not match.
    resetSettings();
    ASSERT_TRUE(load("\tEnableScanner=0\r\n"));
    EXPECT_EQ(settings.EnableScanner, 1);
}

TEST_F(SettingsTest, SectionHeaders) {
    ASSERT_TRUE(
        load("[Anything]\r\nEnableLEDs=0\r\n"
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

TEST_F(SettingsTest, TraceHasBannerAndEveryLineAsRead) {
    ASSERT_TRUE(load("EnableScanner=0 'off\r\nOutPutMode=3\r\n"));
    EXPECT_EQ(trace(),
              "--------------------\r\r\n------Settings------\r\r\n--------------------\r\r\n\r\n"
              "EnableScanner=0 'off\r\n\r\n"
              "OutPutMode=3\r\n\r\n");
}

TEST_F(SettingsTest, NoTraceWithoutTheDebugFolder) {
    std::filesystem::remove_all(hostFile("DebugADV"));
    ASSERT_TRUE(load("EnableScanner=0\r\n"));
    EXPECT_FALSE(std::filesystem::exists(hostFile("DebugADV")));
    EXPECT_EQ(settings.EnableScanner, 0);
}

TEST_F(SettingsTest, SettingsFileLocations) {
    writeFile("IPSM/Keyvane.ini", "EnableLEDs=0\r\n");
    ASSERT_TRUE(loadSettings());
    EXPECT_EQ(settings.EnableLEDs, 0);

    resetSettings();
    writeIni("Centering=1\r\n");
    ASSERT_TRUE(loadSettings());
    EXPECT_EQ(settings.EnableLEDs, 1);
    EXPECT_EQ(settings.Centering, 1);
}

TEST_F(SettingsTest, MissingFileFailsWithAnUnownedMessage) {
    terminal::setFocusClass(u"Edit");
    ASSERT_NE(GetForegroundWindow(), nullptr);
    EXPECT_FALSE(loadSettings());
    auto shown = boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"\"Keyvane.ini\"\n Keyvane will now Exit");
    EXPECT_EQ(shown[0].caption, u"Error: File not found");
    EXPECT_EQ(shown[0].owner, 0u);
    EXPECT_EQ(shown[0].type, static_cast<unsigned>(MB_OK));
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_EQ(trace(), "");
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

    resetSettings();
    ASSERT_TRUE(load("SendToForegroundApp=0\r\nSendData=1\r\n"));
    EXPECT_EQ(boxesWithText(kNoOutput), 2);
}

TEST_F(SettingsTest, AimerAndIlluminationChangeOnlyTheirOwnBit) {
    ASSERT_TRUE(load("EnableIllumination=1\r\nEnableAimer=1\r\n"));
    EXPECT_EQ(terminal::lightsMode(), 3);
    ASSERT_TRUE(load("EnableAimer=0\r\n"));
    EXPECT_EQ(terminal::lightsMode(), 2);
    ASSERT_TRUE(load("EnableIllumination=0\r\nEnableAimer=1\r\n"));
    EXPECT_EQ(terminal::lightsMode(), 1);
    std::string t = trace();
    EXPECT_NE(t.find("EnableIllumination=1\r\n\r\nIllumination set\r\nEnableAimer=1\r\n\r\nAimer Set\r\n"),
              std::string::npos);
    EXPECT_EQ(t.find("Failed"), std::string::npos);
}

TEST_F(SettingsTest, CardReaderStartsForOneAndTwo) {
    ASSERT_TRUE(load("EnableCardReader=3\r\n"));
    EXPECT_FALSE(traceHas("MSR Connected"));
    ASSERT_TRUE(load("EnableCardReader=2\r\n"));
    EXPECT_TRUE(traceHas("MSR Connected"));
}

TEST_F(SettingsTest, BluetoothPortFailureIsReportedAndLoadingGoesOn) {
    ASSERT_TRUE(load("RemoteBTMAC=00:11\r\nOutPutMode=2\r\n"));
    EXPECT_EQ(settings.ComportNumber, 0);  // the lowest free index
    std::string t = trace();
    size_t create = t.find("Create BT Comport\r\n");
    ASSERT_NE(create, std::string::npos);
    EXPECT_NE(t.find("Failed to create BT Comport\r\n", create), std::string::npos);
    EXPECT_EQ(t.find("Remove current device (COM)"), std::string::npos);
    EXPECT_EQ(boxesWithText(u"Failed to create BT Comport"), 1);
    for (const auto& box : boxes()) {
        if (box.text == u"Failed to create BT Comport") {
            EXPECT_EQ(box.caption, u"Keyvane : Error");
        }
    }
}

TEST_F(SettingsTest, BluetoothPortOnTheGivenIndexReplacesItsDevice) {
    // One record whose protocol list names RFCOMM channel 5.
    const std::string response("\x35\x13\x35\x11\x09\x00\x04\x35\x0c\x35\x03\x19\x01\x00\x35\x05\x19\x00\x03\x08\x05",
                               21);
    terminal::putRemoteDevice(0x001122334455ull, response);
    ASSERT_TRUE(terminal::occupyComIndex(4));
    ASSERT_TRUE(load("ComportNumber=4\r\nRemoteBTMAC=00 11 22 33 44 55\r\nOutPutMode=2\r\n"));
    EXPECT_EQ(settings.ComportNumber, 4);
    std::string t = trace();
    size_t removed = t.find("Remove current device (COM)\r\n");
    ASSERT_NE(removed, std::string::npos);
    EXPECT_NE(t.find("Create BT Comport\r\nBT Comport Created\r\n", removed), std::string::npos);
    bool found = false;
    for (const auto& device : terminal::comDevices()) {
        if (device.index == 4) {
            found = true;
            EXPECT_TRUE(device.bluetooth);
            EXPECT_EQ(device.address, 0x001122334455ull);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(SettingsTest, OverlongValuesAreCut) {
    std::string many;
    for (int i = 1; i <= 40; ++i) many += std::to_string(100 + i) + ",";
    ASSERT_TRUE(load("prefix=" + many + "\r\nSuffix=123456,65\r\nOutputFormat=" + std::string(80, 'q') +
                     "\r\nRemoteBTMAC=" + std::string(300, 'A') + "\r\n"));
    std::vector<int> expected;
    for (int i = 1; i <= kGlobalCodeListSlots - 1; ++i) expected.push_back(100 + i);
    EXPECT_EQ(codes(settings.prefix, kGlobalCodeListSlots), expected);
    EXPECT_EQ(settings.prefix[kGlobalCodeListSlots - 1], 0);
    EXPECT_EQ(codes(settings.Suffix, kGlobalCodeListSlots), (std::vector<int>{1234, 65}));
    EXPECT_EQ(std::string(settings.OutputFormat), std::string(55, 'q'));
    // The cut address is tried and its failure reported.
    EXPECT_TRUE(traceHas("Failed to create BT Comport"));
}

TEST_F(SettingsTest, Encodings) {
    const std::string body =
        "EnableScanner=0\r\nEnableSequenceEditor=1\r\n[Barcode1]\r\nBarcodeSym=2\r\nStartWith=\xc3\xa9Z\r\n";
    auto utf16 = [](const std::string& utf8, bool bigEndian) {
        std::u16string wide;
        for (size_t i = 0; i < utf8.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(utf8[i]);
            if (c == 0xc3) {
                wide += static_cast<char16_t>(0xc0 | (static_cast<unsigned char>(utf8[++i]) & 0x3f));
            } else {
                wide += static_cast<char16_t>(c);
            }
        }
        std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
        for (char16_t w : wide) {
            char hi = static_cast<char>(w >> 8), lo = static_cast<char>(w & 0xff);
            bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return bytes;
    };
    std::string ansi = body;
    ansi.replace(ansi.find("\xc3\xa9"), 2, "\xe9");
    const std::pair<const char*, std::string> files[] = {{"utf-8", body},
                                                         {"utf-8 bom", "\xef\xbb\xbf" + body},
                                                         {"utf-16le", utf16(body, false)},
                                                         {"utf-16be", utf16(body, true)},
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
