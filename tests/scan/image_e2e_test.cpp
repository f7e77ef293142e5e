// The real wedge reading images on the host terminal: rendered labels come
// out typed and framed as the settings say; the decode settings, lengths and
// decode window really keep barcodes unread; scan sync collects the labels
// of one picture in rule order, natively and band by band; a picture that
// aborts the reader, or a reader that hangs, costs a read and not the wedge,
// and leaves no process behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "platform/host/terminal.h"
#include "settings/keytable.h"
#include "tests/support/files.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/temp_root.h"
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
        // The scan time-out is terminal time and reading a picture real time:
        // at clock speed 1 a loaded machine keeps the whole time-out to read.
        options.clockSpeed = 1;
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
    // Each press ends in a bad read, and the next comes only after it, so
    // that a slow wedge does not take two presses for one.
    int badReads = 0;
    for (const auto& [format, data] : {std::pair<const char*, const char*>{"QRCode", "QR-OFF"},
                                       {"Code128", "TOOLONG"},
                                       {"Code128", "ABC"}}) {
        show(photo(format, data));
        EXPECT_FALSE(press([] { return !typed().empty(); }, 1500)) << data;
        EXPECT_TRUE(wedge::waitFor([&] { return countOf(soundNames(), "resource:4") > badReads; })) << data;
        badReads = countOf(soundNames(), "resource:4");
    }
    settle();
    EXPECT_EQ("", typed());
    EXPECT_EQ(0, countOf(soundNames(), "resource:129"));
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

// The processes a process started (its threads' children), with their state
// ('Z' for a zombie) and command name.
struct Child {
    pid_t pid;
    char state;
    std::string name;
};

std::vector<Child> childrenOf(pid_t parent) {
    std::vector<Child> out;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(parent) + "/task", ec)) {
        std::ifstream list(task.path() / "children");
        pid_t pid = 0;
        while (list >> pid) {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            size_t open = line.find('('), close = line.rfind(')');
            if (open == std::string::npos || close == std::string::npos || close + 2 >= line.size()) continue;
            out.push_back({pid, line[close + 2], line.substr(open + 1, close - open - 1)});
        }
    }
    return out;
}

bool gone(pid_t pid) {
    return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

constexpr const char* kPlainSettings = "[Settings]\r\nEnableScanner=1\r\nOutPutMode=1\r\nSuffix=13\r\n";

TEST_F(ImageScanTest, PictureThatAbortsTheReaderCostsOneReadNotTheWedge) {
    start(kPlainSettings);
    show(photo("Code128", "BEFORE"));
    ASSERT_TRUE(press([] { return typed() == "BEFORE\n"; })) << typed();
    settle();
    std::vector<Child> readers = childrenOf(program.pid());
    EXPECT_EQ(1u, readers.size());
    pid_t first = readers.empty() ? 0 : readers[0].pid;
    EXPECT_EQ("keyvane-reader", readers.empty() ? "" : readers[0].name);

    // The reader library's detector aborts on this picture.
    std::filesystem::copy_file(KEYVANE_SOURCE_DIR "/tools/fuzz-image/corpus/regression-line.jpg",
                               root + "/line.jpg");
    terminal::ImageSource source;
    source.path = root + "/line.jpg";
    ASSERT_TRUE(terminal::putImageInView(source));
    // The trigger is held until the reader that met the picture is reaped:
    // however slowly the wedge comes to the frame, it does within the press.
    EXPECT_TRUE(press([&] { return gone(first); })) << "the aborted reader was not reaped";
    settle();
    ASSERT_TRUE(program.running());
    EXPECT_EQ("BEFORE\n", typed());
    for (const Child& c : childrenOf(program.pid())) EXPECT_NE('Z', c.state) << c.name << " " << c.pid;

    // The next label is read as if nothing happened.
    terminal::clearFocusText();
    show(photo("EAN-13", "4006381333931"));
    EXPECT_TRUE(press([] { return typed() == "4006381333931\n"; })) << typed();
    settle();
    readers = childrenOf(program.pid());
    ASSERT_EQ(1u, readers.size());

    // Quitting takes the reader along.
    ASSERT_TRUE(program.quit());
    EXPECT_TRUE(wedge::waitFor([&] { return gone(readers[0].pid); }, 3000));
}

TEST_F(ImageScanTest, HungReaderIsStoppedWhenTheTriggerIsReleasedAndAKilledWedgeTakesItsReader) {
    // A reader that hangs the first time it is started; then the real one.
    std::string dir = testfiles::makeTempFolder("keyvane-hang");
    ASSERT_FALSE(dir.empty());
    std::string script = dir + "/reader";
    std::ofstream(script) << "#!/bin/sh\nif [ -e " << dir << "/once ]; then exec " << KEYVANE_BINARY_DIR
                          << "/platform/decoder/keyvane-reader; fi\ntouch " << dir << "/once\nexec sleep 60\n";
    chmod(script.c_str(), 0755);
    setenv("KEYVANE_READER", script.c_str(), 1);
    start(kPlainSettings);
    unsetenv("KEYVANE_READER");
    show(photo("Code128", "HANGS"));
    terminal::pressKey(42);
    // The script touches its mark and then becomes "sleep": wait for the latter.
    std::vector<Child> hung;
    ASSERT_TRUE(wedge::waitFor([&] {
        hung = childrenOf(program.pid());
        return hung.size() == 1 && hung[0].name == "sleep";
    }, 5000)) << (hung.empty() ? std::string("no reader") : hung[0].name);
    terminal::releaseKey(42);
    settle();
    EXPECT_EQ("", typed());
    // Stopped and reaped once the decode call ended.
    EXPECT_TRUE(wedge::waitFor([&] { return gone(hung[0].pid); }, 5000)) << "the hung reader was left behind";

    // The next press starts a reader that reads.
    EXPECT_TRUE(press([] { return typed() == "HANGS\n"; })) << typed();
    settle();
    std::vector<Child> readers = childrenOf(program.pid());
    ASSERT_EQ(1u, readers.size());
    EXPECT_EQ("keyvane-reader", readers[0].name);
    // Killed, the wedge still takes its reader along: this process adopts
    // the orphan and sees it end by itself.
    ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
    program.kill();
    int status = 0;
    EXPECT_TRUE(wedge::waitFor([&] { return waitpid(readers[0].pid, &status, WNOHANG) == readers[0].pid; }, 3000));
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (!gone(readers[0].pid)) kill(readers[0].pid, SIGKILL);
    testfiles::removeFolder(dir);
}

}  // namespace

namespace {

// The libraries of the process `pid` whose file names contain one of `names`.
std::vector<std::string> mapped(pid_t pid, const std::vector<std::string>& names) {
    std::vector<std::string> found;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        size_t slash = line.rfind('/');
        if (slash == std::string::npos) continue;
        std::string file = line.substr(slash + 1);
        for (const std::string& n : names)
            if (file.find(n) != std::string::npos && std::find(found.begin(), found.end(), n) == found.end())
                found.push_back(n);
    }
    return found;
}

const std::vector<std::string> kPictureLibraries = {"libDecoderPictures", "libZXing", "libspng", "libturbojpeg"};

// Standard error of the programs started while it lives goes to a file.
class ErrorsToFile {
public:
    explicit ErrorsToFile(const std::string& path) {
        std::fflush(stderr);
        saved_ = dup(2);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, 2);
            close(fd);
        }
    }
    ~ErrorsToFile() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
    }

private:
    int saved_;
};


void showText(const std::string& data) {
    terminal::clearView();
    terminal::Barcode code;
    code.data = data;
    terminal::putInView(code);
}

}  // namespace

TEST_F(ImageScanTest, PictureLibrariesAreMappedOnlyOnceAPictureIsInView) {
    start(kPlainSettings);
    showText("TEXT1");
    ASSERT_TRUE(press([] { return typed() == "TEXT1\n"; })) << typed();
    settle();
    EXPECT_EQ(std::vector<std::string>{}, mapped(program.pid(), kPictureLibraries));

    terminal::clearView();
    terminal::clearFocusText();
    show(photo("Code128", "PICTURE"));
    ASSERT_TRUE(press([] { return typed() == "PICTURE\n"; })) << typed();
    settle();
    std::vector<std::string> after = mapped(program.pid(), kPictureLibraries);
    EXPECT_NE(std::find(after.begin(), after.end(), "libDecoderPictures"), after.end());
}

// A decoder library without its picture module beside it (copied alone), or
// with one that others may change: text barcodes are read as ever, pictures
// give no read, and the wedge says why once.
TEST_F(ImageScanTest, MissingOrUnsafePictureModuleCostsThePicturesOnly) {
    for (bool present : {false, true}) {
        SCOPED_TRACE(present ? "group-writable module" : "no module");
        std::string library = std::filesystem::temp_directory_path() / ("keyvane-lib-" + std::to_string(getpid()));
        std::filesystem::remove_all(library);
        ASSERT_TRUE(std::filesystem::create_directory(library));
        chmod(library.c_str(), 0700);
        std::filesystem::copy_file(KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so", library + "/libDecoder.so");
        std::string module = library + "/libDecoderPictures.so";
        if (present) {
            std::filesystem::copy_file(KEYVANE_BINARY_DIR "/platform/decoder/libDecoderPictures.so", module);
            chmod(module.c_str(), 0664);
        }
        std::string log = library + "/wedge.err";
        {
            ErrorsToFile errors(log);
            wedge::RootOptions options;
            options.settingsIni = kPlainSettings;
            options.clockSpeed = 1;
            root = wedge::makeTerminalRoot(options);
            ASSERT_FALSE(root.empty());
            terminal::setConfig("decoder", library + "/libDecoder.so");
            terminal::setConfig("keypad", std::to_string(keypadFamily(kFallbackDeviceModel)));
            terminal::setFocusClass(u"Edit");
            ASSERT_TRUE(program.start(root));
            ASSERT_TRUE(program.waitLoaded());
        }
        std::string said = present ? module + " may be written by group or others (chmod go-w " + module +
                                         "); pictures are not read"
                                   : "the picture reader module " + module + " is missing; pictures are not read";
        show(photo("Code128", "UNREAD"));
        EXPECT_TRUE(press([&] { return testfiles::fileText(log).find(said) != std::string::npos; })) << said;
        settle();
        ASSERT_TRUE(program.running());
        EXPECT_EQ("", typed());
        EXPECT_EQ(std::vector<std::string>{}, mapped(program.pid(), kPictureLibraries));

        showText("TEXT2");
        EXPECT_TRUE(press([] { return typed() == "TEXT2\n"; })) << typed();
        settle();
        terminal::clearView();
        terminal::clearFocusText();
        show(photo("Code128", "UNREAD"));
        EXPECT_FALSE(press([] { return !typed().empty(); }, 1500)) << typed();
        settle();
        std::string text = testfiles::fileText(log);
        size_t first = text.find(said);
        EXPECT_EQ(text.find(said, first + 1), std::string::npos) << "said more than once:\n" << text;

        ASSERT_TRUE(program.quit());
        wedge::removeTerminalRoot(root);
        root.clear();
        std::filesystem::remove_all(library);
    }
}
