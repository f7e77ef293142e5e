// The shell's process-wide records.
#include "shell/state.h"

HINSTANCE appInstance = nullptr;
std::atomic<HWND> mainWindow{nullptr};
HANDLE loadedEvent = nullptr;
HANDLE enableEvent = nullptr;
HANDLE enableStateEvent = nullptr;
std::atomic<int> deviceModel{0};
HMENU trayPopupMenu = nullptr;
std::atomic<BYTE> allKeysCaptured{0};
std::atomic<BYTE> scannerSwitchOutstanding{0};

std::mutex& scannerEventsLock() {
    static std::mutex lock;
    return lock;
}
