// Between the Bluetooth stack (bluetooth.cpp) and its ports' links
// (bluetooth_link.cpp). Private to those two files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// bluetooth.cpp: the logs of what reached a remote device (.in) and what it
// sends (.out), in <root>/.terminal/log.
std::string bluetoothInboxPath(uint64_t address);
std::string bluetoothOutboxPath(uint64_t address);
// bluetooth.cpp: appends to a log file (owner-only, no symbolic link).
bool appendToFile(const std::string& path, const void* data, size_t size);

// bluetooth_link.cpp: the pseudo-terminal behind COM`index` while a
// Bluetooth port is registered there (its registration's `generation`, bound
// to `address`); "" when none is, or when none can be made.
std::string bluetoothLink(int index, bool registered, uint32_t generation, uint64_t address);

}  // namespace host
