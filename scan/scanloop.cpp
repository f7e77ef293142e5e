// The scan trigger loop.
#include "scan/scanloop.h"

#include "settings/settings.h"

ResultSlot resultSlots[kResultSlots];
int selectedSyncGroup = -1;
uint8_t resultsCollected = 0;
DWORD decodeTimeout = 5000;
BYTE awaitingAddress = 0;

bool triggerHolds() {
    return settings.PresentationMode.load() != 0 || (GetAsyncKeyState(42) & 0x8000) != 0;
}

DWORD WINAPI scanTriggerLoop(LPVOID unused) {
    return 0;
}

void resetScanLoopState() {
    for (ResultSlot& slot : resultSlots) slot = ResultSlot{};
    selectedSyncGroup = -1;
    resultsCollected = 0;
    decodeTimeout = 5000;
    awaitingAddress = 0;
}
