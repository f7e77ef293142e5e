// Where the host terminal finds the stand-in decoder library.
#pragma once

#include <string>

namespace terminal {

// The stand-in decoder library that "Decoder.dll" loads when the terminal's
// configuration names none: $KEYVANE_DECODER (the library or its folder),
// beside the running program, in a build tree, or where an installation
// keeps it (relative to the installed programs). Empty when none is found.
std::string defaultDecoderLibrary();

}  // namespace terminal
