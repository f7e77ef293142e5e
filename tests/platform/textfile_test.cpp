// Text files read in every accepted encoding, in pieces, and appended to.
#include "platform/textfile.h"

#include <vector>

#include "platform_fixture.h"

namespace {

class TextFileTest : public PlatformTest {
protected:
    // Every line of the file read with a buffer of `capacity`.
    std::vector<std::u16string> lines(const std::string& bytes, size_t capacity = 400) {
        writeHost("f.txt", bytes);
        std::vector<std::u16string> out;
        TextFile* f = textFileOpen(u"\\F.TXT");
        EXPECT_NE(f, nullptr);
        if (f == nullptr) return out;
        std::vector<WCHAR> buffer(capacity, u'#');
        while (textFileReadLine(f, buffer.data(), capacity)) out.emplace_back(buffer.data());
        textFileClose(f);
        return out;
    }
};

using Lines = std::vector<std::u16string>;

}  // namespace

TEST_F(TextFileTest, ReadsEveryAcceptedEncoding) {
    // UTF-8 without and with a byte-order mark; CR LF folds to LF.
    EXPECT_EQ(lines("a=\xC3\xA9\r\nb=\xE2\x82\xAC"), (Lines{u"a=\u00E9\n", u"b=\u20AC"}));
    EXPECT_EQ(lines("\xEF\xBB\xBFkey=1\r\n"), (Lines{u"key=1\n"}));
    // UTF-16 with either byte order.
    EXPECT_EQ(lines(std::string("\xFF\xFEk\0=\0\xAC\x20\r\0\n\0x\0", 14)), (Lines{u"k=\u20AC\n", u"x"}));
    EXPECT_EQ(lines(std::string("\xFE\xFF\0k\0=\x20\xAC\0\r\0\n", 12)), (Lines{u"k=\u20AC\n"}));
    // Not valid UTF-8: Windows-1252.
    EXPECT_EQ(lines("caf\xE9 \x80\x92\r\n"), (Lines{u"caf\u00E9 \u20AC\u2019\n"}));
    // One bad byte far into the file makes all of it 8-bit text, lines read before it included.
    std::string longFile;
    for (int i = 0; i < 500; ++i) longFile += "k\xC3\xA9y=1\r\n";
    Lines decoded = lines(longFile + "\xE9\r\n");
    ASSERT_EQ(decoded.size(), 501u);
    EXPECT_EQ(decoded[0], u"k\u00C3\u00A9y=1\n");
    EXPECT_EQ(decoded[500], u"\u00E9\n");
    // Four-byte sequences become surrogate pairs.
    EXPECT_EQ(lines("\xF0\x9F\x98\x80=1\r\n"), (Lines{u"\U0001F600=1\n"}));
    // A lone CR stays, also last; an empty file has no line.
    EXPECT_EQ(lines("a\rb\n"), (Lines{u"a\rb\n"}));
    EXPECT_EQ(lines("a\r\r\nb\r"), (Lines{u"a\r\n", u"b\r"}));
    EXPECT_EQ(lines(""), Lines{});
    // With a UTF-8 mark, bad bytes do not switch to 8-bit reading.
    EXPECT_EQ(lines("\xEF\xBB\xBF"
                    "a\xC3"
                    "b\xED\xA0\x80!\n"),
              (Lines{u"a\uFFFDb\uFFFD\uFFFD\uFFFD!\n"}));
    // UTF-16 with an odd byte count ends with a replacement.
    EXPECT_EQ(lines(std::string("\xFF\xFEo\0k", 5)), (Lines{u"o\uFFFD"}));
}

TEST_F(TextFileTest, LongLinesComeInPiecesOfCapacityMinusOne) {
    std::string line(1024 * 1024, 'x');
    line[0] = 'S';
    line.back() = 'E';
    Lines got = lines(line + "\r\nnext\n", 400);
    const size_t pieces = (line.size() + 1 + 398) / 399;  // the line and its LF
    ASSERT_EQ(got.size(), pieces + 1);
    std::u16string joined;
    for (size_t i = 0; i < pieces; ++i) {
        if (i + 1 < pieces) {
            EXPECT_EQ(got[i].size(), 399u);
        }
        joined += got[i];
    }
    EXPECT_EQ(joined.size(), line.size() + 1);
    EXPECT_EQ(joined.front(), u'S');
    EXPECT_EQ(joined.substr(joined.size() - 2), u"E\n");
    EXPECT_EQ(got.back(), u"next\n");
}

TEST_F(TextFileTest, AppendingWritesCrLfAndCreatesTheFile) {
    EXPECT_TRUE(textFileAppend(u"\\log.txt", "one\n", 4));
    EXPECT_TRUE(textFileAppend(u"\\LOG.txt", "two\nthree", 9));
    EXPECT_EQ(readHost("log.txt"), "one\r\ntwo\r\nthree");
}
