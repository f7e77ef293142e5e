// The real wedge on a host terminal: its start-up connects the stand-in
// engine, applies the decode-settings file, opens the serial output on a
// pseudo-terminal, and its listener logs what the far end sends.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/host/host_api.h"
#include "platform/host/terminal.h"
#include "tests/support/scanengine_support.h"
#include "tests/support/wedge_process.h"

namespace scanengine {
namespace {

class WedgeEngineTest : public ::testing::Test {
protected:
    void TearDown() override {
        terminal::releaseKey(42);
        wedge_.kill();
        if (peer_ >= 0) close(peer_);
        wedge::removeTerminalRoot(root_);
    }

    // Starts the wedge with serial output (raw framing) on a pseudo-terminal as COM3.
    void startWedge(const std::string& decodeSettings) {
        wedge::RootOptions options;
        options.settingsIni = "[Settings]\r\nEnableScanner=1\r\nOutPutMode=3\r\nComportNumber=3\r\nConnectingTo=4\r\n";
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(0, openpty(&peer_, &slave, name, nullptr, nullptr));
        termios raw{};
        tcgetattr(peer_, &raw);
        cfmakeraw(&raw);
        tcsetattr(peer_, TCSANOW, &raw);
        close(slave);
        terminal::setPortPath(3, name);
        terminal::setFocusClass(u"Edit");
        std::string path = root_ + "/Zentrova/DecodeSettings.Vqf";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(decodeSettings.size()), write(fd, decodeSettings.data(), decodeSettings.size()));
        close(fd);
        ASSERT_TRUE(wedge_.start(root_));
        ASSERT_TRUE(wedge_.waitLoaded()) << "the wedge did not come up";
    }

    std::string peerBytes(size_t expected, int realMilliseconds = 5000) {
        std::string bytes;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
        while (bytes.size() < expected && std::chrono::steady_clock::now() < end) {
            pollfd p{peer_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char chunk[256];
            ssize_t n = read(peer_, chunk, sizeof chunk);
            if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
        }
        return bytes;
    }

    void writeDecodeSettings(const std::string& text) {
        std::string path = root_ + "/Zentrova/DecodeSettings.Vqf";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
        close(fd);
    }

    // One press of the scan key with `data` in view; returns what the focused field shows afterwards.
    std::string scanAndRead(const std::string& data, int symbologyId) {
        terminal::clearFocusText();
        terminal::clearView();
        terminal::Barcode barcode;
        barcode.data = data;
        barcode.symbologyId = symbologyId;
        terminal::putInView(barcode);
        terminal::pressKey(42);
        wedge::waitFor([&] { return !wedge::typed().empty(); }, 1500);
        terminal::releaseKey(42);
        EXPECT_TRUE(wedge_.idle());
        return wedge::typed();
    }

    std::string root_;
    int peer_ = -1;
    wedge::WedgeProcess wedge_;
};

TEST_F(WedgeEngineTest, StartUpConfiguresTheEngineAndServesTheSerialPort) {
    startWedge(fixture("full.Vqf"));
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_EQ(0x5u, terminal::symbology(3).flags);
    EXPECT_EQ(48u, terminal::symbology(3).maxLength);
    EXPECT_EQ(0x807u, terminal::symbology(10).flags);
    EXPECT_EQ(1, terminal::globalSettings()[1]);
    EXPECT_EQ(std::vector<std::string>{"Open Success : 0"}, traceStartingWith(root_, "Open "));
    EXPECT_EQ(1, terminal::eventState("KVN_Enable_State"));

    // A scan goes out on the port as raw bytes.
    terminal::Barcode barcode;
    barcode.data = "SER-42";
    barcode.symbologyId = 3;
    terminal::putInView(barcode);
    terminal::pressKey(42);
    std::string sent = peerBytes(6);
    terminal::releaseKey(42);
    EXPECT_EQ("SER-42", sent.substr(0, 6));

    // What the far end sends is logged by the listener.
    ASSERT_EQ(10, write(peer_, "0123456789", 10));
    EXPECT_TRUE(
        wedge::waitFor([&] { return rootFile(root_, "CharInLog.txt").find("break;") != std::string::npos; }, 5000));
    EXPECT_EQ("case 54:\r\r\nByte[8] = 56;\r\r\nByte[9] = 57;\r\r\nbreak;", rootFile(root_, "CharInLog.txt"));

    int exitCode = -1000;
    ASSERT_TRUE(wedge_.quit(&exitCode));
    EXPECT_EQ(0, exitCode);
    EXPECT_FALSE(terminal::engineConnected());
}

// The decode-settings file is applied again whenever the scanner is switched
// on: what was edited in the file while the scanner was off takes effect.
TEST_F(WedgeEngineTest, SwitchingTheScannerOnAppliesTheDecodeSettingsFileAgain) {
    startWedge(fixture("only_enable.Vqf"));
    constexpr int kCode128 = 3, kUpcA = 19;
    EXPECT_EQ(0x1u, terminal::symbology(kCode128).flags & 0x1u);
    EXPECT_EQ("C128-1", scanAndRead("C128-1", kCode128));

    writeDecodeSettings(
        "<SettingsFile>\n  <Section id=\"Code128\">\n    <Key id=\"Enable\">false</Key>\n  </Section>\n"
        "</SettingsFile>\n");
    EXPECT_EQ(0, wedge::runKeyvane(root_, {"disconnect"}));
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 0; }));
    EXPECT_EQ(0, wedge::runKeyvane(root_, {"connect"}));
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 1; }));
    ASSERT_TRUE(wedge_.idle());
    EXPECT_EQ(0x0u, terminal::symbology(kCode128).flags & 0x1u);
    EXPECT_EQ("", scanAndRead("C128-2", kCode128));
    EXPECT_EQ("UPC-3", scanAndRead("UPC-3", kUpcA));
}

// With duplicate suppression a key held over a barcode already read keeps
// the scan loop decoding; the engine answers once a frame, so each frame
// costs one decode and one trace line, and the barcode is typed once.
TEST_F(WedgeEngineTest, KeyHeldOverABarcodeAlreadyReadDecodesItOnceAFrame) {
    wedge::RootOptions options;
    options.settingsIni =
        "[Settings]\r\nEnableScanner=1\r\nOutPutMode=1\r\nSuffix=13\r\nScanDelayMode=2\r\nScanDelaySetting=3\r\n";
    root_ = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root_.empty());
    terminal::setFocusClass(u"Edit");
    ASSERT_TRUE(wedge_.start(root_));
    ASSERT_TRUE(wedge_.waitLoaded()) << "the wedge did not come up";
    const DWORD frame = terminal::frameMilliseconds();
    ASSERT_EQ(33u, frame);

    terminal::Barcode barcode;
    barcode.data = "HELD-1";
    terminal::putInView(barcode);
    terminal::pressKey(42);
    ASSERT_TRUE(wedge::waitFor([] { return wedge::typed() == "HELD-1\n"; }, 5000)) << wedge::typed();
    terminal::releaseKey(42);
    ASSERT_TRUE(wedge_.idle());

    auto scanned = [&] { return traceStartingWith(root_, "Barcode Scanned").size(); };
    size_t before = scanned();
    DWORD start = GetTickCount();
    terminal::pressKey(42);
    // The loop goes round on the duplicate ...
    ASSERT_TRUE(wedge::waitFor([&] { return scanned() >= before + 3; }, 5000));
    // ... for two seconds of terminal time.
    ASSERT_TRUE(wedge::waitFor([&] { return GetTickCount() - start >= 2000; }, 5000));
    terminal::releaseKey(42);
    ASSERT_TRUE(wedge_.idle());
    DWORD held = GetTickCount() - start;

    // Decodes come a frame apart: the first at once, every later one a frame
    // after the one before returned; one "Barcode Scanned" before each.
    size_t lines = scanned() - before;
    EXPECT_LE(lines, held / frame + 2) << "over " << held << " ms";
    EXPECT_EQ("HELD-1\n", wedge::typed());
}

}  // namespace
}  // namespace scanengine
