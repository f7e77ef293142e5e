// The link of a Bluetooth virtual port: a pseudo-terminal made by the
// process that opens the port, whose master side a relay thread of that
// process holds. Everything written to the port is appended to the remote
// device's inbox log; what a test sends from the device (its outbox log) is
// written to the port. The relay lives as long as its process, across closes
// and reopens of the port; a new registration at the index gives the next
// open a new relay. At process exit the relays deliver what is in flight.
#include "platform/host/bluetooth_link.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kComIndexes = 10;

struct Relay {
    int index = -1;
    uint32_t generation = 0;
    uint64_t address = 0;
    int master = -1;
    int slave = -1;
    int wake = -1;  // eventfd that stops the relay at once
    std::string slavePath;
    std::string inbox;
    std::string outbox;
    std::thread thread;
    std::atomic<bool> stop{false};
};

struct Relays {
    std::mutex mutex;
    std::unique_ptr<Relay> byIndex[kComIndexes];
    pid_t owner = 0;
    bool exitHookInstalled = false;
};

// Never destroyed: relay threads are stopped by the exit hook, not by static
// destructors.
Relays& relays() {
    static Relays* r = new Relays;
    return *r;
}

void relayLoop(Relay* relay) {
    off_t outboxOffset = 0;
    {
        struct stat st {};
        if (stat(relay->outbox.c_str(), &st) == 0) outboxOffset = st.st_size;
    }
    char buffer[4096];
    while (!relay->stop.load(std::memory_order_acquire)) {
        pollfd fds[2] = {{relay->master, POLLIN, 0}, {relay->wake, POLLIN, 0}};
        int n = poll(fds, 2, 20);
        if (n > 0 && (fds[1].revents & POLLIN)) break;
        if (n > 0 && (fds[0].revents & POLLIN)) {
            ssize_t got = ::read(relay->master, buffer, sizeof buffer);
            if (got > 0) host::appendToFile(relay->inbox, buffer, static_cast<size_t>(got));
            continue;
        }
        // What the remote device sends arrives on the port.
        struct stat st {};
        if (stat(relay->outbox.c_str(), &st) != 0) {
            outboxOffset = 0;
            continue;
        }
        if (st.st_size < outboxOffset) outboxOffset = 0;  // the terminal was reset
        if (st.st_size == outboxOffset) continue;
        int in = ::open(relay->outbox.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) continue;
        ssize_t got = pread(in, buffer, sizeof buffer, outboxOffset);
        ::close(in);
        if (got <= 0) continue;
        ssize_t put = ::write(relay->master, buffer, static_cast<size_t>(got));
        if (put > 0) outboxOffset += put;
    }
}

// Delivers what is still on its way from the port to the remote device.
void drainRelay(Relay* relay) {
    char buffer[4096];
    for (;;) {
        pollfd fd{relay->master, POLLIN, 0};
        // A short grace for bytes the tty layer is still passing along.
        if (poll(&fd, 1, 2) <= 0 || !(fd.revents & POLLIN)) return;
        ssize_t got = ::read(relay->master, buffer, sizeof buffer);
        if (got <= 0) return;
        host::appendToFile(relay->inbox, buffer, static_cast<size_t>(got));
    }
}

void stopRelay(std::unique_ptr<Relay>& relay, bool drain) {
    if (!relay) return;
    relay->stop.store(true, std::memory_order_release);
    uint64_t one = 1;
    if (::write(relay->wake, &one, sizeof one) < 0) {
        // The relay still sees the stop flag within its poll interval.
    }
    if (relay->thread.joinable()) relay->thread.join();
    if (drain) drainRelay(relay.get());
    if (relay->slave >= 0) ::close(relay->slave);
    if (relay->master >= 0) ::close(relay->master);
    if (relay->wake >= 0) ::close(relay->wake);
    relay.reset();
}

void stopAllRelaysAtExit() {
    Relays& r = relays();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (r.owner != getpid()) return;  // a forked child does not own its parent's threads
    for (auto& relay : r.byIndex) stopRelay(relay, true);
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

std::unique_ptr<Relay> startRelay(int index, uint32_t generation, uint64_t address) {
    auto relay = std::make_unique<Relay>();
    relay->index = index;
    relay->generation = generation;
    relay->address = address;
    relay->inbox = host::bluetoothInboxPath(address);
    relay->outbox = host::bluetoothOutboxPath(address);
    relay->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (relay->master < 0) return nullptr;
    char name[128];
    if (grantpt(relay->master) != 0 || unlockpt(relay->master) != 0 ||
        ptsname_r(relay->master, name, sizeof name) != 0) {
        ::close(relay->master);
        return nullptr;
    }
    relay->slavePath = name;
    // The relay keeps the slave open too, so the far end stays connected
    // between the port's closes and opens.
    relay->slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (relay->slave < 0) {
        ::close(relay->master);
        return nullptr;
    }
    makeRaw(relay->slave);
    makeRaw(relay->master);
    relay->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (relay->wake < 0) {
        ::close(relay->slave);
        ::close(relay->master);
        return nullptr;
    }
    relay->thread = std::thread(relayLoop, relay.get());
    return relay;
}

}  // namespace

std::string host::bluetoothLink(int index, bool registered, uint32_t generation, uint64_t address) {
    if (index < 0 || index >= kComIndexes) return "";
    Relays& r = relays();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (r.owner != getpid()) {
        // A forked child starts with no relays of its own.
        for (auto& relay : r.byIndex) relay.release();
        r.owner = getpid();
        r.exitHookInstalled = false;
    }
    std::unique_ptr<Relay>& relay = r.byIndex[index];
    if (!registered) {
        stopRelay(relay, false);
        return "";
    }
    if (relay && relay->generation == generation) return relay->slavePath;
    stopRelay(relay, false);
    relay = startRelay(index, generation, address);
    if (!relay) return "";
    if (!r.exitHookInstalled) {
        std::atexit(stopAllRelaysAtExit);
        r.exitHookInstalled = true;
    }
    return relay->slavePath;
}
