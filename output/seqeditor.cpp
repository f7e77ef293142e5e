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

namespace {

// Where one run of the format stands: the text, its end, the cursor in it
// and the next command letter.
struct FormatRun {
    const WCHAR* text;
    size_t end;
    size_t cursor;
    const unsigned char* command;
};

// What a command leaves the run to do: go on with the next, or stop without
// the closing delivery.
enum class Step { Next, Stop };

int countAt(const unsigned char* position) {
    return parseCount(reinterpret_cast<const char*>(position));
}

// Steps over a command of `letters` letters and reads the count after it;
// false when no digit follows (the command then does nothing).
bool countAfter(FormatRun& run, int letters, int& count) {
    run.command += letters;
    if (!isDigit(*run.command)) return false;
    count = countAt(run.command);
    return true;
}

// C<code>: sends the character of that code.
Step sendCharacter(FormatRun& run) {
    int code = 0;
    if (!countAfter(run, 1, code)) return Step::Next;
    WCHAR piece[2];
    piece[0] = static_cast<WCHAR>(code);
    piece[1] = 0;
    traceAppend(TEXT("Send Character"));
    deliverPiece(piece, 1);
    return Step::Next;
}

// W<ms>: waits.
Step waitMilliseconds(FormatRun& run) {
    int milliseconds = 0;
    if (!countAfter(run, 1, milliseconds)) return Step::Next;
    traceAppend(TEXT("Wait"));
    Sleep(static_cast<DWORD>(milliseconds));
    return Step::Next;
}

// S<count>: sends the next count characters; stops when they reach the end.
Step sendCount(FormatRun& run) {
    traceAppend(TEXT("Count"));
    auto count = static_cast<size_t>(countAt(run.command));
    WCHAR piece[kPieceChars];
    size_t copied = 0;
    size_t kept = 0;
    while (copied < count && run.cursor < run.end) {
        if (kept + 1 < static_cast<size_t>(kPieceChars)) piece[kept++] = run.text[run.cursor];
        ++run.cursor;
        ++copied;
    }
    piece[kept] = 0;
    if (run.cursor >= run.end) return Step::Stop;  // the piece reached the end of the text
    traceAppend(piece);
    deliverPiece(piece, kept);
    return Step::Next;
}

// SD<code>: sends up to the delimiter of that code and steps over it; stops
// when there is none.
Step sendToDelimiter(FormatRun& run) {
    traceAppend(TEXT("Delimiter"));
    ++run.command;
    int delimiter = countAt(run.command);
    WCHAR piece[kPieceChars];
    size_t kept = 0;
    while (run.cursor < run.end && static_cast<int>(run.text[run.cursor]) != delimiter) {
        if (kept + 1 < static_cast<size_t>(kPieceChars)) piece[kept++] = run.text[run.cursor];
        ++run.cursor;
    }
    if (run.cursor >= run.end) return Step::Stop;  // no delimiter
    ++run.cursor;
    piece[kept] = 0;
    traceAppend(piece);
    deliverPiece(piece, kept);
    return Step::Next;
}

// S: a count or a delimiter follows.
Step sendString(FormatRun& run) {
    ++run.command;
    traceAppend(TEXT("Send String"));
    if (isDigit(*run.command)) return sendCount(run);
    if (*run.command == 'D') return sendToDelimiter(run);
    return Step::Next;
}

// MB<count>: moves the cursor back; stops before the start of the text.
Step moveBackwards(FormatRun& run) {
    int count = 0;
    if (!countAfter(run, 2, count)) return Step::Next;
    traceAppend(TEXT("Backwards"));
    for (int i = 0; i < count; ++i) {
        if (run.cursor == 0) {
            traceAppend(TEXT("Error: Passed start of string"));
            return Step::Stop;
        }
        --run.cursor;
    }
    return Step::Next;
}

// MF<count>: moves the cursor forward; stops at the end of the text.
Step moveForward(FormatRun& run) {
    int count = 0;
    if (!countAfter(run, 2, count)) return Step::Next;
    traceAppend(TEXT("Forward"));
    for (int i = 0; i < count && run.cursor < run.end; ++i) ++run.cursor;
    if (run.cursor >= run.end) {
        traceAppend(TEXT("NULL Character : Exit"));
        return Step::Stop;
    }
    return Step::Next;
}

// MS: back to the start of the text.
Step moveToStart(FormatRun& run) {
    run.command += 2;
    run.cursor = 0;
    traceAppend(TEXT("Back to start"));
    return Step::Next;
}

// M: B, F or S follows.
Step moveCursor(FormatRun& run) {
    unsigned char second = run.command[1];
    if (second == 'B' || second == 'b') return moveBackwards(run);
    if (second == 'F' || second == 'f') return moveForward(run);
    if (second == 'S' || second == 's') return moveToStart(run);
    ++run.command;
    return Step::Next;
}

// Digits between commands are stepped over; anything else is traced.
Step unknownCommand(FormatRun& run) {
    unsigned char c = *run.command;
    if (!isDigit(c)) {
        WCHAR line[32];
        textFormat(line, 32, TEXT("Unknown Command %c"), static_cast<int>(c));
        traceAppend(line);
    }
    ++run.command;
    return Step::Next;
}

// The commands by their letter, in either case.
struct FormatCommand {
    unsigned char letter;
    Step (*run)(FormatRun& run);
};

const FormatCommand kFormatCommands[] = {
    {'C', sendCharacter}, {'W', waitMilliseconds}, {'S', sendString}, {'M', moveCursor}};

Step runCommand(FormatRun& run) {
    unsigned char c = *run.command;
    for (const FormatCommand& f : kFormatCommands)
        if (c == f.letter || c == f.letter + ('a' - 'A')) return f.run(run);
    return unknownCommand(run);
}

}  // namespace

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

    FormatRun run{text, textLength(text, kMaxTextChars), 0, reinterpret_cast<const unsigned char*>(commands)};
    while (*run.command != 0)
        if (runCommand(run) == Step::Stop) return;
    deliverText(nullptr, kEmpty, nullptr, 0, 0, 0);
}
