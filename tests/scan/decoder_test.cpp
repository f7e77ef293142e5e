// The decoder calls bound by ordinal against the stand-in scan engine: what a
// single and a multi decode read, and the records they exchange.
#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "tests/support/scanengine_support.h"

namespace scanengine {
namespace {

constexpr int kCode128 = 3;

terminal::Barcode code(const std::string& data, int symbologyId = -1, int row = 240, char letter = 'j') {
    terminal::Barcode b;
    b.data = data;
    b.symbologyId = symbologyId;
    b.row = row;
    b.symbologyLetter = letter;
    b.second = 'X';
    b.third = '0';
    return b;
}

std::atomic<int> keepGoingCalls{0};
std::atomic<int> keepGoingLimit{0};
int countedKeepGoing() {
    return ++keepGoingCalls < keepGoingLimit.load() ? 1 : 0;
}
int alwaysKeepGoing() {
    return 1;
}

std::vector<std::string> received;
std::vector<uint8_t> receivedLetters;
std::atomic<int> wantMore{0};
int collect(DecodeResult* r) {
    received.emplace_back(r->data, r->length);
    receivedLetters.push_back(r->symbologyLetter);
    return --wantMore > 0 ? 1 : 0;
}

class DecoderTest : public EngineTerminal {
protected:
    void SetUp() override {
        EngineTerminal::SetUp();
        received.clear();
        receivedLetters.clear();
        keepGoingCalls = 0;
        keepGoingLimit = 1 << 30;
    }
    int single(DWORD timeout = 100, KeepGoingCallback keepGoing = alwaysKeepGoing) {
        std::memset(decodeBuffer, 0x55, sizeof decodeBuffer);
        return decoderSingleDecode(timeout, decodeBuffer, &symbologyLetterOut, &secondIdentifierOut,
                                   &thirdIdentifierOut, &decodeLength, keepGoing);
    }
};

TEST_F(DecoderTest, SingleDecodeReadsOnlyWhatTheEngineIsSetToRead) {
    SymbologyConfig c{20, 7, 0x1, 5, 8};
    ASSERT_EQ(0, decoderWriteSymbology(kCode128, &c));
    terminal::putInView(code("1234", kCode128));       // too short
    terminal::putInView(code("123456789", kCode128));  // too long
    EXPECT_NE(0, single(30));
    terminal::putInView(code("12345", kCode128, 240, 'j'));
    ASSERT_EQ(0, single(30));
    EXPECT_STREQ("12345", decodeBuffer);
    EXPECT_EQ(5, decodeLength);
    EXPECT_EQ('j', symbologyLetterOut);
    EXPECT_EQ('X', secondIdentifierOut);

    c.flags = 0;  // switched off
    ASSERT_EQ(0, decoderWriteSymbology(kCode128, &c));
    EXPECT_NE(0, single(30));
    terminal::putInView(code("any symbology"));  // no symbology given: always read
    ASSERT_EQ(0, single(30));
    EXPECT_STREQ("any symbology", decodeBuffer);
}

TEST_F(DecoderTest, LongestBarcodeIsCutToFitTheBufferWithItsTerminator) {
    std::vector<char> guarded(kDecodeBufferBytes + 16, 0x77);
    terminal::putInView(code(std::string(5000, 'q')));
    uint16_t length = 0;
    uint8_t letter = 0, second = 0, third = 0;
    ASSERT_EQ(0, decoderSingleDecode(50, guarded.data(), &letter, &second, &third, &length, alwaysKeepGoing));
    EXPECT_EQ(kDecodeBufferBytes - 1, length);
    EXPECT_EQ(0, guarded[kDecodeBufferBytes - 1]);
    EXPECT_EQ(0x77, guarded[kDecodeBufferBytes]);
}

TEST_F(DecoderTest, MultiDecodeHandsEachBarcodeOnceUntilTheHandlerIsDone) {
    terminal::putInView(code("one", -1, 240, 'a'));
    terminal::putInView(code("two", -1, 240, 'b'));
    wantMore = 2;
    uint8_t collected = 0;
    EXPECT_EQ(0, decoderMultiDecode(1000, collect, alwaysKeepGoing, &collected));
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), received);
    EXPECT_EQ((std::vector<uint8_t>{'a', 'b'}), receivedLetters);

    // A handler that wants more waits for new barcodes, not the same ones again.
    received.clear();
    wantMore = 100;
    keepGoingLimit = 400;
    keepGoingCalls = 0;
    std::thread later([] {
        Sleep(50);
        terminal::putInView(code("three"));
    });
    EXPECT_NE(0, decoderMultiDecode(100000, collect, countedKeepGoing, &collected));
    later.join();
    EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), received);
}

// The engine decodes at most once a frame: a decode within a frame of the
// previous one's return looks only once the frame has passed (here: never
// before the trigger is released), while the first decode looks at once.
TEST_F(DecoderTest, ADecodeLooksOnlyOnceAFrameHasPassedSinceThePreviousReturned) {
    terminal::setClockSpeed(1);
    terminal::setConfig("frame", "10000ms");
    ASSERT_EQ(10000u, terminal::frameMilliseconds());
    terminal::putInView(code("held"));
    ASSERT_EQ(0, single(0));
    EXPECT_STREQ("held", decodeBuffer);

    keepGoingLimit = 3;
    keepGoingCalls = 0;
    EXPECT_NE(0, single(0, countedKeepGoing));
    EXPECT_EQ(3, keepGoingCalls.load());
    uint8_t collected = 0;
    wantMore = 1;
    keepGoingCalls = 0;
    EXPECT_NE(0, decoderMultiDecode(0, collect, countedKeepGoing, &collected));
    EXPECT_TRUE(received.empty());

    // Frame 0: every decode answers at once, as soon as it is called.
    terminal::setConfig("frame", "0");
    EXPECT_EQ(0, single(0));
    EXPECT_EQ(0, single(0));
    EXPECT_EQ(0, decoderMultiDecode(0, collect, alwaysKeepGoing, &collected));
    EXPECT_EQ(std::vector<std::string>{"held"}, received);

    terminal::setConfig("frame", "fast");  // unreadable: the default
    EXPECT_EQ(33u, terminal::frameMilliseconds());
    terminal::setConfig("frame", "20");
    EXPECT_EQ(20u, terminal::frameMilliseconds());
}

TEST_F(DecoderTest, RecordsOfTheWrongFormAndIdsOutOfRangeAreRefused) {
    SymbologyConfig mixed{12, 7, 0, 0, 0};
    EXPECT_NE(0, decoderReadSymbology(kCode128, &mixed));
    SymbologyConfig shortForm{12, 1, 0, 0xAAAA, 0xBBBB};
    ASSERT_EQ(0, decoderReadSymbology(kCode128, &shortForm));
    EXPECT_EQ(0x1u, shortForm.flags);
    EXPECT_EQ(0xAAAAu, shortForm.minLength);  // the short form leaves the lengths alone
    EXPECT_NE(0, decoderReadSymbology(64, &shortForm));
}

// The Windows library exports by ordinal alone what its Decoder.def lists:
// every call of the list, in its order, and nothing else.
TEST(DecoderLibrary, TheWindowsExportListNamesEveryCallByItsOrdinal) {
    std::ifstream in(std::string(KEYVANE_SOURCE_DIR) + "/platform/decoder/win32/Decoder.def");
    ASSERT_TRUE(in);
    std::vector<std::string> listed;
    for (std::string line; std::getline(in, line);) {
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        if (first != std::string::npos) listed.push_back(line.substr(first, last - first + 1));
    }
    std::vector<std::string> expected{"LIBRARY Decoder", "EXPORTS"};
#define EXPORT_LINE(ordinal, name, result, parameters) expected.push_back("ordinal_" #ordinal " @" #ordinal " NONAME");
    DECODER_CALLS(EXPORT_LINE)
#undef EXPORT_LINE
    EXPECT_EQ(expected, listed);
}

}  // namespace
}  // namespace scanengine
