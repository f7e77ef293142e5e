// libFuzzer entry for the terminal configuration reader (terminal.conf).
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-termconf/termconf_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = termconffuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
