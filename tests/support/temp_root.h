// Temporary folders for tests: terminal roots and scratch space.
#pragma once

#include <string>

namespace testfiles {

// A new empty folder "NAME-XXXXXX" in the temporary folder ($TMPDIR, else
// /tmp), readable by its owner alone. Returns its path ("" on failure).
std::string makeTempFolder(const std::string& name);
// Removes the folder and everything in it; nothing when `path` is empty.
void removeFolder(const std::string& path);

}  // namespace testfiles
