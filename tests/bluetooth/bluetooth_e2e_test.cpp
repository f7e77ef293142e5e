// The wedge end to end over Bluetooth: the settings file's remote device gets
// a virtual COM port and the scanned data; the pairing barcode followed by an
// address barcode moves the output to another remote device.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "tests/support/bluetooth_support.h"
#include "tests/support/wedge_process.h"
#include "shell/constants.h"

using namespace bttest;

namespace {

class BluetoothWedge : public ::testing::Test {
protected:
    void TearDown() override {
        terminal::releaseKey(kScanKey);
        wedge_.kill();
        if (!root_.empty()) wedge::removeTerminalRoot(root_);
    }

    // A terminal with the settings, the remote devices put in range by
    // `prepare`, and the wedge started on it.
    template <class Prepare>
    void startWedge(const std::string& settingsIni, Prepare prepare) {
        wedge::RootOptions options;
        options.settingsIni = settingsIni;
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
        prepare();
        ASSERT_TRUE(wedge_.start(root_));
        ASSERT_TRUE(wedge_.waitLoaded()) << "the wedge did not come up";
    }

    // One scan-key press that reads `data`, held until the read's sounds end.
    void scan(const std::string& data, size_t soundsExpected = 1) {
        terminal::clearView();
        terminal::Barcode barcode;
        barcode.data = data;
        terminal::putInView(barcode);
        size_t before = terminal::sounds().size();
        terminal::pressKey(kScanKey);
        bool heard = wedge::waitFor([&] { return terminal::sounds().size() >= before + soundsExpected; });
        terminal::releaseKey(kScanKey);
        terminal::clearView();
        // The press is over once the wedge has seen the key go up.
        wedge::waitFor([&] { return terminal::queuedMessages(wedge_.pid()) == 0; });
        wedge::waitFor([] { return false; }, 300);
        ASSERT_TRUE(heard) << "no good read for " << data << "\n" << wedge::traceText(root_);
    }

    bool traceHas(const std::string& line) {
        auto lines = wedge::traceLines(root_);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    static const terminal::ComDevice* bluetoothAt(const std::vector<terminal::ComDevice>& devices, int index) {
        for (const auto& d : devices)
            if (d.index == index && d.bluetooth) return &d;
        return nullptr;
    }

    std::string root_;
    wedge::WedgeProcess wedge_;
};

TEST_F(BluetoothWedge, RemoteFromTheSettingsFileReceivesTheScannedData) {
    startWedge("[Settings]\r\nEnableScanner=1\r\nOutPutMode=2\r\nRemoteBTMAC=00:a1:B2:c3:D4:e5\r\n", [] {
        terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(6)}));
        terminal::occupyComIndex(0);
    });
    // No port number in the file: the lowest free index is taken.
    auto devices = terminal::comDevices();
    const terminal::ComDevice* port = bluetoothAt(devices, 1);
    ASSERT_NE(nullptr, port);
    EXPECT_EQ(kRemoteA, port->address);
    EXPECT_EQ(6, port->channel);
    EXPECT_TRUE(traceHas("BT Comport Created"));

    scan("4006381333931");
    EXPECT_EQ("4006381333931", terminal::waitRemoteReceived(kRemoteA, 13, 10000));
}

TEST_F(BluetoothWedge, PairingBarcodeThenAnAddressMovesTheOutputToAnotherRemote) {
    startWedge("[Settings]\r\nEnableScanner=1\r\nOutPutMode=2\r\nComportNumber=4\r\nRemoteBTMAC=00A1B2C3D4E5\r\n", [] {
        terminal::putRemoteDevice(kRemoteA, response({serialPortRecord(3)}));
        terminal::putRemoteDevice(kRemoteB, response({serialPortRecord(7)}));
    });
    ASSERT_NE(nullptr, bluetoothAt(terminal::comDevices(), 4));
    scan("first");
    EXPECT_EQ("first", terminal::waitRemoteReceived(kRemoteA, 5, 10000));

    scan(std::string("\x02M\x03", 3));
    scan("0080f7123456", 2);
    ASSERT_TRUE(wedge::waitFor([] {
        auto devices = terminal::comDevices();
        const terminal::ComDevice* d = bluetoothAt(devices, 4);
        return d != nullptr && d->address == kRemoteB && d->channel == 7;
    }));
    // The wedge still waits for an address: the next read only ends the
    // pairing; the one after it goes out on the new link.
    scan("ignored");
    scan("next");
    EXPECT_EQ("next", terminal::waitRemoteReceived(kRemoteB, 4, 10000));
    // Neither the pairing nor the address barcodes were delivered anywhere.
    EXPECT_EQ("first", terminal::remoteReceived(kRemoteA));
    EXPECT_EQ(1u, terminal::comDevices().size());
}

}  // namespace
