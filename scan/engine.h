// The scan engine connection: connect the engine, announce it through the
// named events, open the serial output port and start the serial listener.
#pragma once

#include <atomic>

#include "platform/platform.h"

extern std::atomic<BYTE> engineConnected;
extern std::atomic<HANDLE> serialPortHandle;  // INVALID_HANDLE_VALUE while closed
extern WCHAR portName[6];

// Returns non-zero on success; shows its own message on failure.
int connectEngine(int engineOnly);
// Closes the serial output port (if open) and marks it closed.
void closeSerialPort();
// The serial listener thread (logs received chunks to "\\CharInLog.txt").
DWORD WINAPI serialListenerThread(LPVOID unused);
