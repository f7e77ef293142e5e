// Scan sync: sets of barcodes collected in one press and released in rule
// order, natively and through the moving decode window.
#include <gtest/gtest.h>

#include "output/scandata.h"
#include "scan/decoder.h"
#include "scan/scanloop.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

using namespace scanloop;  // the scan terminal of tests/support/scanloop_support.h

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

// A stray barcode in mode 2 cancels the set while CancelOnNoneSeqScan holds 0
// (the file's "1", stored inverted) and is passed over otherwise.
TEST_F(ScanSyncTest, ModeTwoStrayBarcodeCancelsTheSetOrIsIgnored) {
    settings.EnableSequenceEditor = 2;
    setRule(0, 0, 'a', u"", 0, {'A'}, {13});
    setRule(0, 1, 'b', u"", 0, {'B'}, {13});
    for (int ignore : {0, 1}) {  // the cancelling case first: it types nothing
        SCOPED_TRACE(ignore);
        settings.CancelOnNoneSeqScan = static_cast<BYTE>(ignore);
        terminal::clearView();
        terminal::putInView(barcode("AAA", 'a'));
        terminal::putInView(barcode("ZZZ", 'z'));
        if (ignore) {
            terminal::putInView(barcode("BBB", 'b'));
            ASSERT_TRUE(press([] { return typedIs("AAAA\nBBBB\n"); })) << typed();
        } else {
            ASSERT_TRUE(pressUntilSound());
            EXPECT_EQ((std::vector<std::string>{"resource:4"}), soundNames());
            EXPECT_EQ("", typed());
            EXPECT_TRUE(noSlotUsed());
        }
    }
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

}  // namespace
