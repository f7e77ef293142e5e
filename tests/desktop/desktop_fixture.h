// The desktop tests' common ground: skipped where Xvfb is not installed,
// with a temporary folder (`dir_`) removed after.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/desktop/desktop_support.h"

namespace desktop {

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing = missingXvfb();
        if (!missing.empty()) GTEST_SKIP() << missing;
        dir_ = tempFolder();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { removeFolder(dir_); }
    std::string dir_;
};

}  // namespace desktop
