#include "platform/decoder/imaging/label.h"

#include <ZXing/BarcodeFormat.h>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace scanimage {

namespace {

uint8_t at(const GrayImage& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return 255;
    return image.pixels[static_cast<size_t>(y) * image.width + x];
}

bool linear(int format) {
    return (format & static_cast<int>(ZXing::BarcodeFormat::LinearCodes)) != 0;
}

}  // namespace

GrayImage canvas(int width, int height) {
    GrayImage c;
    c.width = std::clamp(width, 1, kMaxSide);
    c.height = std::clamp(height, 1, kMaxSide);
    c.pixels.assign(static_cast<size_t>(c.width) * c.height, 255);
    return c;
}

bool renderLabel(const FormatInfo& format, const std::string& data, const LabelStyle& style, GrayImage& out,
                 std::string& error) {
    if (!format.writable) {
        error = std::string(format.name) + " labels cannot be drawn";
        return false;
    }
    ZXing::BitMatrix matrix;
    try {
        ZXing::MultiFormatWriter writer(static_cast<ZXing::BarcodeFormat>(format.format));
        // Binary data goes into 2D symbols byte for byte.
        writer.setEncoding(ZXing::CharacterSet::BINARY);
        writer.setMargin(0);
        // Each byte is one character for the writer (no UTF-8 reading).
        std::wstring text;
        for (unsigned char c : data) text += static_cast<wchar_t>(c);
        matrix = writer.encode(text, 1, 1);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    int module = std::max(1, style.moduleSize);
    int rows = linear(format.format) ? 1 : matrix.height();
    int cellHeight = linear(format.format) ? std::max(1, style.barHeight) : module;
    int quiet = std::max(0, style.quietZone) * module;
    int64_t width = static_cast<int64_t>(matrix.width()) * module + 2 * quiet;
    int64_t height = static_cast<int64_t>(rows) * cellHeight + 2 * quiet;
    if (width > kMaxSide || height > kMaxSide) {
        error = "the label would be larger than " + std::to_string(kMaxSide) + " pixels";
        return false;
    }
    out = canvas(static_cast<int>(width), static_cast<int>(height));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < matrix.width(); ++x) {
            if (!matrix.get(x, y)) continue;
            for (int dy = 0; dy < cellHeight; ++dy)
                std::fill_n(&out.pixels[static_cast<size_t>(quiet + y * cellHeight + dy) * out.width + quiet + x * module],
                            module, 0);
        }
    return true;
}

GrayImage rotated(const GrayImage& in, double degrees) {
    double a = degrees * M_PI / 180.0;
    double c = std::cos(a), s = std::sin(a);
    int w = static_cast<int>(std::ceil(std::fabs(in.width * c) + std::fabs(in.height * s)));
    int h = static_cast<int>(std::ceil(std::fabs(in.width * s) + std::fabs(in.height * c)));
    GrayImage out = canvas(w, h);
    double cx = in.width / 2.0, cy = in.height / 2.0, ox = out.width / 2.0, oy = out.height / 2.0;
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            // Inverse mapping with bilinear sampling.
            double dx = x + 0.5 - ox, dy = y + 0.5 - oy;
            double sx = c * dx + s * dy + cx - 0.5, sy = -s * dx + c * dy + cy - 0.5;
            int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
            double fx = sx - x0, fy = sy - y0;
            double v = at(in, x0, y0) * (1 - fx) * (1 - fy) + at(in, x0 + 1, y0) * fx * (1 - fy) +
                       at(in, x0, y0 + 1) * (1 - fx) * fy + at(in, x0 + 1, y0 + 1) * fx * fy;
            out.pixels[static_cast<size_t>(y) * out.width + x] = static_cast<uint8_t>(std::lround(v));
        }
    return out;
}

GrayImage blurred(const GrayImage& in, double radius) {
    if (radius <= 0) return in;
    int reach = std::min(64, static_cast<int>(std::ceil(radius * 3)));
    std::vector<double> kernel(2 * reach + 1);
    double sum = 0;
    for (int i = -reach; i <= reach; ++i) sum += kernel[i + reach] = std::exp(-(i * i) / (2 * radius * radius));
    for (double& k : kernel) k /= sum;
    GrayImage pass = in, out = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double v = 0;
            for (int i = -reach; i <= reach; ++i) v += kernel[i + reach] * at(in, std::clamp(x + i, 0, in.width - 1), y);
            pass.pixels[static_cast<size_t>(y) * in.width + x] = static_cast<uint8_t>(std::lround(v));
        }
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double v = 0;
            for (int i = -reach; i <= reach; ++i)
                v += kernel[i + reach] * at(pass, x, std::clamp(y + i, 0, in.height - 1));
            out.pixels[static_cast<size_t>(y) * in.width + x] = static_cast<uint8_t>(std::lround(v));
        }
    return out;
}

void addNoise(GrayImage& image, double deviation, uint32_t seed) {
    if (deviation <= 0) return;
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, deviation);
    for (uint8_t& p : image.pixels) p = static_cast<uint8_t>(std::clamp(std::lround(p + noise(random)), 0L, 255L));
}

void place(GrayImage& target, const GrayImage& label, int x, int y) {
    for (int row = 0; row < label.height; ++row) {
        int ty = y + row;
        if (ty < 0 || ty >= target.height) continue;
        for (int col = 0; col < label.width; ++col) {
            int tx = x + col;
            if (tx < 0 || tx >= target.width) continue;
            target.pixels[static_cast<size_t>(ty) * target.width + tx] =
                label.pixels[static_cast<size_t>(row) * label.width + col];
        }
    }
}

GrayImage scaled(const GrayImage& in, double factor) {
    int w = std::clamp(static_cast<int>(std::lround(in.width * factor)), 1, kMaxSide);
    int h = std::clamp(static_cast<int>(std::lround(in.height * factor)), 1, kMaxSide);
    GrayImage out = canvas(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Area average over the source pixels this one covers.
            int x0 = x * in.width / w, x1 = std::max(x0 + 1, (x + 1) * in.width / w);
            int y0 = y * in.height / h, y1 = std::max(y0 + 1, (y + 1) * in.height / h);
            long sum = 0, n = 0;
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx, ++n) sum += at(in, sx, sy);
            out.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(sum / n);
        }
    return out;
}

}  // namespace scanimage
