// Every fuzz target's checks over its stored corpus, so that the regular
// suite keeps what the fuzzers found (regressions included) in a few seconds.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"
#include "tools/fuzz-btaddr/btaddr_fuzz_check.h"
#include "tools/fuzz-console/console_fuzz_check.h"
#include "tools/fuzz-decode/decode_fuzz_check.h"
#include "tools/fuzz-framing/framing_fuzz_check.h"
#include "tools/fuzz-rc/rc_fuzz_check.h"
#include "tools/fuzz-scansync/scansync_fuzz_check.h"
#include "tools/fuzz-serve/serve_fuzz_check.h"
#include "tools/fuzz-settings/settings_fuzz_check.h"
#include "tools/fuzz-termconf/termconf_fuzz_check.h"
#include "tools/fuzz-viewline/viewline_fuzz_check.h"

namespace {

std::vector<std::pair<std::string, std::string>> corpus(const std::string& target) {
    std::vector<std::pair<std::string, std::string>> inputs;
    std::string dir = std::string(KEYVANE_SOURCE_DIR) + "/tools/fuzz-" + target + "/corpus";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return inputs;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        inputs.emplace_back(name, testfiles::fileText(dir + "/" + name));
    }
    closedir(d);
    return inputs;
}

template <typename Check>
void replay(const std::string& target, size_t atLeast, Check check) {
    auto inputs = corpus(target);
    EXPECT_GE(inputs.size(), atLeast) << target;
    for (const auto& [name, bytes] : inputs) {
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());
        EXPECT_EQ(0, check(copy.data(), copy.size())) << target << "/" << name;
    }
}

// The readers that act on the terminal run on a terminal root of their own,
// with the stand-in engine loaded.
class TerminalCorpus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string root = testfiles::makeTempFolder("keyvane-corpus-replay");
        ASSERT_FALSE(root.empty());
        mkdir((root + "/Zentrova").c_str(), 0755);
        ASSERT_TRUE(terminal::attach(root));
        terminal::setConfig("decoder", KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so");
        ASSERT_TRUE(loadDecoderLibrary());
    }
};

}  // namespace

TEST(FuzzCorpus, TextReadersKeepTheirInvariants) {
    replay("console", 20, consolefuzz::check);
    replay("termconf", 10, termconffuzz::check);
    replay("rc", 10, rcfuzz::check);
    replay("viewline", 10, viewlinefuzz::check);
    replay("btaddr", 10, btaddrfuzz::check);
}

TEST(FuzzCorpus, FramesReadBackAsBuilt) {
    replay("framing", 20, [](const uint8_t* data, size_t size) {
        restartFrameSequence();
        return framingfuzz::check(data, size);
    });
}

TEST_F(TerminalCorpus, ScanSyncAnswersAgreeWithTheSlots) {
    replay("scansync", 20, [](const uint8_t* d, size_t n) { return scansyncfuzz::check(d, n, false); });
    replay("multidecode", 20, [](const uint8_t* d, size_t n) { return scansyncfuzz::check(d, n, true); });
}

TEST_F(TerminalCorpus, SettingsFilesLeaveEveryFieldTerminated) {
    replay("settings", 20, settingsfuzz::check);
    resetProcessState();
}

TEST_F(TerminalCorpus, ServedRequestsAreCheckedBeforeTheirRoutes) {
    replay("serve", 20, servefuzz::check);
}

TEST_F(TerminalCorpus, DecodeSettingsKeepLengthsInOrder) {
    replay("decode", 20, decodefuzz::check);
}
