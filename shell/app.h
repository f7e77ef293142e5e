// The application shell: process entry, named events, the hidden main window
// with its tray icon and menu, the scanner switch and teardown, and the
// settings editor launch.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "resources/resource.h"
#include "shell/constants.h"

constexpr UINT WM_SCANNER_ENABLE = WM_USER + 1;
constexpr UINT WM_TRAY_NOTIFY = 101;

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

// The process entry: the platform's GUI entry with the command line (without
// the program name). Returns the exit code.
int keyvaneMain(HINSTANCE instance, LPCWSTR commandLine);

// Returns every process-wide record (settings, rule and key tables, card
// reader settings, engine connection, serial port, scan-loop and delivery
// state, the shell's switches) to its power-on state. Objects the process
// created (events, windows, threads) are their owners' to end.
void resetProcessState();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL trayIcon(HWND window, BOOL add);
int scannerDisconnect();
void allKeysCapture(BOOL capture);
void settingsEditorLaunch();
int startProcess(LPCWSTR path, LPCWSTR arguments, BOOL wait);
