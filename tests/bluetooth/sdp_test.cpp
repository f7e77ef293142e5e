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

int channelOfDescriptors(const std::vector<std::string>& descriptors) {
    return channelOf(response({descriptorsRecord(descriptors)}));
}

// Wraps `inner` in `levels` sequences.
std::string nested(const std::string& inner, int levels) {
    std::string out = inner;
    for (int i = 0; i < levels; ++i) out = sequence({out}, 4);
    return out;
}

}  // namespace

TEST(SdpChannel, RfcommIsRecognisedIn16And32And128BitFormsAndNothingElse) {
    std::string almost = rfcomm128Bytes();
    almost[15] = static_cast<char>(0xFC);
    struct Case {
        std::string uuid;
        int channel;
    } cases[] = {
        {uuid16(3), 7},
        {uuid32(3), 7},
        {uuid128(rfcomm128Bytes()), 7},
        {uuid16(0x0100), -1},      // L2CAP
        {uuid32(0x00010003), -1},  // high bits set
        {uuid128(almost), -1},     // differs in its last byte
    };
    for (const Case& c : cases) EXPECT_EQ(c.channel, channelOfDescriptors({rfcommDescriptor(c.uuid, unsigned8(7))}));
    EXPECT_EQ(0x05, channelOfDescriptors({rfcommDescriptor(uuid16(3), unsigned16(0x0105))}));  // low byte
}

TEST(SdpChannel, DescriptorsThatGiveNoChannelLetTheSearchGoOn) {
    // RFCOMM as the descriptor's last element: nothing from that descriptor.
    std::string rfcommLast = sequence({uuid16(0x0100), uuid16(3)});
    EXPECT_EQ(-1, channelOfDescriptors({rfcommLast}));
    EXPECT_EQ(6, channelOfDescriptors({rfcommLast, rfcommDescriptor(uuid16(3), unsigned8(6))}));
    // Channel 0 (also as the low byte of a wider integer) does not count: the next record's channel is taken.
    EXPECT_EQ(-1, channelOfDescriptors({rfcommDescriptor(uuid16(3), unsigned16(0x0100))}));
    EXPECT_EQ(
        11,
        channelOf(response({descriptorsRecord({rfcommDescriptor(uuid16(3), unsigned8(0))}), serialPortRecord(11)})));
}

TEST(SdpChannel, MalformedInputIsRefusedWithoutReadingPastIt) {
    std::string good = response({serialPortRecord(5)});
    ASSERT_EQ(5, channelOf(good));
    for (size_t n = 0; n < good.size(); ++n) EXPECT_EQ(-1, channelOf(good.substr(0, n))) << "length " << n;
    EXPECT_EQ(-1, channelOf(good + std::string(1, '\0')));
    // A length field that claims more than there is, in 8-, 16- and 32-bit form.
    EXPECT_EQ(-1, channelOf(std::string("\x35\x10\x09\x00", 4)));
    EXPECT_EQ(-1, channelOf(std::string("\x36\xFF\xFF\x09\x00\x04", 6)));
    EXPECT_EQ(-1, channelOf(std::string("\x37\xFF\xFF\xFF\xF0\x09\x00\x04", 8)));
    // Reserved types and sizes that do not fit their type refuse an otherwise good record.
    auto withExtra = [](const std::string& extra) {
        return channelOf(
            response({record({{0x0004, sequence({sequence({uuid16(3), unsigned8(5)})})}, {0x0100, extra}})}));
    };
    ASSERT_EQ(5, withExtra(nil()));
    for (const std::string& bad : {element(9, 0, "\x01"), element(3, 0, "\x03"), element(3, 3, std::string(8, '\0')),
                                   element(5, 1, "\0\1"), element(1, 5, std::string("\x01\x01", 2)),
                                   element(6, 0, "\0")})
        EXPECT_EQ(-1, withExtra(bad));
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
}
