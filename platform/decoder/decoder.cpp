// The stand-in scan engine behind "Decoder.dll". Its calls are exported as
// ordinal_<n>, which the host loader answers for GetProcAddress(ordinal n).
// The engine keeps its state in the terminal's shared memory (engine_state.h)
// so that the terminal's users in other processes see and steer the same
// engine: they put barcodes in view, and read back what was configured.
//
// Besides barcodes typed in as text, an image can be in view (a still image
// or a folder of frames): the engine reads it with the symbologies, lengths
// and decode window it was configured with (imaging/symbols.h has the table
// of formats, letters and symbology ids). The decode window is given in the
// 640 x 480 coordinates of the engine's sensor, onto which every image is
// fitted; a barcode outside it is not read.
//
// The engine keeps a frame time (terminal configuration "frame", 33 ms by
// default; frame.h): a decode looks for barcodes once a frame has passed
// since the previous decode returned, so that a barcode held in view is
// decoded at most once a frame. The time-out counts from that look.
//
// Results: 0 = success; 1 = no read (time-out or keep-going ended); 2 = a bad
// argument or record; 10 = multi decode not supported (terminal
// configuration "multidecode = 0"). "engine = fail" makes the connect fail.
// A serial scanner named in terminal.conf is a third source (serialscanner.h).
#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/decoder/frame.h"
#include "platform/decoder/imaging/symbols.h"
#include "platform/decoder/pictures.h"
#include "platform/decoder_calls.h"
#include "platform/decoder/serialscanner.h"
#include "platform/host/engine_state.h"
#include "platform/host/host_api.h"
#include "platform/host/terminal.h"

namespace {

using decoderpictures::Seen;
using decoderpictures::Waiting;
using host::EngineState;
using host::ViewSlot;

// The records of the library's interface (platform/decoder_calls.h).
typedef SymbologyConfig SymbologyRecord;
typedef DecodeWindowRect WindowRect;
typedef KeepGoingCallback KeepGoing;
typedef ResultCallback OnResult;

constexpr int kOk = 0;
constexpr int kNoRead = 1;
constexpr int kBadArgument = 2;
constexpr int kUnsupported = 10;
constexpr DWORD kPollMilliseconds = 5;

// A barcode the engine can read now: its symbology enabled and its length
// within the symbology's limits (an unspecified symbology reads always), and
// its row inside the decode window while the window is enabled.
bool readable(const EngineState* s, const ViewSlot& v) {
    if (v.used == 0) return false;
    if (s->windowEnable != 0 && (v.row < s->window[1] || v.row > s->window[3])) return false;
    if (v.symbologyId == -1) return true;
    if (v.symbologyId < 0 || v.symbologyId >= host::kSymbologies) return false;
    const auto& sym = s->symbologies[v.symbologyId];
    return (sym.flags & 0x1) != 0 && v.length >= sym.minLength && v.length <= sym.maxLength;
}

bool validForm(const SymbologyRecord* r) {
    return r != nullptr && ((r->size == 12 && r->mask == 1) || (r->size == 20 && r->mask == 7));
}

bool validId(int id) {
    return id >= 0 && id < host::kSymbologies;
}

int32_t clampTo(int32_t value, int32_t size) {
    return value < 0 ? 0 : value >= size ? size - 1 : value;
}

bool elapsed(DWORD start, DWORD timeout) {
    return GetTickCount() - start >= timeout;
}

// Waits, when the previous decode returned less than a frame ago, until a
// frame has passed (decoderframe), polling keep-going. False when keep-going
// answered 0 meanwhile.
bool awaitFrame(EngineState* s, KeepGoing keepGoing) {
    decoderframe::LastDecode last{};
    {
        host::Lock lock(&s->header);
        last = {s->decodeReturned, s->decodeReturnTick};
    }
    uint32_t frame = terminal::frameMilliseconds();
    for (;;) {
        uint32_t wait = decoderframe::waitBeforeLook(last, GetTickCount(), frame);
        if (wait == 0) return true;
        if (keepGoing != nullptr && keepGoing() == 0) return false;
        Sleep(wait < kPollMilliseconds ? wait : kPollMilliseconds);
    }
}

// Notes the return of a decode call, whichever way it returns.
struct DecodeReturn {
    EngineState* s;
    ~DecodeReturn() {
        host::Lock lock(&s->header);
        s->decodeReturned = 1;
        s->decodeReturnTick = GetTickCount();
    }
};

// The picture reading module, loaded from beside this library when a
// picture first comes into view (null when it cannot be had, said once).
std::atomic<const decoderpictures::Entry*> loadedPictures{nullptr};

std::string picturesModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&loadedPictures), &info) == 0 || info.dli_fname == nullptr) return "";
    std::string library = info.dli_fname;
    size_t slash = library.rfind('/');
    return (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) + "/" +
           decoderpictures::kModuleName;
}

const decoderpictures::Entry* loadPictures() {
    std::string path = picturesModule();
    // Loaded into the wedge like this library: refused when group or others
    // may change it.
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "Decoder: the picture reader module %s is missing; pictures are not read\n",
                     path.empty() ? decoderpictures::kModuleName : path.c_str());
        return nullptr;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        std::fprintf(stderr, "Decoder: %s may be written by group or others (chmod go-w %s); pictures are not read\n",
                     path.c_str(), path.c_str());
        return nullptr;
    }
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = module != nullptr ? reinterpret_cast<decoderpictures::EntryCall>(dlsym(module, decoderpictures::kEntryName))
                                   : nullptr;
    if (entry == nullptr) {
        std::fprintf(stderr, "Decoder: cannot load the picture reader module %s: %s; pictures are not read\n",
                     path.c_str(), dlerror());
        return nullptr;
    }
    return entry();
}

const decoderpictures::Entry* pictures() {
    static std::once_flag once;
    std::call_once(once, [] { loadedPictures.store(loadPictures(), std::memory_order_release); });
    return loadedPictures.load(std::memory_order_acquire);
}

// Reads the frame in view when it is one this call has not read yet (the
// picture module does): the barcodes found, or -1 when there was no new frame.
int readImage(EngineState* s, Seen& seen, Waiting& waiting, scanimage::Symbol* out, int capacity) {
    {
        host::Lock lock(&s->header);
        if (s->image.kind == 0) return -1;
    }
    const decoderpictures::Entry* p = pictures();
    return p != nullptr ? p->readImage(s, seen, waiting, out, capacity) : -1;
}

}  // namespace

extern "C" {

// The exports, declared from the list so that each definition below must
// match its call.
#define DECODER_EXPORT(ordinal, name, result, parameters) \
    __attribute__((visibility("default"))) result ordinal_##ordinal parameters;
DECODER_CALLS(DECODER_EXPORT)
#undef DECODER_EXPORT

// Configuration call made once after connecting (100, 1): recorded only.
__attribute__((visibility("default"))) int ordinal_2(int a, int b) {
    EngineState* s = host::engineState();
    if (s == nullptr) return kBadArgument;
    host::Lock lock(&s->header);
    s->configureA = a;
    s->configureB = b;
    return kOk;
}

// Reads a symbology configuration in the form its size and mask name.
__attribute__((visibility("default"))) int ordinal_3(int which, int id, SymbologyRecord* record) {
    EngineState* s = host::engineState();
    if (s == nullptr || which != 1 || !validId(id) || !validForm(record)) return kBadArgument;
    host::Lock lock(&s->header);
    const auto& sym = s->symbologies[id];
    record->flags = sym.flags;
    if (record->size == 20) {
        record->minLength = sym.minLength;
        record->maxLength = sym.maxLength;
    }
    return kOk;
}

__attribute__((visibility("default"))) int ordinal_4(int id, SymbologyRecord* record) {
    EngineState* s = host::engineState();
    if (s == nullptr || !validId(id) || !validForm(record)) return kBadArgument;
    if (record->size == 20 && record->minLength > record->maxLength) return kBadArgument;
    host::Lock lock(&s->header);
    auto& sym = s->symbologies[id];
    sym.flags = record->flags;
    if (record->size == 20) {
        sym.minLength = record->minLength;
        sym.maxLength = record->maxLength;
    }
    ++sym.writes;
    host::notifyAll(&s->header);
    return kOk;
}

__attribute__((visibility("default"))) int ordinal_8(int write, int which, DecoderGlobalSettings* record) {
    EngineState* s = host::engineState();
    if (s == nullptr || which != 1 || record == nullptr || (write != 0 && write != 1)) return kBadArgument;
    host::Lock lock(&s->header);
    if (write)
        std::memcpy(s->globals, record, sizeof s->globals);
    else
        std::memcpy(record, s->globals, sizeof s->globals);
    return kOk;
}

__attribute__((visibility("default"))) int ordinal_9() {
    EngineState* s = host::engineState();
    if (s == nullptr || terminal::config("engine") == "fail") return kNoRead;
    serialscanner::listen();
    host::Lock lock(&s->header);
    s->connected = 1;
    host::notifyAll(&s->header);
    return kOk;
}

__attribute__((visibility("default"))) int ordinal_10() {
    EngineState* s = host::engineState();
    if (s == nullptr) return kBadArgument;
    {
        host::Lock lock(&s->header);
        s->connected = 0;
        s->aimer = 0;
        host::notifyAll(&s->header);
    }
    if (const decoderpictures::Entry* p = loadedPictures.load(std::memory_order_acquire)) p->stopReader();
    return kOk;
}

__attribute__((visibility("default"))) int ordinal_11(int on) {
    EngineState* s = host::engineState();
    if (s == nullptr) return kBadArgument;
    host::Lock lock(&s->header);
    s->aimer = on ? 1 : 0;
    host::notifyAll(&s->header);
    return kOk;
}

// Single decode: the first readable barcode in view; waits for one until the
// time-out (terminal milliseconds) or until keep-going answers 0.
__attribute__((visibility("default"))) int ordinal_13(DWORD timeout, char* buffer, uint8_t* letter, uint8_t* second,
                                                      uint8_t* third, uint16_t* length, KeepGoing keepGoing) {
    if (buffer == nullptr) return kBadArgument;
    EngineState* s = host::engineState();
    if (s == nullptr) return kBadArgument;
    DecodeReturn returned{s};
    if (!awaitFrame(s, keepGoing)) return kNoRead;
    DWORD start = GetTickCount();
    // The buffer holds 4096 bytes with the terminating zero.
    auto deliver = [&](const uint8_t* data, size_t size, char l, char s2, char s3) {
        size_t n = size < static_cast<size_t>(host::kBarcodeBytes) ? size : host::kBarcodeBytes - 1;
        std::memcpy(buffer, data, n);
        buffer[n] = 0;
        if (letter) *letter = static_cast<uint8_t>(l);
        if (second) *second = static_cast<uint8_t>(s2);
        if (third) *third = static_cast<uint8_t>(s3);
        if (length) *length = static_cast<uint16_t>(n);
        return kOk;
    };
    Seen seen;
    Waiting waiting{keepGoing, start, timeout};
    scanimage::Symbol symbols[1];
    serialscanner::Reading serial;
    serialscanner::Line line;
    for (;;) {
        {
            host::Lock lock(&s->header);
            for (const ViewSlot& v : s->view) {
                if (!readable(s, v)) continue;
                return deliver(v.data, v.length, static_cast<char>(v.letter), static_cast<char>(v.second),
                               static_cast<char>(v.third));
            }
        }
        if (serial.take(line)) return deliver(line.data, line.length, line.letter, line.second, line.third);
        if (readImage(s, seen, waiting, symbols, 1) > 0) {
            const scanimage::Symbol& b = symbols[0];
            return deliver(reinterpret_cast<const uint8_t*>(b.bytes.data()), b.bytes.size(), b.letter, b.second,
                           b.third);
        }
        if (keepGoing != nullptr && keepGoing() == 0) return kNoRead;
        if (elapsed(start, timeout)) return kNoRead;
        Sleep(kPollMilliseconds);
    }
}

// Multi decode: hands each readable barcode in view to the result callback,
// once per call, until the callback answers 0; keeps watching for new
// barcodes until the time-out or until keep-going answers 0. The data handed
// over is exactly the barcode's bytes, without a terminating zero.
__attribute__((visibility("default"))) int ordinal_14(DWORD timeout, OnResult onResult, KeepGoing keepGoing,
                                                      uint8_t* collected) {
    if (terminal::config("multidecode") == "0") return kUnsupported;
    EngineState* s = host::engineState();
    if (s == nullptr || onResult == nullptr) return kBadArgument;
    DecodeReturn returned{s};
    if (!awaitFrame(s, keepGoing)) return kNoRead;
    std::vector<uint32_t> delivered;
    std::vector<std::string> deliveredImage;  // letter and bytes of what the image gave
    Seen seen;
    std::vector<scanimage::Symbol> symbols(scanimage::kMaxSymbols);
    DWORD start = GetTickCount();
    Waiting waiting{keepGoing, start, timeout};
    serialscanner::Reading serial;
    serialscanner::Line line;
    for (;;) {
        std::vector<ViewSlot> found;
        {
            host::Lock lock(&s->header);
            for (const ViewSlot& v : s->view) {
                if (!readable(s, v)) continue;
                bool seen = false;
                for (uint32_t serial : delivered) seen = seen || serial == v.serial;
                if (!seen) found.push_back(v);
            }
        }
        for (const ViewSlot& v : found) {
            delivered.push_back(v.serial);
            uint32_t n = v.length <= host::kBarcodeBytes ? v.length : host::kBarcodeBytes;
            std::vector<char> data(n == 0 ? 1 : n, 0);
            std::memcpy(data.data(), v.data, n);
            DecodeResult record{};
            record.data = data.data();
            record.symbologyLetter = v.letter;
            record.length = static_cast<uint16_t>(n);
            if (onResult(&record) == 0) return kOk;
        }
        while (serial.take(line)) {
            DecodeResult record{};
            record.data = reinterpret_cast<char*>(line.data);
            record.symbologyLetter = static_cast<uint8_t>(line.letter);
            record.length = static_cast<uint16_t>(line.length);
            if (onResult(&record) == 0) return kOk;
        }
        int n = readImage(s, seen, waiting, symbols.data(), static_cast<int>(symbols.size()));
        for (int i = 0; i < n; ++i) {
            const scanimage::Symbol& b = symbols[i];
            std::string key = b.letter + b.bytes;
            bool seenBefore = false;
            for (const auto& k : deliveredImage) seenBefore = seenBefore || k == key;
            if (seenBefore) continue;
            deliveredImage.push_back(key);
            size_t size = b.bytes.size() <= static_cast<size_t>(host::kBarcodeBytes) ? b.bytes.size()
                                                                                            : host::kBarcodeBytes;
            std::vector<char> data(size + 1, 0);
            std::memcpy(data.data(), b.bytes.data(), size);
            DecodeResult record{};
            record.data = data.data();
            record.symbologyLetter = static_cast<uint8_t>(b.letter);
            record.length = static_cast<uint16_t>(size);
            if (onResult(&record) == 0) return kOk;
        }
        if (keepGoing != nullptr && keepGoing() == 0) return kNoRead;
        if (elapsed(start, timeout)) return kNoRead;
        Sleep(kPollMilliseconds);
    }
}

__attribute__((visibility("default"))) int ordinal_19(int write, int which, int32_t* enable, WindowRect* rect) {
    EngineState* s = host::engineState();
    if (s == nullptr || which != 1 || enable == nullptr || rect == nullptr || (write != 0 && write != 1))
        return kBadArgument;
    host::Lock lock(&s->header);
    if (write == 0) {
        *enable = s->windowEnable;
        rect->left = s->window[0];
        rect->top = s->window[1];
        rect->right = s->window[2];
        rect->bottom = s->window[3];
        return kOk;
    }
    // A window reaching beyond the image is cut to it.
    s->windowEnable = *enable;
    s->window[0] = clampTo(rect->left, host::kWindowColumns);
    s->window[1] = clampTo(rect->top, host::kWindowRows);
    s->window[2] = clampTo(rect->right, host::kWindowColumns);
    s->window[3] = clampTo(rect->bottom, host::kWindowRows);
    return kOk;
}

__attribute__((visibility("default"))) int ordinal_39(int write, int which, int32_t* mode) {
    EngineState* s = host::engineState();
    if (s == nullptr || which != 1 || mode == nullptr || (write != 0 && write != 1)) return kBadArgument;
    host::Lock lock(&s->header);
    if (write == 0) {
        *mode = s->lightsMode;
        return kOk;
    }
    if (*mode < 0 || *mode > 3) return kBadArgument;
    s->lightsMode = *mode;
    host::notifyAll(&s->header);
    return kOk;
}

}  // extern "C"
