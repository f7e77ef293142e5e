// Serial delivery and framing: tagged record, XR1 record, two-byte header, raw.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr int kFrameBytes = 1024;
constexpr int kSerialDataBytes = 4096;
constexpr int kEmptyWriteAttempts = 5;

// The 8-bit copy of the text that deliverText makes for the serial output.
extern char serialData[kSerialDataBytes];
// The XR1 record sequence counter: the connect operation sets it to 1 after
// opening the port in framing mode 1; every XR1 record built takes the next.
extern std::atomic<uint32_t> frameSequenceCounter;

// Frames the first `count` bytes of serialData and writes the frame to the
// serial output port, reopening the port when it is closed. A frame that
// would exceed kFrameBytes carries as much of the data as fits (its length
// field agrees with what it carries); a write that reports 0 bytes reopens
// the port and writes the frame again, at most kEmptyWriteAttempts times.
void sendToSerial(int count);

// Builds the frame for `data` (count bytes) in the framing mode into `frame`
// (kFrameBytes); returns the frame length, 0 when nothing is to be sent.
size_t buildFrame(int framingMode, const char* data, int count, unsigned char* frame);
uint16_t crc16Xmodem(const unsigned char* bytes, size_t length);
