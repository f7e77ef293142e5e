// The hidden main window: scan key, tray icon and menu, scanner switch,
// all-keys capture and teardown.
#pragma once

#include "platform/platform.h"

constexpr UINT WM_SCANNER_ENABLE = WM_USER + 1;
constexpr UINT WM_TRAY_NOTIFY = 101;

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL trayIcon(HWND window, BOOL add);
int scannerDisconnect();
void allKeysCapture(BOOL capture);
