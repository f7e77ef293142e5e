#include "tests/support/output_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "platform/host/internal.h"
#include "platform/host/terminal.h"
#include "scan/engine.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "tests/support/wedge_process.h"

namespace outputtest {

void OutputTerminal::SetUp() {
    wedge::RootOptions options;
    options.writeSettings = false;
    options.clockSpeed = 50;
    root = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root.empty());
    terminal::reset();
    resetSettings();
    cardReaderSettings = CardReaderSettings{};
    useModel(0);
    terminal::setFocusClass(u"Edit");
    terminal::clearKeyEvents();
}

void OutputTerminal::TearDown() {
    closeSerialPort();
    if (peer >= 0) close(peer);
    peer = -1;
    wedge::removeTerminalRoot(root);
}

void OutputTerminal::useModel(int deviceModel) {
    fillCharacterToKeyTable(deviceModel);
    terminal::setModel(deviceModel);
    terminal::setConfig("keypad", std::to_string(keypadFamily(deviceModel)));
}

bool OutputTerminal::attachSerialPeer(int comIndex, bool open) {
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
    bool ok = !open || connectEngine(0) != 0;
    close(slave);
    return ok;
}

std::string OutputTerminal::peerBytes(size_t expected, int realMilliseconds) {
    std::string bytes;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    for (;;) {
        bool enough = bytes.size() >= expected;
        if (!enough && std::chrono::steady_clock::now() >= end) break;
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, enough ? 30 : 20) <= 0) {
            if (enough) break;
            continue;
        }
        char chunk[1024];
        ssize_t n = read(peer, chunk, sizeof chunk);
        if (n > 0)
            bytes.append(chunk, static_cast<size_t>(n));
        else if (enough)
            break;
    }
    return bytes;
}

void OutputTerminal::closePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
}

std::string typed() {
    return hostinternal::toUtf8(terminal::focusText());
}

std::string keyLog() {
    std::string out;
    for (const terminal::KeyEvent& e : terminal::keyEvents()) {
        std::string token;
        if (e.how == "user") continue;
        if (e.how == "key") {
            token = (e.down ? "+" : "-") + std::to_string(e.virtualKey);
            if (e.down && !e.silent) token += "!";
        } else if (e.how == "unicode") {
            token = "u" + std::to_string(static_cast<unsigned>(e.character));
        } else if (e.character != 0) {
            token = "pc" + std::to_string(static_cast<unsigned>(e.character));
        } else {
            token = (e.down ? "pd" : "pu") + std::to_string(e.virtualKey);
        }
        if (!out.empty()) out += ' ';
        out += token;
    }
    return out;
}

std::vector<std::string> traceLines() {
    std::vector<std::string> lines = wedge::traceLines(terminal::root());
    for (std::string& line : lines)
        while (!line.empty() && line.back() == '\r') line.pop_back();
    return lines;
}

std::vector<std::string> traceOf(const std::vector<std::string>& wanted) {
    std::vector<std::string> out;
    for (const std::string& line : traceLines())
        for (const std::string& w : wanted)
            if (line == w) out.push_back(line);
    return out;
}

std::vector<unsigned short> codes(const std::vector<int>& list) {
    std::vector<unsigned short> out;
    for (int c : list) out.push_back(static_cast<unsigned short>(c));
    out.push_back(0);
    return out;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace outputtest
