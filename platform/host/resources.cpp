// The program's resources on the host terminal: strings, icons and
// accelerators from the table compiled from resources/keyvane.rc.
#include "platform/host/resources.h"

#include <cstring>

#include "platform/host/host_api.h"
#include "platform/host/windows_record.h"

namespace host {
const Resource* find(Kind kind, unsigned id, const char* type) {
    for (size_t i = 0; i < tableCount; ++i) {
        const Resource& r = table[i];
        if (r.kind != kind || r.id != id) continue;
        if (type && std::strcmp(type, r.type) != 0) continue;
        return &r;
    }
    return nullptr;
}

const Resource* resourceOf(LPCWSTR name, Kind kind, const char* type) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    return find(kind, static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)), type);
}
}  // namespace host

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int bufferMax) {
    const host::Resource* r = host::find(host::KindString, id);
    if (!r || !buffer || bufferMax <= 0) return 0;
    size_t n = host::boundedLength(r->text, static_cast<size_t>(bufferMax - 1));
    for (size_t i = 0; i < n; ++i) buffer[i] = r->text[i];
    buffer[n] = 0;
    return static_cast<int>(n);
}

HANDLE LoadImageW(HINSTANCE, LPCWSTR name, UINT type, int, int, UINT) {
    if (type != IMAGE_ICON) return nullptr;
    const host::Resource* r = host::resourceOf(name, host::KindIcon);
    return r ? const_cast<host::Resource*>(r) : nullptr;
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    return static_cast<HICON>(LoadImageW(instance, name, IMAGE_ICON, 32, 32, 0));
}

HACCEL LoadAcceleratorsW(HINSTANCE, LPCWSTR name) {
    const host::Resource* r = host::resourceOf(name, host::KindAccelerators);
    return r ? reinterpret_cast<HACCEL>(const_cast<host::Resource*>(r)) : nullptr;
}

int TranslateAcceleratorW(HWND window, HACCEL accelerators, LPMSG msg) {
    if (!accelerators || !msg || msg->message != WM_KEYDOWN) return 0;
    const auto* r = reinterpret_cast<const host::Resource*>(accelerators);
    bool control = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    bool shift = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
    for (size_t i = 0; i < r->acceleratorCount; ++i) {
        const host::Accelerator& a = r->accelerators[i];
        if (a.key != msg->wParam) continue;
        if (((a.flags & host::kAccelControl) != 0) != control) continue;
        if (((a.flags & host::kAccelShift) != 0) != shift) continue;
        WNDPROC procedure = host::procedureOf(host::handleOf(window));
        if (procedure) procedure(window, WM_COMMAND, MAKELONG(a.command, 1), 0);
        return 1;
    }
    return 0;
}
