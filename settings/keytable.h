// The character-to-key table and the device table: which keypad family,
// 5-volt power-switch method and LED numbering a device model number has.
#pragma once

#include "platform/platform.h"

struct KeyTableEntry {
    DWORD virtualKey;  // the low 8 bits are used
    BYTE shiftNeeded;
};

extern KeyTableEntry characterToKeyTable[128];

// Model number used when the platform reports none: keypad family 1, no
// power-switch method, rotated LED numbering.
extern const int kFallbackDeviceModel;

enum PowerSwitchMethod { PowerSwitchNone = 0, PowerSwitchPortControl = 1, PowerSwitchKernelControl = 2 };

// 0 for the default keypad, 1..6 for the keypad families.
int keypadFamily(int deviceModel);
PowerSwitchMethod powerSwitchMethod(int deviceModel);

// Fills entries 9..127 for the keypad of the device model.
void fillCharacterToKeyTable(int deviceModel);
