// What must hold for the serial frame builders and the frame reader: a frame
// built from any data reads back as one frame of the whole built length,
// carrying the data (cut to fit) with length fields that agree; and the reader
// stays inside any bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/framing.h"

namespace framingfuzz {

inline bool holdsHeaderMark(const char* data, size_t count) {
    for (size_t i = 0; i + 1 < count; ++i)
        if (data[i] == 0x01 && data[i + 1] == 0x02) return true;
    return false;
}

// 0 when the invariants hold, else a number naming the broken one.
// The first byte chooses the framing, the rest is the data.
inline int check(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    SerialFraming framing = kFramings[bytes[0] % kFramingCount].framing;
    const char* data = reinterpret_cast<const char*>(bytes + 1);
    size_t count = size - 1;

    ParsedFrame any{};
    size_t used = parseFrame(framing, bytes + 1, count, &any);
    if (used > count) return 1;
    if (used != 0 && (any.size != used || any.dataAt > used || any.dataBytes > used - any.dataAt)) return 2;

    unsigned char frame[kFrameBytes];
    size_t length = buildFrame(framing, data, static_cast<int>(count), frame);
    if (length > static_cast<size_t>(kFrameBytes)) return 3;
    if (count == 0) return length == 0 ? 0 : 4;
    if (length == 0) return 5;

    ParsedFrame back{};
    size_t read = parseFrame(framing, frame, length, &back);
    // A header frame has no length: data holding the next frame's mark ends it early.
    if (framing == FramingHeader && holdsHeaderMark(data, count)) return read <= length && read > 0 ? 0 : 6;
    // An XR1 record's length byte holds only the low 8 bits: data holding a
    // record mark right after bytes that pass for a CRC ends it early, as a
    // record followed by the next.
    static const unsigned char kRecordMark[] = {0x01, 'X', 'R', '1', 0, 0, 0, 0x01};
    if (framing == FramingXr1 && read < length && read > 0 && back.crcGood == 1 &&
        length - read >= sizeof kRecordMark && std::memcmp(frame + read, kRecordMark, sizeof kRecordMark) == 0)
        return 0;
    if (read != length || back.size != length) return 7;
    if (back.framing != framing) return 8;
    if (back.dataAt > length || back.dataBytes > length - back.dataAt) return 9;
    const char* expected = data;
    size_t available = count;
    if (framing == FramingTagged && back.kind == TaggedCommand) {
        if (data[0] != '~') return 10;
        ++expected;
        --available;
    } else if (framing == FramingTagged && back.kind != TaggedDecodeResult) {
        return 11;
    }
    if (back.dataBytes > available) return 12;
    if (std::memcmp(frame + back.dataAt, expected, back.dataBytes) != 0) return 13;
    if (framing == FramingTagged && back.lengthField + 7 != static_cast<long>(length)) return 14;
    if (framing == FramingXr1) {
        if (back.crcGood != 1) return 15;
        if (back.lengthField != static_cast<long>(back.dataBytes & 0xFF)) return 16;
    }
    // Only data too long for one frame is cut.
    if (back.dataBytes < available && length + 64 < static_cast<size_t>(kFrameBytes)) return 17;
    return 0;
}

}  // namespace framingfuzz
