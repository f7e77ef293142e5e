#include "platform/host/shared.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/internal.h"
#include "platform/host/root.h"
#include "platform/host/terminal.h"

namespace host {

struct Mapping {
    std::string name;
    size_t size;
    uint64_t generation;  // of the attachment it belongs to
    SharedHeader* header;
};

namespace {

constexpr uint32_t kMagic = 0x4B564E55;  // "KVNU": robust mutex and futex word

std::mutex& mappingsMutex() {
    static std::mutex m;
    return m;
}
// Every mapping ever made, never destroyed: threads that outlive main
// (detached port readers) may still look a record up while the process
// exits, and a record cache may still name a mapping of an earlier terminal.
std::vector<const Mapping*>& mappings() {
    static std::vector<const Mapping*>* v = new std::vector<const Mapping*>;
    return *v;
}

void initMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t ma;
    pthread_mutexattr_init(&ma);
    pthread_mutexattr_setpshared(&ma, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&ma, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(mutex, &ma);
    pthread_mutexattr_destroy(&ma);
}

void initHeader(SharedHeader* h, size_t size) {
    initMutex(&h->mutex);
    h->size = static_cast<uint32_t>(size);
    __atomic_store_n(&h->generation, 0u, __ATOMIC_RELAXED);
    __atomic_store_n(&h->magic, kMagic, __ATOMIC_RELEASE);
}

// Takes the record's mutex. A holder that died leaves it to the next one
// (EOWNERDEAD), which marks it consistent: every record is written so that a
// half-done change is harmless. A mutex left unrecoverable (a taker that
// died before marking it) is made afresh.
void lockMutex(pthread_mutex_t* mutex) {
    int rc = pthread_mutex_lock(mutex);
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(mutex);
    } else if (rc == ENOTRECOVERABLE) {
        initMutex(mutex);
        lockMutex(mutex);
        return;
    }
    host::heardFromOutside();  // what the record holds may be news
}

long futex(uint32_t* word, int operation, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, word, operation, value, timeout, nullptr, 0);
}

}  // namespace

namespace {

DWORD creationError(int error) {
    return error == ENOSPC || error == EFBIG || error == EDQUOT ? ERROR_DISK_FULL
                                                                : host::errorFromErrno(error);
}

const Mapping* findOrMap(const char* name, size_t size) {
    // Follows a change of terminal before looking at the mappings.
    const host::Attachment& attachment = host::current();
    std::lock_guard<std::mutex> guard(mappingsMutex());
    for (const Mapping* m : mappings())
        if (m->generation == attachment.generation && m->size == size && m->name == name) return m;
    std::string path = attachment.path + "/.terminal/state/" + name;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastError(creationError(errno));
        return nullptr;
    }
    flock(fd, LOCK_EX);
    auto fail = [fd](int error) -> const Mapping* {
        flock(fd, LOCK_UN);
        close(fd);
        SetLastError(creationError(error));
        return nullptr;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) return fail(errno);
    bool fresh = static_cast<size_t>(st.st_size) != size;
    if (fresh && ftruncate(fd, 0) != 0) return fail(errno);
    // The blocks are allocated now: a record whose pages the disk has no room
    // for would kill every process that touches them (SIGBUS). A record that
    // cannot be allocated is left empty, so that the next try starts afresh.
    int allocated = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (allocated != 0) {
        if (fresh) {
            int ignored = ftruncate(fd, 0);
            (void)ignored;
        }
        return fail(allocated);
    }
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return fail(errno);
    // A record is read where its slots are, not front to back: no read-ahead,
    // so that a process keeps resident only the pages it touches.
    madvise(address, size, MADV_RANDOM);
    auto* header = static_cast<SharedHeader*>(address);
    // A fresh record reads as zeros already; only a damaged one is cleared
    // (which touches, and so keeps resident, every page).
    if (fresh || __atomic_load_n(&header->magic, __ATOMIC_ACQUIRE) != kMagic || header->size != size) {
        if (!fresh) std::memset(address, 0, size);
        initHeader(header, size);
    }
    flock(fd, LOCK_UN);
    close(fd);
    auto* mapping = new Mapping{name, size, attachment.generation, header};
    mappings().push_back(mapping);
    return mapping;
}

}  // namespace

SharedHeader* mapRecord(const char* name, size_t size) {
    const Mapping* m = findOrMap(name, size);
    return m != nullptr ? m->header : nullptr;
}

SharedHeader* mapCached(RecordCache& cache, const char* name, size_t size) {
    uint64_t generation = host::current().generation;
    const Mapping* m = cache.mapping.load(std::memory_order_acquire);
    if (m != nullptr && m->generation == generation) return m->header;
    m = findOrMap(name, size);
    if (m == nullptr) return nullptr;
    cache.mapping.store(m, std::memory_order_release);
    return m->header;
}

Lock::Lock(SharedHeader* header) : header_(header) {
    lockMutex(&header_->mutex);
}

Lock::~Lock() {
    pthread_mutex_unlock(&header_->mutex);
}

void notifyAll(SharedHeader* header) {
    __atomic_add_fetch(&header->generation, 1u, __ATOMIC_RELEASE);
    terminal::noteChange();
    // A waiter counts itself in under the lock before it lets the lock go, so
    // with the lock held here none can be between its count and its sleep
    // unseen; with nobody waiting the wake call is saved.
    if (header->waiters != 0) futex(&header->generation, FUTEX_WAKE, INT32_MAX, nullptr);
}

bool wait(Lock& lock, int64_t realMilliseconds) {
    SharedHeader* h = lock.header();
    // Read with the lock held: a notify after the unlock changes the word,
    // and the futex then returns at once instead of sleeping.
    uint32_t seen = __atomic_load_n(&h->generation, __ATOMIC_ACQUIRE);
    timespec timeout{};
    if (realMilliseconds >= 0) {
        timeout.tv_sec = static_cast<time_t>(realMilliseconds / 1000);
        timeout.tv_nsec = static_cast<long>((realMilliseconds % 1000) * 1000000);
    }
    ++h->waiters;
    pthread_mutex_unlock(&h->mutex);
    long rc = futex(&h->generation, FUTEX_WAIT, seen, realMilliseconds >= 0 ? &timeout : nullptr);
    bool timedOut = rc != 0 && errno == ETIMEDOUT;
    lockMutex(&h->mutex);
    if (h->waiters != 0) --h->waiters;
    return !timedOut;
}

}  // namespace host
