// The sequence editor: command strings over card data, the typed pieces and
// the trace lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/delivery.h"
#include "output/seqeditor.h"
#include "platform/host/terminal.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"

namespace outputtest {
namespace {

using Lines = std::vector<std::string>;

class SequenceEditor : public OutputTerminal {};

struct EditorCase {
    std::u16string data;
    std::string commands;
    std::string shown;
    Lines trace;  // empty: not checked
};

TEST_F(SequenceEditor, CommandStringsOverCardData) {
    const EditorCase cases[] = {
        {u"AB,CD,EF", "SD44MF1S1", "ABD",
         {"Output formatted", "Send String", "Delimiter", "AB", "App Send", "Forward", "Send String", "Count", "D",
          "App Send", "App Send"}},
        // A counted piece reaching the end is not delivered.
        {u"ABC", "S3", "", {"Output formatted", "Send String", "Count"}},
        {u"ABCD", "S3", "ABC", {}},
        {u"", "C13", "\n", {}},
        {u"", "C65C0065", "AA", {}},
        {u"", "C12345", "\u04D2", {}},  // up to four digits: the fifth is passed over
        // Moving past the start ends the run; reaching it is allowed.
        {u"ABC", "MB1S1", "", {"Output formatted", "Backwards", "Error: Passed start of string"}},
        {u"ABC", "S1MB1S1", "AA", {}},
        // Moving forward onto the end ends the run.
        {u"ABC", "MF3S1", "", {"Output formatted", "Forward", "NULL Character : Exit"}},
        {u"ABCD", "MF2S1", "C", {}},
        {u"AB", "S1msS1", "AA", {}},
        {u"AB,CD", "sd44", "", {"Output formatted", "Send String", "Unknown Command d", "App Send"}},
        {u"XYZ", "X", "", {"Output formatted", "Unknown Command X", "App Send"}},
        // A missing delimiter, or one without digits, ends the run.
        {u"ABCD", "SD44S1", "", {"Output formatted", "Send String", "Delimiter"}},
        {u"ABCD", "SDS1", "", {}},
    };
    for (const EditorCase& c : cases) {
        SCOPED_TRACE(c.commands);
        terminal::clearFocusText();
        size_t before = traceLines().size();
        runOutputFormat(c.data.c_str(), c.commands.c_str());
        EXPECT_EQ(c.shown, typed());
        Lines trace = traceLines();
        if (!c.trace.empty()) {
            EXPECT_EQ(c.trace, Lines(trace.begin() + static_cast<long>(before), trace.end()));
        }
    }
}

TEST_F(SequenceEditor, TheClosingDeliveryTypesOnlyTheIdentifier) {
    setDeliveryIdentifiers('m', 0, 0);
    settings.PrefixID = 1;
    runOutputFormat(u"ABCD", "S3");
    EXPECT_EQ("mABCm", typed());
    EXPECT_EQ(2u, traceOf({"App Send"}).size());
}

TEST_F(SequenceEditor, WaitPausesBetweenPieces) {
    runOutputFormat(u"ABC", "S1W500S1");
    EXPECT_EQ("AB", typed());
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_EQ(8u, events.size());  // A with Shift, B with Shift
    EXPECT_GE(events[4].time - events[3].time, 500u);
}

TEST_F(SequenceEditor, SerialOutputGetsThePiecesButNotAnUnformattedChunk) {
    ASSERT_TRUE(attachSerialPeer());
    settings.SendToForegroundApp = 0;
    runOutputFormat(u"AB,CD,EF", "SD44SD44");
    EXPECT_EQ("ABCD", peerBytes(4));

    // An empty command string types the chunk even with only serial output.
    runOutputFormat(u"card;1", "");
    EXPECT_EQ("card;1", typed());
    EXPECT_EQ("", peerBytes(1, 200));
    EXPECT_EQ(1u, traceOf({"Output not formatted"}).size());
}

TEST_F(SequenceEditor, PiecesOfThreeHundredOrMoreAreCut) {
    std::u16string text(400, u'a');
    text[350] = u'X';
    runOutputFormat(text.c_str(), "S350S1");
    std::string shown = typed();
    ASSERT_EQ(static_cast<size_t>(kPieceChars), shown.size());
    EXPECT_EQ('X', shown.back());  // the cursor moved over all 350 characters

    terminal::clearFocusText();
    std::u16string delimited(320, u'b');
    delimited += u",Z";
    runOutputFormat(delimited.c_str(), "SD44C90");
    shown = typed();
    ASSERT_EQ(static_cast<size_t>(kPieceChars), shown.size());
    EXPECT_EQ('Z', shown.back());
}

}  // namespace
}  // namespace outputtest
