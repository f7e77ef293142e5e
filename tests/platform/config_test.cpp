// The terminal's configuration as every attached process sees it: kept in
// memory between changes, and every change seen, whoever made it and however.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/host/terminal.h"
#include "platform_fixture.h"
#include "tests/support/temp_root.h"
#include "tests/support/test_child.h"

namespace {

using Clock = std::chrono::steady_clock;

class ConfigTest : public PlatformTest {
protected:
    std::string conf() const { return root + "/.terminal/terminal.conf"; }

    // Rewrites the file in place (same file, as an editor that saves over it
    // does), with lines of the same length each time.
    void editInPlace(const std::string& text) const {
        std::FILE* f = std::fopen(conf().c_str(), "r+");
        ASSERT_NE(f, nullptr);
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }

    // A hand edit is seen once the process has taken note of it: the value
    // the look-ups give within a bound.
    static std::string awaitValue(const std::string& key, const std::string& wanted) {
        auto deadline = Clock::now() + std::chrono::seconds(5);
        std::string value = terminal::config(key);
        while (value != wanted && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            value = terminal::config(key);
        }
        return value;
    }

    // Runs `body` in a forked child; its exit code.
    template <class Body>
    static int inChild(Body body) {
        pid_t child = testchild::forkTestChild();
        if (child == 0) _exit(body());
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST_F(ConfigTest, AChangeByAnotherProcessIsSeenByTheVeryNextLookUp) {
    terminal::setConfig("keypad", "0");
    ASSERT_EQ(terminal::config("keypad"), "0");
    // Each round another process (as the console's `config` does) sets a
    // value; the look-up right after its end must give it, with no wait.
    for (int round = 1; round <= 100; ++round) {
        std::string value = std::to_string(round % 7);
        ASSERT_EQ(inChild([&] {
                      terminal::setConfig("keypad", value);
                      return 0;
                  }),
                  0);
        ASSERT_EQ(terminal::config("keypad"), value) << "round " << round;
        ASSERT_EQ(terminal::config("KEYPAD"), value) << "keys ignore letter case";
    }
}

TEST_F(ConfigTest, AHandEditInPlaceIsSeenEvenWhenTheFileKeepsItsSizeAndTime) {
    terminal::setConfig("keypad", "1");
    terminal::setConfig("model", "0x00001F40");
    ASSERT_EQ(terminal::config("keypad"), "1");
    // Rewritten in place, with the same size, well within the file system's
    // time stamp granularity: neither the file's identity, nor its size, nor
    // (mostly) its modification time tell the new text from the old.
    for (int round = 0; round < 20; ++round) {
        std::string value = std::to_string(2 + round % 5);
        editInPlace("keypad = " + value + "\nmodel = 0x00001F40\n");
        EXPECT_EQ(awaitValue("keypad", value), value) << "round " << round;
    }
}

TEST_F(ConfigTest, AFileReplacedOrRemovedByHandIsSeen) {
    terminal::setConfig("screen", "240x320");
    ASSERT_EQ(terminal::config("screen"), "240x320");
    std::string temp = conf() + ".by-hand";
    std::ofstream(temp) << "screen = 480x640\n";
    ASSERT_EQ(rename(temp.c_str(), conf().c_str()), 0);
    EXPECT_EQ(awaitValue("screen", "480x640"), "480x640");
    ASSERT_EQ(unlink(conf().c_str()), 0);
    EXPECT_EQ(awaitValue("screen", ""), "");
    std::ofstream(conf()) << "screen = 320x240\n";
    EXPECT_EQ(awaitValue("screen", "320x240"), "320x240");
}

TEST_F(ConfigTest, ATerminalFolderMadeAfreshIsWatchedAfresh) {
    terminal::setConfig("screen", "240x320");
    ASSERT_EQ(terminal::config("screen"), "240x320");
    std::string folder = root + "/.terminal";
    std::filesystem::rename(folder, root + "/.terminal-old");
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/terminal.conf") << "screen = 800x600\n";
    EXPECT_EQ(awaitValue("screen", "800x600"), "800x600");
    // The new folder's changes are seen too, the old one's no longer.
    editInPlace("screen = 640x480\n");
    EXPECT_EQ(awaitValue("screen", "640x480"), "640x480");
    std::ofstream(root + "/.terminal-old/terminal.conf") << "screen = 1x1\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(terminal::config("screen"), "640x480");
}

TEST_F(ConfigTest, AForkedChildSeesChangesOnItsOwn) {
    terminal::setConfig("keypad", "1");
    ASSERT_EQ(terminal::config("keypad"), "1");
    // The child inherits the kept lines. It runs no watcher thread of its
    // own, and still sees each hand edit by the very next look-up; what it
    // does leaves the parent's view right.
    EXPECT_EQ(inChild([this] {
                  if (terminal::config("keypad") != "1") return 1;
                  for (char value : std::string("2434")) {
                      editInPlace(std::string("keypad = ") + value + "\n");
                      if (terminal::config("keypad") != std::string(1, value)) return 2;
                  }
                  return 0;
              }),
              0);
    EXPECT_EQ(awaitValue("keypad", "4"), "4");
    editInPlace("keypad = 5\n");
    EXPECT_EQ(awaitValue("keypad", "5"), "5");
}

TEST_F(ConfigTest, AnotherRootHasItsOwnConfiguration) {
    terminal::setConfig("model", "0x00000001");
    ASSERT_EQ(terminal::model(), 1);
    std::string other = testfiles::makeTempFolder("keyvane-platform");
    ASSERT_FALSE(other.empty());
    ASSERT_TRUE(terminal::attach(other));
    EXPECT_EQ(terminal::model(), 0);
    terminal::setConfig("model", "0x00000002");
    EXPECT_EQ(terminal::model(), 2);
    ASSERT_TRUE(terminal::attach(root));
    EXPECT_EQ(terminal::model(), 1);
    testfiles::removeFolder(other);
}

}  // namespace
