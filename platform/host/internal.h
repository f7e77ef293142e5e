// Helpers shared by the host terminal's own facilities (not part of the API).
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/host_api.h"

namespace hostinternal {

// UTF-16 <-> UTF-8 (unpaired surrogates become U+FFFD).
std::string toUtf8(const std::u16string& text);
std::string toUtf8(const WCHAR* text);
std::u16string fromUtf8(const std::string& text);

// Folds ASCII letters to lower case.
std::string lowerAscii(std::string text);

// <root>/.terminal and its log folder.
std::string terminalDir();
std::string logDir();

// Appends one complete line to a log file of the terminal (O_APPEND, one write).
void appendLog(const std::string& fileName, const std::string& line);

// Windows-like last error for the errno of a failed host call.
DWORD errorFromErrno(int error);

// Real monotonic time in nanoseconds (shared by all processes of the machine).
int64_t monotonicNanos();

}  // namespace hostinternal

namespace hostinternal {
// The terminal clock's speed in the shared clock record (core.cpp).
void setSharedClockSpeed(int factor);
int sharedClockSpeed();
}  // namespace hostinternal
