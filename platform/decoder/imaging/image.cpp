#include "platform/decoder/imaging/image.h"

#include <spng.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace scanimage {

namespace {

bool sizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

bool endsWith(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[s.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i]) return false;
    }
    return true;
}

struct SpngFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
struct TjFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

LoadStatus decodePng(const uint8_t* bytes, size_t length, GrayImage& out) {
    std::unique_ptr<spng_ctx, SpngFree> ctx(spng_ctx_new(0));
    if (!ctx) return LoadStatus::Corrupt;
    spng_set_image_limits(ctx.get(), kMaxSide, kMaxSide);
    // Text and other side chunks are never kept large.
    spng_set_chunk_limits(ctx.get(), 1u << 20, 4u << 20);
    if (spng_set_png_buffer(ctx.get(), bytes, length) != 0) return LoadStatus::Corrupt;
    spng_ihdr ihdr{};
    int rc = spng_get_ihdr(ctx.get(), &ihdr);
    if (rc == SPNG_EUSER_WIDTH || rc == SPNG_EUSER_HEIGHT) return LoadStatus::TooLarge;
    if (rc != 0) return LoadStatus::Corrupt;
    if (!sizeAllowed(ihdr.width, ihdr.height)) return LoadStatus::TooLarge;
    size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) return LoadStatus::Corrupt;
    std::vector<uint8_t> rgba(size);
    if (spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
        return LoadStatus::Corrupt;
    out.width = static_cast<int>(ihdr.width);
    out.height = static_cast<int>(ihdr.height);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        const uint8_t* p = &rgba[i * 4];
        // Luma (ITU-R BT.601 weights in 1/256), laid over white by alpha.
        unsigned luma = (77u * p[0] + 150u * p[1] + 29u * p[2]) >> 8;
        unsigned a = p[3];
        out.pixels[i] = static_cast<uint8_t>((luma * a + 255u * (255u - a)) / 255u);
    }
    return LoadStatus::Ok;
}

LoadStatus decodeJpeg(const uint8_t* bytes, size_t length, GrayImage& out) {
    std::unique_ptr<void, TjFree> tj(tjInitDecompress());
    if (!tj) return LoadStatus::Corrupt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(tj.get(), bytes, static_cast<unsigned long>(length), &width, &height, &subsampling,
                            &colorspace) != 0)
        return LoadStatus::Corrupt;
    if (width <= 0 || height <= 0) return LoadStatus::Corrupt;
    if (!sizeAllowed(width, height)) return LoadStatus::TooLarge;
    out.width = width;
    out.height = height;
    out.pixels.assign(static_cast<size_t>(width) * height, 255);
    // A truncated or damaged stream is refused, not shown half grey.
    if (tjDecompress2(tj.get(), bytes, static_cast<unsigned long>(length), out.pixels.data(), width, width, height,
                      TJPF_GRAY, TJFLAG_STOPONWARNING) != 0) {
        out = GrayImage{};
        return LoadStatus::Corrupt;
    }
    return LoadStatus::Ok;
}

bool writeAll(const std::string& path, const unsigned char* data, size_t length) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(data, 1, length, f) == length;
    return std::fclose(f) == 0 && ok;
}

bool savePng(const std::string& path, const GrayImage& image) {
    std::unique_ptr<spng_ctx, SpngFree> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return false;
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(image.width);
    ihdr.height = static_cast<uint32_t>(image.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
    if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return false;
    if (spng_encode_image(ctx.get(), image.pixels.data(), image.pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0)
        return false;
    size_t length = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx.get(), &length, &error);
    if (png == nullptr || error != 0) return false;
    bool ok = writeAll(path, static_cast<unsigned char*>(png), length);
    std::free(png);
    return ok;
}

bool saveJpeg(const std::string& path, const GrayImage& image) {
    std::unique_ptr<void, TjFree> tj(tjInitCompress());
    if (!tj) return false;
    unsigned char* jpeg = nullptr;
    unsigned long length = 0;
    if (tjCompress2(tj.get(), image.pixels.data(), image.width, image.width, image.height, TJPF_GRAY, &jpeg, &length,
                    TJSAMP_GRAY, 90, 0) != 0)
        return false;
    bool ok = writeAll(path, jpeg, length);
    tjFree(jpeg);
    return ok;
}

}  // namespace

LoadStatus decodeImage(const uint8_t* bytes, size_t length, GrayImage& out) {
    out = GrayImage{};
    if (bytes == nullptr) return LoadStatus::UnknownFormat;
    if (length > kMaxFileBytes) return LoadStatus::TooLarge;
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (length >= 8 && std::memcmp(bytes, png, 8) == 0) return decodePng(bytes, length, out);
    if (length >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return decodeJpeg(bytes, length, out);
    return LoadStatus::UnknownFormat;
}

LoadStatus loadImage(const std::string& path, GrayImage& out) {
    out = GrayImage{};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return LoadStatus::NotFound;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n = 0;
    bool tooLarge = false;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (bytes.size() + n > kMaxFileBytes) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (tooLarge) return LoadStatus::TooLarge;
    // A folder or an unreadable file reads as nothing.
    if (failed) return LoadStatus::NotFound;
    return decodeImage(bytes.data(), bytes.size(), out);
}

const char* loadStatusText(LoadStatus status) {
    switch (status) {
        case LoadStatus::Ok:
            return "ok";
        case LoadStatus::NotFound:
            return "no such file";
        case LoadStatus::UnknownFormat:
            return "not a PNG or JPEG image";
        case LoadStatus::Corrupt:
            return "damaged or truncated image";
        case LoadStatus::TooLarge:
            return "image too large";
    }
    return "?";
}

bool saveImage(const std::string& path, const GrayImage& image) {
    if (!sizeAllowed(image.width, image.height) ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height)
        return false;
    if (endsWith(path, ".jpg") || endsWith(path, ".jpeg")) return saveJpeg(path, image);
    return savePng(path, image);
}

}  // namespace scanimage
