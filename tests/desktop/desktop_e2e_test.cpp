// The real wedge with the desktop keyboard on a private X server: the scan
// key is a key of the X keyboard, the focus window's class steers the
// edit-control delivery, keys held by a process that ended are released, and
// the wedge outlives its display.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/desktop/desktop_support.h"
// Xlib last: its macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

const char kSettings[] = "EnableScanner = 1\r\nSuffix = 13\r\n";

// Whether `keycode` is down at the display.
bool keyDownAt(Display* display, KeyCode keycode) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    return (keys[keycode / 8] >> (keycode % 8)) & 1;
}

int keysDownAt(Display* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    int n = 0;
    for (int i = 0; i < 256; ++i) n += (keys[i / 8] >> (i % 8)) & 1;
    return n;
}

class DesktopWedge : public desktop::FolderTest {
protected:
    void SetUp() override {
        desktop::FolderTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(server_.start());
        root_ = desktop::makeDesktopRoot(dir_, server_.name());
        ASSERT_FALSE(root_.empty());
        display_ = XOpenDisplay(server_.name().c_str());
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        if (!root_.empty()) desktop::console(root_, {"kill"});
        if (display_) XCloseDisplay(display_);
        recorder_.stop();
        server_.kill();
        desktop::FolderTest::TearDown();
    }
    void writeSettings(const std::string& ini) {
        mkdir((root_ + "/Zentrova").c_str(), 0700);
        std::ofstream out(root_ + "/Zentrova/Keyvane.ini", std::ios::binary | std::ios::trunc);
        out << ini;
    }
    void startWedge() {
        int code = -1;
        std::string out = desktop::console(root_, {"start"}, &code);
        ASSERT_EQ(code, 0) << out;
        ASSERT_TRUE(desktop::waitUntil([&] { return desktop::desktopLog(root_).find("grabbed") != std::string::npos; }))
            << desktop::desktopLog(root_);
    }
    std::string wedgeLog() {
        std::ifstream in(root_ + "/.terminal/wedge.log");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void pressAtServer(KeySym sym, bool down) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, sym), down, CurrentTime);
        XSync(display_, False);
    }
    std::string root_;
    desktop::XServer server_;
    desktop::Recorder recorder_;
    Display* display_ = nullptr;
};

TEST_F(DesktopWedge, TheScanKeyHeldAtTheXServerReadsWhatIsInView) {
    writeSettings(kSettings);
    ASSERT_TRUE(recorder_.start(server_.name()));
    startWedge();
    int code = -1;
    desktop::console(root_, {"view", "4006381333931"}, &code);
    ASSERT_EQ(code, 0);
    pressAtServer(XK_F12, true);
    EXPECT_TRUE(recorder_.waitBytes(14));
    // Held: the key state the wedge reads has the scan key down while the X
    // key is, and up once it is released.
    ASSERT_TRUE(terminal::attach(root_));
    EXPECT_TRUE(terminal::keyDown(42));
    pressAtServer(XK_F12, false);
    EXPECT_TRUE(desktop::waitUntil([] { return !terminal::keyDown(42); }));
    EXPECT_EQ(recorder_.text().substr(0, 14), "4006381333931\r");
    // One press however long it was held: the user's press and release, once each.
    std::string keys = desktop::console(root_, {"keys"});
    size_t presses = 0;
    for (size_t at = 0; (at = keys.find("vk=0x2A\tstate=down", at)) != std::string::npos; ++at) ++presses;
    EXPECT_EQ(presses, 1u) << keys;
}

TEST_F(DesktopWedge, AChosenDesktopClassGetsTheEditControlDelivery) {
    writeSettings("EnableScanner = 1\r\nOutPutMode = 4\r\nSuffix = 13\r\n");
    ASSERT_TRUE(recorder_.start(server_.name(), "XTerm"));
    int code = -1;
    desktop::console(root_, {"config", "class.XTerm", "Edit"}, &code);
    ASSERT_EQ(code, 0);
    startWedge();
    desktop::console(root_, {"scan", "EDIT-42"}, &code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(recorder_.waitBytes(8));
    EXPECT_EQ(recorder_.text(), "EDIT-42\r");
    // Typed as characters posted to the focus window, whose class is the device's Edit.
    std::string keys = desktop::console(root_, {"keys"});
    EXPECT_NE(keys.find("post:Edit"), std::string::npos) << keys;
}

TEST_F(DesktopWedge, AnUnmappedDesktopClassIsNoEditControl) {
    writeSettings("EnableScanner = 1\r\nOutPutMode = 4\r\nSuffix = 13\r\n");
    ASSERT_TRUE(recorder_.start(server_.name(), "XTerm"));
    startWedge();
    int code = -1;
    desktop::console(root_, {"scan", "EDIT-42"}, &code);
    ASSERT_EQ(code, 0);
    // Only the suffix is typed: the text goes to edit controls alone.
    ASSERT_TRUE(recorder_.waitBytes(1));
    EXPECT_EQ(recorder_.text(), "\r");
    EXPECT_EQ(desktop::console(root_, {"keys"}).find("post:"), std::string::npos);
}

// A process killed while it holds a key at the X server (the server keeps
// XTEST keys of a closed connection down): the next process of the terminal
// that connects releases it.
TEST_F(DesktopWedge, KeysHeldByAKilledProcessAreReleasedByTheNext) {
    KeyCode a = XKeysymToKeycode(display_, XK_a);
    pid_t child = fork();
    if (child == 0) {
        terminal::attach(root_);
        keybd_event('A', 0, 0, 0);
        // A round trip on the same connection: the press has reached the server.
        GetForegroundWindow();
        raise(SIGKILL);
        _exit(1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(keyDownAt(display_, a)) << "the server released the key itself";
    writeSettings(kSettings);
    startWedge();
    EXPECT_TRUE(desktop::waitUntil([&] { return !keyDownAt(display_, a); }));
    EXPECT_NE(desktop::desktopLog(root_).find("ended holding 1 keys"), std::string::npos)
        << desktop::desktopLog(root_);
}

TEST_F(DesktopWedge, TheWedgeOutlivesItsDisplayAndTypesIntoTheNextServer) {
    writeSettings(kSettings);
    ASSERT_TRUE(recorder_.start(server_.name()));
    startWedge();
    int number = server_.number();
    std::string name = server_.name();
    // A long barcode: the server is killed while it is being typed.
    std::string longBarcode(3000, 'x');
    pid_t scanner = desktop::spawn({KEYVANE_BINARY_DIR "/keyvane-terminal", "--root", root_, "scan", longBarcode});
    ASSERT_GT(scanner, 0);
    ASSERT_TRUE(recorder_.waitBytes(20));
    XCloseDisplay(display_);
    display_ = nullptr;
    server_.kill();
    recorder_.stop();
    int status = 0;
    waitpid(scanner, &status, 0);
    ASSERT_TRUE(desktop::waitUntil(
        [&] { return desktop::desktopLog(root_).find("connection lost") != std::string::npos; }))
        << desktop::desktopLog(root_);
    EXPECT_NE(desktop::console(root_, {"status"}).find("running=1"), std::string::npos);
    // The rest of the barcode is pressed without blocking, and dropped.
    auto pressesOf = [&](const std::string& vk) {
        std::string keys = desktop::console(root_, {"keys"});
        size_t n = 0;
        for (size_t at = 0; (at = keys.find("vk=" + vk + "\tstate=down", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    EXPECT_TRUE(desktop::waitUntil([&] { return pressesOf("0x58") == longBarcode.size(); }, 60000));
    // Keystrokes meanwhile are dropped, each said ("L" is virtual key 76).
    int code = -1;
    desktop::console(root_, {"scan", "LOST"}, &code);
    EXPECT_TRUE(desktop::waitUntil(
        [&] { return desktop::desktopLog(root_).find("dropped the press of virtual key 76") != std::string::npos; }));
    EXPECT_TRUE(desktop::waitUntil([&] { return pressesOf("0x54") == 1; }));  // the last letter, "T"

    ASSERT_TRUE(server_.start(number));
    ASSERT_EQ(server_.name(), name);
    display_ = XOpenDisplay(name.c_str());
    ASSERT_NE(display_, nullptr);
    EXPECT_EQ(keysDownAt(display_), 0);
    ASSERT_TRUE(recorder_.start(name));
    // The scan key's connection finds the display back and grabs the key again.
    size_t grabs = 0;
    ASSERT_TRUE(desktop::waitUntil([&] {
        std::string log = desktop::desktopLog(root_);
        grabs = 0;
        for (size_t at = 0; (at = log.find("grabbed", at)) != std::string::npos; ++at) ++grabs;
        return grabs >= 2;
    }));
    desktop::console(root_, {"scan", "BACK"}, &code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(recorder_.waitBytes(5));
    EXPECT_EQ(recorder_.text(), "BACK\r");
    EXPECT_EQ(keysDownAt(display_), 0);
    EXPECT_NE(desktop::console(root_, {"status"}).find("running=1"), std::string::npos);
}

}  // namespace

namespace {

// A pseudo-terminal acting as a serial barcode scanner: the wedge's engine
// reads its slave, the test writes lines to its master.
class SerialScanner {
public:
    bool open() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
        const char* name = ptsname(master_);
        if (!name) return false;
        path_ = name;
        return true;
    }
    ~SerialScanner() {
        if (master_ >= 0) close(master_);
    }
    void send(const std::string& line) { ASSERT_EQ(write(master_, line.data(), line.size()), (ssize_t)line.size()); }
    // Sends `line` again and again until the recorder has `bytes` bytes.
    bool sendUntil(const std::string& line, desktop::Recorder& recorder, size_t bytes) {
        for (int i = 0; i < 200; ++i) {
            send(line);
            if (recorder.waitBytes(bytes, 100)) return true;
        }
        return false;
    }
    const std::string& path() const { return path_; }

private:
    int master_ = -1;
    std::string path_;
};

TEST_F(DesktopWedge, SerialScannerLinesAreReadWhileTheXScanKeyIsHeld) {
    SerialScanner scanner;
    ASSERT_TRUE(scanner.open());
    int code = -1;
    desktop::console(root_, {"config", "scanner", scanner.path()}, &code);
    ASSERT_EQ(code, 0);
    desktop::console(root_, {"config", "scanner.end", "cr"}, &code);
    writeSettings(std::string(kSettings) + "ScanDelayMode = 2\r\nScanDelaySetting = 5\r\n");
    ASSERT_TRUE(recorder_.start(server_.name()));
    startWedge();
    ASSERT_TRUE(desktop::waitUntil([&] { return desktop::console(root_, {"engine"}).find("connected=1") != std::string::npos; }))
        << desktop::console(root_, {"status"});
    // Sent with the key up: heard by the engine, dropped, never typed.
    scanner.send("STALE\r");
    ASSERT_TRUE(desktop::waitUntil([&] { return wedgeLog().find("came while nothing read") != std::string::npos; }));
    pressAtServer(XK_F12, true);
    // The AIM identifier "]E0" (EAN-13) is no part of the barcode. Sent again
    // until read, as a person scans again: the engine reads from the moment
    // the wedge's pass starts.
    EXPECT_TRUE(scanner.sendUntil("]E04006381333931\r", recorder_, 14));
    pressAtServer(XK_F12, false);
    EXPECT_EQ(recorder_.text(), "4006381333931\r");
}

TEST_F(DesktopWedge, SerialScannerInPresentationModeAndARuleOfTheAimSymbology) {
    SerialScanner scanner;
    ASSERT_TRUE(scanner.open());
    int code = -1;
    desktop::console(root_, {"config", "scanner", scanner.path()}, &code);
    ASSERT_EQ(code, 0);
    // Code 128 barcodes get "C:" before them.
    // Duplicates suppressed: a line sent again is read once.
    writeSettings("[Settings]\r\nEnableScanner = 1\r\nPresentationMode = 1\r\nSuffix = 13\r\n"
                  "ScanDelayMode = 2\r\nScanDelaySetting = 5\r\nEnableADVSuffixPrefix = 1\r\n"
                  "[Barcode1]\r\nBarcodeSym = 4\r\nprefix = 67,58\r\nsuffix = 13\r\n");
    ASSERT_TRUE(recorder_.start(server_.name()));
    startWedge();
    ASSERT_TRUE(desktop::waitUntil([&] { return desktop::console(root_, {"engine"}).find("connected=1") != std::string::npos; }));
    // An identified Code 128 gets its rule; a line without an identifier none.
    EXPECT_TRUE(scanner.sendUntil("]C1ORDER7\r\n", recorder_, 9));
    EXPECT_TRUE(scanner.sendUntil("PLAIN5\n", recorder_, 16));
    EXPECT_EQ(recorder_.text(), "C:ORDER7\rPLAIN5\r");
}

}  // namespace
