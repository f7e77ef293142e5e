// Windows and messages of the host terminal. Windows and thread message
// queues live in the shared record (windows_record.h), so that a second
// process finds the running program's window and posts to it. Window
// procedures run in the process (and thread) that owns the window:
// DispatchMessageW calls them for the messages that GetMessageW took from the
// owning thread's queue.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/host/windows_record.h"

using namespace host;

namespace {

// Window classes and the procedures of this process's windows.
struct LocalClass {
    WNDPROC procedure;
};
std::mutex& localMutex() {
    static std::mutex m;
    return m;
}
std::map<std::u16string, LocalClass>& localClasses() {
    static std::map<std::u16string, LocalClass> classes;
    return classes;
}
std::map<uint32_t, WNDPROC>& localWindows() {
    static std::map<uint32_t, WNDPROC> windows;
    return windows;
}

}  // namespace

WNDPROC host::procedureOf(uint32_t handle) {
    std::lock_guard<std::mutex> guard(localMutex());
    auto it = localWindows().find(handle);
    return it == localWindows().end() ? nullptr : it->second;
}

// ------------------------------------------------------------------ windows
ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string name(windowClass->lpszClassName, boundedLength(windowClass->lpszClassName, kNameChars - 1));
    std::lock_guard<std::mutex> guard(localMutex());
    if (localClasses().count(name)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return 0;
    }
    localClasses()[name] = LocalClass{windowClass->lpfnWndProc};
    return static_cast<ATOM>(0xC000 + localClasses().size());
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    if (!className) return nullptr;
    std::u16string name(className, boundedLength(className, kNameChars - 1));
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(localMutex());
        auto it = localClasses().find(name);
        if (it != localClasses().end()) procedure = it->second.procedure;
    }
    if (!procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    WindowsState* s = host::windowsState();
    if (!s) return nullptr;
    uint32_t handle = 0;
    {
        host::Lock lock(&s->header);
        purgeEnded(s);
        ProcessIdentity self = host::currentProcess();
        for (SharedWindow& w : s->windows) {
            if (w.handle) continue;
            handle = s->nextHandle += 4;
            w.pid = self.pid;
            w.started = self.started;
            w.thread = currentThread();
            copyName(w.windowClass, className);
            copyName(w.title, windowName ? windowName : u"");
            host::publish(&w.handle, handle);
            break;
        }
        if (!handle) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        findQueue(s, self, currentThread(), true);
        host::notifyAll(&s->header);
    }
    {
        std::lock_guard<std::mutex> guard(localMutex());
        localWindows()[handle] = procedure;
    }
    CREATESTRUCTW create = {};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cy = height;
    create.cx = width;
    create.y = y;
    create.x = x;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;
    if (procedure(windowOf(handle), WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        host::Lock lock(&s->header);
        if (SharedWindow* w = findWindow(s, handle)) clearWindow(w);
        return nullptr;
    }
    return windowOf(handle);
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    WindowsState* s = host::windowsState();
    if (!s) return nullptr;
    char16_t wantedClass[kNameChars] = {};
    char16_t wantedTitle[kNameChars] = {};
    if (className) copyName(wantedClass, className);
    if (windowName) copyName(wantedTitle, windowName);
    host::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedWindow& w : s->windows) {
        if (!w.handle) continue;
        if (className && !sameName(w.windowClass, wantedClass)) continue;
        if (windowName && !sameName(w.title, wantedTitle)) continue;
        return windowOf(w.handle);
    }
    return nullptr;
}

BOOL IsWindow(HWND window) {
    if (!window) return FALSE;
    if (window == host::focusWindow()) return TRUE;
    WindowsState* s = host::windowsState();
    if (!s) return FALSE;
    host::Lock lock(&s->header);
    const SharedWindow* w = findWindow(s, handleOf(window));
    return w && ownerRuns(*w) ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
    return IsWindow(window);
}

BOOL ShowWindow(HWND window, int) {
    return FALSE;
}  // was not visible before

int GetClassNameW(HWND window, LPWSTR className, int maxCount) {
    if (!className || maxCount <= 0) return 0;
    std::u16string name;
    if (window && window == host::focusWindow()) {
        name = host::focusWindowClass();
    } else {
        WindowsState* s = host::windowsState();
        if (!s) return 0;
        host::Lock lock(&s->header);
        const SharedWindow* w = findWindow(s, handleOf(window));
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        name.assign(w->windowClass, boundedLength(w->windowClass, kNameChars));
    }
    size_t n = name.size() < static_cast<size_t>(maxCount - 1) ? name.size() : static_cast<size_t>(maxCount - 1);
    for (size_t i = 0; i < n; ++i) className[i] = name[i];
    className[n] = 0;
    return static_cast<int>(n);
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && window == host::focusWindow()) {
        host::focusWindowMessage(message, wParam, lParam);
        return TRUE;
    }
    WindowsState* s = host::windowsState();
    if (!s) return FALSE;
    host::Lock lock(&s->header);
    const SharedWindow* w = findWindow(s, handleOf(window));
    if (!w || !ownerRuns(*w)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!enqueue(s, ProcessIdentity{w->pid, w->started}, w->thread,
                 SharedMessage{w->handle, message, wParam, lParam})) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    WindowsState* s = host::windowsState();
    if (!s) return;
    host::Lock lock(&s->header);
    SharedQueue* q = findQueue(s, host::currentProcess(), currentThread(), true);
    if (!q) return;
    q->quit = 1;
    q->quitCode = exitCode;
    host::notifyAll(&s->header);
}

BOOL GetMessageW(LPMSG msg, HWND, UINT, UINT) {
    WindowsState* s = host::windowsState();
    if (!s || !msg) return FALSE;
    host::Lock lock(&s->header);
    ProcessIdentity self = host::currentProcess();
    for (;;) {
        SharedQueue* q = findQueue(s, self, currentThread(), true);
        if (!q) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return -1;
        }
        if (q->count) {
            const SharedMessage& m = ringOf(s, q)[q->head];
            *msg = MSG{windowOf(m.window), m.message,  static_cast<WPARAM>(m.wParam), static_cast<LPARAM>(m.lParam),
                       GetTickCount(),     POINT{0, 0}};
            q->head = (q->head + 1) % kQueueMessages;
            --q->count;
            return TRUE;
        }
        if (q->quit) {
            *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, GetTickCount(), POINT{0, 0}};
            q->quit = 0;
            return FALSE;
        }
        // No notify here: a waiting loop is only polled (messageLoopIdle), and
        // waking the record's other waiters would wake every other message
        // loop of the terminal, each of which would wake this one in turn.
        ++q->waiting;
        host::wait(lock, -1);
        // The slot may have been purged and reused meanwhile; find it again.
        if (SharedQueue* again = findQueue(s, self, currentThread(), false))
            if (again->waiting > 0) --again->waiting;
    }
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    WNDPROC procedure = procedureOf(handleOf(msg->hwnd));
    return procedure ? procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    if (!paint) return nullptr;
    *paint = PAINTSTRUCT{};
    paint->hdc = reinterpret_cast<HDC>(window);
    return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) {
    return TRUE;
}

int GetSystemMetrics(int index) {
    int width = 240, height = 320;
    std::string screen = terminal::config("screen");
    int w = 0, h = 0;
    if (std::sscanf(screen.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
        width = w;
        height = h;
    }
    if (index == SM_CXSCREEN) return width;
    if (index == SM_CYSCREEN) return height;
    return 0;
}

HWND GetForegroundWindow() {
    return host::focusWindow();
}

// The wedge's windows are never activated; only the calling thread's active
// window would be returned.
HWND GetActiveWindow() {
    return nullptr;
}

// ------------------------------------------------------------------ inspection
namespace terminal {

std::vector<WindowInfo> windows() {
    std::vector<WindowInfo> result;
    WindowsState* s = host::windowsState();
    if (!s) return result;
    host::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedWindow& w : s->windows) {
        if (!w.handle) continue;
        result.push_back(WindowInfo{w.handle, w.pid, std::u16string(w.title, boundedLength(w.title, kNameChars)),
                                    std::u16string(w.windowClass, boundedLength(w.windowClass, kNameChars))});
    }
    return result;
}

bool messageLoopIdle(int pid) {
    WindowsState* s = host::windowsState();
    if (!s) return false;
    host::Lock lock(&s->header);
    for (const SharedQueue& q : s->queues)
        if (q.pid == pid && q.waiting > 0 && q.count == 0 && ownerRuns(q)) return true;
    return false;
}

int queuedMessages(int pid) {
    WindowsState* s = host::windowsState();
    if (!s) return 0;
    host::Lock lock(&s->header);
    int n = 0;
    for (const SharedQueue& q : s->queues)
        if (q.pid == pid && ownerRuns(q)) n += static_cast<int>(q.count);
    return n;
}
}  // namespace terminal
