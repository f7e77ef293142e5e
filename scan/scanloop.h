// The scan trigger loop: one call handles one press of the scan key (or runs
// for as long as presentation mode lasts on its own thread).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

constexpr int kResultSlots = 10;
constexpr int kSlotTextChars = 4096;

struct ResultSlot {
    WCHAR text[kSlotTextChars];  // widened: ends at the first zero byte of the barcode
    char bytes[kSlotTextChars];  // the barcode itself, `length` bytes (the serial copy)
    BYTE used;
    int length;
    int symbologyLetter;
};

extern ResultSlot resultSlots[kResultSlots];
extern int selectedSyncGroup;        // -1 = none
extern uint8_t resultsCollected;
extern DWORD decodeTimeout;          // 5000, lowered to 150 by the multi-decode backup
extern BYTE awaitingAddress;

DWORD WINAPI scanTriggerLoop(LPVOID unused);
// The trigger holds: presentation mode is on, or the scan key is down.
bool triggerHolds();
// Restores the loop's state to process start (tests).
void resetScanLoopState();
