// The shared parts of the host's named kernel objects (events, mutexes): a
// named object lives in a slot of a shared record while some process holds
// a handle to it; each slot lists the processes that hold it.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/host/internal.h"
#include "platform/host/shared.h"

namespace host {

constexpr size_t kEventNameMax = 260;
constexpr int kEventHolders = 16;

struct EventHolder {
    int32_t pid;  // 0 = free entry
    uint32_t reserved;
    uint64_t started;
};

// The slot of the name (lock held), or null.
template <class Record>
auto findSlot(Record* r, const std::u16string& name) -> decltype(&r->slots[0]) {
    for (auto& s : r->slots)
        if (s.used != 0 && s.nameLength == name.size() && std::memcmp(s.name, name.data(), name.size() * 2) == 0)
            return &s;
    return nullptr;
}

inline bool holds(const EventHolder& h, const host::ProcessIdentity& p) {
    return h.pid == p.pid && h.started == p.started;
}

// Adds the process to the slot's holders (lock held); false when the list is
// full of processes that still run.
template <class Slot>
inline bool addHolder(Slot* s, const host::ProcessIdentity& p) {
    EventHolder* free = nullptr;
    for (EventHolder& h : s->holders) {
        if (h.pid != 0 && holds(h, p)) return true;
        if (free == nullptr && (h.pid == 0 || !host::processRuns({h.pid, h.started}))) free = &h;
    }
    if (free == nullptr) return false;
    free->pid = 0;
    host::storeOrder();
    free->started = p.started;
    host::publish(&free->pid, p.pid);
    return true;
}

// Frees the slot when no process that still runs holds it (lock held).
// Returns true when it was freed.
template <class Slot>
inline bool freeIfUnheld(Slot* s) {
    for (EventHolder& h : s->holders) {
        if (h.pid == 0) continue;
        if (host::processRuns({h.pid, h.started})) return false;
        h.pid = 0;
    }
    host::publish(&s->used, 0);
    return true;
}

// Guards this process's lists of the named objects it holds handles to.
inline std::mutex& heldMutex() {
    static std::mutex m;
    return m;
}

// A handle of this process to the named object closed: `record` maps the
// objects' shared record, `held` gives this process's count of handles by
// name (both asked under heldMutex). At its last handle the process no longer holds
// the object, and the object is gone when no other process does. Wakes the
// record's waiters either way (a wait on a closed handle fails).
template <class RecordOf, class HeldOf>
void closeNamed(RecordOf record, HeldOf heldOf, const std::u16string& name) {
    std::lock_guard<std::mutex> guard(heldMutex());
    auto* r = record();
    if (r == nullptr) return;
    auto& held = heldOf();
    auto it = held.find(name);
    bool last = it != held.end() && --it->second == 0;
    if (last) held.erase(it);
    host::Lock lock(&r->header);
    host::notifyAll(&r->header);
    auto* s = last ? findSlot(r, name) : nullptr;
    if (s == nullptr) return;
    host::ProcessIdentity self = host::currentProcess();
    for (EventHolder& h : s->holders)
        if (h.pid != 0 && holds(h, self)) h.pid = 0;
    freeIfUnheld(s);
}

inline int64_t realNowMillis() {
    return host::monotonicNanos() / 1000000;
}

// A name within kEventNameMax units, copied to `out`; false when longer.
inline bool validName(LPCWSTR name, std::u16string& out) {
    size_t n = 0;
    while (name[n] != 0 && n <= kEventNameMax) ++n;
    if (n > kEventNameMax) return false;
    out.assign(name, n);
    return true;
}

}  // namespace host
