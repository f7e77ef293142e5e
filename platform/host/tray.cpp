// The tray of the host terminal: icons in the shared record
// (windows_record.h), a tap posting an icon's callback message to its window.
#include <utility>
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/terminal.h"
#include "platform/host/windows_record.h"

using namespace host;

BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data) {
    if (!data || !data->hWnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WindowsState* s = host::windowsState();
    if (!s) return FALSE;
    uint32_t window = handleOf(data->hWnd);
    host::Lock lock(&s->header);
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
            host::publish(&freeSlot->window, window);
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
    host::notifyAll(&s->header);
    return TRUE;
}

namespace terminal {

std::vector<std::pair<uint32_t, unsigned>> trayIcons() {
    std::vector<std::pair<uint32_t, unsigned>> result;
    WindowsState* s = host::windowsState();
    if (!s) return result;
    host::Lock lock(&s->header);
    purgeEnded(s);
    for (const SharedTrayIcon& t : s->tray)
        if (t.window) result.emplace_back(t.window, t.id);
    return result;
}

bool tapTray() {
    WindowsState* s = host::windowsState();
    if (!s) return false;
    host::Lock lock(&s->header);
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

}  // namespace terminal
