#include "platform/decoder/imaging/symbols.h"

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "scan/symbologies.h"

namespace scanimage {

namespace {

using ZXing::BarcodeFormat;

// The reader's formats and the decode-settings section of the symbology
// each is; letter and id come from the symbology table.
struct FormatSource {
    const char* name;
    BarcodeFormat format;
    const char* section;
    bool writable;
};

const FormatSource kFormatSources[] = {
    {"Aztec", BarcodeFormat::Aztec, "Aztec", true},
    {"Codabar", BarcodeFormat::Codabar, "Codabar", true},
    {"Code128", BarcodeFormat::Code128, "Code128", true},
    {"Code39", BarcodeFormat::Code39, "Code 39", true},
    {"Code93", BarcodeFormat::Code93, "Code93", true},
    {"DataMatrix", BarcodeFormat::DataMatrix, "DataMatrix", true},
    {"EAN-8", BarcodeFormat::EAN8, "EAN8", true},
    {"EAN-13", BarcodeFormat::EAN13, "EAN13", true},
    {"MaxiCode", BarcodeFormat::MaxiCode, "MaxiCode", false},
    {"PDF417", BarcodeFormat::PDF417, "PDF417", true},
    {"QRCode", BarcodeFormat::QRCode, "QR", true},
    {"MicroQRCode", BarcodeFormat::MicroQRCode, "QR", false},
    {"DataBar", BarcodeFormat::DataBar, "RSS", false},
    {"DataBarExpanded", BarcodeFormat::DataBarExpanded, "RSS", false},
    {"UPC-A", BarcodeFormat::UPCA, "UPCA", true},
    {"UPC-E", BarcodeFormat::UPCE, "UPCE0", true},
    {"ITF", BarcodeFormat::ITF, "Int25", true},
};
constexpr int kFormatCount = sizeof kFormatSources / sizeof kFormatSources[0];

struct FormatTable {
    FormatInfo entries[kFormatCount];
};

FormatTable makeFormats() {
    FormatTable t{};
    for (int i = 0; i < kFormatCount; ++i) {
        const FormatSource& f = kFormatSources[i];
        const Symbology* s = symbologyBySection(f.section);
        // Every section named above is one of the table's (tested).
        t.entries[i] = {f.name, static_cast<int>(f.format), s != nullptr ? s->letter : '\0',
                        s != nullptr ? s->engineId : -1, s, f.writable};
    }
    return t;
}

const FormatTable& formatTable() {
    static const FormatTable table = makeFormats();
    return table;
}

const FormatInfo* byFormat(BarcodeFormat format) {
    for (const auto& f : formatTable().entries)
        if (f.format == static_cast<int>(format)) return &f;
    return nullptr;
}

std::string folded(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '-' || c == '_' || c == ' ') continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

// How a point of the picture the reader looked at maps onto the frame:
// scaled down by `scale`, turned back by `degrees` about the centres, moved
// by x, y.
struct Look {
    double scale = 1;
    double degrees = 0;
    double fromCentreX = 0, fromCentreY = 0;  // centre of the turned picture
    double toCentreX = 0, toCentreY = 0;      // centre of the picture turned
    int x = 0, y = 0;
};

void toFrame(const Look& look, double px, double py, int& fx, int& fy) {
    double x = px, y = py;
    if (look.degrees != 0) {
        double a = look.degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        double dx = px - look.fromCentreX, dy = py - look.fromCentreY;
        x = c * dx + s * dy + look.toCentreX;
        y = -s * dx + c * dy + look.toCentreY;
    }
    fx = static_cast<int>(std::lround(x / look.scale)) + look.x;
    fy = static_cast<int>(std::lround(y / look.scale)) + look.y;
}

// One look of the reader at `view`: the barcodes the request allows, their
// boxes on the frame.
void lookAt(const ZXing::ImageView& view, int formatBits, const ReadRequest& request, const Look& look,
            std::vector<Symbol>& found) {
    ZXing::DecodeHints hints;
    hints.setFormats(static_cast<BarcodeFormat>(formatBits));
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    // The reader's down-scaled second look merges its linear results with a
    // comparison that aborts the process (an assertion in the 1.4 library)
    // once a barcode was seen on several lines: never taken.
    hints.setTryDownscale(false);
    // Codabar's start and stop characters are part of its data.
    hints.setReturnCodabarStartEnd(true);
    hints.setMaxNumberOfSymbols(static_cast<uint8_t>(kMaxSymbols));

    ZXing::Results results;
    try {
        results = ZXing::ReadBarcodes(view, hints);
    } catch (...) {
        // The reader allocates; an image it cannot take reads as nothing.
        return;
    }
    for (const auto& r : results) {
        if (!r.isValid()) continue;
        const FormatInfo* f = byFormat(r.format());
        if (f == nullptr || !request.enabled[f->symbologyId]) continue;
        const auto& bytes = r.bytes();
        size_t n = bytes.size();
        if (n < request.minLength[f->symbologyId] || n > request.maxLength[f->symbologyId]) continue;
        Symbol s;
        s.bytes.assign(reinterpret_cast<const char*>(bytes.data()), n);
        s.letter = f->letter;
        std::string id = r.symbologyIdentifier();
        s.second = id.size() > 1 ? id[1] : 0;
        s.third = id.size() > 2 ? id[2] : 0;
        s.symbologyId = f->symbologyId;
        const auto& p = r.position();
        for (int i = 0; i < 4; ++i) {
            int x = 0, y = 0;
            toFrame(look, p[i].x, p[i].y, x, y);
            s.left = i == 0 ? x : std::min(s.left, x);
            s.right = i == 0 ? x : std::max(s.right, x);
            s.top = i == 0 ? y : std::min(s.top, y);
            s.bottom = i == 0 ? y : std::max(s.bottom, y);
        }
        found.push_back(std::move(s));
    }
}

// Twice the size, each pixel interpolated between its neighbours.
GrayImage doubled(const GrayImage& in) {
    GrayImage out;
    out.width = in.width * 2;
    out.height = in.height * 2;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    auto at = [&](int x, int y) {
        return static_cast<int>(in.pixels[static_cast<size_t>(std::clamp(y, 0, in.height - 1)) * in.width +
                                          std::clamp(x, 0, in.width - 1)]);
    };
    for (int y = 0; y < out.height; ++y) {
        // Output pixel centres lie a quarter of a source pixel off theirs.
        int y0 = (y - 1) >> 1, wy = (y & 1) ? 3 : 1;  // weight of y0 in quarters
        for (int x = 0; x < out.width; ++x) {
            int x0 = (x - 1) >> 1, wx = (x & 1) ? 3 : 1;
            int v = at(x0, y0) * wx * wy + at(x0 + 1, y0) * (4 - wx) * wy + at(x0, y0 + 1) * wx * (4 - wy) +
                    at(x0 + 1, y0 + 1) * (4 - wx) * (4 - wy);
            out.pixels[static_cast<size_t>(y) * out.width + x] = static_cast<uint8_t>((v + 8) / 16);
        }
    }
    return out;
}

// Frames on which the first look finds nothing get a second one: enlarged
// (labels printed small, modules of one or two pixels), then, for the
// linear formats, turned a twelfth of a turn either way (a linear barcode
// held at a slant no scan line crosses whole).
constexpr int64_t kMaxDoubledPixels = 1280 * 960;
constexpr double kSlantDegrees = 30;

void secondLook(const uint8_t* pixels, int width, int left, int top, int right, int bottom, int formatBits,
                const ReadRequest& request, std::vector<Symbol>& found) {
    GrayImage crop;
    crop.width = right - left + 1;
    crop.height = bottom - top + 1;
    crop.pixels.resize(static_cast<size_t>(crop.width) * crop.height);
    for (int y = 0; y < crop.height; ++y)
        std::memcpy(&crop.pixels[static_cast<size_t>(y) * crop.width], pixels + static_cast<size_t>(top + y) * width + left,
                    static_cast<size_t>(crop.width));
    if (static_cast<int64_t>(crop.width) * crop.height <= kMaxDoubledPixels) {
        GrayImage big = doubled(crop);
        Look look;
        look.scale = 2;
        look.x = left;
        look.y = top;
        lookAt(ZXing::ImageView(big.pixels.data(), big.width, big.height, ZXing::ImageFormat::Lum), formatBits,
               request, look, found);
        if (!found.empty()) return;
    }
    int linear = formatBits & static_cast<int>(BarcodeFormat::LinearCodes);
    if (linear == 0) return;
    for (double degrees : {-kSlantDegrees, kSlantDegrees}) {
        GrayImage turned = rotated(crop, degrees);
        Look look;
        look.degrees = degrees;
        look.fromCentreX = turned.width / 2.0;
        look.fromCentreY = turned.height / 2.0;
        look.toCentreX = crop.width / 2.0;
        look.toCentreY = crop.height / 2.0;
        look.x = left;
        look.y = top;
        lookAt(ZXing::ImageView(turned.pixels.data(), turned.width, turned.height, ZXing::ImageFormat::Lum), linear,
               request, look, found);
        if (!found.empty()) return;
    }
}

}  // namespace

const FormatInfo* formats(int& count) {
    count = kFormatCount;
    return formatTable().entries;
}

const FormatInfo* formatByName(const std::string& name) {
    std::string wanted = folded(name);
    for (const auto& f : formatTable().entries)
        if (folded(f.name) == wanted) return &f;
    return nullptr;
}

ReadRequest openRequest() {
    ReadRequest r{};
    for (int i = 0; i < kSymbologyIds; ++i) {
        r.enabled[i] = true;
        r.minLength[i] = 1;
        r.maxLength[i] = 4096;
    }
    r.left = 0;
    r.top = 0;
    r.right = -1;
    r.bottom = -1;
    r.looks = kFirstLook | kSecondLook;
    return r;
}

int readSymbols(const GrayImage& image, const ReadRequest& request, Symbol* out, int capacity) {
    if (image.width <= 0 || image.height <= 0 || image.pixels.size() < static_cast<size_t>(image.width) * image.height)
        return 0;
    return readSymbols(image.pixels.data(), image.width, image.height, request, out, capacity);
}

int readSymbols(const uint8_t* pixels, int width, int height, const ReadRequest& request, Symbol* out, int capacity) {
    if (out == nullptr || capacity <= 0 || pixels == nullptr || width <= 0 || height <= 0) return 0;
    int formatBits = 0;
    for (const auto& f : formatTable().entries)
        if (f.symbologyId >= 0 && f.symbologyId < kSymbologyIds && request.enabled[f.symbologyId])
            formatBits |= f.format;
    if (formatBits == 0) return 0;

    int left = 0, top = 0, right = width - 1, bottom = height - 1;
    if (request.left <= request.right && request.top <= request.bottom) {
        left = std::clamp(request.left, 0, width - 1);
        right = std::clamp(request.right, 0, width - 1);
        top = std::clamp(request.top, 0, height - 1);
        bottom = std::clamp(request.bottom, 0, height - 1);
        if (left > right || top > bottom) return 0;
    }
    ZXing::ImageView whole(pixels, width, height, ZXing::ImageFormat::Lum);
    ZXing::ImageView view = whole.cropped(left, top, right - left + 1, bottom - top + 1);
    std::vector<Symbol> found;
    Look first;
    first.x = left;
    first.y = top;
    if ((request.looks & kFirstLook) != 0) lookAt(view, formatBits, request, first, found);
    if (found.empty() && (request.looks & kSecondLook) != 0) secondLook(pixels, width, left, top, right, bottom, formatBits, request, found);

    // Reading order: take the topmost remaining barcode; every barcode whose
    // vertical centre lies within its extent shares its line; a line is
    // read left to right.
    int stored = 0;
    std::vector<bool> taken(found.size(), false);
    for (size_t done = 0; done < found.size() && stored < capacity;) {
        size_t first = found.size();
        for (size_t i = 0; i < found.size(); ++i)
            if (!taken[i] && (first == found.size() || found[i].top < found[first].top)) first = i;
        std::vector<size_t> line;
        for (size_t i = 0; i < found.size(); ++i) {
            int centre = (found[i].top + found[i].bottom) / 2;
            if (!taken[i] && centre >= found[first].top && centre <= found[first].bottom) line.push_back(i);
        }
        if (line.empty()) line.push_back(first);
        std::sort(line.begin(), line.end(), [&](size_t a, size_t b) { return found[a].left < found[b].left; });
        for (size_t i : line) {
            taken[i] = true;
            ++done;
            if (stored < capacity) out[stored++] = found[i];
        }
    }
    return stored;
}

}  // namespace scanimage
