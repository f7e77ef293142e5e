// Good-read feedback: the logical LEDs, the vibrate pulse and the sounds.
#pragma once

#include "platform/platform.h"

enum LogicalLed { LedScanning = 0, LedGoodRead = 1, LedVibrator = 2 };

void setLogicalLed(int led, int state, int deviceModel);
DWORD WINAPI vibratePulseThread(LPVOID unused);
void playSoundResource(UINT resource);
// Forgets the cached LED states (process start state).
void resetLedCache();
