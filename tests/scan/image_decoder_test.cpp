// The decoder calls against an image in view, in this process: the decode
// window as a rectangle on the image, the identifier outputs, frames taken
// one after another until a read, and a damaged image read as nothing.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "tests/support/scanengine_support.h"

namespace scanengine {
namespace {

int keepGoing() {
    return 1;
}

std::vector<std::string> collected;

// Keeps a multi decode going until three barcodes came and 400 terminal ms
// passed (so repeated looks at the same picture would show as duplicates),
// however slowly the machine reads.
DWORD multiStart = 0;
int keepGoingForThree() {
    return collected.size() < 3 || GetTickCount() - multiStart < 400 ? 1 : 0;
}

int collect(DecodeResult* r) {
    collected.emplace_back(std::string(1, static_cast<char>(r->symbologyLetter)) + ":" +
                           std::string(r->data, r->length));
    return 1;
}

scanimage::GrayImage label(const char* format, const std::string& data) {
    scanimage::GrayImage image;
    std::string error;
    scanimage::LabelStyle style;
    style.barHeight = 50;
    EXPECT_TRUE(scanimage::renderLabel(*scanimage::formatByName(format), data, style, image, error)) << error;
    return image;
}

class ImageDecoderTest : public EngineTerminal {
protected:
    void SetUp() override {
        EngineTerminal::SetUp();
        // Time-outs are terminal time, and reading a picture takes real time:
        // on a fast clock a loaded machine would run out of a read's time-out.
        terminal::setClockSpeed(1);
        collected.clear();
        ASSERT_EQ(0, decoderConnect());
    }
    void show(const scanimage::GrayImage& picture, const std::string& name = "view.png") {
        ASSERT_TRUE(scanimage::saveImage(root + "/" + name, picture));
        terminal::ImageSource source;
        source.path = root + "/" + name;
        ASSERT_TRUE(terminal::putImageInView(source));
    }
    // A read returns as soon as it is made; a call that must read gets
    // time enough for a loaded machine, one that must not read a short one.
    static constexpr DWORD kMustRead = 10000;
    int single(DWORD timeout = 300) {
        std::memset(decodeBuffer, 0x55, sizeof decodeBuffer);
        return decoderSingleDecode(timeout, decodeBuffer, &symbologyLetterOut, &secondIdentifierOut,
                                   &thirdIdentifierOut, &decodeLength, keepGoing);
    }
    void window(int32_t enable, int top, int bottom) {
        DecodeWindowRect rect{0, top, 639, bottom};
        ASSERT_EQ(0, decoderWriteWindow(&enable, &rect));
    }
};

TEST_F(ImageDecoderTest, DecodeWindowIsARectangleOnTheImage) {
    // A 1280 x 720 picture: the window's 640 x 480 sensor rows are scaled to it.
    scanimage::GrayImage picture = scanimage::canvas(1280, 720);
    scanimage::place(picture, label("Code128", "LOW-ROW"), 300, 560);  // sensor rows ~373..
    show(picture);
    window(1, 0, 240);
    EXPECT_NE(0, single());
    window(1, 239, 479);
    ASSERT_EQ(0, single(kMustRead));
    EXPECT_EQ("LOW-ROW", std::string(decodeBuffer));
    EXPECT_EQ(7, decodeLength);
    EXPECT_EQ('j', symbologyLetterOut);
    EXPECT_EQ('C', secondIdentifierOut);
    EXPECT_EQ('0', thirdIdentifierOut);
    // Switched off, the window no longer limits.
    window(0, 0, 100);
    EXPECT_EQ(0, single(kMustRead));
}

TEST_F(ImageDecoderTest, MultiDecodeCallsBackOncePerBarcodeInReadingOrder) {
    scanimage::GrayImage picture = scanimage::canvas(640, 480);
    scanimage::place(picture, label("QRCode", "BOTTOM"), 250, 330);
    scanimage::place(picture, label("Code39", "TOP-R"), 340, 20);
    scanimage::place(picture, label("EAN-13", "4006381333931"), 10, 30);
    show(picture);
    uint8_t flag = 0;
    multiStart = GetTickCount();
    EXPECT_NE(0, decoderMultiDecode(kMustRead, collect, keepGoingForThree, &flag));  // ends by keep-going
    EXPECT_EQ((std::vector<std::string>{"d:4006381333931", "b:TOP-R", "s:BOTTOM"}), collected);
}

TEST_F(ImageDecoderTest, FramesAreTakenOneAfterAnotherUntilARead) {
    std::string folder = root + "/frames";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(scanimage::saveImage(folder + "/01.png", scanimage::canvas(640, 480)));
    ASSERT_TRUE(scanimage::saveImage(folder + "/02.jpg", scanimage::canvas(640, 480)));
    scanimage::GrayImage third = scanimage::canvas(640, 480);
    scanimage::place(third, label("Code93", "THIRD"), 100, 100);
    ASSERT_TRUE(scanimage::saveImage(folder + "/03.png", third));
    terminal::ImageSource source;
    source.path = folder;
    source.frames = true;
    source.framesPerSecond = 20;
    ASSERT_TRUE(terminal::putImageInView(source));
    ASSERT_EQ(0, single(kMustRead));  // the last frame stays in view
    EXPECT_EQ("THIRD", std::string(decodeBuffer));
    EXPECT_EQ('i', symbologyLetterOut);
}

TEST_F(ImageDecoderTest, StillImageGetsTheSecondLookAfterTheFirstReadsNothing) {
    // Printed small: modules of a pixel and a half.
    scanimage::GrayImage picture = scanimage::canvas(640, 480);
    scanimage::place(picture, scanimage::scaled(label("EAN-13", "4006381333931"), 0.5), 250, 200);
    show(picture);
    // Time for both looks under the sanitizers too.
    ASSERT_EQ(0, single(60000));
    EXPECT_EQ("4006381333931", std::string(decodeBuffer));
    EXPECT_EQ('d', symbologyLetterOut);
}

TEST_F(ImageDecoderTest, DamagedImageReadsAsNothing) {
    std::ofstream(root + "/bad.png", std::ios::binary) << "\x89PNG\r\n\x1a\n broken";
    terminal::ImageSource source;
    source.path = root + "/bad.png";
    ASSERT_TRUE(terminal::putImageInView(source));
    EXPECT_NE(0, single(100));
    // A good image in its place is read at once.
    show(label("Code128", "AFTER"));
    EXPECT_EQ(0, single(kMustRead));
    terminal::clearView();
    EXPECT_EQ("", terminal::imageInView().path);
    EXPECT_NE(0, single(50));
}

}  // namespace
}  // namespace scanengine
