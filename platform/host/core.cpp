// The host terminal's core: the handle table and the generic calls that
// dispatch through it, the kernel string calls, the terminal clock and the
// cursor calls.
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

// ---------------------------------------------------------------- handle table
namespace hostobjects {

namespace {
struct Table {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<Object>> objects;
    uintptr_t next = 0x100;
};
Table& table() {
    static Table* t = new Table;  // outlives detached threads at exit
    return *t;
}
}  // namespace

BOOL Object::read(void*, DWORD, DWORD* read) {
    if (read != nullptr) *read = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::write(const void*, DWORD, DWORD* written) {
    if (written != nullptr) *written = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
DWORD Object::seek(LONG, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
}
DWORD Object::wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
BOOL Object::setEvent(bool) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::ioControl(DWORD, void*, DWORD, void*, DWORD, DWORD* returned) {
    if (returned != nullptr) *returned = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::exitCode(DWORD*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::setCommMask(DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::waitCommEvent(DWORD*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::getCommTimeouts(COMMTIMEOUTS*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::setCommTimeouts(const COMMTIMEOUTS*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

HANDLE add(std::shared_ptr<Object> object) {
    if (!object) return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> get(HANDLE handle) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return nullptr;
    return it->second;
}

BOOL remove(HANDLE handle) {
    std::shared_ptr<Object> object;
    {
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.mutex);
        auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == t.objects.end()) return FALSE;
        object = std::move(it->second);
        t.objects.erase(it);
    }
    object->removed.store(true, std::memory_order_release);
    object->close();
    return TRUE;
}

}  // namespace hostobjects

namespace {
std::shared_ptr<hostobjects::Object> lookup(HANDLE handle) {
    auto object = hostobjects::get(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}
}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read != nullptr) *read = 0;
    auto object = lookup(file);
    if (!object) return FALSE;
    if (buffer == nullptr && toRead > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD got = 0;
    BOOL ok = object->read(buffer, toRead, &got);
    hostinternal::heardFromOutside();
    if (read != nullptr) *read = got;
    return ok;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr) *written = 0;
    auto object = lookup(file);
    if (!object) return FALSE;
    if (buffer == nullptr && toWrite > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD put = 0;
    BOOL ok = object->write(buffer, toWrite, &put);
    if (written != nullptr) *written = put;
    return ok;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
    auto object = lookup(file);
    if (!object) return INVALID_SET_FILE_POINTER;
    if (distanceHigh != nullptr) *distanceHigh = 0;
    return object->seek(distance, moveMethod);
}

namespace {
// The objects this thread last looked at without waiting, by handle value:
// the next look (the event watch makes three a millisecond) needs neither
// the table's lock nor a reference of its own. Handle values are never
// handed out twice, so an entry stands until its handle is removed; it keeps
// only objects that hold nothing past their close.
struct RecentLook {
    uintptr_t value = 0;
    std::shared_ptr<hostobjects::Object> object;
};
constexpr int kRecentLooks = 4;
thread_local RecentLook recentLooks[kRecentLooks];
thread_local int nextRecentLook = 0;
}  // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (milliseconds == 0) {
        for (const RecentLook& r : recentLooks)
            if (r.value == value && r.object && !r.object->removed.load(std::memory_order_acquire)) {
                DWORD result = r.object->wait(0);
                hostinternal::heardFromOutside();
                return result;
            }
    }
    auto object = lookup(handle);
    if (!object) return WAIT_FAILED;
    if (milliseconds == 0 && object->keptAfterClose()) {
        RecentLook& r = recentLooks[nextRecentLook];
        nextRecentLook = (nextRecentLook + 1) % kRecentLooks;
        r.value = value;
        r.object = object;
    }
    DWORD result = object->wait(milliseconds);
    hostinternal::heardFromOutside();
    return result;
}

BOOL CloseHandle(HANDLE handle) {
    if (!hostobjects::remove(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    auto object = lookup(file);
    return object ? object->setCommMask(eventMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED) {
    auto object = lookup(file);
    if (!object) return FALSE;
    DWORD mask = 0;
    BOOL ok = object->waitCommEvent(&mask);
    hostinternal::heardFromOutside();
    if (eventMask != nullptr) *eventMask = mask;
    return ok;
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto object = lookup(file);
    if (!object) return FALSE;
    if (timeouts == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->getCommTimeouts(timeouts);
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto object = lookup(file);
    if (!object) return FALSE;
    if (timeouts == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->setCommTimeouts(timeouts);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf, DWORD outBufSize,
                     LPDWORD bytesReturned, LPOVERLAPPED) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    auto object = lookup(device);
    if (!object) return FALSE;
    DWORD returned = 0;
    BOOL ok = object->ioControl(ioControlCode, inBuf, inBufSize, outBuf, outBufSize, &returned);
    hostinternal::heardFromOutside();
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok;
}

namespace hostinternal {
int64_t monotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}
}  // namespace hostinternal

// ---------------------------------------------------------------- strings
int lstrlenW(LPCWSTR string) {
    if (string == nullptr) return 0;
    int n = 0;
    while (string[n] != 0 && n < 0x7FFFFFFF) ++n;
    return n;
}

LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR source, int maxLength) {
    if (dest == nullptr || maxLength <= 0) return dest;
    int n = 0;
    if (source != nullptr)
        for (; n + 1 < maxLength && source[n] != 0; ++n) dest[n] = source[n];
    dest[n] = 0;
    return dest;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr) a = u"";
    if (b == nullptr) b = u"";
    for (size_t i = 0;; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        if (a[i] == 0) return 0;
    }
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr) a = u"";
    if (b == nullptr) b = u"";
    auto fold = [](char16_t c) -> unsigned { return (c >= 'A' && c <= 'Z') ? c + 32u : c; };
    for (size_t i = 0;; ++i) {
        unsigned x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// ---------------------------------------------------------------- clock
namespace {

// Terminal time = terminalBase + (real - realBase) x speed. A change of speed
// starts a new base so terminal time never jumps.
struct ClockRecord {
    hostshared::SharedHeader header;
    uint32_t initialised;
    int32_t speed;
    int64_t realBaseNanos;
    int64_t terminalBaseMillis;
};

ClockRecord* clockRecord() {
    auto* c = hostshared::map<ClockRecord>("clock");
    if (c == nullptr || __atomic_load_n(&c->initialised, __ATOMIC_ACQUIRE) != 0) return c;
    hostshared::Lock lock(&c->header);
    if (c->initialised == 0) {
        int speed = atoi(terminal::config("clock").c_str());
        __atomic_store_n(&c->speed, speed < 1 ? 1 : speed, __ATOMIC_RELAXED);
        c->realBaseNanos = hostinternal::monotonicNanos();
        c->terminalBaseMillis = 0;
        hostshared::publish(&c->initialised, 1);
    }
    return c;
}

int64_t terminalMillisLocked(const ClockRecord* c) {
    int64_t elapsed = hostinternal::monotonicNanos() - c->realBaseNanos;
    return c->terminalBaseMillis + elapsed * c->speed / 1000000;
}

// The speed alone is one word: read without the lock.
int sharedClockSpeed() {
    ClockRecord* c = clockRecord();
    if (c == nullptr) return 1;
    int speed = __atomic_load_n(&c->speed, __ATOMIC_RELAXED);
    return speed < 1 ? 1 : speed;
}

}  // namespace

// The speed is kept in the terminal's configuration for the clock's first
// use in a fresh terminal, and in the shared clock for every process now.
namespace terminal {
void setClockSpeed(int factor) {
    if (factor < 1) factor = 1;
    setConfig("clock", std::to_string(factor));
    ClockRecord* c = clockRecord();
    if (c == nullptr) return;
    hostshared::Lock lock(&c->header);
    int64_t now = terminalMillisLocked(c);
    c->terminalBaseMillis = now;
    // The speed before the base: a sleep that reads the base first sees a
    // speed at least as new.
    __atomic_store_n(&c->speed, factor, __ATOMIC_RELEASE);
    __atomic_store_n(&c->realBaseNanos, hostinternal::monotonicNanos(), __ATOMIC_RELEASE);
}

int clockSpeed() {
    return sharedClockSpeed();
}
}  // namespace terminal

namespace hostfacility {
uint64_t terminalNow() {
    ClockRecord* c = clockRecord();
    if (c == nullptr) return 0;
    hostshared::Lock lock(&c->header);
    int64_t now = terminalMillisLocked(c);
    return now < 0 ? 0 : static_cast<uint64_t>(now);
}

int64_t realMilliseconds(DWORD terminalMilliseconds) {
    if (terminalMilliseconds == INFINITE) return -1;
    int speed = sharedClockSpeed();
    return (static_cast<int64_t>(terminalMilliseconds) + speed - 1) / speed;
}
}  // namespace hostfacility

namespace {
void sleepFor(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    // The default timer slack (50 us) would add up over the typing pauses of
    // a delivery; each sleeping thread asks for the finest slack once.
    thread_local bool fineSlack = (prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL), true);
    (void)fineSlack;
    ClockRecord* c = clockRecord();
    if (milliseconds == INFINITE || c == nullptr) {
        int64_t micros = milliseconds == INFINITE ? INT64_MAX / 2 : static_cast<int64_t>(milliseconds) * 1000;
        timespec ts{static_cast<time_t>(micros / 1000000), static_cast<long>((micros % 1000000) * 1000)};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        return;
    }
    // Terminal nanoseconds still to pass. The real pause is rounded up, and
    // neither a lock nor a clock is taken unless the speed changed meanwhile
    // (a change stores the speed before its base, so a base read with the
    // speed after it is never older than the speed): then only the terminal
    // time since the change is known to have passed, and the rest is slept
    // at the new speed, so that a sleep never ends early.
    int64_t left = static_cast<int64_t>(milliseconds) * 1000000;
    int64_t base = __atomic_load_n(&c->realBaseNanos, __ATOMIC_ACQUIRE);
    int64_t speed = __atomic_load_n(&c->speed, __ATOMIC_ACQUIRE);
    for (;;) {
        if (speed < 1) speed = 1;
        int64_t real = (left + speed - 1) / speed;
        timespec ts{static_cast<time_t>(real / 1000000000), static_cast<long>(real % 1000000000)};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        if (__atomic_load_n(&c->realBaseNanos, __ATOMIC_ACQUIRE) == base) return;
        hostshared::Lock lock(&c->header);
        base = c->realBaseNanos;
        speed = c->speed;
        left -= (hostinternal::monotonicNanos() - base) * speed;
        if (left <= 0) return;
    }
}

}  // namespace

void Sleep(DWORD milliseconds) {
    sleepFor(milliseconds);
    hostinternal::heardFromOutside();  // the time passed is news, and what came with it
}

DWORD GetTickCount() {
    return static_cast<DWORD>(hostfacility::terminalNow());
}

// ---------------------------------------------------------------- cursor and GDI stock objects
HCURSOR LoadCursorW(HINSTANCE, LPCWSTR cursorName) {
    return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x7F00) + (reinterpret_cast<uintptr_t>(cursorName) & 0xFF));
}

namespace {
std::atomic<uintptr_t> currentCursor{0};
}

HCURSOR SetCursor(HCURSOR cursor) {
    return reinterpret_cast<HCURSOR>(currentCursor.exchange(reinterpret_cast<uintptr_t>(cursor)));
}

HGDIOBJ GetStockObject(int object) {
    if (object < 0 || object > 31) return nullptr;
    return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x8000 + object));
}
