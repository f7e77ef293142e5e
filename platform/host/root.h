// The terminal root this process is attached to. Every facility's state
// lives under it; a process follows KEYVANE_TERMINAL to a fresh terminal.
#pragma once

#include <cstdint>
#include <string>

namespace host {

struct Attachment {
    std::string path;     // absolute host path of the root folder
    uint64_t generation;  // differs for every attachment of this process
};

// Attaches to the terminal at `root` (creating its folders when missing).
bool attach(const std::string& root);

// The current attachment (attaching to $KEYVANE_TERMINAL, or ./terminal, on
// first use). Never freed: a thread may still hold an earlier one.
const Attachment& current();

}  // namespace host
