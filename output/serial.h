// Serial delivery and framing: tagged record, XR1 record, two-byte header, raw.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr int kFrameBytes = 1024;
constexpr int kSerialDataBytes = 4096;

// The 8-bit copy of the text that deliverText makes for the serial output.
extern char serialData[kSerialDataBytes];
extern uint32_t frameSequenceCounter;

// Frames the first `count` bytes of serialData and writes the frame to the
// serial output port, reopening the port when it is closed.
void sendToSerial(int count);

// Builds the frame for `data` (count bytes) in the framing mode into `frame`
// (kFrameBytes); returns the frame length, 0 when nothing is to be sent.
size_t buildFrame(int framingMode, const char* data, int count, unsigned char* frame);
uint16_t crc16Xmodem(const unsigned char* bytes, size_t length);
