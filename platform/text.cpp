#include "text.h"

#include <climits>
#include <cstdint>
#include <type_traits>

size_t textLength(const WCHAR* text, size_t maxCount) {
    if (text == nullptr) return 0;
    size_t n = 0;
    while (n < maxCount && text[n] != 0) ++n;
    return n;
}

size_t textLengthA(const char* text, size_t maxCount) {
    if (text == nullptr) return 0;
    size_t n = 0;
    while (n < maxCount && text[n] != 0) ++n;
    return n;
}

size_t textCopy(WCHAR* dest, size_t capacity, const WCHAR* source) {
    if (dest == nullptr || capacity == 0) return 0;
    size_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && source[n] != 0) {
            dest[n] = source[n];
            ++n;
        }
    }
    dest[n] = 0;
    return n;
}

size_t textCopyA(char* dest, size_t capacity, const char* source) {
    if (dest == nullptr || capacity == 0) return 0;
    size_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && source[n] != 0) {
            dest[n] = source[n];
            ++n;
        }
    }
    dest[n] = 0;
    return n;
}

WCHAR textWidenByte(unsigned char byte) {
    if (byte < 0x80) return static_cast<WCHAR>(byte);
    char in = static_cast<char>(byte);
    WCHAR out = 0;
    if (MultiByteToWideChar(CP_ACP, 0, &in, 1, &out, 1) != 1) return static_cast<WCHAR>(byte);
    return out;
}

size_t textWiden(WCHAR* dest, size_t capacity, const char* source, size_t sourceLength) {
    if (dest == nullptr || capacity == 0) return 0;
    size_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && n < sourceLength && source[n] != 0) {
            dest[n] = textWidenByte(static_cast<unsigned char>(source[n]));
            ++n;
        }
    }
    dest[n] = 0;
    return n;
}

static char narrowChar(unsigned code) {
    if (code < 0x80) return static_cast<char>(code);
    if (code > 0xFFFF) return '?';
    WCHAR in = static_cast<WCHAR>(code);
    char out = '?';
    if (WideCharToMultiByte(CP_ACP, 0, &in, 1, &out, 1, nullptr, nullptr) != 1) return '?';
    return out;
}

size_t textNarrow(char* dest, size_t capacity, const WCHAR* source) {
    if (dest == nullptr || capacity == 0) return 0;
    size_t n = 0;
    if (source != nullptr) {
        while (n + 1 < capacity && source[n] != 0) {
            unsigned code = static_cast<unsigned>(source[n]);
            dest[n] = code < 0x80 ? static_cast<char>(code) : narrowChar(code);
            ++n;
        }
    }
    dest[n] = 0;
    return n;
}

// The platform's upper case of a character (the whole Basic Multilingual Plane).
static inline unsigned foldCase(unsigned c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32u : c;
    WCHAR upper = static_cast<WCHAR>(c);
    CharUpperBuffW(&upper, 1);
    return static_cast<unsigned>(upper);
}

unsigned textUpperCase(unsigned code) {
    return foldCase(code);
}

bool textEqualsNoCase(const WCHAR* a, const WCHAR* b) {
    if (a == nullptr || b == nullptr) return a == b;
    size_t i = 0;
    for (;; ++i) {
        unsigned ca = foldCase(static_cast<unsigned>(a[i]));
        unsigned cb = foldCase(static_cast<unsigned>(b[i]));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

bool textEqualsNoCaseA(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return a == b;
    for (size_t i = 0;; ++i) {
        unsigned ca = foldCase(textWidenByte(static_cast<unsigned char>(a[i])));
        unsigned cb = foldCase(textWidenByte(static_cast<unsigned char>(b[i])));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

bool textEqualsNoCaseAW(const WCHAR* a, const char* b) {
    if (a == nullptr || b == nullptr) return (a == nullptr) == (b == nullptr);
    for (size_t i = 0;; ++i) {
        unsigned ca = foldCase(static_cast<unsigned>(a[i]));
        unsigned cb = foldCase(textWidenByte(static_cast<unsigned char>(b[i])));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

namespace {

// A bounded sink over either character width.
template <typename Char>
struct Sink {
    Char* dest;
    size_t capacity;
    size_t length;
    void put(unsigned code) {
        if (length + 1 < capacity) dest[length++] = static_cast<Char>(code);
    }
};

template <typename Char>
void putNumber(Sink<Char>& sink, unsigned long long value, bool negative, unsigned base, bool upper, int width,
               bool zeroPad, bool leftAlign) {
    char digits[32];
    int count = 0;
    do {
        unsigned d = static_cast<unsigned>(value % base);
        digits[count++] = static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
        value /= base;
    } while (value != 0 && count < 30);
    int total = count + (negative ? 1 : 0);
    if (leftAlign) zeroPad = false;
    if (!zeroPad && !leftAlign)
        for (int i = total; i < width; ++i) sink.put(' ');
    if (negative) sink.put('-');
    if (zeroPad)
        for (int i = total; i < width; ++i) sink.put('0');
    while (count > 0) sink.put(static_cast<unsigned char>(digits[--count]));
    if (leftAlign)
        for (int i = total; i < width; ++i) sink.put(' ');
}

// Puts `length` characters produced by `at` padded with blanks to `width`.
template <typename Char, typename At>
void putPadded(Sink<Char>& sink, size_t length, int width, bool leftAlign, At at) {
    size_t pad = static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    if (!leftAlign)
        for (size_t k = 0; k < pad; ++k) sink.put(' ');
    for (size_t k = 0; k < length; ++k) sink.put(at(k));
    if (leftAlign)
        for (size_t k = 0; k < pad; ++k) sink.put(' ');
}

// wideIsDefault: in the wide formatter %s is wide text and %S narrow; in the
// narrow formatter it is the other way round.
template <typename Char>
size_t formatCore(Char* dest, size_t capacity, const Char* format, va_list args, bool wideIsDefault) {
    if (dest == nullptr || capacity == 0) return 0;
    Sink<Char> sink{dest, capacity, 0};
    if (format == nullptr) {
        dest[0] = 0;
        return 0;
    }
    for (size_t i = 0; format[i] != 0; ++i) {
        unsigned c = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(format[i]));
        if (c != '%') {
            sink.put(c);
            continue;
        }
        ++i;
        bool zeroPad = false;
        bool leftAlign = false;
        int width = 0;
        while (format[i] == '0' || format[i] == '-') {
            if (format[i] == '0') zeroPad = true;
            if (format[i] == '-') leftAlign = true;
            ++i;
        }
        while (format[i] >= '0' && format[i] <= '9') {
            if (width < 1000) width = width * 10 + (format[i] - '0');
            ++i;
        }
        bool narrowArg = false;
        bool wideArg = false;
        bool longArg = false;
        for (;;) {
            if (format[i] == 'h') {
                narrowArg = true;
                ++i;
            } else if (format[i] == 'l') {
                if (longArg) wideArg = true;  // "ll"
                longArg = true;
                ++i;
            } else if (format[i] == 'w') {
                wideArg = true;
                ++i;
            } else {
                break;
            }
        }
        Char conv = format[i];
        if (conv == 0) break;
        switch (conv) {
            case '%':
                sink.put('%');
                break;
            case 'd':
            case 'i': {
                long long v =
                    (longArg && wideArg) ? va_arg(args, long long) : (longArg ? va_arg(args, long) : va_arg(args, int));
                unsigned long long mag =
                    v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
                putNumber(sink, mag, v < 0, 10, false, width, zeroPad, leftAlign);
                break;
            }
            case 'u':
            case 'x':
            case 'X': {
                unsigned long long v = (longArg && wideArg)
                                           ? va_arg(args, unsigned long long)
                                           : (longArg ? va_arg(args, unsigned long) : va_arg(args, unsigned));
                putNumber(sink, v, false, conv == 'u' ? 10 : 16, conv == 'X', width, zeroPad, leftAlign);
                break;
            }
            case 'c': {
                unsigned code = static_cast<unsigned>(va_arg(args, int)) & (sizeof(Char) == 1 ? 0xFFu : 0xFFFFu);
                putPadded(sink, 1, width, leftAlign, [code](size_t) { return code; });
                break;
            }
            case 's':
            case 'S': {
                bool wide;
                if (narrowArg)
                    wide = false;
                else if (longArg || wideArg)
                    wide = true;
                else
                    wide = (conv == 's') ? wideIsDefault : !wideIsDefault;
                if (wide) {
                    const WCHAR* s = va_arg(args, const WCHAR*);
                    if (s == nullptr) s = TEXT("(null)");
                    size_t length = textLength(s, capacity);  // nothing beyond capacity can be put
                    putPadded(sink, length, width, leftAlign, [s](size_t k) {
                        unsigned code = static_cast<unsigned>(s[k]);
                        if (sizeof(Char) == 1) code = static_cast<unsigned char>(narrowChar(code));
                        return code;
                    });
                } else {
                    const char* s = va_arg(args, const char*);
                    if (s == nullptr) s = "(null)";
                    size_t length = textLengthA(s, capacity);
                    putPadded(sink, length, width, leftAlign, [s](size_t k) {
                        auto byte = static_cast<unsigned char>(s[k]);
                        return sizeof(Char) == 1 ? byte : static_cast<unsigned>(textWidenByte(byte));
                    });
                }
                break;
            }
            default:
                sink.put('%');
                sink.put(static_cast<unsigned>(conv));
                break;
        }
    }
    dest[sink.length] = 0;
    return sink.length;
}

template <typename Char>
int toIntCore(const Char* text) {
    if (text == nullptr) return 0;
    size_t i = 0;
    while (text[i] == ' ' || text[i] == '\t') ++i;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    while (text[i] >= '0' && text[i] <= '9') {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

size_t textFormatV(WCHAR* dest, size_t capacity, const WCHAR* format, va_list args) {
    return formatCore<WCHAR>(dest, capacity, format, args, true);
}

size_t textFormat(WCHAR* dest, size_t capacity, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = textFormatV(dest, capacity, format, args);
    va_end(args);
    return n;
}

size_t textFormatVA(char* dest, size_t capacity, const char* format, va_list args) {
    return formatCore<char>(dest, capacity, format, args, false);
}

size_t textFormatA(char* dest, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = textFormatVA(dest, capacity, format, args);
    va_end(args);
    return n;
}

int textToInt(const WCHAR* text) {
    return toIntCore(text);
}
int textToIntA(const char* text) {
    return toIntCore(text);
}
