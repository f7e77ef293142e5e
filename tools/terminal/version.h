// keyvane-terminal --version.
#pragma once

#include <iosfwd>
#include <string>

namespace console {

// The version a binary carries as its what-string "@(#)<name> <version>",
// read from the file without running or loading it. Empty when the file
// cannot be read or carries no such string.
std::string binaryVersion(const std::string& path, const std::string& name);

// Prints the console's version and the versions and paths of the wedge and
// the decoder library it would use.
void printVersion(std::ostream& out);

}  // namespace console
