// Shared memory of the host terminal. Each facility (events, windows,
// keyboard, ...) keeps a fixed-size record in a file of <root>/.terminal/state,
// mapped by every attached process, beginning with a SharedHeader that holds a
// process-shared robust mutex and a wake-up word.
//
// Any attached process may die at any instruction (killed, crashed). So the
// lock is a robust mutex whose next holder takes it over from a dead one, and
// waiters sleep on the wake-up word (a futex) instead of a process-shared
// condition variable, whose bookkeeping a dead waiter would leave half done
// and block every later wake-up on. Records are written so that what a dead
// writer leaves half done is either invisible or harmless: a slot's fields
// first, its "in use" field last (publish()).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace host {

struct SharedHeader {
    pthread_mutex_t mutex;
    uint32_t magic;
    uint32_t size;
    uint32_t generation;  // bumped by every notify; the word waiters sleep on
    // Threads inside wait() (lock held to change or read it). A waiter killed
    // while asleep leaves it too high, which costs wake calls, never a wake-up.
    uint32_t waiters;
};

// Maps the named shared record of `size` bytes of the attached terminal
// (zero-filled on creation, with its header initialised; its blocks are
// allocated for real then, so that a full disk is met here and never when a
// page is touched). Returns null when the record cannot be had, with the last
// error set (ERROR_DISK_FULL when the disk has no room for it).
SharedHeader* mapRecord(const char* name, size_t size);

// A record's mapping in the current terminal, remembered by the one place
// that maps it, so that a lookup costs no more than a check of the terminal.
struct Mapping;
struct RecordCache {
    std::atomic<const Mapping*> mapping{nullptr};
};
SharedHeader* mapCached(RecordCache& cache, const char* name, size_t size);

template <class T>
T* map(const char* name) {
    static_assert(offsetof(T, header) == 0, "shared records begin with their header");
    static RecordCache cache;
    return reinterpret_cast<T*>(mapCached(cache, name, sizeof(T)));
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
// limit). The lock is let go while waiting and held again on return. May
// return early; callers look at the record again. Returns false on time-out.
bool wait(Lock& lock, int64_t realMilliseconds);

// Keeps the stores before it ahead of the stores after it, as a process that
// dies in between would leave them (lock held).
inline void storeOrder() {
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
}
// Stores the field that puts a slot in use, after the slot's other fields.
inline void publish(uint32_t* inUse, uint32_t value) {
    storeOrder();
    __atomic_store_n(inUse, value, __ATOMIC_RELEASE);
}
inline void publish(int32_t* inUse, int32_t value) {
    storeOrder();
    __atomic_store_n(inUse, value, __ATOMIC_RELEASE);
}

// Mappings follow the attached terminal: after the root changes, records are
// mapped afresh from the new root; records mapped before stay valid but are
// no longer handed out.
//
// terminal::reset zero-fills every record after its header (except the
// clock's), so a record must treat all-zero contents as its power-on state.

}  // namespace host
