// Keystroke delivery into the focused application: key events, typed text,
// identifier characters, edit-control delivery, waits and the serial hand-off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/keystrokes.h"
#include "output/serial.h"
#include "platform/host/terminal.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"

namespace outputtest {
namespace {

class Keystrokes : public OutputTerminal {
protected:
    void deliver(const std::u16string& text, const std::vector<unsigned short>* prefix = nullptr,
                 const std::vector<unsigned short>* suffix = nullptr, int prefixWait = 0, int suffixWait = 0) {
        deliverText(prefix ? prefix->data() : nullptr, text.c_str(), suffix ? suffix->data() : nullptr, prefixWait,
                    suffixWait, static_cast<int>(text.size()));
    }
};

TEST_F(Keystrokes, CapitalsPressShiftAroundTheKeyAndSmallLettersDoNot) {
    typeText(u"aA1!");
    EXPECT_EQ("+65 -65 +16 +65 -65 -16 +49 -49 +16 +49 -49 -16", keyLog());
    EXPECT_EQ("aA1!", typed());
    // Presses carry the silent flag; releases only the key-up flag.
    for (const terminal::KeyEvent& e : terminal::keyEvents()) EXPECT_EQ(e.down, e.silent);
}

TEST_F(Keystrokes, EnterAndTabAreKeysOfTheirOwn) {
    typeText(u"a\rb\tc");
    EXPECT_EQ("+65 -65 +13 -13 +66 -66 +9 -9 +67 -67", keyLog());
    EXPECT_EQ("a\nb\tc", typed());
}

struct FamilyCase {
    int model;
    std::u16string text;
    std::string keys;
};

// The rows in which each keypad family differs from the default keypad.
TEST_F(Keystrokes, EveryKeypadFamilyTypesItsOwnRows) {
    const FamilyCase cases[] = {
        {7010, u"#(*./:?_~",
         "+16 +51 -51 -16 +16 +57 -57 -16 +106 -106 +110 -110 +111 -111 +16 +186 -186 -16 "
         "+16 +191 -191 -16 +16 +189 -189 -16 +16 +192 -192 -16"},
        {7200, u"(-_", "+16 +57 -57 -16 +189 -189 +16 +189 -189 -16"},
        {7300, u"#(*+-:?_~",
         "+16 +51 -51 -16 +16 +57 -57 -16 +16 +56 -56 -16 +16 +187 -187 -16 +189 -189 "
         "+16 +186 -186 -16 +16 +191 -191 -16 +16 +189 -189 -16 +16 +192 -192 -16"},
        {7400, u"+-:~", "+187 -187 +189 -189 +186 -186 +192 -192"},
        {7500, u"!\"$&)*./@", "+153 -153 +150 -150 +59 -59 +60 -60 +62 -62 +106 -106 +110 -110 +111 -111 +151 -151"},
        {7600, u"!%@", "+153 -153 +16 +211 -211 -16 +151 -151"},
    };
    for (const FamilyCase& c : cases) {
        SCOPED_TRACE(c.model);
        useModel(c.model);
        terminal::clearKeyEvents();
        terminal::clearFocusText();
        typeText(c.text.c_str());
        EXPECT_EQ(c.keys, keyLog());
        std::u16string shown = terminal::focusText();
        EXPECT_TRUE(shown == c.text) << typed();
    }
}

TEST_F(Keystrokes, DefaultKeypadPunctuationOfTheFamilyRows) {
    typeText(u"#(*./:?_~!");
    EXPECT_EQ(
        "+155 -155 +61 -61 +16 +106 -106 -16 +190 -190 +191 -191 +154 -154 +152 -152 +149 -149 +148 -148 "
        "+16 +49 -49 -16",
        keyLog());
    EXPECT_EQ("#(*./:?_~!", typed());
}

TEST_F(Keystrokes, RemapToTabTypesTheTabKeyButNeverRemapsCarriageReturn) {
    settings.RemapToTab = '|';
    typeText(u"a|b");
    EXPECT_EQ("+65 -65 +9 -9 +66 -66", keyLog());
    EXPECT_EQ("a\tb", typed());

    terminal::clearKeyEvents();
    settings.RemapToTab = 13;
    typeText(u"\r");
    EXPECT_EQ("+13 -13", keyLog());
}

TEST_F(Keystrokes, UnicodeCharactersAboveTildeAndDeleteGoAsCharacters) {
    typeText(u"\u00e9\u007f\u20ac~");
    EXPECT_EQ("u233 u127 u8364 +148 -148", keyLog());
    EXPECT_EQ(u"\u00e9\u007f\u20ac~", terminal::focusText());
    for (const terminal::KeyEvent& e : terminal::keyEvents()) {
        if (e.how == "unicode") {
            EXPECT_EQ(0, e.virtualKey);
        }
    }
}

TEST_F(Keystrokes, ControlCharactersOneToEightPressVirtualKeyZero) {
    typeText(u"\x01\x08");
    EXPECT_EQ("+0 -0 +0 -0", keyLog());
    EXPECT_EQ("", typed());
}

TEST_F(Keystrokes, FileSeparatorAndSubstituteArePostedToTheFocusedWindow) {
    typeText(u"\x1c");
    EXPECT_EQ("+17 pd155 pc28 pu155 -17 pd28 pu28", keyLog());
    terminal::clearKeyEvents();
    typeText(u"\x1a");
    EXPECT_EQ("pc26", keyLog());

    // With nothing in focus both are dropped.
    terminal::setFocusClass(u"");
    terminal::clearKeyEvents();
    typeText(u"\x1c\x1a");
    EXPECT_EQ("", keyLog());
}

TEST_F(Keystrokes, IdentifierCharactersDecorateThePrefixAndSuffix) {
    setDeliveryIdentifiers('d', 'E', '0');
    std::vector<unsigned short> empty = codes({});
    std::vector<unsigned short> prefix = codes({'<'});
    std::vector<unsigned short> suffix = codes({13});

    settings.PrefixID = 1;
    deliver(u"x", &empty);
    EXPECT_EQ("dx", typed());

    terminal::clearFocusText();
    deliver(u"x", nullptr);  // an absent prefix counts as empty
    EXPECT_EQ("dx", typed());

    terminal::clearFocusText();
    settings.PrefixID = 2;
    settings.SuffixID = 3;
    deliver(u"x", &prefix, &suffix);
    EXPECT_EQ("E<x0\n", typed());

    terminal::clearFocusText();
    settings.PrefixID = 4;  // no identifier outside 1..3
    settings.SuffixID = 0;
    deliver(u"x", &prefix, &suffix);
    EXPECT_EQ("<x\n", typed());
}

TEST_F(Keystrokes, AZeroIdentifierByteDoesNotSwallowThePrefix) {
    setDeliveryIdentifiers('d', 0, 0);
    settings.PrefixID = 2;
    std::vector<unsigned short> prefix = codes({'[', ']'});
    deliver(u"x", &prefix);
    EXPECT_EQ("[]x", typed());
}

TEST_F(Keystrokes, ALongPrefixIsCutToTheDecorationBuffer) {
    std::vector<int> many(500, 'p');
    std::vector<unsigned short> prefix = codes(many);
    settings.PrefixID = 1;
    setDeliveryIdentifiers('z', 0, 0);
    deliver(u"x", &prefix);
    std::string shown = typed();
    ASSERT_EQ(static_cast<size_t>(kDecoratedChars), shown.size());  // identifier, 198 p's, the text
    EXPECT_EQ('z', shown.front());
    EXPECT_EQ('x', shown.back());
}

TEST_F(Keystrokes, EditControlDeliveryPostsTheCountedCharactersToEditAndBrowserWindows) {
    settings.editControlDelivery = 1;
    std::vector<unsigned short> prefix = codes({'['});
    std::vector<unsigned short> suffix = codes({']'});
    struct Case {
        std::u16string windowClass;
        bool posts;
    };
    const Case cases[] = {{u"Edit", true},
                          {u"RICHEDIT50W", true},
                          {u"richink", true},
                          {u"INTERNET EXPLORER_SERVER", true},
                          {u"Notepad", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.windowClass.begin(), c.windowClass.end()));
        terminal::setFocusClass(c.windowClass);
        terminal::clearKeyEvents();
        terminal::clearFocusText();
        deliverText(prefix.data(), u"abcd", suffix.data(), 0, 0, 3);
        if (c.posts) {
            EXPECT_EQ("+219 -219 pc97 pc98 pc99 +221 -221", keyLog());
            EXPECT_EQ("[abc]", typed());
        } else {
            EXPECT_EQ("+219 -219 +221 -221", keyLog());
            EXPECT_EQ("[]", typed());
        }
        EXPECT_EQ(c.posts, classifyFocusWindow(GetForegroundKeyboardTarget()) != 0);
    }
    // A count beyond the text stops at its end.
    terminal::setFocusClass(u"Edit");
    terminal::clearKeyEvents();
    deliverText(nullptr, u"ab", nullptr, 0, 0, 10);
    EXPECT_EQ("pc97 pc98", keyLog());

    // No focus: the text is dropped and nothing is posted.
    terminal::setFocusClass(u"");
    terminal::clearKeyEvents();
    deliverText(prefix.data(), u"ab", nullptr, 0, 0, 2);
    EXPECT_EQ("+219 -219", keyLog());
}

TEST_F(Keystrokes, PrefixWaitAndSuffixWaitSeparateTheParts) {
    std::vector<unsigned short> prefix = codes({'p'});
    std::vector<unsigned short> suffix = codes({'s'});
    settings.InterCharacterDelay = 30;
    deliver(u"t", &prefix, &suffix, 200, 400);
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_EQ(6u, events.size());
    EXPECT_EQ(80, events[0].virtualKey);  // p
    EXPECT_EQ(84, events[2].virtualKey);  // t
    EXPECT_EQ(83, events[4].virtualKey);  // s
    // After the prefix: its character delay and the prefix wait; before the
    // suffix: the text's character delay and the suffix wait.
    EXPECT_GE(events[2].time - events[1].time, 230u);
    EXPECT_GE(events[4].time - events[3].time, 430u);
    EXPECT_EQ("pts", typed());
}

TEST_F(Keystrokes, SerialHandOffCarriesTheCountedTextWithoutPrefixOrSuffix) {
    ASSERT_TRUE(attachSerialPeer());
    std::vector<unsigned short> prefix = codes({'<'});
    std::vector<unsigned short> suffix = codes({'>', 13});
    deliverText(prefix.data(), u"12345", suffix.data(), 0, 0, 5);
    EXPECT_EQ("12345", peerBytes(5));
    EXPECT_EQ("<12345>\n", typed());
    EXPECT_EQ((std::vector<std::string>{"App Send", "Comm Send"}), traceOf({"App Send", "Comm Send"}));

    deliverText(nullptr, u"abcdef", nullptr, 0, 0, 3);
    EXPECT_EQ("abc", peerBytes(3));
}

TEST_F(Keystrokes, ACountOfZeroSendsNothingToTheSerialPort) {
    ASSERT_TRUE(attachSerialPeer());
    settings.SendToForegroundApp = 0;
    deliverText(nullptr, u"abc", nullptr, 0, 0, 0);
    EXPECT_EQ("", peerBytes(1, 200));
    EXPECT_EQ("", typed());
    EXPECT_TRUE(traceOf({"App Send", "Comm Send"}).empty());
}

TEST_F(Keystrokes, WithBothOutputsOffADeliveryDoesNothing) {
    settings.SendToForegroundApp = 0;
    settings.SendData.store(0);
    setDeliveryIdentifiers('d', 0, 0);
    settings.PrefixID = 1;
    deliverText(nullptr, u"abc", nullptr, 0, 0, 3);
    EXPECT_EQ("", keyLog());
    EXPECT_TRUE(traceLines().empty());
}

TEST_F(Keystrokes, ATextBeyondTheSerialCopyIsCutNotOverrun) {
    ASSERT_TRUE(attachSerialPeer());
    settings.SendToForegroundApp = 0;
    std::u16string longText(5000, u'7');
    deliverText(nullptr, longText.c_str(), nullptr, 0, 0, 5000);
    EXPECT_EQ(static_cast<size_t>(kSerialDataBytes - 1), std::string(serialData).size());
    // Raw framing carries what fits one frame.
    EXPECT_EQ(std::string(kFrameBytes, '7'), peerBytes(kFrameBytes));
}

}  // namespace
}  // namespace outputtest
