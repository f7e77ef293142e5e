// Whole presses of the scan key on the host terminal: what is typed, sent,
// traced, lit and heard.
#include <gtest/gtest.h>

#include "output/scandata.h"
#include "scan/decoder.h"
#include "scan/scanloop.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

using scanloop::barcode;
using scanloop::countOf;
using scanloop::ScanTerminal;
using scanloop::setCodes;
using scanloop::setRule;
using scanloop::soundNames;
using scanloop::traceLines;
using scanloop::traceOf;
using scanloop::typed;

const std::vector<std::string> kLoopLines = {"Start Scan",          "Amier On",      "Amier Off",
                                             "Normal Scan",         "Muliti Decode", "Muliti Decode UNSUPPORTED",
                                             "Muliti Decode Backup"};

bool typedIs(const std::string& text) {
    return typed() == text;
}

class ScanPressTest : public ScanTerminal {};

TEST_F(ScanPressTest, GoodReadTypesTheBarcodeWithPrefixAndSuffixAndLightsUp) {
    setCodes(settings.prefix, kGlobalCodeListSlots, {'[', '('});
    setCodes(settings.Suffix, kGlobalCodeListSlots, {')', 13});
    terminal::putInView(barcode("12345"));
    ASSERT_TRUE(press([] { return typedIs("[(12345)\n"); })) << typed();

    EXPECT_EQ((std::vector<std::string>{"resource:129"}), soundNames());
    EXPECT_EQ((std::vector<std::string>{"Start Scan", "Amier Off", "Normal Scan"}), traceOf(kLoopLines));
    // Scanning light on and off around the decode, then the good-read light
    // until the key is released.
    std::vector<terminal::LedRecord> leds = terminal::ledChanges();
    ASSERT_EQ(4u, leds.size());
    EXPECT_EQ(0u, leds[0].led);
    EXPECT_EQ(1, leds[0].state);
    EXPECT_EQ(0u, leds[1].led);
    EXPECT_EQ(0, leds[1].state);
    EXPECT_EQ(1u, leds[2].led);
    EXPECT_EQ(1, leds[2].state);
    EXPECT_EQ(1u, leds[3].led);
    EXPECT_EQ(0, leds[3].state);
    EXPECT_FALSE(terminal::aimerOn());
}

TEST_F(ScanPressTest, NothingInViewIsABadReadThatClearsTheSlots) {
    resultSlots[4].used = 1;
    // The decode times out while the key is held.
    ASSERT_TRUE(pressUntilSound());
    EXPECT_EQ((std::vector<std::string>{"resource:4"}), soundNames());
    EXPECT_EQ("", typed());
    EXPECT_EQ(0, resultSlots[4].used);
    EXPECT_EQ(0, terminal::ledState(1));
    for (const terminal::LedRecord& r : terminal::ledChanges()) EXPECT_NE(1u, r.led);
}

TEST_F(ScanPressTest, WithNoOutputSetAGoodReadStillBeepsLightsAndVibrates) {
    settings.SendToForegroundApp = 0;
    settings.SendData.store(0);
    settings.VirbrateOnSuccessfulScan = 1;
    settings.VirbrateOnSuccessfulScanTime = 100;
    terminal::putInView(barcode("777"));
    ASSERT_TRUE(pressUntilSound());
    // The vibrate pulse ends on its own thread.
    ASSERT_TRUE(wedge::waitFor([] {
        int on = 0, off = 0;
        for (const terminal::LedRecord& r : terminal::ledChanges())
            if (r.led == 2) (r.state ? on : off)++;
        return on == 1 && off == 1;
    }));
    EXPECT_EQ("", typed());
    EXPECT_EQ((std::vector<std::string>{"resource:129"}), soundNames());
    bool goodReadLit = false;
    for (const terminal::LedRecord& r : terminal::ledChanges()) goodReadLit = goodReadLit || (r.led == 1 && r.state);
    EXPECT_TRUE(goodReadLit);
}

TEST_F(ScanPressTest, VibrateWithoutLightsTouchesOnlyTheVibrator) {
    settings.EnableLEDs = 0;
    settings.VirbrateOnSuccessfulScan = 1;
    terminal::putInView(barcode("42"));
    ASSERT_TRUE(press([] { return typedIs("42"); }));
    ASSERT_TRUE(wedge::waitFor([] { return terminal::ledChanges().size() == 2; }));
    for (const terminal::LedRecord& r : terminal::ledChanges()) EXPECT_EQ(2u, r.led);
}

TEST_F(ScanPressTest, SerialPeerReceivesTheBareBarcode) {
    ASSERT_TRUE(openSerialPeer(3));
    settings.SendToForegroundApp = 0;
    setCodes(settings.prefix, kGlobalCodeListSlots, {'P'});
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    terminal::putInView(barcode("ABC-987"));
    ASSERT_TRUE(pressUntilSound());
    EXPECT_EQ("ABC-987", serialBytes(7));
    EXPECT_EQ("", typed());
}

TEST_F(ScanPressTest, AdvancedPrefixesComeFromTheFirstSixRulesByLetter) {
    settings.EnableADVSuffixPrefix = 1;
    settings.PrefixWait = 500;
    setCodes(settings.prefix, kGlobalCodeListSlots, {'G'});
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    setRule(0, 2, 'b', u"", 0, {'B', ':'}, {'.', 13});
    setRule(0, 6, 'c', u"", 0, {'C'}, {13});  // beyond the six rules: not used here
    terminal::putInView(barcode("111", 'b'));
    ASSERT_TRUE(press([] { return typedIs("B:111.\n"); })) << typed();
    terminal::clearView();
    terminal::putInView(barcode("222", 'c'));
    ASSERT_TRUE(press([] { return typedIs("B:111.\nG222\n"); })) << typed();
}

TEST_F(ScanPressTest, ContinuousScanWithDelayPacesTheReads) {
    settings.ContinuousScan = 1;
    settings.ScanDelayMode = 1;
    settings.ScanDelaySetting = 5;
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    terminal::putInView(barcode("9"));
    ASSERT_TRUE(press([] { return terminal::sounds().size() >= 3; }));
    EXPECT_EQ(0u, typed().find("9\n9\n9\n"));
    // Between the lights going off at the end of one pass and the scanning
    // light of the next lie the 20 ms pass pause and the 500 ms delay.
    std::vector<terminal::LedRecord> leds = terminal::ledChanges();
    std::vector<uint64_t> passEnds, passStarts;
    for (size_t i = 0; i < leds.size(); ++i) {
        if (leds[i].led == 1 && leds[i].state == 0) passEnds.push_back(leds[i].time);
        if (leds[i].led == 0 && leds[i].state == 1 && i > 0) passStarts.push_back(leds[i].time);
    }
    ASSERT_GE(passStarts.size(), 2u);
    ASSERT_GE(passEnds.size(), passStarts.size());
    for (size_t k = 0; k < passStarts.size(); ++k) EXPECT_GE(passStarts[k] - passEnds[k], 520u);
}

TEST_F(ScanPressTest, ContinuousScanWithDelayReadsFirstAtOnce) {
    terminal::setClockSpeed(50);
    settings.ContinuousScan = 1;
    settings.ScanDelayMode = 1;
    settings.ScanDelaySetting = 400;  // 40 s between reads
    terminal::putInView(barcode("8"));
    DWORD start = GetTickCount();
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return !terminal::sounds().empty(); }));
    EXPECT_LT(terminal::sounds()[0].time - start, 20000u);
    // Ten seconds on the terminal later the second read is still to come.
    DWORD now = GetTickCount();
    ASSERT_TRUE(wedge::waitFor([now] { return GetTickCount() - now >= 10000; }));
    EXPECT_EQ(1u, terminal::sounds().size());
    releaseAndJoin();
    EXPECT_EQ("8", typed());
}

// History of three: A, B and C fill it, D pushes the oldest out (D, A, B
// remain), so A, B and a letter-case variant of A are duplicates while C is new.
TEST_F(ScanPressTest, DuplicateHistoryOfThreeAcrossACode_ABCD) {
    settings.ContinuousScan = 1;
    settings.ScanDelayMode = 2;
    settings.ScanDelaySetting = 3;
    settings.EnableLEDs = 0;
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    startHeldPress();
    std::string expected;
    auto show = [](const std::string& code) {
        terminal::clearView();
        terminal::putInView(barcode(code));
    };
    for (const char* code : {"AX1", "BX2", "CX3", "DX4"}) {
        show(code);
        expected += std::string(code) + "\n";
        ASSERT_TRUE(wedge::waitFor([&] { return typedIs(expected); })) << typed();
    }
    for (const char* duplicate : {"AX1", "BX2", "ax1"}) {
        show(duplicate);
        int seen = countOf(traceLines(), "Barcode Scanned");
        // Scanning goes on over the duplicate without delivering it.
        ASSERT_TRUE(wedge::waitFor([&] { return countOf(traceLines(), "Barcode Scanned") >= seen + 5; }));
    }
    show("CX3");
    expected += "CX3\n";
    ASSERT_TRUE(wedge::waitFor([&] { return typedIs(expected); })) << typed();
    terminal::clearView();
    releaseAndJoin();
    EXPECT_EQ(expected, typed());
}

// A full history of ten: the new code enters first and the last entry gives
// way, so every entry but the last stays a duplicate.
TEST_F(ScanPressTest, FullHistoryOfTenDropsOnlyItsLastEntry) {
    settings.ContinuousScan = 1;
    settings.ScanDelayMode = 2;
    settings.ScanDelaySetting = 10;
    settings.EnableLEDs = 0;
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    startHeldPress();
    std::string expected;
    auto show = [](const std::string& code) {
        terminal::clearView();
        terminal::putInView(barcode(code));
    };
    for (int i = 0; i <= 10; ++i) {
        std::string code = "C" + std::to_string(i);
        show(code);
        expected += code + "\n";
        ASSERT_TRUE(wedge::waitFor([&] { return typedIs(expected); })) << typed();
    }
    for (const char* duplicate : {"C5", "C8", "C0"}) {
        show(duplicate);
        int seen = countOf(traceLines(), "Barcode Scanned");
        ASSERT_TRUE(wedge::waitFor([&] { return countOf(traceLines(), "Barcode Scanned") >= seen + 5; }));
    }
    show("C9");
    expected += "C9\n";
    ASSERT_TRUE(wedge::waitFor([&] { return typedIs(expected); })) << typed();
    terminal::clearView();
    releaseAndJoin();
    EXPECT_EQ(expected, typed());
}

TEST_F(ScanPressTest, ReleasingOnADuplicateDeliversNothing) {
    settings.ScanDelayMode = 2;
    settings.ScanDelaySetting = 5;
    terminal::putInView(barcode("SAME"));
    ASSERT_TRUE(press([] { return typedIs("SAME"); }));
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return countOf(traceLines(), "Barcode Scanned") >= 6; }));
    releaseAndJoin();
    EXPECT_EQ("SAME", typed());
    EXPECT_EQ("resource:4", soundNames().back());
}

TEST_F(ScanPressTest, HistoryIsClearedAtEachPressInModeThree) {
    settings.ScanDelayMode = 3;
    settings.ScanDelaySetting = 5;
    terminal::putInView(barcode("R1"));
    ASSERT_TRUE(press([] { return typedIs("R1"); }));
    ASSERT_TRUE(press([] { return typedIs("R1R1"); }));
}

TEST_F(ScanPressTest, TimedAimerShinesBeforeTheDecode) {
    settings.AmierMode = 1;
    settings.AimerTimeOut = 20;
    terminal::putInView(barcode("AIM"));
    DWORD start = GetTickCount();
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return terminal::aimerOn(); }));
    ASSERT_TRUE(wedge::waitFor([] { return typedIs("AIM"); }));
    releaseAndJoin();
    ASSERT_FALSE(soundNames().empty());
    EXPECT_GE(terminal::sounds()[0].time - start, 2100u);
    EXPECT_FALSE(terminal::aimerOn());
    EXPECT_EQ((std::vector<std::string>{"Start Scan", "Amier On", "Amier Off", "Normal Scan"}), traceOf(kLoopLines));
}

TEST_F(ScanPressTest, AimerModeTwoWithoutASecondPressGivesUp) {
    settings.AmierMode = 2;
    settings.AimerTimeOut = 30;  // stored multiplied by ten: 31 steps of 10 ms
    terminal::putInView(barcode("NEVER"));
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return terminal::aimerOn(); }));
    terminal::releaseKey(42);
    loop.join();
    EXPECT_FALSE(terminal::aimerOn());
    EXPECT_TRUE(soundNames().empty());
    EXPECT_EQ("", typed());
    EXPECT_TRUE(terminal::ledChanges().empty());
    EXPECT_EQ((std::vector<std::string>{"Start Scan", "Amier On"}), traceOf(kLoopLines));
}

TEST_F(ScanPressTest, AimerModeTwoDecodesOnTheSecondPress) {
    settings.AmierMode = 2;
    settings.AimerTimeOut = 2000;
    terminal::putInView(barcode("SECOND"));
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return terminal::aimerOn(); }));
    terminal::releaseKey(42);
    // Aiming goes on after the release; nothing is decoded yet.
    ASSERT_TRUE(wedge::waitFor([] { return countOf(traceLines(), "Amier On") == 1; }));
    EXPECT_EQ("", typed());
    terminal::pressKey(42);
    ASSERT_TRUE(wedge::waitFor([] { return typedIs("SECOND"); }));
    releaseAndJoin();
    EXPECT_EQ((std::vector<std::string>{"Start Scan", "Amier On", "Amier Off", "Normal Scan"}), traceOf(kLoopLines));
}

TEST_F(ScanPressTest, PairingBarcodeThenANonAddressIsRefused) {
    terminal::putInView(barcode(std::string("\x02M\x03", 3)));
    ASSERT_TRUE(press([] { return terminal::sounds().size() >= 2; }));
    EXPECT_EQ(1, awaitingAddress);
    EXPECT_EQ((std::vector<std::string>{"resource:129", "resource:129"}), soundNames());
    terminal::clearView();
    terminal::putInView(barcode("0123456789A"));  // eleven characters
    ASSERT_TRUE(press([] { return terminal::sounds().size() >= 4; }));
    EXPECT_EQ(0, awaitingAddress);
    EXPECT_EQ("resource:4", soundNames().back());
    EXPECT_EQ("", typed());
    // Scanning is back to normal afterwards.
    ASSERT_TRUE(press([] { return typedIs("0123456789A"); }));
}

TEST_F(ScanPressTest, ScannedAddressSwitchesSerialOutputOn) {
    settings.SendData.store(0);
    awaitingAddress = 1;
    terminal::putInView(barcode("<0011223344AA."));
    ASSERT_TRUE(press([] { return terminal::sounds().size() >= 3; }));
    std::vector<std::string> s = soundNames();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{"resource:129", "resource:129", "resource:129"}),
              std::vector<std::string>(s.begin(), s.begin() + 3));
    EXPECT_EQ(1, settings.SendData.load());
    EXPECT_EQ(1, awaitingAddress);
    EXPECT_EQ("", typed());
}

TEST_F(ScanPressTest, PresentationModeScansWithoutTheKey) {
    settings.PresentationMode.store(1);
    settings.ContinuousScan = 1;
    settings.ScanDelayMode = 2;
    settings.ScanDelaySetting = 10;
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    loop = std::thread([] { scanTriggerLoop(nullptr); });
    terminal::putInView(barcode("P1"));
    ASSERT_TRUE(wedge::waitFor([] { return typedIs("P1\n"); }));
    terminal::clearView();
    terminal::putInView(barcode("P2"));
    ASSERT_TRUE(wedge::waitFor([] { return typedIs("P1\nP2\n"); }));
    settings.PresentationMode.store(0);
    loop.join();
    EXPECT_EQ("P1\nP2\n", typed());
}

}  // namespace
