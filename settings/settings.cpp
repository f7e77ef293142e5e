// The settings record and the settings file reader.
#include "settings/settings.h"

#include <mutex>

#include "bluetooth/btlink.h"
#include "output/keystrokes.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"
#include "scan/engine.h"
#include "scan/scanloop.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "shell/app.h"
#include "shell/tracelog.h"

SettingsRecord settings;

namespace {

constexpr int kBluetoothAddressChars = 200;  // 199 characters and the terminator
constexpr int kCodeItemDigits = 4;
constexpr int kIntLimit = 2147483647;

const WCHAR kSettingsBanner[] = TEXT("--------------------\r\n------Settings------\r\n--------------------\r\n");
const WCHAR kScanSyncBanner[] = TEXT("---------------------\r\n--Scan Sync Enabled--\r\n---------------------\r\n");
const WCHAR kNoOutputWarning[] =
    TEXT("With the current setting the application will only Scan but will not trasmit the data.");

// Symbology letters of BarcodeSym 1..46.
const char kSymbologyLetters[] = "zahjbliywDdexROrsycEjBCAfqJLKgT=<fmnQ?toWcMNII";
static_assert(sizeof(kSymbologyLetters) == 47, "46 symbology letters");

// State of one load.
struct ReaderState {
    WCHAR bluetoothAddress[kBluetoothAddressChars];
    int rememberedIlluminationBit;
    int rememberedAimerBit;
    bool cardReaderSection;
    bool outPutModeSeen;
    bool rulesWanted;
};

bool isDigit(WCHAR c) {
    return c >= '0' && c <= '9';
}

int choice(const WCHAR* value, const char* characters, const int* results, int other) {
    for (int i = 0; characters[i] != 0; ++i) {
        if (value[0] == static_cast<WCHAR>(characters[i])) return results[i];
    }
    return other;
}

void applyOutPutMode(const WCHAR* value, ReaderState& state) {
    state.outPutModeSeen = true;
    settings.SendToForegroundApp = 0;
    settings.SendData = 0;
    WCHAR mode = value[0];
    BYTE foreground = 1, serial = 0, editControl = 0, capture = 0;
    switch (mode) {
        case '0':
            foreground = 0;
            break;
        case '1':
            break;
        case '2':
            foreground = 0;
            serial = 1;
            break;
        case '3':
            serial = 1;
            break;
        case '4':
            editControl = 1;
            break;
        case '5':
            serial = 1;
            editControl = 1;
            break;
        case '6':
            editControl = 1;
            capture = 1;
            break;
        case '7':
            serial = 1;
            editControl = 1;
            capture = 1;
            break;
        default:
            break;
    }
    settings.SendToForegroundApp = foreground;
    settings.SendData = serial;
    if (editControl) settings.editControlDelivery = 1;
    if (capture) allKeysCapture(TRUE);
}

// EnableAimer (aimerKey) or EnableIllumination: changes its own bit of the
// engine's lights mode and keeps the other.
void applyLightsBit(const WCHAR* value, bool aimerKey, ReaderState& state) {
    int32_t mode = 0;
    if (decoderReadLightsMode(&mode) != 0) {
        traceAppend(TEXT("Failed to get Illumination setiing"));
        return;
    }
    bool known = mode >= 0 && mode <= 3;
    int on = settingsFlag(value);
    int32_t newMode = 0;
    if (aimerKey) {
        int illumination = known ? (mode >> 1) & 1 : state.rememberedIlluminationBit;
        state.rememberedIlluminationBit = illumination;
        newMode = on | (illumination << 1);
    } else {
        int aimer = known ? mode & 1 : state.rememberedAimerBit;
        state.rememberedAimerBit = aimer;
        newMode = aimer | (on << 1);
    }
    bool ok = decoderWriteLightsMode(&newMode) == 0;
    if (aimerKey) {
        traceAppend(ok ? TEXT("Aimer Set") : TEXT("Failed to set Aimer"));
    } else {
        traceAppend(ok ? TEXT("Illumination set") : TEXT("Failed to set Illumination"));
    }
}

// "0" leaves the field; a lone digit or any other character stands for its
// own character code; two or more leading digits are a decimal code.
void applyRemapToTab(const WCHAR* value) {
    if (value[0] == '0') return;
    if (isDigit(value[0]) && isDigit(value[1])) {
        settings.RemapToTab = settingsNumber(value);
    } else {
        settings.RemapToTab = value[0];
    }
}

// Tests the key against the general keys in their fixed order and applies
// the first match.
void applyGeneralKey(const WCHAR* key, const WCHAR* value, ReaderState& state) {
    static const char kChoice12[] = "12";
    static const int kChoice12Results[] = {1, 2};
    static const char kChoice123[] = "123";
    static const int kChoice123Results[] = {1, 2, 3};
    static const int kConnectingToResults[] = {0, 1, 2};

    if (textEqualsNoCaseAW(key, "AimerTimeOut")) {
        settings.AimerTimeOut = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "RemoteBTMAC")) {
        // An address longer than the text holds is cut; the port creation then
        // reports the address it cannot use.
        textCopy(state.bluetoothAddress, kBluetoothAddressChars, value);
    } else if (textEqualsNoCaseAW(key, "EnableLEDs")) {
        settings.EnableLEDs = settingsFlag(value);
    } else if (textEqualsNoCaseAW(key, "VirbrateOnSuccessfulScanTime")) {
        int time = settingsNumber(value);
        if (time > 2000) {
            traceAppend(TEXT("(Vibrate for: Time set to long"));
        } else {
            settings.VirbrateOnSuccessfulScanTime = time;
        }
    } else if (textEqualsNoCaseAW(key, "VirbrateOnSuccessfulScan")) {
        settings.VirbrateOnSuccessfulScan = settingsFlag(value);
    } else if (textEqualsNoCaseAW(key, "EnableCardReader")) {
        if (value[0] == '1' || value[0] == '2') startCardReader(deviceModel.load());
    } else if (textEqualsNoCaseAW(key, "EnableScanner")) {
        settings.EnableScanner = settingsFlag(value);
        settings.scannerEnabled = settings.EnableScanner;
    } else if (textEqualsNoCaseAW(key, "prefix")) {
        settingsCodeList(settings.prefix, kGlobalCodeListSlots, value);
    } else if (textEqualsNoCaseAW(key, "Suffix")) {
        settingsCodeList(settings.Suffix, kGlobalCodeListSlots, value);
    } else if (textEqualsNoCaseAW(key, "PrefixID")) {
        settings.PrefixID = settingsDigit(value);
    } else if (textEqualsNoCaseAW(key, "SuffixID")) {
        settings.SuffixID = settingsDigit(value);
    } else if (textEqualsNoCaseAW(key, "CancelOnNoneSeqScan")) {
        settings.CancelOnNoneSeqScan = value[0] == '1' ? 0 : 1;
    } else if (textEqualsNoCaseAW(key, "EnableSequenceEditor")) {
        settings.EnableSequenceEditor = choice(value, kChoice12, kChoice12Results, 0);
        state.rulesWanted = settings.EnableSequenceEditor != 0;
    } else if (textEqualsNoCaseAW(key, "EnableAimer")) {
        applyLightsBit(value, true, state);
    } else if (textEqualsNoCaseAW(key, "EnableIllumination")) {
        applyLightsBit(value, false, state);
    } else if (textEqualsNoCaseAW(key, "ComportNumber")) {
        if (isDigit(value[0])) settings.ComportNumber = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "OutPutMode")) {
        applyOutPutMode(value, state);
    } else if (textEqualsNoCaseAW(key, "SendData")) {
        if (!state.outPutModeSeen) settings.SendData = settingsFlag(value);
    } else if (textEqualsNoCaseAW(key, "ContinuousScan")) {
        if (value[0] == '1') {
            settings.ContinuousScan = 1;
        } else if (settings.PresentationMode.load() != 1) {
            settings.ContinuousScan = 0;
        }
    } else if (textEqualsNoCaseAW(key, "PresentationMode")) {
        if (value[0] == '1') {
            settings.PresentationMode = 1;
            settings.ContinuousScan = 1;
        } else {
            settings.PresentationMode = 0;
        }
    } else if (textEqualsNoCaseAW(key, "ConnectingTo")) {
        settings.ConnectingTo = choice(value, kChoice123, kConnectingToResults, 3);
    } else if (textEqualsNoCaseAW(key, "ScanDelayMode")) {
        settings.ScanDelayMode = choice(value, kChoice123, kChoice123Results, 0);
    } else if (textEqualsNoCaseAW(key, "ScanDelaySetting")) {
        settings.ScanDelaySetting = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "SendToForegroundApp")) {
        if (!state.outPutModeSeen) settings.SendToForegroundApp = settingsFlag(value);
    } else if (textEqualsNoCaseAW(key, "EnableADVSuffixPrefix")) {
        if (value[0] == '1') {
            settings.EnableADVSuffixPrefix = 1;
            settings.multiDecode = 0;
            settings.EnableSequenceEditor = 0;
            state.rulesWanted = true;
        } else {
            settings.EnableADVSuffixPrefix = 0;
        }
    } else if (textEqualsNoCaseAW(key, "InterCharacterDelay")) {
        settings.InterCharacterDelay = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "SuffixWait")) {
        settings.SuffixWait = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "PrefixWait")) {
        settings.PrefixWait = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "OutputFormat")) {
        // Cut to the 55 bytes the field holds.
        textNarrow(settings.OutputFormat, kOutputFormatBytes, value);
    } else if (textEqualsNoCaseAW(key, "Centering")) {
        settings.Centering = settingsFlag(value);
    } else if (textEqualsNoCaseAW(key, "AmierMode") || textEqualsNoCaseAW(key, "AimerMode")) {
        settings.AmierMode = choice(value, kChoice12, kChoice12Results, 0);
    } else if (textEqualsNoCaseAW(key, "RemapToTab")) {
        applyRemapToTab(value);
    }
}

// The first pass: the general keys, up to the first "[Barcode1]" or "[Sync1]".
void readGeneralKeys(TextFile* file, ReaderState& state) {
    WCHAR line[kSettingsLineChars];
    while (textFileReadLine(file, line, kSettingsLineChars)) {
        traceAppend(line);
        SettingsLine parsed = prepareSettingsLine(line);
        if (parsed.header) {
            if (textEqualsNoCaseAW(parsed.key, "[Barcode1]") || textEqualsNoCaseAW(parsed.key, "[Sync1]")) return;
            // The card-reader section lasts until the next header.
            state.cardReaderSection = textEqualsNoCaseAW(parsed.key, "[MCRSettings]");
            continue;
        }
        if (parsed.value == nullptr) continue;
        applyGeneralKey(parsed.key, parsed.value, state);
        if (state.cardReaderSection) parseCardReaderSetting(0, parsed.key, parsed.value);
    }
}

void createBluetoothComPort(const WCHAR* address) {
    if (settings.ComportNumber == -1 || settings.ComportNumber == 1) settings.ComportNumber = findFreeComIndex();
    if (!isComIndexFree(settings.ComportNumber)) {
        removeComDevice(settings.ComportNumber);
        traceAppend(TEXT("Remove current device (COM)"));
    }
    traceAppend(TEXT("Create BT Comport"));
    if (createBluetoothPort(address, settings.ComportNumber, 0, 0) == BtPortCreated) {
        traceAppend(TEXT("BT Comport Created"));
    } else {
        traceAppend(TEXT("Failed to create BT Comport"));
        MessageBoxW(GetForegroundWindow(), TEXT("Failed to create BT Comport"), TEXT("Keyvane : Error"), MB_OK);
    }
}

}  // namespace

void resetSettings() {
    settings.AimerTimeOut = 20;
    settings.EnableLEDs = 1;
    settings.VirbrateOnSuccessfulScanTime = 200;
    settings.VirbrateOnSuccessfulScan = 0;
    settings.EnableScanner = 1;
    for (int i = 0; i < kGlobalCodeListSlots; ++i) {
        settings.prefix[i] = 0;
        settings.Suffix[i] = 0;
    }
    settings.PrefixID = 0;
    settings.SuffixID = 0;
    settings.CancelOnNoneSeqScan = 0;
    settings.EnableSequenceEditor = 0;
    settings.ComportNumber = 1;
    settings.SendData = 0;
    settings.ContinuousScan = 0;
    settings.PresentationMode = 0;
    settings.ConnectingTo = 3;
    settings.ScanDelayMode = 0;
    settings.ScanDelaySetting = 0;
    settings.SendToForegroundApp = 1;
    settings.EnableADVSuffixPrefix = 0;
    settings.InterCharacterDelay = 0;
    settings.SuffixWait = 0;
    settings.PrefixWait = 0;
    for (int i = 0; i < kOutputFormatBytes; ++i) settings.OutputFormat[i] = 0;
    settings.Centering = 0;
    settings.AmierMode = 0;
    settings.RemapToTab = 0;
    settings.editControlDelivery = 0;
    settings.scannerEnabled = 1;
    settings.multiDecode = 1;
}

BYTE settingsFlag(const WCHAR* value) {
    return value[0] == '1' ? 1 : 0;
}

int settingsNumber(const WCHAR* value) {
    return textToInt(value);
}

int settingsDigit(const WCHAR* value) {
    return static_cast<int>(value[0]) - '0';
}

void settingsCodeList(WORD* list, int slots, const WCHAR* value) {
    if (slots <= 0) return;
    int count = 0;
    const WCHAR* p = value;
    for (;;) {
        // One item: digits up to the next comma or the end; anything else is
        // skipped, and digits beyond the fourth are dropped.
        unsigned code = 0;
        int digits = 0;
        while (*p != 0 && *p != ',') {
            if (isDigit(*p) && digits < kCodeItemDigits) {
                code = code * 10 + static_cast<unsigned>(*p - '0');
                ++digits;
            }
            ++p;
        }
        if (code == 0 || count >= slots - 1) break;  // an empty or zero item ends the list
        list[count++] = static_cast<WORD>(code);
        if (*p == 0) break;
        ++p;  // the comma
    }
    list[count] = 0;
}

int symbologyLetter(int number) {
    if (number < 1 || number > 46) return 0;
    return static_cast<unsigned char>(kSymbologyLetters[number - 1]);
}

SettingsLine prepareSettingsLine(WCHAR* line) {
    SettingsLine parsed = {line, nullptr, false};
    line[kSettingsLineChars - 1] = 0;
    int end = 0;
    while (end < kSettingsLineChars - 1 && line[end] != 0 && line[end] != '\n' && line[end] != '\'') ++end;
    line[end] = 0;
    int kept = 0;
    for (int i = 0; i < end; ++i) {
        if (line[i] != ' ') line[kept++] = line[i];
    }
    line[kept] = 0;
    parsed.header = line[0] == '[' && line[1] != '=';
    for (int i = 0; i < kept; ++i) {
        if (line[i] == '=') {
            line[i] = 0;
            parsed.value = line + i + 1;
            break;
        }
    }
    return parsed;
}

BOOL loadSettings() {
    TextFile* file = textFileOpen(TEXT("\\Zentrova\\Keyvane.ini"));
    if (file == nullptr) file = textFileOpen(TEXT("\\IPSM\\Keyvane.ini"));
    if (file == nullptr) {
        MessageBoxW(nullptr, TEXT("\"Keyvane.ini\"\n Keyvane will now Exit"), TEXT("Error: File not found"), MB_OK);
        return FALSE;
    }

    fillCharacterToKeyTable(deviceModel.load());
    connectEngine(1);
    decoderConfigure(100, 1);
    // The path found here is kept: the scanner enable and the settings editor apply the file again.
    if (locateDecodeSettings(decodeSettingsPath)) applyDecodeSettings(decodeSettingsPath);

    ReaderState state = {};
    bool nothingDelivered = false;
    {
        // A card swipe on the card-reader thread (started in the middle of the
        // first pass) waits until the settings, the rules and the port number
        // are complete.
        std::lock_guard<std::recursive_mutex> guard(deliveryLock());
        traceAppend(kSettingsBanner);
        settings.ComportNumber = -1;
        readGeneralKeys(file, state);
        textFileRewind(file);
        if (state.rulesWanted) {
            traceAppend(kScanSyncBanner);
            readBarcodeRules(file);
        }
        if (settings.AmierMode == 2) {
            // Counted in 10 ms steps; a time-out too large to scale is held at the largest one.
            int timeOut = settings.AimerTimeOut;
            if (timeOut > kIntLimit / 10) {
                settings.AimerTimeOut = kIntLimit;
            } else if (timeOut < -kIntLimit / 10) {
                settings.AimerTimeOut = -kIntLimit;
            } else {
                settings.AimerTimeOut = timeOut * 10;
            }
        }
        textFileClose(file);
        if (state.bluetoothAddress[0] != 0) createBluetoothComPort(state.bluetoothAddress);
        nothingDelivered = !settings.SendData.load() && !settings.SendToForegroundApp;
    }

    if (nothingDelivered) {
        traceAppend(kNoOutputWarning);
        MessageBoxW(GetForegroundWindow(), kNoOutputWarning, TEXT("Keyvane : Warning"), MB_OK);
    }

    if (settings.PresentationMode.load() == 1) {
        HANDLE thread = CreateThread(nullptr, 0, scanTriggerLoop, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
    }
    return TRUE;
}
