// The magnetic card reader: the 5-volt output of each device family, card
// data arriving on "COM1:" and handed to the sequence editor, the settings
// parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/terminal.h"
#include "settings/cardreader.h"
#include "settings/settingstable.h"
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
    void TearDown() override {
        stopCardReader();
        OutputTerminal::TearDown();
    }
    Lines powerLines() { return traceOf({kNoSupport, kEnabled, kFailed, "MSR Connected"}); }
    // Waits until `text` is typed. A long swipe is typed key by key for as
    // long as that takes on a loaded machine; only five seconds without a
    // new key mean typing stopped short.
    bool waitTyped(const std::string& text) {
        size_t seen = typed().size();
        for (;;) {
            bool moved = wedge::waitFor(
                [&] {
                    std::string now = typed();
                    return now == text || now.size() != seen;
                },
                5000);
            std::string now = typed();
            if (now == text) return true;
            if (!moved || now.size() > text.size()) return false;
            seen = now.size();
        }
    }
};

TEST_F(CardReader, FiveVoltLinesOfEachFamilyAtStartAndStop) {
    struct Case {
        int model;
        const char* power;  // the terminal's power switch (nullptr: as the terminal came)
        std::string line;   // at start and again at stop ("enabled" when switching off too)
        int onAfterStart, onAfterStop;
    };
    const Case cases[] = {
        {7000, nullptr, kNoSupport, -1, -1},  // no power switch: the port opens all the same
        {4650, nullptr, kFailed, 9, 9},      // the switch refuses the control codes
        {4100, "port", kEnabled, 1, 0},      // switched through "COM4:"
        {5800, "kernel", kEnabled, 1, 0},    // switched by a kernel control
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        if (c.power) terminal::setConfig("power", c.power);
        size_t before = powerLines().size();
        EXPECT_EQ(0, startCardReader(c.model));
        if (c.onAfterStart != 9) {
            EXPECT_EQ(c.onAfterStart, terminal::fiveVoltState());
        }
        EXPECT_EQ(1, stopCardReader());
        if (c.onAfterStop != 9) {
            EXPECT_EQ(c.onAfterStop, terminal::fiveVoltState());
        }
        Lines lines = powerLines();
        EXPECT_EQ((Lines{c.line, "MSR Connected", c.line}), Lines(lines.begin() + static_cast<long>(before), lines.end()));
    }
    // Without the kernel control, or without "COM4:": no switching, the reader starts all the same.
    terminal::setConfig("power", "none");
    EXPECT_EQ(0, switch5VoltOutput(TRUE));
    terminal::setConfig("power", "port");
    terminal::setPortPath(4, "none");
    EXPECT_EQ(0, startCardReader(4100));
    EXPECT_EQ(0, switch5VoltOutput(TRUE));
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

TEST_F(CardReader, ASecondStartOrARestartLeavesOneReader) {
    ASSERT_EQ(0, startCardReader(7000));
    EXPECT_EQ(0, startCardReader(7000));
    EXPECT_EQ(1u, traceOf({"MSR Connected"}).size());
    ASSERT_TRUE(terminal::swipeCard("xy"));
    ASSERT_TRUE(waitTyped("xy"));
    stopCardReader();
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard("k"));
    ASSERT_TRUE(waitTyped("xyk"));
    // One reader only: no chunk is typed a second time.
    wedge::waitFor([] { return false; }, 150);
    EXPECT_EQ("xyk", typed());
}

TEST_F(CardReader, ALongSwipeArrivesWholeInBoundedChunks) {
    std::string data;
    for (int i = 0; i < 700; ++i) data += static_cast<char>('a' + i % 26);
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard(data));
    EXPECT_TRUE(waitTyped(data)) << typed().size();
}

// Stopping the reader while it types a swipe lets that chunk finish first:
// once the stop returns nothing more is typed, so the process may go on to
// end without a reader still at work.
TEST_F(CardReader, AStopDuringTypingReturnsWhenTheChunkIsDone) {
    std::string data;
    for (int i = 0; i < 400; ++i) data += static_cast<char>('a' + i % 26);
    ASSERT_EQ(0, startCardReader(7000));
    ASSERT_TRUE(terminal::swipeCard(data));
    ASSERT_TRUE(wedge::waitFor([] { return !typed().empty(); }));
    EXPECT_EQ(1, stopCardReader());
    std::string atStop = typed();
    wedge::waitFor([] { return false; }, 300);
    EXPECT_EQ(atStop.size(), typed().size()) << "typing went on after the stop";
    EXPECT_EQ(data.substr(0, atStop.size()), atStop);
}

// One card-reader line applied as the reader applies it, by its entry of the
// settings list; false when the key (in this letter case) is no card-reader key.
bool applyCardKey(const std::u16string& key, const std::u16string& value) {
    const SettingInfo* setting = matchSetting(SectionCardReader, key.c_str());
    if (setting == nullptr) return false;
    SettingsRead read = {};
    read.record = &cardReaderSettings;
    setting->handler(*setting, read, key.c_str(), value.c_str());
    return true;
}

TEST(CardReaderSettingsParser, LongValuesAreCut) {
    resetCardReaderSettings();
    std::u16string longFormat(400, u'S');
    ASSERT_TRUE(applyCardKey(u"MCROutputFormat", longFormat));
    EXPECT_EQ(static_cast<size_t>(kCardOutputFormatBytes - 1), std::string(cardReaderSettings.outputFormat).size());
    std::u16string longSound(300, u'w');
    ASSERT_TRUE(applyCardKey(u"CustomSound", longSound));
    EXPECT_EQ(150u, std::u16string(cardReaderSettings.customSound).size());
    ASSERT_TRUE(applyCardKey(u"CustomSound", u"   "));  // blank: kept as it was
    EXPECT_EQ(150u, std::u16string(cardReaderSettings.customSound).size());
}

TEST(CardReaderSettingsParser, NamesKeepTheirLetterCaseButTheSoundName) {
    resetCardReaderSettings();
    EXPECT_FALSE(applyCardKey(u"mcroutputformat", u"X"));
    EXPECT_FALSE(applyCardKey(u"FIELD", u"1"));
    EXPECT_TRUE(applyCardKey(u"customsound", u"a.wav"));
    EXPECT_EQ(u"a.wav", std::u16string(cardReaderSettings.customSound));
    // Field takes exactly one of its four digits.
    ASSERT_TRUE(applyCardKey(u"Field", u"3"));
    EXPECT_EQ(4, cardReaderSettings.field);
    ASSERT_TRUE(applyCardKey(u"Field", u"31"));
    ASSERT_TRUE(applyCardKey(u"Field", u"9"));
    EXPECT_EQ(4, cardReaderSettings.field);
    resetCardReaderSettings();
    EXPECT_EQ(0, cardReaderSettings.field);
    EXPECT_EQ(0, cardReaderSettings.customSound[0]);
}

}  // namespace
}  // namespace outputtest
