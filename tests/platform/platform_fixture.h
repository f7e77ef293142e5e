// A fresh, empty terminal root per test, attached to this process.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "tests/support/files.h"
#include "tests/support/temp_root.h"

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testfiles::makeTempFolder("keyvane-platform");
        ASSERT_FALSE(root.empty());
        ASSERT_TRUE(terminal::attach(root));
        terminal::reset();
    }
    void TearDown() override {
        std::string command = "rm -rf '" + root + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string hostFile(const std::string& relative) const { return root + "/" + relative; }
    void writeHost(const std::string& relative, const std::string& bytes) const {
        std::ofstream out(hostFile(relative), std::ios::binary);
        out << bytes;
    }
    std::string readHost(const std::string& relative) const { return testfiles::fileText(hostFile(relative)); }
    void makeDir(const std::string& relative) const { mkdir(hostFile(relative).c_str(), 0755); }

    std::string root;
};
