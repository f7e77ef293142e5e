#include "scan/decoder.h"

#include <atomic>
#include <mutex>

#include "settings/settings.h"
#include "shell/constants.h"

char decodeBuffer[kDecodeBufferBytes];
uint16_t decodeLength;
uint8_t symbologyLetterOut;
uint8_t secondIdentifierOut;
uint8_t thirdIdentifierOut;

namespace {

// The bound calls. Bound once (under the load lock) and read by any thread.
std::atomic<DecoderConfigure> boundConfigure{nullptr};
std::atomic<DecoderReadSymbology> boundReadSymbology{nullptr};
std::atomic<DecoderWriteSymbology> boundWriteSymbology{nullptr};
std::atomic<DecoderGlobals> boundGlobals{nullptr};
std::atomic<DecoderConnect> boundConnect{nullptr};
std::atomic<DecoderDisconnect> boundDisconnect{nullptr};
std::atomic<DecoderAimer> boundAimer{nullptr};
std::atomic<DecoderSingleDecode> boundSingleDecode{nullptr};
std::atomic<DecoderMultiDecode> boundMultiDecode{nullptr};
std::atomic<DecoderWindow> boundWindow{nullptr};
std::atomic<DecoderLightsMode> boundLightsMode{nullptr};
std::atomic<bool> loaded{false};

std::mutex& loadLock() {
    static std::mutex lock;
    return lock;
}

constexpr int kNotBound = -1;

template <class T>
T bindOrdinal(HMODULE library, int ordinal) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
}

// The library is loaded on the first call that needs it (and tried again by
// later calls while it could not be loaded).
template <class T>
T bound(const std::atomic<T>& call) {
    if (!loaded.load()) loadDecoderLibrary();
    return call.load();
}

}  // namespace

bool loadDecoderLibrary() {
    std::lock_guard<std::mutex> guard(loadLock());
    if (loaded.load()) return true;
    HMODULE library = LoadLibraryW(TEXT("Decoder.dll"));
    if (library == nullptr) return false;
    boundConfigure.store(bindOrdinal<DecoderConfigure>(library, 2));
    boundReadSymbology.store(bindOrdinal<DecoderReadSymbology>(library, 3));
    boundWriteSymbology.store(bindOrdinal<DecoderWriteSymbology>(library, 4));
    boundGlobals.store(bindOrdinal<DecoderGlobals>(library, 8));
    boundConnect.store(bindOrdinal<DecoderConnect>(library, 9));
    boundDisconnect.store(bindOrdinal<DecoderDisconnect>(library, 10));
    boundAimer.store(bindOrdinal<DecoderAimer>(library, 11));
    boundSingleDecode.store(bindOrdinal<DecoderSingleDecode>(library, 13));
    boundMultiDecode.store(bindOrdinal<DecoderMultiDecode>(library, 14));
    boundWindow.store(bindOrdinal<DecoderWindow>(library, 19));
    boundLightsMode.store(bindOrdinal<DecoderLightsMode>(library, 39));
    bool all = boundConfigure.load() && boundReadSymbology.load() && boundWriteSymbology.load() &&
               boundGlobals.load() && boundConnect.load() && boundDisconnect.load() && boundAimer.load() &&
               boundSingleDecode.load() && boundMultiDecode.load() && boundWindow.load() && boundLightsMode.load();
    loaded.store(all);
    return all;
}

int decoderConfigure(int a, int b) {
    DecoderConfigure call = bound(boundConfigure);
    return call ? call(a, b) : kNotBound;
}

int decoderReadSymbology(int symbologyId, SymbologyConfig* config) {
    DecoderReadSymbology call = bound(boundReadSymbology);
    return call ? call(1, symbologyId, config) : kNotBound;
}

int decoderWriteSymbology(int symbologyId, SymbologyConfig* config) {
    DecoderWriteSymbology call = bound(boundWriteSymbology);
    return call ? call(symbologyId, config) : kNotBound;
}

int decoderReadGlobals(DecoderGlobalSettings* globals) {
    DecoderGlobals call = bound(boundGlobals);
    return call ? call(0, 1, globals) : kNotBound;
}

int decoderWriteGlobals(DecoderGlobalSettings* globals) {
    DecoderGlobals call = bound(boundGlobals);
    return call ? call(1, 1, globals) : kNotBound;
}

int decoderConnect() {
    DecoderConnect call = bound(boundConnect);
    return call ? call() : kNotBound;
}

int decoderDisconnect() {
    DecoderDisconnect call = bound(boundDisconnect);
    return call ? call() : kNotBound;
}

int decoderAimer(int on) {
    DecoderAimer call = bound(boundAimer);
    return call ? call(on) : kNotBound;
}

int decoderSingleDecode(DWORD timeout, char* buffer, uint8_t* letter, uint8_t* second, uint8_t* third, uint16_t* length,
                        KeepGoingCallback keepGoingCall) {
    DecoderSingleDecode call = bound(boundSingleDecode);
    return call ? call(timeout, buffer, letter, second, third, length, keepGoingCall) : kNotBound;
}

int decoderMultiDecode(DWORD timeout, ResultCallback onResult, KeepGoingCallback keepGoingCall, uint8_t* collected) {
    DecoderMultiDecode call = bound(boundMultiDecode);
    return call ? call(timeout, onResult, keepGoingCall, collected) : kNotBound;
}

int decoderReadWindow(int32_t* enable, DecodeWindowRect* rect) {
    DecoderWindow call = bound(boundWindow);
    return call ? call(0, 1, enable, rect) : kNotBound;
}

int decoderWriteWindow(int32_t* enable, DecodeWindowRect* rect) {
    DecoderWindow call = bound(boundWindow);
    return call ? call(1, 1, enable, rect) : kNotBound;
}

int decoderReadLightsMode(int32_t* mode) {
    DecoderLightsMode call = bound(boundLightsMode);
    return call ? call(0, 1, mode) : kNotBound;
}

int decoderWriteLightsMode(int32_t* mode) {
    DecoderLightsMode call = bound(boundLightsMode);
    return call ? call(1, 1, mode) : kNotBound;
}

int keepGoing() {
    if (settings.PresentationMode.load() != 0) return 1;
    return (GetAsyncKeyState(static_cast<int>(kScanKey)) & 0x8000) != 0 ? 1 : 0;
}
