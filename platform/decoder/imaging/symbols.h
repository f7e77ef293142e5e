// Reading barcodes from an image the way the host terminal's scan engine
// does: the formats the engine's symbology configuration enables, the
// lengths it allows, inside its decode window, in reading order.
//
// Format table (symbology letter as barcode rules name it, decode-settings
// symbology id and section):
//
//   format            letter  id  section       written by `label`
//   Aztec             z        0  Aztec         yes
//   Codabar           a        1  Codabar       yes
//   Code128           j        3  Code128       yes
//   Code39            b        4  Code 39       yes
//   Code93            i        6  Code93        yes
//   DataMatrix        w        8  DataMatrix    yes
//   EAN-8             D        9  EAN8          yes
//   EAN-13            d       10  EAN13         yes
//   MaxiCode          x       12  MaxiCode      no
//   PDF417            r       15  PDF417        yes
//   QRCode            s       17  QR            yes
//   MicroQRCode       s       17  QR            no
//   DataBar           y       18  RSS           no
//   DataBarExpanded   y       18  RSS           no
//   UPC-A             c       19  UPCA          yes
//   UPC-E             E       20  UPCE0         yes
//   ITF               e       26  Int25         yes
//
// The second and third identifier bytes are the code character and the
// modifier of the symbology identifier the reader reports ("]Q1": 'Q', '1').
// Symbologies the reader does not know (Code 11, Postnet, ...) are never read
// from an image.
#pragma once

#include <cstdint>
#include <string>

#include "platform/decoder/imaging/image.h"

namespace scanimage {

constexpr int kSymbologyIds = 64;
constexpr int kMaxSymbols = 32;  // barcodes read from one frame at most

struct FormatInfo {
    const char* name;  // the reader's own name of the format
    int format;        // the reader's format bit
    char letter;
    int symbologyId;
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
