// The scan engine's reading of pictures, kept apart from the engine in a
// module of its own ("libDecoderPictures.so", beside the decoder library):
// only it needs the image and barcode libraries, and the decoder library
// loads it when a picture first comes into view. A wedge that never sees a
// picture never maps those libraries.
#pragma once

#include <cstdint>

#include "platform/decoder/imaging/symbols.h"
#include "platform/host/engine_state.h"
#include "platform/host/host_api.h"
#include "platform/decoder_calls.h"

namespace decoderpictures {

constexpr const char* kModuleName = "libDecoderPictures.so";
constexpr const char* kEntryName = "decoderPictures";

// Which frame a decode call has read last.
struct Seen {
    uint32_t serial = 0;
    uint32_t frame = 0;
    bool secondLook = false;  // taken on that frame
};

// A decode call waits for the reader's answer as long as it would wait for a
// barcode: until its time-out, or until keep-going answers 0.
struct Waiting {
    KeepGoingCallback keepGoing;
    DWORD start;
    DWORD timeout;
};

// What the module offers.
struct Entry {
    // Reads the frame in view when it is one this call has not read yet.
    // Returns the barcodes found (reading order), or -1 when there was no new
    // frame to read.
    int (*readImage)(host::EngineState* s, Seen& seen, Waiting& waiting, scanimage::Symbol* out,
                     int capacity);
    // Ends the reader process, if one runs.
    void (*stopReader)();
};

typedef const Entry* (*EntryCall)();

}  // namespace decoderpictures
