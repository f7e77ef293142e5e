// Events of the host terminal: local ones, and named ones shared by every
// process of the terminal, with their inspection for the console.
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

// ---------------------------------------------------------------- named events
// A named event lives while some process holds a handle to it, as on the
// device: each slot lists the processes that hold it, and a slot whose
// holders all closed their handles or ended is gone; the next CreateEventW
// makes the event afresh with the initial state it asks for.
constexpr int kNamedEvents = 64;

struct EventSlot {
    uint32_t used;  // set last, when the rest of the slot is written
    uint32_t manual;
    uint32_t state;
    uint32_t nameLength;
    char16_t name[kEventNameMax];
    EventHolder holders[kEventHolders];
};

struct EventRecord {
    host::SharedHeader header;
    EventSlot slots[kNamedEvents];
};

EventRecord* events() {
    return host::map<EventRecord>("events");
}

// The slot of the name while some running process holds it (lock held).
EventSlot* liveSlot(EventRecord* r, const std::u16string& name) {
    EventSlot* s = findSlot(r, name);
    return s != nullptr && !freeIfUnheld(s) ? s : nullptr;
}

// Creates the slot (lock held); null when the table is full.
EventSlot* createSlot(EventRecord* r, const std::u16string& name, bool manual, bool state) {
    EventSlot* s = nullptr;
    for (EventSlot& candidate : r->slots)
        if (s == nullptr && candidate.used == 0) s = &candidate;
    for (EventSlot& candidate : r->slots)
        if (s == nullptr && freeIfUnheld(&candidate)) s = &candidate;
    if (s != nullptr) {
        s->manual = manual ? 1 : 0;
        __atomic_store_n(&s->state, state ? 1u : 0u, __ATOMIC_RELAXED);
        s->nameLength = static_cast<uint32_t>(name.size());
        std::memcpy(s->name, name.data(), name.size() * 2);
        for (EventHolder& h : s->holders) h.pid = 0;
        host::publish(&s->used, 1);
    }
    return s;
}

// The named events this process holds handles to, with their handle counts:
// the process is among an event's holders while its count is above zero.
std::map<std::u16string, int>& heldEvents() {
    static auto* held = new std::map<std::u16string, int>;
    static pid_t owner = getpid();
    // A forked child holds none of its parent's events.
    if (owner != getpid()) {
        held->clear();
        owner = getpid();
    }
    return *held;
}

class NamedEvent : public host::Object {
public:
    NamedEvent(std::u16string name, bool manual) : name_(std::move(name)), manual_(manual) {}

    BOOL setEvent(bool signalled) override {
        EventRecord* r = events();
        if (r == nullptr) {  // the mapping said why
            return FALSE;
        }
        host::Lock lock(&r->header);
        EventSlot* s = slot(r);
        if (s == nullptr) {
            SetLastError(closed_ ? ERROR_INVALID_HANDLE : ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        __atomic_store_n(&s->state, signalled ? 1u : 0u, __ATOMIC_RELEASE);  // read without the lock too
        if (signalled) host::notifyAll(&r->header);
        return TRUE;
    }

    DWORD wait(DWORD milliseconds) override {
        EventRecord* r = events();
        if (r == nullptr) {  // the mapping said why
            return WAIT_FAILED;
        }
        // A look without waiting at a manual-reset event changes nothing: its
        // state word is read as it is now, without the lock (the slot this
        // handle found last is still its own while its name is there).
        if (milliseconds == 0 && manual_ && !closed_.load(std::memory_order_relaxed)) {
            int hint = hint_.load(std::memory_order_relaxed);
            if (hint >= 0) {
                const EventSlot& h = r->slots[hint];
                if (__atomic_load_n(&h.used, __ATOMIC_ACQUIRE) != 0 &&
                    __atomic_load_n(&h.nameLength, __ATOMIC_RELAXED) == name_.size() &&
                    std::memcmp(h.name, name_.data(), name_.size() * 2) == 0)
                    return __atomic_load_n(&h.state, __ATOMIC_ACQUIRE) != 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
            }
        }
        int64_t limit = host::realMilliseconds(milliseconds);
        int64_t deadline = realNowMillis() + limit;
        host::Lock lock(&r->header);
        for (;;) {
            EventSlot* s = slot(r);
            if (s == nullptr) {
                SetLastError(closed_ ? ERROR_INVALID_HANDLE : ERROR_NOT_ENOUGH_MEMORY);
                return WAIT_FAILED;
            }
            if (s->state != 0) {
                if (s->manual == 0)
                    __atomic_store_n(&s->state, 0u, __ATOMIC_RELEASE);  // an auto-reset event releases one waiter
                return WAIT_OBJECT_0;
            }
            if (milliseconds == 0) return WAIT_TIMEOUT;
            int64_t remaining = limit < 0 ? -1 : deadline - realNowMillis();
            if (limit >= 0 && remaining <= 0) return WAIT_TIMEOUT;
            host::wait(lock, remaining);
        }
    }

    bool keptAfterClose() const override { return true; }

    // Wakes the waits on this handle (they fail). The last handle of this
    // process: the process no longer holds the event, and the event is gone
    // when no other process does.
    void close() override {
        closed_ = true;
        closeNamed(events, heldEvents, name_);
    }

private:
    // The shared slot (lock held). This process holds the event, so it is
    // there unless the terminal was reset meanwhile: then it comes back
    // non-signalled, held by this process.
    EventSlot* slot(EventRecord* r) {
        if (closed_) return nullptr;  // a call racing the handle's close
        // The slot found last time is looked at first (lock held).
        int hint = hint_.load(std::memory_order_relaxed);
        if (hint >= 0) {
            EventSlot& h = r->slots[hint];
            if (h.used != 0 && h.nameLength == name_.size() && std::memcmp(h.name, name_.data(), name_.size() * 2) == 0)
                return &h;
        }
        EventSlot* s = findSlot(r, name_);
        if (s == nullptr) {
            s = createSlot(r, name_, manual_, false);
            if (s != nullptr) addHolder(s, host::currentProcess());
        }
        if (s != nullptr) hint_.store(static_cast<int>(s - r->slots), std::memory_order_relaxed);
        return s;
    }

    std::u16string name_;
    bool manual_;
    std::atomic<bool> closed_{false};
    std::atomic<int> hint_{-1};
};

// Opens (or, when `create`, creates) the named event for a new handle of
// this process. Sets the last error; null on failure.
HANDLE openNamedEvent(const std::u16string& name, bool create, bool manualReset, bool initialState) {
    EventRecord* r = events();
    if (r == nullptr) {  // the mapping said why
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(heldMutex());
    bool existed;
    bool manual;
    {
        host::Lock lock(&r->header);
        EventSlot* s = liveSlot(r, name);
        existed = s != nullptr;
        if (!existed) {
            if (!create) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return nullptr;
            }
            s = createSlot(r, name, manualReset, initialState);
        }
        if (s == nullptr || !addHolder(s, host::currentProcess())) {
            if (s != nullptr && !existed) host::publish(&s->used, 0);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        manual = s->manual != 0;
        if (!existed && s->state != 0) host::notifyAll(&r->header);
    }
    HANDLE h = host::add(std::make_shared<NamedEvent>(name, manual));
    ++heldEvents()[name];
    SetLastError(existed && create ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

class LocalEvent : public host::Object {
public:
    LocalEvent(bool manual, bool state) : manual_(manual), state_(state) {}

    BOOL setEvent(bool signalled) override {
        std::lock_guard<std::mutex> guard(mutex_);
        state_ = signalled;
        if (signalled) changed_.notify_all();
        return TRUE;
    }

    DWORD wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex_);
        auto ready = [this] { return state_; };
        if (milliseconds == INFINITE) {
            changed_.wait(lock, ready);
        } else if (!changed_.wait_for(lock, std::chrono::milliseconds(host::realMilliseconds(milliseconds)),
                                      ready)) {
            return WAIT_TIMEOUT;
        }
        if (!manual_) state_ = false;
        return WAIT_OBJECT_0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool manual_;
    bool state_;
};

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name == nullptr || name[0] == 0) {
        HANDLE h = host::add(std::make_shared<LocalEvent>(manualReset != FALSE, initialState != FALSE));
        SetLastError(ERROR_SUCCESS);
        return h;
    }
    std::u16string text;
    if (!validName(name, text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return openNamedEvent(text, true, manualReset != FALSE, initialState != FALSE);
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
    std::u16string text;
    if (name == nullptr || name[0] == 0 || !validName(name, text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return openNamedEvent(text, false, false, false);
}

BOOL SetEvent(HANDLE event) {
    auto object = host::get(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->setEvent(true);
}

BOOL ResetEvent(HANDLE event) {
    auto object = host::get(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->setEvent(false);
}

namespace terminal {

int eventState(const std::string& name) {
    EventRecord* r = events();
    if (r == nullptr) return -1;
    host::Lock lock(&r->header);
    EventSlot* s = liveSlot(r, host::fromUtf8(name));
    return s == nullptr ? -1 : static_cast<int>(s->state);
}

void setEventState(const std::string& name, bool signalled) {
    EventRecord* r = events();
    if (r == nullptr) return;
    std::u16string text = host::fromUtf8(name);
    if (text.empty() || text.size() > kEventNameMax) return;
    host::Lock lock(&r->header);
    EventSlot* s = liveSlot(r, text);
    if (s == nullptr) return;
    __atomic_store_n(&s->state, signalled ? 1u : 0u, __ATOMIC_RELEASE);
    if (signalled) host::notifyAll(&r->header);
}

}  // namespace terminal
