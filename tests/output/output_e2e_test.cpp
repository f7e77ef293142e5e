// The real program on a host terminal: a barcode and a card swipe, typed into
// the focused application and framed on the serial port, and the card
// reader's power lines at start and exit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "output/framing.h"
#include "platform/host/terminal.h"
#include "tests/support/output_support.h"
#include "tests/support/wedge_process.h"

namespace outputtest {
namespace {

std::string xr1(int sequence, const std::string& data) {
    std::string f("\x01XR1\0\0\0\x01", 8);
    f += static_cast<char>(sequence);
    f += std::string("\0\0\0\x01\0", 5);
    f += static_cast<char>(data.size());
    f += data;
    uint16_t c = crc16Xmodem(reinterpret_cast<const unsigned char*>(f.data()), f.size());
    f += static_cast<char>(c >> 8);
    f += static_cast<char>(c & 0xFF);
    return f;
}

class WedgeOutput : public ::testing::Test {
protected:
    void SetUp() override {
        wedge::RootOptions options;
        options.settingsIni =
            "EnableScanner = 1\r\nOutPutMode = 3\r\nComportNumber = 3\r\nConnectingTo = 2\r\nSuffix = 13\r\n"
            "EnableCardReader = 1\r\n[MCRSettings]\r\nMCROutputFormat = MF2SD94C13\r\n";
        options.clockSpeed = 20;
        root = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root.empty());
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(0, openpty(&peer, &slave, name, nullptr, nullptr));
        termios raw{};
        tcgetattr(peer, &raw);
        cfmakeraw(&raw);
        tcsetattr(peer, TCSANOW, &raw);
        terminal::setPortPath(3, name);
        keepSlave = slave;  // the far end stays connected while the wedge opens and closes its side
    }
    void TearDown() override {
        process.kill();
        if (peer >= 0) close(peer);
        if (keepSlave >= 0) close(keepSlave);
        wedge::removeTerminalRoot(root);
    }
    std::string wire(size_t expected) {
        std::string bytes;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (bytes.size() < expected && std::chrono::steady_clock::now() < end) {
            pollfd p{peer, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char chunk[512];
            ssize_t n = read(peer, chunk, sizeof chunk);
            if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
        }
        return bytes;
    }

    std::string root;
    int peer = -1;
    int keepSlave = -1;
    wedge::WedgeProcess process;
};

TEST_F(WedgeOutput, BarcodeAndCardAreTypedAndFramed) {
    ASSERT_TRUE(process.start(root));
    ASSERT_TRUE(process.waitLoaded());

    terminal::Barcode code;
    code.data = "12345";
    terminal::putInView(code);
    terminal::pressKey(42);
    bool typedBarcode = wedge::waitFor([] { return typed() == "12345\n"; }, 5000);
    terminal::releaseKey(42);
    terminal::clearView();
    EXPECT_TRUE(typedBarcode) << typed();
    EXPECT_EQ(hex(xr1(1, "12345")), hex(wire(22)));

    terminal::clearFocusText();
    ASSERT_TRUE(wedge::waitFor([] { return terminal::swipeCard("%B4111222233334444^DOE/J^2512?"); }, 5000));
    EXPECT_TRUE(wedge::waitFor([] { return typed() == "4111222233334444\n"; }, 5000)) << typed();
    EXPECT_EQ(hex(xr1(2, "4111222233334444") + xr1(3, "\r")), hex(wire(33 + 18)));

    int exitCode = -1;
    ASSERT_TRUE(process.quit(&exitCode));
    std::vector<std::string> power = traceOf({"(5 Volt out) No support for this device", "MSR Connected"});
    EXPECT_EQ((std::vector<std::string>{"(5 Volt out) No support for this device", "MSR Connected",
                                        "(5 Volt out) No support for this device"}),
              power);
}

// A barcode is data, not text: zero bytes and bytes of 0x80 and above reach
// the far end whole in every framing, with length fields that count them.
// Typing stops at the first zero byte as it always has.
TEST(WedgeBinaryBarcode, ReachesThePeerByteForByteInEveryFraming) {
    const std::string data("B\0\x80\x9F\xE9\xFF\x01Z", 8);
    const std::string n(1, static_cast<char>(data.size()));
    const std::string tagged = std::string("\x16\xFE", 2) + static_cast<char>(data.size() + 30) +
                               std::string(3, '\0') + "\r" + "DECRES2P\"9\"CID\"]Z9\"AID0INDREQ" + "\x1D" + data;
    struct Framing {
        int connectingTo;
        std::string frame;
    };
    const Framing framings[] = {
        {1, tagged}, {2, xr1(1, data)}, {3, std::string("\x01\x02", 2) + data}, {4, data}};
    for (const Framing& f : framings) {
        SCOPED_TRACE("ConnectingTo " + std::to_string(f.connectingTo));
        wedge::RootOptions options;
        options.settingsIni = "EnableScanner = 1\r\nOutPutMode = 3\r\nComportNumber = 3\r\nSuffix = 13\r\n"
                              "ConnectingTo = " +
                              std::to_string(f.connectingTo) + "\r\n";
        std::string root = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root.empty());
        int slave = -1;
        int peer = wedge::openPeer(3, &slave);
        ASSERT_GE(peer, 0);
        terminal::setFocusClass(u"Edit");
        wedge::WedgeProcess process;
        ASSERT_TRUE(process.start(root));
        ASSERT_TRUE(process.waitLoaded());

        terminal::Barcode code;
        code.data = data;
        terminal::putInView(code);
        terminal::pressKey(42);
        std::string wire = wedge::readPeer(peer, f.frame.size(), 5000);
        EXPECT_TRUE(wedge::waitFor([] { return typed() == "B\n"; }, 5000)) << typed();
        terminal::releaseKey(42);
        EXPECT_EQ(hex(f.frame), hex(wire + wedge::readPeer(peer, 1, 200)));

        int exitCode = -1;
        EXPECT_TRUE(process.quit(&exitCode));
        EXPECT_EQ(0, exitCode);
        close(peer);
        close(slave);
        wedge::removeTerminalRoot(root);
    }
}

// The barcode's bytes are text of the device's Western code page when typed
// (0x80 is the euro sign), and go out on the serial port as they were read.
TEST_F(WedgeOutput, HighBytesAreTypedAsWindows1252CharactersAndSentAsRead) {
    ASSERT_TRUE(process.start(root));
    ASSERT_TRUE(process.waitLoaded());
    terminal::Barcode code;
    code.data = "\x80" "5\x85\xE9";
    terminal::putInView(code);
    terminal::pressKey(42);
    bool shown = wedge::waitFor([] { return typed() == "\u20AC" "5\u2026\u00E9\n"; }, 5000);
    terminal::releaseKey(42);
    EXPECT_TRUE(shown) << typed();
    EXPECT_EQ(hex(xr1(1, code.data)), hex(wire(21)));
}

}  // namespace
}  // namespace outputtest
