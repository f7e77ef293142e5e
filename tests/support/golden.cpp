#include "tests/support/golden.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/files.h"

namespace golden {

bool updating() {
    const char* update = std::getenv("KEYVANE_UPDATE_GOLDEN");
    return update != nullptr && std::string(update) == "1";
}

void expectFile(const std::string& path, const std::string& actual) {
    if (updating()) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << "no golden file " << path;
    EXPECT_EQ(testfiles::fileText(path), actual) << "golden file " << path;
}

}  // namespace golden
