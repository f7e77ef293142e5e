// Good-read feedback: three logical lights over the platform's notification
// LEDs (with a cache of the last state asked for), the vibrate pulse, and the
// program's sound resources.
#include "scan/feedback.h"

#include <atomic>

#include "settings/keytable.h"
#include "settings/settings.h"
#include "shell/state.h"

namespace {

constexpr int kLogicalLeds = 3;
constexpr int kLedRetries = 20;  // further calls after a refused one
constexpr DWORD kLedRetryPause = 5;

// The last state asked for, per logical LED (0 off, 1 on).
std::atomic<int> ledCache[kLogicalLeds];

UINT platformLedNumber(int led, int deviceModel) {
    if (deviceModel == kFallbackDeviceModel) {
        static const UINT rotated[kLogicalLeds] = {1, 2, 0};
        return rotated[led];
    }
    return static_cast<UINT>(led);
}

}  // namespace

void setLogicalLed(int led, int state, int deviceModel) {
    if (led < 0 || led >= kLogicalLeds) return;
    // The exchange both compares and records the request, so two threads
    // asking for the same change at once make one platform call between them.
    if (ledCache[led].exchange(state) == state) return;

    NLED_SETTINGS_INFO info = {};
    info.LedNum = platformLedNumber(led, deviceModel);
    info.OffOnBlink = state;
    if (NLedSetDevice(NLED_SETTINGS_INFO_ID, &info)) return;
    for (int retry = 0; retry < kLedRetries; ++retry) {
        Sleep(kLedRetryPause);
        if (NLedSetDevice(NLED_SETTINGS_INFO_ID, &info)) return;
    }
}

DWORD WINAPI vibratePulseThread(LPVOID unused) {
    setLogicalLed(LedVibrator, 1, deviceModel.load());
    int pulse = settings.VirbrateOnSuccessfulScanTime;
    Sleep(pulse > 0 ? static_cast<DWORD>(pulse) : 0);
    setLogicalLed(LedVibrator, 0, deviceModel.load());
    return 0;
}

void playSoundResource(UINT resource) {
    PlaySoundW(MAKEINTRESOURCE(resource), appInstance, SND_RESOURCE | SND_ASYNC);
}

void resetLedCache() {
    for (std::atomic<int>& state : ledCache) state.store(0);
}
