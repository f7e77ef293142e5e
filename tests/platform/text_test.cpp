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
