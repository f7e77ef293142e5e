// The decoder library interface: Decoder.dll loaded by name and its eleven
// calls bound by ordinal, with the records they exchange laid out byte for
// byte as the library reads and writes them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

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

// Bound decoder calls, named by their ordinal.
typedef int (*DecoderConfigure)(int, int);                                    // 2
typedef int (*DecoderReadSymbology)(int, int, SymbologyConfig*);              // 3
typedef int (*DecoderWriteSymbology)(int, SymbologyConfig*);                  // 4
typedef int (*DecoderGlobals)(int, int, DecoderGlobalSettings*);              // 8
typedef int (*DecoderConnect)();                                              // 9
typedef int (*DecoderDisconnect)();                                           // 10
typedef int (*DecoderAimer)(int);                                             // 11
typedef int (*DecoderSingleDecode)(DWORD, char*, uint8_t*, uint8_t*, uint8_t*, uint16_t*, KeepGoingCallback);  // 13
typedef int (*DecoderMultiDecode)(DWORD, ResultCallback, KeepGoingCallback, uint8_t*);                        // 14
typedef int (*DecoderWindow)(int, int, int32_t*, DecodeWindowRect*);          // 19
typedef int (*DecoderLightsMode)(int, int, int32_t*);                         // 39

constexpr int kDecodeBufferBytes = 4096;
constexpr int kMultiDecodeUnsupported = 10;

// The decode buffer and the identifier outputs of the most recent single decode.
extern char decodeBuffer[kDecodeBufferBytes];
extern uint16_t decodeLength;
extern uint8_t symbologyLetterOut;
extern uint8_t secondIdentifierOut;
extern uint8_t thirdIdentifierOut;

// Loads Decoder.dll and binds the eleven calls; true when all were found.
// Every call below fails (non-zero) while the library is not bound.
bool loadDecoderLibrary();

int decoderConfigure(int a, int b);
int decoderReadSymbology(int symbologyId, SymbologyConfig* config);
int decoderWriteSymbology(int symbologyId, SymbologyConfig* config);
int decoderReadGlobals(DecoderGlobalSettings* globals);
int decoderWriteGlobals(DecoderGlobalSettings* globals);
int decoderConnect();
int decoderDisconnect();
int decoderAimer(int on);
int decoderSingleDecode(DWORD timeout, char* buffer, uint8_t* letter, uint8_t* second, uint8_t* third,
                        uint16_t* length, KeepGoingCallback keepGoing);
int decoderMultiDecode(DWORD timeout, ResultCallback onResult, KeepGoingCallback keepGoing, uint8_t* collected);
int decoderReadWindow(int32_t* enable, DecodeWindowRect* rect);
int decoderWriteWindow(int32_t* enable, DecodeWindowRect* rect);
int decoderReadLightsMode(int32_t* mode);
int decoderWriteLightsMode(int32_t* mode);

// The keep-going callback: 1 while presentation mode is on or the scan key is down.
int keepGoing();
