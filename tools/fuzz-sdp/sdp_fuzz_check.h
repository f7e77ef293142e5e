// What must hold for any bytes handed to the service-attribute reader: the
// answer is a channel 1..255 or -1, only well-formed input gives a channel,
// and every element reached by walking well-formed input lies inside it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bluetooth/btlink.h"
#include "bluetooth/sdp.h"

namespace sdpfuzz {

inline int walk(const SdpElement& e, const unsigned char* begin, const unsigned char* end, int depth) {
    if (e.value < begin || e.value > end || e.valueLength > static_cast<size_t>(end - e.value)) return 3;
    if (depth > kSdpMaxDepth + 1) return 4;
    int count = sdpChildCount(&e);
    for (int i = 0; i < count; ++i) {
        SdpElement child;
        if (!sdpChild(&e, i, &child)) return 5;
        int r = walk(child, e.value, e.value + e.valueLength, depth + 1);
        if (r != 0) return r;
    }
    return 0;
}

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    int channel = findRfcommChannel(data, size);
    if (channel != -1 && (channel < 1 || channel > 255)) return 1;
    int valid = sdpValidate(data, size);
    if (!valid) return channel == -1 ? 0 : 2;
    SdpElement top;
    if (!sdpReadElement(data, size, &top) || top.totalLength != size) return 6;
    return walk(top, data, data + size, 1);
}

}  // namespace sdpfuzz
