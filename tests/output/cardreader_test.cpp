// The magnetic card reader: the 5-volt output of each device family, card
// data arriving on "COM1:" and handed to the sequence editor, the settings
// parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/terminal.h"
#include "settings/cardreader.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"
#include "tests/support/wedge_process.h"

namespace outputtest {
namespace {

using Lines = std::vector<std::string>;

const std::string kNoSupport = "(5 Volt out) No support for this device";
const std::string kEnabled = "5 Volt out enabled";
const std::string kFailed = "5 Volt out failed";

class CardReader : public OutputTerminal {
protected:
    void SetUp() override {
        OutputTerminal::SetUp();
        cardReaderSettings = CardReaderSettings{};
    }
    void TearDown() override {
        stopCardReader();
        OutputTerminal::TearDown();
    }
    Lines powerLines() { return traceOf({kNoSupport, kEnabled, kFailed, "MSR Connected"}); }
    bool waitTyped(const std::string& text) {
        return wedge::waitFor([&] { return typed() == text; }, 5000);
    }
};

TEST_F(CardReader, DeviceWithoutPowerSwitchStillOpensThePort) {
    EXPECT_EQ(0, startCardReader(7000));
    EXPECT_EQ(1, stopCardReader());
    EXPECT_EQ((Lines{kNoSupport, "MSR Connected", kNoSupport}), powerLines());
    EXPECT_EQ(-1, terminal::fiveVoltState());
}

TEST_F(CardReader, PortControlFamilySwitchesThroughCom4) {
    terminal::setConfig("power", "port");
    EXPECT_EQ(0, startCardReader(4100));
    EXPECT_EQ(1, terminal::fiveVoltState());
    stopCardReader();
    EXPECT_EQ(0, terminal::fiveVoltState());
    // The success line reads "enabled" when switching off too.
    EXPECT_EQ((Lines{kEnabled, "MSR Connected", kEnabled}), powerLines());
}

TEST_F(CardReader, PortControlFailures) {
    startCardReader(4650);  // the power switch refuses the control codes here
    stopCardReader();
    EXPECT_EQ((Lines{kFailed, "MSR Connected", kFailed}), powerLines());

    // No "COM4:" at all: no line, the reader starts all the same.
    terminal::setPortPath(4, "none");
    EXPECT_EQ(0, switch5VoltOutput(TRUE));
    EXPECT_EQ((Lines{kFailed, "MSR Connected", kFailed}), powerLines());
}

TEST_F(CardReader, KernelControlFamily) {
    terminal::setConfig("power", "kernel");
    startCardReader(5800);
    EXPECT_EQ(1, terminal::fiveVoltState());
    EXPECT_EQ(1, switch5VoltOutput(FALSE));
    EXPECT_EQ(0, terminal::fiveVoltState());
    terminal::setConfig("power", "none");
    EXPECT_EQ(0, switch5VoltOutput(TRUE));
    EXPECT_EQ((Lines{kEnabled, "MSR Connected", kEnabled, kFailed}), powerLines());
}

TEST_F(CardReader, AFailedOpenLeavesTheReaderOff) {
    terminal::setPortPath(1, "none");
    EXPECT_EQ(1, startCardReader(7000));
    EXPECT_EQ((Lines{kNoSupport}), powerLines());
    EXPECT_FALSE(terminal::swipeCard("abc"));
}

TEST_F(CardReader, AnUnformattedSwipeIsTypedAsItCame) {
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard("%B123^Doe?\r"));
    EXPECT_TRUE(waitTyped("%B123^Doe?\n")) << typed();
    EXPECT_EQ((Lines{"Output not formatted"}), traceOf({"Output not formatted", "Output formatted"}));
}

TEST_F(CardReader, ASwipeInTwoChunksCallsTheEditorTwice) {
    textCopyA(cardReaderSettings.outputFormat, kCardOutputFormatBytes, "S1");
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard("abc"));
    ASSERT_TRUE(waitTyped("a")) << typed();
    ASSERT_TRUE(terminal::swipeCard("def"));
    EXPECT_TRUE(waitTyped("ad")) << typed();
    EXPECT_EQ(2u, traceOf({"Output formatted"}).size());
}

TEST_F(CardReader, ASecondStartKeepsTheRunningReader) {
    ASSERT_EQ(0, startCardReader(7000));
    EXPECT_EQ(0, startCardReader(7000));
    EXPECT_EQ(1u, traceOf({"MSR Connected"}).size());
    ASSERT_TRUE(terminal::swipeCard("xy"));
    ASSERT_TRUE(waitTyped("xy"));
    // One reader only: the chunk is not typed a second time.
    wedge::waitFor([] { return false; }, 150);
    EXPECT_EQ("xy", typed());
}

TEST_F(CardReader, ALongSwipeArrivesWholeInBoundedChunks) {
    std::string data;
    for (int i = 0; i < 700; ++i) data += static_cast<char>('a' + i % 26);
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard(data));
    EXPECT_TRUE(waitTyped(data)) << typed().size();
}

TEST_F(CardReader, ARestartedReaderServesTheNewPortOnly) {
    ASSERT_EQ(0, startCardReader(7000));
    stopCardReader();
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard("k"));
    ASSERT_TRUE(waitTyped("k"));
    wedge::waitFor([] { return false; }, 150);
    EXPECT_EQ("k", typed());
}

TEST(CardReaderSettingsParser, StoresTheRecordKeys) {
    cardReaderSettings = CardReaderSettings{};
    CardReaderSettings& r = cardReaderSettings;
    parseCardReaderSetting(0, u"MCROutputFormat", u"SD94S5");
    parseCardReaderSetting(0, u"Prefix", u"65,66");
    parseCardReaderSetting(0, u"Suffix", u"13");
    parseCardReaderSetting(0, u"PrefixWait", u"250");
    parseCardReaderSetting(0, u"SuffixWait", u"40");
    parseCardReaderSetting(0, u"Beep", u"1");
    parseCardReaderSetting(0, u"customsound", u"  \\Windows\\swipe.wav");
    parseCardReaderSetting(0, u"Field", u"2");
    EXPECT_STREQ("SD94S5", r.outputFormat);
    EXPECT_EQ(65, r.prefix[0]);
    EXPECT_EQ(66, r.prefix[1]);
    EXPECT_EQ(0, r.prefix[2]);
    EXPECT_EQ(13, r.suffix[0]);
    EXPECT_EQ(250, r.prefixWait);
    EXPECT_EQ(40, r.suffixWait);
    EXPECT_EQ(1, r.beep);
    EXPECT_TRUE(std::u16string(r.customSound) == u"\\Windows\\swipe.wav");
    EXPECT_EQ(19, r.field);

    // Keys other than CustomSound are compared with their letter case; other
    // records and other Field values change nothing.
    parseCardReaderSetting(0, u"mcroutputformat", u"X");
    parseCardReaderSetting(1, u"MCROutputFormat", u"X");
    parseCardReaderSetting(0, u"Field", u"7");
    EXPECT_STREQ("SD94S5", r.outputFormat);
    EXPECT_EQ(19, r.field);
    const std::pair<const char16_t*, int> fields[] = {{u"1", 26}, {u"3", 4}, {u"4", 3}};
    for (const auto& [value, stored] : fields) {
        parseCardReaderSetting(0, u"Field", value);
        EXPECT_EQ(stored, r.field);
    }
}

TEST(CardReaderSettingsParser, LongValuesAreCut) {
    cardReaderSettings = CardReaderSettings{};
    std::u16string longFormat(400, u'S');
    parseCardReaderSetting(0, u"MCROutputFormat", longFormat.c_str());
    EXPECT_EQ(static_cast<size_t>(kCardOutputFormatBytes - 1), std::string(cardReaderSettings.outputFormat).size());
    std::u16string longSound(300, u'w');
    parseCardReaderSetting(0, u"CustomSound", longSound.c_str());
    EXPECT_EQ(150u, std::u16string(cardReaderSettings.customSound).size());
    parseCardReaderSetting(0, u"CustomSound", u"   ");  // blank: kept as it was
    EXPECT_EQ(150u, std::u16string(cardReaderSettings.customSound).size());
}

}  // namespace
}  // namespace outputtest
