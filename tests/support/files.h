// Reading a whole file in a test.
#pragma once

#include <string>

namespace testfiles {

// The file's bytes as they are on disk; "" when it cannot be read.
std::string fileText(const std::string& path);

}  // namespace testfiles
