// The rule table: ten scan-sync groups of ten barcode rules, filled by the
// second pass of the settings load from [Barcode1]..[Barcode6] and
// [Sync1]..[Sync10]; and the handlers of the rule keys.
#pragma once

#include "platform/platform.h"
#include "settings/settingfield.h"

constexpr int kSyncGroups = 10;
constexpr int kRulesPerGroup = 10;
constexpr int kRuleSections = 6;  // [Barcode1]..[Barcode6]: the slots of a group the reader fills
constexpr int kRuleCodeListSlots = 50;
constexpr int kStartTextChars = 10;     // terminator included
constexpr int kCustomSoundChars = 151;  // terminator included

struct BarcodeRule {
    int symbologyLetter;  // 0 marks an empty slot
    WORD prefix[kRuleCodeListSlots];
    int prefixWait;
    WORD suffix[kRuleCodeListSlots];
    int suffixWait;
    int length;  // 0 = any length
    WCHAR startText[kStartTextChars];
    int beep;
    WCHAR customSound[kCustomSoundChars];
};

extern BarcodeRule ruleTable[kSyncGroups][kRulesPerGroup];

// The handlers of the rule keys (settings/settingstable.cpp lists them); the
// record they are given is one BarcodeRule. A value too long for its field
// is refused with a message box (a note in a check), and the line still
// counts as read.
bool ruleStartWith(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool ruleCustomSound(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// BarcodeSym: the symbology letter of the number (`read.used`); a number
// outside the symbology list leaves the slot empty.
bool ruleSymbology(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool ruleNumber(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// Beep: "1" on, "2" leaves it, anything else off.
bool ruleBeep(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool ruleSuffix(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool rulePrefix(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
