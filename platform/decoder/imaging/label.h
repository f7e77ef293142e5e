// Rendered labels: a barcode drawn by the reader library's writer, and the
// ways a photo degrades it (rotation, blur, noise), for users and tests who
// make their own images.
#pragma once

#include <cstdint>
#include <string>

#include "platform/decoder/imaging/image.h"
#include "platform/decoder/imaging/symbols.h"

namespace scanimage {

struct LabelStyle {
    int moduleSize = 3;   // pixels per module (narrow bar)
    int barHeight = 80;   // pixels, linear formats
    int quietZone = 10;   // modules of white around the symbol
};

// Draws `data` in `format` (a writable format). Returns false with a reason
// when the writer refuses the data (EAN-13 with letters, ...).
bool renderLabel(const FormatInfo& format, const std::string& data, const LabelStyle& style, GrayImage& out,
                 std::string& error);
// Turns by `degrees` about the centre onto a canvas large enough for the
// result, white outside the image.
GrayImage rotated(const GrayImage& in, double degrees);
// Gaussian blur of the given radius (sigma) in pixels.
GrayImage blurred(const GrayImage& in, double radius);
// Adds Gaussian noise of the given standard deviation (grey levels).
void addNoise(GrayImage& image, double deviation, uint32_t seed);
// A white canvas.
GrayImage canvas(int width, int height);
// Copies `label` onto `canvas` with its top left corner at x, y (clipped).
void place(GrayImage& canvas, const GrayImage& label, int x, int y);
// Scales by `factor` (nearest pixel, at least 1x1).
GrayImage scaled(const GrayImage& in, double factor);

}  // namespace scanimage
