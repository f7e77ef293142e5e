#include "tests/support/scanengine_support.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "scan/decoder.h"
#include "scan/engine.h"
#include "shell/state.h"
#include "tests/support/files.h"
#include "tests/support/wedge_process.h"

namespace scanengine {

void EngineTerminal::SetUp() {
    root = wedge::freshTerminal(20);
    ASSERT_FALSE(root.empty());
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
    peer = wedge::openPeer(comIndex);
    return peer >= 0;
}

void EngineTerminal::closePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
}

std::string EngineTerminal::peerBytes(size_t expected, int realMilliseconds) {
    return wedge::readPeer(peer, expected, realMilliseconds);
}

std::string fixture(const std::string& name) {
    return rootFile(KEYVANE_SOURCE_DIR "/tests/fixtures/decode", name);
}

std::string rootFile(const std::string& root, const std::string& relativePath) {
    return testfiles::fileText(root + "/" + relativePath);
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
    return wedge::soundNames();
}

}  // namespace scanengine
