// Keystroke delivery into the focused application, and the hand-off of the
// same text to the serial output.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/platform.h"

constexpr int kDecoratedChars = 200;

// Deliveries of the scan thread and of the card-reader thread are separated:
// a delivery (one deliverText call, a whole card record, a whole scan-sync
// set) holds this lock, so keystrokes of two deliveries never interleave and
// the serial copy is never shared. It is recursive so a holder may deliver.
std::recursive_mutex& deliveryLock();

// The identifier bytes of the most recent decode, picked by PrefixID/SuffixID 1..3.
void setDeliveryIdentifiers(uint8_t symbologyLetter, uint8_t second, uint8_t third);

// Types the prefix, the text (up to its terminator) and the suffix, and with
// SendData sends characterCount bytes to the serial output: the first bytes
// of `serialBytes` when given (a barcode is sent as it was read, zero bytes
// and all), else the text converted to 8-bit characters.
void deliverText(const WORD* prefix, const WCHAR* text, const WORD* suffix, int prefixWait, int suffixWait,
                 int characterCount, const char* serialBytes = nullptr);
void typeText(const WCHAR* text);
void typeCharacter(WCHAR character);
// 0 other, 1 edit-type, 2 browser-type.
int classifyFocusWindow(HWND window);
