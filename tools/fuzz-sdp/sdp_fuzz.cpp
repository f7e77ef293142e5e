// libFuzzer entry for the service-attribute response reader.
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-sdp/sdp_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = sdpfuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
