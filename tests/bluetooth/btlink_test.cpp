// The Bluetooth virtual COM port on the host terminal: address texts, COM
// indexes, channel discovery and its failure message.
#include <gtest/gtest.h>

#include <string>

#include "bluetooth/btlink.h"
#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "tests/support/bluetooth_support.h"

using namespace bttest;

namespace {

class BluetoothLink : public BluetoothTerminal {
protected:
    // The device registered at `index`, or an entry with index -1.
    static terminal::ComDevice deviceAt(int index) {
        for (const terminal::ComDevice& d : terminal::comDevices())
            if (d.index == index) return d;
        return terminal::ComDevice{-1, false, 0, 0, false, 0};
    }
};

}  // namespace

TEST_F(BluetoothLink, AddressesWithColonsDashesOrNoSeparatorsNameTheSameRemote) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00:a1:B2:c3:D4:e5", 2, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00-A1-B2-C3-D4-E5", 3, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 4, 0, 0));
    for (int index : {2, 3, 4}) {
        terminal::ComDevice d = deviceAt(index);
        EXPECT_TRUE(d.bluetooth && !d.local) << index;
        EXPECT_EQ(kRemoteA, d.address) << index;
        EXPECT_EQ(4, d.channel) << index;
    }
    EXPECT_EQ(std::vector<uint64_t>({kRemoteA, kRemoteA, kRemoteA}), terminal::serviceSearches());
    // The socket layer was stopped as often as it was started.
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
}

TEST_F(BluetoothLink, BadAddressesAndIndexesAreRefusedWithoutASearch) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    struct Case {
        const char16_t* address;
        int index;
        int result;
    } cases[] = {
        {u"00:A1:B2:C3:D4:E", 2, BtPortBadAddress},     // 11 digits
        {u"00:A1:B2:C3:D4:E5:6", 2, BtPortBadAddress},  // 13 digits
        {u"xyz", 2, BtPortBadAddress},
        {u"00A1B2C3D4E5", 10, BtPortBadIndex},
        {u"00A1B2C3D4E5", -1, BtPortBadIndex},  // what the free-index search gives when all are taken
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, createBluetoothPort(c.address, c.index, 0, 0)) << c.index;
    EXPECT_TRUE(terminal::serviceSearches().empty());
    EXPECT_TRUE(terminal::comDevices().empty());
    EXPECT_TRUE(terminal::messageBoxes().empty());
}

TEST_F(BluetoothLink, OneCharacterOrMissingAddressMakesALocalServerPortOnChannel254) {
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"X", 5, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(nullptr, 6, 0, 0));
    for (int index : {5, 6}) {
        terminal::ComDevice d = deviceAt(index);
        EXPECT_TRUE(d.local) << index;
        EXPECT_EQ(254, d.channel) << index;
        EXPECT_EQ(0u, d.address) << index;
    }
    EXPECT_TRUE(terminal::serviceSearches().empty());
}

TEST_F(BluetoothLink, FreeIndexSearchTakesTheLowestFreeAndGivesMinusOneWhenAllTenAreTaken) {
    ASSERT_TRUE(terminal::occupyComIndex(0));
    ASSERT_TRUE(terminal::occupyComIndex(1));
    ASSERT_TRUE(terminal::occupyComIndex(3));
    EXPECT_EQ(2, findFreeComIndex());
    for (int i = 0; i < 10; ++i) terminal::occupyComIndex(i);
    EXPECT_EQ(-1, findFreeComIndex());
    EXPECT_EQ(1, removeComDevice(7));
    EXPECT_EQ(7, findFreeComIndex());
}

TEST_F(BluetoothLink, ChannelArgumentSkipsTheSearchAndSetsPortFlagsByType) {
    const unsigned flags[] = {2, 10, 6, 14, 0};
    for (int type = 0; type < 5; ++type) {
        ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", type, 3, type));
        EXPECT_EQ(3, deviceAt(type).channel);
        EXPECT_EQ(flags[type], deviceAt(type).portFlags) << "type " << type;
    }
    EXPECT_TRUE(terminal::serviceSearches().empty());  // the remote is not even in range
}

TEST_F(BluetoothLink, RemoteWithoutSerialPortServiceShowsTheMessageAndGivesCodeFour) {
    terminal::putRemoteDevice(kRemoteA, response({descriptorsRecord({sequence({uuid16(0x0100), uuid16(3)})})}));
    terminal::putSilentRemoteDevice(kRemoteB);
    ASSERT_TRUE(terminal::occupyComIndex(4));
    // In range without the service, silent, and out of range.
    for (const char16_t* address : {u"00A1B2C3D4E5", u"0080F7123456", u"112233445566"})
        EXPECT_EQ(BtPortNoService, createBluetoothPort(address, 4, 0, 0));
    EXPECT_EQ(std::vector<uint64_t>({kRemoteA, kRemoteB, 0x112233445566ULL}), terminal::serviceSearches());
    auto boxes = terminal::messageBoxes();
    ASSERT_EQ(3u, boxes.size());
    for (const auto& box : boxes) {
        EXPECT_EQ(u"Failed to find serial port service on the remote device.", box.text);
        EXPECT_EQ(u"Keyvane", box.caption);
    }
    // The device that held the index is gone, and nothing took its place.
    EXPECT_TRUE(terminal::comDevices().empty());
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
}

TEST_F(BluetoothLink, AnswerLargerThanTheResultBufferFindsNoService) {
    auto withName = [](size_t length) {
        return response({record({{0x0004, sequence({sequence({uuid16(3), unsigned8(4)})})},
                                 {0x0100, text(std::string(length, 'p'), 2)}})});
    };
    terminal::putRemoteDevice(kRemoteA, withName(5200));  // beyond the 5000-byte buffer
    EXPECT_EQ(BtPortNoService, createBluetoothPort(u"00A1B2C3D4E5", 2, 0, 0));
    terminal::putRemoteDevice(kRemoteA, withName(4000));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 2, 0, 0));
}
