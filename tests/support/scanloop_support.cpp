#include "tests/support/scanloop_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "output/scandata.h"
#include "platform/host/internal.h"
#include "scan/decoder.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "scan/scanloop.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "shell/app.h"
#include "tests/support/wedge_process.h"

namespace scanloop {

void ScanTerminal::SetUp() {
    wedge::RootOptions options;
    options.writeSettings = false;
    options.clockSpeed = 20;
    root = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root.empty());
    terminal::reset();
    resetSettings();
    clearRuleTable();
    resetScanLoopState();
    resetLedCache();
    // A model of its own LED numbering (not the fallback model).
    deviceModel.store(kFallbackDeviceModel + 1);
    fillCharacterToKeyTable(deviceModel.load());
    terminal::setConfig("keypad", std::to_string(keypadFamily(deviceModel.load())));
    terminal::setFocusClass(u"Edit");
    ASSERT_TRUE(loadDecoderLibrary());
    ASSERT_EQ(0, decoderConnect());
}

void ScanTerminal::TearDown() {
    terminal::releaseKey(42);
    if (loop.joinable()) loop.join();
    settings.PresentationMode.store(0);
    closeSerialPort();
    if (peer >= 0) close(peer);
    peer = -1;
    terminal::clearView();
    wedge::removeTerminalRoot(root);
}

void ScanTerminal::startHeldPress() {
    terminal::pressKey(42);
    loop = std::thread([] { scanTriggerLoop(nullptr); });
}

void ScanTerminal::releaseAndJoin() {
    terminal::releaseKey(42);
    if (loop.joinable()) loop.join();
}

bool ScanTerminal::press(const std::function<bool()>& until) {
    startHeldPress();
    bool held = wedge::waitFor(until, 5000);
    releaseAndJoin();
    return held;
}

bool ScanTerminal::pressUntilSound() {
    size_t before = terminal::sounds().size();
    return press([before] { return terminal::sounds().size() > before; });
}

bool ScanTerminal::openSerialPeer(int comIndex) {
    int slave = -1;
    char name[256] = {};
    if (openpty(&peer, &slave, name, nullptr, nullptr) != 0) return false;
    termios raw{};
    tcgetattr(peer, &raw);
    cfmakeraw(&raw);
    tcsetattr(peer, TCSANOW, &raw);
    terminal::setPortPath(comIndex, name);
    settings.ComportNumber = comIndex;
    settings.SendData.store(1);
    bool opened = connectEngine(0) != 0;
    close(slave);
    return opened;
}

std::string ScanTerminal::serialBytes(size_t expected, int realMilliseconds) {
    std::string bytes;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    while (bytes.size() < expected && std::chrono::steady_clock::now() < end) {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char chunk[512];
        ssize_t n = read(peer, chunk, sizeof chunk);
        if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

terminal::Barcode barcode(const std::string& data, char letter, int row) {
    terminal::Barcode b;
    b.data = data;
    b.symbologyLetter = letter;
    b.row = row;
    return b;
}

std::string typed() {
    return hostinternal::toUtf8(terminal::focusText());
}

std::vector<std::string> soundNames() {
    std::vector<std::string> names;
    for (const terminal::SoundRecord& s : terminal::sounds()) names.push_back(s.sound);
    return names;
}

std::vector<std::string> traceLines() {
    return wedge::traceLines(terminal::root());
}

std::vector<std::string> traceOf(const std::vector<std::string>& wanted) {
    std::vector<std::string> out;
    for (const std::string& line : traceLines())
        for (const std::string& w : wanted)
            if (line == w) out.push_back(line);
    return out;
}

int countOf(const std::vector<std::string>& lines, const std::string& line) {
    int n = 0;
    for (const std::string& l : lines) n += l == line ? 1 : 0;
    return n;
}

void setCodes(unsigned short* list, int slots, const std::vector<int>& codes) {
    int i = 0;
    for (; i < slots - 1 && i < static_cast<int>(codes.size()); ++i) list[i] = static_cast<unsigned short>(codes[i]);
    for (; i < slots; ++i) list[i] = 0;
}

void setRule(int group, int rule, char letter, const std::u16string& startText, int length,
             const std::vector<int>& prefix, const std::vector<int>& suffix) {
    BarcodeRule& r = ruleTable[group][rule];
    r = BarcodeRule{};
    r.symbologyLetter = static_cast<unsigned char>(letter);
    r.length = length;
    for (size_t i = 0; i < startText.size() && i + 1 < kStartTextChars; ++i) r.startText[i] = startText[i];
    setCodes(r.prefix, kRuleCodeListSlots, prefix);
    setCodes(r.suffix, kRuleCodeListSlots, suffix);
}

}  // namespace scanloop
