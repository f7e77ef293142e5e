// libFuzzer entry for the Windows stand-in engine's view file reader.
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-viewline/viewline_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = viewlinefuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
