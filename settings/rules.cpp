// The rule table and its reading: the second pass over the settings file.
#include "settings/rules.h"

#include "settings/settingsline.h"
#include "settings/settingstable.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

BarcodeRule ruleTable[kSyncGroups][kRulesPerGroup];

namespace {

constexpr int kNoRule = -1;

// Where the second pass stands, for the notes of a check.
struct RulePass {
    const SettingsDiagnostics* diagnostics;  // null on the device
    int line;
};

void note(const RulePass& pass, SettingsEvent what, const WCHAR* key, const WCHAR* value, int used, int detail) {
    settingsNote(pass.diagnostics, {pass.line, 2, what, key, value, used, detail});
}

void tooLong(const RulePass& pass, const WCHAR* key, const WCHAR* value, const WCHAR* text, int longest) {
    if (pass.diagnostics == nullptr) {
        MessageBoxW(GetForegroundWindow(), text, TEXT("Error"), MB_OK);
    } else {
        note(pass, NoteValueRefused, key, value, longest, SectionBarcode);
    }
}

void storeCodeList(const RulePass& pass, WORD* list, const WCHAR* key, const WCHAR* value) {
    if (int loss = settingsCodeList(list, kRuleCodeListSlots, value))
        note(pass, NoteCodeListLoss, key, value, loss, SectionBarcode);
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

// Returns false when the key is none of the rule keys.
bool applyRuleKey(const RulePass& pass, BarcodeRule& rule, const WCHAR* key, const WCHAR* value) {
    size_t valueLength = textLength(value, kSettingsLineChars);
    if (textEqualsNoCaseAW(key, "StartWith")) {
        if (valueLength >= static_cast<size_t>(kStartTextChars)) {
            tooLong(pass, key, value, TEXT("Setting \"BarcodeStartWith\" is to long."), kStartTextChars - 1);
        } else {
            textCopy(rule.startText, kStartTextChars, value);
        }
    } else if (textEqualsNoCaseAW(key, "CustomSound")) {
        // A name the field cannot hold is refused like the other over-long
        // rule values: a cut name would name another file.
        if (valueLength >= static_cast<size_t>(kCustomSoundChars)) {
            tooLong(pass, key, value, TEXT("Setting \"CustomSound\" is to long."), kCustomSoundChars - 1);
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
            tooLong(pass, key, value, TEXT("Setting \"Suffix\" is to long."), kRuleCodeListSlots - 1);
        } else {
            storeCodeList(pass, rule.suffix, key, value);
        }
    } else if (textEqualsNoCaseAW(key, "prefix")) {
        if (valueLength >= static_cast<size_t>(kRuleCodeListSlots)) {
            tooLong(pass, key, value, TEXT("Setting \"Prefix\" is to long."), kRuleCodeListSlots - 1);
        } else {
            storeCodeList(pass, rule.prefix, key, value);
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace

void clearRuleTable() {
    for (auto& group : ruleTable) {
        for (BarcodeRule& rule : group) rule = BarcodeRule{};
    }
}

void readBarcodeRules(TextFile* file, const SettingsDiagnostics* diagnostics) {
    clearRuleTable();
    int group = 0;
    int slot = kNoRule;
    bool firstPassOver = false;  // past the [Barcode1] or [Sync1] that ends the general keys
    RulePass pass = {diagnostics, 0};
    WCHAR line[kSettingsLineChars];
    SettingsLineCount count;
    bool cut = false;
    while (readSettingsPiece(file, line, count, cut)) {
        pass.line = count.line;
        if (diagnostics == nullptr) traceAppend(line);
        SettingsLine parsed = prepareSettingsLine(line);
        if (parsed.key[0] == '[') {
            WCHAR kind = parsed.key[1];
            int meaning = HeaderOther, n = 0;
            if (kind == 'S' || kind == 's') {
                n = sectionNumber(parsed.key, "Sync", kSyncGroups);
                if (n != 0) group = n - 1;
                meaning = n != 0 ? HeaderSync : HeaderSyncBeyond;
            } else if (kind == 'B' || kind == 'b') {
                n = sectionNumber(parsed.key, "Barcode", 6);
                if (n != 0) slot = n - 1;
                meaning = n != 0 ? HeaderBarcode : HeaderBarcodeBeyond;
            }
            if (textEqualsNoCaseAW(parsed.key, "[Barcode1]") || textEqualsNoCaseAW(parsed.key, "[Sync1]"))
                firstPassOver = true;
            note(pass, NoteHeader, parsed.key, nullptr, meaning, n);
        }
        if (parsed.value == nullptr) continue;
        if (slot == kNoRule) {
            // Before the first barcode section: the general keys of the first
            // pass, or, past its end, keys that neither pass reads.
            if (firstPassOver && diagnostics != nullptr) {
                bool known = findSetting(SectionGeneral, parsed.key) || findSetting(SectionBarcode, parsed.key) ||
                             findSetting(SectionCardReader, parsed.key);
                note(pass, known ? NoteKeyMisplaced : NoteKeyUnknown, parsed.key, parsed.value, 0, 0);
            }
            continue;
        }
        BarcodeRule& rule = ruleTable[group][slot];
        if (applyRuleKey(pass, rule, parsed.key, parsed.value)) {
            bool symbology = textEqualsNoCaseAW(parsed.key, "BarcodeSym");
            note(pass, NoteValue, parsed.key, parsed.value, symbology ? rule.symbologyLetter : 0, SectionBarcode);
        } else if (diagnostics != nullptr) {
            bool known = findSetting(SectionGeneral, parsed.key) || findSetting(SectionCardReader, parsed.key);
            note(pass, known ? NoteKeyMisplaced : NoteKeyUnknown, parsed.key, parsed.value, 0, SectionBarcode);
        }
    }
}
