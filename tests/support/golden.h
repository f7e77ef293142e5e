// Golden files: a test's output compared with the text recorded in a file.
// With KEYVANE_UPDATE_GOLDEN=1 in the environment the file is rewritten with
// the output instead (review the difference before committing it).
#pragma once

#include <string>

namespace golden {

// True when KEYVANE_UPDATE_GOLDEN=1 asks for the golden files to be rewritten.
bool updating();
// Expects the file at `path` to hold exactly `actual`, or, when updating,
// writes `actual` there (making its folder).
void expectFile(const std::string& path, const std::string& actual);

}  // namespace golden
