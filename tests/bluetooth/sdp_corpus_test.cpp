// The fuzz target's checks over its stored corpus and over every one-byte
// change and truncation of real responses, so the regular suite covers them.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/bluetooth_support.h"
#include "tests/support/files.h"
#include "tools/fuzz-sdp/sdp_fuzz_check.h"

using namespace bttest;

namespace {

int checkBytes(const std::string& bytes) {
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    return sdpfuzz::check(copy.data(), copy.size());
}

}  // namespace

TEST(SdpCorpus, StoredInputsKeepTheInvariants) {
    std::string dir = std::string(KEYVANE_SOURCE_DIR) + "/tools/fuzz-sdp/corpus";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int files = 0;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string bytes = testfiles::fileText(dir + "/" + name);
        ++files;
        EXPECT_EQ(0, checkBytes(bytes)) << name;
        // The inputs named by hand are broken responses unless named good-;
        // those the fuzzer found (named by their SHA-1) may be either.
        bool foundByFuzzer = name.size() == 40 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
        if (name.rfind("good-", 0) != 0 && !foundByFuzzer) {
            EXPECT_EQ(-1, channelOf(bytes)) << name;
        }
    }
    closedir(d);
    EXPECT_GE(files, 10);
}

TEST(SdpCorpus, EveryByteChangeOfRealResponsesKeepsTheInvariants) {
    std::vector<std::string> seeds = {
        response({serialPortRecord(5)}),
        response({descriptorsRecord({sequence({uuid16(0x0100), uuid16(3)})}), serialPortRecord(9)}),
        sequence({record({{0x0004, alternative({sequence({uuid128(rfcomm128Bytes()), unsigned16(0x0203)})}, 2)},
                          {0x0100, text("Port", 2)},
                          {0x0101, url("x", 4)}})},
                 4),
    };
    const unsigned char values[] = {0x00, 0x01, 0x35, 0x36, 0x37, 0x7F, 0x80, 0xFF};
    for (const std::string& seed : seeds) {
        ASSERT_NE(-1, channelOf(seed));
        for (size_t n = 0; n <= seed.size(); ++n) ASSERT_EQ(0, checkBytes(seed.substr(0, n))) << n;
        for (size_t i = 0; i < seed.size(); ++i) {
            for (unsigned char v : values) {
                std::string changed = seed;
                changed[i] = static_cast<char>(v);
                ASSERT_EQ(0, checkBytes(changed)) << "byte " << i << " = " << int(v);
            }
        }
    }
}
