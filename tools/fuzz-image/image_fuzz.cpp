// Fuzz target for the image path of the scan engine: any bytes as a PNG or
// JPEG file, then the barcodes read from whatever picture they make in the
// reader process, as the decoder library reads them (image_fuzz_check.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tools/fuzz-image/image_fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("KEYVANE_READER", KEYVANE_READER_PATH, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int broken = imagefuzz::check(data, size);
    if (broken != 0) {
        std::fprintf(stderr, "image fuzz: invariant %d broken\n", broken);
        std::abort();
    }
    return 0;
}
