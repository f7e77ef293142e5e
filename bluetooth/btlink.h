// The Bluetooth serial link: a virtual COM port bound to a remote device's
// serial port service.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

enum BluetoothPortResult { BtPortCreated = 0, BtPortBadIndex = 1, BtPortBadAddress = 3, BtPortNoService = 4,
                           BtPortRefused = 5 };

int findFreeComIndex();
int isComIndexFree(int index);
int removeComDevice(int index);
int parseBluetoothAddress(const WCHAR* text, uint64_t* address);
int discoverRfcommChannel(uint64_t address);
int createBluetoothPort(const WCHAR* addressText, int comIndex, int channel, int portType);

// Finds the RFCOMM channel of the serial port service in a service-attribute
// response; -1 when there is none or the bytes are malformed.
int findRfcommChannel(const unsigned char* response, size_t length);
