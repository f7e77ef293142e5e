// The stand-in scan engine's state, kept in the terminal's shared memory so
// that the decoder library (loaded into the wedge) and the terminal's
// inspection calls (tests, the console, in any process) see the same engine:
// per-symbology configuration, the decoder global settings, lights, aimer,
// decode window, connection, and the barcodes and image in front of the
// scan window.
#pragma once

#include <cstdint>

#include "platform/host/shared.h"

namespace host {

constexpr int kSymbologies = 64;
constexpr int kViewSlots = 16;
constexpr int kBarcodeBytes = 4096;
constexpr int kWindowRows = 480;
constexpr int kWindowColumns = 640;

struct SymbologySlot {
    uint32_t flags;
    uint32_t minLength;
    uint32_t maxLength;
    int32_t writes;
};

struct ViewSlot {
    uint32_t used;
    uint32_t serial;  // distinct for every barcode put in view
    int32_t symbologyId;
    int32_t row;
    uint32_t length;
    uint8_t letter, second, third, reserved;
    uint8_t data[kBarcodeBytes];
};

constexpr int kImagePathBytes = 1024;

// An image in front of the scan window, beside the text barcodes: a still
// image file or a folder of frames (host paths).
struct ImageView {
    uint32_t kind;  // 0 none, 1 still image, 2 folder of frames
    uint32_t serial;
    int32_t framesPerSecond;
    char path[kImagePathBytes];
};

struct EngineState {
    host::SharedHeader header;
    uint32_t initialised;
    uint32_t connected;
    uint32_t aimer;
    int32_t lightsMode;
    int32_t configureA, configureB;  // last configuration call
    int32_t globals[6];
    int32_t windowEnable;
    int32_t window[4];  // left, top, right, bottom
    uint32_t nextSerial;
    SymbologySlot symbologies[kSymbologies];
    ViewSlot view[kViewSlots];
    ImageView image;
    // The last decode's return (decoderframe::LastDecode): non-zero once one
    // returned, and its terminal tick.
    uint32_t decodeReturned;
    uint32_t decodeReturnTick;
};

// The engine record of the attached terminal (defaults filled on first use);
// null when the terminal cannot be opened. Access it holding its lock.
EngineState* engineState();
// Puts the engine back into its power-on state (also empties the view).
void resetEngine(EngineState* state);

}  // namespace host
