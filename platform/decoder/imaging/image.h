// Images in front of the host terminal's scan engine: PNG and JPEG files
// read into 8-bit grey pixels, and written back for rendered labels.
// Reading is bounded: a file above kMaxFileBytes, a side above kMaxSide or
// more than kMaxPixels pixels is refused before any pixel memory is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scanimage {

constexpr size_t kMaxFileBytes = 64u << 20;
constexpr int kMaxSide = 8192;
constexpr int64_t kMaxPixels = 16 * 1024 * 1024;

struct GrayImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height, row by row, 0 black .. 255 white
};

enum class LoadStatus { Ok, NotFound, UnknownFormat, Corrupt, TooLarge };

// Reads an image file; a transparent pixel counts as white paper.
LoadStatus loadImage(const std::string& path, GrayImage& out);
// The same for bytes in memory.
LoadStatus decodeImage(const uint8_t* bytes, size_t length, GrayImage& out);
const char* loadStatusText(LoadStatus status);

// Writes PNG, or JPEG when the name ends in ".jpg" or ".jpeg". Returns false
// when the file cannot be written.
bool saveImage(const std::string& path, const GrayImage& image);

}  // namespace scanimage
