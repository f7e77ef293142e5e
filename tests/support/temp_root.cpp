#include "tests/support/temp_root.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace testfiles {

namespace fs = std::filesystem;

std::string makeTempFolder(const std::string& name) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / (name + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    const char* made = mkdtemp(buffer.data());
    return made ? std::string(made) : std::string();
}

void removeFolder(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
}

}  // namespace testfiles
