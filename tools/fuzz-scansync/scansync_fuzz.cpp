// libFuzzer entry for the scan-sync handler with rule matching: text barcodes
// as the single-decode road hands them.
#include <cstdio>
#include <cstdlib>

#include "shell/tracelog.h"
#include "tools/fuzz-scansync/scansync_fuzz_check.h"

// The trace of the target: bounded lines, written nowhere.
void traceAppend(const WCHAR* text) {
    if (text != nullptr && textLength(text, 4096) >= 4096) abort();
}
void traceAppendFormat(const char*, ...) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = scansyncfuzz::check(data, size, false)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
