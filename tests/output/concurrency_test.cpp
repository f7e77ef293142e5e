// Deliveries from two threads never interleave: typed text and serial frames
// come out whole, one delivery after the other.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "output/keystrokes.h"
#include "output/serial.h"
#include "platform/host/terminal.h"
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
    settings.ConnectingTo = 0;
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
    std::string frameOne(reinterpret_cast<char*>(frame), buildFrame(0, narrow(first).c_str(), 60, frame));
    std::string frameTwo(reinterpret_cast<char*>(frame), buildFrame(0, narrow(second).c_str(), 60, frame));
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

}  // namespace
}  // namespace outputtest
