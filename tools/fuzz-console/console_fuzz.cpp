// libFuzzer entry for the console's escape decoder, word splitter, frame
// splitter and scenario reader.
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-console/console_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = consolefuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
