// The list of every key of Keyvane.ini: its name, the sections where it
// means something, its kind, default, sensible range and what it does. The
// one home of the defaults: it drives the settings record's reset, the
// reader's dispatch of the general keys, the settings check and the
// settings reference.
#pragma once

#include <atomic>

#include "platform/platform.h"

enum SettingSection {
    SectionGeneral = 1,     // before the first [Barcode1] or [Sync1], in any section
    SectionBarcode = 2,     // [Barcode1]..[Barcode6], in groups [Sync1]..[Sync10]
    SectionCardReader = 4,  // [MCRSettings]
};

enum SettingKind {
    KindFlag,       // "1" first: 1, else 0
    KindNumber,     // decimal number
    KindDigit,      // first character minus "0"
    KindChoice,     // the first character selects a stored number
    KindCodeList,   // comma-separated decimal character codes
    KindText,       // text
    KindCharacter,  // a character code (RemapToTab)
};

// How the reader applies a key. ActionStore reads the value by its kind into
// the entry's field; the others are the keys with rules of their own.
enum SettingAction {
    ActionStore,
    ActionRemoteBTMAC,
    ActionVibrateTime,
    ActionCardReader,
    ActionEnableScanner,
    ActionCancelOnNoneSeqScan,
    ActionSequenceEditor,
    ActionAimer,
    ActionIllumination,
    ActionComportNumber,
    ActionOutPutMode,
    ActionSendData,
    ActionContinuousScan,
    ActionPresentationMode,
    ActionSendToForegroundApp,
    ActionAdvSuffixPrefix,
    ActionRemapToTab,
    ActionRule,        // a key of a barcode rule (settings/rules.cpp)
    ActionCardReaderKey,  // a key of the card-reader settings (settings/cardreader.cpp)
};

struct SettingChoice {
    char character;       // the value's first character
    int stored;           // what it stores
    const char* meaning;  // for the reference
};

// Where a plain key is stored: exactly one pointer is set (none for keys
// that are not stored in the settings record).
struct SettingField {
    int* number;
    BYTE* byte;
    std::atomic<BYTE>* atomicByte;
    WORD* codes;
    char* text;
    int capacity;  // codes: slots, terminator included; text: bytes, terminator included
};

struct SettingInfo {
    const char* name;  // as the file spells it (matched ignoring letter case)
    SettingSection section;
    SettingKind kind;
    SettingAction action;
    int defaultValue;
    int low, high;  // numbers and choices: the values that make sense
    const SettingChoice* choices;
    int choiceCount;
    int otherStored;  // a choice's stored number for any other first character
    const char* defaultText;
    const char* description;
    SettingField field;
};

constexpr int kSettingsNameChars = 64;  // the longest key name and more

extern const SettingInfo kSettingsTable[];
extern const int kSettingsCount;

// The first entry of `section` whose name is `key` ignoring letter case; null when none.
const SettingInfo* findSetting(SettingSection section, const WCHAR* key);
const SettingInfo* findSettingA(SettingSection section, const char* key);
// The choice a value's first character selects; null when it selects none of them.
const SettingChoice* settingChoice(const SettingInfo& setting, const WCHAR* value);
// The number a plain entry holds now (flag, number, digit, choice); 0 for others.
int settingValue(const SettingInfo& setting);
// Puts every stored general key back to its default.
void resetSettingsTable();
