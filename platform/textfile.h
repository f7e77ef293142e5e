// Text-mode file access over the platform's file calls, as the runtime's
// "r" and "a" modes give it: on reading, "\r\n" becomes "\n"; on appending,
// every "\n" is written as "\r\n".
//
// Wide reading accepts these encodings: UTF-16LE or UTF-16BE with a byte-order
// mark (as the platform's editors write), UTF-8 with or without a byte-order
// mark, and 8-bit text of the system code page for a file that is not valid UTF-8.
// Invalid sequences never stop the reading: they become U+FFFD.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#include "win32/ce_api.h"
#else
#include "host/host_api.h"
#endif

struct TextFile;

// Opens a file for reading ("r"); null when it cannot be opened.
TextFile* textFileOpen(const WCHAR* path);
// The same over bytes already in memory (a copy is kept); null when out of memory.
TextFile* textFileOpenBytes(const unsigned char* bytes, size_t length);

// The encoding in which wide reading decodes the file.
enum TextFileEncoding {
    TextEncodingUtf8 = 0,     // UTF-8 without a byte-order mark (plain ASCII included)
    TextEncodingUtf8Bom = 1,  // UTF-8 with a byte-order mark
    TextEncodingUtf16Le = 2,
    TextEncodingUtf16Be = 3,
    TextEncodingAnsi = 4,  // not valid UTF-8: read as Windows-1252
};
TextFileEncoding textFileEncoding(const TextFile* file);
// Reads like fgetws: at most capacity-1 characters, up to and including the
// next line feed. Returns false at the end of the file (nothing read). The
// count of characters read goes to `length` when given.
bool textFileReadLine(TextFile* file, WCHAR* buffer, size_t capacity, size_t* length = nullptr);
// Reads like fgets over the file's bytes (no decoding).
bool textFileReadLineA(TextFile* file, char* buffer, size_t capacity);
void textFileRewind(TextFile* file);
void textFileClose(TextFile* file);

// Opens (creating when missing) and appends in text mode, then closes, so the
// text is complete on disk when the call returns. False when the file cannot
// be opened (for example its folder does not exist).
bool textFileAppend(const WCHAR* path, const char* bytes, size_t length);
// True when a file can be opened for reading ("r").
bool textFileExists(const WCHAR* path);
