// The image fuzz target's checks over its stored corpus and over truncations
// and byte changes of real files, so that the regular suite covers them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"
#include "tools/fuzz-image/image_fuzz_check.h"

namespace {

namespace fs = std::filesystem;

int check(const std::string& bytes, scanimage::ReaderOutcome* outcome = nullptr) {
    return imagefuzz::check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), outcome);
}

class ImageCorpus : public ::testing::Test {
protected:
    void SetUp() override { setenv("KEYVANE_READER", KEYVANE_BINARY_DIR "/platform/decoder/keyvane-reader", 1); }
    void TearDown() override { scanimage::stopReader(); }
};

TEST_F(ImageCorpus, StoredInputsKeepTheInvariants) {
    int files = 0, died = 0;
    for (const auto& entry : fs::directory_iterator(KEYVANE_SOURCE_DIR "/tools/fuzz-image/corpus")) {
        scanimage::ReaderOutcome outcome = scanimage::ReaderOutcome::Read;
        EXPECT_EQ(0, check(testfiles::fileText(entry.path().string()), &outcome)) << entry.path();
        died += outcome == scanimage::ReaderOutcome::Died;
        ++files;
    }
    EXPECT_GE(files, 10);
    // At least the picture that aborts the reader library.
    EXPECT_GE(died, 1);
}

TEST_F(ImageCorpus, TruncationsAndByteChangesOfRealFilesKeepTheInvariants) {
    std::string dir = testfiles::makeTempFolder("keyvane-corpus");
    ASSERT_FALSE(dir.empty());
    scanimage::GrayImage label;
    std::string error;
    scanimage::LabelStyle style;
    style.moduleSize = 2;
    ASSERT_TRUE(scanimage::renderLabel(*scanimage::formatByName("QRCode"), "Q1", style, label, error));
    std::vector<std::string> seeds;
    for (const char* name : {"/q.png", "/q.jpg"}) {
        ASSERT_TRUE(scanimage::saveImage(dir + name, label));
        seeds.push_back(testfiles::fileText(dir + name));
    }
    testfiles::removeFolder(dir);
    const unsigned char values[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    for (const std::string& seed : seeds) {
        ASSERT_EQ(0, check(seed));
        for (size_t n = 0; n < seed.size(); n += 7) ASSERT_EQ(0, check(seed.substr(0, n))) << n;
        // Every header byte; then every 13th byte of the rest.
        for (size_t i = 0; i < seed.size(); i += i < 64 ? 1 : 13) {
            for (unsigned char v : values) {
                std::string changed = seed;
                changed[i] = static_cast<char>(v);
                ASSERT_EQ(0, check(changed)) << i << "=" << static_cast<int>(v);
            }
        }
    }
}

}  // namespace
