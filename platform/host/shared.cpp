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

#include "platform/host/terminal.h"

namespace hostshared {
namespace {

constexpr uint32_t kMagic = 0x4B564E55;  // "KVNU": robust mutex and futex word

struct Mapping {
    std::string name;
    void* address;
    size_t size;
};

std::mutex& mappingsMutex() {
    static std::mutex m;
    return m;
}
// Never destroyed: threads that outlive main (detached port readers) may
// still look a record up while the process exits.
std::vector<Mapping>& mappings() {
    static std::vector<Mapping>* v = new std::vector<Mapping>;
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
    }
}

long futex(uint32_t* word, int operation, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, word, operation, value, timeout, nullptr, 0);
}

}  // namespace

SharedHeader* mapRecord(const char* name, size_t size) {
    // Follows a change of terminal before looking at the mappings.
    std::string dir = terminal::root() + "/.terminal/state";
    std::lock_guard<std::mutex> guard(mappingsMutex());
    for (const Mapping& m : mappings())
        if (m.name == name && m.size == size) return static_cast<SharedHeader*>(m.address);
    std::string path = dir + "/" + name;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    flock(fd, LOCK_EX);
    struct stat st {};
    fstat(fd, &st);
    bool fresh = static_cast<size_t>(st.st_size) != size;
    if (fresh && ftruncate(fd, 0) == 0 && ftruncate(fd, static_cast<off_t>(size)) != 0) {
        flock(fd, LOCK_UN);
        close(fd);
        return nullptr;
    }
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        flock(fd, LOCK_UN);
        close(fd);
        return nullptr;
    }
    auto* header = static_cast<SharedHeader*>(address);
    if (fresh || __atomic_load_n(&header->magic, __ATOMIC_ACQUIRE) != kMagic || header->size != size) {
        std::memset(address, 0, size);
        initHeader(header, size);
    }
    flock(fd, LOCK_UN);
    close(fd);
    mappings().push_back(Mapping{name, address, size});
    return header;
}

Lock::Lock(SharedHeader* header) : header_(header) {
    lockMutex(&header_->mutex);
}

Lock::~Lock() {
    pthread_mutex_unlock(&header_->mutex);
}

void notifyAll(SharedHeader* header) {
    __atomic_add_fetch(&header->generation, 1u, __ATOMIC_RELEASE);
    futex(&header->generation, FUTEX_WAKE, INT32_MAX, nullptr);
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
    pthread_mutex_unlock(&h->mutex);
    long rc = futex(&h->generation, FUTEX_WAIT, seen, realMilliseconds >= 0 ? &timeout : nullptr);
    bool timedOut = rc != 0 && errno == ETIMEDOUT;
    lockMutex(&h->mutex);
    return !timedOut;
}

void unmapAll() {
    // The mappings themselves stay: a thread of this process may still be
    // using a record of the previous terminal.
    std::lock_guard<std::mutex> guard(mappingsMutex());
    mappings().clear();
}

}  // namespace hostshared
