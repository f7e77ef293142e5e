// The shell's process-wide records: the instance, the main window, the named
// events, the device model and the scanner and key-capture switches.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/platform.h"

extern HINSTANCE appInstance;
extern std::atomic<HWND> mainWindow;
extern HANDLE loadedEvent;       // "KVN_Loaded"
extern HANDLE enableEvent;       // "KVN_Enable"
extern HANDLE enableStateEvent;  // "KVN_Enable_State"
extern std::atomic<int> deviceModel;
extern HMENU trayPopupMenu;
extern std::atomic<BYTE> allKeysCaptured;
// Set while a scanner switch request of the event-watch thread waits in the
// main window's queue; cleared when the window handles WM_SCANNER_ENABLE.
extern std::atomic<BYTE> scannerSwitchOutstanding;
// The wedge switches "KVN_Enable_State" and "KVN_Enable" as a pair; the
// event-watch thread reads the pair under the same lock, so it never takes
// the moment between the two for a request (which would switch the scanner
// straight back).
std::mutex& scannerEventsLock();
