#include "tests/support/output_support.h"

#include <unistd.h>

#include "platform/host/terminal.h"
#include "scan/engine.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "tests/support/wedge_process.h"

namespace outputtest {

void OutputTerminal::SetUp() {
    root = wedge::freshTerminal(50);
    ASSERT_FALSE(root.empty());
    useModel(0);
    terminal::setFocusClass(u"Edit");
    terminal::clearKeyEvents();
}

void OutputTerminal::TearDown() {
    closeSerialPort();
    closePeer();
    wedge::removeTerminalRoot(root);
}

void OutputTerminal::useModel(int deviceModel) {
    fillCharacterToKeyTable(deviceModel);
    terminal::setModel(deviceModel);
    terminal::setConfig("keypad", std::to_string(keypadFamily(deviceModel)));
}

bool OutputTerminal::attachSerialPeer(int comIndex, bool open) {
    int slave = -1;
    peer = wedge::openPeer(comIndex, &slave);
    if (peer < 0) return false;
    settings.ComportNumber = comIndex;
    settings.SendData.store(1);
    bool ok = !open || connectEngine(0) != 0;
    close(slave);
    return ok;
}

std::string OutputTerminal::peerBytes(size_t expected, int realMilliseconds) {
    return wedge::readPeer(peer, expected, realMilliseconds, true);
}

void OutputTerminal::closePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
}

std::string typed() {
    return wedge::typed();
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
    return wedge::linesAmong(traceLines(), wanted);
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
