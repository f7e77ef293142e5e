// The host terminal's keyboard and focused application.
#include "platform/host/host_api.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"

void keybd_event(BYTE, BYTE, DWORD, ULONG_PTR) {}
BOOL PostKeybdMessage(HWND, UINT, UINT, UINT, UINT*, UINT*) { return TRUE; }
SHORT GetAsyncKeyState(int) { return 0; }
HWND GetForegroundKeyboardTarget() { return nullptr; }

namespace hostfacility {
HWND focusWindow() { return nullptr; }
void focusWindowMessage(UINT, WPARAM, LPARAM) {}
}  // namespace hostfacility

namespace terminal {
void pressKey(int) {}
void releaseKey(int) {}
bool keyDown(int) { return false; }
std::vector<KeyEvent> keyEvents() { return {}; }
void clearKeyEvents() {}
void setFocusClass(const std::u16string&) {}
std::u16string focusClass() { return u""; }
std::u16string focusText() { return u""; }
void clearFocusText() {}
}  // namespace terminal
