#include "tests/support/bluetooth_support.h"

#include "bluetooth/btlink.h"
#include "platform/host/objects.h"
#include "tests/support/wedge_process.h"

namespace bttest {

namespace {

std::string bigEndian(uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

std::string sized(unsigned type, const std::string& value, int lengthBytes) {
    unsigned index = lengthBytes == 1 ? 5 : lengthBytes == 2 ? 6 : 7;
    return std::string(1, static_cast<char>(type << 3 | index)) + bigEndian(value.size(), lengthBytes) + value;
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += item;
    return out;
}

}  // namespace

std::string element(unsigned type, unsigned sizeIndex, const std::string& value) {
    return std::string(1, static_cast<char>(type << 3 | sizeIndex)) + value;
}
std::string nil() {
    return element(0, 0, "");
}
std::string boolean(bool value) {
    return element(5, 0, std::string(1, value ? 1 : 0));
}
std::string unsigned8(unsigned value) {
    return element(1, 0, bigEndian(value, 1));
}
std::string unsigned16(unsigned value) {
    return element(1, 1, bigEndian(value, 2));
}
std::string unsigned32(uint32_t value) {
    return element(1, 2, bigEndian(value, 4));
}
std::string unsigned64(uint64_t value) {
    return element(1, 3, bigEndian(value, 8));
}
std::string signed8(int value) {
    return element(2, 0, bigEndian(static_cast<uint8_t>(value), 1));
}
std::string signed16(int value) {
    return element(2, 1, bigEndian(static_cast<uint16_t>(value), 2));
}
std::string signed32(int32_t value) {
    return element(2, 2, bigEndian(static_cast<uint32_t>(value), 4));
}
std::string uuid16(unsigned value) {
    return element(3, 1, bigEndian(value, 2));
}
std::string uuid32(uint32_t value) {
    return element(3, 2, bigEndian(value, 4));
}
std::string uuid128(const std::string& sixteenBytes) {
    return element(3, 4, sixteenBytes);
}
std::string rfcomm128Bytes() {
    return std::string("\x00\x00\x00\x03\x00\x00\x10\x00\x80\x00\x00\x80\x5F\x9B\x34\xFB", 16);
}
std::string text(const std::string& value, int lengthBytes) {
    return sized(4, value, lengthBytes);
}
std::string url(const std::string& value, int lengthBytes) {
    return sized(8, value, lengthBytes);
}
std::string sequence(const std::vector<std::string>& items, int sizeBytes) {
    return sized(6, joined(items), sizeBytes);
}
std::string alternative(const std::vector<std::string>& items, int sizeBytes) {
    return sized(7, joined(items), sizeBytes);
}

std::string record(const std::vector<std::pair<unsigned, std::string>>& attributes) {
    std::vector<std::string> items;
    for (const auto& [id, value] : attributes) {
        items.push_back(unsigned16(id));
        items.push_back(value);
    }
    return sequence(items, 2);
}

std::string serialPortRecord(unsigned channel) {
    return record({{0x0000, unsigned32(0x00010003)},
                   {0x0001, sequence({uuid16(0x1101)})},
                   {0x0004, sequence({sequence({uuid16(0x0100)}), sequence({uuid16(0x0003), unsigned8(channel)})})},
                   {0x0100, text("Serial Port")}});
}

std::string response(const std::vector<std::string>& records) {
    return sequence(records, 2);
}

std::string descriptorsRecord(const std::vector<std::string>& descriptors) {
    return record({{0x0004, sequence(descriptors)}});
}

int channelOf(const std::string& bytes) {
    // A copy of exactly the bytes, so that a read past them is caught.
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    return findRfcommChannel(copy.data(), copy.size());
}

void BluetoothTerminal::SetUp() {
    root = wedge::freshTerminal(20);
    ASSERT_FALSE(root.empty());
}

void BluetoothTerminal::TearDown() {
    // Removing the devices lets the next look-up at each index retire this
    // process's relay for it.
    for (int i = 0; i < 10; ++i) {
        removeComDevice(i);
        host::bluetoothPortPath(i);
    }
    wedge::removeTerminalRoot(root);
}

}  // namespace bttest
