#include "platform/host/shared.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

constexpr uint32_t kMagic = 0x4B564E54;  // "KVNT"

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

void initHeader(SharedHeader* h, size_t size) {
    pthread_mutexattr_t ma;
    pthread_mutexattr_init(&ma);
    pthread_mutexattr_setpshared(&ma, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&ma, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&h->mutex, &ma);
    pthread_mutexattr_destroy(&ma);
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setpshared(&ca, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&h->changed, &ca);
    pthread_condattr_destroy(&ca);
    h->size = static_cast<uint32_t>(size);
    h->generation = 0;
    __atomic_store_n(&h->magic, kMagic, __ATOMIC_RELEASE);
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
    int rc = pthread_mutex_lock(&header_->mutex);
    if (rc == EOWNERDEAD) pthread_mutex_consistent(&header_->mutex);
}

Lock::~Lock() {
    pthread_mutex_unlock(&header_->mutex);
}

void notifyAll(SharedHeader* header) {
    ++header->generation;
    pthread_cond_broadcast(&header->changed);
}

bool wait(Lock& lock, int64_t realMilliseconds) {
    SharedHeader* h = lock.header();
    int rc;
    if (realMilliseconds < 0) {
        rc = pthread_cond_wait(&h->changed, &h->mutex);
    } else {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        ts.tv_sec += static_cast<time_t>(realMilliseconds / 1000);
        ts.tv_nsec += static_cast<long>((realMilliseconds % 1000) * 1000000);
        if (ts.tv_nsec >= 1000000000L) {
            ts.tv_sec += 1;
            ts.tv_nsec -= 1000000000L;
        }
        rc = pthread_cond_timedwait(&h->changed, &h->mutex, &ts);
    }
    if (rc == EOWNERDEAD) pthread_mutex_consistent(&h->mutex);
    return rc != ETIMEDOUT;
}

void unmapAll() {
    // The mappings themselves stay: a thread of this process may still be
    // using a record of the previous terminal.
    std::lock_guard<std::mutex> guard(mappingsMutex());
    mappings().clear();
}

}  // namespace hostshared
