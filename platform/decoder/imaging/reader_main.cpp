// keyvane-reader: reads barcodes from the frames the scan engine hands it
// (reader_process.h), so that a picture on which the reader library fails
// hard ends this process and not the scanning one. Started with the socket
// on descriptor 3 and the frame memory on descriptor 4; ends when the socket
// closes, even in the middle of a frame.
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <thread>

#include "platform/decoder/imaging/reader_process.h"

namespace {

using namespace scanimage;

bool receiveAll(int fd, void* data, size_t length) {
    char* p = static_cast<char*>(data);
    while (length > 0) {
        ssize_t n = recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The scanning process closed its end (or died): nothing left to read for.
void watchScanner() {
    for (;;) {
        pollfd pfd{wire::kSocketFd, POLLRDHUP, 0};
        if (poll(&pfd, 1, -1) > 0 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0) _exit(0);
    }
}

// The frame memory as large as it now is.
struct Mapping {
    const uint8_t* pixels = nullptr;
    size_t size = 0;
};

bool mapFrames(Mapping& m, size_t needed) {
    if (needed <= m.size) return true;
    struct stat st {};
    if (fstat(wire::kMemoryFd, &st) != 0 || st.st_size < 0 || static_cast<size_t>(st.st_size) < needed) return false;
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, wire::kMemoryFd, 0);
    if (p == MAP_FAILED) return false;
    if (m.pixels != nullptr) munmap(const_cast<uint8_t*>(m.pixels), m.size);
    m.pixels = static_cast<const uint8_t*>(p);
    m.size = static_cast<size_t>(st.st_size);
    return true;
}

}  // namespace

int main() {
    // Nothing else of the scanning process stays open here.
    syscall(SYS_close_range, wire::kMemoryFd + 1, UINT_MAX, 0);
    std::thread(watchScanner).detach();
    Mapping frames;
    Symbol symbols[kMaxSymbols];
    for (;;) {
        wire::Request q{};
        if (!receiveAll(wire::kSocketFd, &q, sizeof q)) return 0;
        if (q.magic != wire::kRequestMagic || q.width <= 0 || q.height <= 0 || q.width > kMaxSide ||
            q.height > kMaxSide || static_cast<int64_t>(q.width) * q.height > kMaxPixels) {
            std::fprintf(stderr, "keyvane-reader: a request that makes no sense\n");
            return 2;
        }
        size_t bytes = static_cast<size_t>(q.width) * static_cast<size_t>(q.height);
        if (!mapFrames(frames, bytes)) {
            std::fprintf(stderr, "keyvane-reader: the frame memory is smaller than the frame\n");
            return 2;
        }
        int n = readSymbols(frames.pixels, q.width, q.height, q.read, symbols, kMaxSymbols);
        wire::Answer a{wire::kAnswerMagic, q.sequence, n};
        if (!wire::sendAll(wire::kSocketFd, &a, sizeof a)) return 0;
        for (int i = 0; i < n; ++i) {
            const Symbol& s = symbols[i];
            wire::AnsweredSymbol w{};
            w.letter = s.letter;
            w.second = s.second;
            w.third = s.third;
            w.symbologyId = s.symbologyId;
            w.left = s.left;
            w.top = s.top;
            w.right = s.right;
            w.bottom = s.bottom;
            w.length =
                static_cast<uint32_t>(s.bytes.size() < wire::kMaxSymbolBytes ? s.bytes.size() : wire::kMaxSymbolBytes);
            if (!wire::sendAll(wire::kSocketFd, &w, sizeof w) ||
                !wire::sendAll(wire::kSocketFd, s.bytes.data(), w.length))
                return 0;
        }
    }
}
