// The general keys with rules of their own.
#include "settings/generalkeys.h"

#include "scan/decoder.h"
#include "settings/cardreader.h"
#include "settings/settings.h"
#include "settings/settingsline.h"
#include "shell/tracelog.h"

namespace {

bool isDigit(WCHAR c) {
    return c >= '0' && c <= '9';
}

SettingsRecord& recordOf(const SettingsRead& read) {
    return *static_cast<SettingsRecord*>(read.record);
}

// EnableAimer (aimerKey) or EnableIllumination: changes its own bit of the
// engine's lights mode and keeps the other.
void applyLightsBit(const WCHAR* value, bool aimerKey, SettingsRead& read) {
    if (read.diagnostics != nullptr) return;
    int32_t mode = 0;
    if (decoderReadLightsMode(&mode) != 0) {
        traceAppend(TEXT("Failed to get Illumination setiing"));
        return;
    }
    bool known = mode >= 0 && mode <= 3;
    int on = settingsFlag(value);
    int32_t newMode = 0;
    if (aimerKey) {
        int illumination = known ? (mode >> 1) & 1 : read.rememberedIlluminationBit;
        read.rememberedIlluminationBit = illumination;
        newMode = on | (illumination << 1);
    } else {
        int aimer = known ? mode & 1 : read.rememberedAimerBit;
        read.rememberedAimerBit = aimer;
        newMode = aimer | (on << 1);
    }
    bool ok = decoderWriteLightsMode(&newMode) == 0;
    if (aimerKey) {
        traceAppend(ok ? TEXT("Aimer Set") : TEXT("Failed to set Aimer"));
    } else {
        traceAppend(ok ? TEXT("Illumination set") : TEXT("Failed to set Illumination"));
    }
}

}  // namespace

bool applyRemoteBTMAC(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    // An address longer than the text holds is cut; the port creation then
    // reports the address it cannot use.
    textCopy(read.bluetoothAddress, kBluetoothAddressChars, value);
    if (textLength(value, kSettingsLineChars) >= static_cast<size_t>(kBluetoothAddressChars))
        readNote(read, NoteValueCut, key, value, kBluetoothAddressChars - 1, setting.section);
    read.used = 0;
    return true;
}

bool applyVibrateTime(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    int time = settingsNumber(value);
    if (time > kLongestVibrateMs) {
        if (read.diagnostics == nullptr) traceAppend(TEXT("(Vibrate for: Time set to long"));
        read.used = recordOf(read).VirbrateOnSuccessfulScanTime;
        return false;
    }
    recordOf(read).VirbrateOnSuccessfulScanTime = time;
    return heldNow(setting, read);
}

bool applyCardReader(const SettingInfo&, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    read.used = value[0] == '1' || value[0] == '2' ? value[0] - '0' : 0;
    if (read.used != 0 && read.diagnostics == nullptr) read.actions->startCardReader();
    return true;
}

bool applyEnableScanner(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    SettingsRecord& record = recordOf(read);
    record.EnableScanner = settingsFlag(value);
    record.scannerEnabled = record.EnableScanner;
    return heldNow(setting, read);
}

bool applyCancelOnNoneSeqScan(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    recordOf(read).CancelOnNoneSeqScan = value[0] == '1' ? 0 : 1;
    return heldNow(setting, read);
}

bool applySequenceEditor(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    storeKey(setting, read, key, value);
    read.rulesWanted = recordOf(read).EnableSequenceEditor != 0;
    return heldNow(setting, read);
}

bool applyAimer(const SettingInfo&, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    applyLightsBit(value, true, read);
    read.used = settingsFlag(value);
    return true;
}

bool applyIllumination(const SettingInfo&, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    applyLightsBit(value, false, read);
    read.used = settingsFlag(value);
    return true;
}

bool applyComportNumber(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    if (!isDigit(value[0])) {
        read.used = recordOf(read).ComportNumber;
        return false;
    }
    recordOf(read).ComportNumber = settingsNumber(value);
    return heldNow(setting, read);
}

bool applyOutPutMode(const SettingInfo&, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    SettingsRecord& record = recordOf(read);
    read.outPutModeSeen = true;
    record.SendToForegroundApp = 0;
    record.SendData = 0;
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
    record.SendToForegroundApp = foreground;
    record.SendData = serial;
    if (editControl) record.editControlDelivery = 1;
    if (capture && read.diagnostics == nullptr) read.actions->captureAllKeys();
    read.used = mode >= '0' && mode <= '7' ? mode - '0' : 1;
    return true;
}

bool applySendData(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    if (read.outPutModeSeen) {
        read.used = recordOf(read).SendData.load();
        return false;
    }
    recordOf(read).SendData = settingsFlag(value);
    return heldNow(setting, read);
}

bool applySendToForegroundApp(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    if (read.outPutModeSeen) {
        read.used = recordOf(read).SendToForegroundApp;
        return false;
    }
    recordOf(read).SendToForegroundApp = settingsFlag(value);
    return heldNow(setting, read);
}

bool applyContinuousScan(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    SettingsRecord& record = recordOf(read);
    if (value[0] == '1') {
        record.ContinuousScan = 1;
    } else if (record.PresentationMode.load() != 1) {
        record.ContinuousScan = 0;
    }
    return heldNow(setting, read);
}

bool applyPresentationMode(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    SettingsRecord& record = recordOf(read);
    if (value[0] == '1') {
        record.PresentationMode = 1;
        record.ContinuousScan = 1;
    } else {
        record.PresentationMode = 0;
    }
    return heldNow(setting, read);
}

bool applyAdvSuffixPrefix(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    SettingsRecord& record = recordOf(read);
    if (value[0] == '1') {
        record.EnableADVSuffixPrefix = 1;
        record.multiDecode = 0;
        record.EnableSequenceEditor = 0;
        read.rulesWanted = true;
    } else {
        record.EnableADVSuffixPrefix = 0;
    }
    return heldNow(setting, read);
}

// "0" leaves the field; a lone digit or any other character stands for its
// own character code; two or more leading digits are a decimal code.
bool applyRemapToTab(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    SettingsRecord& record = recordOf(read);
    if (value[0] != '0') record.RemapToTab = isDigit(value[0]) && isDigit(value[1]) ? settingsNumber(value) : value[0];
    return heldNow(setting, read);
}
