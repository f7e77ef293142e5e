// The lights, the vibrate pulse and the sounds as the terminal shows them.
#include <gtest/gtest.h>

#include "scan/feedback.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "shell/app.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

using scanloop::ScanTerminal;

class FeedbackTest : public ScanTerminal {};

TEST_F(FeedbackTest, RepeatedRequestsMakeOnePlatformCall) {
    int model = kFallbackDeviceModel + 1;
    setLogicalLed(LedGoodRead, 1, model);
    setLogicalLed(LedGoodRead, 1, model);
    EXPECT_EQ(1, terminal::ledCalls());
    EXPECT_EQ(1, terminal::ledState(1));
    setLogicalLed(LedGoodRead, 0, model);
    setLogicalLed(LedGoodRead, 0, model);
    EXPECT_EQ(2, terminal::ledCalls());
    EXPECT_EQ(0, terminal::ledState(1));
    // Each light has its own cache entry.
    setLogicalLed(LedScanning, 1, model);
    EXPECT_EQ(3, terminal::ledCalls());
    EXPECT_EQ(1, terminal::ledState(0));
}

TEST_F(FeedbackTest, RefusedChangeIsTriedTwentyOneTimesAndStillCached) {
    int model = kFallbackDeviceModel + 1;
    terminal::refuseLedCalls(1000);
    setLogicalLed(LedScanning, 1, model);
    EXPECT_EQ(21, terminal::ledCalls());
    EXPECT_EQ(0, terminal::ledState(0));
    // The cache holds the request: asking again makes no call.
    setLogicalLed(LedScanning, 1, model);
    EXPECT_EQ(21, terminal::ledCalls());

    // A platform that accepts the third call stops the retries there.
    terminal::refuseLedCalls(2);
    setLogicalLed(LedGoodRead, 1, model);
    EXPECT_EQ(24, terminal::ledCalls());
    EXPECT_EQ(1, terminal::ledState(1));
}

TEST_F(FeedbackTest, FallbackModelRotatesTheLedNumbers) {
    setLogicalLed(LedScanning, 1, kFallbackDeviceModel);
    setLogicalLed(LedGoodRead, 1, kFallbackDeviceModel);
    setLogicalLed(LedVibrator, 1, kFallbackDeviceModel);
    std::vector<terminal::LedRecord> changes = terminal::ledChanges();
    ASSERT_EQ(3u, changes.size());
    EXPECT_EQ(1u, changes[0].led);
    EXPECT_EQ(2u, changes[1].led);
    EXPECT_EQ(0u, changes[2].led);

    resetLedCache();
    int other = kFallbackDeviceModel + 1;
    setLogicalLed(LedScanning, 0 + 1, other);
    setLogicalLed(LedVibrator, 1, other);
    changes = terminal::ledChanges();
    ASSERT_EQ(5u, changes.size());
    EXPECT_EQ(0u, changes[3].led);
    EXPECT_EQ(2u, changes[4].led);
}

TEST_F(FeedbackTest, VibratePulseSwitchesTheVibratorForItsTime) {
    deviceModel.store(kFallbackDeviceModel);
    settings.VirbrateOnSuccessfulScanTime = 400;
    vibratePulseThread(nullptr);
    std::vector<terminal::LedRecord> changes = terminal::ledChanges();
    ASSERT_EQ(2u, changes.size());
    EXPECT_EQ(0u, changes[0].led);  // the vibrator on the fallback model
    EXPECT_EQ(1, changes[0].state);
    EXPECT_EQ(0, changes[1].state);
    EXPECT_GE(changes[1].time - changes[0].time, 400u);
}

TEST_F(FeedbackTest, SoundsArePlayedFromResourcesAndFiles) {
    playSoundResource(129);
    playSoundResource(4);
    PlaySoundW(TEXT("\\Sounds\\ok.wav"), nullptr, SND_FILENAME | SND_ASYNC);
    EXPECT_EQ((std::vector<std::string>{"resource:129", "resource:4", "file:\\Sounds\\ok.wav"}),
              scanloop::soundNames());
}

}  // namespace
