// The settings record and the settings file reader.
#include "settings/settings.h"

#include <mutex>

#include "bluetooth/btlink.h"
#include "output/delivery.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"
#include "scan/engine.h"
#include "scan/scanloop.h"
#include "scan/symbologies.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settingstable.h"
#include "shell/app.h"
#include "shell/tracelog.h"

SettingsRecord settings;

namespace {

constexpr int kBluetoothAddressChars = 200;  // 199 characters and the terminator
constexpr int kIntLimit = 2147483647;

const WCHAR kSettingsBanner[] = TEXT("--------------------\r\n------Settings------\r\n--------------------\r\n");
const WCHAR kScanSyncBanner[] = TEXT("---------------------\r\n--Scan Sync Enabled--\r\n---------------------\r\n");
const WCHAR kNoOutputWarning[] =
    TEXT("With the current setting the application will only Scan but will not trasmit the data.");

// State of one load.
struct ReaderState {
    WCHAR bluetoothAddress[kBluetoothAddressChars];
    int rememberedIlluminationBit;
    int rememberedAimerBit;
    bool cardReaderSection;
    bool outPutModeSeen;
    bool rulesWanted;
    const SettingsDiagnostics* diagnostics;  // null on the device; set: a check that leaves the terminal alone
    const SettingsActions* actions;          // what acting on the terminal calls (when not a check)
    int line;
};

bool isDigit(WCHAR c) {
    return c >= '0' && c <= '9';
}

void note(const ReaderState& state, SettingsEvent what, const WCHAR* key, const WCHAR* value, int used,
          int detail = SectionGeneral) {
    settingsNote(state.diagnostics, {state.line, 1, what, key, value, used, detail});
}

void trace(const ReaderState& state, const WCHAR* line) {
    if (state.diagnostics == nullptr) traceAppend(line);
}

int applyOutPutMode(const WCHAR* value, ReaderState& state) {
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
    if (capture && state.diagnostics == nullptr) state.actions->captureAllKeys();
    return mode >= '0' && mode <= '7' ? mode - '0' : 1;
}

// EnableAimer (aimerKey) or EnableIllumination: changes its own bit of the
// engine's lights mode and keeps the other.
void applyLightsBit(const WCHAR* value, bool aimerKey, ReaderState& state) {
    if (state.diagnostics != nullptr) return;
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

void storeNumber(const SettingField& field, int n) {
    if (field.number != nullptr) *field.number = n;
    if (field.byte != nullptr) *field.byte = static_cast<BYTE>(n);
    if (field.atomicByte != nullptr) field.atomicByte->store(static_cast<BYTE>(n));
}

// A plain key: the value read by the key's kind into its field.
void storePlain(const SettingInfo& setting, const WCHAR* key, const WCHAR* value, ReaderState& state) {
    const SettingField& field = setting.field;
    switch (setting.kind) {
        case KindFlag:
            storeNumber(field, settingsFlag(value));
            break;
        case KindNumber:
            storeNumber(field, settingsNumber(value));
            break;
        case KindDigit:
            storeNumber(field, settingsDigit(value));
            break;
        case KindChoice: {
            const SettingChoice* choice = settingChoice(setting, value);
            storeNumber(field, choice != nullptr ? choice->stored : setting.otherStored);
            break;
        }
        case KindCodeList:
            if (int loss = settingsCodeList(field.codes, field.capacity, value))
                note(state, NoteCodeListLoss, key, value, loss);
            break;
        case KindText:
            // Cut to the bytes the field holds.
            textNarrow(field.text, static_cast<size_t>(field.capacity), value);
            if (textLength(value, kSettingsLineChars) >= static_cast<size_t>(field.capacity))
                note(state, NoteValueCut, key, value, field.capacity - 1);
            break;
        case KindCharacter:
            break;
    }
}

// Applies one general key by its entry of the settings list. Returns false
// when the line changes nothing (the value is ignored or refused).
bool applyGeneralSetting(const SettingInfo& setting, const WCHAR* key, const WCHAR* value, ReaderState& state,
                         int& used) {
    used = 0;
    switch (setting.action) {
        case ActionStore:
            storePlain(setting, key, value, state);
            break;
        case ActionRemoteBTMAC:
            // An address longer than the text holds is cut; the port creation then
            // reports the address it cannot use.
            textCopy(state.bluetoothAddress, kBluetoothAddressChars, value);
            if (textLength(value, kSettingsLineChars) >= static_cast<size_t>(kBluetoothAddressChars))
                note(state, NoteValueCut, key, value, kBluetoothAddressChars - 1);
            return true;
        case ActionVibrateTime: {
            int time = settingsNumber(value);
            if (time > 2000) {
                trace(state, TEXT("(Vibrate for: Time set to long"));
                used = settings.VirbrateOnSuccessfulScanTime;
                return false;
            }
            settings.VirbrateOnSuccessfulScanTime = time;
            break;
        }
        case ActionCardReader:
            used = value[0] == '1' || value[0] == '2' ? value[0] - '0' : 0;
            if (used != 0 && state.diagnostics == nullptr) state.actions->startCardReader();
            return true;
        case ActionEnableScanner:
            settings.EnableScanner = settingsFlag(value);
            settings.scannerEnabled = settings.EnableScanner;
            break;
        case ActionCancelOnNoneSeqScan:
            settings.CancelOnNoneSeqScan = value[0] == '1' ? 0 : 1;
            break;
        case ActionSequenceEditor:
            storePlain(setting, key, value, state);
            state.rulesWanted = settings.EnableSequenceEditor != 0;
            break;
        case ActionAimer:
        case ActionIllumination:
            applyLightsBit(value, setting.action == ActionAimer, state);
            used = settingsFlag(value);
            return true;
        case ActionComportNumber:
            if (!isDigit(value[0])) {
                used = settings.ComportNumber;
                return false;
            }
            settings.ComportNumber = settingsNumber(value);
            break;
        case ActionOutPutMode:
            used = applyOutPutMode(value, state);
            return true;
        case ActionSendData:
            if (state.outPutModeSeen) {
                used = settings.SendData.load();
                return false;
            }
            settings.SendData = settingsFlag(value);
            break;
        case ActionContinuousScan:
            if (value[0] == '1') {
                settings.ContinuousScan = 1;
            } else if (settings.PresentationMode.load() != 1) {
                settings.ContinuousScan = 0;
            }
            break;
        case ActionPresentationMode:
            if (value[0] == '1') {
                settings.PresentationMode = 1;
                settings.ContinuousScan = 1;
            } else {
                settings.PresentationMode = 0;
            }
            break;
        case ActionSendToForegroundApp:
            if (state.outPutModeSeen) {
                used = settings.SendToForegroundApp;
                return false;
            }
            settings.SendToForegroundApp = settingsFlag(value);
            break;
        case ActionAdvSuffixPrefix:
            if (value[0] == '1') {
                settings.EnableADVSuffixPrefix = 1;
                settings.multiDecode = 0;
                settings.EnableSequenceEditor = 0;
                state.rulesWanted = true;
            } else {
                settings.EnableADVSuffixPrefix = 0;
            }
            break;
        case ActionRemapToTab:
            applyRemapToTab(value);
            break;
        case ActionRule:
        case ActionCardReaderKey:
            return false;
    }
    used = settingValue(setting);
    return true;
}

// Tests the key against the general keys in their fixed order and applies
// the first match. Returns false when the key is none of them.
bool applyGeneralKey(const WCHAR* key, const WCHAR* value, ReaderState& state) {
    const SettingInfo* setting = findSetting(SectionGeneral, key);
    if (setting == nullptr) return false;
    int used = 0;
    bool applied = applyGeneralSetting(*setting, key, value, state, used);
    note(state, applied ? NoteValue : NoteValueIgnored, key, value, used);
    return true;
}

// A key that no general key matched, and the card reader did not take.
void noteUnreadKey(const WCHAR* key, const WCHAR* value, ReaderState& state) {
    if (state.diagnostics == nullptr) return;
    int here = state.cardReaderSection ? SectionCardReader : SectionGeneral;
    if (state.cardReaderSection && findSetting(SectionCardReader, key) != nullptr) {
        note(state, NoteCaseMismatch, key, value, 0, here);
    } else if (findSetting(SectionBarcode, key) != nullptr || findSetting(SectionCardReader, key) != nullptr) {
        note(state, NoteKeyMisplaced, key, value, 0, here);
    } else {
        note(state, NoteKeyUnknown, key, value, 0, here);
    }
}

// The first pass: the general keys, up to the first "[Barcode1]" or "[Sync1]".
void readGeneralKeys(TextFile* file, ReaderState& state) {
    WCHAR line[kSettingsLineChars];
    SettingsLineCount count;
    bool cut = false;
    while (readSettingsPiece(file, line, count, cut)) {
        state.line = count.line;
        trace(state, line);
        if (cut) note(state, NoteLineCut, nullptr, nullptr, kSettingsLineChars - 1);
        SettingsLine parsed = prepareSettingsLine(line);
        if (parsed.header) {
            if (textEqualsNoCaseAW(parsed.key, "[Barcode1]") || textEqualsNoCaseAW(parsed.key, "[Sync1]")) {
                note(state, NoteHeader, parsed.key, nullptr, HeaderEndsFirstPass, 1);
                return;
            }
            // The card-reader section lasts until the next header.
            state.cardReaderSection = textEqualsNoCaseAW(parsed.key, "[MCRSettings]");
            note(state, NoteHeader, parsed.key, nullptr, state.cardReaderSection ? HeaderCardReader : HeaderOther, 0);
            continue;
        }
        if (parsed.value == nullptr) continue;
        bool general = applyGeneralKey(parsed.key, parsed.value, state);
        bool card = state.cardReaderSection && parseCardReaderSetting(0, parsed.key, parsed.value);
        if (card) note(state, NoteValue, parsed.key, parsed.value, 0, SectionCardReader);
        if (!general && !card) noteUnreadKey(parsed.key, parsed.value, state);
    }
}

// Both passes over an open settings file and what follows them.
void readSettingsFile(TextFile* file, ReaderState& state) {
    settings.ComportNumber = -1;
    readGeneralKeys(file, state);
    textFileRewind(file);
    if (!state.rulesWanted) note(state, NoteRulesUnread, nullptr, nullptr, 0);
    if (state.rulesWanted || state.diagnostics != nullptr) {
        trace(state, kScanSyncBanner);
        readBarcodeRules(file, state.diagnostics);
    }
    if (settings.AmierMode == AimerUntilTrigger) {
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
    resetSettingsTable();
    settings.editControlDelivery = 0;
    settings.scannerEnabled = 1;
    settings.multiDecode = 1;
}

namespace {
// The record holds its defaults before start-up code runs.
[[maybe_unused]] const bool settingsAtPowerOn = (resetSettings(), true);
}  // namespace

int symbologyLetter(int number) {
    const Symbology* symbology = symbologyByNumber(number);
    return symbology != nullptr ? static_cast<unsigned char>(symbology->letter) : 0;
}

void inspectSettingsFile(TextFile* file, const SettingsDiagnostics& diagnostics) {
    resetSettings();
    clearRuleTable();
    cardReaderSettings = CardReaderSettings{};
    ReaderState state = {};
    state.diagnostics = &diagnostics;
    settingsNote(&diagnostics, {0, 0, NoteEncoding, nullptr, nullptr, textFileEncoding(file), 0});
    readSettingsFile(file, state);
    if (!settings.SendData.load() && !settings.SendToForegroundApp)
        settingsNote(&diagnostics, {0, 0, NoteNoOutput, nullptr, nullptr, 0, 0});
}

namespace {

void captureAllKeys() {
    allKeysCapture(TRUE);
}

void startTheCardReader() {
    startCardReader(deviceModel.load());
}

}  // namespace

const SettingsActions kTerminalSettingsActions = {captureAllKeys, startTheCardReader, createBluetoothComPort};

bool applySettingsFile(TextFile* file, const SettingsActions& actions) {
    // A card swipe on the card-reader thread (started in the middle of the
    // first pass) waits until the settings, the rules and the port number
    // are complete.
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    ReaderState state = {};
    state.actions = &actions;
    traceAppend(kSettingsBanner);
    readSettingsFile(file, state);
    if (state.bluetoothAddress[0] != 0) actions.createBluetoothPort(state.bluetoothAddress);
    return settings.SendData.load() || settings.SendToForegroundApp;
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

    bool delivers = applySettingsFile(file, kTerminalSettingsActions);
    textFileClose(file);

    if (!delivers) {
        traceAppend(kNoOutputWarning);
        MessageBoxW(GetForegroundWindow(), kNoOutputWarning, TEXT("Keyvane : Warning"), MB_OK);
    }

    if (settings.PresentationMode.load() == 1) {
        HANDLE thread = CreateThread(nullptr, 0, scanTriggerLoop, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
    }
    return TRUE;
}
