#include "tests/support/scanengine_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "scan/engine.h"
#include "settings/settings.h"
#include "shell/app.h"
#include "tests/support/wedge_process.h"

namespace scanengine {

void EngineTerminal::SetUp() {
    wedge::RootOptions options;
    options.writeSettings = false;
    options.clockSpeed = 20;
    root = wedge::makeTerminalRoot(options);
    ASSERT_FALSE(root.empty());
    terminal::reset();
    resetSettings();
    closeSerialPort();
    engineConnected.store(0);
    enableEvent = CreateEventW(nullptr, TRUE, FALSE, TEXT("KVN_Enable"));
    enableStateEvent = CreateEventW(nullptr, TRUE, FALSE, TEXT("KVN_Enable_State"));
    ASSERT_TRUE(loadDecoderLibrary());
}

void EngineTerminal::TearDown() {
    closeSerialPort();
    engineConnected.store(0);
    closePeer();
    // Listener threads end once they see the port closed.
    Sleep(100);
    CloseHandle(enableEvent);
    CloseHandle(enableStateEvent);
    enableEvent = nullptr;
    enableStateEvent = nullptr;
    wedge::removeTerminalRoot(root);
}

void EngineTerminal::writeDeviceFile(const std::string& relativePath, const std::string& bytes) {
    std::filesystem::path path = std::filesystem::path(root) / relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

bool EngineTerminal::attachPeer(int comIndex) {
    int slave = -1;
    char name[256] = {};
    if (openpty(&peer, &slave, name, nullptr, nullptr) != 0) return false;
    termios raw{};
    tcgetattr(peer, &raw);
    cfmakeraw(&raw);
    tcsetattr(peer, TCSANOW, &raw);
    close(slave);
    terminal::setPortPath(comIndex, name);
    return true;
}

void EngineTerminal::closePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
}

std::string EngineTerminal::peerBytes(size_t expected, int realMilliseconds) {
    std::string bytes;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    while (bytes.size() < expected && std::chrono::steady_clock::now() < end) {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char chunk[4096];
        ssize_t n = read(peer, chunk, sizeof chunk);
        if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

std::string fixture(const std::string& name) {
    std::ifstream in(std::string(KEYVANE_SOURCE_DIR) + "/tests/fixtures/decode/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string rootFile(const std::string& root, const std::string& relativePath) {
    std::ifstream in(root + "/" + relativePath, std::ios::binary);
    if (!in) return "";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> traceStartingWith(const std::string& root, const std::string& start) {
    std::vector<std::string> out;
    for (std::string line : wedge::traceLines(root)) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(start, 0) == 0) out.push_back(line);
    }
    return out;
}

std::vector<std::string> soundNames() {
    std::vector<std::string> names;
    for (const terminal::SoundRecord& s : terminal::sounds()) names.push_back(s.sound);
    return names;
}

}  // namespace scanengine
