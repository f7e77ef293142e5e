// The settings load in the real program: presentation mode started by the
// load, the keypad of the device model, and a missing settings file.
#include <gtest/gtest.h>

#include "platform/host/terminal.h"
#include "tests/support/wedge_process.h"

namespace {

class SettingsWedgeTest : public ::testing::Test {
protected:
    void TearDown() override {
        wedge_.kill();
        wedge::removeTerminalRoot(root_);
    }
    void makeRoot(const std::string& ini) {
        wedge::RootOptions options;
        options.settingsIni = ini;
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
    }

    std::string root_;
    wedge::WedgeProcess wedge_;
};

TEST_F(SettingsWedgeTest, PresentationModeScansWithoutTheKeyOnTheDevicesKeypad) {
    makeRoot("[Settings]\r\nPresentationMode=1\r\nSuffix=13\r\nOutPutMode=1\r\n");
    // A keypad-5 terminal: "!" and "@" are keys of their own there.
    terminal::setModel(7500);
    terminal::setConfig("keypad", "5");
    terminal::setFocusClass(u"Notes");
    terminal::Barcode barcode;
    barcode.data = "Ab!@.1";
    terminal::putInView(barcode);
    ASSERT_TRUE(wedge_.start(root_));
    ASSERT_TRUE(wedge_.waitLoaded());
    EXPECT_TRUE(wedge::waitFor([] { return terminal::focusText().find(u"Ab!@.1\n") != std::u16string::npos; }))
        << "typed: " << std::string(terminal::focusText().begin(), terminal::focusText().end());
    EXPECT_FALSE(terminal::keyDown(42));
    int code = 0;
    EXPECT_TRUE(wedge_.quit(&code));
}

TEST_F(SettingsWedgeTest, WithoutASettingsFileTheProgramSaysSoAndEnds) {
    wedge::RootOptions options;
    options.writeSettings = false;
    root_ = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root_.empty());
    terminal::setFocusClass(u"Notes");
    EXPECT_EQ(wedge::runKeyvane(root_, {}), -1);
    std::vector<terminal::MessageBoxRecord> shown = terminal::messageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"\"Keyvane.ini\"\n Keyvane will now Exit");
    EXPECT_EQ(shown[0].caption, u"Error: File not found");
    EXPECT_EQ(shown[0].owner, 0u);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_EQ(wedge::traceText(root_).find("Settings"), std::string::npos);
}

}  // namespace
