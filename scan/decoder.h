// The decoder library's binding: Decoder.dll loaded by name and its eleven
// calls (platform/decoder_calls.h) bound by ordinal.
#pragma once

#include "platform/decoder_calls.h"
#include "platform/platform.h"

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
