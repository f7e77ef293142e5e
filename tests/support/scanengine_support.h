// A fresh host terminal per test for the scan engine connection, the decoder
// library binding, the decode-settings file and the host serial ports, with
// the stand-in scan engine loaded into this process.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scanengine {

class EngineTerminal : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a device file (path relative to the root, e.g. "Zentrova/DecodeSettings.Vqf").
    void writeDeviceFile(const std::string& relativePath, const std::string& bytes);
    // Opens a pseudo-terminal whose slave is configured as "COM<index>:"; the
    // master is `peer` (raw). Returns false when no pseudo-terminal is available.
    bool attachPeer(int comIndex);
    void closePeer();
    // Reads what arrived at the peer until `expected` bytes are there or the time passes.
    std::string peerBytes(size_t expected, int realMilliseconds = 3000);

    std::string root;
    int peer = -1;
};

// A decode-settings fixture from tests/fixtures/decode.
std::string fixture(const std::string& name);
// The content of a file of the terminal root ("" when missing).
std::string rootFile(const std::string& root, const std::string& relativePath);
// Trace lines that begin with `start`, in order, without their line ends.
std::vector<std::string> traceStartingWith(const std::string& root, const std::string& start);
std::vector<std::string> soundNames();

}  // namespace scanengine
