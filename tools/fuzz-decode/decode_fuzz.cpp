// libFuzzer entry for the decode-settings reader: any bytes as
// "\\Zentrova\\DecodeSettings.Vqf" applied to the stand-in engine. Every
// apply must read the file to its end, and the engine must keep every
// symbology's lengths in order.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"

namespace {
std::string filePath;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/keyvane-fuzz-decode-XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    std::string root = pattern;
    mkdir((root + "/Zentrova").c_str(), 0755);
    filePath = root + "/Zentrova/DecodeSettings.Vqf";
    if (!terminal::attach(root)) abort();
    terminal::setConfig("decoder", KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so");
    if (!loadDecoderLibrary()) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(filePath.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);

    terminal::reset();
    if (applyDecodeSettings("\\Zentrova\\DecodeSettings.Vqf") != 1) abort();
    for (int id = 0; id < 64; ++id) {
        terminal::SymbologyState s = terminal::symbology(id);
        if (s.minLength > s.maxLength) abort();
    }
    return 0;
}
