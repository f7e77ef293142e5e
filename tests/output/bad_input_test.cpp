// Any command string over any card data ends, keeps within its buffers and
// leaves no key held down.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "output/seqeditor.h"
#include "platform/host/terminal.h"
#include "settings/settings.h"
#include "tests/support/output_support.h"

namespace outputtest {
namespace {

class EditorBadInput : public OutputTerminal {};

TEST_F(EditorBadInput, RandomCommandStringsOverRandomCardData) {
    terminal::setClockSpeed(1000);
    std::mt19937 random(20261206);
    const std::string alphabet = "CcWwSsDdMmBbFfXx0123456789,;^?%";
    for (int round = 0; round < 300; ++round) {
        std::string commands;
        size_t commandLength = random() % 40;
        for (size_t i = 0; i < commandLength; ++i) {
            commands +=
                (random() % 8 == 0) ? static_cast<char>(1 + random() % 255) : alphabet[random() % alphabet.size()];
        }
        std::u16string text;
        size_t textLength = random() % 600;
        for (size_t i = 0; i < textLength; ++i) text += static_cast<char16_t>(1 + random() % 255);
        settings.PrefixID = static_cast<int>(random() % 5);
        settings.RemapToTab = (random() % 2) ? '|' : 0;

        terminal::clearKeyEvents();
        runOutputFormat(text.c_str(), commands.c_str());

        // Every key pressed was released again, in balance.
        std::map<int, int> held;
        for (const terminal::KeyEvent& e : terminal::keyEvents()) {
            if (e.how == "key") held[e.virtualKey] += e.down ? 1 : -1;
        }
        for (const auto& [key, count] : held) ASSERT_EQ(0, count) << "key " << key << " after " << commands;
        ASSERT_FALSE(terminal::keyDown(16));
    }
    // The rounds reached deliveries, not only early ends.
    EXPECT_GT(terminal::focusText().size(), 1000u);
}

}  // namespace
}  // namespace outputtest
