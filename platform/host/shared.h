// Shared memory of the host terminal. Each facility (events, windows,
// keyboard, ...) keeps a fixed-size record in a file of <root>/.terminal/state,
// mapped by every attached process, beginning with a SharedHeader that holds a
// process-shared robust mutex and condition variable.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace hostshared {

struct SharedHeader {
    pthread_mutex_t mutex;
    pthread_cond_t changed;
    uint32_t magic;
    uint32_t size;
    uint64_t generation;  // bumped by every notify
};

// Maps the named shared record of `size` bytes (zero-filled on creation, with
// its header initialised). Returns null when the terminal cannot be opened.
SharedHeader* mapRecord(const char* name, size_t size);

template <class T>
T* map(const char* name) {
    static_assert(offsetof(T, header) == 0, "shared records begin with their header");
    return reinterpret_cast<T*>(mapRecord(name, sizeof(T)));
}

// Holds the record's mutex (recovering it when its holder died).
class Lock {
public:
    explicit Lock(SharedHeader* header);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    SharedHeader* header() const { return header_; }

private:
    SharedHeader* header_;
};

// Wakes every waiter of the record (call with the lock held).
void notifyAll(SharedHeader* header);
// Waits (lock held) until notified or `realMilliseconds` pass (negative: no
// limit). Returns false on time-out.
bool wait(Lock& lock, int64_t realMilliseconds);

// Forgets every mapping of this process (after the terminal root changes);
// records mapped before stay valid but are no longer handed out.
//
// terminal::reset zero-fills every record after its header (except the
// clock's), so a record must treat all-zero contents as its power-on state.
void unmapAll();

}  // namespace hostshared
