// The settings load in the real program: a missing settings file. (What the
// settings make the running program do is told by tests/scenarios.)
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
    std::string root_;
    wedge::WedgeProcess wedge_;
};

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
