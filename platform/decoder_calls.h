// The decoder library's interface, declared once for both of its sides: the
// wedge that binds Decoder.dll's calls by ordinal (scan/decoder.*) and the
// libraries that export them (platform/decoder/decoder.cpp on the host,
// platform/decoder/win32/ on Windows, whose Decoder.def lists the same
// ordinals). The records are laid out byte for byte as the library reads and
// writes them.
//
// DECODER_CALLS(DECODER_CALL) expands DECODER_CALL(ordinal, name, return
// type, parameter types) once per call, in ordinal order; the library
// exports call `n` as "ordinal_n" (by ordinal alone on Windows).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include "platform/win32/ce_api.h"
#else
#include "platform/host/host_api.h"
#endif

// Symbology configuration (ordinals 3 and 4).
struct SymbologyConfig {
    uint32_t size;  // 12 short form, 20 long form
    uint32_t mask;  // 1 flags only, 7 flags and lengths
    uint32_t flags;
    uint32_t minLength;
    uint32_t maxLength;
};
static_assert(sizeof(SymbologyConfig) == 20 && offsetof(SymbologyConfig, flags) == 8 &&
                  offsetof(SymbologyConfig, maxLength) == 16,
              "symbology configuration layout");

// Decoder global settings (ordinal 8).
struct DecoderGlobalSettings {
    int32_t printWeight;
    int32_t decodeMode;  // 0 standard, 1 quick omni, 2 linear priority
    int32_t linearRange;
    int32_t videoReverse;
    int32_t decodeAttemptLimit;
    int32_t searchTimeLimit;
};
static_assert(sizeof(DecoderGlobalSettings) == 24 && offsetof(DecoderGlobalSettings, searchTimeLimit) == 20,
              "decoder global settings layout");

// Decode window rectangle (ordinal 19).
struct DecodeWindowRect {
    int32_t left, top, right, bottom;
};
static_assert(sizeof(DecodeWindowRect) == 16, "decode window layout");

// The record multi decode hands to its result callback. The data pointer is
// 32-bit on the device; on a 64-bit host it is pointer-sized, with the other
// fields in the same order.
#pragma pack(push, 4)
struct DecodeResult {
    const char* data;  // narrow text; 0 = no result
    uint8_t symbologyLetter;
    uint8_t reserved[3];
    uint16_t length;
};
#pragma pack(pop)
static_assert(offsetof(DecodeResult, symbologyLetter) == sizeof(void*) &&
                  offsetof(DecodeResult, length) == sizeof(void*) + 4,
              "decode result layout");

typedef int (*KeepGoingCallback)();
typedef int (*ResultCallback)(DecodeResult* result);

// The eleven calls.
#define DECODER_CALLS(DECODER_CALL)                                                                           \
    DECODER_CALL(2, Configure, int, (int, int))                                                               \
    DECODER_CALL(3, ReadSymbology, int, (int, int, SymbologyConfig*))                                         \
    DECODER_CALL(4, WriteSymbology, int, (int, SymbologyConfig*))                                             \
    DECODER_CALL(8, Globals, int, (int, int, DecoderGlobalSettings*))                                         \
    DECODER_CALL(9, Connect, int, ())                                                                         \
    DECODER_CALL(10, Disconnect, int, ())                                                                     \
    DECODER_CALL(11, Aimer, int, (int))                                                                       \
    DECODER_CALL(13, SingleDecode, int,                                                                       \
                 (DWORD, char*, uint8_t*, uint8_t*, uint8_t*, uint16_t*, KeepGoingCallback))                  \
    DECODER_CALL(14, MultiDecode, int, (DWORD, ResultCallback, KeepGoingCallback, uint8_t*))                  \
    DECODER_CALL(19, Window, int, (int, int, int32_t*, DecodeWindowRect*))                                    \
    DECODER_CALL(39, LightsMode, int, (int, int, int32_t*))

// The bound calls' types, Decoder<name>.
#define DECODER_CALL_TYPE(ordinal, name, result, parameters) typedef result(*Decoder##name) parameters;
DECODER_CALLS(DECODER_CALL_TYPE)
#undef DECODER_CALL_TYPE

