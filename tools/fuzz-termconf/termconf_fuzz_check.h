// What must hold for the terminal configuration reader: every line it keeps
// has a trimmed key without "=" and a trimmed value, both without line ends,
// and the lines written back as "key = value" read back the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "platform/host/internal.h"

namespace termconffuzz {

inline bool trimmed(const std::string& s) {
    if (s.empty()) return true;
    const std::string blanks = " \t\r\n";
    return blanks.find(s.front()) == std::string::npos && blanks.find(s.back()) == std::string::npos;
}

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    auto lines = host::parseConfigLines(in);
    std::string written;
    for (const auto& [key, value] : lines) {
        if (!trimmed(key) || !trimmed(value)) return 1;
        if (key.find('=') != std::string::npos) return 2;
        if (key.find('\n') != std::string::npos || value.find('\n') != std::string::npos) return 3;
        if (key.empty() ? false : key[0] == '#') return 4;
        written += key + " = " + value + "\n";
    }
    std::istringstream again(written);
    auto back = host::parseConfigLines(again);
    // A line with an empty key and empty value reads back; one whose key
    // begins with "#" cannot exist (checked above).
    return back == lines ? 0 : 5;
}

}  // namespace termconffuzz
