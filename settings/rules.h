// The rule table: ten scan-sync groups of ten barcode rules, filled by the
// second pass of the settings load from [Barcode1]..[Barcode6] and
// [Sync1]..[Sync10].
#pragma once

#include "platform/platform.h"
#include "settings/diagnostics.h"

constexpr int kSyncGroups = 10;
constexpr int kRulesPerGroup = 10;
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

void clearRuleTable();

// The second pass over an open settings file (from its first line).
// `diagnostics` (null on the device) observes it; see settings/diagnostics.h.
void readBarcodeRules(TextFile* file, const SettingsDiagnostics* diagnostics = nullptr);
