// The scan engine's reading of pictures (pictures.h): the frames in view
// opened from their files, each new one read in the reader process with the
// symbologies, lengths and decode window the engine was configured with.
#include "platform/decoder/pictures.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/decoder/imaging/frames.h"
#include "platform/decoder/imaging/reader_process.h"
#include "platform/host/terminal.h"

namespace {

using decoderpictures::Seen;
using decoderpictures::Waiting;
using host::EngineState;

// The frames in view as this process sees them; opened again when the view
// changes. Decoding holds its lock, so the frame stays while it is read.
struct Camera {
    std::mutex lock;
    std::string key;  // terminal, view serial and path of what is open
    bool opened = false;
    scanimage::FrameSource source;
};

Camera& camera() {
    static Camera c;
    return c;
}

bool keepWaiting(void* context) {
    const auto* w = static_cast<const Waiting*>(context);
    if (w->keepGoing != nullptr && w->keepGoing() == 0) return false;
    return GetTickCount() - w->start < w->timeout;
}

// Sensor coordinates to image pixels, edges included.
int toPixels(int32_t sensor, int sensorSize, int imageSize, bool lastPixel) {
    int64_t p = lastPixel ? (static_cast<int64_t>(sensor) + 1) * imageSize / sensorSize - 1
                          : static_cast<int64_t>(sensor) * imageSize / sensorSize;
    return static_cast<int>(p < 0 ? 0 : p >= imageSize ? imageSize - 1 : p);
}

// The frame is read in the reader process: a picture the reader cannot take
// gives no read, and the reader is started again for the next frame.
int readImage(EngineState* s, Seen& seen, Waiting& waiting, scanimage::Symbol* out, int capacity) {
    host::ImageView view;
    scanimage::ReadRequest request = scanimage::openRequest();
    int32_t windowEnable = 0;
    int32_t window[4] = {0, 0, 0, 0};
    {
        host::Lock lock(&s->header);
        if (s->image.kind == 0) return -1;
        view = s->image;
        view.path[sizeof view.path - 1] = 0;
        for (int i = 0; i < scanimage::kSymbologyIds && i < host::kSymbologies; ++i) {
            request.enabled[i] = (s->symbologies[i].flags & 0x1) != 0;
            request.minLength[i] = s->symbologies[i].minLength;
            request.maxLength[i] = s->symbologies[i].maxLength;
        }
        windowEnable = s->windowEnable;
        std::memcpy(window, s->window, sizeof window);
    }
    Camera& c = camera();
    std::lock_guard<std::mutex> lock(c.lock);
    std::string key = terminal::root() + '\n' + std::to_string(view.serial) + '\n' + view.path;
    if (c.key != key) {
        scanimage::closeFrameSource(c.source);
        c.key = key;
        c.opened = view.kind == 2 ? scanimage::openFrameFolder(c.source, view.path, view.framesPerSecond)
                                  : scanimage::openStillImage(c.source, view.path);
        if (!c.opened) std::fprintf(stderr, "Decoder: nothing readable in view at %s\n", view.path);
    }
    if (!c.opened) return -1;
    scanimage::Frame frame = c.source.current(c.source.state, GetTickCount());
    if (frame.image == nullptr) return -1;
    // A new frame gets the first look; the second, slower one is taken on a
    // frame that read nothing only while no newer frame has come.
    if (seen.serial == view.serial && seen.frame == frame.number) {
        if (seen.secondLook) return -1;
        seen.secondLook = true;
        request.looks = scanimage::kSecondLook;
    } else {
        seen.serial = view.serial;
        seen.frame = frame.number;
        seen.secondLook = false;
        request.looks = scanimage::kFirstLook;
    }
    const scanimage::GrayImage& image = *frame.image;
    if (windowEnable != 0) {
        request.left = toPixels(window[0], host::kWindowColumns, image.width, false);
        request.top = toPixels(window[1], host::kWindowRows, image.height, false);
        request.right = toPixels(window[2], host::kWindowColumns, image.width, true);
        request.bottom = toPixels(window[3], host::kWindowRows, image.height, true);
    }
    scanimage::ReaderWait wait;
    wait.keepWaiting = keepWaiting;
    wait.context = &waiting;
    int n = scanimage::readSymbolsApart(image, request, out, capacity, wait);
    // A frame the first look read barcodes from needs no second.
    if (n > 0) seen.secondLook = true;
    return n;
}

void stopReader() {
    scanimage::stopReader();
}

const decoderpictures::Entry kEntry = {readImage, stopReader};

}  // namespace

extern "C" __attribute__((visibility("default"))) const decoderpictures::Entry* decoderPictures() {
    return &kEntry;
}
