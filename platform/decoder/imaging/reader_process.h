// The barcode reader runs in a process of its own ("keyvane-reader"), so that
// a picture on which the reader library fails hard (an assertion that aborts,
// a fault, a loop that never ends) costs one frame without a read, never the
// process that scans. The reader is started on the first frame, fed frames
// through shared memory and a socket, and started again after it died. It
// ends by itself when the process that started it ends or dies.
//
// Where the reader program is found: $KEYVANE_READER, else "keyvane-reader"
// beside the library or program holding this code, else the one of the build
// tree.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "platform/decoder/imaging/symbols.h"

namespace scanimage {

// How long a frame may take. `keepWaiting` (when given) is asked about every
// kWaitSliceMs while the reader works; when it answers false, or after
// `limitMs` of real time, the frame is given up and the reader stopped.
struct ReaderWait {
    bool (*keepWaiting)(void* context) = nullptr;
    void* context = nullptr;
    uint32_t limitMs = 5000;
};

constexpr uint32_t kWaitSliceMs = 10;

enum class ReaderOutcome {
    Read,         // the reader answered (with or without barcodes)
    Unavailable,  // the reader program could not be started
    Died,         // the reader ended while reading the frame
    GaveUp,       // keep-waiting said no, or the limit passed
    BadAnswer,    // the answer made no sense (the reader is stopped)
};
const char* readerOutcomeText(ReaderOutcome outcome);

// readSymbols() in the reader process: the same barcodes in the same order,
// or none when the frame could not be read there (`outcome` says why).
int readSymbolsApart(const GrayImage& image, const ReadRequest& request, Symbol* out, int capacity,
                     const ReaderWait& wait, ReaderOutcome* outcome = nullptr);

// Ends the reader process and waits for it; the next frame starts it again.
void stopReader();
// The reader process now running, or 0.
pid_t readerProcess();

// The wire between the two processes (reader_main.cpp serves it). The
// request carries the frame's size; its pixels are at the start of the
// shared memory. The answer is a header and `count` symbols, each followed
// by its bytes.
namespace wire {

constexpr uint32_t kRequestMagic = 0x4B565251;  // "KVRQ"
constexpr uint32_t kAnswerMagic = 0x4B565241;   // "KVRA"
constexpr uint32_t kMaxSymbolBytes = 1u << 16;
constexpr int kSocketFd = 3;  // in the reader process
constexpr int kMemoryFd = 4;

struct Request {
    uint32_t magic;
    uint32_t sequence;
    int32_t width;
    int32_t height;
    ReadRequest read;
};

struct Answer {
    uint32_t magic;
    uint32_t sequence;
    int32_t count;
};

struct AnsweredSymbol {
    char letter, second, third, reserved;
    int32_t symbologyId;
    int32_t left, top, right, bottom;
    uint32_t length;
};

// Writes all `length` bytes to the socket; false once the other end is gone.
bool sendAll(int fd, const void* data, size_t length);

}  // namespace wire

}  // namespace scanimage
