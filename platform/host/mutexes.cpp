// Named mutexes of the host terminal, shared by every process of the
// terminal, with their inspection for the console.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/host/holders.h"
#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

using namespace host;

// ---------------------------------------------------------------- named mutexes
// A named mutex lives like a named event: while some process holds a handle
// to it. Its owner is a thread of a process (id and start time); a mutex whose
// owning process ended is abandoned, and the next wait takes it with
// WAIT_ABANDONED.
constexpr int kNamedMutexes = 16;

struct MutexSlot {
    uint32_t used;  // set last, when the rest of the slot is written
    uint32_t nameLength;
    char16_t name[kEventNameMax];
    EventHolder holders[kEventHolders];
    EventHolder owner;  // pid 0 = not owned
    uint32_t ownerThread;
    uint32_t count;  // recursive acquisitions of the owner
    // Opened while it existed (CreateMutexW answering ERROR_ALREADY_EXISTS):
    // how often, and by which process last.
    uint32_t openings;
    int32_t lastOpener;
};

struct MutexRecord {
    host::SharedHeader header;
    MutexSlot slots[kNamedMutexes];
};

MutexRecord* mutexes() {
    return host::map<MutexRecord>("mutexes");
}

// Creates the slot, unowned (lock held); null when the table is full.
MutexSlot* createMutexSlot(MutexRecord* r, const std::u16string& name) {
    MutexSlot* s = nullptr;
    for (MutexSlot& candidate : r->slots)
        if (s == nullptr && candidate.used == 0) s = &candidate;
    for (MutexSlot& candidate : r->slots)
        if (s == nullptr && freeIfUnheld(&candidate)) s = &candidate;
    if (s != nullptr) {
        s->nameLength = static_cast<uint32_t>(name.size());
        std::memcpy(s->name, name.data(), name.size() * 2);
        for (EventHolder& h : s->holders) h.pid = 0;
        s->owner = EventHolder{};
        s->ownerThread = 0;
        s->count = 0;
        s->openings = 0;
        s->lastOpener = 0;
        host::publish(&s->used, 1);
    }
    return s;
}

bool ownedByThisThread(const MutexSlot* s) {
    return s->owner.pid != 0 && holds(s->owner, host::currentProcess()) &&
           s->ownerThread == GetCurrentThreadId();
}

void takeOwnership(MutexSlot* s) {
    s->owner.started = host::currentProcess().started;
    s->ownerThread = GetCurrentThreadId();
    s->count = 1;
    host::publish(&s->owner.pid, host::currentProcess().pid);
}

std::map<std::u16string, int>& heldMutexes() {
    static auto* held = new std::map<std::u16string, int>;
    static pid_t owner = getpid();
    if (owner != getpid()) {
        held->clear();
        owner = getpid();
    }
    return *held;
}

class NamedMutex : public host::Object {
public:
    explicit NamedMutex(std::u16string name) : name_(std::move(name)) {}

    DWORD wait(DWORD milliseconds) override {
        MutexRecord* r = mutexes();
        if (r == nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
            return WAIT_FAILED;
        }
        int64_t limit = host::realMilliseconds(milliseconds);
        int64_t deadline = realNowMillis() + limit;
        host::Lock lock(&r->header);
        for (;;) {
            MutexSlot* s = closed_ ? nullptr : findSlot(r, name_);
            if (s == nullptr) {
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
            }
            if (ownedByThisThread(s)) {
                ++s->count;
                return WAIT_OBJECT_0;
            }
            bool abandoned = s->owner.pid != 0 && !host::processRuns({s->owner.pid, s->owner.started});
            if (s->owner.pid == 0 || abandoned) {
                takeOwnership(s);
                return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
            }
            if (milliseconds == 0) return WAIT_TIMEOUT;
            int64_t remaining = limit < 0 ? -1 : deadline - realNowMillis();
            if (limit >= 0 && remaining <= 0) return WAIT_TIMEOUT;
            // An owner that dies wakes nobody: look again now and then.
            host::wait(lock, remaining < 0 || remaining > 50 ? 50 : remaining);
        }
    }

    BOOL release() {
        MutexRecord* r = mutexes();
        if (r == nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        host::Lock lock(&r->header);
        MutexSlot* s = closed_ ? nullptr : findSlot(r, name_);
        if (s == nullptr || !ownedByThisThread(s)) {
            SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--s->count == 0) {
            host::publish(&s->owner.pid, 0);
            s->ownerThread = 0;
            host::notifyAll(&r->header);
        }
        return TRUE;
    }

    // The last handle of this process: the process no longer holds the mutex,
    // and the mutex is gone when no other process does.
    void close() override {
        closed_ = true;
        closeNamed(mutexes, heldMutexes, name_);
    }

private:
    std::u16string name_;
    std::atomic<bool> closed_{false};
};

}  // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    std::u16string text;
    if (name == nullptr || name[0] == 0 || !validName(name, text)) {
        // Unnamed mutexes are of no use to the wedge; the host has none.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    MutexRecord* r = mutexes();
    if (r == nullptr) {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(heldMutex());
    bool existed;
    {
        host::Lock lock(&r->header);
        MutexSlot* s = findSlot(r, text);
        if (s != nullptr && freeIfUnheld(s)) s = nullptr;
        existed = s != nullptr;
        if (!existed) s = createMutexSlot(r, text);
        if (s == nullptr || !addHolder(s, host::currentProcess())) {
            if (s != nullptr && !existed) host::publish(&s->used, 0);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        // The initial ownership is asked for only by the creator.
        if (!existed && initialOwner) takeOwnership(s);
        if (existed) {
            ++s->openings;
            s->lastOpener = host::currentProcess().pid;
        }
    }
    HANDLE h = host::add(std::make_shared<NamedMutex>(text));
    ++heldMutexes()[text];
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto object = host::get(mutex);
    auto* named = dynamic_cast<NamedMutex*>(object.get());
    if (named == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return named->release();
}

namespace terminal {

std::vector<int> mutexHolders(const std::string& name) {
    std::vector<int> pids;
    MutexRecord* r = mutexes();
    if (r == nullptr) return pids;
    host::Lock lock(&r->header);
    MutexSlot* s = findSlot(r, host::fromUtf8(name));
    if (s == nullptr) return pids;
    for (const EventHolder& h : s->holders)
        if (h.pid != 0 && host::processRuns({h.pid, h.started})) pids.push_back(h.pid);
    return pids;
}

MutexOpenings mutexOpenings(const std::string& name) {
    MutexRecord* r = mutexes();
    if (r == nullptr) return {};
    host::Lock lock(&r->header);
    MutexSlot* s = findSlot(r, host::fromUtf8(name));
    if (s == nullptr) return {};
    return MutexOpenings{s->openings, s->lastOpener};
}

}  // namespace terminal
