// The first barcode of the Windows stand-in engine's view file: one barcode a
// line, its data or "<letter>|<data>" (default letter "a"), "\n" or "\r\n"
// ending the line. Plain bytes in, positions out, so that the file handling
// around it stays small.
#pragma once

#include <cstddef>
#include <cstdint>

struct ViewLine {
    size_t dataStart;   // where the barcode's data begins
    size_t dataLength;  // its bytes (0 for an empty line)
    size_t next;        // where the lines after it begin
    uint8_t letter;
};

// False when the content holds no line (empty, or one empty last line).
inline bool firstViewLine(const char* content, size_t total, ViewLine* line) {
    size_t end = 0;
    while (end < total && content[end] != '\n') ++end;
    size_t next = end < total ? end + 1 : end;
    size_t lineEnd = end;
    if (lineEnd > 0 && content[lineEnd - 1] == '\r') --lineEnd;
    if (lineEnd == 0 && next >= total) return false;
    line->dataStart = 0;
    line->dataLength = lineEnd;
    line->next = next;
    line->letter = 'a';
    if (lineEnd >= 2 && content[1] == '|') {
        line->letter = static_cast<uint8_t>(content[0]);
        line->dataStart = 2;
        line->dataLength = lineEnd - 2;
    }
    return true;
}
