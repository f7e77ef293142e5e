// Keystroke delivery: types a prefix, the text and a suffix into the focused
// application through synthesized key events, and hands the text on to the
// serial output.
#include "output/keystrokes.h"

#include <atomic>
#include <cstring>

#include "output/serial.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

namespace {

std::atomic<uint8_t> identifierBytes[3] = {{0}, {0}, {0}};

constexpr BYTE kKeyShift = 16;
constexpr BYTE kKeyControl = 17;
constexpr BYTE kKeyEnter = 13;

void pressKey(BYTE key) {
    keybd_event(key, key, KEYEVENTF_SILENT, 0);
}
void releaseKey(BYTE key) {
    keybd_event(key, key, KEYEVENTF_KEYUP, 0);
}

// The identifier byte chosen by a PrefixID/SuffixID selector, or 0 for none.
WCHAR identifierFor(int selector) {
    if (selector < 1 || selector > 3) return 0;
    return static_cast<WCHAR>(identifierBytes[selector - 1].load());
}

// Builds "%c%s" (identifier and code list) or "%s" into `out` (kDecoratedChars).
// A zero identifier byte adds nothing, so it cannot end the decoration early;
// a code list longer than the buffer is cut.
void decorate(WCHAR* out, int selector, const WORD* codes) {
    size_t n = 0;
    WCHAR id = identifierFor(selector);
    if (id != 0) out[n++] = id;
    if (codes) {
        for (size_t i = 0; codes[i] != 0 && n + 1 < static_cast<size_t>(kDecoratedChars); ++i) {
            out[n++] = static_cast<WCHAR>(codes[i]);
        }
    }
    out[n] = 0;
}

}  // namespace

std::recursive_mutex& deliveryLock() {
    static std::recursive_mutex lock;
    return lock;
}

void setDeliveryIdentifiers(uint8_t symbologyLetter, uint8_t second, uint8_t third) {
    identifierBytes[0].store(symbologyLetter);
    identifierBytes[1].store(second);
    identifierBytes[2].store(third);
}

void deliverText(const WORD* prefix, const WCHAR* text, const WORD* suffix, int prefixWait, int suffixWait,
                 int characterCount, const char* serialBytes) {
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    static const WCHAR kEmpty[1] = {0};
    if (!text) text = kEmpty;

    if (settings.SendToForegroundApp) {
        traceAppend(TEXT("App Send"));
        WCHAR decorated[kDecoratedChars];
        decorate(decorated, settings.PrefixID, prefix);
        typeText(decorated);
        if (prefixWait > 0) Sleep(static_cast<DWORD>(prefixWait));

        if (!settings.editControlDelivery) {
            typeText(text);
        } else {
            HWND target = GetForegroundKeyboardTarget();
            int kind = target ? classifyFocusWindow(target) : 0;
            if (kind == 1 || kind == 2) {
                for (int i = 0; i < characterCount && text[i] != 0; ++i) {
                    PostMessageW(target, WM_CHAR, static_cast<WPARAM>(text[i]), 0);
                }
            }
        }

        if (suffixWait > 0) Sleep(static_cast<DWORD>(suffixWait));
        decorate(decorated, settings.SuffixID, suffix);
        typeText(decorated);
    }

    if (settings.SendData.load() && characterCount > 0) {
        traceAppend(TEXT("Comm Send"));
        // The serial copy holds at most kSerialDataBytes - 1 characters; a
        // longer text is cut. Bytes the count names beyond the text are zero.
        int count = characterCount < kSerialDataBytes - 1 ? characterCount : kSerialDataBytes - 1;
        size_t narrowed = 0;
        if (serialBytes != nullptr) {
            for (int i = 0; i < count; ++i) serialData[i] = serialBytes[i];
            narrowed = static_cast<size_t>(count);
        } else {
            narrowed = textNarrow(serialData, kSerialDataBytes, text);
        }
        if (narrowed < static_cast<size_t>(count)) {
            std::memset(serialData + narrowed, 0, static_cast<size_t>(count) - narrowed);
        }
        serialData[count] = 0;
        sendToSerial(count);
    }
}

void typeText(const WCHAR* text) {
    if (!text) return;
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    for (size_t i = 0; text[i] != 0; ++i) {
        typeCharacter(text[i]);
        if (settings.InterCharacterDelay > 0) Sleep(static_cast<DWORD>(settings.InterCharacterDelay));
    }
}

void typeCharacter(WCHAR character) {
    unsigned code = static_cast<unsigned>(character);
    if (code == 13) {
        pressKey(kKeyEnter);
        Sleep(2);
        releaseKey(kKeyEnter);
        Sleep(10);
        return;
    }
    if (code == 28) {
        HWND target = GetForegroundKeyboardTarget();
        if (!target) return;
        pressKey(kKeyControl);
        PostMessageW(target, WM_KEYDOWN, 155, 0);
        PostMessageW(target, WM_CHAR, 28, 0);
        PostMessageW(target, WM_KEYUP, 155, 0);
        releaseKey(kKeyControl);
        PostMessageW(target, WM_KEYDOWN, 28, 0);
        PostMessageW(target, WM_KEYUP, 28, 0);
        return;
    }
    if (code == 26) {
        HWND target = GetForegroundKeyboardTarget();
        if (target) PostMessageW(target, WM_CHAR, 26, 0);
        return;
    }
    if (code > 126) {
        UINT shiftState = 0;
        UINT characters[1] = {code};
        PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 1, 1, &shiftState, characters);
        Sleep(0);
        return;
    }
    if (settings.RemapToTab != 0 && static_cast<int>(code) == settings.RemapToTab) code = 9;
    const KeyTableEntry& entry = characterToKeyTable[code];
    BYTE key = static_cast<BYTE>(entry.virtualKey & 0xFF);
    bool shift = entry.shiftNeeded != 0;
    if (shift) pressKey(kKeyShift);
    pressKey(key);
    Sleep(2);
    releaseKey(key);
    if (shift) releaseKey(kKeyShift);
    Sleep(0);
}

int classifyFocusWindow(HWND window) {
    if (!window || !IsWindow(window)) return 0;
    WCHAR className[50] = {};
    GetClassNameW(window, className, 50);
    className[49] = 0;
    if (textEqualsNoCase(className, TEXT("RICHEDIT50W")) || textEqualsNoCase(className, TEXT("RichInk")) ||
        textEqualsNoCase(className, TEXT("Edit"))) {
        return 1;
    }
    if (textEqualsNoCase(className, TEXT("Internet Explorer_Server"))) return 2;
    return 0;
}
