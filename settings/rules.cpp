// The rule table and its reading: the second pass over the settings file.
#include "settings/rules.h"

#include "settings/settings.h"
#include "shell/tracelog.h"

BarcodeRule ruleTable[kSyncGroups][kRulesPerGroup];

namespace {

constexpr int kNoRule = -1;

void tooLong(const WCHAR* text) {
    MessageBoxW(GetForegroundWindow(), text, TEXT("Error"), MB_OK);
}

// The N of "[<name>N]" for N in 1..count, compared ignoring case; 0 for none.
int sectionNumber(const WCHAR* header, const char* name, int count) {
    WCHAR expected[24];
    for (int n = 1; n <= count; ++n) {
        textFormat(expected, 24, TEXT("[%hs%d]"), name, n);
        if (textEqualsNoCase(header, expected)) return n;
    }
    return 0;
}

void applyRuleKey(BarcodeRule& rule, const WCHAR* key, const WCHAR* value) {
    size_t valueLength = textLength(value, kSettingsLineChars);
    if (textEqualsNoCaseAW(key, "StartWith")) {
        if (valueLength >= static_cast<size_t>(kStartTextChars)) {
            tooLong(TEXT("Setting \"BarcodeStartWith\" is to long."));
        } else {
            textCopy(rule.startText, kStartTextChars, value);
        }
    } else if (textEqualsNoCaseAW(key, "CustomSound")) {
        // A name the field cannot hold is refused like the other over-long
        // rule values: a cut name would name another file.
        if (valueLength >= static_cast<size_t>(kCustomSoundChars)) {
            tooLong(TEXT("Setting \"CustomSound\" is to long."));
        } else if (valueLength > 0) {
            textCopy(rule.customSound, kCustomSoundChars, value);
        }
    } else if (textEqualsNoCaseAW(key, "BarcodeSym")) {
        // A number outside the letter table leaves the slot empty.
        rule.symbologyLetter = symbologyLetter(settingsNumber(value));
    } else if (textEqualsNoCaseAW(key, "Length")) {
        rule.length = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "Beep")) {
        if (value[0] == '1') {
            rule.beep = 1;
        } else if (value[0] != '2') {
            rule.beep = 0;
        }
    } else if (textEqualsNoCaseAW(key, "SuffixWait")) {
        rule.suffixWait = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "PrefixWait")) {
        rule.prefixWait = settingsNumber(value);
    } else if (textEqualsNoCaseAW(key, "suffix")) {
        if (valueLength >= static_cast<size_t>(kRuleCodeListSlots)) {
            tooLong(TEXT("Setting \"Suffix\" is to long."));
        } else {
            settingsCodeList(rule.suffix, kRuleCodeListSlots, value);
        }
    } else if (textEqualsNoCaseAW(key, "prefix")) {
        if (valueLength >= static_cast<size_t>(kRuleCodeListSlots)) {
            tooLong(TEXT("Setting \"Prefix\" is to long."));
        } else {
            settingsCodeList(rule.prefix, kRuleCodeListSlots, value);
        }
    }
}

}  // namespace

void clearRuleTable() {
    for (auto& group : ruleTable) {
        for (BarcodeRule& rule : group) rule = BarcodeRule{};
    }
}

void readBarcodeRules(TextFile* file) {
    clearRuleTable();
    int group = 0;
    int slot = kNoRule;
    WCHAR line[kSettingsLineChars];
    while (textFileReadLine(file, line, kSettingsLineChars)) {
        traceAppend(line);
        SettingsLine parsed = prepareSettingsLine(line);
        if (parsed.key[0] == '[') {
            WCHAR kind = parsed.key[1];
            if (kind == 'S' || kind == 's') {
                int n = sectionNumber(parsed.key, "Sync", kSyncGroups);
                if (n != 0) group = n - 1;
            } else if (kind == 'B' || kind == 'b') {
                int n = sectionNumber(parsed.key, "Barcode", 6);
                if (n != 0) slot = n - 1;
            }
        }
        if (slot == kNoRule || parsed.value == nullptr) continue;
        applyRuleKey(ruleTable[group][slot], parsed.key, parsed.value);
    }
}
