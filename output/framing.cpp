// The serial framings: builds the frame of a serial copy and reads frames
// back out of a byte stream (the console's peer decoder reads with it).
#include "output/framing.h"

#include <cstring>

std::atomic<uint32_t> frameSequenceCounter{0};

namespace {

constexpr unsigned char kDecodeResultHeader[] = "DECRES2P\"9\"CID\"]Z9\"AID0INDREQ";
constexpr unsigned char kCommandHeader[] = "MNUCMD2P0RSPREQ\"\"DEVNAME0CMDRSPREQ1INDREQ";
constexpr unsigned char kCommandLead[] = "=AT:0;";
constexpr size_t kDecodeResultHeaderBytes = sizeof kDecodeResultHeader - 1;  // 29
constexpr size_t kCommandHeaderBytes = sizeof kCommandHeader - 1;            // 41
constexpr size_t kCommandLeadBytes = sizeof kCommandLead - 1;                // 6
static_assert(kDecodeResultHeaderBytes == 29 && kCommandHeaderBytes == 41 && kCommandLeadBytes == 6);
constexpr unsigned char kGroupSeparator = 0x1D;

constexpr unsigned char kTaggedStart[] = {0x16, 0xFE};
constexpr unsigned char kTaggedEnd = 0x0D;
constexpr size_t kTaggedFixedBytes = 7;  // 0x16 0xFE, 4 length bytes, 0x0D
constexpr unsigned char kXr1Start[] = {0x01, 'X', 'R', '1', 0, 0, 0, 0x01};
constexpr size_t kXr1HeaderBytes = 15;  // start, sequence, 0 0 0 0x01 0, length byte
constexpr size_t kXr1FixedBytes = 17;   // the header and the CRC
constexpr uint32_t kXr1LastSequence = 127;
constexpr unsigned char kHeaderStart[] = {0x01, 0x02};

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

bool startsWith(const unsigned char* bytes, size_t available, const unsigned char* start, size_t length) {
    return available >= length && std::memcmp(bytes, start, length) == 0;
}

// Where `start` next begins in bytes[from, available); `available` when nowhere.
size_t findStart(const unsigned char* bytes, size_t available, size_t from, const unsigned char* start, size_t length) {
    for (size_t at = from; at + length <= available; ++at) {
        if (std::memcmp(bytes + at, start, length) == 0) return at;
    }
    return available;
}

size_t buildTagged(const unsigned char* data, size_t n, unsigned char* frame) {
    // A command is "~" ... "." over all n bytes; binary data is a decode result.
    bool command = n >= 2 && data[0] == '~' && data[n - 1] == '.';
    size_t header = command ? kCommandHeaderBytes + 1 + kCommandLeadBytes : kDecodeResultHeaderBytes + 1;
    size_t dataBytes = command ? n - 1 : n;
    // Cut the data so that the frame fits; the length field counts what is sent.
    size_t room = kFrameBytes - kTaggedFixedBytes - header;
    if (dataBytes > room) dataBytes = room;
    uint32_t payload = static_cast<uint32_t>(header + dataBytes);

    size_t at = put(frame, 0, kTaggedStart, sizeof kTaggedStart);
    for (int shift = 0; shift < 32; shift += 8) frame[at++] = static_cast<unsigned char>((payload >> shift) & 0xFF);
    frame[at++] = kTaggedEnd;
    if (command) {
        at = put(frame, at, kCommandHeader, kCommandHeaderBytes);
        frame[at++] = kGroupSeparator;
        at = put(frame, at, kCommandLead, kCommandLeadBytes);
        return put(frame, at, data + 1, dataBytes);
    }
    at = put(frame, at, kDecodeResultHeader, kDecodeResultHeaderBytes);
    frame[at++] = kGroupSeparator;
    return put(frame, at, data, dataBytes);
}

size_t buildXr1(const unsigned char* data, size_t n, unsigned char* frame) {
    // All n bytes are carried, zero bytes included, so that the length byte
    // (the low 8 bits of n) and the CRC cover the whole barcode.
    if (n > kFrameBytes - kXr1FixedBytes) n = kFrameBytes - kXr1FixedBytes;

    uint32_t sequence = frameSequenceCounter.load();
    uint32_t next = sequence + 1;
    if (next > kXr1LastSequence) next = 0;
    frameSequenceCounter.store(next);

    put(frame, 0, kXr1Start, sizeof kXr1Start);
    frame[8] = static_cast<unsigned char>(sequence & 0x7F);
    frame[12] = 0x01;
    frame[14] = static_cast<unsigned char>(n & 0xFF);
    size_t at = put(frame, kXr1HeaderBytes, data, n);
    uint16_t crc = crc16Xmodem(frame, at);
    frame[at++] = static_cast<unsigned char>(crc >> 8);
    frame[at++] = static_cast<unsigned char>(crc & 0xFF);
    return at;
}

size_t buildHeader(const unsigned char* data, size_t n, unsigned char* frame) {
    if (n > kFrameBytes - sizeof kHeaderStart) n = kFrameBytes - sizeof kHeaderStart;
    size_t at = put(frame, 0, kHeaderStart, sizeof kHeaderStart);
    return put(frame, at, data, n);
}

size_t buildRaw(const unsigned char* data, size_t n, unsigned char* frame) {
    if (n > kFrameBytes) n = kFrameBytes;
    return put(frame, 0, data, n);
}

void setData(ParsedFrame* frame, size_t at, size_t bytes) {
    frame->dataAt = at;
    frame->dataBytes = bytes;
}

size_t parseTagged(const unsigned char* bytes, size_t available, ParsedFrame* frame) {
    if (!startsWith(bytes, available, kTaggedStart, sizeof kTaggedStart) || available < kTaggedFixedBytes) return 0;
    uint32_t length = 0;
    for (int k = 3; k >= 0; --k) length = (length << 8) | bytes[2 + k];
    if (bytes[6] != kTaggedEnd || length > available - kTaggedFixedBytes) return 0;
    const unsigned char* payload = bytes + kTaggedFixedBytes;
    size_t decodeHeader = kDecodeResultHeaderBytes + 1;
    size_t commandHeader = kCommandHeaderBytes + 1 + kCommandLeadBytes;
    frame->lengthField = static_cast<long>(length);
    if (length >= decodeHeader && std::memcmp(payload, kDecodeResultHeader, kDecodeResultHeaderBytes) == 0 &&
        payload[kDecodeResultHeaderBytes] == kGroupSeparator) {
        frame->kind = TaggedDecodeResult;
        setData(frame, kTaggedFixedBytes + decodeHeader, length - decodeHeader);
    } else if (length >= commandHeader && std::memcmp(payload, kCommandHeader, kCommandHeaderBytes) == 0 &&
               payload[kCommandHeaderBytes] == kGroupSeparator &&
               std::memcmp(payload + kCommandHeaderBytes + 1, kCommandLead, kCommandLeadBytes) == 0) {
        frame->kind = TaggedCommand;
        setData(frame, kTaggedFixedBytes + commandHeader, length - commandHeader);
    } else {
        frame->kind = TaggedUnknown;
        setData(frame, kTaggedFixedBytes, length);
    }
    return kTaggedFixedBytes + length;
}

bool xr1CrcFits(const unsigned char* bytes, size_t dataBytes) {
    uint16_t crc = crc16Xmodem(bytes, kXr1HeaderBytes + dataBytes);
    return bytes[kXr1HeaderBytes + dataBytes] == (crc >> 8) && bytes[kXr1HeaderBytes + dataBytes + 1] == (crc & 0xFF);
}

// The record ends where the stream ends or the next record begins.
bool xr1EndsWell(const unsigned char* bytes, size_t available, size_t dataBytes) {
    size_t end = kXr1FixedBytes + dataBytes;
    return end == available || startsWith(bytes + end, available - end, kXr1Start, sizeof kXr1Start);
}

size_t parseXr1(const unsigned char* bytes, size_t available, ParsedFrame* frame) {
    if (!startsWith(bytes, available, kXr1Start, sizeof kXr1Start) || available < kXr1FixedBytes) return 0;
    size_t lengthByte = bytes[14];
    frame->sequence = bytes[8];
    frame->lengthField = static_cast<long>(lengthByte);
    size_t most = available - kXr1FixedBytes;
    // The length byte first, then every length that ends on a good CRC.
    if (lengthByte <= most && xr1CrcFits(bytes, lengthByte) && xr1EndsWell(bytes, available, lengthByte)) {
        frame->crcGood = 1;
        setData(frame, kXr1HeaderBytes, lengthByte);
        return kXr1FixedBytes + lengthByte;
    }
    // The CRC is carried along from one length to the next (one pass).
    uint16_t crc = crc16Xmodem(bytes, kXr1HeaderBytes);
    for (size_t m = 0; m <= most; ++m) {
        size_t at = kXr1HeaderBytes + m;
        if (bytes[at] == (crc >> 8) && bytes[at + 1] == (crc & 0xFF) && xr1EndsWell(bytes, available, m)) {
            frame->crcGood = 1;
            setData(frame, kXr1HeaderBytes, m);
            return kXr1FixedBytes + m;
        }
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.entry[((crc >> 8) ^ bytes[at]) & 0xFF]);
    }
    // No CRC fits: up to the next record, or the end.
    size_t end = findStart(bytes, available, 1, kXr1Start, sizeof kXr1Start);
    frame->crcGood = 0;
    if (end >= kXr1FixedBytes) {
        setData(frame, kXr1HeaderBytes, end - kXr1FixedBytes);
    } else {
        setData(frame, 0, 0);
    }
    return end;
}

size_t parseHeader(const unsigned char* bytes, size_t available, ParsedFrame* frame) {
    if (!startsWith(bytes, available, kHeaderStart, sizeof kHeaderStart)) return 0;
    size_t end = findStart(bytes, available, sizeof kHeaderStart, kHeaderStart, sizeof kHeaderStart);
    setData(frame, sizeof kHeaderStart, end - sizeof kHeaderStart);
    return end;
}

}  // namespace

SerialFraming framingOf(int value) {
    for (const FramingInfo& f : kFramings) {
        if (f.framing == value) return f.framing;
    }
    return FramingRaw;
}

const char* framingName(SerialFraming framing) {
    for (const FramingInfo& f : kFramings) {
        if (f.framing == framing) return f.name;
    }
    return "raw";
}

void restartFrameSequence() {
    frameSequenceCounter.store(1);
}

uint16_t crc16Xmodem(const unsigned char* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.entry[((crc >> 8) ^ bytes[i]) & 0xFF]);
    }
    return crc;
}

size_t buildFrame(SerialFraming framing, const char* data, int count, unsigned char* frame) {
    std::memset(frame, 0, kFrameBytes);
    if (!data || count <= 0) return 0;
    if (count > kSerialDataBytes - 1) count = kSerialDataBytes - 1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t n = static_cast<size_t>(count);
    switch (framing) {
        case FramingTagged:
            return buildTagged(bytes, n, frame);
        case FramingXr1:
            return buildXr1(bytes, n, frame);
        case FramingHeader:
            return buildHeader(bytes, n, frame);
        case FramingRaw:
            break;
    }
    return buildRaw(bytes, n, frame);
}

size_t parseFrame(SerialFraming framing, const unsigned char* bytes, size_t available, ParsedFrame* frame) {
    *frame = ParsedFrame{framing, 0, 0, 0, TaggedNone, -1, -1, -1};
    if (!bytes || available == 0) return 0;
    size_t used = 0;
    switch (framing) {
        case FramingTagged:
            used = parseTagged(bytes, available, frame);
            break;
        case FramingXr1:
            used = parseXr1(bytes, available, frame);
            break;
        case FramingHeader:
            used = parseHeader(bytes, available, frame);
            break;
        case FramingRaw:
            setData(frame, 0, available);
            used = available;
            break;
    }
    frame->size = used;
    return used;
}
