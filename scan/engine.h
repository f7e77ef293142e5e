// The scan engine connection: connect the engine, announce it through the
// named events, open the serial output port and start the serial listener.
#pragma once

#include <atomic>

#include "platform/platform.h"

extern std::atomic<BYTE> engineConnected;
// INVALID_HANDLE_VALUE while closed. Opening, closing, writing and reading
// the port go through the calls below, which take one lock, so no thread
// ever uses a handle that another has closed (or that names a reused one).
extern std::atomic<HANDLE> serialPortHandle;
extern WCHAR portName[6];

// Returns non-zero on success; shows its own message on failure.
int connectEngine(int engineOnly);
// Closes the serial output port (if open) and marks it closed.
void closeSerialPort();

enum SerialWrite { SerialWritten, SerialWroteNothing, SerialWriteFailed, SerialPortClosed };
// Writes to the serial output port, reopening it first (connectEngine(0))
// when it is closed, all under the connection's lock. A write that fails or
// reports 0 bytes closes the port before the lock is let go. SerialPortClosed:
// the port could not be reopened and nothing was written.
SerialWrite writeSerialPort(const void* bytes, DWORD length, DWORD* written);
// The serial listener thread (logs received chunks to "\\CharInLog.txt").
DWORD WINAPI serialListenerThread(LPVOID unused);
