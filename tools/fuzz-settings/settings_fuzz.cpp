// libFuzzer entry for the settings file reader: any bytes as Keyvane.ini,
// read from memory by the reading part of the settings load. Between inputs
// only the process-wide records are set back to their power-on state (the
// input touches nothing else of the terminal but the Bluetooth port it may
// name), and the trace stays silent.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "shell/tracelog.h"
#include "tools/fuzz-settings/settings_fuzz_check.h"

// The trace of the target: bounded lines, written nowhere.
void traceAppend(const WCHAR* text) {
    if (text != nullptr && textLength(text, 4096) >= 4096) abort();
}
void traceAppendFormat(const char*, ...) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/keyvane-fuzz-settings-XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    std::string root = pattern;
    mkdir((root + "/Zentrova").c_str(), 0755);
    if (!terminal::attach(root)) abort();
    terminal::recordMessageBoxes(false);
    terminal::setConfig("decoder", KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so");
    terminal::setClockSpeed(1000);
    if (!loadDecoderLibrary()) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = settingsfuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
