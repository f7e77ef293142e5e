// A fresh host terminal per test for the data output: keystroke delivery,
// serial framing, the sequence editor and the card reader, driven in this
// process, and what the terminal showed (typed text, key events, serial
// bytes, trace lines).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace outputtest {

class OutputTerminal : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Selects the device model: fills the character-to-key table for it and
    // tells the terminal's keypad the same family.
    void useModel(int deviceModel);
    // Opens a pseudo-terminal as "COM<index>:" for the serial output (SendData
    // on, port opened by the connect operation when `open`).
    bool attachSerialPeer(int comIndex = 3, bool open = true);
    // Bytes that arrived at the peer: waits until `expected` bytes are there
    // (or the time passes), then takes whatever else is already there.
    std::string peerBytes(size_t expected, int realMilliseconds = 3000);
    // Closes the far end of the serial port (a peer that goes away).
    void closePeer();

    std::string root;
    int peer = -1;
};

// The typed text (UTF-8).
std::string typed();
// Key events since the last clearKeyEvents(), user presses left out, as
// tokens: "+65"/"-65" key press/release ("!" after a press without the silent
// flag), "u<code>" a Unicode character, "pd<vk>"/"pu<vk>"/"pc<code>" posted
// WM_KEYDOWN/WM_KEYUP/WM_CHAR.
std::string keyLog();
// The trace log's lines, in order; and the lines among `wanted`, in order.
std::vector<std::string> traceLines();
std::vector<std::string> traceOf(const std::vector<std::string>& wanted);
// A code list as deliverText takes it (terminated).
std::vector<unsigned short> codes(const std::vector<int>& list);
// Bytes written out as hexadecimal pairs, for readable failures.
std::string hex(const std::string& bytes);

}  // namespace outputtest
