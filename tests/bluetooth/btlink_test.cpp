// The Bluetooth virtual COM port on the host terminal: COM indexes, address
// texts, channel discovery with its message, registration and what reaches
// the remote device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "bluetooth/btlink.h"
#include "platform/host/objects.h"
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

uint64_t parsed(const char16_t* text, int* ok) {
    uint64_t address = 0xDEAD;
    *ok = parseBluetoothAddress(text, &address);
    return address;
}

}  // namespace

TEST(BluetoothAddress, TwelveHexDigitsAfterBlanksEndingAtABlankOrTheEnd) {
    int ok = 0;
    EXPECT_EQ(0x00A1B2C3D4E5ULL, parsed(u"00a1B2c3D4e5", &ok));
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0xF0000000000FULL, parsed(u"  F0000000000F rest", &ok));
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0xFFFFFFFFFFFFULL, parsed(u"\tFFFFFFFFFFFF", &ok));
    EXPECT_EQ(1, ok);
    for (const char16_t* bad :
         {u"00A1B2C3D4E", u"00A1B2C3D4E5F", u"00:A1:B2:C3:D4:E5", u"00A1B2C3D4E5:", u"", u"  ", u"00A1B2C3D4EG"}) {
        parsed(bad, &ok);
        EXPECT_EQ(0, ok);
    }
    uint64_t untouched = 7;
    EXPECT_EQ(0, parseBluetoothAddress(nullptr, &untouched));
}

TEST_F(BluetoothLink, AddressesWithColonsDashesOrNoSeparatorsNameTheSameRemote) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00:a1:B2:c3:D4:e5", 2, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00-A1-B2-C3-D4-E5", 3, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 4, 0, 0));
    for (int index : {2, 3, 4}) {
        terminal::ComDevice d = deviceAt(index);
        EXPECT_TRUE(d.bluetooth) << index;
        EXPECT_EQ(kRemoteA, d.address) << index;
        EXPECT_EQ(4, d.channel) << index;
        EXPECT_FALSE(d.local) << index;
        EXPECT_EQ(2u, d.portFlags) << index;
    }
    EXPECT_EQ(std::vector<uint64_t>({kRemoteA, kRemoteA, kRemoteA}), terminal::serviceSearches());
    // The socket layer was stopped as often as it was started.
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
}

TEST_F(BluetoothLink, ElevenOrThirteenDigitsGiveCodeThreeWithoutASearch) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    EXPECT_EQ(BtPortBadAddress, createBluetoothPort(u"00:A1:B2:C3:D4:E", 2, 0, 0));
    EXPECT_EQ(BtPortBadAddress, createBluetoothPort(u"00:A1:B2:C3:D4:E5:6", 2, 0, 0));
    EXPECT_EQ(BtPortBadAddress, createBluetoothPort(u"xyz", 2, 0, 0));
    EXPECT_TRUE(terminal::serviceSearches().empty());
    EXPECT_TRUE(terminal::comDevices().empty());
    EXPECT_TRUE(terminal::messageBoxes().empty());
}

TEST_F(BluetoothLink, ShortOrMissingAddressMakesALocalServerPortOnChannel254) {
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"X", 5, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(nullptr, 6, 0, 0));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"", 7, 0, 0));
    for (int index : {5, 6, 7}) {
        terminal::ComDevice d = deviceAt(index);
        EXPECT_TRUE(d.local) << index;
        EXPECT_EQ(254, d.channel) << index;
        EXPECT_EQ(0u, d.address) << index;
    }
    EXPECT_TRUE(terminal::serviceSearches().empty());
}

TEST_F(BluetoothLink, IndexesOutsideZeroToNineAreRefusedAtOnce) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    EXPECT_EQ(BtPortBadIndex, createBluetoothPort(u"00A1B2C3D4E5", 10, 0, 0));
    // The free-index search's -1 (all taken) fails the same way.
    EXPECT_EQ(BtPortBadIndex, createBluetoothPort(u"00A1B2C3D4E5", -1, 0, 0));
    EXPECT_TRUE(terminal::serviceSearches().empty());
    EXPECT_TRUE(terminal::comDevices().empty());
    EXPECT_EQ(0, removeComDevice(10));
    EXPECT_EQ(0, removeComDevice(-1));
}

TEST_F(BluetoothLink, FreeIndexSearchTakesTheLowestFreeAndGivesMinusOneWhenAllAreTaken) {
    EXPECT_EQ(0, findFreeComIndex());
    ASSERT_TRUE(terminal::occupyComIndex(0));
    ASSERT_TRUE(terminal::occupyComIndex(1));
    ASSERT_TRUE(terminal::occupyComIndex(3));
    EXPECT_EQ(2, findFreeComIndex());
    EXPECT_EQ(0, isComIndexFree(1));
    EXPECT_EQ(1, isComIndexFree(2));
    for (int i = 0; i < 10; ++i) terminal::occupyComIndex(i);
    EXPECT_EQ(-1, findFreeComIndex());
    // Removing a device frees its index; removing it again finds nothing.
    EXPECT_EQ(1, removeComDevice(7));
    EXPECT_EQ(7, findFreeComIndex());
    EXPECT_EQ(0, removeComDevice(7));
}

TEST_F(BluetoothLink, ChannelArgumentSkipsTheSearchAndSetsPortFlagsByType) {
    const unsigned flags[] = {2, 10, 6, 14, 0};
    const int types[] = {0, 1, 2, 3, 4};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", i, 3, types[i]));
        terminal::ComDevice d = deviceAt(i);
        EXPECT_EQ(3, d.channel);
        EXPECT_EQ(flags[i], d.portFlags) << "type " << types[i];
    }
    EXPECT_TRUE(terminal::serviceSearches().empty());  // the remote is not even in range
    // The low byte of a larger channel argument.
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 5, 0x105, 0));
    EXPECT_EQ(5, deviceAt(5).channel);
}

TEST_F(BluetoothLink, RemoteWithoutSerialPortServiceShowsTheMessageAndGivesCodeFour) {
    terminal::putRemoteDevice(kRemoteA, response({descriptorsRecord({sequence({uuid16(0x0100), uuid16(3)})})}));
    terminal::putSilentRemoteDevice(kRemoteB);
    ASSERT_TRUE(terminal::occupyComIndex(4));
    for (const char16_t* address : {u"00A1B2C3D4E5", u"0080F7123456", u"112233445566"}) {
        EXPECT_EQ(BtPortNoService, createBluetoothPort(address, 4, 0, 0));
    }
    // In range without the service, silent, and out of range: each asked once.
    EXPECT_EQ(std::vector<uint64_t>({kRemoteA, kRemoteB, 0x112233445566ULL}), terminal::serviceSearches());
    auto boxes = terminal::messageBoxes();
    ASSERT_EQ(3u, boxes.size());
    for (const auto& box : boxes) {
        EXPECT_EQ(u"Failed to find serial port service on the remote device.", box.text);
        EXPECT_EQ(u"Keyvane", box.caption);
        EXPECT_EQ(MB_OK, box.type);
        EXPECT_EQ(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetForegroundWindow())), box.owner);
    }
    // The device that held the index is gone, and nothing took its place.
    EXPECT_TRUE(terminal::comDevices().empty());
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
}

TEST_F(BluetoothLink, SearchReplacesTheDeviceAtTheIndexAndARefusedRegistrationGivesCodeFive) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    terminal::putRemoteDevice(kRemoteB, response({serialPortRecord(9)}));
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 6, 0, 0));
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"0080F7123456", 6, 0, 0));
    EXPECT_EQ(kRemoteB, deviceAt(6).address);
    EXPECT_EQ(9, deviceAt(6).channel);
    EXPECT_EQ(1u, terminal::comDevices().size());
    terminal::refuseDeviceRegistrations(1);
    EXPECT_EQ(BtPortRefused, createBluetoothPort(u"00A1B2C3D4E5", 6, 0, 0));
    EXPECT_EQ(1, isComIndexFree(6));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 6, 0, 0));
}

TEST_F(BluetoothLink, DeviceManagerAnswersByDeviceAndLegacyNameAndForgetsStaleHandles) {
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 8, 2, 0));
    DEVMGR_DEVICE_INFORMATION info{};
    info.dwSize = sizeof info;
    HANDLE search = FindFirstDevice(DeviceSearchByLegacyName, u"COM8:", &info);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    EXPECT_EQ(std::u16string(u"COM8:"), std::u16string(info.szLegacyName));
    EXPECT_EQ(std::u16string(u"COM8"), std::u16string(info.szDeviceName));
    EXPECT_TRUE(FindClose(search));
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstDevice(DeviceSearchByLegacyName, u"COM8", &info));
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstDevice(DeviceSearchByDeviceName, u"COM8:", &info));
    HANDLE stale = info.hDevice;
    ASSERT_TRUE(DeactivateDevice(stale));
    EXPECT_FALSE(DeactivateDevice(stale));
    // A new device at the index is not removed through the old handle.
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 8, 2, 0));
    EXPECT_FALSE(DeactivateDevice(stale));
    EXPECT_EQ(0, isComIndexFree(8));
    // A search needs the record's size.
    DEVMGR_DEVICE_INFORMATION unsized{};
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstDevice(DeviceSearchByDeviceName, u"COM8", &unsized));
}

TEST_F(BluetoothLink, TheLookupAnswersOnceAndAsksForRoomItNeeds) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    SOCKADDR_BTH remote{};
    remote.addressFamily = AF_BTH;
    remote.btAddr = kRemoteA;
    CSADDR_INFO where{};
    where.RemoteAddr.lpSockaddr = reinterpret_cast<LPSOCKADDR>(&remote);
    where.RemoteAddr.iSockaddrLength = sizeof remote;
    BTHNS_RESTRICTIONBLOB restriction{};
    restriction.type = SDP_SERVICE_SEARCH_ATTRIBUTE_REQUEST;
    BLOB blob{sizeof restriction, reinterpret_cast<BYTE*>(&restriction)};
    WSAQUERYSETW query{};
    query.dwSize = sizeof query;
    query.dwNameSpace = NS_BTH;
    query.dwNumberOfCsAddrs = 1;
    query.lpcsaBuffer = &where;
    query.lpBlob = &blob;
    HANDLE lookup = nullptr;
    EXPECT_EQ(SOCKET_ERROR, WSALookupServiceBeginW(&query, 0, &lookup));  // no socket layer
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
    WSADATA wsa;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 0), &wsa));
    ASSERT_EQ(0, WSALookupServiceBeginW(&query, 0, &lookup));
    alignas(8) unsigned char small[40];
    DWORD length = sizeof small;
    EXPECT_EQ(SOCKET_ERROR,
              WSALookupServiceNextW(lookup, LUP_RETURN_BLOB, &length, reinterpret_cast<WSAQUERYSETW*>(small)));
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    std::string expected = response({serialPortRecord(4)});
    EXPECT_GE(length, sizeof(WSAQUERYSETW) + expected.size());
    std::vector<unsigned char> room(length + 8);
    auto* results = reinterpret_cast<WSAQUERYSETW*>(room.data());
    DWORD roomLength = length;
    ASSERT_EQ(0, WSALookupServiceNextW(lookup, LUP_RETURN_BLOB, &roomLength, results));
    ASSERT_NE(nullptr, results->lpBlob);
    EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(results->lpBlob->pBlobData), results->lpBlob->cbSize));
    EXPECT_EQ(SOCKET_ERROR, WSALookupServiceNextW(lookup, LUP_RETURN_BLOB, &roomLength, results));
    EXPECT_EQ(WSA_E_NO_MORE, WSAGetLastError());
    EXPECT_EQ(0, WSALookupServiceEnd(lookup));
    EXPECT_EQ(0, WSACleanup());
}

TEST_F(BluetoothLink, BytesWrittenToThePortArriveAtTheRemoteDeviceAndItsRepliesComeBack) {
    terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(4)}));
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"00:A1:B2:C3:D4:E5", 5, 0, 0));
    HANDLE port = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    std::string frame(
        "\x02"
        "ABC\x00\xFF\r\n",
        8);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr));
    EXPECT_EQ(frame, terminal::waitRemoteReceived(kRemoteA, frame.size(), 5000));

    ASSERT_TRUE(terminal::sendFromRemote(kRemoteA, "ack"));
    COMMTIMEOUTS timeouts{0, 0, 3000, 0, 0};
    SetCommTimeouts(port, &timeouts);
    char reply[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(port, reply, 3, &got, nullptr));
    EXPECT_EQ("ack", std::string(reply, got));

    // Reopened after the port moves to another remote device: the bytes go there.
    CloseHandle(port);
    terminal::putRemoteDevice(kRemoteB, response({serialPortRecord(2)}));
    ASSERT_EQ(1, removeComDevice(5));
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"0080F7123456", 5, 0, 0));
    port = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ASSERT_TRUE(WriteFile(port, "second", 6, &written, nullptr));
    EXPECT_EQ("second", terminal::waitRemoteReceived(kRemoteB, 6, 5000));
    EXPECT_EQ(frame, terminal::remoteReceived(kRemoteA));
    CloseHandle(port);
    // Without a registered device the index has no Bluetooth far end.
    ASSERT_EQ(1, removeComDevice(5));
    EXPECT_EQ("", hostfacility::bluetoothPortPath(5));
}

TEST_F(BluetoothLink, AnswerLargerThanTheResultBufferFindsNoService) {
    // A serial port record padded beyond the 5000-byte result buffer.
    std::string padded =
        record({{0x0004, sequence({sequence({uuid16(3), unsigned8(4)})})}, {0x0100, text(std::string(5200, 'p'), 2)}});
    terminal::putRemoteDevice(kRemoteA, response({padded}));
    EXPECT_EQ(BtPortNoService, createBluetoothPort(u"00A1B2C3D4E5", 2, 0, 0));
    EXPECT_TRUE(terminal::comDevices().empty());
    // The same record with a short name fits.
    terminal::putRemoteDevice(kRemoteA, response({record({{0x0004, sequence({sequence({uuid16(3), unsigned8(4)})})},
                                                          {0x0100, text(std::string(4000, 'p'), 2)}})}));
    EXPECT_EQ(BtPortCreated, createBluetoothPort(u"00A1B2C3D4E5", 2, 0, 0));
}

TEST_F(BluetoothLink, LocalServerPortsFarEndIsAddressZero) {
    ASSERT_EQ(BtPortCreated, createBluetoothPort(u"-", 9, 0, 0));
    std::string path = hostfacility::bluetoothPortPath(9);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path, hostfacility::bluetoothPortPath(9));  // one relay across opens
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(5, write(fd, "hello", 5));
    close(fd);
    EXPECT_EQ("hello", terminal::waitRemoteReceived(0, 5, 5000));
}
