// The rule table and the handlers of the rule keys.
#include "settings/rules.h"

#include "scan/symbologies.h"
#include "settings/settingsline.h"

BarcodeRule ruleTable[kSyncGroups][kRulesPerGroup];

namespace {

BarcodeRule& ruleOf(const SettingsRead& read) {
    return *static_cast<BarcodeRule*>(read.record);
}

// True when the value fits the field; otherwise the refusal is shown.
bool fits(const SettingsRead& read, const WCHAR* key, const WCHAR* value, int capacity, const WCHAR* message) {
    if (textLength(value, kSettingsLineChars) < static_cast<size_t>(capacity)) return true;
    if (read.diagnostics == nullptr) {
        MessageBoxW(GetForegroundWindow(), message, TEXT("Error"), MB_OK);
    } else {
        readNote(read, NoteValueRefused, key, value, capacity - 1, SectionBarcode);
    }
    return false;
}

void storeCodeList(const SettingsRead& read, WORD* list, const WCHAR* key, const WCHAR* value) {
    if (int loss = settingsCodeList(list, kRuleCodeListSlots, value))
        readNote(read, NoteCodeListLoss, key, value, loss, SectionBarcode);
}

}  // namespace

bool ruleStartWith(const SettingInfo&, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    if (fits(read, key, value, kStartTextChars, TEXT("Setting \"BarcodeStartWith\" is to long.")))
        textCopy(ruleOf(read).startText, kStartTextChars, value);
    return true;
}

bool ruleCustomSound(const SettingInfo&, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    // A name the field cannot hold is refused like the other over-long rule
    // values: a cut name would name another file.
    if (fits(read, key, value, kCustomSoundChars, TEXT("Setting \"CustomSound\" is to long.")) && value[0] != 0)
        textCopy(ruleOf(read).customSound, kCustomSoundChars, value);
    return true;
}

bool ruleSymbology(const SettingInfo&, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    const Symbology* symbology = symbologyByNumber(settingsNumber(value));
    ruleOf(read).symbologyLetter = symbology != nullptr ? static_cast<unsigned char>(symbology->letter) : 0;
    read.used = ruleOf(read).symbologyLetter;
    return true;
}

bool ruleNumber(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    storeFieldNumber(setting.field, read.record, settingsNumber(value));
    return true;
}

bool ruleBeep(const SettingInfo&, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    if (value[0] == '1') {
        ruleOf(read).beep = 1;
    } else if (value[0] != '2') {
        ruleOf(read).beep = 0;
    }
    return true;
}

bool ruleSuffix(const SettingInfo&, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    if (fits(read, key, value, kRuleCodeListSlots, TEXT("Setting \"Suffix\" is to long.")))
        storeCodeList(read, ruleOf(read).suffix, key, value);
    return true;
}

bool rulePrefix(const SettingInfo&, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    if (fits(read, key, value, kRuleCodeListSlots, TEXT("Setting \"Prefix\" is to long.")))
        storeCodeList(read, ruleOf(read).prefix, key, value);
    return true;
}
