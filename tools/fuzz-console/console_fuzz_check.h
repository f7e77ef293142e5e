// What must hold for the console's text readers: escaping any bytes and
// reading the escapes back gives the bytes; words split from a line, written
// back quoted, split into the same words; a peer's byte stream splits into
// frames that together are the stream, in order; scenario text gives steps or
// says which lines are wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "tools/terminal/console.h"

namespace consolefuzz {

inline std::string quoted(const std::string& word) {
    std::string out = "\"";
    for (char c : console::escape(word, false)) {
        if (c == '"')
            out += "\\x22";
        else
            out += c;
    }
    return out + "\"";
}

// 0 when the invariants hold, else a number naming the broken one. The first
// byte chooses the reader, the rest is its text.
inline int check(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string back, error;
    switch (data[0] % 5) {
        case 0: {
            if (!console::unescape(console::escape(text, false), back, error) || back != text) return 1;
            if (!console::unescape(console::escape(text, true), back, error) || back != text) return 2;
            std::string once;
            if (!console::unescape(text, once, error)) return error.empty() ? 3 : 0;
            if (!console::unescape(console::escape(once, false), back, error) || back != once) return 4;
            return 0;
        }
        case 1: {
            console::Args words, again;
            if (!console::splitWords(text, words, error)) return error.empty() ? 5 : 0;
            std::string line;
            for (const std::string& w : words) line += (line.empty() ? "" : " ") + quoted(w);
            if (!console::splitWords(line, again, error)) return 6;
            return again == words ? 0 : 7;
        }
        case 2:
        case 3: {
            static const char* const kNames[] = {"auto", "tagged", "xr1", "header", "raw"};
            std::string name = kNames[(data[0] / 5) % 5];
            std::string joined;
            for (const console::Frame& f : console::decodeStream(text, name)) {
                if (f.bytes.empty()) return 8;
                joined += f.bytes;
            }
            return joined == text ? 0 : 9;
        }
        default: {
            std::istringstream in(text);
            std::ostringstream err;
            int steps = console::parseScenario(in, "fuzz.scenario", err);
            size_t lines = 0;
            for (char c : text) lines += c == '\n';
            if (steps < -1 || (steps >= 0 && static_cast<size_t>(steps) > lines + 1)) return 10;
            if ((steps == -1) != !err.str().empty()) return 11;
            return 0;
        }
    }
}

}  // namespace consolefuzz
