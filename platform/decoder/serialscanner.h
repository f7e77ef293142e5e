// A serial barcode scanner as the engine's source of barcodes: a tty named
// in terminal.conf ("scanner = /dev/ttyACM0") that sends each barcode as a
// line ("scanner.end = cr", "lf" or "crlf"; without it a carriage return or
// a line feed ends a line and empty lines are passed over). An AIM
// symbology identifier at a line's start ("]E0") gives the symbology and is
// removed.
//
// A line is in view only while the engine reads: it is kept when it arrives
// during a decode call or within kReadGapMs after one ended (the pause
// between two passes of the scan loop), and a decode call takes only lines
// that arrived after its own start less that gap. Lines that arrive while
// nothing reads (the scan key up) are dropped, never typed later (the
// wedge's output says so: "Decoder: a scanner line came while nothing read;
// dropped").
#pragma once

#include <cstdint>

namespace serialscanner {

constexpr int kLineBytes = 4096;
constexpr int kReadGapMs = 100;

struct Line {
    uint32_t length;
    char letter;  // the symbology letter (0: no identifier, or one the table lacks)
    char second, third;
    uint8_t data[kLineBytes];
};

// Whether terminal.conf names a scanner.
bool configured();
// Starts listening to the scanner when one is named (the engine's connect):
// from then on lines arrive, and those that come while nothing reads are
// dropped. What the tty held before is dropped too.
void listen();

// One decode call's reading of the scanner (starts its reader on first use).
class Reading {
public:
    Reading();
    ~Reading();
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;
    // The oldest line in view for this call; false when none.
    bool take(Line& out);

private:
    int64_t start_;
    bool active_;
};

}  // namespace serialscanner
