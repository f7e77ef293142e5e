// Numbers that the wedge's parts and the console share. Resource numbers
// (strings, icon, menu commands, sounds) are in resources/resource.h.
#pragma once

#include "platform/platform.h"

// The scan key's virtual key code, and the id it is registered under as a
// hot key (the same number by the platform's convention).
constexpr UINT kScanKey = 42;
constexpr int SCAN_HOTKEY_ID = 42;
