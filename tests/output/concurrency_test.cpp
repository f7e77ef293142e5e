// Deliveries from two threads never interleave: typed text and serial frames
// come out whole, one delivery after the other.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "output/delivery.h"
#include "output/framing.h"
#include "platform/host/terminal.h"
#include "scan/engine.h"
#include "settings/cardreader.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"
#include "tests/support/wedge_process.h"

namespace outputtest {
namespace {

class ConcurrentDelivery : public OutputTerminal {};

std::string narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

TEST_F(ConcurrentDelivery, TwoThreadsDeliverTwoWholeTexts) {
    ASSERT_TRUE(attachSerialPeer());
    settings.ConnectingTo = FramingTagged;
    const std::u16string first = u"aBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaBaB";
    const std::u16string second = u"ZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZyZy";
    std::vector<unsigned short> suffix = codes({13});
    auto deliver = [&](const std::u16string& text) {
        deliverText(nullptr, text.c_str(), suffix.data(), 0, 0, static_cast<int>(text.size()));
    };
    std::thread a([&] { deliver(first); });
    std::thread b([&] { deliver(second); });
    a.join();
    b.join();

    std::string one = narrow(first) + "\n";
    std::string two = narrow(second) + "\n";
    std::string shown = typed();
    EXPECT_TRUE(shown == one + two || shown == two + one) << shown;

    unsigned char frame[kFrameBytes];
    std::string frameOne(reinterpret_cast<char*>(frame), buildFrame(FramingTagged, narrow(first).c_str(), 60, frame));
    std::string frameTwo(reinterpret_cast<char*>(frame), buildFrame(FramingTagged, narrow(second).c_str(), 60, frame));
    std::string wire = peerBytes(frameOne.size() + frameTwo.size());
    EXPECT_TRUE(wire == frameOne + frameTwo || wire == frameTwo + frameOne) << hex(wire);
}

TEST_F(ConcurrentDelivery, ACardSwipedWhileABarcodeIsTypedWaitsForIt) {
    settings.InterCharacterDelay = 2;
    ASSERT_EQ(0, startCardReader(7000));
    const std::u16string barcode = u"01234567890123456789012345678901234567890123456789012345678901234567890123456789";
    std::thread scan([&] { deliverText(nullptr, barcode.c_str(), nullptr, 0, 0, static_cast<int>(barcode.size())); });
    // Swipe once the barcode has begun to appear.
    ASSERT_TRUE(wedge::waitFor([] { return !typed().empty(); }, 5000));
    ASSERT_TRUE(terminal::swipeCard("CARD"));
    scan.join();
    std::string expected = narrow(barcode) + "CARD";
    EXPECT_TRUE(wedge::waitFor([&] { return typed() == expected; }, 5000)) << typed();
    stopCardReader();
}

// The port is closed and reopened on one thread (as a Bluetooth pairing does)
// while another delivers: every frame goes to an open port, none is lost, and
// no delivery mistakes the close for a failed port.
TEST_F(ConcurrentDelivery, ClosingAndReopeningThePortWhileAnotherThreadWritesLosesNoFrame) {
    int slave = -1;
    peer = wedge::openPeer(3, &slave);  // the far end stays attached across the reopens
    ASSERT_GE(peer, 0);
    settings.ComportNumber = 3;
    settings.SendData.store(1);
    settings.SendToForegroundApp = 0;
    settings.ConnectingTo = FramingRaw;
    ASSERT_NE(0, connectEngine(0));

    // The writer goes on until the other thread has reopened the port often
    // enough, so the two overlap however the threads are scheduled.
    constexpr int kLeastFrames = 300;
    constexpr int kLeastReopens = 50;
    std::atomic<bool> done{false};
    std::atomic<int> reopens{0};
    int frames = 0;
    auto frameText = [](int i) { return "F" + std::to_string(10000 + i) + ";"; };
    std::thread writer([&] {
        for (; frames < kLeastFrames || reopens.load() < kLeastReopens; ++frames) {
            std::string text = frameText(frames);
            std::u16string wide(text.begin(), text.end());
            deliverText(nullptr, wide.c_str(), nullptr, 0, 0, static_cast<int>(wide.size()));
        }
        done = true;
    });
    std::string wire;  // read as it comes, so the far end never fills up
    std::thread reader([&] {
        while (!done.load()) wire += wedge::readPeer(peer, 1, 50, true);
    });
    while (!done.load()) {
        closeSerialPort();
        connectEngine(0);
        ++reopens;
    }
    writer.join();
    reader.join();
    std::string expected;
    for (int i = 0; i < frames; ++i) expected += frameText(i);
    if (wire.size() < expected.size()) wire += peerBytes(expected.size() - wire.size(), 10000);
    closeSerialPort();
    close(slave);

    size_t lost = 0;
    for (int i = 0; i < frames; ++i)
        if (wire.find(frameText(i)) == std::string::npos) ++lost;
    EXPECT_EQ(0u, lost) << "frames lost in " << reopens.load() << " reopens";
    EXPECT_EQ(expected, wire);
    std::vector<std::string> sounds = wedge::soundNames();
    EXPECT_EQ(0, std::count(sounds.begin(), sounds.end(), "resource:135"));
}

}  // namespace
}  // namespace outputtest
