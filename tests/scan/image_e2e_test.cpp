// The real wedge reading images on the host terminal: rendered labels come
// out typed and framed as the settings say; the decode settings, lengths and
// decode window really keep barcodes unread; scan sync collects the labels
// of one picture in rule order, natively and band by band.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "platform/host/terminal.h"
#include "settings/keytable.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"

namespace {

using scanloop::countOf;
using scanloop::soundNames;
using scanloop::typed;

constexpr const char* kSerialSettings =
    "[Settings]\r\nEnableScanner=1\r\nOutPutMode=3\r\nComportNumber=3\r\nConnectingTo=4\r\nSuffix=13\r\n";

scanimage::GrayImage label(const char* format, const std::string& data, int module = 3) {
    scanimage::GrayImage image;
    std::string error;
    scanimage::LabelStyle style;
    style.moduleSize = module;
    style.barHeight = 60;
    EXPECT_TRUE(scanimage::renderLabel(*scanimage::formatByName(format), data, style, image, error)) << error;
    return image;
}

// A 640 x 480 photo of one label: turned a little, blurred, noisy.
scanimage::GrayImage photo(const char* format, const std::string& data, double degrees = 3) {
    scanimage::GrayImage picture = scanimage::canvas(640, 480);
    scanimage::GrayImage l = scanimage::rotated(label(format, data), degrees);
    scanimage::place(picture, l, (640 - l.width) / 2, (480 - l.height) / 2);
    picture = scanimage::blurred(picture, 0.6);
    scanimage::addNoise(picture, 6, 7);
    return picture;
}

class ImageScanTest : public ::testing::Test {
protected:
    void start(const std::string& ini, const std::string& decodeSettings = "", bool serial = false) {
        wedge::RootOptions options;
        options.settingsIni = ini;
        options.clockSpeed = 10;
        root = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root.empty());
        terminal::setConfig("keypad", std::to_string(keypadFamily(kFallbackDeviceModel)));
        terminal::setFocusClass(u"Edit");
        if (serial) {
            peer = wedge::openPeer(3);
            ASSERT_GE(peer, 0);
        }
        if (!decodeSettings.empty()) {
            FILE* f = std::fopen((root + "/Zentrova/DecodeSettings.Vqf").c_str(), "wb");
            ASSERT_NE(nullptr, f);
            std::fwrite(decodeSettings.data(), 1, decodeSettings.size(), f);
            std::fclose(f);
        }
        ASSERT_TRUE(program.start(root));
        ASSERT_TRUE(program.waitLoaded());
    }
    void TearDown() override {
        terminal::releaseKey(42);
        if (program.running()) program.quit();
        program.kill();
        if (peer >= 0) close(peer);
        wedge::removeTerminalRoot(root);
    }
    void show(const scanimage::GrayImage& picture, const std::string& name = "picture.png") {
        std::string path = root + "/" + name;
        ASSERT_TRUE(scanimage::saveImage(path, picture));
        terminal::ImageSource source;
        source.path = path;
        ASSERT_TRUE(terminal::putImageInView(source));
    }
    // One press of the scan key until `until` holds or the time passes.
    bool press(const std::function<bool()>& until, int realMilliseconds = 8000) {
        terminal::pressKey(42);
        bool held = wedge::waitFor(until, realMilliseconds);
        terminal::releaseKey(42);
        return held;
    }
    // Waits for the pass to end (lights off) and for a bad read or a good one.
    void settle() {
        wedge::waitFor([] { return terminal::ledState(0) == 0 && terminal::ledState(1) == 0; });
        program.idle();
    }

    std::string root;
    int peer = -1;
    wedge::WedgeProcess program;
};

TEST_F(ImageScanTest, EveryWritableFormatIsTypedAndFramedFromAPhoto) {
    start(kSerialSettings, "", true);
    const std::pair<const char*, std::string> labels[] = {
        {"Aztec", "AZTEC 42"},         {"Codabar", "A40156B"},   {"Code128", "Code-128/x"},
        {"Code39", "CODE 39"},         {"Code93", "CODE-93"},    {"DataMatrix", "Matrix 7"},
        {"EAN-8", "96385074"},         {"EAN-13", "4006381333931"}, {"ITF", "00123456789012"},
        {"PDF417", "PDF 417"},         {"QRCode", "https://example.com/q?a=1"},
        {"UPC-A", "036000291452"},     {"UPC-E", "01234565"},
    };
    for (const auto& [format, data] : labels) {
        SCOPED_TRACE(format);
        terminal::clearFocusText();
        show(photo(format, data, std::string(format) == "Aztec" ? 0 : 3));
        std::string expected = data + "\n";
        EXPECT_TRUE(press([&] { return typed() == expected; })) << typed();
        settle();
        EXPECT_EQ(expected, typed());
        // The raw frame: the data alone.
        EXPECT_EQ(data, wedge::readPeer(peer, data.size(), 3000, true));
    }
    EXPECT_EQ(13, countOf(soundNames(), "resource:129"));
    EXPECT_EQ(0, countOf(soundNames(), "resource:4"));
}

TEST_F(ImageScanTest, BinaryQrCodeReachesTheSerialPeerWhole) {
    start("[Settings]\r\nEnableScanner=1\r\nOutPutMode=2\r\nComportNumber=3\r\nConnectingTo=4\r\n", "", true);
    std::string bytes;
    for (int i = 1; i < 256; ++i) bytes += static_cast<char>(i);
    scanimage::GrayImage picture = scanimage::canvas(640, 480);
    scanimage::place(picture, label("QRCode", bytes, 3), 150, 60);
    show(picture);
    terminal::pressKey(42);
    std::string got = wedge::readPeer(peer, bytes.size(), 8000, true);
    terminal::releaseKey(42);
    EXPECT_EQ(bytes, got);
}

TEST_F(ImageScanTest, DisabledSymbologyAndLengthsOutsideTheLimitsAreNotRead) {
    // QR codes off; Code 128 of 4 to 6 characters only.
    start("[Settings]\r\nEnableScanner=1\r\nOutPutMode=1\r\nSuffix=13\r\n",
          "<SettingsFile>\r\n<Section id=\"QR\">\r\n<Key id=\"Enable\">false</Key>\r\n</Section>\r\n"
          "<Section id=\"Code128\">\r\n<Key id=\"Enable\">true</Key>\r\n<Key id=\"MinLength\">4</Key>\r\n"
          "<Key id=\"MaxLength\">6</Key>\r\n</Section>\r\n</SettingsFile>\r\n");
    show(photo("QRCode", "QR-OFF"));
    EXPECT_FALSE(press([] { return !typed().empty(); }, 1500));
    show(photo("Code128", "TOOLONG"));
    EXPECT_FALSE(press([] { return !typed().empty(); }, 1500));
    show(photo("Code128", "ABC"));
    EXPECT_FALSE(press([] { return !typed().empty(); }, 1500));
    settle();
    EXPECT_EQ("", typed());
    EXPECT_EQ(0, countOf(soundNames(), "resource:129"));
    EXPECT_GE(countOf(soundNames(), "resource:4"), 3);
    // Within the limits it reads.
    show(photo("Code128", "FITS"));
    EXPECT_TRUE(press([] { return typed() == "FITS\n"; })) << typed();
}

// Three labels in the three bands of the decode-window backup (upper,
// middle, lower), in an order unlike the rules'.
scanimage::GrayImage threeLabels() {
    scanimage::GrayImage picture = scanimage::canvas(640, 480);
    scanimage::place(picture, label("Code93", "PART9", 2), 40, 20);      // rows 20..
    scanimage::place(picture, label("QRCode", "LOT-77", 3), 400, 130);   // rows 130..
    scanimage::place(picture, label("Code128", "ORDER1", 2), 60, 330);   // rows 330..
    return picture;
}

constexpr const char* kSyncSettings =
    "[Settings]\r\nEnableScanner=1\r\nOutPutMode=1\r\nEnableSequenceEditor=1\r\n"
    "[Sync1]\r\n"
    "[Barcode1]\r\nBarcodeSym=4\r\nprefix=79,58\r\nsuffix=13\r\n"    // Code 128: "O:"
    "[Barcode2]\r\nBarcodeSym=17\r\nprefix=76,58\r\nsuffix=13\r\n"   // QR: "L:"
    "[Barcode3]\r\nBarcodeSym=7\r\nprefix=80,58\r\nsuffix=13\r\n";   // Code 93: "P:"

TEST_F(ImageScanTest, MultiDecodeDeliversThreeLabelsOfOnePictureInRuleOrder) {
    start(kSyncSettings);
    show(threeLabels());
    const std::string expected = "O:ORDER1\nL:LOT-77\nP:PART9\n";
    EXPECT_TRUE(press([&] { return typed() == expected; })) << typed();
    settle();
    EXPECT_EQ(expected, typed());
}

TEST_F(ImageScanTest, DecodeWindowBackupFindsTheLabelsBandByBand) {
    start(kSyncSettings);
    terminal::setConfig("multidecode", "0");
    show(threeLabels());
    const std::string expected = "O:ORDER1\nL:LOT-77\nP:PART9\n";
    EXPECT_TRUE(press([&] { return typed() == expected; }, 15000)) << typed();
    settle();
    EXPECT_EQ(expected, typed());
    // The window was really moved over the image.
    std::vector<int32_t> window = terminal::decodeWindow();
    ASSERT_EQ(5u, window.size());
    EXPECT_EQ(1, window[0]);
}

}  // namespace
