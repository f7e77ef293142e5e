// The decoder calls bound by ordinal against the stand-in scan engine: what a
// single and a multi decode read, how they wait, and the records they exchange.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "settings/settings.h"
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

TEST_F(DecoderTest, SingleDecodeFillsTheBufferAndIdentifiers) {
    terminal::putInView(code("ABC-123", kCode128, 240, 'j'));
    ASSERT_EQ(0, single());
    EXPECT_STREQ("ABC-123", decodeBuffer);
    EXPECT_EQ(7, decodeLength);
    EXPECT_EQ('j', symbologyLetterOut);
    EXPECT_EQ('X', secondIdentifierOut);
    EXPECT_EQ('0', thirdIdentifierOut);
}

TEST_F(DecoderTest, SingleDecodeReadsOnlyWhatTheEngineIsSetToRead) {
    SymbologyConfig c{20, 7, 0x1, 5, 8};
    ASSERT_EQ(0, decoderWriteSymbology(kCode128, &c));
    terminal::putInView(code("1234", kCode128));       // too short
    terminal::putInView(code("123456789", kCode128));  // too long
    EXPECT_NE(0, single(30));
    terminal::putInView(code("12345", kCode128));
    ASSERT_EQ(0, single(30));
    EXPECT_STREQ("12345", decodeBuffer);

    c.flags = 0;  // switched off
    ASSERT_EQ(0, decoderWriteSymbology(kCode128, &c));
    EXPECT_NE(0, single(30));
    terminal::putInView(code("any symbology"));  // no symbology given: always read
    ASSERT_EQ(0, single(30));
    EXPECT_STREQ("any symbology", decodeBuffer);
}

TEST_F(DecoderTest, DecodeWindowLimitsTheRowsRead) {
    terminal::putInView(code("top", -1, 50));
    terminal::putInView(code("bottom", -1, 400));
    int32_t enable = 1;
    DecodeWindowRect rect{0, 300, 639, 479};
    ASSERT_EQ(0, decoderWriteWindow(&enable, &rect));
    ASSERT_EQ(0, single(30));
    EXPECT_STREQ("bottom", decodeBuffer);
    EXPECT_EQ((std::vector<int32_t>{1, 0, 300, 639, 479}), terminal::decodeWindow());

    int32_t readEnable = 0;
    DecodeWindowRect readRect{};
    ASSERT_EQ(0, decoderReadWindow(&readEnable, &readRect));
    EXPECT_EQ(1, readEnable);
    EXPECT_EQ(300, readRect.top);
    enable = 0;
    ASSERT_EQ(0, decoderWriteWindow(&enable, &rect));
    ASSERT_EQ(0, single(30));
    EXPECT_STREQ("top", decodeBuffer);
}

TEST_F(DecoderTest, SingleDecodeWaitsUntilTimeOutOrKeepGoingEnds) {
    DWORD start = GetTickCount();
    EXPECT_NE(0, single(200));
    EXPECT_GE(GetTickCount() - start, 200u);

    keepGoingLimit = 3;
    EXPECT_NE(0, single(1000000, countedKeepGoing));
    EXPECT_EQ(3, keepGoingCalls.load());
}

TEST_F(DecoderTest, SingleDecodeReadsABarcodeThatComesIntoViewLater) {
    std::thread later([] {
        Sleep(100);
        terminal::putInView(code("late"));
    });
    int result = single(100000);
    later.join();
    ASSERT_EQ(0, result);
    EXPECT_STREQ("late", decodeBuffer);
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

TEST_F(DecoderTest, MultiDecodeDataIsBoundedByItsLength) {
    terminal::putInView(code(std::string("bin\0ary", 7)));
    wantMore = 1;
    uint8_t collected = 0;
    ASSERT_EQ(0, decoderMultiDecode(1000, collect, alwaysKeepGoing, &collected));
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(std::string("bin\0ary", 7), received[0]);
}

TEST_F(DecoderTest, MultiDecodeUnsupportedAnswersTen) {
    terminal::setConfig("multidecode", "0");
    terminal::putInView(code("one"));
    wantMore = 1;
    uint8_t collected = 0;
    EXPECT_EQ(kMultiDecodeUnsupported, decoderMultiDecode(1000, collect, alwaysKeepGoing, &collected));
    EXPECT_TRUE(received.empty());
}

TEST_F(DecoderTest, RecordsOfTheWrongFormAndValuesOutOfRangeAreRefused) {
    SymbologyConfig mixed{12, 7, 0, 0, 0};
    EXPECT_NE(0, decoderReadSymbology(kCode128, &mixed));
    SymbologyConfig shortForm{12, 1, 0, 0xAAAA, 0xBBBB};
    ASSERT_EQ(0, decoderReadSymbology(kCode128, &shortForm));
    EXPECT_EQ(0x1u, shortForm.flags);
    EXPECT_EQ(0xAAAAu, shortForm.minLength);  // the short form leaves the lengths alone
    EXPECT_NE(0, decoderReadSymbology(64, &shortForm));

    int32_t mode = 3;
    ASSERT_EQ(0, decoderWriteLightsMode(&mode));
    EXPECT_EQ(3, terminal::lightsMode());
    mode = 4;
    EXPECT_NE(0, decoderWriteLightsMode(&mode));
    mode = -1;
    ASSERT_EQ(0, decoderReadLightsMode(&mode));
    EXPECT_EQ(3, mode);

    EXPECT_EQ(0, decoderAimer(1));
    EXPECT_TRUE(terminal::aimerOn());
    EXPECT_EQ(0, decoderAimer(0));
    EXPECT_FALSE(terminal::aimerOn());
}

TEST_F(DecoderTest, ConnectAndDisconnectSwitchTheEngine) {
    EXPECT_EQ(0, decoderConnect());
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_EQ(0, decoderDisconnect());
    EXPECT_FALSE(terminal::engineConnected());
    terminal::setConfig("engine", "fail");
    EXPECT_NE(0, decoderConnect());
    EXPECT_FALSE(terminal::engineConnected());
}

TEST_F(DecoderTest, KeepGoingFollowsPresentationModeAndTheScanKey) {
    EXPECT_EQ(0, keepGoing());
    terminal::pressKey(42);
    EXPECT_EQ(1, keepGoing());
    terminal::releaseKey(42);
    EXPECT_EQ(0, keepGoing());
    settings.PresentationMode.store(1);
    EXPECT_EQ(1, keepGoing());
    settings.PresentationMode.store(0);
}

}  // namespace
}  // namespace scanengine
