// libFuzzer entry for the served page's request handling, on a terminal root
// of its own made once.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/terminal.h"
#include "tools/fuzz-serve/serve_fuzz_check.h"
#include "tools/terminal/console.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string root;
    if (!console::makeTemporaryFolder("fuzz-serve", root) || !terminal::attach(root)) {
        std::fprintf(stderr, "cannot make a terminal root\n");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (int broken = servefuzz::check(data, size)) {
        std::fprintf(stderr, "invariant %d broken\n", broken);
        abort();
    }
    return 0;
}
