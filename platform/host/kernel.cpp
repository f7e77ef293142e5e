// Kernel objects of the host terminal: events (named ones shared by every
// process of the terminal), threads, process and thread ids, and the kernel
// I/O control codes of the device model and the 5-volt output.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

// ---------------------------------------------------------------- named events
// A named event lives while some process holds a handle to it, as on the
// device: each slot lists the processes that hold it, and a slot whose
// holders all closed their handles or ended is gone; the next CreateEventW
// makes the event afresh with the initial state it asks for.
constexpr int kNamedEvents = 64;
constexpr size_t kEventNameMax = 260;
constexpr int kEventHolders = 16;

struct EventHolder {
    int32_t pid;  // 0 = free entry
    uint32_t reserved;
    uint64_t started;
};

struct EventSlot {
    uint32_t used;  // set last, when the rest of the slot is written
    uint32_t manual;
    uint32_t state;
    uint32_t nameLength;
    char16_t name[kEventNameMax];
    EventHolder holders[kEventHolders];
};

struct EventRecord {
    hostshared::SharedHeader header;
    EventSlot slots[kNamedEvents];
};

EventRecord* events() {
    return hostshared::map<EventRecord>("events");
}

// The slot of the name (lock held), or null.
template <class Record>
auto findSlot(Record* r, const std::u16string& name) -> decltype(&r->slots[0]) {
    for (auto& s : r->slots)
        if (s.used != 0 && s.nameLength == name.size() && std::memcmp(s.name, name.data(), name.size() * 2) == 0)
            return &s;
    return nullptr;
}

bool holds(const EventHolder& h, const hostinternal::ProcessIdentity& p) {
    return h.pid == p.pid && h.started == p.started;
}

// Adds the process to the slot's holders (lock held); false when the list is
// full of processes that still run.
template <class Slot>
bool addHolder(Slot* s, const hostinternal::ProcessIdentity& p) {
    EventHolder* free = nullptr;
    for (EventHolder& h : s->holders) {
        if (h.pid != 0 && holds(h, p)) return true;
        if (free == nullptr && (h.pid == 0 || !hostinternal::processRuns({h.pid, h.started}))) free = &h;
    }
    if (free == nullptr) return false;
    free->pid = 0;
    hostshared::storeOrder();
    free->started = p.started;
    hostshared::publish(&free->pid, p.pid);
    return true;
}

// Frees the slot when no process that still runs holds it (lock held).
// Returns true when it was freed.
template <class Slot>
bool freeIfUnheld(Slot* s) {
    for (EventHolder& h : s->holders) {
        if (h.pid == 0) continue;
        if (hostinternal::processRuns({h.pid, h.started})) return false;
        h.pid = 0;
    }
    hostshared::publish(&s->used, 0);
    return true;
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
        hostshared::publish(&s->used, 1);
    }
    return s;
}

// The named events this process holds handles to, with their handle counts:
// the process is among an event's holders while its count is above zero.
std::mutex& heldMutex() {
    static std::mutex m;
    return m;
}
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

int64_t realNowMillis() {
    return hostinternal::monotonicNanos() / 1000000;
}

class NamedEvent : public hostobjects::Object {
public:
    NamedEvent(std::u16string name, bool manual) : name_(std::move(name)), manual_(manual) {}

    BOOL setEvent(bool signalled) override {
        EventRecord* r = events();
        if (r == nullptr) {  // the mapping said why
            return FALSE;
        }
        hostshared::Lock lock(&r->header);
        EventSlot* s = slot(r);
        if (s == nullptr) {
            SetLastError(closed_ ? ERROR_INVALID_HANDLE : ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        __atomic_store_n(&s->state, signalled ? 1u : 0u, __ATOMIC_RELEASE);  // read without the lock too
        if (signalled) hostshared::notifyAll(&r->header);
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
        int64_t limit = hostfacility::realMilliseconds(milliseconds);
        int64_t deadline = realNowMillis() + limit;
        hostshared::Lock lock(&r->header);
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
            hostshared::wait(lock, remaining);
        }
    }

    bool keptAfterClose() const override { return true; }

    // Wakes the waits on this handle (they fail). The last handle of this
    // process: the process no longer holds the event, and the event is gone
    // when no other process does.
    void close() override {
        closed_ = true;
        std::lock_guard<std::mutex> guard(heldMutex());
        EventRecord* r = events();
        if (r == nullptr) return;
        auto& held = heldEvents();
        auto it = held.find(name_);
        bool last = it != held.end() && --it->second == 0;
        if (last) held.erase(it);
        hostshared::Lock lock(&r->header);
        hostshared::notifyAll(&r->header);
        EventSlot* s = last ? findSlot(r, name_) : nullptr;
        if (s == nullptr) return;
        hostinternal::ProcessIdentity self = hostinternal::currentProcess();
        for (EventHolder& h : s->holders)
            if (h.pid != 0 && holds(h, self)) h.pid = 0;
        freeIfUnheld(s);
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
            if (s != nullptr) addHolder(s, hostinternal::currentProcess());
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
        hostshared::Lock lock(&r->header);
        EventSlot* s = liveSlot(r, name);
        existed = s != nullptr;
        if (!existed) {
            if (!create) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return nullptr;
            }
            s = createSlot(r, name, manualReset, initialState);
        }
        if (s == nullptr || !addHolder(s, hostinternal::currentProcess())) {
            if (s != nullptr && !existed) hostshared::publish(&s->used, 0);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        manual = s->manual != 0;
        if (!existed && s->state != 0) hostshared::notifyAll(&r->header);
    }
    HANDLE h = hostobjects::add(std::make_shared<NamedEvent>(name, manual));
    ++heldEvents()[name];
    SetLastError(existed && create ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

class LocalEvent : public hostobjects::Object {
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
        } else if (!changed_.wait_for(lock, std::chrono::milliseconds(hostfacility::realMilliseconds(milliseconds)),
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

bool validName(LPCWSTR name, std::u16string& out) {
    size_t n = 0;
    while (name[n] != 0 && n <= kEventNameMax) ++n;
    if (n > kEventNameMax) return false;
    out.assign(name, n);
    return true;
}

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
};

struct MutexRecord {
    hostshared::SharedHeader header;
    MutexSlot slots[kNamedMutexes];
};

MutexRecord* mutexes() {
    return hostshared::map<MutexRecord>("mutexes");
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
        hostshared::publish(&s->used, 1);
    }
    return s;
}

bool ownedByThisThread(const MutexSlot* s) {
    return s->owner.pid != 0 && holds(s->owner, hostinternal::currentProcess()) &&
           s->ownerThread == GetCurrentThreadId();
}

void takeOwnership(MutexSlot* s) {
    s->owner.started = hostinternal::currentProcess().started;
    s->ownerThread = GetCurrentThreadId();
    s->count = 1;
    hostshared::publish(&s->owner.pid, hostinternal::currentProcess().pid);
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

class NamedMutex : public hostobjects::Object {
public:
    explicit NamedMutex(std::u16string name) : name_(std::move(name)) {}

    DWORD wait(DWORD milliseconds) override {
        MutexRecord* r = mutexes();
        if (r == nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
            return WAIT_FAILED;
        }
        int64_t limit = hostfacility::realMilliseconds(milliseconds);
        int64_t deadline = realNowMillis() + limit;
        hostshared::Lock lock(&r->header);
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
            bool abandoned = s->owner.pid != 0 && !hostinternal::processRuns({s->owner.pid, s->owner.started});
            if (s->owner.pid == 0 || abandoned) {
                takeOwnership(s);
                return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
            }
            if (milliseconds == 0) return WAIT_TIMEOUT;
            int64_t remaining = limit < 0 ? -1 : deadline - realNowMillis();
            if (limit >= 0 && remaining <= 0) return WAIT_TIMEOUT;
            // An owner that dies wakes nobody: look again now and then.
            hostshared::wait(lock, remaining < 0 || remaining > 50 ? 50 : remaining);
        }
    }

    BOOL release() {
        MutexRecord* r = mutexes();
        if (r == nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        hostshared::Lock lock(&r->header);
        MutexSlot* s = closed_ ? nullptr : findSlot(r, name_);
        if (s == nullptr || !ownedByThisThread(s)) {
            SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--s->count == 0) {
            hostshared::publish(&s->owner.pid, 0);
            s->ownerThread = 0;
            hostshared::notifyAll(&r->header);
        }
        return TRUE;
    }

    // The last handle of this process: the process no longer holds the mutex,
    // and the mutex is gone when no other process does.
    void close() override {
        closed_ = true;
        std::lock_guard<std::mutex> guard(heldMutex());
        MutexRecord* r = mutexes();
        if (r == nullptr) return;
        auto& held = heldMutexes();
        auto it = held.find(name_);
        bool last = it != held.end() && --it->second == 0;
        if (last) held.erase(it);
        hostshared::Lock lock(&r->header);
        hostshared::notifyAll(&r->header);
        MutexSlot* s = last ? findSlot(r, name_) : nullptr;
        if (s == nullptr) return;
        hostinternal::ProcessIdentity self = hostinternal::currentProcess();
        for (EventHolder& h : s->holders)
            if (h.pid != 0 && holds(h, self)) h.pid = 0;
        freeIfUnheld(s);
    }

private:
    std::u16string name_;
    std::atomic<bool> closed_{false};
};

// ---------------------------------------------------------------- threads
struct ThreadState : hostinternal::Completion {
    bool started = false;
    DWORD id = 0;
};

// ---------------------------------------------------------------- 5-volt output
struct PowerRecord {
    hostshared::SharedHeader header;
    uint32_t switched;
    uint32_t on;
};

PowerRecord* power() {
    return hostshared::map<PowerRecord>("power");
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name == nullptr || name[0] == 0) {
        HANDLE h = hostobjects::add(std::make_shared<LocalEvent>(manualReset != FALSE, initialState != FALSE));
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
        hostshared::Lock lock(&r->header);
        MutexSlot* s = findSlot(r, text);
        if (s != nullptr && freeIfUnheld(s)) s = nullptr;
        existed = s != nullptr;
        if (!existed) s = createMutexSlot(r, text);
        if (s == nullptr || !addHolder(s, hostinternal::currentProcess())) {
            if (s != nullptr && !existed) hostshared::publish(&s->used, 0);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        // The initial ownership is asked for only by the creator.
        if (!existed && initialOwner) takeOwnership(s);
    }
    HANDLE h = hostobjects::add(std::make_shared<NamedMutex>(text));
    ++heldMutexes()[text];
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto object = hostobjects::get(mutex);
    auto* named = dynamic_cast<NamedMutex*>(object.get());
    if (named == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return named->release();
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
    auto object = hostobjects::get(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->setEvent(true);
}

BOOL ResetEvent(HANDLE event) {
    auto object = hostobjects::get(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->setEvent(false);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    try {
        std::thread([state, start, parameter] {
            {
                std::lock_guard<std::mutex> guard(state->mutex);
                state->id = GetCurrentThreadId();
                state->started = true;
            }
            state->changed.notify_all();
            DWORD code = start(parameter);
            {
                std::lock_guard<std::mutex> guard(state->mutex);
                state->code = code;
                state->done = true;
            }
            state->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD id;
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->changed.wait(lock, [&] { return state->started; });
        id = state->id;
    }
    if (threadId != nullptr) *threadId = id;
    SetLastError(ERROR_SUCCESS);
    return hostobjects::add(std::make_shared<hostinternal::CompletionObject>(state));
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    hostinternal::NewsOnReturn news;
    auto object = hostobjects::get(process);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD code = 0;
    if (!object->exitCode(&code)) return FALSE;
    if (exitCode != nullptr) *exitCode = code;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}
DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

namespace hostfacility {
void setFiveVolt(bool on) {
    PowerRecord* p = power();
    if (p == nullptr) return;
    {
        hostshared::Lock lock(&p->header);
        p->switched = 1;
        p->on = on ? 1 : 0;
        hostshared::notifyAll(&p->header);
    }
    hostinternal::appendLog("power.log", on ? "5V on" : "5V off");
}
}  // namespace hostfacility

BOOL KernelIoControl(DWORD ioControlCode, LPVOID, DWORD, LPVOID outBuf, DWORD outBufSize, LPDWORD bytesReturned) {
    hostinternal::NewsOnReturn news;
    if (bytesReturned != nullptr) *bytesReturned = 0;
    switch (ioControlCode) {
        case IOCTL_HAL_GET_DEVICE_MODEL: {
            int32_t model = terminal::model();
            if (model == 0) {
                SetLastError(ERROR_NOT_SUPPORTED);
                return FALSE;
            }
            if (outBuf == nullptr || outBufSize < sizeof model) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            std::memcpy(outBuf, &model, sizeof model);
            if (bytesReturned != nullptr) *bytesReturned = sizeof model;
            return TRUE;
        }
        case IOCTL_5V_OUTPUT_ON:
        case IOCTL_5V_OUTPUT_OFF:
            if (terminal::config("power") != "kernel") {
                SetLastError(ERROR_NOT_SUPPORTED);
                return FALSE;
            }
            hostfacility::setFiveVolt(ioControlCode == IOCTL_5V_OUTPUT_ON);
            return TRUE;
        default:
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
    }
}

namespace terminal {

int eventState(const std::string& name) {
    EventRecord* r = events();
    if (r == nullptr) return -1;
    hostshared::Lock lock(&r->header);
    EventSlot* s = liveSlot(r, hostinternal::fromUtf8(name));
    return s == nullptr ? -1 : static_cast<int>(s->state);
}

std::vector<int> mutexHolders(const std::string& name) {
    std::vector<int> pids;
    MutexRecord* r = mutexes();
    if (r == nullptr) return pids;
    hostshared::Lock lock(&r->header);
    MutexSlot* s = findSlot(r, hostinternal::fromUtf8(name));
    if (s == nullptr) return pids;
    for (const EventHolder& h : s->holders)
        if (h.pid != 0 && hostinternal::processRuns({h.pid, h.started})) pids.push_back(h.pid);
    return pids;
}

void setEventState(const std::string& name, bool signalled) {
    EventRecord* r = events();
    if (r == nullptr) return;
    std::u16string text = hostinternal::fromUtf8(name);
    if (text.empty() || text.size() > kEventNameMax) return;
    hostshared::Lock lock(&r->header);
    EventSlot* s = liveSlot(r, text);
    if (s == nullptr) return;
    __atomic_store_n(&s->state, signalled ? 1u : 0u, __ATOMIC_RELEASE);
    if (signalled) hostshared::notifyAll(&r->header);
}

int fiveVoltState() {
    PowerRecord* p = power();
    if (p == nullptr) return -1;
    hostshared::Lock lock(&p->header);
    return p->switched == 0 ? -1 : static_cast<int>(p->on);
}

}  // namespace terminal
