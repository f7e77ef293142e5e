// Hot keys of the host terminal: registered in the shared record
// (windows_record.h) by window or thread, offered every key the keypad
// presses, posted as WM_HOTKEY to their owner's queue. The terminal's shell
// holds its application and soft keys from the start.
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/terminal.h"
#include "platform/host/windows_record.h"

using namespace host;

BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey) {
    WindowsState* s = host::windowsState();
    if (!s) return FALSE;
    uint32_t owner = handleOf(window);
    host::Lock lock(&s->header);
    ProcessIdentity process = host::currentProcess();
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
    host::notifyAll(&s->header);
    return TRUE;
}

BOOL UnregisterHotKey(HWND window, int id) {
    WindowsState* s = host::windowsState();
    if (!s) return FALSE;
    uint32_t owner = handleOf(window);
    ProcessIdentity self = host::currentProcess();
    uint32_t thread = currentThread();
    host::Lock lock(&s->header);
    for (SharedHotKey& h : s->hotKeys) {
        if (!h.used || h.pid == kShellPid || h.window != owner || h.id != id) continue;
        if (!owner && (!ownedBy(h, self) || h.thread != thread)) continue;
        clearHotKey(&h);
        host::notifyAll(&s->header);
        return TRUE;
    }
    SetLastError(ERROR_HOTKEY_NOT_REGISTERED);
    return FALSE;
}

BOOL UnregisterFunc1(UINT modifiers, int virtualKey) {
    WindowsState* s = host::windowsState();
    if (!s) return FALSE;
    host::Lock lock(&s->header);
    for (SharedHotKey& h : s->hotKeys) {
        if (h.used && h.pid == kShellPid && h.modifiers == modifiers && h.virtualKey == static_cast<UINT>(virtualKey)) {
            clearHotKey(&h);
            host::notifyAll(&s->header);
            return TRUE;
        }
    }
    return FALSE;
}

namespace {
// A key press the keyboard does not deliver when a hot key takes it. Returns
// true when a registered hot key matched (WM_HOTKEY posted).
bool dispatchHotKey(unsigned virtualKey, unsigned modifiers) {
    WindowsState* s = host::windowsState();
    if (!s) return false;
    host::Lock lock(&s->header);
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
    if (!host::userKeyDown(virtualKey, modifiers)) return;
    // Offered without the keyboard lock: the hot-key owner may be busy reading it.
    if (dispatchHotKey(static_cast<unsigned>(virtualKey), modifiers)) return;
    host::typeUserKey(virtualKey);
}

namespace terminal {

std::vector<HotKey> hotKeys() {
    std::vector<HotKey> result;
    WindowsState* s = host::windowsState();
    if (!s) return result;
    host::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedHotKey& h : s->hotKeys)
        if (h.used) result.push_back(HotKey{h.window, h.pid, h.id, h.modifiers, h.virtualKey});
    return result;
}

}  // namespace terminal
