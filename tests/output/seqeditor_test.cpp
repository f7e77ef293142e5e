// The sequence editor: command strings over card data, the typed pieces and
// the trace lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/keystrokes.h"
#include "output/seqeditor.h"
#include "platform/host/terminal.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"

namespace outputtest {
namespace {

using Lines = std::vector<std::string>;

class SequenceEditor : public OutputTerminal {};

TEST(ParseCount, UpToFourDigits) {
    EXPECT_EQ(-1, parseCount("x12"));
    EXPECT_EQ(-1, parseCount(""));
    EXPECT_EQ(7, parseCount("7"));
    EXPECT_EQ(65, parseCount("0065"));
    EXPECT_EQ(1234, parseCount("12345"));
    EXPECT_EQ(12, parseCount("12a4"));
    EXPECT_EQ(9999, parseCount("9999"));
}

TEST_F(SequenceEditor, DelimiterForwardAndCountedPiece) {
    runOutputFormat(u"AB,CD,EF", "SD44MF1S1");
    EXPECT_EQ("ABD", typed());
    EXPECT_EQ((Lines{"Output formatted", "Send String", "Delimiter", "AB", "App Send", "Forward", "Send String",
                     "Count", "D", "App Send", "App Send"}),
              traceLines());
}

TEST_F(SequenceEditor, ACountedPieceReachingTheEndIsNotDelivered) {
    runOutputFormat(u"ABC", "S3");
    EXPECT_EQ("", typed());
    EXPECT_EQ((Lines{"Output formatted", "Send String", "Count"}), traceLines());

    runOutputFormat(u"ABCD", "S3");
    EXPECT_EQ("ABC", typed());
    EXPECT_EQ(2u, traceOf({"App Send"}).size());  // the piece and the closing delivery
}

TEST_F(SequenceEditor, TheClosingDeliveryTypesOnlyTheIdentifier) {
    setDeliveryIdentifiers('m', 0, 0);
    settings.PrefixID = 1;
    runOutputFormat(u"ABCD", "S3");
    EXPECT_EQ("mABCm", typed());
}

TEST_F(SequenceEditor, SingleCharacters) {
    runOutputFormat(u"", "C13");
    EXPECT_EQ("+13 -13", keyLog());
    EXPECT_EQ("\n", typed());

    terminal::clearFocusText();
    runOutputFormat(u"", "C65C0065");
    EXPECT_EQ("AA", typed());

    terminal::clearFocusText();
    terminal::clearKeyEvents();
    runOutputFormat(u"", "C12345");
    EXPECT_EQ("u1234", keyLog());  // the fifth digit is passed over
    EXPECT_EQ(4u, traceOf({"Send Character"}).size());
}

TEST_F(SequenceEditor, MovingPastTheStartEndsTheRun) {
    runOutputFormat(u"ABC", "MB1S1");
    EXPECT_EQ("", typed());
    EXPECT_EQ((Lines{"Output formatted", "Backwards", "Error: Passed start of string"}), traceLines());

    // Reaching the start with the last move is allowed.
    terminal::clearFocusText();
    runOutputFormat(u"ABC", "S1MB1S1");
    EXPECT_EQ("AA", typed());
}

TEST_F(SequenceEditor, MovingForwardOntoTheEndEndsTheRun) {
    runOutputFormat(u"ABC", "MF3S1");
    EXPECT_EQ("", typed());
    EXPECT_EQ((Lines{"Output formatted", "Forward", "NULL Character : Exit"}), traceLines());

    terminal::clearFocusText();
    runOutputFormat(u"ABCD", "MF2S1");
    EXPECT_EQ("C", typed());
}

TEST_F(SequenceEditor, BackToStart) {
    runOutputFormat(u"AB", "S1msS1");
    EXPECT_EQ("AA", typed());
    EXPECT_EQ(1u, traceOf({"Back to start"}).size());
}

TEST_F(SequenceEditor, SmallDelimiterLetterIsNoDelimiterCommand) {
    runOutputFormat(u"AB,CD", "sd44");
    EXPECT_EQ("", typed());
    EXPECT_EQ((Lines{"Output formatted", "Send String", "Unknown Command d", "App Send"}), traceLines());
}

TEST_F(SequenceEditor, AnUnknownCommandIsLoggedNotDelivered) {
    runOutputFormat(u"XYZ", "X");
    EXPECT_EQ("", typed());
    EXPECT_EQ((Lines{"Output formatted", "Unknown Command X", "App Send"}), traceLines());
}

TEST_F(SequenceEditor, AMissingDelimiterEndsTheRun) {
    runOutputFormat(u"ABCD", "SD44S1");
    EXPECT_EQ("", typed());
    EXPECT_EQ((Lines{"Output formatted", "Send String", "Delimiter"}), traceLines());
    // Without digits the delimiter matches nothing.
    runOutputFormat(u"ABCD", "SDS1");
    EXPECT_EQ("", typed());
}

TEST_F(SequenceEditor, WaitPausesBetweenPieces) {
    runOutputFormat(u"ABC", "S1W500S1");
    EXPECT_EQ("AB", typed());
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_EQ(8u, events.size());  // A with Shift, B with Shift
    EXPECT_GE(events[4].time - events[3].time, 500u);
    EXPECT_EQ(1u, traceOf({"Wait"}).size());
}

TEST_F(SequenceEditor, AnEmptyCommandStringTypesTheChunkEvenWithOnlySerialOutput) {
    ASSERT_TRUE(attachSerialPeer());
    settings.SendToForegroundApp = 0;
    runOutputFormat(u"card;1", "");
    EXPECT_EQ("card;1", typed());
    EXPECT_EQ((Lines{"Output not formatted"}), traceOf({"Output not formatted", "Output formatted", "Comm Send"}));
    EXPECT_EQ("", peerBytes(1, 200));
}

TEST_F(SequenceEditor, PiecesGoToTheSerialOutputToo) {
    ASSERT_TRUE(attachSerialPeer());
    settings.SendToForegroundApp = 0;
    runOutputFormat(u"AB,CD,EF", "SD44SD44");
    EXPECT_EQ("ABCD", peerBytes(4));
}

TEST_F(SequenceEditor, PiecesOfThreeHundredOrMoreAreCut) {
    std::u16string text(400, u'a');
    text[350] = u'X';
    runOutputFormat(text.c_str(), "S350S1");
    std::string shown = typed();
    ASSERT_EQ(static_cast<size_t>(kPieceChars - 1) + 1, shown.size());
    EXPECT_EQ('X', shown.back());  // the cursor moved over all 350 characters

    terminal::clearFocusText();
    std::u16string delimited(320, u'b');
    delimited += u",Z";
    runOutputFormat(delimited.c_str(), "SD44C90");
    shown = typed();
    ASSERT_EQ(static_cast<size_t>(kPieceChars - 1) + 1, shown.size());
    EXPECT_EQ('Z', shown.back());
}

}  // namespace
}  // namespace outputtest
