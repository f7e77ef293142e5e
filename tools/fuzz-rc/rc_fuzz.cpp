// libFuzzer entry for the resource compiler's script reader.
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-rc/rc_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = rcfuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
