// AIM symbology identifiers ("]C1": "]", the code character, a modifier) as
// the symbologies of the one table (symbologies.h), named by their names.
#pragma once

#include "scan/symbologies.h"

// The symbology that the identifier's code character and modifier name;
// null when none of the list.
const Symbology* symbologyByAim(char code, char modifier);
