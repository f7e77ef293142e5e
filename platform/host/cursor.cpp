// The host terminal's cursor calls and GDI stock objects.
#include <atomic>
#include <cstdint>

#include "platform/host/host_api.h"

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR cursorName) {
    return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x7F00) + (reinterpret_cast<uintptr_t>(cursorName) & 0xFF));
}

namespace {
std::atomic<uintptr_t> currentCursor{0};
}

HCURSOR SetCursor(HCURSOR cursor) {
    return reinterpret_cast<HCURSOR>(currentCursor.exchange(reinterpret_cast<uintptr_t>(cursor)));
}

HGDIOBJ GetStockObject(int object) {
    if (object < 0 || object > 31) return nullptr;
    return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x8000 + object));
}
