#include "platform/host/engine_state.h"

#include <algorithm>
#include <cstring>

#include "platform/host/terminal.h"

namespace host {

namespace {

// Two-dimensional symbologies read long data; linear ones keep short limits.
bool isTwoDimensional(int id) {
    switch (id) {
        case 0:
        case 5:
        case 8:
        case 12:
        case 13:
        case 15:
        case 17:
        case 27:
        case 41:
            return true;
        default:
            return false;
    }
}

}  // namespace

void resetEngine(EngineState* s) {
    s->connected = 0;
    s->aimer = 0;
    s->lightsMode = 0;
    s->configureA = 0;
    s->configureB = 0;
    const int32_t globals[6] = {4, 0, 3, 0, 0, 0};
    std::memcpy(s->globals, globals, sizeof globals);
    s->windowEnable = 0;
    s->window[0] = 0;
    s->window[1] = 0;
    s->window[2] = kWindowColumns - 1;
    s->window[3] = kWindowRows - 1;
    for (int i = 0; i < kSymbologies; ++i) {
        s->symbologies[i].flags = 0x1;
        s->symbologies[i].minLength = 1;
        s->symbologies[i].maxLength = isTwoDimensional(i) ? kBarcodeBytes : 80;
        s->symbologies[i].writes = 0;
    }
    std::memset(s->view, 0, sizeof s->view);
    s->image.kind = 0;
    s->image.path[0] = 0;
    ++s->image.serial;
    s->decodeReturned = 0;
    s->decodeReturnTick = 0;
    s->initialised = 1;
}

EngineState* engineState() {
    auto* s = host::map<EngineState>("engine");
    if (s == nullptr) return nullptr;
    host::Lock lock(&s->header);
    if (s->initialised == 0) resetEngine(s);
    return s;
}

}  // namespace host

namespace terminal {

using host::EngineState;

void putInView(const Barcode& barcode) {
    EngineState* s = host::engineState();
    if (s == nullptr) return;
    host::Lock lock(&s->header);
    host::ViewSlot* slot = nullptr;
    for (auto& v : s->view)
        if (v.used == 0) {
            slot = &v;
            break;
        }
    if (slot == nullptr) {
        // A full view: the oldest barcode leaves it.
        std::move(s->view + 1, s->view + host::kViewSlots, s->view);
        slot = &s->view[host::kViewSlots - 1];
    }
    size_t n = std::min(barcode.data.size(), static_cast<size_t>(host::kBarcodeBytes));
    std::memcpy(slot->data, barcode.data.data(), n);
    slot->length = static_cast<uint32_t>(n);
    slot->letter = static_cast<uint8_t>(barcode.symbologyLetter);
    slot->second = static_cast<uint8_t>(barcode.second);
    slot->third = static_cast<uint8_t>(barcode.third);
    slot->symbologyId = barcode.symbologyId;
    slot->row = barcode.row;
    slot->serial = ++s->nextSerial;
    slot->used = 1;
    host::notifyAll(&s->header);
}

void clearView() {
    EngineState* s = host::engineState();
    if (s == nullptr) return;
    host::Lock lock(&s->header);
    for (auto& v : s->view) v.used = 0;
    s->image.kind = 0;
    s->image.path[0] = 0;
    ++s->image.serial;
    host::notifyAll(&s->header);
}

bool putImageInView(const ImageSource& source) {
    EngineState* s = host::engineState();
    if (s == nullptr || source.path.empty() || source.path.size() >= static_cast<size_t>(host::kImagePathBytes))
        return false;
    host::Lock lock(&s->header);
    std::memcpy(s->image.path, source.path.c_str(), source.path.size() + 1);
    s->image.kind = source.frames ? 2 : 1;
    s->image.framesPerSecond = source.framesPerSecond;
    ++s->image.serial;
    host::notifyAll(&s->header);
    return true;
}

ImageSource imageInView() {
    ImageSource out;
    EngineState* s = host::engineState();
    if (s == nullptr) return out;
    host::Lock lock(&s->header);
    if (s->image.kind == 0) return out;
    out.path.assign(s->image.path, strnlen(s->image.path, sizeof s->image.path));
    out.frames = s->image.kind == 2;
    out.framesPerSecond = s->image.framesPerSecond;
    return out;
}

std::vector<Barcode> inView() {
    std::vector<Barcode> out;
    EngineState* s = host::engineState();
    if (s == nullptr) return out;
    host::Lock lock(&s->header);
    for (const auto& v : s->view) {
        if (v.used == 0) continue;
        Barcode b;
        b.data.assign(reinterpret_cast<const char*>(v.data), std::min<uint32_t>(v.length, host::kBarcodeBytes));
        b.symbologyLetter = static_cast<char>(v.letter);
        b.second = static_cast<char>(v.second);
        b.third = static_cast<char>(v.third);
        b.symbologyId = v.symbologyId;
        b.row = v.row;
        out.push_back(b);
    }
    return out;
}

SymbologyState symbology(int id) {
    SymbologyState out{0, 0, 0, 0};
    EngineState* s = host::engineState();
    if (s == nullptr || id < 0 || id >= host::kSymbologies) return out;
    host::Lock lock(&s->header);
    const auto& sym = s->symbologies[id];
    out.flags = sym.flags;
    out.minLength = sym.minLength;
    out.maxLength = sym.maxLength;
    out.writes = sym.writes;
    return out;
}

std::vector<int32_t> globalSettings() {
    EngineState* s = host::engineState();
    if (s == nullptr) return {};
    host::Lock lock(&s->header);
    return std::vector<int32_t>(s->globals, s->globals + 6);
}

int32_t lightsMode() {
    EngineState* s = host::engineState();
    if (s == nullptr) return 0;
    host::Lock lock(&s->header);
    return s->lightsMode;
}

bool engineConnected() {
    EngineState* s = host::engineState();
    if (s == nullptr) return false;
    host::Lock lock(&s->header);
    return s->connected != 0;
}

bool aimerOn() {
    EngineState* s = host::engineState();
    if (s == nullptr) return false;
    host::Lock lock(&s->header);
    return s->aimer != 0;
}

std::vector<int32_t> decodeWindow() {
    EngineState* s = host::engineState();
    if (s == nullptr) return {};
    host::Lock lock(&s->header);
    return {s->windowEnable, s->window[0], s->window[1], s->window[2], s->window[3]};
}

}  // namespace terminal
