// The shared record of windows, queues, hot keys and tray icons: seeding,
// the slots' life and the look-ups the services share.
#include "platform/host/windows_record.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "platform/host/terminal.h"

namespace host {

namespace {

// Keys the terminal's shell holds from the start (application keys and the
// soft keys): a program frees them with UnregisterFunc1 before taking them.
struct ShellKey {
    uint32_t modifiers;
    uint32_t virtualKey;
};
constexpr ShellKey kShellKeys[] = {{0, 0x70},       {0, 0x71}, {0, 0x72}, {0, 0x73}, {0, 0x5B},
                                   {MOD_WIN, 0x5B}, {0, 0xC1}, {0, 0xC2}, {0, 0xC3}, {0, 0xC4}};

void seedShellKeys(WindowsState* s) {
    int slot = 0;
    for (const ShellKey& k : kShellKeys) {
        storeHotKey(&s->hotKeys[slot++], SharedHotKey{1, 0, kShellPid, 0, 0, k.modifiers, k.virtualKey, 0});
    }
    s->nextHandle = kFirstHandle;
    host::publish(&s->seeded, 1);
}

}  // namespace

uint32_t currentThread() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// Stores a hot key in its slot, `used` last: a process that dies on the way
// leaves a free slot, never a half-written key.
void storeHotKey(SharedHotKey* slot, const SharedHotKey& key) {
    host::publish(&slot->used, 0);
    host::storeOrder();
    slot->window = key.window;
    slot->pid = key.pid;
    slot->thread = key.thread;
    slot->id = key.id;
    slot->modifiers = key.modifiers;
    slot->virtualKey = key.virtualKey;
    slot->started = key.started;
    host::publish(&slot->used, key.used);
}

WindowsState* windowsState() {
    WindowsState* s = host::map<WindowsState>("windows");
    if (s && !__atomic_load_n(&s->seeded, __ATOMIC_ACQUIRE)) {
        host::Lock lock(&s->header);
        if (!s->seeded) seedShellKeys(s);
    }
    return s;
}

// Whether the process a slot names still runs (the shell's keys are no process's).
bool ownerRuns(int32_t pid, uint64_t started) {
    return pid == kShellPid || host::processRuns(ProcessIdentity{pid, started});
}

// Frees slots, the field that marks them used first: a process that dies on
// the way leaves a free slot, never one that seems to belong to the shell
// (pid 0) or to nobody.
void clearHotKey(SharedHotKey* h) {
    host::publish(&h->used, 0);
    host::storeOrder();
    *h = SharedHotKey{};
}
void clearWindow(SharedWindow* w) {
    host::publish(&w->handle, 0);
    host::storeOrder();
    *w = SharedWindow{};
}
void clearTrayIcon(SharedTrayIcon* t) {
    host::publish(&t->window, 0);
    host::storeOrder();
    *t = SharedTrayIcon{};
}
void clearQueue(SharedQueue* q) {
    host::publish(&q->pid, 0);
    host::storeOrder();
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
            host::publish(&q.pid, process.pid);
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
    host::notifyAll(&s->header);
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

}  // namespace host

// ------------------------------------------------------------------ inspection
using namespace host;

namespace terminal {

void reuseProcessId(int endedPid, int reusingPid) {
    WindowsState* s = windowsState();
    if (!s || endedPid == kShellPid || reusingPid == kShellPid) return;
    host::Lock lock(&s->header);
    for (SharedWindow& w : s->windows)
        if (w.handle && w.pid == endedPid) w.pid = reusingPid;
    for (SharedQueue& q : s->queues)
        if (q.pid == endedPid) q.pid = reusingPid;
    for (SharedHotKey& h : s->hotKeys)
        if (h.used && h.pid == endedPid) h.pid = reusingPid;
    for (SharedTrayIcon& t : s->tray)
        if (t.window && t.pid == endedPid) t.pid = reusingPid;
}

}  // namespace terminal
