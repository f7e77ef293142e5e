// Windows and messages of the host terminal. Windows, thread message queues,
// hot keys and tray icons live in one shared record, so that a second process
// finds the running program's window, posts to it and registers hot keys for
// it. Window procedures run in the process (and thread) that owns the window:
// DispatchMessageW calls them for the messages that GetMessageW took from the
// owning thread's queue.
#include "platform/host/windows.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

constexpr int kMaxWindows = 64;
constexpr int kMaxQueues = 32;
constexpr int kQueueMessages = 256;
constexpr int kMaxHotKeys = 2048;
constexpr int kMaxTray = 16;
constexpr int kMenuScript = 64;
constexpr int kNameChars = 100;
constexpr uint32_t kFirstHandle = 0x00A10000;
constexpr int32_t kShellPid = 0;

// Every slot names its process by id and start time (ProcessIdentity): an id
// alone may be a later process's that reuses it.
struct SharedWindow {
    uint32_t handle;  // 0 = free slot
    int32_t pid;
    uint32_t thread;
    uint32_t reserved;
    uint64_t started;
    char16_t title[kNameChars];
    char16_t windowClass[kNameChars];
};

struct SharedMessage {
    uint32_t window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
};

struct SharedQueue {
    int32_t pid;  // 0 = free slot
    uint32_t thread;
    uint64_t started;
    uint32_t head;
    uint32_t count;
    int32_t quit;
    int32_t quitCode;
    int32_t waiting;  // threads blocked in GetMessageW on this queue
};

struct SharedHotKey {
    int32_t used;
    uint32_t window;  // 0 = the registering thread's queue
    int32_t pid;      // kShellPid for the shell's own keys
    uint32_t thread;
    int32_t id;
    uint32_t modifiers;
    uint32_t virtualKey;
    uint64_t started;
};

struct SharedTrayIcon {
    uint32_t window;  // 0 = free slot
    uint32_t id;
    uint32_t callback;
    int32_t pid;
    uint64_t started;
};

struct WindowsState {
    hostshared::SharedHeader header;
    uint32_t seeded;
    uint32_t nextHandle;
    SharedWindow windows[kMaxWindows];
    SharedQueue queues[kMaxQueues];
    SharedHotKey hotKeys[kMaxHotKeys];
    SharedTrayIcon tray[kMaxTray];
    uint32_t menuScript[kMenuScript];
    uint32_t menuHead;
    uint32_t menuCount;
    uint32_t reserved;
    // Each queue's messages, apart from the queues: looking for a queue
    // touches the queues alone, and a process keeps resident only the rings
    // it uses.
    SharedMessage rings[kMaxQueues][kQueueMessages];
};

SharedMessage* ringOf(WindowsState* s, const SharedQueue* q) {
    return s->rings[q - s->queues];
}

// Keys the terminal's shell holds from the start (application keys and the
// soft keys): a program frees them with UnregisterFunc1 before taking them.
struct ShellKey {
    uint32_t modifiers;
    uint32_t virtualKey;
};
constexpr ShellKey kShellKeys[] = {{0, 0x70},       {0, 0x71}, {0, 0x72}, {0, 0x73}, {0, 0x5B},
                                   {MOD_WIN, 0x5B}, {0, 0xC1}, {0, 0xC2}, {0, 0xC3}, {0, 0xC4}};

uint32_t currentThread() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}
uint32_t handleOf(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}
HWND windowOf(uint32_t handle) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
}

// Stores a hot key in its slot, `used` last: a process that dies on the way
// leaves a free slot, never a half-written key.
void storeHotKey(SharedHotKey* slot, const SharedHotKey& key) {
    hostshared::publish(&slot->used, 0);
    hostshared::storeOrder();
    slot->window = key.window;
    slot->pid = key.pid;
    slot->thread = key.thread;
    slot->id = key.id;
    slot->modifiers = key.modifiers;
    slot->virtualKey = key.virtualKey;
    slot->started = key.started;
    hostshared::publish(&slot->used, key.used);
}

void seedShellKeys(WindowsState* s) {
    int slot = 0;
    for (const ShellKey& k : kShellKeys) {
        storeHotKey(&s->hotKeys[slot++], SharedHotKey{1, 0, kShellPid, 0, 0, k.modifiers, k.virtualKey, 0});
    }
    s->nextHandle = kFirstHandle;
    hostshared::publish(&s->seeded, 1);
}

WindowsState* state() {
    WindowsState* s = hostshared::map<WindowsState>("windows");
    if (s && !__atomic_load_n(&s->seeded, __ATOMIC_ACQUIRE)) {
        hostshared::Lock lock(&s->header);
        if (!s->seeded) seedShellKeys(s);
    }
    return s;
}

using hostinternal::ProcessIdentity;

// Whether the process a slot names still runs (the shell's keys are no process's).
bool ownerRuns(int32_t pid, uint64_t started) {
    return pid == kShellPid || hostinternal::processRuns(ProcessIdentity{pid, started});
}
template <class Slot>
bool ownerRuns(const Slot& slot) {
    return ownerRuns(slot.pid, slot.started);
}
template <class Slot>
bool ownedBy(const Slot& slot, const ProcessIdentity& process) {
    return slot.pid == process.pid && slot.started == process.started;
}

// Frees slots, the field that marks them used first: a process that dies on
// the way leaves a free slot, never one that seems to belong to the shell
// (pid 0) or to nobody.
void clearHotKey(SharedHotKey* h) {
    hostshared::publish(&h->used, 0);
    hostshared::storeOrder();
    *h = SharedHotKey{};
}
void clearWindow(SharedWindow* w) {
    hostshared::publish(&w->handle, 0);
    hostshared::storeOrder();
    *w = SharedWindow{};
}
void clearTrayIcon(SharedTrayIcon* t) {
    hostshared::publish(&t->window, 0);
    hostshared::storeOrder();
    *t = SharedTrayIcon{};
}
void clearQueue(SharedQueue* q) {
    hostshared::publish(&q->pid, 0);
    hostshared::storeOrder();
    std::memset(q, 0, sizeof(*q));
}

// Drops what processes that ended left behind (lock held).
void purgeEnded(WindowsState* s) {
    for (SharedWindow& w : s->windows)
        if (w.handle && !ownerRuns(w)) clearWindow(&w);
    for (SharedQueue& q : s->queues)
        if (q.pid && !ownerRuns(q)) clearQueue(&q);
    for (SharedHotKey& h : s->hotKeys)
        if (h.used && !ownerRuns(h)) clearHotKey(&h);
    for (SharedTrayIcon& t : s->tray)
        if (t.window && !ownerRuns(t)) clearTrayIcon(&t);
}

SharedWindow* findWindow(WindowsState* s, uint32_t handle) {
    if (!handle) return nullptr;
    for (SharedWindow& w : s->windows)
        if (w.handle == handle) return &w;
    return nullptr;
}

SharedQueue* findQueue(WindowsState* s, const ProcessIdentity& process, uint32_t thread, bool create) {
    for (SharedQueue& q : s->queues)
        if (ownedBy(q, process) && q.thread == thread) return &q;
    if (!create) return nullptr;
    for (SharedQueue& q : s->queues) {
        if (q.pid == 0 || !ownerRuns(q)) {
            clearQueue(&q);
            q.thread = thread;
            q.started = process.started;
            hostshared::publish(&q.pid, process.pid);
            return &q;
        }
    }
    return nullptr;
}

bool enqueue(WindowsState* s, const ProcessIdentity& process, uint32_t thread, const SharedMessage& m) {
    SharedQueue* q = findQueue(s, process, thread, true);
    if (!q || q->count >= kQueueMessages) return false;
    ringOf(s, q)[(q->head + q->count) % kQueueMessages] = m;
    ++q->count;
    hostshared::notifyAll(&s->header);
    return true;
}

size_t boundedLength(const char16_t* text, size_t limit) {
    size_t n = 0;
    while (text && n < limit && text[n]) ++n;
    return n;
}

void copyName(char16_t* dest, const char16_t* source) {
    size_t n = boundedLength(source, kNameChars - 1);
    for (size_t i = 0; i < n; ++i) dest[i] = source[i];
    dest[n] = 0;
}

bool sameName(const char16_t* a, const char16_t* b) {
    size_t i = 0;
    for (; i < kNameChars && a[i] && b[i]; ++i)
        if (a[i] != b[i]) return false;
    return i == kNameChars || a[i] == b[i];
}

// ------------------------------------------------------------ process-local
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

WNDPROC procedureOf(uint32_t handle) {
    std::lock_guard<std::mutex> guard(localMutex());
    auto it = localWindows().find(handle);
    return it == localWindows().end() ? nullptr : it->second;
}

// Resources are addressed by number; a resource handle points at its table entry.
const hostresources::Resource* resourceOf(LPCWSTR name, hostresources::Kind kind, const char* type = nullptr) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    return hostresources::find(kind, static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)), type);
}

// A menu handle is a position in a menu resource: the entry list from
// `first` at nesting `depth`.
struct LocalMenu {
    const hostresources::Resource* resource;
    size_t first;
    int depth;
};
std::map<uintptr_t, LocalMenu>& localMenus() {
    static std::map<uintptr_t, LocalMenu> menus;
    return menus;
}
uintptr_t nextMenuHandle = 0x4D000;

HMENU makeMenu(const hostresources::Resource* resource, size_t first, int depth) {
    std::lock_guard<std::mutex> guard(localMutex());
    uintptr_t h = ++nextMenuHandle;
    localMenus()[h] = LocalMenu{resource, first, depth};
    return reinterpret_cast<HMENU>(h);
}

bool lookupMenu(HMENU menu, LocalMenu* out) {
    std::lock_guard<std::mutex> guard(localMutex());
    auto it = localMenus().find(reinterpret_cast<uintptr_t>(menu));
    if (it == localMenus().end()) return false;
    *out = it->second;
    return true;
}

std::string menuLogPath() {
    return terminal::root() + "/.terminal/log/menu.log";
}

std::string narrowEscaped(const std::u16string& text) {
    std::string s;
    for (char16_t c : text) {
        if (c == '\\' || c == '\t' || c == '\n' || c < 0x20 || c > 0x7E) {
            char buffer[16];
            std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
            s += buffer;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s;
}

// The text that narrowEscaped wrote; false for any other ("\\" not followed
// by "u" and four hexadecimal digits).
bool unescape(const std::string& text, std::u16string& out) {
    std::u16string s;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            s += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
            continue;
        }
        uint64_t code = 0;
        if (i + 5 >= text.size() || text[i + 1] != 'u' ||
            !hostinternal::readUnsigned(text.substr(i + 2, 4), 16, 0xFFFF, code))
            return false;
        s += static_cast<char16_t>(code);
        i += 5;
    }
    out = s;
    return true;
}

}  // namespace

// ------------------------------------------------------------------ resources
namespace hostresources {
const Resource* find(Kind kind, unsigned id, const char* type) {
    for (size_t i = 0; i < tableCount; ++i) {
        const Resource& r = table[i];
        if (r.kind != kind || r.id != id) continue;
        if (type && std::strcmp(type, r.type) != 0) continue;
        return &r;
    }
    return nullptr;
}
}  // namespace hostresources

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int bufferMax) {
    const hostresources::Resource* r = hostresources::find(hostresources::KindString, id);
    if (!r || !buffer || bufferMax <= 0) return 0;
    size_t n = boundedLength(r->text, static_cast<size_t>(bufferMax - 1));
    for (size_t i = 0; i < n; ++i) buffer[i] = r->text[i];
    buffer[n] = 0;
    return static_cast<int>(n);
}

HANDLE LoadImageW(HINSTANCE, LPCWSTR name, UINT type, int, int, UINT) {
    if (type != IMAGE_ICON) return nullptr;
    const hostresources::Resource* r = resourceOf(name, hostresources::KindIcon);
    return r ? const_cast<hostresources::Resource*>(r) : nullptr;
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    return static_cast<HICON>(LoadImageW(instance, name, IMAGE_ICON, 32, 32, 0));
}

HMENU LoadMenuW(HINSTANCE, LPCWSTR name) {
    const hostresources::Resource* r = resourceOf(name, hostresources::KindMenu);
    return r ? makeMenu(r, 0, 0) : nullptr;
}

HMENU GetSubMenu(HMENU menu, int position) {
    LocalMenu m{};
    if (!lookupMenu(menu, &m) || position < 0) return nullptr;
    int index = 0;
    for (size_t i = m.first; i < m.resource->itemCount; ++i) {
        const hostresources::MenuItem& item = m.resource->items[i];
        if (item.depth < m.depth) break;
        if (item.depth != m.depth) continue;
        if (index++ == position) return item.popup ? makeMenu(m.resource, i + 1, m.depth + 1) : nullptr;
    }
    return nullptr;
}

BOOL DestroyMenu(HMENU menu) {
    std::lock_guard<std::mutex> guard(localMutex());
    return localMenus().erase(reinterpret_cast<uintptr_t>(menu)) ? TRUE : FALSE;
}

HACCEL LoadAcceleratorsW(HINSTANCE, LPCWSTR name) {
    const hostresources::Resource* r = resourceOf(name, hostresources::KindAccelerators);
    return r ? reinterpret_cast<HACCEL>(const_cast<hostresources::Resource*>(r)) : nullptr;
}

int TranslateAcceleratorW(HWND window, HACCEL accelerators, LPMSG msg) {
    if (!accelerators || !msg || msg->message != WM_KEYDOWN) return 0;
    const auto* r = reinterpret_cast<const hostresources::Resource*>(accelerators);
    bool control = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    bool shift = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
    for (size_t i = 0; i < r->acceleratorCount; ++i) {
        const hostresources::Accelerator& a = r->accelerators[i];
        if (a.key != msg->wParam) continue;
        if (((a.flags & hostresources::kAccelControl) != 0) != control) continue;
        if (((a.flags & hostresources::kAccelShift) != 0) != shift) continue;
        WNDPROC procedure = procedureOf(handleOf(window));
        if (procedure) procedure(window, WM_COMMAND, MAKELONG(a.command, 1), 0);
        return 1;
    }
    return 0;
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
    WindowsState* s = state();
    if (!s) return nullptr;
    uint32_t handle = 0;
    {
        hostshared::Lock lock(&s->header);
        purgeEnded(s);
        ProcessIdentity self = hostinternal::currentProcess();
        for (SharedWindow& w : s->windows) {
            if (w.handle) continue;
            handle = s->nextHandle += 4;
            w.pid = self.pid;
            w.started = self.started;
            w.thread = currentThread();
            copyName(w.windowClass, className);
            copyName(w.title, windowName ? windowName : u"");
            hostshared::publish(&w.handle, handle);
            break;
        }
        if (!handle) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        findQueue(s, self, currentThread(), true);
        hostshared::notifyAll(&s->header);
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
        hostshared::Lock lock(&s->header);
        if (SharedWindow* w = findWindow(s, handle)) clearWindow(w);
        return nullptr;
    }
    return windowOf(handle);
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    WindowsState* s = state();
    if (!s) return nullptr;
    char16_t wantedClass[kNameChars] = {};
    char16_t wantedTitle[kNameChars] = {};
    if (className) copyName(wantedClass, className);
    if (windowName) copyName(wantedTitle, windowName);
    hostshared::Lock lock(&s->header);
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
    if (window == hostfacility::focusWindow()) return TRUE;
    WindowsState* s = state();
    if (!s) return FALSE;
    hostshared::Lock lock(&s->header);
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
    if (window && window == hostfacility::focusWindow()) {
        name = hostfacility::focusWindowClass();
    } else {
        WindowsState* s = state();
        if (!s) return 0;
        hostshared::Lock lock(&s->header);
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
    if (window && window == hostfacility::focusWindow()) {
        hostfacility::focusWindowMessage(message, wParam, lParam);
        return TRUE;
    }
    WindowsState* s = state();
    if (!s) return FALSE;
    hostshared::Lock lock(&s->header);
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
    WindowsState* s = state();
    if (!s) return;
    hostshared::Lock lock(&s->header);
    SharedQueue* q = findQueue(s, hostinternal::currentProcess(), currentThread(), true);
    if (!q) return;
    q->quit = 1;
    q->quitCode = exitCode;
    hostshared::notifyAll(&s->header);
}

BOOL GetMessageW(LPMSG msg, HWND, UINT, UINT) {
    WindowsState* s = state();
    if (!s || !msg) return FALSE;
    hostshared::Lock lock(&s->header);
    ProcessIdentity self = hostinternal::currentProcess();
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
        hostshared::wait(lock, -1);
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
    return hostfacility::focusWindow();
}

// The wedge's windows are never activated; only the calling thread's active
// window would be returned.
HWND GetActiveWindow() {
    return nullptr;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND window, void*) {
    LocalMenu m{};
    if (!lookupMenu(menu, &m)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    unsigned choice = 0;
    WindowsState* s = state();
    if (s) {
        hostshared::Lock lock(&s->header);
        if (s->menuCount) {
            choice = s->menuScript[s->menuHead];
            s->menuHead = (s->menuHead + 1) % kMenuScript;
            --s->menuCount;
        }
    }
    std::ostringstream line;
    line << "popup\t" << x << "\t" << y << "\t" << flags << "\t" << choice;
    for (size_t i = m.first; i < m.resource->itemCount; ++i) {
        const hostresources::MenuItem& item = m.resource->items[i];
        if (item.depth < m.depth) break;
        if (item.depth == m.depth) line << "\t" << narrowEscaped(item.text ? item.text : u"-");
    }
    line << "\n";
    std::string text = line.str();
    FILE* log = std::fopen(menuLogPath().c_str(), "a");
    if (log) {
        std::fwrite(text.data(), 1, text.size(), log);
        std::fclose(log);
    }
    if (!choice) return 0;
    if (!(flags & TPM_RETURNCMD)) {
        PostMessageW(window, WM_COMMAND, choice, 0);
        return TRUE;
    }
    return static_cast<BOOL>(choice);
}

// ------------------------------------------------------------------ hot keys
BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey) {
    WindowsState* s = state();
    if (!s) return FALSE;
    uint32_t owner = handleOf(window);
    hostshared::Lock lock(&s->header);
    ProcessIdentity process = hostinternal::currentProcess();
    uint32_t thread = currentThread();
    if (owner) {
        const SharedWindow* w = findWindow(s, owner);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        process = ProcessIdentity{w->pid, w->started};
        thread = w->thread;
    }
    auto sameOwner = [&](const SharedHotKey& h) {
        return h.pid != kShellPid && h.window == owner && (owner || (ownedBy(h, process) && h.thread == thread));
    };
    SharedHotKey* replace = nullptr;
    SharedHotKey* freeSlot = nullptr;
    for (SharedHotKey& h : s->hotKeys) {
        if (!h.used) {
            if (!freeSlot) freeSlot = &h;
            continue;
        }
        if (sameOwner(h) && h.id == id) {
            replace = &h;
            continue;
        }
        if (h.modifiers == modifiers && h.virtualKey == virtualKey && !sameOwner(h)) {
            if (ownerRuns(h)) {
                SetLastError(ERROR_HOTKEY_ALREADY_REGISTERED);
                return FALSE;
            }
            clearHotKey(&h);
            if (!freeSlot) freeSlot = &h;
        }
    }
    // A window registering an id it already holds moves the id to the new key.
    SharedHotKey* slot = replace ? replace : freeSlot;
    if (!slot) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    storeHotKey(slot, SharedHotKey{1, owner, process.pid, thread, id, modifiers, virtualKey, process.started});
    hostshared::notifyAll(&s->header);
    return TRUE;
}

BOOL UnregisterHotKey(HWND window, int id) {
    WindowsState* s = state();
    if (!s) return FALSE;
    uint32_t owner = handleOf(window);
    ProcessIdentity self = hostinternal::currentProcess();
    uint32_t thread = currentThread();
    hostshared::Lock lock(&s->header);
    for (SharedHotKey& h : s->hotKeys) {
        if (!h.used || h.pid == kShellPid || h.window != owner || h.id != id) continue;
        if (!owner && (!ownedBy(h, self) || h.thread != thread)) continue;
        clearHotKey(&h);
        hostshared::notifyAll(&s->header);
        return TRUE;
    }
    SetLastError(ERROR_HOTKEY_NOT_REGISTERED);
    return FALSE;
}

BOOL UnregisterFunc1(UINT modifiers, int virtualKey) {
    WindowsState* s = state();
    if (!s) return FALSE;
    hostshared::Lock lock(&s->header);
    for (SharedHotKey& h : s->hotKeys) {
        if (h.used && h.pid == kShellPid && h.modifiers == modifiers && h.virtualKey == static_cast<UINT>(virtualKey)) {
            clearHotKey(&h);
            hostshared::notifyAll(&s->header);
            return TRUE;
        }
    }
    return FALSE;
}

namespace {
// A key press the keyboard does not deliver when a hot key takes it. Returns
// true when a registered hot key matched (WM_HOTKEY posted).
bool dispatchHotKey(unsigned virtualKey, unsigned modifiers) {
    WindowsState* s = state();
    if (!s) return false;
    hostshared::Lock lock(&s->header);
    for (SharedHotKey& h : s->hotKeys) {
        if (!h.used || h.modifiers != modifiers || h.virtualKey != virtualKey) continue;
        if (h.pid == kShellPid) return true;  // the shell takes its own keys
        if (!ownerRuns(h)) {
            clearHotKey(&h);
            continue;
        }
        SharedMessage m{h.window, WM_HOTKEY, static_cast<uint64_t>(h.id),
                        static_cast<int64_t>(MAKELPARAM(modifiers, virtualKey))};
        enqueue(s, ProcessIdentity{h.pid, h.started}, h.thread, m);
        return true;
    }
    return false;
}
}  // namespace

// A key pressed on the keypad: recorded down, offered to a hot key, typed
// when none takes it.
void terminal::pressKey(int virtualKey) {
    unsigned modifiers = 0;
    if (!hostfacility::userKeyDown(virtualKey, modifiers)) return;
    // Offered without the keyboard lock: the hot-key owner may be busy reading it.
    if (dispatchHotKey(static_cast<unsigned>(virtualKey), modifiers)) return;
    hostfacility::typeUserKey(virtualKey);
}

// ------------------------------------------------------------------ tray
BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data) {
    if (!data || !data->hWnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WindowsState* s = state();
    if (!s) return FALSE;
    uint32_t window = handleOf(data->hWnd);
    hostshared::Lock lock(&s->header);
    SharedTrayIcon* existing = nullptr;
    SharedTrayIcon* freeSlot = nullptr;
    for (SharedTrayIcon& t : s->tray) {
        if (t.window == window && t.id == data->uID) existing = &t;
        if (!t.window && !freeSlot) freeSlot = &t;
    }
    switch (message) {
        case NIM_ADD: {
            const SharedWindow* w = findWindow(s, window);
            if (existing || !freeSlot || !w || !(data->uFlags & NIF_ICON) || !data->hIcon) return FALSE;
            freeSlot->id = data->uID;
            freeSlot->callback = (data->uFlags & NIF_MESSAGE) ? data->uCallbackMessage : 0;
            freeSlot->pid = w->pid;
            freeSlot->started = w->started;
            hostshared::publish(&freeSlot->window, window);
            break;
        }
        case NIM_MODIFY:
            if (!existing) return FALSE;
            if (data->uFlags & NIF_MESSAGE) existing->callback = data->uCallbackMessage;
            break;
        case NIM_DELETE:
            if (!existing) return FALSE;
            clearTrayIcon(existing);
            break;
        default:
            return FALSE;
    }
    hostshared::notifyAll(&s->header);
    return TRUE;
}

// ------------------------------------------------------------------ inspection
namespace terminal {

std::vector<WindowInfo> windows() {
    std::vector<WindowInfo> result;
    WindowsState* s = state();
    if (!s) return result;
    hostshared::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedWindow& w : s->windows) {
        if (!w.handle) continue;
        result.push_back(WindowInfo{w.handle, w.pid, std::u16string(w.title, boundedLength(w.title, kNameChars)),
                                    std::u16string(w.windowClass, boundedLength(w.windowClass, kNameChars))});
    }
    return result;
}

std::vector<HotKey> hotKeys() {
    std::vector<HotKey> result;
    WindowsState* s = state();
    if (!s) return result;
    hostshared::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedHotKey& h : s->hotKeys)
        if (h.used) result.push_back(HotKey{h.window, h.pid, h.id, h.modifiers, h.virtualKey});
    return result;
}

std::vector<std::pair<uint32_t, unsigned>> trayIcons() {
    std::vector<std::pair<uint32_t, unsigned>> result;
    WindowsState* s = state();
    if (!s) return result;
    hostshared::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedTrayIcon& t : s->tray)
        if (t.window) result.emplace_back(t.window, t.id);
    return result;
}

void reuseProcessId(int endedPid, int reusingPid) {
    WindowsState* s = state();
    if (!s || endedPid == kShellPid || reusingPid == kShellPid) return;
    hostshared::Lock lock(&s->header);
    for (SharedWindow& w : s->windows)
        if (w.handle && w.pid == endedPid) w.pid = reusingPid;
    for (SharedQueue& q : s->queues)
        if (q.pid == endedPid) q.pid = reusingPid;
    for (SharedHotKey& h : s->hotKeys)
        if (h.used && h.pid == endedPid) h.pid = reusingPid;
    for (SharedTrayIcon& t : s->tray)
        if (t.window && t.pid == endedPid) t.pid = reusingPid;
}

bool tapTray() {
    WindowsState* s = state();
    if (!s) return false;
    hostshared::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedTrayIcon& t : s->tray) {
        if (!t.window || !t.callback) continue;
        const SharedWindow* w = findWindow(s, t.window);
        if (!w) continue;
        return enqueue(s, ProcessIdentity{w->pid, w->started}, w->thread,
                       SharedMessage{t.window, t.callback, t.id, WM_LBUTTONUP});
    }
    return false;
}

void scriptMenuChoice(unsigned command) {
    WindowsState* s = state();
    if (!s) return;
    hostshared::Lock lock(&s->header);
    if (s->menuCount >= kMenuScript) return;
    s->menuScript[(s->menuHead + s->menuCount) % kMenuScript] = command;
    ++s->menuCount;
}

std::vector<MenuPopup> menuPopups() {
    std::vector<MenuPopup> result;
    std::ifstream in(menuLogPath());
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t')) fields.push_back(field);
        // A line this terminal did not write is passed over.
        if (fields.size() < 5 || fields[0] != "popup") continue;
        int64_t x = 0, y = 0;
        uint64_t flags = 0, choice = 0;
        if (!hostinternal::readSigned(fields[1], INT32_MIN, INT32_MAX, x) ||
            !hostinternal::readSigned(fields[2], INT32_MIN, INT32_MAX, y) ||
            !hostinternal::readUnsigned(fields[3], 10, UINT32_MAX, flags) ||
            !hostinternal::readUnsigned(fields[4], 10, UINT32_MAX, choice))
            continue;
        MenuPopup p{
            static_cast<int>(x), static_cast<int>(y), static_cast<unsigned>(flags), static_cast<unsigned>(choice), {}};
        bool readable = true;
        for (size_t i = 5; i < fields.size() && readable; ++i) {
            std::u16string item;
            readable = unescape(fields[i], item);
            p.items.push_back(item);
        }
        if (!readable) continue;
        result.push_back(p);
    }
    return result;
}

bool messageLoopIdle(int pid) {
    WindowsState* s = state();
    if (!s) return false;
    hostshared::Lock lock(&s->header);
    for (const SharedQueue& q : s->queues)
        if (q.pid == pid && q.waiting > 0 && q.count == 0 && ownerRuns(q)) return true;
    return false;
}

int queuedMessages(int pid) {
    WindowsState* s = state();
    if (!s) return 0;
    hostshared::Lock lock(&s->header);
    int n = 0;
    for (const SharedQueue& q : s->queues)
        if (q.pid == pid && ownerRuns(q)) n += static_cast<int>(q.count);
    return n;
}

}  // namespace terminal
