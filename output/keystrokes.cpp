#include "output/keystrokes.h"

std::recursive_mutex& deliveryLock() {
    static std::recursive_mutex lock;
    return lock;
}

void setDeliveryIdentifiers(uint8_t, uint8_t, uint8_t) {}

void deliverText(const WORD*, const WCHAR*, const WORD*, int, int, int) {}
void typeText(const WCHAR*) {}
void typeCharacter(WCHAR) {}
int classifyFocusWindow(HWND) { return 0; }
