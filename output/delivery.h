// Delivery of a barcode or card text: the one owner of the delivery lock and
// of the fan-out to keystrokes (output/keystrokes.h) and to the serial
// output (output/serial.h).
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/platform.h"

constexpr int kDecoratedChars = 200;

// Deliveries of the scan thread and of the card-reader thread are separated:
// a delivery (one deliverText call, a whole card record, a whole scan-sync
// set) holds this lock, so keystrokes of two deliveries never interleave and
// serial frames go out one at a time. It is recursive so a holder may deliver.
std::recursive_mutex& deliveryLock();

// The identifier bytes of the most recent decode, picked by PrefixID/SuffixID 1..3.
void setDeliveryIdentifiers(uint8_t symbologyLetter, uint8_t second, uint8_t third);

// Types the prefix, the text (up to its terminator) and the suffix, and with
// SendData sends characterCount bytes to the serial output: the first bytes
// of `serialBytes` when given (a barcode is sent as it was read, zero bytes
// and all), else the text converted to 8-bit characters.
void deliverText(const WORD* prefix, const WCHAR* text, const WORD* suffix, int prefixWait, int suffixWait,
                 int characterCount, const char* serialBytes = nullptr);
// Types the text alone: no decoration and no serial copy, whatever the settings.
void deliverKeysOnly(const WCHAR* text);
