#include "textfile.h"

#include "text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <new>
#include <vector>

namespace {

// Files larger than this are read up to this size only.
constexpr size_t kMaxFileBytes = 64u * 1024u * 1024u;

bool readAll(const WCHAR* path, std::vector<unsigned char>& bytes) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD size = SetFilePointer(h, 0, nullptr, FILE_END);
    if (size != INVALID_SET_FILE_POINTER) bytes.reserve(size < kMaxFileBytes ? size : kMaxFileBytes);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    unsigned char chunk[8192];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
        size_t room = kMaxFileBytes - bytes.size();
        bytes.insert(bytes.end(), chunk, chunk + (got < room ? got : room));
        if (bytes.size() >= kMaxFileBytes) break;
    }
    CloseHandle(h);
    return true;
}

// Decodes UTF-8 starting at i; returns false on an invalid sequence.
bool decodeUtf8(const std::vector<unsigned char>& b, size_t& i, char32_t& out) {
    unsigned char c = b[i];
    int extra;
    char32_t cp;
    if (c < 0x80) {
        out = c;
        ++i;
        return true;
    } else if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        cp = c & 0x07;
    } else {
        return false;
    }
    if (i + static_cast<size_t>(extra) >= b.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        unsigned char cc = b[i + static_cast<size_t>(k)];
        if ((cc & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    out = cp;
    i += static_cast<size_t>(extra) + 1;
    return true;
}

// Text-mode reading drops a carriage return that stands before a line feed.
template <typename Char>
void dropCrBeforeLf(std::vector<Char>& text) {
    size_t w = 0;
    for (size_t r = 0; r < text.size(); ++r) {
        if (text[r] == '\r' && r + 1 < text.size() && text[r + 1] == '\n') continue;
        text[w++] = text[r];
    }
    text.resize(w);
}

}  // namespace

struct TextFile {
    std::vector<unsigned char> bytes;  // the file's bytes; "\r\n" folded once bytesFolded
    std::vector<char16_t> wide;        // the decoded text, "\r\n" folded
    bool bytesFolded = false;
    TextFileEncoding encoding = TextEncodingUtf8;
    size_t bytePos = 0;
    size_t widePos = 0;
};

namespace {

// Decodes UTF-8 from `start` into `out` (sized for it), a carriage return
// before a line feed dropped. With `replace`, an invalid sequence becomes
// U+FFFD; without, the decoding stops there and returns false.
bool decodeUtf8Text(const std::vector<unsigned char>& raw, size_t start, bool replace, std::vector<char16_t>& out) {
    const unsigned char* b = raw.data();
    size_t n = raw.size();
    out.resize(n - start + 1);
    char16_t* w = out.data();
    size_t i = start;
    while (i < n) {
        unsigned char c = b[i];
        if (c < 0x80) {
            // Plain ASCII, the common case, a byte at a time.
            if (c != '\r' || i + 1 >= n || b[i + 1] != '\n') *w++ = c;
            ++i;
            continue;
        }
        char32_t cp;
        if (!decodeUtf8(raw, i, cp)) {
            if (!replace) return false;
            cp = 0xFFFD;
            ++i;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *w++ = static_cast<char16_t>(cp);
        }
    }
    out.resize(static_cast<size_t>(w - out.data()));
    return true;
}

void decodeWide(TextFile* f, const std::vector<unsigned char>& raw) {
    std::vector<char16_t>& out = f->wide;
    size_t n = raw.size();
    if (n >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
        f->encoding = TextEncodingUtf16Le;
        out.reserve(n / 2 + 1);
        for (size_t i = 2; i + 1 < n; i += 2) out.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
        if ((n - 2) % 2 != 0) out.push_back(0xFFFD);
        dropCrBeforeLf(out);
    } else if (n >= 2 && raw[0] == 0xFE && raw[1] == 0xFF) {
        f->encoding = TextEncodingUtf16Be;
        out.reserve(n / 2 + 1);
        for (size_t i = 2; i + 1 < n; i += 2) out.push_back(static_cast<char16_t>((raw[i] << 8) | raw[i + 1]));
        if ((n - 2) % 2 != 0) out.push_back(0xFFFD);
        dropCrBeforeLf(out);
    } else if (n >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF) {
        f->encoding = TextEncodingUtf8Bom;
        decodeUtf8Text(raw, 3, true, out);
    } else if (decodeUtf8Text(raw, 0, false, out)) {
        f->encoding = TextEncodingUtf8;
    } else {
        // Not valid UTF-8: 8-bit text of the system code page.
        f->encoding = TextEncodingAnsi;
        out.resize(n);
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(textWidenByte(raw[i]));
        dropCrBeforeLf(out);
    }
}

TextFile* openDecoded(std::vector<unsigned char>& raw) {
    TextFile* f = new (std::nothrow) TextFile;
    if (f == nullptr) return nullptr;
    decodeWide(f, raw);
    f->bytes = std::move(raw);
    return f;
}

}  // namespace

TextFile* textFileOpen(const WCHAR* path) {
    std::vector<unsigned char> raw;
    if (path == nullptr || !readAll(path, raw)) return nullptr;
    return openDecoded(raw);
}

TextFile* textFileOpenBytes(const unsigned char* bytes, size_t length) {
    if (bytes == nullptr && length != 0) return nullptr;
    if (length > kMaxFileBytes) length = kMaxFileBytes;
    std::vector<unsigned char> raw(bytes, bytes + length);
    return openDecoded(raw);
}

TextFileEncoding textFileEncoding(const TextFile* file) {
    return file != nullptr ? file->encoding : TextEncodingUtf8;
}

bool textFileReadLine(TextFile* file, WCHAR* buffer, size_t capacity, size_t* length) {
    if (length != nullptr) *length = 0;
    if (file == nullptr || buffer == nullptr || capacity == 0) return false;
    size_t left = file->wide.size() - file->widePos;
    if (left == 0) {
        buffer[0] = 0;
        return false;
    }
    const char16_t* from = file->wide.data() + file->widePos;
    size_t most = left < capacity - 1 ? left : capacity - 1;
    const char16_t* feed = std::char_traits<char16_t>::find(from, most, u'\n');
    size_t n = feed != nullptr ? static_cast<size_t>(feed - from) + 1 : most;
    std::copy(from, from + n, buffer);
    buffer[n] = 0;
    file->widePos += n;
    if (length != nullptr) *length = n;
    return true;
}

bool textFileReadLineA(TextFile* file, char* buffer, size_t capacity) {
    if (file == nullptr || buffer == nullptr || capacity == 0) return false;
    if (!file->bytesFolded) {
        dropCrBeforeLf(file->bytes);
        file->bytesFolded = true;
    }
    if (file->bytePos >= file->bytes.size()) {
        buffer[0] = 0;
        return false;
    }
    size_t n = 0;
    while (n + 1 < capacity && file->bytePos < file->bytes.size()) {
        char c = static_cast<char>(file->bytes[file->bytePos++]);
        buffer[n++] = c;
        if (c == '\n') break;
    }
    buffer[n] = 0;
    return true;
}

void textFileRewind(TextFile* file) {
    if (file == nullptr) return;
    file->bytePos = 0;
    file->widePos = 0;
}

void textFileClose(TextFile* file) { delete file; }

bool textFileAppend(const WCHAR* path, const char* bytes, size_t length) {
    // Append-only access: each write lands at the end, so lines of two threads
    // or processes never overwrite each other.
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::vector<char> out;
    out.reserve(length + 16);
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] == '\n') out.push_back('\r');
        out.push_back(bytes[i]);
    }
    DWORD written = 0;
    BOOL ok = out.empty() ? TRUE : WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

bool textFileExists(const WCHAR* path) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}
