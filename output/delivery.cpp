// Delivery: under the delivery lock, types the decorated prefix, the text and
// the suffix into the focused application and sends the serial copy.
#include "output/delivery.h"

#include <atomic>
#include <cstring>

#include "output/framing.h"
#include "output/keystrokes.h"
#include "output/serial.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

namespace {

std::atomic<uint8_t> identifierBytes[3] = {{0}, {0}, {0}};

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

void typeDelivery(const WORD* prefix, const WCHAR* text, const WORD* suffix, int prefixWait, int suffixWait,
                  int characterCount) {
    traceAppend(TEXT("App Send"));
    WCHAR decorated[kDecoratedChars];
    decorate(decorated, settings.PrefixID, prefix);
    typeText(decorated);
    if (prefixWait > 0) Sleep(static_cast<DWORD>(prefixWait));

    if (!settings.editControlDelivery) {
        typeText(text);
    } else {
        HWND target = GetForegroundKeyboardTarget();
        FocusWindowKind kind = target ? classifyFocusWindow(target) : FocusOther;
        if (kind == FocusEdit || kind == FocusBrowser) {
            for (int i = 0; i < characterCount && text[i] != 0; ++i) {
                PostMessageW(target, WM_CHAR, static_cast<WPARAM>(text[i]), 0);
            }
        }
    }

    if (suffixWait > 0) Sleep(static_cast<DWORD>(suffixWait));
    decorate(decorated, settings.SuffixID, suffix);
    typeText(decorated);
}

// The serial copy holds at most kSerialDataBytes - 1 bytes; a longer text is
// cut. Bytes the count names beyond the text are zero.
void sendCopy(const WCHAR* text, int characterCount, const char* serialBytes) {
    traceAppend(TEXT("Comm Send"));
    char copy[kSerialDataBytes];
    int count = characterCount < kSerialDataBytes - 1 ? characterCount : kSerialDataBytes - 1;
    size_t narrowed = 0;
    if (serialBytes != nullptr) {
        std::memcpy(copy, serialBytes, static_cast<size_t>(count));
        narrowed = static_cast<size_t>(count);
    } else {
        narrowed = textNarrow(copy, kSerialDataBytes, text);
    }
    if (narrowed < static_cast<size_t>(count)) {
        std::memset(copy + narrowed, 0, static_cast<size_t>(count) - narrowed);
    }
    sendToSerial(copy, count);
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
    if (settings.SendToForegroundApp) typeDelivery(prefix, text, suffix, prefixWait, suffixWait, characterCount);
    if (settings.SendData.load() && characterCount > 0) sendCopy(text, characterCount, serialBytes);
}

void deliverKeysOnly(const WCHAR* text) {
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    typeText(text);
}
