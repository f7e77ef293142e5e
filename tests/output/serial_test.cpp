// Serial framing byte for byte, and the serial output on a real
// pseudo-terminal: sequence numbers, a peer that goes away, reopening.
#include <gtest/gtest.h>

#include <string>

#include "output/delivery.h"
#include "output/framing.h"
#include "platform/host/terminal.h"
#include "scan/engine.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"

namespace outputtest {
namespace {

const std::string kDecodeResultHeader = "DECRES2P\"9\"CID\"]Z9\"AID0INDREQ";
const std::string kCommandHeader = "MNUCMD2P0RSPREQ\"\"DEVNAME0CMDRSPREQ1INDREQ";

std::string frameOf(SerialFraming framing, const std::string& data) {
    unsigned char frame[kFrameBytes + 64];
    std::fill(frame, frame + sizeof frame, 0xAA);
    size_t length = buildFrame(framing, data.data(), static_cast<int>(data.size()), frame);
    EXPECT_LE(length, static_cast<size_t>(kFrameBytes));
    for (size_t i = kFrameBytes; i < sizeof frame; ++i) EXPECT_EQ(0xAA, frame[i]) << "written past the frame";
    return std::string(reinterpret_cast<char*>(frame), length);
}

// Bit by bit, as the polynomial defines it.
uint16_t crcBitwise(const std::string& bytes) {
    uint16_t crc = 0;
    for (unsigned char b : bytes) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
    }
    return crc;
}

std::string xr1(int sequence, const std::string& data) {
    std::string f("\x01XR1\0\0\0\x01", 8);
    f += static_cast<char>(sequence);
    f += std::string("\0\0\0\x01\0", 5);
    f += static_cast<char>(data.size() & 0xFF);
    f += data;
    uint16_t crc = crcBitwise(f);
    f += static_cast<char>(crc >> 8);
    f += static_cast<char>(crc & 0xFF);
    return f;
}

uint32_t lengthField(const std::string& frame) {
    return static_cast<unsigned char>(frame[2]) | static_cast<unsigned char>(frame[3]) << 8 |
           static_cast<unsigned char>(frame[4]) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(frame[5])) << 24;
}

TEST(Framing, TaggedDecodeResultAndCommand) {
    std::string expected = std::string("\x16\xFE\x23\x00\x00\x00\x0D", 7) + kDecodeResultHeader + "\x1D" + "12345";
    EXPECT_EQ(hex(expected), hex(frameOf(FramingTagged, "12345")));

    // A command needs the tilde and the final full stop; without it, a decode result.
    std::string frame = frameOf(FramingTagged, "~PING.");
    ASSERT_EQ(60u, frame.size());
    EXPECT_EQ(53u, lengthField(frame));
    EXPECT_EQ(kCommandHeader + "\x1D" + "=AT:0;PING.", frame.substr(7));
    std::string result = frameOf(FramingTagged, "~ABC");
    EXPECT_EQ(34u, lengthField(result));
    EXPECT_EQ(kDecodeResultHeader + "\x1D~ABC", result.substr(7));
}

TEST(Framing, Crc16XmodemCheckValueAndTable) {
    const unsigned char check[] = "123456789";
    EXPECT_EQ(0x31C3, crc16Xmodem(check, 9));
    EXPECT_EQ(0, crc16Xmodem(check, 0));
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i * 37 + 11);
    EXPECT_EQ(crcBitwise(bytes), crc16Xmodem(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

TEST(Framing, Xr1RecordWithSequenceNumberAndCrcHighByteFirst) {
    frameSequenceCounter.store(1);
    EXPECT_EQ(hex(xr1(1, "12345")), hex(frameOf(FramingXr1, "12345")));
    EXPECT_EQ(2u, frameSequenceCounter.load());

}

// Binary data: a zero byte neither ends the record nor makes "~...." a command.
TEST(Framing, ZeroBytesAreCarriedWholeAndCountedByTheLengthFields) {
    frameSequenceCounter.store(3);
    std::string data("ab\0cd", 5);
    EXPECT_EQ(hex(xr1(3, data)), hex(frameOf(FramingXr1, data)));
    std::string tagged = frameOf(FramingTagged, std::string("~A.\0B", 5));
    EXPECT_EQ(5u + 30u, lengthField(tagged));
    EXPECT_EQ(std::string("\x1D~A.\0B", 6), tagged.substr(tagged.size() - 6));
}

TEST(Framing, TwoByteHeaderAndRaw) {
    EXPECT_EQ(std::string("\x01\x02") + "abc", frameOf(FramingHeader, "abc"));
    EXPECT_EQ("abc", frameOf(FramingRaw, "abc"));
    EXPECT_EQ("abc", frameOf(framingOf(9), "abc"));  // any other mode is raw
    EXPECT_EQ("", frameOf(FramingRaw, ""));
}

TEST(Framing, OversizedDataIsCutSoTheFrameFitsAndItsLengthAgrees) {
    std::string big(3000, 'x');
    for (const std::string& data : {big, "~" + std::string(2000, 'c') + "."}) {
        std::string tagged = frameOf(FramingTagged, data);
        EXPECT_EQ(1024u, tagged.size());
        EXPECT_EQ(tagged.size() - 7, lengthField(tagged));
    }
    frameSequenceCounter.store(1);
    std::string record = frameOf(FramingXr1, big);
    EXPECT_EQ(1024u, record.size());
    EXPECT_EQ(static_cast<char>(1007 & 0xFF), record[14]);
    EXPECT_EQ(static_cast<char>(crcBitwise(record.substr(0, 1022)) >> 8), record[1022]);
    EXPECT_EQ(1024u, frameOf(FramingHeader, big).size());
    EXPECT_EQ(1024u, frameOf(FramingRaw, big).size());
    // Exactly at the limit nothing is cut.
    EXPECT_EQ(1024u, frameOf(FramingTagged, std::string(987, 'y')).size());
    EXPECT_EQ(1023u, frameOf(FramingTagged, std::string(986, 'y')).size());
}

class SerialOutput : public OutputTerminal {
protected:
    void send(const std::string& data) {
        std::u16string text(data.begin(), data.end());
        deliverText(nullptr, text.c_str(), nullptr, 0, 0, static_cast<int>(text.size()));
    }
    void SetUp() override {
        OutputTerminal::SetUp();
        settings.SendToForegroundApp = 0;
    }
};

TEST_F(SerialOutput, Xr1SequenceStartsAtOneAfterOpeningAndWrapsAfter127) {
    settings.ConnectingTo = FramingXr1;
    frameSequenceCounter.store(77);
    ASSERT_TRUE(attachSerialPeer());
    send("a");
    send("b");
    EXPECT_EQ(hex(xr1(1, "a") + xr1(2, "b")), hex(peerBytes(36)));

    frameSequenceCounter.store(126);
    send("c");
    send("d");
    send("e");
    EXPECT_EQ(hex(xr1(126, "c") + xr1(127, "d") + xr1(0, "e")), hex(peerBytes(54)));
}

TEST_F(SerialOutput, APeerThatGoesAwayClosesThePortAndTheNextDeliveryReopensIt) {
    settings.ConnectingTo = FramingXr1;
    ASSERT_TRUE(attachSerialPeer());
    send("one");
    send("two");
    EXPECT_EQ(hex(xr1(1, "one") + xr1(2, "two")), hex(peerBytes(40)));
    size_t soundsBefore = terminal::sounds().size();

    closePeer();
    send("lost");
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    std::vector<terminal::SoundRecord> sounds = terminal::sounds();
    ASSERT_GT(sounds.size(), soundsBefore);
    EXPECT_EQ("resource:135", sounds.back().sound);
    std::vector<std::string> closed = traceOf({"Closed"});
    EXPECT_EQ(3u, closed.size());  // two good writes and the failed one

    // A new peer on the same port: the next delivery reopens and numbering restarts.
    ASSERT_TRUE(attachSerialPeer(3, false));
    send("again");
    EXPECT_NE(INVALID_HANDLE_VALUE, serialPortHandle.load());
    EXPECT_EQ(hex(xr1(1, "again")), hex(peerBytes(22)));
}

TEST_F(SerialOutput, NothingIsSentWhenThePortCannotBeReopened) {
    ASSERT_TRUE(attachSerialPeer());
    closeSerialPort();
    terminal::setPortPath(3, "none");
    send("xyz");
    EXPECT_EQ(INVALID_HANDLE_VALUE, serialPortHandle.load());
    EXPECT_EQ("", peerBytes(1, 200));
    EXPECT_TRUE(traceOf({"Closed"}).empty());
}

}  // namespace
}  // namespace outputtest
