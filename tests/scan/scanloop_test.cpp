// Whole presses of the scan key on the host terminal (what is typed, traced,
// lit and heard) and the light calls beneath them.
#include <gtest/gtest.h>

#include "output/scandata.h"
#include "scan/decoder.h"
#include "scan/feedback.h"
#include "scan/scanloop.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"
#include "shell/constants.h"

namespace {

using namespace scanloop;  // the scan terminal of tests/support/scanloop_support.h

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
    std::vector<std::pair<unsigned, int>> leds;
    for (const terminal::LedRecord& r : terminal::ledChanges()) leds.emplace_back(r.led, r.state);
    EXPECT_EQ((std::vector<std::pair<unsigned, int>>{{0, 1}, {0, 0}, {1, 1}, {1, 0}}), leds);
    EXPECT_FALSE(terminal::aimerOn());
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

// ScanDelaySetting 3: A, B and C fill the history, D pushes the oldest out
// (D, A, B remain), so A, B and a letter-case variant of A are duplicates
// while C is new. A full history of ten once dropped the wrong entry: the new
// code enters first and only the last entry gives way.
struct HistoryCase {
    int history;
    std::vector<std::string> fill, duplicates;
    std::string fresh;
};
class DuplicateHistoryTest : public ScanTerminal, public ::testing::WithParamInterface<HistoryCase> {};

INSTANTIATE_TEST_SUITE_P(Sizes, DuplicateHistoryTest,
                         ::testing::Values(HistoryCase{3, {"AX1", "BX2", "CX3", "DX4"}, {"AX1", "BX2", "ax1"}, "CX3"},
                                           HistoryCase{
                                               10,
                                               {"C0", "C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8", "C9", "C10"},
                                               {"C5", "C8", "C0"},
                                               "C9"}));

TEST_P(DuplicateHistoryTest, KeepsTheNewestEntries) {
    const HistoryCase& c = GetParam();
    settings.ContinuousScan = 1;
    settings.ScanDelayMode = ScanDelaySkipRecent;
    settings.ScanDelaySetting = c.history;
    settings.EnableLEDs = 0;
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    startHeldPress();
    std::string expected;
    auto show = [](const std::string& code) {
        terminal::clearView();
        terminal::putInView(barcode(code));
    };
    for (const std::string& code : c.fill) {
        show(code);
        expected += code + "\n";
        ASSERT_TRUE(wedge::waitFor([&] { return typedIs(expected); })) << typed();
    }
    for (const std::string& duplicate : c.duplicates) {
        show(duplicate);
        int seen = countOf(traceLines(), "Barcode Scanned");
        // Scanning goes on over the duplicate without delivering it.
        ASSERT_TRUE(wedge::waitFor([&] { return countOf(traceLines(), "Barcode Scanned") >= seen + 5; }));
    }
    show(c.fresh);
    expected += c.fresh + "\n";
    ASSERT_TRUE(wedge::waitFor([&] { return typedIs(expected); })) << typed();
    terminal::clearView();
    releaseAndJoin();
    EXPECT_EQ(expected, typed());
}

// A release while a duplicate was in view once delivered it.
TEST_F(ScanPressTest, ReleasingOnADuplicateDeliversNothing) {
    settings.ScanDelayMode = ScanDelaySkipRecent;
    settings.ScanDelaySetting = 5;
    terminal::putInView(barcode("SAME"));
    ASSERT_TRUE(press([] { return typedIs("SAME"); }));
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return countOf(traceLines(), "Barcode Scanned") >= 6; }));
    releaseAndJoin();
    EXPECT_EQ("SAME", typed());
    EXPECT_EQ("resource:4", soundNames().back());
}

TEST_F(ScanPressTest, AimerModeTwoWithoutASecondPressGivesUp) {
    settings.AmierMode = AimerUntilTrigger;
    settings.AimerTimeOut = 30;  // stored multiplied by ten: 31 steps of 10 ms
    terminal::putInView(barcode("NEVER"));
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return terminal::aimerOn(); }));
    terminal::releaseKey(kScanKey);
    loop.join();
    EXPECT_FALSE(terminal::aimerOn());
    EXPECT_TRUE(soundNames().empty());
    EXPECT_EQ("", typed());
    EXPECT_TRUE(terminal::ledChanges().empty());
    EXPECT_EQ((std::vector<std::string>{"Start Scan", "Amier On"}), traceOf(kLoopLines));
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

// A light request the terminal already shows makes no platform call; each
// light has its own cache entry.
TEST_F(ScanPressTest, RepeatedLightRequestsMakeOnePlatformCall) {
    int model = kFallbackDeviceModel + 1;
    for (int state : {1, 1, 0, 0}) setLogicalLed(LedGoodRead, state, model);
    EXPECT_EQ(2, terminal::ledCalls());
    EXPECT_EQ(0, terminal::ledState(1));
    setLogicalLed(LedScanning, 1, model);
    EXPECT_EQ(3, terminal::ledCalls());
    EXPECT_EQ(1, terminal::ledState(0));
}

TEST_F(ScanPressTest, RefusedLightChangeIsTriedTwentyOneTimesAndStillCached) {
    int model = kFallbackDeviceModel + 1;
    terminal::refuseLedCalls(1000);
    setLogicalLed(LedScanning, 1, model);
    setLogicalLed(LedScanning, 1, model);  // the cache holds the request: no call
    EXPECT_EQ(21, terminal::ledCalls());
    EXPECT_EQ(0, terminal::ledState(0));
    // A platform that accepts the third call stops the retries there.
    terminal::refuseLedCalls(2);
    setLogicalLed(LedGoodRead, 1, model);
    EXPECT_EQ(24, terminal::ledCalls());
    EXPECT_EQ(1, terminal::ledState(1));
}

TEST_F(ScanPressTest, FallbackModelRotatesTheLedNumbers) {
    for (int led : {LedScanning, LedGoodRead, LedVibrator}) setLogicalLed(led, 1, kFallbackDeviceModel);
    resetLedCache();
    for (int led : {LedScanning, LedVibrator}) setLogicalLed(led, 1, kFallbackDeviceModel + 1);
    std::vector<unsigned> leds;
    for (const terminal::LedRecord& r : terminal::ledChanges()) leds.push_back(r.led);
    EXPECT_EQ((std::vector<unsigned>{1, 2, 0, 0, 2}), leds);
}

}  // namespace
