// A fresh host terminal per test for driving the scan trigger loop in this
// process: presses of the scan key, barcodes in view, and what the terminal
// showed (typed text, serial bytes, trace lines, lights, sounds).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/terminal.h"

namespace scanloop {

class ScanTerminal : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Holds the scan key, runs the loop on its own thread until `until`
    // holds (or a few seconds pass), releases the key and waits for the loop.
    // Returns whether `until` held.
    bool press(const std::function<bool()>& until);
    // A press that ends at the first sound played during it.
    bool pressUntilSound();
    // Starts the loop with the key held; the caller releases it and joins.
    void startHeldPress();
    void releaseAndJoin();

    std::string root;
    std::thread loop;
};

// A barcode for terminal::putInView.
terminal::Barcode barcode(const std::string& data, char letter = 'a', int row = 240);

// What the user sees.
std::string typed();                    // the focused field's text (UTF-8)
std::vector<std::string> soundNames();  // "resource:129", "file:..."
std::vector<std::string> traceLines();  // the trace log, in order
// The trace lines that are one of `wanted`, in order (others left out).
std::vector<std::string> traceOf(const std::vector<std::string>& wanted);
int countOf(const std::vector<std::string>& lines, const std::string& line);

// Fills a rule of the rule table.
void setRule(int group, int rule, char letter, const std::u16string& startText = u"", int length = 0,
             const std::vector<int>& prefix = {}, const std::vector<int>& suffix = {});
void setCodes(unsigned short* list, int slots, const std::vector<int>& codes);

}  // namespace scanloop
