// Where the scan engine's frames come from. A frame source answers, for a
// moment of the terminal clock, the frame in front of the engine and its
// number (a new number is a new frame). Two sources exist: a still image
// (one frame, forever) and a folder of images shown in name order at a frame
// rate, the last one staying in view. A camera would be a third source with
// the same two operations.
#pragma once

#include <cstdint>
#include <string>

#include "platform/decoder/imaging/image.h"

namespace scanimage {

constexpr int kMaxFrames = 1000;  // images of a folder taken at most

struct Frame {
    const GrayImage* image;  // null: nothing readable in view (a damaged file)
    uint32_t number;         // 1, 2, ...
};

struct FrameSource {
    void* state = nullptr;
    // The frame in view at `nowMs`; the first call starts the sequence.
    Frame (*current)(void* state, uint32_t nowMs) = nullptr;
    void (*close)(void* state) = nullptr;
};

// Opens a still image; false (and nothing opened) when it cannot be read.
bool openStillImage(FrameSource& source, const std::string& path, LoadStatus* status = nullptr);
// Opens a folder of PNG and JPEG files; false when it holds none. Frames are
// read as they come into view; one that cannot be read shows nothing.
bool openFrameFolder(FrameSource& source, const std::string& folder, int framesPerSecond);
void closeFrameSource(FrameSource& source);

}  // namespace scanimage
