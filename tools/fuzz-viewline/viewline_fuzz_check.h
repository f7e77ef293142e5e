// What must hold for the Windows stand-in engine's view file reader: taking
// barcodes one line at a time stays inside the file, moves forward on every
// take, and hands out data without line ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/decoder/win32/viewline.h"

namespace viewlinefuzz {

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    const char* content = reinterpret_cast<const char*>(data);
    size_t at = 0;
    size_t takes = 0;
    ViewLine line;
    while (firstViewLine(content + at, size - at, &line)) {
        size_t left = size - at;
        if (line.next == 0 || line.next > left) return 1;
        if (line.dataStart > line.next || line.dataLength > line.next - line.dataStart) return 2;
        for (size_t i = 0; i < line.dataLength; ++i)
            if (content[at + line.dataStart + i] == '\n') return 3;
        if (line.dataStart == 2 && content[at + 1] != '|') return 4;
        if (line.dataStart == 0 && line.letter != 'a') return 5;
        at += line.next;
        if (++takes > size) return 6;
    }
    // What is left is nothing or one empty last line ("\n", "\r\n" or "\r").
    if (size - at > 2) return 7;
    for (size_t i = at; i < size; ++i)
        if (content[i] != '\r' && content[i] != '\n') return 8;
    return 0;
}

}  // namespace viewlinefuzz
