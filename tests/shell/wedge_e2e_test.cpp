// The resident wedge end to end: real keyvane processes on a fresh terminal
// root, steered by second instances, named events, tray taps and menu choices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "tests/support/wedge_process.h"

namespace {

namespace fs = std::filesystem;

constexpr int kScanHotKey = 42;
constexpr unsigned kTrayIconId = 101;

bool holdsScanKey(uint32_t window, unsigned modifiers = 0) {
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.window == window && h.id == kScanHotKey && h.virtualKey == 42 && h.modifiers == modifiers) return true;
    return false;
}

bool anyScanKeyRegistration(uint32_t window) {
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.window == window && h.id == kScanHotKey) return true;
    return false;
}

bool hasTrayIcon(uint32_t window) {
    for (const auto& icon : terminal::trayIcons())
        if (icon.first == window && icon.second == kTrayIconId) return true;
    return false;
}

bool traceHas(const std::string& root, const std::string& line) {
    std::vector<std::string> lines = wedge::traceLines(root);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t countBoxes(const std::u16string& text, const std::u16string& caption) {
    size_t n = 0;
    for (const terminal::MessageBoxRecord& m : terminal::messageBoxes())
        if (m.text == text && m.caption == caption) ++n;
    return n;
}

class WedgeTest : public ::testing::Test {
protected:
    void TearDown() override {
        wedge_.kill();
        wedge::removeTerminalRoot(root_);
    }

    void startWedge(const wedge::RootOptions& options = wedge::RootOptions()) {
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
        ASSERT_TRUE(wedge_.start(root_));
        ASSERT_TRUE(wedge_.waitLoaded()) << "the wedge did not come up";
        window_ = wedge_.window();
    }

    // The running wedge has handled everything posted so far.
    bool settle() { return wedge_.idle(); }

    std::string root_;
    wedge::WedgeProcess wedge_;
    uint32_t window_ = 0;
};

TEST_F(WedgeTest, StartsWithScanKeyTrayAndEventsAndQuitsInOrder) {
    startWedge();
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_TRUE(holdsScanKey(window_));
    EXPECT_TRUE(hasTrayIcon(window_));
    auto windows = terminal::windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].windowClass, u"KEYVANE");

    EXPECT_EQ(wedge::runKeyvane(root_, {"quit"}), 0);
    int code = -99;
    ASSERT_TRUE(wedge_.waitExit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_TRUE(terminal::trayIcons().empty());
    EXPECT_TRUE(traceHas(root_, "App Exit"));
}

TEST_F(WedgeTest, CommandWordsMatchTheWholeLineIgnoringCase) {
    startWedge();
    EXPECT_EQ(wedge::runKeyvane(root_, {"disconnect"}), 0);
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 0; }));
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_FALSE(anyScanKeyRegistration(window_));

    EXPECT_EQ(wedge::runKeyvane(root_, {"CONNECT"}), 0);
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 1; }));
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_TRUE(wedge::waitFor([this] { return holdsScanKey(window_); }));

    // Not command words: the running instance stays untouched.
    const std::vector<std::vector<std::string>> others = {{}, {" quit"}, {"quit", "now"}, {"connectx"}};
    for (const auto& line : others) {
        size_t before = countBoxes(u"Keyvane is already running", u"Warning");
        EXPECT_EQ(wedge::runKeyvane(root_, line), -3);
        EXPECT_EQ(countBoxes(u"Keyvane is already running", u"Warning"), before + 1);
    }
    ASSERT_TRUE(settle());
    EXPECT_TRUE(wedge_.running());
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
    EXPECT_TRUE(holdsScanKey(window_));
    EXPECT_EQ(terminal::windows().size(), 1u);

    EXPECT_EQ(wedge::runKeyvane(root_, {"Quit"}), 0);
    int code = -99;
    ASSERT_TRUE(wedge_.waitExit(&code));
    EXPECT_EQ(code, 0);
}

TEST_F(WedgeTest, EnableAndDisableRebindTheRunningWindowsScanKey) {
    startWedge();
    EXPECT_EQ(wedge::runKeyvane(root_, {"enable"}), 0);
    EXPECT_TRUE(holdsScanKey(window_, 1));
    EXPECT_FALSE(holdsScanKey(window_, 0));
    EXPECT_EQ(wedge::runKeyvane(root_, {"DISABLE"}), 0);
    EXPECT_TRUE(holdsScanKey(window_, 0));
    // The scanner state itself is left to connect/disconnect and the events.
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
}

TEST_F(WedgeTest, AnotherProgramSwitchesTheScannerThroughKvnEnable) {
    startWedge();
    terminal::setEventState("KVN_Enable", false);
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 0; }));
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_TRUE(wedge::waitFor([this] { return !anyScanKeyRegistration(window_); }));

    terminal::setEventState("KVN_Enable", true);
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 1; }));
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_TRUE(wedge::waitFor([this] { return holdsScanKey(window_); }));
}

TEST_F(WedgeTest, RequestsDoNotFloodTheQueueWhileTheWindowIsBusy) {
    wedge::RootOptions options;
    options.clockSpeed = 1;
    startWedge(options);
    // The scan key holds the main thread in the scan trigger loop.
    terminal::pressKey(42);
    ASSERT_TRUE(wedge::waitFor([&] { return traceHas(root_, "Start Scan"); }));
    terminal::setEventState("KVN_Enable", false);
    int most = 0;
    wedge::waitFor(
        [&] {
            most = std::max(most, terminal::queuedMessages(wedge_.pid()));
            return false;
        },
        300);
    EXPECT_EQ(most, 1) << "one request waits for the busy window";
    terminal::releaseKey(42);
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 0; }));
    EXPECT_FALSE(anyScanKeyRegistration(window_));
    EXPECT_EQ(wedge::runKeyvane(root_, {"quit"}), 0);
    int code = -99;
    ASSERT_TRUE(wedge_.waitExit(&code));
    EXPECT_EQ(code, 0);
}

TEST_F(WedgeTest, TrayMenuOpensAtTheScreenCornerAndExitAnsweredNoKeepsRunning) {
    startWedge();
    struct Screen {
        int width, height, x, y;
    };
    const Screen screens[] = {{240, 320, 190, 175}, {480, 640, 380, 350}, {480, 800, 380, 655}};
    for (const Screen& s : screens) {
        terminal::setScreen(s.width, s.height);
        size_t before = terminal::menuPopups().size();
        ASSERT_TRUE(terminal::tapTray());
        ASSERT_TRUE(wedge::waitFor([&] { return terminal::menuPopups().size() == before + 1; }));
        terminal::MenuPopup popup = terminal::menuPopups().back();
        EXPECT_EQ(popup.x, s.x) << s.width << "x" << s.height;
        EXPECT_EQ(popup.y, s.y) << s.width << "x" << s.height;
        EXPECT_EQ(popup.items, (std::vector<std::u16string>{u"Symbology Settings", u"Exit"}));
    }
    ASSERT_TRUE(settle());
    std::vector<std::string> lines = wedge::traceLines(root_);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "App Exit?"), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "App Exit cancel"), 3);

    terminal::scriptMenuChoice(32773);
    terminal::scriptMessageBoxAnswer(7);  // No
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(
        wedge::waitFor([] { return countBoxes(u"Are you sure you want to close Keyvane", u"Keyvane 1.9.1") == 1; }));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(wedge_.running());
    lines = wedge::traceLines(root_);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "App Exit cancel"), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "App Exit"), 0);

    terminal::scriptMenuChoice(32773);
    terminal::scriptMessageBoxAnswer(6);  // Yes
    ASSERT_TRUE(terminal::tapTray());
    int code = -99;
    ASSERT_TRUE(wedge_.waitExit(&code));
    EXPECT_EQ(code, 0);
    lines = wedge::traceLines(root_);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "App Exit"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
}

// The settings editor stand-in: records its arguments and rewrites the
// decode-settings file with another print weight.
std::string installEditor(const std::string& root, const std::u16string& devicePath) {
    std::string script = root + "/editor.sh";
    std::ofstream out(script);
    out << "#!/bin/sh\n"
        << "printf '<S name=\"Decode\">\\n<K id=\"PrintWeight\">7</K>\\n</S>\\n' > '" << root
        << "/Zentrova/DecodeSettings.Vqf'\n"
        // Written whole, then renamed, so a reader never sees it half written.
        << "printf '%s\\n' \"$1\" > '" << root << "/editor-ran.part'\n"
        << "mv '" << root << "/editor-ran.part' '" << root << "/editor-ran'\n";
    out.close();
    chmod(script.c_str(), 0755);
    terminal::installProgram(devicePath, script);
    return root + "/editor-ran";
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(WedgeTest, SymbologySettingsWithTheScannerOffRunsTheEditorAndLeavesItOff) {
    wedge::RootOptions options;
    startWedge(options);
    {
        std::ofstream vqf(root_ + "/Zentrova/DecodeSettings.Vqf");
        vqf << "<S name=\"Decode\">\n<K id=\"PrintWeight\">4</K>\n</S>\n";
    }
    std::string marker = installEditor(root_, u"\\Program Files\\Fieldkit\\Setwright Editor CE.exe");
    // The editor is found by its file.
    fs::create_directories(root_ + "/Program Files/Fieldkit");
    std::ofstream(root_ + "/Program Files/Fieldkit/Setwright Editor CE.exe") << "editor";

    EXPECT_EQ(wedge::runKeyvane(root_, {"disconnect"}), 0);
    ASSERT_TRUE(wedge::waitFor([] { return terminal::eventState("KVN_Enable_State") == 0; }));

    terminal::scriptMenuChoice(32772);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor([&] { return fs::exists(marker); }));
    ASSERT_TRUE(wedge::waitFor([&] { return traceHas(root_, "App Exit cancel"); }));
    ASSERT_TRUE(settle());
    EXPECT_EQ(fileText(marker), "/f \\Zentrova\\DecodeSettings.Vqf\n");
    // The edited file was applied while the engine was connected for the editor.
    std::vector<int32_t> globals = terminal::globalSettings();
    ASSERT_FALSE(globals.empty());
    EXPECT_EQ(globals[0], 7);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_FALSE(anyScanKeyRegistration(window_));
}

TEST_F(WedgeTest, SymbologySettingsWithoutTheEditorInstalledSaysSo) {
    startWedge();
    terminal::scriptMenuChoice(32772);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor(
        [] { return countBoxes(u"Error: This option requires Fieldkit to be installed", u"Keyvane") == 1; }));
    EXPECT_TRUE(wedge::waitFor([&] { return traceHas(root_, "App Exit cancel"); }));
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
}

TEST(WedgeStartup, MissingSettingsFileExitsMinusOneWithoutConnecting) {
    wedge::RootOptions options;
    options.writeSettings = false;
    std::string root = wedge::makeTerminalRoot(options);
    EXPECT_EQ(wedge::runKeyvane(root, {}), -1);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    EXPECT_TRUE(terminal::windows().empty());
    EXPECT_TRUE(terminal::trayIcons().empty());
    // The events were created in the named order, "KVN_Loaded" signalled.
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    wedge::removeTerminalRoot(root);
}

TEST(WedgeStartup, EngineConnectFailureExitsMinusTwo) {
    std::string root = wedge::makeTerminalRoot();
    terminal::setConfig("engine", "fail");
    EXPECT_EQ(wedge::runKeyvane(root, {}), -2);
    EXPECT_TRUE(terminal::windows().empty());
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    wedge::removeTerminalRoot(root);
}

TEST(WedgeStartup, EventsThatExistAlreadyKeepTheirState) {
    wedge::RootOptions options;
    options.writeSettings = false;
    std::string root = wedge::makeTerminalRoot(options);
    terminal::setEventState("KVN_Loaded", false);
    terminal::setEventState("KVN_Enable", true);
    EXPECT_EQ(wedge::runKeyvane(root, {}), -1);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    wedge::removeTerminalRoot(root);
}

}  // namespace

namespace {

TEST_F(WedgeTest, AllKeysCaptureKeepsKeysFromTheFocusedApplication) {
    wedge::RootOptions options;
    options.settingsIni = "[Settings]\r\nEnableScanner=1\r\nOutPutMode=6\r\n";
    startWedge(options);
    size_t captured = 0;
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.pid == wedge_.pid() && h.window == 0) ++captured;
    EXPECT_EQ(captured, 254u * 5u);
    EXPECT_TRUE(holdsScanKey(window_));

    terminal::setFocusClass(u"Edit");
    terminal::clearFocusText();
    terminal::pressKey(0x41);
    terminal::releaseKey(0x41);
    ASSERT_TRUE(settle());
    EXPECT_EQ(terminal::focusText(), u"");
    EXPECT_TRUE(wedge_.running());

    int code = -99;
    ASSERT_TRUE(wedge_.quit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(traceHas(root_, "App Exit"));
}

}  // namespace

namespace {

TEST_F(WedgeTest, ScannerOffInTheSettingsConnectsTheEngineButLeavesTheScanKey) {
    wedge::RootOptions options;
    options.settingsIni = "[Settings]\r\nEnableScanner=0\r\n";
    startWedge(options);
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
    EXPECT_FALSE(anyScanKeyRegistration(window_));
    // The scan key does nothing while the scanner is off.
    terminal::pressKey(42);
    terminal::releaseKey(42);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(traceHas(root_, "Start Scan"));

    // "disconnect" has nothing to switch off; "connect" switches the scanner on.
    EXPECT_EQ(wedge::runKeyvane(root_, {"disconnect"}), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
    EXPECT_EQ(wedge::runKeyvane(root_, {"connect"}), 0);
    ASSERT_TRUE(wedge::waitFor([this] { return holdsScanKey(window_); }));
    terminal::pressKey(42);
    EXPECT_TRUE(wedge::waitFor([&] { return traceHas(root_, "Start Scan"); }));
    terminal::releaseKey(42);
}

}  // namespace

namespace {

TEST_F(WedgeTest, ThePpcEditorIsPreferredAndAMissingDecodeFileStopsTheLaunch) {
    startWedge();
    std::string ppc = installEditor(root_, u"\\Program Files\\Fieldkit\\Setwright Editor PPC.exe");
    fs::create_directories(root_ + "/Program Files/Fieldkit");
    std::ofstream(root_ + "/Program Files/Fieldkit/Setwright Editor PPC.exe") << "editor";
    std::ofstream(root_ + "/Program Files/Fieldkit/Setwright Editor CE.exe") << "editor";

    // No decode-settings file anywhere: the editor is not started.
    terminal::scriptMenuChoice(32772);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor(
        [] { return countBoxes(u"Error: The DecodeSetting.vqf file can not be found.", u"Keyvane") == 1; }));
    ASSERT_TRUE(settle());
    EXPECT_FALSE(fs::exists(ppc));

    // Once the file exists it is found and handed to the PPC editor.
    fs::create_directories(root_ + "/IPSM");
    std::ofstream(root_ + "/IPSM/DecodeSettings.Vqf") << "<S name=\"Decode\">\n</S>\n";
    terminal::scriptMenuChoice(32772);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor([&] { return fs::exists(ppc); }));
    EXPECT_EQ(fileText(ppc), "/f \\IPSM\\DecodeSettings.Vqf\n");
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
}

}  // namespace

namespace {

TEST(WedgeStartupKeys, AScanKeyHeldElsewhereIsReportedAndTheWedgeRunsOn) {
    std::string root = wedge::makeTerminalRoot();
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, 0, 42));  // another program holds the scan key
    wedge::WedgeProcess p;
    ASSERT_TRUE(p.start(root));
    ASSERT_TRUE(p.waitLoaded());
    EXPECT_EQ(countBoxes(u"Failed to capture Scan Key.", u"Error: Keyvane"), 1u);
    EXPECT_TRUE(wedge::waitFor([&] { return traceHas(root, "Failed to capture Scan Key."); }));
    EXPECT_FALSE(anyScanKeyRegistration(p.window()));
    EXPECT_TRUE(hasTrayIcon(p.window()));
    UnregisterHotKey(nullptr, 1);
    int code = -99;
    ASSERT_TRUE(p.quit(&code));
    EXPECT_EQ(code, 0);
    wedge::removeTerminalRoot(root);
}

}  // namespace

namespace {

// A stand-in for the running instance: a window titled "Keyvane" of this
// test process, so that what a second instance posts can be read exactly.
LRESULT CALLBACK standInProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

TEST(SecondInstance, PassesEachCommandWordToTheRunningWindowAndCreatesNoEvents) {
    std::string root = wedge::makeTerminalRoot();
    WNDCLASSW c = {};
    c.lpfnWndProc = standInProc;
    c.lpszClassName = u"StandIn";
    RegisterClassW(&c);
    HWND running = CreateWindowExW(0, u"StandIn", u"Keyvane", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(running, nullptr);

    struct Case {
        std::vector<std::string> line;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Case cases[] = {
        {{"connect"}, WM_USER + 1, 0, 1}, {{"Disconnect"}, WM_USER + 1, 0, 0}, {{"QUIT"}, WM_DESTROY, 1, 0}};
    for (const Case& k : cases) {
        EXPECT_EQ(wedge::runKeyvane(root, k.line), 0) << k.line[0];
        MSG msg = {};
        ASSERT_EQ(terminal::queuedMessages(getpid()), 1) << k.line[0];
        ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
        EXPECT_EQ(msg.hwnd, running);
        EXPECT_EQ(msg.message, k.message) << k.line[0];
        EXPECT_EQ(msg.wParam, k.wParam) << k.line[0];
        EXPECT_EQ(msg.lParam, k.lParam) << k.line[0];
    }
    EXPECT_EQ(wedge::runKeyvane(root, {"disable"}), 0);
    EXPECT_TRUE(holdsScanKey(reinterpret_cast<uintptr_t>(running), 0));
    EXPECT_EQ(wedge::runKeyvane(root, {"enable"}), 0);
    EXPECT_TRUE(holdsScanKey(reinterpret_cast<uintptr_t>(running), MOD_ALT));
    EXPECT_EQ(wedge::runKeyvane(root, {"enable", "now"}), -3);
    EXPECT_EQ(terminal::queuedMessages(getpid()), 0);

    for (const char* name : {"KVN_Loaded", "KVN_Enable", "KVN_Enable_State"}) EXPECT_EQ(terminal::eventState(name), -1);
    EXPECT_TRUE(wedge::traceText(root).empty());
    UnregisterHotKey(running, 42);
    wedge::removeTerminalRoot(root);
}

}  // namespace
