// What must hold for any bytes handed to the scan engine as an image file:
// the file is read or refused with a reason, and what the engine reads from
// the picture (in the reader process, as the decoder library does) stays
// within its limits: at most the capacity, known formats only, bytes within
// the window of a barcode's size. A picture on which the reader process
// dies is no read, never the end of this process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/decoder/imaging/image.h"
#include "platform/decoder/imaging/reader_process.h"
#include "platform/decoder/imaging/symbols.h"

namespace imagefuzz {

// Pictures above this are refused by the check (the reader's time grows with
// the pixels); the engine reads them, more slowly.
constexpr int64_t kMaxCheckedPixels = 1 << 20;

inline int checkSymbols(const scanimage::Symbol* s, int n, int capacity, int width, int height) {
    if (n < 0 || n > capacity) return 2;
    for (int i = 0; i < n; ++i) {
        const scanimage::FormatInfo* f = nullptr;
        int count = 0;
        const scanimage::FormatInfo* all = scanimage::formats(count);
        for (int k = 0; k < count; ++k)
            if (all[k].letter == s[i].letter && all[k].symbologyId == s[i].symbologyId) f = &all[k];
        if (f == nullptr) return 3;
        if (s[i].bytes.empty() || s[i].bytes.size() > scanimage::wire::kMaxSymbolBytes) return 4;
        if (s[i].left > s[i].right || s[i].top > s[i].bottom || s[i].right < -width || s[i].bottom < -height ||
            s[i].left > 2 * width || s[i].top > 2 * height)
            return 5;
    }
    return 0;
}

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size, scanimage::ReaderOutcome* outcome = nullptr) {
    scanimage::GrayImage image;
    scanimage::LoadStatus status = scanimage::decodeImage(data, size, image);
    if (status != scanimage::LoadStatus::Ok) return image.pixels.empty() && image.width == 0 ? 0 : 1;
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
        return 1;
    if (static_cast<int64_t>(image.width) * image.height > kMaxCheckedPixels) return 0;
    scanimage::Symbol symbols[4];
    scanimage::ReaderOutcome got = scanimage::ReaderOutcome::Read;
    int n = scanimage::readSymbolsApart(image, scanimage::openRequest(), symbols, 4, scanimage::ReaderWait{}, &got);
    if (outcome != nullptr) *outcome = got;
    if (got != scanimage::ReaderOutcome::Read && n != 0) return 6;
    if (got == scanimage::ReaderOutcome::Unavailable || got == scanimage::ReaderOutcome::BadAnswer) return 7;
    return checkSymbols(symbols, n, 4, image.width, image.height);
}

}  // namespace imagefuzz
