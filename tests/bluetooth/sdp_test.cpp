// The serial port channel read from a remote device's service-attribute
// response.
#include <gtest/gtest.h>

#include "bluetooth/btlink.h"
#include "bluetooth/sdp.h"
#include "tests/support/bluetooth_support.h"

using namespace bttest;

namespace {

std::string rfcommDescriptor(const std::string& uuid, const std::string& channel) {
    return sequence({uuid, channel});
}

// Wraps `inner` in `levels` sequences.
std::string nested(const std::string& inner, int levels) {
    std::string out = inner;
    for (int i = 0; i < levels; ++i) out = sequence({out}, 4);
    return out;
}

}  // namespace

TEST(SdpChannel, TypicalSerialPortRecordGivesItsChannel) {
    EXPECT_EQ(5, channelOf(response({serialPortRecord(5)})));
    EXPECT_EQ(255, channelOf(response({serialPortRecord(255)})));
}

TEST(SdpChannel, RfcommIsRecognisedIn16And32And128BitForms) {
    EXPECT_EQ(7, channelOf(response({descriptorsRecord({rfcommDescriptor(uuid16(3), unsigned8(7))})})));
    EXPECT_EQ(8, channelOf(response({descriptorsRecord({rfcommDescriptor(uuid32(3), unsigned8(8))})})));
    EXPECT_EQ(9, channelOf(response({descriptorsRecord({rfcommDescriptor(uuid128(rfcomm128Bytes()), unsigned8(9))})})));
    // Any other UUID is not RFCOMM: L2CAP, a 32-bit value with high bits, a
    // 128-bit UUID that differs in its last byte.
    std::string almost = rfcomm128Bytes();
    almost[15] = static_cast<char>(0xFC);
    EXPECT_EQ(-1, channelOf(response({descriptorsRecord({rfcommDescriptor(uuid16(0x0100), unsigned8(4))})})));
    EXPECT_EQ(-1, channelOf(response({descriptorsRecord({rfcommDescriptor(uuid32(0x00010003), unsigned8(4))})})));
    EXPECT_EQ(-1, channelOf(response({descriptorsRecord({rfcommDescriptor(uuid128(almost), unsigned8(4))})})));
}

TEST(SdpChannel, ChannelIsTheLowByteOfSmallIntegersAndNothingElse) {
    auto with = [](const std::string& channel) {
        return channelOf(response({descriptorsRecord({rfcommDescriptor(uuid16(3), channel)})}));
    };
    EXPECT_EQ(0x05, with(unsigned16(0x0105)));
    EXPECT_EQ(0x0C, with(unsigned32(0x7700000C)));
    EXPECT_EQ(0x02, with(signed8(2)));
    EXPECT_EQ(0xFE, with(signed16(-2)));
    EXPECT_EQ(0x11, with(signed32(0x11)));
    // 64-bit integers, text and booleans give channel 0, which is no channel.
    EXPECT_EQ(-1, with(unsigned64(3)));
    EXPECT_EQ(-1, with(text("3")));
    EXPECT_EQ(-1, with(boolean(true)));
    // A low byte of 0 is no channel either.
    EXPECT_EQ(-1, with(unsigned16(0x0100)));
}

TEST(SdpChannel, DescriptorsThatGiveNoChannelLetTheSearchGoOn) {
    // RFCOMM as the descriptor's last element: nothing from that descriptor.
    std::string rfcommLast = sequence({uuid16(0x0100), uuid16(3)});
    EXPECT_EQ(-1, channelOf(response({descriptorsRecord({rfcommLast})})));
    EXPECT_EQ(6, channelOf(response({descriptorsRecord({rfcommLast, rfcommDescriptor(uuid16(3), unsigned8(6))})})));
    // Channel 0 does not count: the next record's channel is taken.
    EXPECT_EQ(
        11,
        channelOf(response({descriptorsRecord({rfcommDescriptor(uuid16(3), unsigned8(0))}), serialPortRecord(11)})));
    // Only the first RFCOMM UUID of a descriptor is looked at.
    EXPECT_EQ(-1,
              channelOf(response({descriptorsRecord({sequence({uuid16(3), text("x"), uuid16(3), unsigned8(4)})})})));
    // Elements before RFCOMM that are not UUIDs are passed over.
    EXPECT_EQ(4, channelOf(response({descriptorsRecord({sequence({unsigned8(9), uuid16(3), unsigned8(4)})})})));
}

TEST(SdpChannel, OnlyAttributeFourAsAContainerIsSearched) {
    // The descriptor list under another attribute id is not looked at.
    std::string elsewhere = record({{0x0009, sequence({rfcommDescriptor(uuid16(3), unsigned8(3))})}});
    EXPECT_EQ(-1, channelOf(response({elsewhere})));
    // Attribute 4 that is no container, then a good record.
    std::string plain = record({{0x0004, uuid16(3)}, {0x0005, unsigned8(3)}});
    EXPECT_EQ(12, channelOf(response({plain, serialPortRecord(12)})));
    // An alternative holds descriptors just as a sequence does.
    std::string alt = record({{0x0004, alternative({rfcommDescriptor(uuid16(3), unsigned8(13))})}});
    EXPECT_EQ(13, channelOf(response({alt})));
    // A record with no records: nothing.
    EXPECT_EQ(-1, channelOf(response({})));
}

TEST(SdpChannel, EveryElementKindAndSizeFieldIsReadThrough) {
    std::string longText(300, 'a');
    std::string rich = record({{0x0000, unsigned32(0x10000)},
                               {0x0002, nil()},
                               {0x0003, uuid128(std::string(16, '\x11'))},
                               {0x0006, text("en", 2)},
                               {0x0007, text(longText, 4)},
                               {0x0008, url("http://x", 2)},
                               {0x000A, url("u", 4)},
                               {0x000B, boolean(false)},
                               {0x000C, sequence({unsigned64(1), element(1, 4, std::string(16, '\x01'))}, 4)},
                               {0x0004, sequence({rfcommDescriptor(uuid16(3), unsigned8(21))}, 2)}});
    EXPECT_EQ(21, channelOf(sequence({rich}, 4)));
    EXPECT_EQ(21, channelOf(sequence({rich}, 2)));
}

TEST(SdpChannel, MalformedInputIsRefusedWithoutReadingPastIt) {
    std::string good = response({serialPortRecord(5)});
    ASSERT_EQ(5, channelOf(good));
    // Every truncation of a good response.
    for (size_t n = 0; n < good.size(); ++n) EXPECT_EQ(-1, channelOf(good.substr(0, n))) << "length " << n;
    // Bytes after the response.
    EXPECT_EQ(-1, channelOf(good + std::string(1, '\0')));
    // A length field that claims more than there is, in 8-, 16- and 32-bit form.
    EXPECT_EQ(-1, channelOf(std::string("\x35\x10\x09\x00", 4)));
    EXPECT_EQ(-1, channelOf(std::string("\x36\xFF\xFF\x09\x00\x04", 6)));
    EXPECT_EQ(-1, channelOf(std::string("\x37\xFF\xFF\xFF\xF0\x09\x00\x04", 8)));
    // Reserved types and sizes that do not fit their type, inside an
    // otherwise good record: the whole response is refused.
    auto withExtra = [](const std::string& extra) {
        return channelOf(
            response({record({{0x0004, sequence({sequence({uuid16(3), unsigned8(5)})})}, {0x0100, extra}})}));
    };
    ASSERT_EQ(5, withExtra(nil()));
    EXPECT_EQ(-1, withExtra(element(9, 0, "\x01")));  // reserved type
    EXPECT_EQ(-1, withExtra(element(31, 5, std::string(1, '\0'))));
    EXPECT_EQ(-1, withExtra(element(3, 0, "\x03")));                      // 1-byte UUID
    EXPECT_EQ(-1, withExtra(element(3, 3, std::string(8, '\0'))));        // 8-byte UUID
    EXPECT_EQ(-1, withExtra(element(0, 1, "\0\0")));                      // nil with a size
    EXPECT_EQ(-1, withExtra(element(5, 1, "\0\1")));                      // 2-byte boolean
    EXPECT_EQ(-1, withExtra(element(1, 5, std::string("\x01\x01", 2))));  // integer with a length field
    EXPECT_EQ(-1, withExtra(element(4, 0, "a")));                         // text of fixed size
    EXPECT_EQ(-1, withExtra(element(6, 0, "\0")));                        // sequence of fixed size
    // An inner element that runs past its container's end.
    std::string inner = serialPortRecord(5);
    std::string lying = std::string("\x35", 1) + std::string(1, static_cast<char>(inner.size() - 1)) + inner;
    EXPECT_EQ(-1, channelOf(lying.substr(0, lying.size() - 1)));
    EXPECT_EQ(-1, channelOf(""));
}

TEST(SdpChannel, NestingBeyondSixteenLevelsIsRefused) {
    // Response (1), record (2), and an attribute value nested to the limit.
    auto withDepth = [](int valueLevels) {
        std::string rec = record({{0x0004, sequence({rfcommDescriptor(uuid16(3), unsigned8(3))})},
                                  {0x0200, nested(unsigned8(1), valueLevels)}});
        return channelOf(response({rec}));
    };
    EXPECT_EQ(3, withDepth(14));
    EXPECT_EQ(-1, withDepth(15));
    EXPECT_EQ(-1, withDepth(2000));
    std::string deep = nested("", 16);
    EXPECT_EQ(1, sdpValidate(reinterpret_cast<const unsigned char*>(deep.data()), deep.size()));
    deep = nested("", 17);
    EXPECT_EQ(0, sdpValidate(reinterpret_cast<const unsigned char*>(deep.data()), deep.size()));
}
