// libFuzzer entry for the Bluetooth address parser.
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-btaddr/btaddr_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = btaddrfuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
