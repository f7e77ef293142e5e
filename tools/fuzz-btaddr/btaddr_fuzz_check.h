// What must hold for the Bluetooth address parser: an address is taken only
// from exactly twelve hex digits after optional blanks, ended by the text's end
// or a blank, and the address
// written back as twelve digits parses to the same value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "bluetooth/btlink.h"

namespace btaddrfuzz {

inline bool hexDigit(WCHAR c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// 0 when the invariants hold, else a number naming the broken one. The bytes
// are taken two at a time as UTF-16 code units (the settings reader's text).
inline int check(const uint8_t* data, size_t size) {
    WCHAR text[64] = {};
    size_t n = size / 2 < 63 ? size / 2 : 63;
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<WCHAR>(data[2 * i] | data[2 * i + 1] << 8);
    uint64_t address = 0xDEADBEEFull;
    if (!parseBluetoothAddress(text, &address)) return address == 0xDEADBEEFull ? 0 : 1;
    if (address >> 48 != 0) return 2;
    size_t at = 0;
    while (text[at] == u' ' || text[at] == u'\t') ++at;
    size_t digits = 0;
    while (hexDigit(text[at + digits])) ++digits;
    WCHAR after = text[at + digits];
    if (digits != 12 || (after != 0 && after != u' ' && after != u'\t')) return 3;
    char written[16];
    std::snprintf(written, sizeof written, "%012llX", static_cast<unsigned long long>(address));
    WCHAR wide[16] = {};
    for (int i = 0; i < 12; ++i) wide[i] = static_cast<WCHAR>(written[i]);
    uint64_t again = 0;
    if (!parseBluetoothAddress(wide, &again) || again != address) return 4;
    return 0;
}

}  // namespace btaddrfuzz
