// libFuzzer entry for the service-attribute response reader.
#include <cstdlib>

#include "tools/fuzz-sdp/sdp_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (sdpfuzz::check(data, size) != 0) abort();
    return 0;
}
