// What must hold for the resource compiler's script reader: any script is
// either refused, or read into table entries each of which is one braced
// initialiser; nothing else (no crash, no exception out of it). Files the script
// names are looked for in a folder that does not exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "tools/rc/rcscript.h"

namespace rcfuzz {

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    std::ostream quiet(nullptr);
    rcscript::Parser parser(std::string(reinterpret_cast<const char*>(data), size), "/nonexistent/keyvane-rc",
                            &quiet);
    parser.run();
    // A script error stops the reading (its message goes to the message stream
    // or names its line).
    if (parser.failed) return parser.error.empty() || parser.error.rfind("line ", 0) == 0 ? 0 : 1;
    for (const std::string& entry : parser.out)
        if (entry.empty() || entry.front() != '{' || entry.back() != '}') return 2;
    return 0;
}

}  // namespace rcfuzz
