// Keystrokes: types characters into the focused application through
// synthesized key events and posted messages.
#include "output/keystrokes.h"

#include "settings/keytable.h"
#include "settings/settings.h"

namespace {

void pressKey(BYTE key) {
    keybd_event(key, key, KEYEVENTF_SILENT, 0);
}
void releaseKey(BYTE key) {
    keybd_event(key, key, KEYEVENTF_KEYUP, 0);
}

}  // namespace

void typeText(const WCHAR* text) {
    if (!text) return;
    for (size_t i = 0; text[i] != 0; ++i) {
        typeCharacter(text[i]);
        if (settings.InterCharacterDelay > 0) Sleep(static_cast<DWORD>(settings.InterCharacterDelay));
    }
}

void typeCharacter(WCHAR character) {
    unsigned code = static_cast<unsigned>(character);
    if (code == CharEnter) {
        pressKey(VK_RETURN);
        Sleep(2);
        releaseKey(VK_RETURN);
        Sleep(10);
        return;
    }
    if (code == CharFieldSeparator) {
        HWND target = GetForegroundKeyboardTarget();
        if (!target) return;
        pressKey(VK_CONTROL);
        PostMessageW(target, WM_KEYDOWN, kFieldSeparatorKey, 0);
        PostMessageW(target, WM_CHAR, CharFieldSeparator, 0);
        PostMessageW(target, WM_KEYUP, kFieldSeparatorKey, 0);
        releaseKey(VK_CONTROL);
        PostMessageW(target, WM_KEYDOWN, CharFieldSeparator, 0);
        PostMessageW(target, WM_KEYUP, CharFieldSeparator, 0);
        return;
    }
    if (code == CharSubstitute) {
        HWND target = GetForegroundKeyboardTarget();
        if (target) PostMessageW(target, WM_CHAR, CharSubstitute, 0);
        return;
    }
    if (code > kLastKeyTableCharacter) {
        UINT shiftState = 0;
        UINT characters[1] = {code};
        PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 1, 1, &shiftState, characters);
        Sleep(0);
        return;
    }
    if (settings.RemapToTab != 0 && static_cast<int>(code) == settings.RemapToTab) code = CharTab;
    const KeyTableEntry& entry = characterToKeyTable[code];
    BYTE key = static_cast<BYTE>(entry.virtualKey & 0xFF);
    bool shift = entry.shiftNeeded != 0;
    if (shift) pressKey(VK_SHIFT);
    pressKey(key);
    Sleep(2);
    releaseKey(key);
    if (shift) releaseKey(VK_SHIFT);
    Sleep(0);
}

FocusWindowKind classifyFocusWindow(HWND window) {
    if (!window || !IsWindow(window)) return FocusOther;
    WCHAR className[50] = {};
    GetClassNameW(window, className, 50);
    className[49] = 0;
    if (textEqualsNoCase(className, TEXT("RICHEDIT50W")) || textEqualsNoCase(className, TEXT("RichInk")) ||
        textEqualsNoCase(className, TEXT("Edit"))) {
        return FocusEdit;
    }
    if (textEqualsNoCase(className, TEXT("Internet Explorer_Server"))) return FocusBrowser;
    return FocusOther;
}
