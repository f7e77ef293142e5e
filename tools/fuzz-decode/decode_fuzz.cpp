// libFuzzer entry for the decode-settings reader: any bytes as a
// DecodeSettings.Vqf, read from memory and applied to the stand-in engine.
// Between inputs only the engine record is set back to its power-on state.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>

#include "scan/decoder.h"
#include "tools/fuzz-decode/decode_fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/keyvane-fuzz-decode-XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    if (!terminal::attach(pattern)) abort();
    terminal::recordMessageBoxes(false);
    terminal::setConfig("decoder", KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so");
    if (!loadDecoderLibrary()) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = decodefuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
