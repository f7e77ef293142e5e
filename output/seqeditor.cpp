// The sequence editor: runs the card-reader output format over one chunk of
// card data, cutting it into pieces and delivering each piece.
//
// Pieces are built in buffers of kPieceChars characters; a piece of more
// than kPieceChars - 1 characters is cut to its first kPieceChars - 1, while
// the cursor still moves over every character the command names.
#include "output/seqeditor.h"

#include <mutex>

#include "output/delivery.h"
#include "shell/tracelog.h"

namespace {

// A chunk is at most a few hundred characters; no text is read past this.
constexpr size_t kMaxTextChars = 1u << 20;

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

void deliverPiece(const WCHAR* piece, size_t length) {
    deliverText(nullptr, piece, nullptr, 0, 0, static_cast<int>(length));
}

}  // namespace

int parseCount(const char* position) {
    if (!position) return -1;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(position);
    if (!isDigit(p[0])) return -1;
    int value = 0;
    for (int i = 0; i < 4 && isDigit(p[i]); ++i) value = value * 10 + (p[i] - '0');
    return value;
}

void runOutputFormat(const WCHAR* text, const char* commands) {
    static const WCHAR kEmpty[1] = {0};
    if (!text) text = kEmpty;
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());

    if (!commands || commands[0] == 0) {
        traceAppend(TEXT("Output not formatted"));
        deliverKeysOnly(text);
        return;
    }
    traceAppend(TEXT("Output formatted"));

    const size_t end = textLength(text, kMaxTextChars);
    size_t cursor = 0;
    const unsigned char* command = reinterpret_cast<const unsigned char*>(commands);
    WCHAR piece[kPieceChars];
    WCHAR delimiterPiece[kPieceChars];
    delimiterPiece[0] = 0;

    while (*command != 0) {
        piece[0] = 0;
        unsigned char c = *command;
        switch (c) {
            case 'C':
            case 'c': {
                ++command;
                if (isDigit(*command)) {
                    int code = parseCount(reinterpret_cast<const char*>(command));
                    piece[0] = static_cast<WCHAR>(code);
                    piece[1] = 0;
                    traceAppend(TEXT("Send Character"));
                    deliverPiece(piece, 1);
                }
                break;
            }
            case 'W':
            case 'w': {
                ++command;
                if (isDigit(*command)) {
                    traceAppend(TEXT("Wait"));
                    int milliseconds = parseCount(reinterpret_cast<const char*>(command));
                    Sleep(static_cast<DWORD>(milliseconds));
                }
                break;
            }
            case 'S':
            case 's': {
                ++command;
                traceAppend(TEXT("Send String"));
                if (isDigit(*command)) {
                    traceAppend(TEXT("Count"));
                    int count = parseCount(reinterpret_cast<const char*>(command));
                    size_t copied = 0;
                    size_t kept = 0;
                    while (copied < static_cast<size_t>(count) && cursor < end) {
                        if (kept + 1 < static_cast<size_t>(kPieceChars)) piece[kept++] = text[cursor];
                        ++cursor;
                        ++copied;
                    }
                    piece[kept] = 0;
                    if (cursor >= end) return;  // the piece reached the end of the text
                    traceAppend(piece);
                    deliverPiece(piece, kept);
                } else if (*command == 'D') {
                    traceAppend(TEXT("Delimiter"));
                    ++command;
                    int delimiter = parseCount(reinterpret_cast<const char*>(command));
                    size_t kept = 0;
                    while (cursor < end && static_cast<int>(text[cursor]) != delimiter) {
                        if (kept + 1 < static_cast<size_t>(kPieceChars)) delimiterPiece[kept++] = text[cursor];
                        ++cursor;
                    }
                    if (cursor >= end) return;  // no delimiter
                    ++cursor;
                    delimiterPiece[kept] = 0;
                    traceAppend(delimiterPiece);
                    deliverPiece(delimiterPiece, kept);
                }
                break;
            }
            case 'M':
            case 'm': {
                unsigned char second = command[1];
                if (second == 'B' || second == 'b') {
                    command += 2;
                    if (isDigit(*command)) {
                        traceAppend(TEXT("Backwards"));
                        int count = parseCount(reinterpret_cast<const char*>(command));
                        for (int i = 0; i < count; ++i) {
                            if (cursor == 0) {
                                traceAppend(TEXT("Error: Passed start of string"));
                                return;
                            }
                            --cursor;
                        }
                    }
                } else if (second == 'F' || second == 'f') {
                    command += 2;
                    if (isDigit(*command)) {
                        traceAppend(TEXT("Forward"));
                        int count = parseCount(reinterpret_cast<const char*>(command));
                        for (int i = 0; i < count && cursor < end; ++i) ++cursor;
                        if (cursor >= end) {
                            traceAppend(TEXT("NULL Character : Exit"));
                            return;
                        }
                    }
                } else if (second == 'S' || second == 's') {
                    command += 2;
                    cursor = 0;
                    traceAppend(TEXT("Back to start"));
                } else {
                    ++command;
                }
                break;
            }
            default: {
                if (!isDigit(c)) {
                    WCHAR line[32];
                    textFormat(line, 32, TEXT("Unknown Command %c"), static_cast<int>(c));
                    traceAppend(line);
                }
                ++command;
                break;
            }
        }
    }
    deliverText(nullptr, kEmpty, nullptr, 0, 0, 0);
}
