// Scanned-data handling: result slots, scan-sync groups and their completion.
#pragma once

#include "platform/platform.h"
#include "scan/decoder.h"

int onBarcodeScanned(DecodeResult* result);
bool isAlreadyCollected(const WCHAR* text);
bool startsWithText(const char* text, int textLength, const WCHAR* startText);
bool startsWithText(const WCHAR* text, const WCHAR* startText);
bool isGroupComplete(int group);
