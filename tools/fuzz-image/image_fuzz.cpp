// Fuzz target for the image path of the scan engine: any bytes as a PNG or
// JPEG file, then the barcodes read from whatever picture they make.
#include <cstddef>
#include <cstdint>

#include "platform/decoder/imaging/image.h"
#include "platform/decoder/imaging/symbols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scanimage::GrayImage image;
    if (scanimage::decodeImage(data, size, image) != scanimage::LoadStatus::Ok) return 0;
    // Small pictures only: the reader's time grows with the pixels.
    if (static_cast<int64_t>(image.width) * image.height > 1 << 20) return 0;
    scanimage::Symbol symbols[4];
    scanimage::readSymbols(image, scanimage::openRequest(), symbols, 4);
    return 0;
}
