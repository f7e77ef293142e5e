// The hidden main window: scan key, tray icon and menu, scanner switch,
// all-keys capture and teardown.
#include "shell/window.h"

#include "resources/resource.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"
#include "scan/engine.h"
#include "scan/scanloop.h"
#include "settings/cardreader.h"
#include "settings/settings.h"
#include "shell/constants.h"
#include "shell/editor.h"
#include "shell/state.h"
#include "shell/tracelog.h"

namespace {

constexpr int kAllKeysCodes = 255;

struct CaptureModifier {
    UINT modifiers;
    int idOffset;
};
constexpr CaptureModifier kCaptureModifiers[] = {
    {0, 0}, {MOD_SHIFT, 765}, {MOD_ALT, 255}, {MOD_CONTROL, 510}, {MOD_WIN, 1020}};

void onCreate(HWND window) {
    if (settings.scannerEnabled.load()) {
        if (!RegisterHotKey(window, SCAN_HOTKEY_ID, 0, kScanKey)) {
            MessageBoxW(GetForegroundWindow(), TEXT("Failed to capture Scan Key."), TEXT("Error: Keyvane"), MB_OK);
            traceAppend(TEXT("Failed to capture Scan Key."));
        }
    }
    if (!trayIcon(window, TRUE)) {
        traceAppend(TEXT("Failed add Application Icon to system tray."));
        MessageBoxW(GetForegroundWindow(), TEXT("Failed add Application Icon to system tray."), TEXT("Error: Keyvane"),
                    MB_OK);
    }
}

void onTrayNotify(HWND window, LPARAM lParam) {
    if (lParam != WM_LBUTTONUP) return;
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    int y = height == 640 ? height - 290 : height - 145;
    int x = width == 480 ? width - 100 : width - 50;
    traceAppend(TEXT("App Exit?"));
    int command = TrackPopupMenuEx(trayPopupMenu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, x, y, window, nullptr);
    if (command == IDM_SYMBOLOGY_SETTINGS) {
        if (!settings.scannerEnabled.load()) connectEngine(1);
        settingsEditorLaunch();
        if (!settings.scannerEnabled.load()) scannerDisconnect();
    } else if (command == IDM_EXIT) {
        if (MessageBoxW(GetForegroundWindow(), TEXT("Are you sure you want to close Keyvane"), TEXT("Keyvane 1.9.1"),
                        MB_YESNO) == IDYES)
            PostMessageW(window, WM_DESTROY, 0, 0);
    }
    traceAppend(TEXT("App Exit cancel"));
}

void onScannerEnable(HWND window, LPARAM lParam) {
    if (lParam == 1 && !settings.scannerEnabled.load()) {
        RegisterHotKey(window, SCAN_HOTKEY_ID, 0, kScanKey);
        connectEngine(1);
        if (decodeSettingsPath[0] != 0) applyDecodeSettings(decodeSettingsPath);
        settings.scannerEnabled = 1;
    } else if (lParam == 0 && settings.scannerEnabled.load()) {
        UnregisterHotKey(window, SCAN_HOTKEY_ID);
        scannerDisconnect();
        settings.scannerEnabled = 0;
    }
    scannerSwitchOutstanding = 0;
}

void onDestroy() {
    settings.PresentationMode = 0;
    traceAppend(TEXT("App Exit"));
    if (allKeysCaptured.load()) allKeysCapture(FALSE);
    Sleep(100);
    trayIcon(mainWindow.load(), FALSE);
    stopCardReader();
    closeSerialPort();
    settings.PresentationMode = 0;
    scannerDisconnect();
    PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            onCreate(window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint = {};
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_TRAY_NOTIFY:
            onTrayNotify(window, lParam);
            return 0;
        case WM_HOTKEY:
            if (!settings.PresentationMode.load() && LOWORD(wParam) == SCAN_HOTKEY_ID) scanTriggerLoop(nullptr);
            return 0;
        case WM_SCANNER_ENABLE:
            onScannerEnable(window, lParam);
            return 0;
        case WM_DESTROY:
            onDestroy();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

BOOL trayIcon(HWND window, BOOL add) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;  // the record as compiled: 152 bytes on the device, more on 64-bit Windows
    data.hWnd = window;
    data.uID = IDI_KEYVANE;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    data.hIcon = static_cast<HICON>(LoadImageW(appInstance, MAKEINTRESOURCEW(IDI_KEYVANE), IMAGE_ICON, 16, 16, 0));
    return Shell_NotifyIconW(add ? NIM_ADD : NIM_DELETE, &data);
}

int scannerDisconnect() {
    if (WaitForSingleObject(enableStateEvent, 0) != WAIT_OBJECT_0) return 1;
    decoderDisconnect();
    engineConnected = 0;
    std::lock_guard<std::mutex> pair(scannerEventsLock());
    ResetEvent(enableEvent);
    ResetEvent(enableStateEvent);
    return 1;
}

// The capture's owner is the wedge's own thread queue (no window): the
// captured keys reach no application and are dropped by the message loop.
// Capture and release run on the main thread, so the owner is the same.
void allKeysCapture(BOOL capture) {
    for (int key = 0; key < kAllKeysCodes; ++key) {
        if (key == static_cast<int>(kScanKey)) continue;
        for (const CaptureModifier& m : kCaptureModifiers) {
            if (capture) {
                UnregisterFunc1(m.modifiers, key);
                RegisterHotKey(nullptr, key + m.idOffset, m.modifiers, static_cast<UINT>(key));
            } else {
                UnregisterHotKey(nullptr, key + m.idOffset);
            }
        }
    }
    if (capture) allKeysCaptured = 1;
}
