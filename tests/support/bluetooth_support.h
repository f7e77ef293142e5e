// Service-attribute responses built element by element, remote devices
// around the terminal, and a fresh terminal per test for the Bluetooth link.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bttest {

// Data elements: a descriptor byte (type << 3 | size index) and its value.
std::string element(unsigned type, unsigned sizeIndex, const std::string& value);
std::string nil();
std::string boolean(bool value);
std::string unsigned8(unsigned value);
std::string unsigned16(unsigned value);
std::string unsigned32(uint32_t value);
std::string unsigned64(uint64_t value);
std::string signed8(int value);
std::string signed16(int value);
std::string signed32(int32_t value);
std::string uuid16(unsigned value);
std::string uuid32(uint32_t value);
std::string uuid128(const std::string& sixteenBytes);
// The RFCOMM protocol's 128-bit UUID (the Bluetooth base UUID with 0x0003).
std::string rfcomm128Bytes();
// Text and URL with an 8-, 16- or 32-bit length field (lengthBytes 1, 2, 4).
std::string text(const std::string& value, int lengthBytes = 1);
std::string url(const std::string& value, int lengthBytes = 1);
// Sequence and alternative with an 8-, 16- or 32-bit size field.
std::string sequence(const std::vector<std::string>& items, int sizeBytes = 1);
std::string alternative(const std::vector<std::string>& items, int sizeBytes = 1);

// A record: (attribute id, value) pairs in a sequence.
std::string record(const std::vector<std::pair<unsigned, std::string>>& attributes);
// A serial port service record whose protocol descriptor list is L2CAP then
// RFCOMM with the channel as an 8-bit unsigned integer.
std::string serialPortRecord(unsigned channel);
// A service-attribute response: the records in a sequence.
std::string response(const std::vector<std::string>& records);
// A protocol descriptor list record (attribute 4 only).
std::string descriptorsRecord(const std::vector<std::string>& descriptors);

int channelOf(const std::string& bytes);

// A fresh terminal root attached to this process.
class BluetoothTerminal : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string root;
};

constexpr uint64_t kRemoteA = 0x00A1B2C3D4E5ULL;
constexpr uint64_t kRemoteB = 0x0080F7123456ULL;

}  // namespace bttest
