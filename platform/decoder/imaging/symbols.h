// Reading barcodes from an image the way the host terminal's scan engine
// does: the formats the engine's symbology configuration enables, the
// lengths it allows, inside its decode window, in reading order.
//
// Each format the reader knows is one symbology of the symbology table
// (scan/symbologies.h), found by its decode-settings section: its letter and
// id are the table's, so that a barcode read from a picture carries the
// letter that barcode rules and the console give that symbology.
//
//   format            section       written by `label`
//   Aztec             Aztec         yes
//   Codabar           Codabar       yes
//   Code128           Code128       yes
//   Code39            Code 39       yes
//   Code93            Code93        yes
//   DataMatrix        DataMatrix    yes
//   EAN-8             EAN8          yes
//   EAN-13            EAN13         yes
//   MaxiCode          MaxiCode      no
//   PDF417            PDF417        yes
//   QRCode            QR            yes
//   MicroQRCode       QR            no
//   DataBar           RSS           no
//   DataBarExpanded   RSS           no
//   UPC-A             UPCA          yes
//   UPC-E             UPCE0         yes
//   ITF               Int25         yes
//
// The second and third identifier bytes are the code character and the
// modifier of the symbology identifier the reader reports ("]Q1": 'Q', '1').
// Symbologies the reader does not know (Code 11, Postnet, ...) are never read
// from an image.
#pragma once

#include <cstdint>
#include <string>

#include "platform/decoder/imaging/image.h"
#include "scan/symbologies.h"

namespace scanimage {

constexpr int kSymbologyIds = 64;
constexpr int kMaxSymbols = 32;  // barcodes read from one frame at most

struct FormatInfo {
    const char* name;  // the reader's own name of the format
    int format;        // the reader's format bit
    char letter;       // the symbology table's letter and id of it
    int symbologyId;
    const Symbology* symbology;
    bool writable;
};

// The table above; `count` receives its length.
const FormatInfo* formats(int& count);
// A format by name, letter case and "-"/"_" ignored ("qrcode", "EAN13").
const FormatInfo* formatByName(const std::string& name);

// What the engine's configuration allows.
struct ReadRequest {
    bool enabled[kSymbologyIds];
    uint32_t minLength[kSymbologyIds];
    uint32_t maxLength[kSymbologyIds];
    // Decode window in image pixels, edges included; left > right means the
    // whole image.
    int left, top, right, bottom;
    // Which looks to take: kFirstLook, kSecondLook (taken only when the
    // first found nothing, or alone), or both.
    int looks;
};
constexpr int kFirstLook = 1;
constexpr int kSecondLook = 2;
// Every symbology enabled with lengths 1..4096, the whole image, both looks.
ReadRequest openRequest();

struct Symbol {
    std::string bytes;  // exactly as encoded
    char letter;
    char second;
    char third;
    int symbologyId;
    int left, top, right, bottom;  // bounding box in image pixels
};

// Reads the barcodes the request allows, in reading order: top to bottom,
// and left to right within a line (barcodes whose vertical extents overlap
// the line's first one). Returns how many were stored in `out`.
// In this process: a picture on which the reader library fails hard takes
// the process down (reader_process.h reads in a process of its own).
int readSymbols(const GrayImage& image, const ReadRequest& request, Symbol* out, int capacity);
// The same for `width` x `height` grey pixels, row by row.
int readSymbols(const uint8_t* pixels, int width, int height, const ReadRequest& request, Symbol* out, int capacity);

}  // namespace scanimage
