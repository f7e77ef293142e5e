// What a settings file asks of the terminal beyond the records it fills: the
// capture of every key, the card reader, a Bluetooth port for an address.
// The load passes the terminal's own; a reader under test records them.
#pragma once

#include "platform/platform.h"

struct SettingsActions {
    void (*captureAllKeys)();
    void (*startCardReader)();
    void (*createBluetoothPort)(const WCHAR* address);
};
