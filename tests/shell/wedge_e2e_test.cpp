// The resident wedge end to end: real keyvane processes on a fresh terminal
// root, steered by second instances, named events, tray taps and menu choices.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "shell/constants.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"
#include "tests/support/test_child.h"
#include "tests/support/wedge_process.h"

namespace {

namespace fs = std::filesystem;

bool holdsScanKey(uint32_t window, unsigned modifiers = 0) {
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.window == window && h.id == SCAN_HOTKEY_ID && h.virtualKey == kScanKey && h.modifiers == modifiers)
            return true;
    return false;
}

// Scans "ok3" into a cleared focused field; whether the wedge settles and
// the field then holds exactly "ok3" (lower case, a digit: no Shift held).
::testing::AssertionResult scanTypesOk3(wedge::WedgeProcess& process) {
    terminal::clearFocusText();
    terminal::Barcode barcode;
    barcode.data = "ok3";
    terminal::putInView(barcode);
    terminal::pressKey(kScanKey);
    wedge::waitFor([] { return wedge::typed().size() >= 3; }, 10000);
    terminal::releaseKey(kScanKey);
    if (!process.idle()) return ::testing::AssertionFailure() << "the wedge did not settle";
    if (wedge::typed() != "ok3") return ::testing::AssertionFailure() << "typed \"" << wedge::typed() << "\"";
    return ::testing::AssertionSuccess();
}

bool anyScanKeyRegistration(uint32_t window) {
    for (const terminal::HotKey& h : terminal::hotKeys())
        if (h.window == window && h.id == SCAN_HOTKEY_ID) return true;
    return false;
}

size_t traceCount(const std::string& root, const std::string& line) {
    std::vector<std::string> lines = wedge::traceLines(root);
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

size_t countBoxes(const std::u16string& text, const std::u16string& caption) {
    size_t n = 0;
    for (const terminal::MessageBoxRecord& m : terminal::messageBoxes())
        if (m.text == text && m.caption == caption) ++n;
    return n;
}

bool scannerState(int state) {
    return wedge::waitFor([state] { return terminal::eventState("KVN_Enable_State") == state; });
}

class WedgeTest : public ::testing::Test {
protected:
    void TearDown() override {
        wedge_.kill();
        for (HANDLE h : held_) CloseHandle(h);
        wedge::removeTerminalRoot(root_);
    }

    // Starts the wedge; this test then holds its three events, as another
    // program that steers it does, so that they outlive the wedge.
    void startWedge(const wedge::RootOptions& options = wedge::RootOptions()) {
        root_ = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root_.empty());
        ASSERT_TRUE(wedge_.start(root_));
        ASSERT_TRUE(wedge_.waitLoaded()) << "the wedge did not come up";
        window_ = wedge_.window();
        for (const char16_t* name : {u"KVN_Loaded", u"KVN_Enable", u"KVN_Enable_State"}) {
            HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
            ASSERT_NE(h, nullptr);
            held_.push_back(h);
        }
    }

    void expectCleanExit() {
        int code = -99;
        ASSERT_TRUE(wedge_.waitExit(&code));
        EXPECT_EQ(code, 0);
        EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
        EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
        EXPECT_FALSE(terminal::engineConnected());
        EXPECT_TRUE(terminal::trayIcons().empty());
        EXPECT_EQ(traceCount(root_, "App Exit"), 1u);
    }

    std::string root_;
    wedge::WedgeProcess wedge_;
    uint32_t window_ = 0;
    std::vector<HANDLE> held_;
};

// Every command word from a second instance, matched on the whole line
// ignoring case; anything else leaves the running instance untouched.
TEST_F(WedgeTest, SecondInstanceCommandWordsSteerTheRunningWedge) {
    startWedge();
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_TRUE(holdsScanKey(window_));
    EXPECT_EQ(terminal::trayIcons().size(), 1u);
    ASSERT_EQ(terminal::windows().size(), 1u);
    EXPECT_EQ(terminal::windows()[0].windowClass, u"KEYVANE");

    EXPECT_EQ(wedge::runKeyvane(root_, {"disconnect"}), 0);
    ASSERT_TRUE(scannerState(0));
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_FALSE(anyScanKeyRegistration(window_));

    EXPECT_EQ(wedge::runKeyvane(root_, {"CONNECT"}), 0);
    ASSERT_TRUE(scannerState(1));
    EXPECT_TRUE(terminal::engineConnected());
    EXPECT_TRUE(wedge::waitFor([this] { return holdsScanKey(window_); }));

    // enable/disable only rebind the scan key; the scanner state stays.
    EXPECT_EQ(wedge::runKeyvane(root_, {"enable"}), 0);
    EXPECT_TRUE(holdsScanKey(window_, MOD_ALT));
    EXPECT_FALSE(holdsScanKey(window_, 0));
    EXPECT_EQ(wedge::runKeyvane(root_, {"DISABLE"}), 0);
    EXPECT_TRUE(holdsScanKey(window_, 0));
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);

    for (const std::vector<std::string>& line :
         std::vector<std::vector<std::string>>{{}, {" quit"}, {"quit", "now"}, {"connectx"}}) {
        size_t before = countBoxes(u"Keyvane is already running", u"Warning");
        EXPECT_EQ(wedge::runKeyvane(root_, line), -3);
        EXPECT_EQ(countBoxes(u"Keyvane is already running", u"Warning"), before + 1);
    }
    ASSERT_TRUE(wedge_.idle());
    EXPECT_TRUE(wedge_.running());
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
    EXPECT_TRUE(holdsScanKey(window_));
    EXPECT_EQ(terminal::windows().size(), 1u);

    EXPECT_EQ(wedge::runKeyvane(root_, {"Quit"}), 0);
    expectCleanExit();
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    for (HANDLE h : held_) CloseHandle(h);
    held_.clear();
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
}

// A request posted while the window is busy scanning waits as one message
// instead of being posted again and again.
TEST_F(WedgeTest, RequestsDoNotFloodTheQueueWhileTheWindowIsBusy) {
    wedge::RootOptions options;
    options.clockSpeed = 1;
    startWedge(options);
    terminal::pressKey(kScanKey);  // holds the main thread in the scan trigger loop
    ASSERT_TRUE(wedge::waitFor([&] { return traceCount(root_, "Start Scan") > 0; }));
    terminal::setEventState("KVN_Enable", false);
    int most = 0;
    wedge::waitFor(
        [&] {
            most = std::max(most, terminal::queuedMessages(wedge_.pid()));
            return false;
        },
        300);
    EXPECT_EQ(most, 1);
    terminal::releaseKey(kScanKey);
    ASSERT_TRUE(scannerState(0));
    EXPECT_FALSE(anyScanKeyRegistration(window_));
}

TEST_F(WedgeTest, TrayMenuOpensAtTheScreenCornerAndExitAnsweredNoKeepsRunning) {
    startWedge();
    struct Screen {
        int width, height, x, y;
    };
    const Screen screens[] = {{240, 320, 190, 175}, {480, 640, 380, 350}, {480, 800, 380, 655}};
    for (const Screen& s : screens) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        terminal::setScreen(s.width, s.height);
        size_t before = terminal::menuPopups().size();
        ASSERT_TRUE(terminal::tapTray());
        ASSERT_TRUE(wedge::waitFor([&] { return terminal::menuPopups().size() == before + 1; }));
        terminal::MenuPopup popup = terminal::menuPopups().back();
        EXPECT_EQ(popup.x, s.x);
        EXPECT_EQ(popup.y, s.y);
        EXPECT_EQ(popup.items, (std::vector<std::u16string>{u"Symbology Settings", u"Exit"}));
    }
    ASSERT_TRUE(wedge_.idle());
    EXPECT_EQ(traceCount(root_, "App Exit?"), 3u);
    EXPECT_EQ(traceCount(root_, "App Exit cancel"), 3u);

    terminal::scriptMenuChoice(IDM_EXIT);
    terminal::scriptMessageBoxAnswer(7);  // No
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(
        wedge::waitFor([] { return countBoxes(u"Are you sure you want to close Keyvane", u"Keyvane 1.9.1") == 1; }));
    ASSERT_TRUE(wedge_.idle());
    EXPECT_TRUE(wedge_.running());
    EXPECT_EQ(traceCount(root_, "App Exit cancel"), 4u);
    EXPECT_EQ(traceCount(root_, "App Exit"), 0u);

    terminal::scriptMenuChoice(IDM_EXIT);
    terminal::scriptMessageBoxAnswer(6);  // Yes
    ASSERT_TRUE(terminal::tapTray());
    expectCleanExit();
}

// The settings editor stand-in: records its argument and rewrites the
// decode-settings file with print weight 7.
std::string installEditor(const std::string& root, const std::string& exe) {
    std::string script = root + "/editor.sh", marker = root + "/editor-ran";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "printf '<S name=\"Decode\">\\n<K id=\"PrintWeight\">7</K>\\n</S>\\n' > '" << root
                          << "/Zentrova/DecodeSettings.Vqf'\n"
                          << "printf '%s\\n' \"$1\" > '" << marker << ".part'\nmv '" << marker << ".part' '" << marker
                          << "'\n";
    chmod(script.c_str(), 0755);
    std::u16string device = u"\\Program Files\\Fieldkit\\";
    for (char ch : exe) device += static_cast<char16_t>(ch);
    terminal::installProgram(device, script);
    fs::create_directories(root + "/Program Files/Fieldkit");
    std::ofstream(root + "/Program Files/Fieldkit/" + exe) << "editor";
    return marker;
}

TEST_F(WedgeTest, SymbologySettingsWithTheScannerOffRunsTheEditorAndLeavesItOff) {
    startWedge();
    std::ofstream(root_ + "/Zentrova/DecodeSettings.Vqf") << "<S name=\"Decode\">\n<K id=\"PrintWeight\">4</K>\n</S>\n";
    std::string marker = installEditor(root_, "Setwright Editor CE.exe");

    EXPECT_EQ(wedge::runKeyvane(root_, {"disconnect"}), 0);
    ASSERT_TRUE(scannerState(0));
    terminal::scriptMenuChoice(IDM_SYMBOLOGY_SETTINGS);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor([&] { return fs::exists(marker); }));
    ASSERT_TRUE(wedge::waitFor([&] { return traceCount(root_, "App Exit cancel") > 0; }));
    ASSERT_TRUE(wedge_.idle());
    EXPECT_EQ(testfiles::fileText(marker), "/f \\Zentrova\\DecodeSettings.Vqf\n");
    // The edited file was applied while the engine was connected for the editor.
    std::vector<int32_t> globals = terminal::globalSettings();
    ASSERT_FALSE(globals.empty());
    EXPECT_EQ(globals[0], 7);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 0);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 0);
    EXPECT_FALSE(terminal::engineConnected());
    EXPECT_FALSE(anyScanKeyRegistration(window_));
}

TEST_F(WedgeTest, ThePpcEditorIsPreferredAndAMissingDecodeFileStopsTheLaunch) {
    startWedge();
    std::string marker = installEditor(root_, "Setwright Editor PPC.exe");
    std::ofstream(root_ + "/Program Files/Fieldkit/Setwright Editor CE.exe") << "editor";
    terminal::scriptMenuChoice(IDM_SYMBOLOGY_SETTINGS);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor(
        [] { return countBoxes(u"Error: The DecodeSetting.vqf file can not be found.", u"Keyvane") == 1; }));
    ASSERT_TRUE(wedge_.idle());
    EXPECT_FALSE(fs::exists(marker));

    fs::create_directories(root_ + "/IPSM");
    std::ofstream(root_ + "/IPSM/DecodeSettings.Vqf") << "<S name=\"Decode\">\n</S>\n";
    terminal::scriptMenuChoice(IDM_SYMBOLOGY_SETTINGS);
    ASSERT_TRUE(terminal::tapTray());
    ASSERT_TRUE(wedge::waitFor([&] { return fs::exists(marker); }));
    EXPECT_EQ(testfiles::fileText(marker), "/f \\IPSM\\DecodeSettings.Vqf\n");
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), 1);
}

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
    ASSERT_TRUE(wedge_.idle());
    EXPECT_EQ(terminal::focusText(), u"");
    EXPECT_TRUE(wedge_.running());
}

// The events live as long as a process holds them: an ended wedge leaves
// none behind.
TEST(WedgeStartup, MissingSettingsFileExitsMinusOneWithoutConnecting) {
    wedge::RootOptions options;
    options.writeSettings = false;
    std::string root = wedge::makeTerminalRoot(options);
    EXPECT_EQ(wedge::runKeyvane(root, {}), -1);
    EXPECT_FALSE(terminal::engineConnected());
    for (const char* name : {"KVN_Loaded", "KVN_Enable", "KVN_Enable_State"}) EXPECT_EQ(terminal::eventState(name), -1);
    EXPECT_TRUE(terminal::windows().empty());
    EXPECT_TRUE(terminal::trayIcons().empty());

    wedge::removeTerminalRoot(root);
}

TEST(WedgeStartup, EventsThatExistAlreadyKeepTheirState) {
    wedge::RootOptions options;
    options.writeSettings = false;
    std::string root = wedge::makeTerminalRoot(options);
    HANDLE loaded = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Loaded");
    HANDLE enable = CreateEventW(nullptr, TRUE, TRUE, u"KVN_Enable");
    EXPECT_EQ(wedge::runKeyvane(root, {}), -1);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    EXPECT_EQ(terminal::eventState("KVN_Enable"), 1);
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), -1);
    CloseHandle(loaded);
    CloseHandle(enable);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
    wedge::removeTerminalRoot(root);
}

// Another program still holds "KVN_Loaded", reset, from an earlier run: the
// new wedge signals it before its event watch looks, so the named events
// steer the scanner as ever.
TEST(WedgeStartup, AHeldResetKvnLoadedDoesNotStopTheEventWatch) {
    std::string root = wedge::makeTerminalRoot();
    HANDLE loaded = CreateEventW(nullptr, TRUE, FALSE, u"KVN_Loaded");
    ASSERT_NE(loaded, nullptr);
    wedge::WedgeProcess p;
    ASSERT_TRUE(p.start(root));
    ASSERT_TRUE(p.waitLoaded());
    HANDLE enable = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"KVN_Enable");
    ASSERT_NE(enable, nullptr);
    ResetEvent(enable);
    EXPECT_TRUE(scannerState(0)) << "the event watch did not see KVN_Enable reset";
    EXPECT_FALSE(terminal::engineConnected());
    SetEvent(enable);
    EXPECT_TRUE(scannerState(1));
    int code = -99;
    ASSERT_TRUE(p.quit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 0);
    CloseHandle(enable);
    CloseHandle(loaded);
    wedge::removeTerminalRoot(root);
}

TEST(WedgeStartup, EngineConnectFailureExitsMinusTwo) {
    std::string root = wedge::makeTerminalRoot();
    terminal::setConfig("engine", "fail");
    EXPECT_EQ(wedge::runKeyvane(root, {}), -2);
    EXPECT_TRUE(terminal::windows().empty());
    EXPECT_EQ(terminal::eventState("KVN_Enable_State"), -1);
    wedge::removeTerminalRoot(root);
}

TEST(WedgeStartup, AScanKeyHeldElsewhereIsReportedAndTheWedgeRunsOn) {
    std::string root = wedge::makeTerminalRoot();
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, 0, kScanKey));  // another program holds the scan key
    wedge::WedgeProcess p;
    ASSERT_TRUE(p.start(root));
    ASSERT_TRUE(p.waitLoaded());
    EXPECT_EQ(countBoxes(u"Failed to capture Scan Key.", u"Error: Keyvane"), 1u);
    EXPECT_FALSE(anyScanKeyRegistration(p.window()));
    EXPECT_EQ(terminal::trayIcons().size(), 1u);
    UnregisterHotKey(nullptr, 1);
    int code = -99;
    ASSERT_TRUE(p.quit(&code));
    EXPECT_EQ(code, 0);
    wedge::removeTerminalRoot(root);
}

}  // namespace

// Two wedges started together on one terminal, round after round on the same
// root: one of them comes up, the other hands its command word over and ends
// with 0, and the word reaches the one that runs.
TEST(WedgeStartup, TwoWedgesStartedTogetherLeaveOneThatGetsTheOthersCommandWord) {
    std::string root = wedge::makeTerminalRoot();
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        wedge::WedgeProcess a;
        wedge::WedgeProcess b;
        ASSERT_TRUE(a.start(root, {"disconnect"}));
        ASSERT_TRUE(b.start(root, {"disconnect"}));
        ASSERT_TRUE(wedge::waitFor([&] { return !a.running() || !b.running(); }, 20000)) << "both wedges kept running";
        wedge::WedgeProcess& ended = a.running() ? b : a;
        wedge::WedgeProcess& survivor = a.running() ? a : b;
        int code = -99;
        ASSERT_TRUE(ended.waitExit(&code, 0));
        EXPECT_EQ(code, 0);
        ASSERT_TRUE(survivor.waitLoaded(20000));
        EXPECT_EQ(terminal::windows().size(), 1u);
        // The first instance ignores its own command line; "disconnect" came
        // from the other one.
        EXPECT_TRUE(scannerState(0)) << "the second wedge's command word did not arrive";
        EXPECT_FALSE(anyScanKeyRegistration(survivor.window()));
        EXPECT_TRUE(survivor.running());
        ASSERT_TRUE(survivor.quit(&code));
        EXPECT_EQ(code, 0);
    }
    wedge::removeTerminalRoot(root);
}

// The last Shift event of the key log is a press (Shift was held when the
// wedge died).
bool shiftLeftDown() {
    bool down = false;
    for (const terminal::KeyEvent& e : terminal::keyEvents())
        if (e.virtualKey == VK_SHIFT) down = e.down;
    return down;
}

// A wedge killed while it types capitals, round after round on one root:
// the next wedge types "ok3", not "OK#".
TEST(WedgeStartup, AWedgeKilledWhileTypingCapitalsLeavesNoShiftBehind) {
    wedge::RootOptions options;
    options.clockSpeed = 1;  // Shift stays down for 2 ms of each capital
    std::string root = wedge::makeTerminalRoot(options);
    int shiftHeldAtKill = 0;
    for (int round = 0; round < 12 && shiftHeldAtKill < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        terminal::clearFocusText();
        terminal::clearKeyEvents();
        wedge::WedgeProcess typing;
        ASSERT_TRUE(typing.start(root));
        ASSERT_TRUE(typing.waitLoaded());
        terminal::Barcode capitals;
        capitals.data = std::string(400, 'Q');
        terminal::putInView(capitals);
        terminal::pressKey(kScanKey);
        ASSERT_TRUE(wedge::waitFor([] { return wedge::typed().size() > 20; }, 10000));
        typing.kill();
        terminal::releaseKey(kScanKey);
        terminal::clearView();
        if (shiftLeftDown()) ++shiftHeldAtKill;

        wedge::WedgeProcess next;
        ASSERT_TRUE(next.start(root));
        ASSERT_TRUE(next.waitLoaded());
        ASSERT_TRUE(scanTypesOk3(next));
        terminal::clearView();
        int code = -99;
        ASSERT_TRUE(next.quit(&code));
        EXPECT_EQ(code, 0);
    }
    EXPECT_GE(shiftHeldAtKill, 1) << "no kill came while Shift was down; the rounds proved nothing";
    wedge::removeTerminalRoot(root);
}

// Shift held down by another program that still runs is released by a
// starting wedge before it types anything.
TEST(WedgeStartup, TheWedgeReleasesShiftBeforeItTypes) {
    std::string root = wedge::makeTerminalRoot();
    keybd_event(VK_SHIFT, 0, 0, 0);
    wedge::WedgeProcess p;
    ASSERT_TRUE(p.start(root));
    ASSERT_TRUE(p.waitLoaded());
    EXPECT_FALSE(terminal::keyDown(VK_SHIFT));
    ASSERT_TRUE(scanTypesOk3(p));
    int code = -99;
    ASSERT_TRUE(p.quit(&code));
    EXPECT_EQ(code, 0);
    wedge::removeTerminalRoot(root);
}

// A configuration or decoder library that others may write is refused before
// anything of it is used: no events, no engine, no window.
TEST(WedgeStartup, AConfigurationOrDecoderOthersMayWriteIsRefused) {
    std::string root = wedge::makeTerminalRoot();
    std::string library = root + "-lib";
    ASSERT_TRUE(fs::create_directory(library));
    fs::copy_file(KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so", library + "/libDecoder.so");
    terminal::setConfig("decoder", library + "/libDecoder.so");
    std::string conf = root + "/.terminal/terminal.conf";
    for (const std::string& path : {conf, library + "/libDecoder.so", library}) {
        SCOPED_TRACE(path);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        ASSERT_EQ(chmod(path.c_str(), (st.st_mode & 07777) | 0002), 0);
        EXPECT_EQ(wedge::runKeyvane(root, {}), -1);
        EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1);
        EXPECT_FALSE(terminal::engineConnected());
        EXPECT_TRUE(terminal::windows().empty());
        ASSERT_EQ(chmod(path.c_str(), st.st_mode & 07755), 0);
    }
    // Made safe, the same terminal starts.
    wedge::WedgeProcess p;
    ASSERT_TRUE(p.start(root));
    ASSERT_TRUE(p.waitLoaded());
    int code = -99;
    ASSERT_TRUE(p.quit(&code));
    EXPECT_EQ(code, 0);
    fs::remove_all(library);
    wedge::removeTerminalRoot(root);
}

// A COM port whose path is an ordinary file is not opened: the frames do not
// pile up in the file, and the wedge's log says why.
TEST(WedgeStartup, AComPortThatIsAnOrdinaryFileIsNotOpened) {
    wedge::RootOptions options;
    options.settingsIni = "[Settings]\r\nEnableScanner=1\r\nOutPutMode = 3\r\nComportNumber = 3\r\n";
    std::string root = wedge::makeTerminalRoot(options);
    std::string file = root + "/frames.bin";
    std::ofstream(file) << "before";
    terminal::setPortPath(3, file);
    EXPECT_EQ(wedge::runKeyvane(root, {}), -2);
    EXPECT_EQ(countBoxes(u"Failed to open COM Port.", u"Keyvane"), 1u);
    EXPECT_NE(wedge::traceText(root).find("Open Failed : 5\r"), std::string::npos) << wedge::traceText(root);
    EXPECT_EQ(testfiles::fileText(file), "before");
    wedge::removeTerminalRoot(root);
}

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs keyvane in the folder `where` with KEYVANE_TERMINAL set to `terminalRoot`
// (unset when null), its output kept apart from `where`.
Outcome runIn(const std::string& where, const char* terminalRoot, const std::vector<std::string>& arguments) {
    wedge::Launch how;
    how.root = terminalRoot;
    how.folder = where;
    how.outPath = where + ".out";
    how.errPath = where + ".err";
    pid_t pid = wedge::launch(how, arguments);
    const std::string& outPath = how.outPath;
    const std::string& errPath = how.errPath;
    Outcome r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.code = WEXITSTATUS(status);
    r.out = testfiles::fileText(outPath);
    r.err = testfiles::fileText(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
}

bool emptyFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec) && fs::is_empty(path, ec);
}

}  // namespace

// Without a terminal root the wedge makes none, neither where it was started
// nor where KEYVANE_TERMINAL points; it says in one line how to make one. Its
// options are answered without a terminal.
TEST(WedgeEntry, WithoutATerminalRootNothingIsMadeAndTheWayToMakeOneIsSaid) {
    std::string where = testfiles::makeTempFolder("keyvane-entry");
    ASSERT_FALSE(where.empty());

    Outcome version = runIn(where, nullptr, {"--version"});
    EXPECT_EQ(version.code, 0) << version.err;
    EXPECT_EQ(version.out.rfind("keyvane ", 0), 0u) << version.out;
    EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
    Outcome help = runIn(where, nullptr, {"--help"});
    EXPECT_EQ(help.code, 0) << help.err;
    EXPECT_EQ(help.out.rfind("usage: keyvane [quit | connect | disconnect | enable | disable]\n", 0), 0u) << help.out;
    EXPECT_TRUE(emptyFolder(where)) << "an option made something in " << where;

    std::string missing = where + "/missing";
    for (const std::vector<std::string>& words : {std::vector<std::string>{}, {"quit"}, {"--version", "x"}}) {
        std::string line = words.empty() ? "(none)" : words[0];
        SCOPED_TRACE(line);
        Outcome bare = runIn(where, nullptr, words);
        EXPECT_EQ(bare.code, 255);
        EXPECT_EQ(bare.out, "");
        EXPECT_EQ(std::count(bare.err.begin(), bare.err.end(), '\n'), 1) << bare.err;
        EXPECT_NE(bare.err.find("KEYVANE_TERMINAL"), std::string::npos) << bare.err;
        EXPECT_NE(bare.err.find("keyvane-terminal --root DIR init"), std::string::npos) << bare.err;
        EXPECT_TRUE(emptyFolder(where)) << "a root was made in " << where;

        Outcome astray = runIn(where, missing.c_str(), words);
        EXPECT_EQ(astray.code, 255);
        EXPECT_EQ(std::count(astray.err.begin(), astray.err.end(), '\n'), 1) << astray.err;
        EXPECT_NE(astray.err.find("keyvane-terminal --root " + missing + " init"), std::string::npos) << astray.err;
        // A folder that is no terminal root is not made one.
        Outcome plain = runIn(where, where.c_str(), words);
        EXPECT_EQ(plain.code, 255);
        EXPECT_TRUE(emptyFolder(where)) << "a root was made in " << where;
    }
    testfiles::removeFolder(where);
}

// The system gave the id of a killed wedge to another process: its window
// record, which still names that id, belongs to no running process, so the
// next wedge comes up as the first instance.
TEST(WedgeStartup, AWindowWhoseProcessIdWasReusedIsNotTakenForARunningWedge) {
    std::string root = wedge::makeTerminalRoot();
    wedge::WedgeProcess killed;
    ASSERT_TRUE(killed.start(root));
    ASSERT_TRUE(killed.waitLoaded());
    pid_t ended = killed.pid();
    killed.kill();
    pid_t reusing = testchild::forkTestChild();
    ASSERT_GE(reusing, 0);
    if (reusing == 0)
        for (;;) pause();
    terminal::reuseProcessId(ended, reusing);

    wedge::WedgeProcess next;
    ASSERT_TRUE(next.start(root));
    EXPECT_TRUE(next.waitLoaded()) << "the new wedge took the ended one's window for a running instance";
    EXPECT_EQ(countBoxes(u"Keyvane is already running", u"Warning"), 0u);
    std::vector<terminal::WindowInfo> windows = terminal::windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].pid, next.pid());
    EXPECT_TRUE(holdsScanKey(next.window()));
    EXPECT_TRUE(scanTypesOk3(next));
    int code = -99;
    EXPECT_TRUE(next.quit(&code));
    EXPECT_EQ(code, 0);
    kill(reusing, SIGKILL);
    waitpid(reusing, nullptr, 0);
    wedge::removeTerminalRoot(root);
}

// Another process holds "KVN_Instance" and never makes a window: the wedge
// started beside it waits, and when the holder lets go it takes the mutex and
// comes up as the first instance.
TEST(WedgeStartup, AWaitingWedgeTakesOverWhenTheInstanceMutexIsLetGoWithoutAWindow) {
    // At clock speed 1 the wedge waits a real minute: time enough to see it
    // looking, however loaded the machine.
    wedge::RootOptions options;
    options.clockSpeed = 1;
    std::string root = wedge::makeTerminalRoot(options);
    HANDLE holder = CreateMutexW(nullptr, TRUE, u"KVN_Instance");
    ASSERT_NE(holder, nullptr);
    wedge::WedgeProcess waiting;
    ASSERT_TRUE(waiting.start(root));
    // Seen looking at the mutex (it holds a handle only while it looks): it
    // opened the existing mutex, and goes on running.
    auto looked = [&] { return terminal::mutexOpenings("KVN_Instance").lastPid == waiting.pid(); };
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(50);
    while (!looked() && waiting.running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(looked() && waiting.running()) << "the wedge did not wait for the holder";
    EXPECT_TRUE(terminal::windows().empty());
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), -1) << "a waiting wedge makes no events";

    ASSERT_TRUE(ReleaseMutex(holder));
    ASSERT_TRUE(CloseHandle(holder));
    ASSERT_TRUE(waiting.waitLoaded(20000)) << "the waiting wedge did not come up";
    EXPECT_EQ(terminal::eventState("KVN_Loaded"), 1);
    std::vector<terminal::WindowInfo> windows = terminal::windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].pid, waiting.pid());
    EXPECT_EQ(countBoxes(u"Keyvane is already running", u"Warning"), 0u);
    EXPECT_TRUE(scanTypesOk3(waiting));
    int code = -99;
    EXPECT_TRUE(waiting.quit(&code));
    EXPECT_EQ(code, 0);
    wedge::removeTerminalRoot(root);
}
