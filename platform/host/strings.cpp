// The host terminal's strings: the kernel string calls (lstr*), the code
// page conversions (Windows-1252 as the system code page) and the letter-case
// mapping (the C library's Unicode tables), and its own text conversions:
// UTF-16 and UTF-8 both ways, ASCII letters folded to lower case, and the
// numbers of its own files read.
#include <locale.h>
#include <wctype.h>

#include "platform/host/internal.h"

namespace host {

bool readUnsigned(const std::string& text, int base, uint64_t most, uint64_t& value) {
    if (text.empty() || base < 2 || base > 16) return false;
    uint64_t number = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : base;
        if (digit >= base) return false;
        if (number > (most - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
        number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    value = number;
    return true;
}

bool readSigned(const std::string& text, int64_t least, int64_t most, int64_t& value) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    uint64_t limit = negative ? static_cast<uint64_t>(-(least + 1)) + 1 : most < 0 ? 0 : static_cast<uint64_t>(most);
    if (negative && least >= 0) return false;
    if (!readUnsigned(negative ? text.substr(1) : text, 10, limit, magnitude)) return false;
    int64_t number =
        negative ? (magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1) : static_cast<int64_t>(magnitude);
    if (number < least || number > most) return false;
    value = number;
    return true;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::string toUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string toUtf8(const WCHAR* text) {
    if (text == nullptr) return "";
    return toUtf8(std::u16string(text));
}

std::u16string fromUtf8(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            extra = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + static_cast<size_t>(extra) < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace host

// ---------------------------------------------------------------- kernel string calls
int lstrlenW(LPCWSTR string) {
    if (string == nullptr) return 0;
    int n = 0;
    while (string[n] != 0 && n < 0x7FFFFFFF) ++n;
    return n;
}

LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR source, int maxLength) {
    if (dest == nullptr || maxLength <= 0) return dest;
    int n = 0;
    if (source != nullptr)
        for (; n + 1 < maxLength && source[n] != 0; ++n) dest[n] = source[n];
    dest[n] = 0;
    return dest;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr) a = u"";
    if (b == nullptr) b = u"";
    for (size_t i = 0;; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        if (a[i] == 0) return 0;
    }
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr) a = u"";
    if (b == nullptr) b = u"";
    auto fold = [](char16_t c) -> unsigned { return (c >= 'A' && c <= 'Z') ? c + 32u : c; };
    for (size_t i = 0;; ++i) {
        unsigned x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// ---------------------------------------------------------------- code page and letter case
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
