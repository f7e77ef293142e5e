#include "tests/support/files.h"

#include <fstream>
#include <sstream>

namespace testfiles {

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testfiles
