// The frame of the stand-in scan engine's sensor. A device's engine decodes
// what one frame shows and so delivers at most one decode per frame; the
// stand-in engine answers from memory at once, and keeps the same pace by
// letting a decode look only once a frame has passed since the previous
// decode returned. A decode that comes later than that (the first of a
// press, as a rule) looks at once. Its time-out counts from the look.
//
// Plain arithmetic over a millisecond tick, shared by the host and the
// Windows stand-in.
#pragma once

#include <cstdint>

namespace decoderframe {

constexpr uint32_t kDefaultFrameMilliseconds = 33;
// A frame setting of 0 lets every decode look at once.
constexpr uint32_t kNoFrame = 0;

// The engine's memory of its last decode.
struct LastDecode {
    uint32_t returned;  // non-zero once a decode has returned
    uint32_t tick;      // when it returned
};

// How many milliseconds a decode that begins at `now` waits before it looks.
inline uint32_t waitBeforeLook(const LastDecode& last, uint32_t now, uint32_t frame) {
    if (frame == kNoFrame || last.returned == 0) return 0;
    uint32_t since = now - last.tick;
    return since >= frame ? 0 : frame - since;
}

// Reads a frame setting: milliseconds, with or without "ms" ("33ms", "33",
// "0"), blanks around it allowed, at most 10000. False when it is none.
inline bool parseFrameSetting(const char* text, uint32_t& milliseconds) {
    if (text == nullptr) return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return false;
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > 10000) return false;
    }
    if (p[0] == 'm' && p[1] == 's') p += 2;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != 0) return false;
    milliseconds = value;
    return true;
}

}  // namespace decoderframe
