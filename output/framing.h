// The serial framings: the wire format of the serial copy of a barcode. This
// module builds the frame for the device at the far end and reads frames
// back out of received bytes; nothing else knows a header byte or the CRC.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// A framing, numbered as `ConnectingTo` names it in Keyvane.ini. Any value of
// the file that names no framing sends the data raw.
enum SerialFraming {
    FramingRaw = 0,     // the data as it is
    FramingTagged = 1,  // 0x16 0xFE, 4-byte length, 0x0D, decode-result or command header, 0x1D, data
    FramingXr1 = 2,     // "\x01XR1" record: sequence number, length byte, data, CRC-16 high byte first
    FramingHeader = 3,  // 0x01 0x02, data
};

struct FramingInfo {
    SerialFraming framing;
    const char* name;     // as the console names it
    const char* meaning;  // for the settings reference
};

// Every framing: those the settings file names (in the order of their
// values), raw last.
inline constexpr FramingInfo kFramings[] = {
    {FramingTagged, "tagged", "tagged frame: 0x16 0xFE, length, data"},
    {FramingXr1, "xr1", "XR1 record with sequence number and CRC-16"},
    {FramingHeader, "header", "header 0x01 0x02 before the data"},
    {FramingRaw, "raw", "the data as it is"},
};
inline constexpr int kFramingCount = static_cast<int>(sizeof kFramings / sizeof kFramings[0]);
// The framings the settings file names: all but raw.
inline constexpr int kNamedFramingCount = kFramingCount - 1;

constexpr int kFrameBytes = 1024;       // the longest frame; longer data is cut to fit
constexpr int kSerialDataBytes = 4096;  // the longest serial copy of a delivery, terminator included

// The framing a `ConnectingTo` value selects (raw for any value that names none).
SerialFraming framingOf(int value);
// The framing's name ("tagged", "xr1", "header", "raw").
const char* framingName(SerialFraming framing);

// The XR1 record sequence counter: restartFrameSequence sets it to 1 when the
// port opens; every XR1 record built takes the next number (0..127, wrapping).
// Frames are built by one delivery at a time (the delivery lock).
extern std::atomic<uint32_t> frameSequenceCounter;
void restartFrameSequence();

// Builds the frame for `data` (count bytes, zero bytes included) into `frame`
// (kFrameBytes); returns the frame length, 0 when nothing is to be sent. Data
// that would make the frame longer than kFrameBytes is cut; the length fields
// count what the frame carries.
size_t buildFrame(SerialFraming framing, const char* data, int count, unsigned char* frame);
uint16_t crc16Xmodem(const unsigned char* bytes, size_t length);

// What a tagged frame carries.
enum TaggedKind {
    TaggedNone,          // not a tagged frame
    TaggedDecodeResult,  // the barcode's bytes
    TaggedCommand,       // a "~...." command; the data is what follows the "~"
    TaggedUnknown,       // a payload with neither header; the data is the payload
};

struct ParsedFrame {
    SerialFraming framing;
    size_t size;       // bytes of the whole frame
    size_t dataAt;     // where the data begins in the frame
    size_t dataBytes;  // and how long it is
    TaggedKind kind;
    int sequence;      // XR1: the sequence number; else -1
    long lengthField;  // tagged: the payload length; XR1: the length byte; else -1
    int crcGood;       // XR1: 1 when a CRC fits, 0 when none does; else -1
};

// Reads the frame of `framing` that begins at `bytes`, the first of
// `available` bytes left in a stream. Returns the frame's size (0 when no
// frame of that framing begins there). A header frame runs up to the next
// 0x01 0x02 or the end; an XR1 record ends on the CRC that fits and is
// followed by the end or the next record (its length byte holds only the low
// 8 bits); with no fitting CRC it runs up to the next record. Raw takes all.
size_t parseFrame(SerialFraming framing, const unsigned char* bytes, size_t available, ParsedFrame* frame);
