// The bounded formatters: conversions, and output cut to the buffer.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {
std::u16string fmt(size_t capacity, const WCHAR* format, ...) {
    WCHAR buffer[256];
    for (WCHAR& c : buffer) c = u'#';
    va_list args;
    va_start(args, format);
    size_t n = textFormatV(buffer, capacity, format, args);
    va_end(args);
    std::u16string out(buffer, n);
    // Terminated, and nothing written beyond capacity.
    EXPECT_EQ(buffer[n], 0);
    if (capacity < 256) {
        EXPECT_EQ(buffer[capacity], u'#');
    }
    return out;
}
}  // namespace

TEST(TextFormat, ConversionsOfTheWideFormatter) {
    EXPECT_EQ(fmt(64, u"%d|%5d|%05d|%-4d|%i", 42, -7, -7, 3, 0), u"42|   -7|-0007|3   |0");
    EXPECT_EQ(fmt(64, u"%u %x %X %08X %lu", 4000000000u, 255u, 255u, 0x1Bu, 123456789ul),
              u"4000000000 ff FF 0000001B 123456789");
    EXPECT_EQ(fmt(64, u"[%hs][%S][%s]", "narrow", "also", u"wide"), u"[narrow][also][wide]");
    EXPECT_EQ(fmt(64, u"[%6s][%-6hs]", u"ab", "cd"), u"[    ab][cd    ]");
    EXPECT_EQ(fmt(64, u"100%% %q"), u"100% %q");
    EXPECT_EQ(fmt(64, u"%hs|%s", static_cast<const char*>(nullptr), static_cast<const WCHAR*>(nullptr)),
              u"(null)|(null)");
    // High bytes widen to the character of the same code.
    EXPECT_EQ(fmt(64, u"%hs", "\xE9\xFF"), u"\u00E9\u00FF");
}

TEST(TextFormat, OutputThatDoesNotFitIsCutAndTerminated) {
    EXPECT_EQ(fmt(5, u"%s", u"abcdefgh"), u"abcd");
    EXPECT_EQ(fmt(5, u"%hs", "abcdefgh"), u"abcd");
    EXPECT_EQ(fmt(4, u"%010d", 5), u"000");
    EXPECT_EQ(fmt(3, u"%300s", u"x"), u"  ");
    EXPECT_EQ(fmt(1, u"abc"), u"");
    EXPECT_EQ(textFormat(nullptr, 10, u"abc"), 0u);
    WCHAR one[1] = {u'#'};
    EXPECT_EQ(textFormat(one, 0, u"abc"), 0u);
    EXPECT_EQ(one[0], u'#');
}

TEST(TextFormat, NarrowFormatterSwapsTheStringConventions) {
    char buffer[32];
    EXPECT_EQ(textFormatA(buffer, sizeof buffer, "%s|%S|%ls|%-3d|", "n", u"w\u0100", u"x", 7), 11u);
    EXPECT_STREQ(buffer, "n|w?|x|7  |");
    char small[4];
    EXPECT_EQ(textFormatA(small, sizeof small, "%s", "overflow"), 3u);
    EXPECT_STREQ(small, "ove");
}

// The device's Western code page (Windows-1252) in both directions: 0x80..0x9F
// are the typographic characters, the five bytes it leaves undefined stand for
// the control characters of the same code, and every byte survives the trip.
TEST(TextCodePage, Windows1252BothWays) {
    EXPECT_EQ(fmt(64, u"%hs", "\x80\x82\x83\x84\x85\x9F"), u"\u20AC\u201A\u0192\u201E\u2026\u0178");
    EXPECT_EQ(fmt(64, u"%S", "\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
    WCHAR wide[300];
    char bytes[256], back[300];
    for (int i = 1; i < 256; ++i) bytes[i - 1] = static_cast<char>(i);
    bytes[255] = 0;
    EXPECT_EQ(255u, textWiden(wide, 300, bytes, 255));
    EXPECT_EQ(u'\u2122', wide[0x99 - 1]);
    EXPECT_EQ(255u, textNarrow(back, 300, wide));
    EXPECT_STREQ(bytes, back);
    // Characters the code page lacks narrow to "?".
    EXPECT_EQ(3u, textNarrow(back, 300, u"\u20AC\u0100\u4E2D"));
    EXPECT_STREQ("\x80??", back);
    char line[32];
    textFormatA(line, sizeof line, "%S|%ls", u"\u2026\u00E9", u"\u0152");
    EXPECT_STREQ("\x85\xE9|\x8C", line);
}

// Letter case is ignored across the Basic Multilingual Plane, as the platform
// folds it, not for a to z alone.
TEST(TextCase, EqualityIgnoresCaseBeyondAscii) {
    EXPECT_TRUE(textEqualsNoCase(u"caf\u00E9", u"CAF\u00C9"));
    EXPECT_TRUE(textEqualsNoCase(u"\u00FF\u0153", u"\u0178\u0152"));
    EXPECT_TRUE(textEqualsNoCase(u"\u03B1\u03B2\u0434", u"\u0391\u0392\u0414"));
    EXPECT_FALSE(textEqualsNoCase(u"\u00E9", u"E"));
    EXPECT_FALSE(textEqualsNoCase(u"\u00E9", u"\u00E8"));
    EXPECT_TRUE(textEqualsNoCaseA("\xE9t\xE9", "\xC9T\xC9"));
    EXPECT_TRUE(textEqualsNoCaseAW(u"\u00C9t\u00C9", "\xE9T\xE9"));
    EXPECT_FALSE(textEqualsNoCaseA("\xE9", "\xE8"));
}
