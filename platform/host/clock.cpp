// The terminal clock: terminal time runs at a speed set by the console
// (`clock = N`), shared by every process; sleeps and tick counts read it.
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/host/internal.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace host {
int64_t monotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}
}  // namespace host

// ---------------------------------------------------------------- clock
namespace {

// Terminal time = terminalBase + (real - realBase) x speed. A change of speed
// starts a new base so terminal time never jumps.
struct ClockRecord {
    host::SharedHeader header;
    uint32_t initialised;
    int32_t speed;
    int64_t realBaseNanos;
    int64_t terminalBaseMillis;
};

ClockRecord* clockRecord() {
    auto* c = host::map<ClockRecord>("clock");
    if (c == nullptr || __atomic_load_n(&c->initialised, __ATOMIC_ACQUIRE) != 0) return c;
    host::Lock lock(&c->header);
    if (c->initialised == 0) {
        int speed = atoi(terminal::config("clock").c_str());
        __atomic_store_n(&c->speed, speed < 1 ? 1 : speed, __ATOMIC_RELAXED);
        c->realBaseNanos = host::monotonicNanos();
        c->terminalBaseMillis = 0;
        host::publish(&c->initialised, 1);
    }
    return c;
}

int64_t terminalMillisLocked(const ClockRecord* c) {
    int64_t elapsed = host::monotonicNanos() - c->realBaseNanos;
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
    host::Lock lock(&c->header);
    int64_t now = terminalMillisLocked(c);
    c->terminalBaseMillis = now;
    // The speed before the base: a sleep that reads the base first sees a
    // speed at least as new.
    __atomic_store_n(&c->speed, factor, __ATOMIC_RELEASE);
    __atomic_store_n(&c->realBaseNanos, host::monotonicNanos(), __ATOMIC_RELEASE);
}

int clockSpeed() {
    return sharedClockSpeed();
}
}  // namespace terminal

namespace host {
uint64_t terminalNow() {
    ClockRecord* c = clockRecord();
    if (c == nullptr) return 0;
    host::Lock lock(&c->header);
    int64_t now = terminalMillisLocked(c);
    return now < 0 ? 0 : static_cast<uint64_t>(now);
}

int64_t realMilliseconds(DWORD terminalMilliseconds) {
    if (terminalMilliseconds == INFINITE) return -1;
    int speed = sharedClockSpeed();
    return (static_cast<int64_t>(terminalMilliseconds) + speed - 1) / speed;
}
}  // namespace host

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
        host::Lock lock(&c->header);
        base = c->realBaseNanos;
        speed = c->speed;
        left -= (host::monotonicNanos() - base) * speed;
        if (left <= 0) return;
    }
}

}  // namespace

void Sleep(DWORD milliseconds) {
    sleepFor(milliseconds);
    host::heardFromOutside();  // the time passed is news, and what came with it
}

DWORD GetTickCount() {
    return static_cast<DWORD>(host::terminalNow());
}
