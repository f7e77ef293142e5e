// The scan trigger loop: aim, decode, give feedback and hand the result on
// for delivery, pass after pass while continuous scanning and the trigger
// allow. It runs on the main thread for a scan-key press, or on the
// presentation-mode thread, never on both at once.
#include "scan/scanloop.h"

#include <mutex>

#include "bluetooth/btlink.h"
#include "output/delivery.h"
#include "output/scandata.h"
#include "resources/resource.h"
#include "scan/decoder.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "shell/constants.h"
#include "shell/state.h"
#include "shell/tracelog.h"

ResultSlot resultSlots[kResultSlots];
int selectedSyncGroup = -1;
uint8_t resultsCollected = 0;
DWORD decodeTimeout = 5000;
BYTE awaitingAddress = 0;

namespace {

// The decodes' keep-going callback: 1 while the trigger holds.
int keepGoing() {
    return triggerHolds() ? 1 : 0;
}

constexpr DWORD kInitialDecodeTimeout = 5000;
constexpr DWORD kBackupDecodeTimeout = 150;
constexpr int kHistoryLimit = 10;
constexpr int kAdvancedRules = 6;  // [Barcode1]..[Barcode6] of the first group
constexpr int kAimerWaitSteps = 20;
constexpr int kAddressChars = 12;

// The current decode result handed to the scanned-data handler.
DecodeResult currentResult = {};
// The most recent distinct text read by the multi-decode backup.
WCHAR lastDecodedText[kSlotTextChars] = {};
// The decode buffer widened (the text that single decode delivers).
WCHAR widenedText[kSlotTextChars];

// Number of valid bytes in the decode buffer: the decode length, bounded by
// the buffer (its data need not end with a zero byte within the length).
size_t decodedBytes() {
    size_t length = decodeLength;
    return length < static_cast<size_t>(kDecodeBufferBytes) ? length : static_cast<size_t>(kDecodeBufferBytes);
}

// Widens the decode buffer into a zeroed text buffer ("%hs", bounded by the
// decode length). Returns the number of characters.
size_t widenDecodeBuffer(WCHAR* text) {
    for (int i = 0; i < kSlotTextChars; ++i) text[i] = 0;
    return textWiden(text, kSlotTextChars, decodeBuffer, decodedBytes());
}

void led(int logical, int state) {
    setLogicalLed(logical, state, deviceModel.load());
}

void trace(const WCHAR* line) {
    traceAppend(line);
}


bool sameText(const WCHAR* a, const WCHAR* b) {
    for (int i = 0; i < kSlotTextChars; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == 0) return true;
    }
    return true;
}

void clearAllSlots() {
    for (ResultSlot& slot : resultSlots) slot.used = 0;
}

// Moves the decode window over three bands of the image, so that repeated
// single decodes find different barcodes in one view.
void backupWindowStep(int result, bool reset) {
    int32_t enable = 0;
    DecodeWindowRect rect = {};
    decoderReadWindow(&enable, &rect);
    widenDecodeBuffer(widenedText);
    if (!reset && result == 0) {
        if (!sameText(widenedText, lastDecodedText)) {
            textCopy(lastDecodedText, kSlotTextChars, widenedText);
            return;
        }
    }
    if (reset || rect.top == 0) {
        rect.top = 120;
        rect.bottom = 360;
    } else if (rect.bottom == 360) {
        rect.top = 239;
        rect.bottom = 479;
    } else {
        rect.top = 0;
        rect.bottom = 240;
    }
    enable = 1;
    decoderWriteWindow(&enable, &rect);
}

// The duplicate history of ScanDelaySkipRecent and ScanDelaySkipInPress, kept in the result slots.
// Returns true when the decoded text is new (and records it).
bool recordInHistory() {
    widenDecodeBuffer(widenedText);
    int window = settings.ScanDelaySetting;
    if (window > kHistoryLimit) window = kHistoryLimit;
    for (int i = 0; i < window; ++i) {
        ResultSlot& slot = resultSlots[i];
        if (slot.used) {
            if (textEqualsNoCase(slot.text, widenedText)) return false;
            continue;
        }
        textCopy(slot.text, kSlotTextChars, widenedText);
        slot.used = 1;
        return true;
    }
    if (window <= 0) return true;
    // The history is full: the oldest entry of the compared window gives way.
    for (int i = window - 1; i > 0; --i) textCopy(resultSlots[i].text, kSlotTextChars, resultSlots[i - 1].text);
    textCopy(resultSlots[0].text, kSlotTextChars, widenedText);
    return true;
}

bool isAddressCharacter(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == ':';
}

bool isBluetoothAddress() {
    size_t length = decodedBytes();
    const auto* bytes = reinterpret_cast<const unsigned char*>(decodeBuffer);
    size_t first = 0;
    if (length == kAddressChars + 2) {
        if (bytes[0] != '<' || bytes[kAddressChars + 1] != '.') return false;
        first = 1;
    } else if (length != kAddressChars) {
        return false;
    }
    for (size_t i = first; i < first + kAddressChars; ++i)
        if (!isAddressCharacter(bytes[i])) return false;
    return true;
}

// The good-read light of a pairing step goes off as the step ends.
void goodReadLightOff() {
    if (settings.EnableLEDs) {
        Sleep(10);
        led(LedGoodRead, 0);
    }
}

// The awaited Bluetooth address was read (or something else was).
void pairWithScannedAddress() {
    if (!isBluetoothAddress()) {
        Sleep(300);
        playSoundResource(IDW_BAD_READ);
        awaitingAddress = 0;
        // The run returns from here: its own light-off is not reached.
        goodReadLightOff();
        return;
    }
    WCHAR address[kAddressChars + 1] = {};
    size_t first = decodedBytes() == kAddressChars + 2 ? 1 : 0;
    textWiden(address, kAddressChars + 1, decodeBuffer + first, kAddressChars);
    Sleep(300);
    playSoundResource(IDW_GOOD_READ);
    Sleep(300);
    playSoundResource(IDW_GOOD_READ);
    closeSerialPort();
    removeComDevice(settings.ComportNumber);
    createBluetoothPort(address, settings.ComportNumber, 0, 0);
    settings.SendData.store(1);
    connectEngine(0);
    goodReadLightOff();
}

bool isPairingBarcode() {
    if (decodedBytes() < 3) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(decodeBuffer);
    return bytes[0] == 2 && bytes[1] == 'M' && bytes[2] == 3;
}

bool ruleTakesSlot(const BarcodeRule& rule, const ResultSlot& slot) {
    if (!slot.used || rule.symbologyLetter == 0) return false;
    if (slot.symbologyLetter != rule.symbologyLetter) return false;
    if (rule.length != 0 && rule.length != slot.length) return false;
    return startsWithText(slot.text, rule.startText);
}

void deliverSlot(const WORD* prefix, ResultSlot& slot, const WORD* suffix, int prefixWait, int suffixWait) {
    int count = slot.length < kSlotTextChars ? slot.length : kSlotTextChars;
    deliverText(prefix, slot.text, suffix, prefixWait, suffixWait, count < 0 ? 0 : count, slot.bytes);
    slot.used = 0;
}

// Delivers the collected set: unsorted with the global prefix and suffix when
// no group was chosen, else in the chosen group's rule order.
void deliverCollectedSet() {
    std::lock_guard<std::recursive_mutex> hold(deliveryLock());
    int group = selectedSyncGroup;
    if (group < 0 || group >= kSyncGroups) {
        for (ResultSlot& slot : resultSlots)
            if (slot.used)
                deliverSlot(settings.prefix, slot, settings.Suffix, settings.PrefixWait, settings.SuffixWait);
        return;
    }
    for (const BarcodeRule& rule : ruleTable[group]) {
        for (ResultSlot& slot : resultSlots) {
            if (!ruleTakesSlot(rule, slot)) continue;
            deliverSlot(rule.prefix, slot, rule.suffix, rule.prefixWait, rule.suffixWait);
        }
    }
}

// Typing takes the widened text (up to the first zero byte); the serial copy
// takes the decode length's bytes of the decode buffer.
void deliverSingle() {
    widenDecodeBuffer(widenedText);
    int count = static_cast<int>(decodedBytes());
    if (settings.EnableADVSuffixPrefix) {
        for (int r = 0; r < kAdvancedRules; ++r) {
            const BarcodeRule& rule = ruleTable[0][r];
            if (rule.symbologyLetter != 0 && rule.symbologyLetter == static_cast<int>(symbologyLetterOut)) {
                deliverText(rule.prefix, widenedText, rule.suffix, rule.prefixWait, rule.suffixWait, count,
                            decodeBuffer);
                return;
            }
        }
        deliverText(settings.prefix, widenedText, settings.Suffix, 0, 0, count, decodeBuffer);
        return;
    }
    deliverText(settings.prefix, widenedText, settings.Suffix, settings.PrefixWait, settings.SuffixWait, count,
                decodeBuffer);
}

void deliver() {
    if (!settings.SendToForegroundApp && !settings.SendData.load()) return;
    if (settings.EnableSequenceEditor != 0) {
        deliverCollectedSet();
    } else {
        deliverSingle();
    }
}

// The aimer phase. Returns false when the run is abandoned (AimerUntilTrigger timed out).
bool aimerPhase(int mode) {
    decoderAimer(1);
    trace(TEXT("Amier On"));
    if (mode == AimerUntilTrigger) {
        for (int i = 0; i < kAimerWaitSteps && triggerHolds(); ++i) Sleep(100);
    }
    int timeOut = settings.AimerTimeOut;
    for (int step = 1;; ++step) {
        if (mode == AimerTimed) {
            Sleep(100);
            if (step > timeOut) break;
        } else {
            Sleep(10);
            bool pressed = triggerHolds();
            if (step > timeOut) {
                decoderAimer(0);
                return false;
            }
            if (pressed) break;
        }
    }
    decoderAimer(0);
    return true;
}

// Native multi decode while the engine supports it. Returns true with the
// run's result when it ran; false when the single-decode road follows.
bool nativeMultiDecode(int* result) {
    while (settings.EnableSequenceEditor != 0 && settings.multiDecode.load() != 0) {
        selectedSyncGroup = -1;
        trace(TEXT("Muliti Decode"));
        resultsCollected = 0;
        int answer = decoderMultiDecode(decodeTimeout, onBarcodeScanned, keepGoing, &resultsCollected);
        if (answer != kMultiDecodeUnsupported) {
            *result = answer;
            return true;
        }
        settings.multiDecode.store(0);
        trace(TEXT("Muliti Decode UNSUPPORTED"));
    }
    return false;
}

// Single decode, normally and as the multi-decode backup. Returns the run's result.
int singleDecode() {
    int result = -1;
    bool sync = settings.EnableSequenceEditor != 0;
    currentResult = DecodeResult{};
    if (sync) {
        selectedSyncGroup = -1;
        trace(TEXT("Muliti Decode Backup"));
        resultsCollected = 0;
        backupWindowStep(result, true);
        decodeTimeout = kBackupDecodeTimeout;
    }
    for (;;) {
        if (onBarcodeScanned(&currentResult) == 0 && settings.EnableSequenceEditor != 0) break;
        if (!triggerHolds()) break;
        result = decoderSingleDecode(decodeTimeout, decodeBuffer, &symbologyLetterOut, &secondIdentifierOut,
                                     &thirdIdentifierOut, &decodeLength, keepGoing);
        if (result == 0) setDeliveryIdentifiers(symbologyLetterOut, secondIdentifierOut, thirdIdentifierOut);
        if (settings.EnableSequenceEditor != 0 && triggerHolds()) {
            backupWindowStep(result, false);
            if (result == 0) {
                currentResult = DecodeResult{};
                currentResult.data = decodeBuffer;
                currentResult.symbologyLetter = symbologyLetterOut;
                currentResult.length = static_cast<uint16_t>(decodedBytes());
            } else {
                currentResult = DecodeResult{};
            }
            continue;
        }
        if (settings.ScanDelayMode == ScanDelaySkipRecent || settings.ScanDelayMode == ScanDelaySkipInPress) {
            if (result != 0) continue;
            if (!recordInHistory()) {
                // A duplicate counts as no read: should the trigger be
                // released on it, nothing is delivered.
                result = -1;
                continue;
            }
            trace(TEXT("Normal Scan"));
            break;
        }
        if (result == 0 || !settings.ContinuousScan) {
            trace(TEXT("Normal Scan"));
            break;
        }
    }
    return result;
}

}  // namespace

bool triggerHolds() {
    return settings.PresentationMode.load() != 0 || (GetAsyncKeyState(static_cast<int>(kScanKey)) & 0x8000) != 0;
}

DWORD WINAPI scanTriggerLoop(LPVOID unused) {
    bool firstPassDone = false;
    if (settings.ScanDelayMode == ScanDelaySkipInPress) clearAllSlots();
    for (;;) {
        decodeLength = 0;
        Sleep(20);
        if (settings.ScanDelayMode == ScanDelayContinuous) {
            if (settings.ContinuousScan && firstPassDone) {
                int delay = settings.ScanDelaySetting;
                Sleep(delay > 0 ? static_cast<DWORD>(delay) * 100 : 0);
            } else {
                firstPassDone = true;
            }
        }
        if (!triggerHolds()) return 0;
        trace(TEXT("Start Scan"));

        int aimer = settings.AmierMode;
        if ((aimer == AimerTimed || aimer == AimerUntilTrigger) && !aimerPhase(aimer)) return 0;
        trace(TEXT("Amier Off"));
        if (settings.EnableLEDs) led(LedScanning, 1);

        int result = -1;
        if (!nativeMultiDecode(&result)) result = singleDecode();

        if (settings.EnableLEDs) led(LedScanning, 0);

        bool good = result == 0 && (settings.EnableSequenceEditor == 0 || resultsCollected != 0);
        if (!good) {
            playSoundResource(IDW_BAD_READ);
            clearAllSlots();
        } else {
            if (settings.EnableLEDs) {
                Sleep(2);
                led(LedGoodRead, 1);
            }
            playSoundResource(IDW_GOOD_READ);
            if (settings.VirbrateOnSuccessfulScan) {
                HANDLE pulse = CreateThread(nullptr, 0, vibratePulseThread, nullptr, 0, nullptr);
                if (pulse != nullptr) CloseHandle(pulse);
            }
            if (awaitingAddress) {
                pairWithScannedAddress();
                return 0;
            }
            if (isPairingBarcode()) {
                awaitingAddress = 1;
                Sleep(300);
                playSoundResource(IDW_GOOD_READ);
                goodReadLightOff();
                return 0;
            }
            deliver();
        }

        if (!settings.ContinuousScan) {
            while (triggerHolds()) Sleep(40);
        }
        if (settings.EnableLEDs) {
            Sleep(10);
            led(LedGoodRead, 0);
            led(LedScanning, 0);
        }
        if (!settings.ContinuousScan) return 0;
        if (!triggerHolds()) return 0;
    }
}

void resetScanLoopState() {
    for (ResultSlot& slot : resultSlots) slot = ResultSlot{};
    selectedSyncGroup = -1;
    resultsCollected = 0;
    decodeTimeout = kInitialDecodeTimeout;
    awaitingAddress = 0;
    currentResult = DecodeResult{};
    for (WCHAR& c : lastDecodedText) c = 0;
}
