// Keystroke delivery into the focused application: key events, typed text,
// identifier characters, edit-control delivery, waits and the serial hand-off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/delivery.h"
#include "output/framing.h"
#include "output/keystrokes.h"
#include "platform/host/terminal.h"
#include "platform/platform.h"
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
    void fresh() {
        terminal::clearKeyEvents();
        terminal::clearFocusText();
    }
};

struct TypedCase {
    int model;  // 0: the default keypad
    std::u16string text;
    std::string keys;
};

// Capitals press Shift around the key; the keypad families differ from the
// default keypad only in their own rows; above 126 and 127 go as characters;
// 1..8 press virtual key 0 and type nothing.
TEST_F(Keystrokes, TypedTextPressesTheKeysOfTheKeypad) {
    const TypedCase cases[] = {
        {0, u"aA1!", "+65 -65 +16 +65 -65 -16 +49 -49 +16 +49 -49 -16"},
        {0, u"a\rb\tc", "+65 -65 +13 -13 +66 -66 +9 -9 +67 -67"},
        {0, u"#(*./:?_~",
         "+155 -155 +61 -61 +16 +106 -106 -16 +190 -190 +191 -191 +154 -154 +152 -152 +149 -149 +148 -148"},
        {0, u"\u00e9\u007f\u20ac~", "u233 u127 u8364 +148 -148"},
        {0, u"\x01\x08", "+0 -0 +0 -0"},
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
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + " " + std::string(c.text.begin(), c.text.end()));
        if (c.model) useModel(c.model);
        fresh();
        typeText(c.text.c_str());
        EXPECT_EQ(c.keys, keyLog());
        std::u16string expected = c.text;
        for (char16_t& ch : expected) if (ch == u'\r') ch = u'\n';
        if (c.text[0] == u'\x01') expected.clear();
        EXPECT_TRUE(terminal::focusText() == expected) << typed();
        for (const terminal::KeyEvent& e : terminal::keyEvents()) {
            // Characters go without a key; presses carry the silent flag, releases only key-up.
            EXPECT_EQ(e.how == "unicode" ? 0 : e.down, e.how == "unicode" ? e.virtualKey : e.silent);
        }
    }
}

// A terminal that names no model makes the wedge type through the fallback
// model's keypad (family 1, where "*" is key 106 without Shift); the field
// must read those keys back the same way.
TEST_F(Keystrokes, WithoutAModelTheFieldReadsTheFallbackKeypad) {
    terminal::setModel(0);
    terminal::setConfig("keypad", "");
    for (BYTE key : {106, 110}) {
        keybd_event(key, key, KEYEVENTF_SILENT, 0);
        keybd_event(key, key, KEYEVENTF_KEYUP, 0);
    }
    EXPECT_EQ("*.", typed());
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

TEST_F(Keystrokes, FileSeparatorAndSubstituteArePostedToTheFocusedWindowOnly) {
    typeText(u"\x1c\x1a");
    EXPECT_EQ("+17 pd155 pc28 pu155 -17 pd28 pu28 pc26", keyLog());
    terminal::setFocusClass(u"");
    terminal::clearKeyEvents();
    typeText(u"\x1c\x1a");
    EXPECT_EQ("", keyLog());
}

TEST_F(Keystrokes, IdentifierCharactersDecorateThePrefixAndSuffix) {
    std::vector<unsigned short> empty = codes({});
    std::vector<unsigned short> prefix = codes({'<'});
    std::vector<unsigned short> suffix = codes({13});
    struct Case {
        char prefixId, suffixId;
        int prefixSetting, suffixSetting;
        const std::vector<unsigned short>* prefix;
        const std::vector<unsigned short>* suffix;
        std::string shown;
    };
    const Case cases[] = {
        {'d', 'E', 1, 0, &empty, nullptr, "dx"},
        {'d', 'E', 1, 0, nullptr, nullptr, "dx"},  // an absent prefix counts as empty
        {'d', 'E', 2, 3, &prefix, &suffix, "E<x0\n"},
        {'d', 'E', 4, 0, &prefix, &suffix, "<x\n"},  // no identifier outside 1..3
        {'d', 0, 2, 0, &prefix, nullptr, "<x"},      // a zero identifier byte keeps the prefix
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        setDeliveryIdentifiers(c.prefixId, c.suffixId, '0');
        settings.PrefixID = c.prefixSetting;
        settings.SuffixID = c.suffixSetting;
        fresh();
        deliver(u"x", c.prefix, c.suffix);
        EXPECT_EQ(c.shown, typed());
    }

    // A long prefix is cut to the decoration buffer, not overrun.
    std::vector<unsigned short> longPrefix = codes(std::vector<int>(500, 'p'));
    settings.PrefixID = 1;
    setDeliveryIdentifiers('z', 0, 0);
    fresh();
    deliver(u"x", &longPrefix);
    std::string shown = typed();
    ASSERT_EQ(static_cast<size_t>(kDecoratedChars), shown.size());
    EXPECT_EQ('z', shown.front());
    EXPECT_EQ('x', shown.back());
}

TEST_F(Keystrokes, EditControlDeliveryPostsTheCountedCharactersToEditAndBrowserWindows) {
    settings.editControlDelivery = 1;
    std::vector<unsigned short> prefix = codes({'['});
    std::vector<unsigned short> suffix = codes({']'});
    const std::pair<std::u16string, bool> cases[] = {{u"Edit", true},
                                                     {u"RICHEDIT50W", true},
                                                     {u"richink", true},
                                                     {u"INTERNET EXPLORER_SERVER", true},
                                                     {u"Notepad", false}};
    for (const auto& [windowClass, posts] : cases) {
        SCOPED_TRACE(std::string(windowClass.begin(), windowClass.end()));
        terminal::setFocusClass(windowClass);
        fresh();
        deliverText(prefix.data(), u"abcd", suffix.data(), 0, 0, 3);
        EXPECT_EQ(posts ? "+219 -219 pc97 pc98 pc99 +221 -221" : "+219 -219 +221 -221", keyLog());
        EXPECT_EQ(posts ? "[abc]" : "[]", typed());
        EXPECT_EQ(posts, classifyFocusWindow(GetForegroundKeyboardTarget()) != FocusOther);
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
    EXPECT_GE(events[2].time - events[1].time, 230u);  // character delay + prefix wait
    EXPECT_GE(events[4].time - events[3].time, 430u);  // character delay + suffix wait
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

    // A count of zero sends nothing.
    settings.SendToForegroundApp = 0;
    terminal::clearFocusText();
    size_t sendsBefore = traceOf({"Comm Send"}).size();
    deliverText(nullptr, u"abc", nullptr, 0, 0, 0);
    EXPECT_EQ("", peerBytes(1, 200));
    EXPECT_EQ("", typed());
    EXPECT_EQ(sendsBefore, traceOf({"Comm Send"}).size());
}

TEST_F(Keystrokes, ATextBeyondTheSerialCopyIsCutNotOverrun) {
    ASSERT_TRUE(attachSerialPeer());
    settings.SendToForegroundApp = 0;
    std::u16string longText(5000, u'7');
    deliverText(nullptr, longText.c_str(), nullptr, 0, 0, 5000);
    EXPECT_EQ(std::string(kFrameBytes, '7'), peerBytes(kFrameBytes));  // raw framing: one frame's worth
}

}  // namespace
}  // namespace outputtest
