// Start-up, single instance, command words, the named events and the
// event-watch thread.
#include "shell/app.h"

#include "resources/resource.h"
#include "scan/decoder.h"
#include "scan/engine.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "shell/constants.h"
#include "shell/state.h"
#include "shell/window.h"

// Pacing of the event-watch thread's requests: a request stays outstanding
// (scannerSwitchOutstanding) until the main window has handled a
// WM_SCANNER_ENABLE, and a further request follows no sooner than
// kRepostMilliseconds after the previous one.
constexpr DWORD kRepostMilliseconds = 100;
// Set by the event-watch thread as it ends, so that the events it tests are
// closed only after its last test.
std::atomic<BYTE> eventWatchEnded{1};

namespace {

constexpr int kTextChars = 100;

// Passes a command word to the running instance. Returns the exit code.
// "enable" and "disable" only re-register the running window's scan-key hot
// key (id 42): the platform moves the id to the new key, so "enable" binds it
// to Alt+scan key and "disable" back to the plain scan key. They switch
// nothing else; the scanner itself is switched by "connect"/"disconnect" and
// the named events.
int passCommandWord(HWND running, LPCWSTR line) {
    if (textEqualsNoCaseAW(line, "disable")) {
        RegisterHotKey(running, SCAN_HOTKEY_ID, 0, kScanKey);
        return 0;
    }
    if (textEqualsNoCaseAW(line, "enable")) {
        RegisterHotKey(running, SCAN_HOTKEY_ID, 1, kScanKey);
        return 0;
    }
    if (textEqualsNoCaseAW(line, "connect")) {
        PostMessageW(running, WM_SCANNER_ENABLE, 0, 1);
        return 0;
    }
    if (textEqualsNoCaseAW(line, "disconnect")) {
        PostMessageW(running, WM_SCANNER_ENABLE, 0, 0);
        return 0;
    }
    if (textEqualsNoCaseAW(line, "quit")) {
        PostMessageW(running, WM_DESTROY, 1, 0);
        return 0;
    }
    MessageBoxW(GetForegroundWindow(), TEXT("Keyvane is already running"), TEXT("Warning"), MB_OK);
    return -3;
}

// How long a wedge that lost the start to another one waits for that one's
// main window before it gives up (its settings load and engine connect run
// first), and how often it looks.
constexpr DWORD kFirstInstanceWaitMilliseconds = 60000;
constexpr DWORD kFirstInstancePollMilliseconds = 10;

// Decides which instance this process is. The instance mutex is taken before
// the window lookup, so that of two wedges started together exactly one goes
// on as the first instance even though its window comes much later. Returns
// the running instance's window, or null: then this process is the first
// instance and *instance holds the mutex (null when the platform made none,
// and the window lookup alone decided). *gaveUp is set when another instance
// holds the mutex but showed no window within the wait.
HWND findRunningInstance(HANDLE* instance, bool* gaveUp) {
    *instance = nullptr;
    *gaveUp = false;
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, TEXT("KVN_Instance"));
        bool another = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
        HWND running = FindWindowW(nullptr, TEXT("Keyvane"));
        if (!another) {
            if (running && mutex) CloseHandle(mutex);
            if (!running) *instance = mutex;
            return running;
        }
        CloseHandle(mutex);
        if (running) return running;
        // The other instance is starting (its window comes after the settings
        // load and the engine connect) or ending; when it ended, the next
        // pass takes the mutex.
        if (GetTickCount() - start >= kFirstInstanceWaitMilliseconds) {
            *gaveUp = true;
            return nullptr;
        }
        Sleep(kFirstInstancePollMilliseconds);
    }
}

bool createMainWindow(HINSTANCE instance) {
    WCHAR title[kTextChars] = {};
    WCHAR className[kTextChars] = {};
    LoadStringW(instance, IDS_TITLE, title, kTextChars);
    LoadStringW(instance, IDS_CLASS_NAME, className, kTextChars);

    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KEYVANE));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = className;
    if (!RegisterClassW(&windowClass)) return false;

    HWND window = CreateWindowExW(0, className, title, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return false;
    mainWindow = window;
    UpdateWindow(window);
    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDR_TRAYMENU));
    trayPopupMenu = menu ? GetSubMenu(menu, 0) : nullptr;
    return true;
}

DWORD WINAPI eventWatchThread(LPVOID) {
    DWORD lastPost = 0;
    bool posted = false;
    if (WaitForSingleObject(loadedEvent, 0) != WAIT_OBJECT_0) {
        eventWatchEnded = 1;
        return 0;
    }
    do {
        bool wanted;
        bool inForce;
        {
            std::lock_guard<std::mutex> pair(scannerEventsLock());
            wanted = WaitForSingleObject(enableEvent, 0) == WAIT_OBJECT_0;
            inForce = WaitForSingleObject(enableStateEvent, 0) == WAIT_OBJECT_0;
        }
        HWND window = mainWindow.load();
        bool paced = posted && (scannerSwitchOutstanding.load() || GetTickCount() - lastPost < kRepostMilliseconds);
        if (wanted != inForce && window && !paced) {
            scannerSwitchOutstanding = 1;
            if (PostMessageW(window, WM_SCANNER_ENABLE, 0, wanted ? 1 : 0)) {
                posted = true;
                lastPost = GetTickCount();
            } else {
                scannerSwitchOutstanding = 0;
            }
        } else {
            Sleep(1);
        }
    } while (WaitForSingleObject(loadedEvent, 0) == WAIT_OBJECT_0);
    eventWatchEnded = 1;
    return 0;
}

}  // namespace

// The first instance from its named events to the end of its message loop.
static int runFirstInstance(HINSTANCE instance);

int keyvaneMain(HINSTANCE instance, LPCWSTR commandLine) {
    appInstance = instance;
    for (int i = 0; i < kGlobalCodeListSlots; ++i) settings.Suffix[i] = 0;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));

    HANDLE instanceMutex = nullptr;
    bool gaveUp = false;
    HWND running = findRunningInstance(&instanceMutex, &gaveUp);
    if (running) return passCommandWord(running, commandLine ? commandLine : TEXT(""));
    if (gaveUp) {
        MessageBoxW(GetForegroundWindow(), TEXT("Keyvane is already running"), TEXT("Warning"), MB_OK);
        return -3;
    }
    int code = runFirstInstance(instance);
    if (instanceMutex) CloseHandle(instanceMutex);
    return code;
}

static int runFirstInstance(HINSTANCE instance) {
    enableStateEvent = CreateEventW(nullptr, TRUE, FALSE, TEXT("KVN_Enable_State"));
    enableEvent = CreateEventW(nullptr, TRUE, FALSE, TEXT("KVN_Enable"));
    loadedEvent = CreateEventW(nullptr, TRUE, TRUE, TEXT("KVN_Loaded"));

    // A wedge that ended in the middle of a shifted character may have left
    // Shift down; release it before anything is typed.
    if (GetAsyncKeyState(VK_SHIFT) & 0x8000) keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);

    int32_t model = 0;
    KernelIoControl(IOCTL_HAL_GET_DEVICE_MODEL, nullptr, 0, &model, sizeof(model), nullptr);
    deviceModel = model != 0 ? model : kFallbackDeviceModel;

    // Without the decoder library the engine cannot connect; the settings
    // load and the start-up connect then report it.
    loadDecoderLibrary();
    if (!loadSettings()) return -1;
    if (!connectEngine(0)) return -2;
    SetCursor(nullptr);

    if (!createMainWindow(instance)) return 0;
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_ACCELERATORS));

    // "KVN_Loaded" is set before the event watch starts: the thread ends at
    // its first pass when the event is not signalled, and an event that
    // another program still holds from an earlier run keeps the state that
    // run left (often reset).
    SetEvent(loadedEvent);
    eventWatchEnded = 0;
    HANDLE watch = CreateThread(nullptr, 0, eventWatchThread, nullptr, 0, nullptr);
    if (watch) {
        CloseHandle(watch);
    } else {
        eventWatchEnded = 1;
    }

    MSG msg = {};
    // GetMessageW answers -1 when the thread has no queue; that ends the loop
    // like the quit message instead of spinning on it.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    ResetEvent(loadedEvent);
    // The thread ends at its next pass; give it a bounded while to do so.
    for (int i = 0; i < 1000 && !eventWatchEnded.load(); ++i) Sleep(1);
    CloseHandle(loadedEvent);
    CloseHandle(enableStateEvent);
    CloseHandle(enableEvent);
    return static_cast<int>(msg.wParam);
}
