// Scan sync: sets of barcodes collected in one press and released in rule
// order, natively and through the moving decode window.
#include <gtest/gtest.h>

#include <cstring>

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

bool typedIs(const std::string& text) {
    return typed() == text;
}

class ScanSyncTest : public ScanTerminal {
protected:
    void SetUp() override {
        ScanTerminal::SetUp();
        settings.EnableSequenceEditor = 1;
        setCodes(settings.prefix, kGlobalCodeListSlots, {'G'});
        setCodes(settings.Suffix, kGlobalCodeListSlots, {13});
    }
    bool noSlotUsed() {
        for (const ResultSlot& slot : resultSlots)
            if (slot.used) return false;
        return true;
    }
};

TEST_F(ScanSyncTest, SetIsReleasedInRuleOrderWithEachRulesDecoration) {
    setRule(0, 0, 'j', u"", 0, {'J', ':'}, {13});
    setRule(0, 1, 'd', u"", 0, {'D', ':'}, {'!', 13});
    terminal::putInView(barcode("DDD4", 'd'));
    terminal::putInView(barcode("JJJ7", 'j'));
    ASSERT_TRUE(press([] { return typedIs("J:JJJ7\nD:DDD4!\n"); })) << typed();
    EXPECT_EQ((std::vector<std::string>{"Muliti Decode"}),
              traceOf({"Muliti Decode", "Muliti Decode UNSUPPORTED", "Muliti Decode Backup", "Normal Scan"}));
    EXPECT_EQ("resource:129", soundNames().front());
    EXPECT_TRUE(noSlotUsed());
}

TEST_F(ScanSyncTest, BarcodeOfTwoGroupsWaitsForOneThatChooses) {
    setRule(0, 0, 'a', u"", 0, {'0'}, {13});
    setRule(0, 1, 'b', u"", 0, {'0'}, {13});
    setRule(1, 0, 'c', u"", 0, {'1', 'c'}, {13});
    setRule(1, 1, 'a', u"", 0, {'1', 'a'}, {13});
    terminal::putInView(barcode("AAA", 'a'));
    terminal::putInView(barcode("CCC", 'c'));
    ASSERT_TRUE(press([] { return typedIs("1cCCC\n1aAAA\n"); })) << typed();
    EXPECT_EQ(1, selectedSyncGroup);
}

TEST_F(ScanSyncTest, ModeTwoDeliversALoneBarcodeNoRuleTakes) {
    settings.EnableSequenceEditor = 2;
    setRule(0, 0, 'a', u"", 0, {'A'}, {13});
    setRule(0, 1, 'b', u"", 0, {'B'}, {13});
    terminal::putInView(barcode("ZZZ", 'z'));
    ASSERT_TRUE(press([] { return typedIs("GZZZ\n"); })) << typed();
    EXPECT_TRUE(noSlotUsed());
}

TEST_F(ScanSyncTest, ModeTwoStrayBarcodeCancelsTheSet) {
    settings.EnableSequenceEditor = 2;
    settings.CancelOnNoneSeqScan = 0;  // the file said "1"
    setRule(0, 0, 'a', u"", 0, {'A'}, {13});
    setRule(0, 1, 'b', u"", 0, {'B'}, {13});
    terminal::putInView(barcode("AAA", 'a'));
    terminal::putInView(barcode("ZZZ", 'z'));
    ASSERT_TRUE(pressUntilSound());
    EXPECT_EQ((std::vector<std::string>{"resource:4"}), soundNames());
    EXPECT_EQ("", typed());
    EXPECT_TRUE(noSlotUsed());
}

TEST_F(ScanSyncTest, ModeTwoStrayBarcodeIsIgnoredWithoutCancel) {
    settings.EnableSequenceEditor = 2;
    settings.CancelOnNoneSeqScan = 1;
    setRule(0, 0, 'a', u"", 0, {'A'}, {13});
    setRule(0, 1, 'b', u"", 0, {'B'}, {13});
    terminal::putInView(barcode("AAA", 'a'));
    terminal::putInView(barcode("ZZZ", 'z'));
    terminal::putInView(barcode("BBB", 'b'));
    ASSERT_TRUE(press([] { return typedIs("AAAA\nBBBB\n"); })) << typed();
}

TEST_F(ScanSyncTest, StartTextCaseCountsButDuplicatesIgnoreCase) {
    setRule(0, 0, 'a', u"K", 0, {'1'}, {13});
    setRule(0, 1, 'b', u"", 4, {'2'}, {13});
    terminal::putInView(barcode("kx00", 'a'));  // start text in the wrong case: no rule takes it
    terminal::putInView(barcode("Kx12", 'a'));
    terminal::putInView(barcode("KX12", 'a'));  // the same text in other letters: collected once
    terminal::putInView(barcode("B22", 'b'));   // wrong length
    terminal::putInView(barcode("B234", 'b'));
    ASSERT_TRUE(press([] { return typedIs("1Kx12\n2B234\n"); })) << typed();
    EXPECT_GE(countOf(traceLines(), "Barcode do not match"), 1);
    EXPECT_GE(countOf(traceLines(), "Barcode Match"), 1);
}

TEST_F(ScanSyncTest, UnsupportedEngineFallsBackToTheMovingWindowForGood) {
    terminal::setConfig("multidecode", "0");
    setRule(0, 0, 'j', u"", 0, {'J'}, {13});
    setRule(0, 1, 'd', u"", 0, {'D'}, {13});
    // Neither barcode lies in the middle band where the window starts.
    terminal::putInView(barcode("upper", 'd', 40));
    terminal::putInView(barcode("lower", 'j', 420));
    const std::vector<std::string> lines = {"Muliti Decode", "Muliti Decode UNSUPPORTED", "Muliti Decode Backup"};
    ASSERT_TRUE(press([] { return typedIs("Jlower\nDupper\n"); })) << typed();
    EXPECT_EQ(lines, traceOf(lines));
    EXPECT_EQ(0, settings.multiDecode.load());
    EXPECT_EQ(150u, decodeTimeout);

    ASSERT_TRUE(press([] { return typedIs("Jlower\nDupper\nJlower\nDupper\n"); })) << typed();
    std::vector<std::string> expected = lines;
    expected.push_back("Muliti Decode Backup");
    EXPECT_EQ(expected, traceOf(lines));
}

TEST_F(ScanSyncTest, ReleasingAnIncompleteSetIsABadRead) {
    setRule(0, 0, 'a', u"", 0, {'A'}, {13});
    setRule(0, 1, 'b', u"", 0, {'B'}, {13});
    terminal::putInView(barcode("AAA", 'a'));
    startHeldPress();
    ASSERT_TRUE(wedge::waitFor([] { return countOf(traceLines(), "Barcode Scanned") >= 1; }));
    releaseAndJoin();
    EXPECT_EQ((std::vector<std::string>{"resource:4"}), soundNames());
    EXPECT_EQ("", typed());
    EXPECT_TRUE(noSlotUsed());
}

TEST_F(ScanSyncTest, RuleBeepPlaysItsSoundFileAsTheBarcodeIsCollected) {
    setRule(0, 0, 'a', u"", 0, {}, {13});
    ruleTable[0][0].beep = 1;
    const char16_t sound[] = u"\\Sounds\\part.wav";
    std::memcpy(ruleTable[0][0].customSound, sound, sizeof sound);
    terminal::putInView(barcode("ONE", 'a'));
    ASSERT_TRUE(press([] { return typedIs("ONE\n"); }));
    EXPECT_EQ((std::vector<std::string>{"file:\\Sounds\\part.wav", "resource:129"}), soundNames());
}

// The handler on its own, fed as the decoder feeds it.
class ScanDataTest : public ScanSyncTest {};

TEST_F(ScanDataTest, ResultsAreBoundedByTheirLengthNotByAZeroByte) {
    setRule(0, 0, 'a', u"ABCD", 0);
    setRule(1, 0, 'a', u"ABC", 3);
    const char bytes[6] = {'A', 'B', 'C', 'D', 'E', 'F'};  // no zero byte
    DecodeResult r{};
    r.data = bytes;
    r.symbologyLetter = 'a';
    r.length = 3;
    EXPECT_EQ(0, onBarcodeScanned(&r));  // group 1 alone takes it, and it is complete
    EXPECT_EQ(1, selectedSyncGroup);
    EXPECT_EQ(1, resultsCollected);
    ASSERT_EQ(1, resultSlots[0].used);
    EXPECT_EQ(std::u16string(u"ABC"), std::u16string(resultSlots[0].text));
    EXPECT_EQ(3, resultSlots[0].length);
    EXPECT_EQ('a', resultSlots[0].symbologyLetter);

    EXPECT_FALSE(startsWithText(bytes, 2, TEXT("ABC")));
    EXPECT_TRUE(startsWithText(bytes, 6, TEXT("ABCDEF")));
}

TEST_F(ScanDataTest, EmptyResultsAndBarcodesNoRuleTakes) {
    DecodeResult empty{};
    EXPECT_EQ(1, onBarcodeScanned(&empty));
    const char text[] = "";
    empty.data = text;
    empty.length = 0;
    EXPECT_EQ(1, onBarcodeScanned(&empty));
    EXPECT_EQ((std::vector<std::string>{"Barcode Scanned", "Barcode Scanned"}), traceLines());

    // Mode 1: a barcode no rule of any group takes is ignored.
    setRule(3, 0, 'q', u"", 0);
    const char other[] = "NOPE";
    DecodeResult r{};
    r.data = other;
    r.symbologyLetter = 'x';
    r.length = 4;
    EXPECT_EQ(1, onBarcodeScanned(&r));
    EXPECT_EQ(-1, selectedSyncGroup);
    EXPECT_EQ(0, resultsCollected);
    EXPECT_TRUE(noSlotUsed());
}

TEST_F(ScanDataTest, FullSlotsStoreNothingMore) {
    setRule(0, 0, 'a', u"", 0);
    setRule(0, 1, 'b', u"", 0);
    for (ResultSlot& slot : resultSlots) {
        slot.used = 1;
        slot.symbologyLetter = 'z';
        slot.text[0] = u'z';
        slot.text[1] = 0;
    }
    const char text[] = "AAA";
    DecodeResult r{};
    r.data = text;
    r.symbologyLetter = 'a';
    r.length = 3;
    EXPECT_EQ(1, onBarcodeScanned(&r));
    EXPECT_EQ(0, selectedSyncGroup);
    for (const ResultSlot& slot : resultSlots) EXPECT_EQ('z', slot.symbologyLetter);
    EXPECT_FALSE(isGroupComplete(0));
    EXPECT_TRUE(isGroupComplete(5));  // no filled rules
}

}  // namespace
