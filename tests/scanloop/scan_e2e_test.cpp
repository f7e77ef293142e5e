// The running program: the scan key pressed on the terminal reaches the
// wedge through its hot key, and the barcodes come out as the settings file
// asks.
#include <gtest/gtest.h>

#include "platform/host/internal.h"
#include "platform/host/terminal.h"
#include "settings/keytable.h"
#include "tests/support/scanloop_support.h"
#include "tests/support/wedge_process.h"
#include "shell/constants.h"

namespace {

using scanloop::barcode;
using scanloop::countOf;
using scanloop::soundNames;
using scanloop::traceOf;
using scanloop::typed;

class ScanProgramTest : public ::testing::Test {
protected:
    void start(const std::string& ini) {
        wedge::RootOptions options;
        options.settingsIni = ini;
        options.clockSpeed = 20;
        root = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root.empty());
        // The field types with the keypad of the model the program finds.
        terminal::setConfig("keypad", std::to_string(keypadFamily(kFallbackDeviceModel)));
        ASSERT_TRUE(program.start(root));
        ASSERT_TRUE(program.waitLoaded());
    }
    void TearDown() override {
        terminal::releaseKey(kScanKey);
        int code = 0;
        if (program.running()) program.quit(&code);
        program.kill();
        wedge::removeTerminalRoot(root);
    }
    // One press of the scan key, held until `until` holds.
    bool press(const std::function<bool()>& until) {
        terminal::pressKey(kScanKey);
        bool held = wedge::waitFor(until, 8000);
        terminal::releaseKey(kScanKey);
        return held;
    }

    std::string root;
    wedge::WedgeProcess program;
};

TEST_F(ScanProgramTest, PressTypesTheBarcodeIntoTheFocusedField) {
    start("[Settings]\r\nEnableScanner=1\r\nprefix=91\r\nSuffix=93,13\r\n");
    terminal::putInView(barcode("4006381333931"));
    ASSERT_TRUE(press([] { return typed() == "[4006381333931]\n"; })) << typed();
    ASSERT_TRUE(wedge::waitFor([] { return countOf(soundNames(), "resource:129") == 1; }));
    ASSERT_TRUE(wedge::waitFor([] { return terminal::ledState(0) == 0 && terminal::ledState(1) == 0; }));
    EXPECT_EQ((std::vector<std::string>{"Start Scan", "Amier Off", "Normal Scan"}),
              traceOf({"Start Scan", "Amier Off", "Normal Scan"}));

    // The program is back in its message loop before the next press.
    ASSERT_TRUE(program.idle());
    // A second press, with nothing in view, is a bad read.
    terminal::clearView();
    ASSERT_TRUE(press([] { return countOf(soundNames(), "resource:4") == 1; }))
        << ::testing::PrintToString(soundNames());
    EXPECT_EQ("[4006381333931]\n", typed());
}

}  // namespace
