// Serial delivery: frames the 8-bit copy of a delivered text for the device
// at the far end (tagged record, XR1 record, two-byte header or raw) and
// writes it to the serial output port, recovering the port after a failure.
#include "output/serial.h"

#include <cstring>
#include <mutex>

#include "output/keystrokes.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

char serialData[kSerialDataBytes];
std::atomic<uint32_t> frameSequenceCounter{0};

namespace {

constexpr unsigned char kDecodeResultHeader[] = "DECRES2P\"9\"CID\"]Z9\"AID0INDREQ";
constexpr unsigned char kCommandHeader[] = "MNUCMD2P0RSPREQ\"\"DEVNAME0CMDRSPREQ1INDREQ";
constexpr unsigned char kCommandLead[] = "=AT:0;";
constexpr size_t kDecodeResultHeaderBytes = sizeof kDecodeResultHeader - 1;  // 29
constexpr size_t kCommandHeaderBytes = sizeof kCommandHeader - 1;            // 41
constexpr size_t kCommandLeadBytes = sizeof kCommandLead - 1;                // 6
static_assert(kDecodeResultHeaderBytes == 29 && kCommandHeaderBytes == 41 && kCommandLeadBytes == 6);

constexpr size_t kTaggedFixedBytes = 7;  // 0x16 0xFE, 4 length bytes, 0x0D
constexpr size_t kXr1FixedBytes = 17;    // 15 header bytes and the CRC

struct CrcTable {
    uint16_t entry[256];
};

constexpr CrcTable makeCrcTable() {
    CrcTable t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
        }
        t.entry[i] = crc;
    }
    return t;
}

constexpr CrcTable kCrcTable = makeCrcTable();

size_t put(unsigned char* frame, size_t at, const unsigned char* bytes, size_t length) {
    std::memcpy(frame + at, bytes, length);
    return at + length;
}

size_t buildTagged(const char* data, int count, unsigned char* frame) {
    size_t n = static_cast<size_t>(count);
    // A command is "~" ... "." over all n bytes; binary data is a decode result.
    bool command = n >= 2 && data[0] == '~' && data[n - 1] == '.';
    size_t header = command ? kCommandHeaderBytes + 1 + kCommandLeadBytes : kDecodeResultHeaderBytes + 1;
    size_t dataBytes = command ? n - 1 : n;
    // Cut the data so that the frame fits; the length field counts what is sent.
    size_t room = kFrameBytes - kTaggedFixedBytes - header;
    if (dataBytes > room) dataBytes = room;
    uint32_t payload = static_cast<uint32_t>(header + dataBytes);

    size_t at = 0;
    frame[at++] = 0x16;
    frame[at++] = 0xFE;
    frame[at++] = static_cast<unsigned char>(payload & 0xFF);
    frame[at++] = static_cast<unsigned char>((payload >> 8) & 0xFF);
    frame[at++] = static_cast<unsigned char>((payload >> 16) & 0xFF);
    frame[at++] = static_cast<unsigned char>((payload >> 24) & 0xFF);
    frame[at++] = 0x0D;
    if (command) {
        at = put(frame, at, kCommandHeader, kCommandHeaderBytes);
        frame[at++] = 0x1D;
        at = put(frame, at, kCommandLead, kCommandLeadBytes);
        at = put(frame, at, reinterpret_cast<const unsigned char*>(data + 1), dataBytes);
    } else {
        at = put(frame, at, kDecodeResultHeader, kDecodeResultHeaderBytes);
        frame[at++] = 0x1D;
        at = put(frame, at, reinterpret_cast<const unsigned char*>(data), dataBytes);
    }
    return at;
}

size_t buildXr1(const char* data, int count, unsigned char* frame) {
    // All n bytes are carried, zero bytes included, so that the length byte
    // (the low 8 bits of n) and the CRC cover the whole barcode.
    size_t n = static_cast<size_t>(count);
    if (n > kFrameBytes - kXr1FixedBytes) n = kFrameBytes - kXr1FixedBytes;

    uint32_t sequence = frameSequenceCounter.load();
    uint32_t next = sequence + 1;
    if (next > 127) next = 0;
    frameSequenceCounter.store(next);

    frame[0] = 0x01;
    frame[1] = 'X';
    frame[2] = 'R';
    frame[3] = '1';
    frame[7] = 0x01;
    frame[8] = static_cast<unsigned char>(sequence & 0x7F);
    frame[12] = 0x01;
    frame[14] = static_cast<unsigned char>(n & 0xFF);
    size_t at = put(frame, 15, reinterpret_cast<const unsigned char*>(data), n);
    uint16_t crc = crc16Xmodem(frame, at);
    frame[at++] = static_cast<unsigned char>(crc >> 8);
    frame[at++] = static_cast<unsigned char>(crc & 0xFF);
    return at;
}

}  // namespace

uint16_t crc16Xmodem(const unsigned char* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.entry[((crc >> 8) ^ bytes[i]) & 0xFF]);
    }
    return crc;
}

size_t buildFrame(int framingMode, const char* data, int count, unsigned char* frame) {
    std::memset(frame, 0, kFrameBytes);
    if (!data || count <= 0) return 0;
    if (count > kSerialDataBytes - 1) count = kSerialDataBytes - 1;
    size_t n = static_cast<size_t>(count);
    switch (framingMode) {
        case 0:
            return buildTagged(data, count, frame);
        case 1:
            return buildXr1(data, count, frame);
        case 2:
            if (n > kFrameBytes - 2) n = kFrameBytes - 2;
            frame[0] = 0x01;
            frame[1] = 0x02;
            return put(frame, 2, reinterpret_cast<const unsigned char*>(data), n);
        default:
            if (n > kFrameBytes) n = kFrameBytes;
            return put(frame, 0, reinterpret_cast<const unsigned char*>(data), n);
    }
}

void sendToSerial(int count) {
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    if (count <= 0) return;
    if (count > kSerialDataBytes - 1) count = kSerialDataBytes - 1;

    // Open the port before building, so that the first XR1 record after a
    // reopen carries sequence number 1 like the first one after start-up.
    if (serialPortHandle.load() == INVALID_HANDLE_VALUE && !connectEngine(0)) return;

    SetLastError(0);
    unsigned char frame[kFrameBytes];
    serialData[count] = 0;
    size_t length = buildFrame(settings.ConnectingTo, serialData, count, frame);
    if (length == 0) return;

    for (int attempt = 0; attempt < kEmptyWriteAttempts; ++attempt) {
        DWORD written = 0;
        SerialWrite outcome = writeSerialPort(frame, static_cast<DWORD>(length), &written);
        if (outcome == SerialPortClosed) return;  // reopening failed and was reported
        if (outcome == SerialWriteFailed) {
            traceAppendFormat("Closed\r\n");
            SetLastError(0);
            playSoundResource(135);
            return;
        }
        if (outcome == SerialWritten) {
            traceAppendFormat("Closed\r\n");
            return;
        }
        playSoundResource(135);
        traceAppendFormat("Closed\r\n");
        SetLastError(0);
    }
}
