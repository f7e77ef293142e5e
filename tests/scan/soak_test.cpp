// A long run of presses with random barcodes and scanning styles: every
// barcode is typed exactly once and in order.
#include <gtest/gtest.h>

#include <random>

#include "scan/scanloop.h"
#include "settings/settings.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

using scanloop::barcode;
using scanloop::ScanTerminal;
using scanloop::setCodes;
using scanloop::typed;

class ScanSoakTest : public ScanTerminal {};

TEST_F(ScanSoakTest, ThousandPressesDeliverEachBarcodeOnceInOrder) {
    // The presses run at a fast terminal clock: what is checked is the order
    // and count of deliveries, never real time.
    terminal::setClockSpeed(250);
    std::mt19937 random(20261206);
    auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    settings.VirbrateOnSuccessfulScanTime = 20;

    std::string expected;
    int goodReads = 0;
    for (int i = 0; i < 1000; ++i) {
        SCOPED_TRACE(i);
        settings.EnableLEDs = static_cast<BYTE>(pick(0, 1));
        settings.VirbrateOnSuccessfulScan = static_cast<BYTE>(pick(0, 3) == 0);
        settings.AmierMode = pick(0, 3) == 0 ? AimerTimed : AimerOff;
        settings.AimerTimeOut = pick(0, 2);
        settings.EnableADVSuffixPrefix = static_cast<BYTE>(pick(0, 1));
        settings.EnableSequenceEditor = pick(0, 3) == 0 ? 2 : 0;
        if (settings.EnableSequenceEditor == 0) {
            const ScanDelay styles[] = {ScanDelayOff, ScanDelaySkipRecent, ScanDelaySkipInPress};
            settings.ScanDelayMode = styles[pick(0, 2)];
            settings.ScanDelaySetting = pick(0, 10);
            // Continuous scanning repeats reads: only with duplicate
            // suppression (a history of at least one entry).
            settings.ContinuousScan =
                static_cast<BYTE>(settings.ScanDelayMode != ScanDelayOff && settings.ScanDelaySetting > 0 && pick(0, 1));
        } else {
            // The duplicate history of the other styles lives in the result
            // slots; a program set up for scan sync starts without one.
            for (ResultSlot& slot : resultSlots) slot.used = 0;
            settings.ScanDelayMode = ScanDelayOff;
            settings.ContinuousScan = 0;
            terminal::setConfig("multidecode", pick(0, 1) ? "1" : "0");
        }

        std::string code = std::to_string(i) + "-";
        for (int n = pick(1, 20); n > 0; --n) code += alphabet[static_cast<size_t>(pick(0, 35))];
        expected += code + "\n";
        terminal::putInView(barcode(code, static_cast<char>('a' + pick(0, 25)), pick(130, 350)));
        SCOPED_TRACE(code + " leds " + std::to_string(settings.EnableLEDs) + " aimer " +
                     std::to_string(settings.AmierMode) + " sync " + std::to_string(settings.EnableSequenceEditor) +
                     " delay " + std::to_string(settings.ScanDelayMode) + "/" +
                     std::to_string(settings.ScanDelaySetting) + " continuous " +
                     std::to_string(settings.ContinuousScan));
        size_t before = terminal::sounds().size();
        ASSERT_TRUE(press([&] { return typed().size() >= expected.size(); })) << typed();
        terminal::clearView();
        ASSERT_EQ(expected, typed());
        bool beeped = false;
        std::vector<terminal::SoundRecord> sounds = terminal::sounds();
        for (size_t s = before; s < sounds.size(); ++s) beeped = beeped || sounds[s].sound == "resource:129";
        goodReads += beeped ? 1 : 0;
    }
    EXPECT_EQ(1000, goodReads);
}

}  // namespace
