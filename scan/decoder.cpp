#include "scan/decoder.h"

#include <atomic>
#include <mutex>


char decodeBuffer[kDecodeBufferBytes];
uint16_t decodeLength;
uint8_t symbologyLetterOut;
uint8_t secondIdentifierOut;
uint8_t thirdIdentifierOut;

namespace {

// The bound calls, bound<name>. Bound once (under the load lock) and read by any thread.
#define BOUND_CALL(ordinal, name, result, parameters) std::atomic<Decoder##name> bound##name{nullptr};
DECODER_CALLS(BOUND_CALL)
#undef BOUND_CALL
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
    bool all = true;
#define BIND_CALL(ordinal, name, result, parameters)                         \
    bound##name.store(bindOrdinal<Decoder##name>(library, ordinal)); \
    all = all && bound##name.load() != nullptr;
    DECODER_CALLS(BIND_CALL)
#undef BIND_CALL
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
