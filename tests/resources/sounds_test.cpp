// The four feedback sounds: generated WAVE files in the exact formats the
// program's resources use, and compiled into its resource table.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/host/resources.h"
#include "tests/support/files.h"

namespace {

struct Format {
    unsigned resource;
    unsigned bits;
    unsigned rate;
    size_t fileBytes;
};

// The little-endian number of `bytes` bytes at `at`.
uint32_t le(const std::vector<unsigned char>& b, size_t at, size_t bytes = 4) {
    uint32_t v = 0;
    for (size_t i = bytes; i-- > 0;) v = (v << 8) | b[at + i];
    return v;
}

void checkWave(const std::vector<unsigned char>& b, const Format& f) {
    ASSERT_EQ(f.fileBytes, b.size());
    EXPECT_EQ("RIFF", std::string(b.begin(), b.begin() + 4));
    EXPECT_EQ(f.fileBytes - 8, le(b, 4));
    EXPECT_EQ("WAVE", std::string(b.begin() + 8, b.begin() + 12));
    EXPECT_EQ("fmt ", std::string(b.begin() + 12, b.begin() + 16));
    EXPECT_EQ(16u, le(b, 16));
    EXPECT_EQ(1u, le(b, 20, 2));  // PCM
    EXPECT_EQ(1u, le(b, 22, 2));  // mono
    EXPECT_EQ(f.rate, le(b, 24));
    EXPECT_EQ(f.rate * f.bits / 8, le(b, 28));
    EXPECT_EQ(f.bits / 8, le(b, 32, 2));
    EXPECT_EQ(f.bits, le(b, 34, 2));
    EXPECT_EQ("data", std::string(b.begin() + 36, b.begin() + 40));
    EXPECT_EQ(f.fileBytes - 44, le(b, 40));
    // A recording, not silence.
    bool varies = false;
    for (size_t i = 45; i < b.size() && !varies; ++i) varies = b[i] != b[44];
    EXPECT_TRUE(varies);
}

const Format kSounds[] = {{134, 16, 11025, 11564}, {135, 16, 11025, 9370}, {129, 8, 22050, 2258}, {4, 8, 11025, 4454}};

TEST(Sounds, FilesAndTheirResourcesHaveTheirFormatsAndSizes) {
    for (const Format& f : kSounds) {
        SCOPED_TRACE(f.resource);
        std::string bytes =
            testfiles::fileText(std::string(KEYVANE_SOURCE_DIR "/resources/sound") + std::to_string(f.resource) + ".wav");
        ASSERT_FALSE(bytes.empty());
        checkWave(std::vector<unsigned char>(bytes.begin(), bytes.end()), f);
        const host::Resource* r = host::find(host::KindBinary, f.resource, "WAVE");
        ASSERT_NE(nullptr, r);
        checkWave(std::vector<unsigned char>(r->data, r->data + r->size), f);
    }
}

}  // namespace
