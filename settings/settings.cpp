// The settings record.
#include "settings/settings.h"

// Constant-initialized, so that the defaults set at start-up
// (settings/settingstable.cpp) are not overwritten by a later initializer.
constinit SettingsRecord settings{};
