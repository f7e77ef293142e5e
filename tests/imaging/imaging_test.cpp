// Reading barcodes from images: rendered labels of every format written and
// read back byte for byte, degraded like photos; the engine's symbology,
// length and window limits; reading order; damaged and hostile files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/decoder/imaging/frames.h"
#include "platform/decoder/imaging/image.h"
#include "platform/decoder/imaging/label.h"
#include "platform/decoder/imaging/symbols.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"

namespace scanimage {
namespace {

namespace fs = std::filesystem;

struct Sample {
    const char* format;
    std::string data;
    char aim;  // code character of the symbology identifier
};

const Sample kSamples[] = {
    {"Aztec", "Aztec 123", 'z'},     {"Codabar", "A12345B", 'F'},       {"Code128", "ABC-123", 'C'},
    {"Code39", "CODE39", 'A'},       {"Code93", "CODE93", 'G'},         {"DataMatrix", "DataMatrix", 'd'},
    {"EAN-8", "96385074", 'E'},      {"EAN-13", "4006381333931", 'E'},  {"ITF", "12345678", 'I'},
    {"PDF417", "PDF417 text", 'L'},  {"QRCode", "https://example.com/a", 'Q'},
    {"UPC-A", "036000291452", 'E'},  {"UPC-E", "01234565", 'E'},
};

GrayImage label(const char* name, const std::string& data, int module = 3) {
    const FormatInfo* f = formatByName(name);
    EXPECT_NE(nullptr, f) << name;
    GrayImage image;
    std::string error;
    LabelStyle style;
    style.moduleSize = module;
    EXPECT_TRUE(f != nullptr && renderLabel(*f, data, style, image, error)) << name << ": " << error;
    return image;
}

std::vector<Symbol> read(const GrayImage& image, const ReadRequest& request = openRequest()) {
    std::vector<Symbol> out(kMaxSymbols);
    out.resize(static_cast<size_t>(readSymbols(image, request, out.data(), kMaxSymbols)));
    return out;
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testfiles::makeTempFolder("keyvane-imaging");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { testfiles::removeFolder(dir); }
    std::string file(const std::string& name, const std::string& bytes) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string dir;
};

using LabelsTest = TempDir;

TEST_F(LabelsTest, EveryWritableFormatReadsBackExactlyCleanAndLikeAPhoto) {
    int count = 0;
    const FormatInfo* all = formats(count);
    int writable = 0;
    for (int i = 0; i < count; ++i) writable += all[i].writable ? 1 : 0;
    ASSERT_EQ(static_cast<int>(sizeof kSamples / sizeof kSamples[0]), writable) << "a sample for every format";
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.format);
        const FormatInfo* f = formatByName(s.format);
        GrayImage clean = label(s.format, s.data, 4);
        // Within what the reader takes for every format: its Aztec reader
        // takes square-on symbols only (the read-rate benchmark shows more).
        GrayImage photo = rotated(clean, s.aim == 'z' ? 90 : 3);
        photo = blurred(photo, 0.6);
        addNoise(photo, 6, 3);
        // Through the file formats too: PNG and a lossy JPEG.
        std::string png = dir + "/label.png", jpeg = dir + "/label.jpg";
        ASSERT_TRUE(saveImage(png, photo));
        ASSERT_TRUE(saveImage(jpeg, photo));
        for (const std::string& path : {png, jpeg}) {
            GrayImage loaded;
            ASSERT_EQ(LoadStatus::Ok, loadImage(path, loaded)) << path;
            for (const GrayImage* image : {&clean, &loaded}) {
                auto found = read(*image);
                ASSERT_EQ(1u, found.size()) << path;
                EXPECT_EQ(s.data, found[0].bytes);
                EXPECT_EQ(f->letter, found[0].letter);
                EXPECT_EQ(f->symbologyId, found[0].symbologyId);
                EXPECT_EQ(s.aim, found[0].second);
                EXPECT_NE(0, found[0].third);
            }
        }
    }
}

// Letter and id of every format are those of its symbology in the table.
TEST(Formats, EveryFormatIsASymbologyOfTheTable) {
    int count = 0;
    const FormatInfo* all = formats(count);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; ++i) {
        ASSERT_NE(nullptr, all[i].symbology) << all[i].name;
        EXPECT_EQ(all[i].symbology->letter, all[i].letter) << all[i].name;
        EXPECT_EQ(all[i].symbology->engineId, all[i].symbologyId) << all[i].name;
    }
    EXPECT_STREQ("qr", formatByName("QRCode")->symbology->name);
    EXPECT_STREQ("int25", formatByName("ITF")->symbology->name);
    EXPECT_STREQ("upca", formatByName("UPC-A")->symbology->name);
}

TEST(Labels, BinaryQrCodeKeepsEveryByte) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    auto found = read(label("QRCode", bytes, 2));
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(bytes, found[0].bytes);
}

TEST(Labels, WriterRefusalsAreReportedNotThrown) {
    GrayImage image;
    std::string error;
    LabelStyle style;
    EXPECT_FALSE(renderLabel(*formatByName("EAN-13"), "not digits", style, image, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(renderLabel(*formatByName("DataBar"), "0123456789012", style, image, error));
    EXPECT_EQ(nullptr, formatByName("Code11"));
    EXPECT_EQ(formatByName("QRCode"), formatByName("qr_code"));
}

TEST(EngineLimits, DisabledSymbologyLengthsAndWindowKeepBarcodesUnread) {
    GrayImage picture = canvas(640, 480);
    place(picture, label("Code128", "LEFT1234"), 20, 40);
    place(picture, label("QRCode", "RIGHT"), 400, 300);
    ASSERT_EQ(2u, read(picture).size());

    ReadRequest noQr = openRequest();
    noQr.enabled[17] = false;
    auto found = read(picture, noQr);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("LEFT1234", found[0].bytes);

    ReadRequest shortCode128 = openRequest();
    shortCode128.maxLength[3] = 7;
    found = read(picture, shortCode128);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("RIGHT", found[0].bytes);
    shortCode128.maxLength[3] = 8;
    shortCode128.minLength[17] = 6;
    found = read(picture, shortCode128);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("LEFT1234", found[0].bytes);

    ReadRequest lowerRight = openRequest();
    lowerRight.left = 320;
    lowerRight.top = 240;
    lowerRight.right = 639;
    lowerRight.bottom = 479;
    found = read(picture, lowerRight);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("RIGHT", found[0].bytes);
    EXPECT_GE(found[0].left, 400);  // in image pixels, not window pixels
}

TEST(ReadingOrder, TopToBottomThenLeftToRight) {
    GrayImage picture = canvas(1280, 720);
    // A line of two (the right one a little higher), and one below.
    place(picture, label("Code128", "LINE1-RIGHT", 2), 700, 30);
    place(picture, label("Code39", "LINE1-LEFT", 2), 40, 60);
    place(picture, label("QRCode", "LINE2", 4), 300, 400);
    auto found = read(picture);
    ASSERT_EQ(3u, found.size());
    EXPECT_EQ("LINE1-LEFT", found[0].bytes);
    EXPECT_EQ("LINE1-RIGHT", found[1].bytes);
    EXPECT_EQ("LINE2", found[2].bytes);
}

TEST(ReadingOrder, LargePictureOfOneLinearCodeReadsOnce) {
    // The reader's down-scaled look would abort the process on this one.
    GrayImage picture = canvas(1280, 720);
    place(picture, label("Code128", "LOW-ROW"), 300, 560);
    auto found = read(picture);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("LOW-ROW", found[0].bytes);
}

// A frame the first look reads nothing from gets a second one: enlarged
// for labels printed small, turned for linear labels at a steep slant. What
// it finds is placed on the frame, inside the decode window.
TEST(SecondLook, SmallAndSlantedLabelsAreReadAndPlacedOnTheFrame) {
    struct Case {
        const char* format;
        std::string data;
        double scale, degrees;
    };
    const Case cases[] = {
        {"EAN-13", "4006381333931", 0.5, 0}, {"Code128", "SMALL-1", 0.5, 0}, {"ITF", "00123456789012", 0.5, 0},
        {"EAN-8", "96385074", 1, 30},        {"Code39", "SLANT", 1, -30},    {"UPC-A", "036000291452", 1, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format + std::string(" ") + std::to_string(c.scale) + " " + std::to_string(c.degrees));
        GrayImage l = label(c.format, c.data, 3);
        l = scaled(l, c.scale);
        if (c.degrees != 0) l = rotated(l, c.degrees);
        GrayImage picture = canvas(640, 480);
        const int x = 200, y = 120;
        place(picture, l, x, y);
        auto found = read(picture);
        ASSERT_EQ(1u, found.size());
        EXPECT_EQ(c.data, found[0].bytes);
        // The box lies on the label as placed (corners a few pixels off).
        EXPECT_GE(found[0].left, x - 4);
        EXPECT_GE(found[0].top, y - 4);
        EXPECT_LE(found[0].right, x + l.width + 4);
        EXPECT_LE(found[0].bottom, y + l.height + 4);
        EXPECT_GT(found[0].right, found[0].left);
        // Through a decode window around it; not outside it.
        ReadRequest window = openRequest();
        window.left = x - 20;
        window.top = y - 20;
        window.right = std::min(639, x + l.width + 20);
        window.bottom = std::min(479, y + l.height + 20);
        found = read(picture, window);
        ASSERT_EQ(1u, found.size());
        EXPECT_GE(found[0].left, x - 4);
        EXPECT_LE(found[0].bottom, y + l.height + 4);
        window.top = y + l.height + 10;
        window.bottom = 479;
        EXPECT_TRUE(read(picture, window).empty());
    }
    // A disabled format stays unread on the second look too.
    GrayImage picture = canvas(640, 480);
    place(picture, rotated(label("EAN-8", "96385074", 3), 30), 200, 120);
    ReadRequest request = openRequest();
    request.enabled[formatByName("EAN-8")->symbologyId] = false;
    EXPECT_TRUE(read(picture, request).empty());
}

using BadFiles = TempDir;

TEST_F(BadFiles, AreRefusedWithTheirReason) {
    GrayImage image;
    EXPECT_EQ(LoadStatus::NotFound, loadImage(dir + "/missing.png", image));
    EXPECT_EQ(LoadStatus::NotFound, loadImage(dir, image));
    EXPECT_EQ(LoadStatus::UnknownFormat, loadImage(file("empty.png", ""), image));
    EXPECT_EQ(LoadStatus::UnknownFormat, loadImage(file("text.png", "not an image at all"), image));

    GrayImage good = label("QRCode", "TRUNCATED");
    ASSERT_TRUE(saveImage(dir + "/good.png", good));
    ASSERT_TRUE(saveImage(dir + "/good.jpg", good));
    std::string png = testfiles::fileText(dir + "/good.png"), jpeg = testfiles::fileText(dir + "/good.jpg");
    // Cut inside the pixel data.
    for (size_t cut : {size_t{8}, size_t{30}, png.size() / 2, png.size() * 3 / 4})
        EXPECT_EQ(LoadStatus::Corrupt, loadImage(file("cut.png", png.substr(0, cut)), image)) << cut;
    for (size_t cut : {size_t{3}, size_t{100}, jpeg.size() / 2, jpeg.size() - 2})
        EXPECT_EQ(LoadStatus::Corrupt, loadImage(file("cut.jpg", jpeg.substr(0, cut)), image)) << cut;
    std::string flipped = png;
    flipped[png.size() / 2] = static_cast<char>(flipped[png.size() / 2] ^ 0x55);
    EXPECT_EQ(LoadStatus::Corrupt, loadImage(file("flipped.png", flipped), image));
    EXPECT_TRUE(image.pixels.empty());
}

TEST_F(BadFiles, HugeImagesAreRefusedBeforeTheirPixelsAreTaken) {
    // A PNG header announcing 60000 x 60000 pixels, and a JPEG one announcing 65000 x 65000.
    GrayImage image;
    GrayImage small = canvas(4, 4);
    ASSERT_TRUE(saveImage(dir + "/small.png", small));
    ASSERT_TRUE(saveImage(dir + "/small.jpg", small));
    std::string png = testfiles::fileText(dir + "/small.png");
    // IHDR data at offset 16, its CRC at 29.
    auto put32 = [](std::string& s, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put32(png, 16, 60000);
    put32(png, 20, 60000);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < 29; ++i) {
        crc ^= static_cast<uint8_t>(png[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    put32(png, 29, ~crc);
    EXPECT_EQ(LoadStatus::TooLarge, loadImage(file("huge.png", png), image));
    std::string jpeg = testfiles::fileText(dir + "/small.jpg");
    size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(std::string::npos, sof);
    jpeg[sof + 5] = jpeg[sof + 7] = static_cast<char>(0xFD);
    jpeg[sof + 6] = jpeg[sof + 8] = static_cast<char>(0xE8);
    EXPECT_EQ(LoadStatus::TooLarge, loadImage(file("huge.jpg", jpeg), image));
    // A file larger than any image taken.
    std::string big = dir + "/big.png";
    { std::ofstream(big) << "\x89PNG"; }
    fs::resize_file(big, kMaxFileBytes + 1);
    EXPECT_EQ(LoadStatus::TooLarge, loadImage(big, image));
}

using Frames = TempDir;

TEST_F(Frames, FolderPlaysInNameOrderAtItsRateAndHoldsTheLastFrame) {
    ASSERT_TRUE(saveImage(dir + "/b.png", label("Code128", "SECOND")));
    ASSERT_TRUE(saveImage(dir + "/a.jpg", label("Code128", "FIRST")));
    file("c.png", "damaged");
    file("notes.txt", "not a frame");
    FrameSource source;
    ASSERT_TRUE(openFrameFolder(source, dir, 10));
    auto bytesAt = [&](uint32_t ms, uint32_t expectedNumber) {
        Frame f = source.current(source.state, ms);
        EXPECT_EQ(expectedNumber, f.number) << ms;
        if (f.image == nullptr) return std::string("(unreadable)");
        auto found = read(*f.image);
        return found.empty() ? std::string() : found[0].bytes;
    };
    EXPECT_EQ("FIRST", bytesAt(5000, 1));  // the first look starts the sequence
    EXPECT_EQ("FIRST", bytesAt(5099, 1));
    EXPECT_EQ("SECOND", bytesAt(5100, 2));
    EXPECT_EQ("(unreadable)", bytesAt(5200, 3));
    EXPECT_EQ("(unreadable)", bytesAt(9000, 3));
    closeFrameSource(source);
    EXPECT_EQ(nullptr, source.state);

    fs::create_directory(dir + "/empty");
    EXPECT_FALSE(openFrameFolder(source, dir + "/empty", 10));
    EXPECT_FALSE(openFrameFolder(source, dir + "/none", 10));
    LoadStatus status = LoadStatus::Ok;
    EXPECT_FALSE(openStillImage(source, dir + "/c.png", &status));
    EXPECT_EQ(LoadStatus::UnknownFormat, status);
}

}  // namespace
}  // namespace scanimage
