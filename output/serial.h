// Serial delivery: the serial copy of a delivery, framed for the device at
// the far end (output/framing.h) and written to the serial output port.
#pragma once

constexpr int kEmptyWriteAttempts = 5;

// Frames the first `count` bytes of `bytes` in the framing that ConnectingTo
// names and writes the frame to the serial output port, opening the port
// when it is closed. A frame that would exceed kFrameBytes carries as much of
// the data as fits; a write that reports 0 bytes reopens the port and writes
// the frame again, at most kEmptyWriteAttempts times. The delivery calls it
// under the delivery lock, one frame at a time.
void sendToSerial(const char* bytes, int count);
