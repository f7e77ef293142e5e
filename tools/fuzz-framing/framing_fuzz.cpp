// libFuzzer entry for the serial frame builders and the frame reader.
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-framing/framing_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    restartFrameSequence();
    if (int broken = framingfuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
