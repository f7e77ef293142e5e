// Bounded text helpers shared by every subsystem. They stand in for the
// runtime's wide and narrow formatting so that every copy is bounded by its
// destination: a result that does not fit is cut, and always terminated.
//
// Narrow and wide text convert byte for byte through the platform's system
// code page ("%hs" and "%S"; Windows-1252 on the device's Western builds and
// on the host terminal): a byte widens to its character, and a character the
// code page lacks narrows to "?" (or the platform's best fit).
#pragma once

#include <cstdarg>
#include <cstddef>

#if defined(_WIN32)
#include "win32/ce_api.h"
#else
#include "host/host_api.h"
#endif

// Length of a wide text, not looking further than maxCount characters.
size_t textLength(const WCHAR* text, size_t maxCount);
// Length of a narrow text, not looking further than maxCount bytes.
size_t textLengthA(const char* text, size_t maxCount);

// Copies at most capacity-1 characters and terminates. Returns the length copied.
size_t textCopy(WCHAR* dest, size_t capacity, const WCHAR* source);
size_t textCopyA(char* dest, size_t capacity, const char* source);

// One byte of the system code page as a character.
WCHAR textWidenByte(unsigned char byte);
// Widens at most sourceLength bytes of source (stopping at a zero byte) into
// dest ("%hs"). Returns the number of characters written.
size_t textWiden(WCHAR* dest, size_t capacity, const char* source, size_t sourceLength);
// Narrows a wide text into dest ("%S"). Returns the number of bytes written.
size_t textNarrow(char* dest, size_t capacity, const WCHAR* source);

// Whole-text comparison without regard to letter case, folded as the platform
// folds it (narrow texts through the system code page); true when equal.
bool textEqualsNoCase(const WCHAR* a, const WCHAR* b);
bool textEqualsNoCaseA(const char* a, const char* b);
// True when the wide text equals the narrow ASCII literal, ignoring case.
bool textEqualsNoCaseAW(const WCHAR* a, const char* b);
// A character code in the upper case the comparisons above fold it to.
unsigned textUpperCase(unsigned code);

// Bounded formatting with the platform's wide-format conventions:
//   %d %i %u %x %X (with optional width, "0" and "-" flags and "l"), %c (a character
//   code), %s (wide text), %hs and %S (narrow text), %% ; a width pads %c and %s too.
// The result is always terminated; output that does not fit is cut.
// Returns the number of characters written.
size_t textFormat(WCHAR* dest, size_t capacity, const WCHAR* format, ...);
size_t textFormatV(WCHAR* dest, size_t capacity, const WCHAR* format, va_list args);
// Narrow formatting with the narrow conventions: %s (narrow), %S and %ls (wide).
size_t textFormatA(char* dest, size_t capacity, const char* format, ...);
size_t textFormatVA(char* dest, size_t capacity, const char* format, va_list args);

// Decimal conversion as the runtime's _wtoi/atoi: leading blanks and tabs
// skipped, optional sign, digits up to the first other character; no digits
// gives 0. Values beyond 32 bits saturate.
int textToInt(const WCHAR* text);
int textToIntA(const char* text);
