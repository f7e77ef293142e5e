// The host terminal's code page conversions (Windows-1252 as the system code
// page) and its letter-case mapping (the C library's Unicode tables).
#include <locale.h>
#include <wctype.h>

#include "platform/host/host_api.h"

namespace {

// Windows-1252 for the bytes 0x80..0x9F; the undefined ones keep their code.
constexpr WCHAR kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                             0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                             0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

WCHAR widen(unsigned char byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kHigh[byte - 0x80] : static_cast<WCHAR>(byte);
}

// The byte for a character; false when the code page lacks it.
bool narrow(WCHAR character, unsigned char* byte) {
    unsigned code = static_cast<unsigned>(character);
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
        *byte = static_cast<unsigned char>(code);
        return true;
    }
    for (unsigned i = 0; i < 32; ++i) {
        if (kHigh[i] == character) {
            *byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

template <typename Char>
int sourceLength(const Char* source, int length) {
    if (length >= 0) return length;
    int n = 0;
    while (source[n] != 0) ++n;
    return n + 1;
}

locale_t unicodeLocale() {
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l != static_cast<locale_t>(nullptr) ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

}  // namespace

int MultiByteToWideChar(UINT, DWORD, LPCSTR source, int sourceBytes, LPWSTR dest, int destChars) {
    if (source == nullptr || sourceBytes == 0 || destChars < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int n = sourceLength(source, sourceBytes);
    if (destChars == 0) return n;
    if (dest == nullptr || destChars < n) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < n; ++i) dest[i] = widen(static_cast<unsigned char>(source[i]));
    return n;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR source, int sourceChars, LPSTR dest, int destBytes, LPCSTR defaultChar,
                        BOOL* usedDefault) {
    if (usedDefault != nullptr) *usedDefault = FALSE;
    if (source == nullptr || sourceChars == 0 || destBytes < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int n = sourceLength(source, sourceChars);
    if (destBytes == 0) return n;
    if (dest == nullptr || destBytes < n) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < n; ++i) {
        unsigned char byte = 0;
        if (!narrow(source[i], &byte)) {
            byte = static_cast<unsigned char>(defaultChar != nullptr ? *defaultChar : '?');
            if (usedDefault != nullptr) *usedDefault = TRUE;
        }
        dest[i] = static_cast<char>(byte);
    }
    return n;
}

DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
    if (text == nullptr) return 0;
    locale_t locale = unicodeLocale();
    for (DWORD i = 0; i < length; ++i) {
        unsigned code = static_cast<unsigned>(text[i]);
        if (code >= 0xD800 && code <= 0xDFFF) continue;  // halves of characters beyond the plane
        wint_t upper = towupper_l(static_cast<wint_t>(code), locale);
        if (upper <= 0xFFFF && !(upper >= 0xD800 && upper <= 0xDFFF)) text[i] = static_cast<WCHAR>(upper);
    }
    return length;
}
