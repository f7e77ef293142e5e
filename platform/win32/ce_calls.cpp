// The Windows CE calls that desktop Windows lacks, bound at run time from the
// platform's core library ("coredll.dll") where it exists. On a desktop
// Windows without them each call falls back to a documented behaviour that
// keeps the wedge's outcomes:
//   KernelIoControl             fails (ERROR_NOT_SUPPORTED): the model request
//                               gives the fallback model, the 5-volt switch fails
//   PostKeybdMessage            the desktop's Unicode input (SendInput)
//   GetForegroundKeyboardTarget the focused window of the foreground thread
//   UnregisterFunc1             succeeds: no shell registration to free
//   NLedSetDevice               fails, as a platform that refuses the request
//   FindFirstDevice             finds nothing (every COM index is free)
//   DeactivateDevice            fails
//   RegisterDevice              fails (no handle): the Bluetooth port is refused
#include "platform/platform.h"

namespace {

HMODULE coreLibrary() {
    static HMODULE module = LoadLibraryW(L"coredll.dll");
    return module;
}

template <typename Fn>
Fn bind(const char* name) {
    HMODULE module = coreLibrary();
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf, DWORD outBufSize,
                     LPDWORD bytesReturned) {
    typedef BOOL(WINAPI * Fn)(DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD);
    static Fn fn = bind<Fn>("KernelIoControl");
    if (fn != nullptr) return fn(ioControlCode, inBuf, inBufSize, outBuf, outBufSize, bytesReturned);
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL PostKeybdMessage(HWND window, UINT virtualKey, UINT keyStateFlags, UINT characterCount, UINT* shiftStateBuffer,
                      UINT* characterBuffer) {
    typedef BOOL(WINAPI * Fn)(HWND, UINT, UINT, UINT, UINT*, UINT*);
    static Fn fn = bind<Fn>("PostKeybdMessage");
    if (fn != nullptr)
        return fn(window, virtualKey, keyStateFlags, characterCount, shiftStateBuffer, characterBuffer);
    if (characterBuffer == nullptr) return FALSE;
    for (UINT i = 0; i < characterCount; ++i) {
        INPUT input[2] = {};
        input[0].type = INPUT_KEYBOARD;
        input[0].ki.wScan = static_cast<WORD>(characterBuffer[i]);
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1] = input[0];
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
    return TRUE;
}

HWND GetForegroundKeyboardTarget() {
    typedef HWND(WINAPI * Fn)();
    static Fn fn = bind<Fn>("GetForegroundKeyboardTarget");
    if (fn != nullptr) return fn();
    HWND foreground = GetForegroundWindow();
    if (foreground == nullptr) return nullptr;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &info) && info.hwndFocus != nullptr)
        return info.hwndFocus;
    return foreground;
}

BOOL UnregisterFunc1(UINT modifiers, int virtualKey) {
    typedef BOOL(WINAPI * Fn)(UINT, int);
    static Fn fn = bind<Fn>("UnregisterFunc1");
    if (fn != nullptr) return fn(modifiers, virtualKey);
    return TRUE;
}

BOOL NLedSetDevice(UINT infoId, void* info) {
    typedef BOOL(WINAPI * Fn)(UINT, void*);
    static Fn fn = bind<Fn>("NLedSetDevice");
    if (fn != nullptr) return fn(infoId, info);
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

HANDLE FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info) {
    typedef HANDLE(WINAPI * Fn)(DeviceSearchType, LPCVOID, DEVMGR_DEVICE_INFORMATION*);
    static Fn fn = bind<Fn>("FindFirstDevice");
    if (fn != nullptr) return fn(searchType, searchParam, info);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL DeactivateDevice(HANDLE device) {
    typedef BOOL(WINAPI * Fn)(HANDLE);
    static Fn fn = bind<Fn>("DeactivateDevice");
    if (fn != nullptr) return fn(device);
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

HANDLE RegisterDevice(LPCWSTR type, DWORD index, LPCWSTR library, DWORD_PTR info) {
    typedef HANDLE(WINAPI * Fn)(LPCWSTR, DWORD, LPCWSTR, DWORD_PTR);
    static Fn fn = bind<Fn>("RegisterDevice");
    if (fn != nullptr) return fn(type, index, library, info);
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

#undef keybd_event
void ceKeybdEvent(BYTE virtualKey, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo) {
    if (coreLibrary() == nullptr) flags &= ~static_cast<DWORD>(KEYEVENTF_SILENT);
    keybd_event(virtualKey, scanCode, flags, extraInfo);
}
