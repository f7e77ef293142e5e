// The shape of a key of Keyvane.ini: its section and kind, the record field
// its value is stored in, the handler that applies a line of it, and what
// the handlers of one read of the file share. Knows no key by name.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "settings/diagnostics.h"
#include "settings/settingsactions.h"

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

struct SettingChoice {
    char character;       // the value's first character
    int stored;           // what it stores
    const char* meaning;  // for the reference
};

// The record a key's field is in: the settings record (settings/settings.h),
// one barcode rule (settings/rules.h) or the card-reader settings
// (settings/cardreader.h). The reader hands the record to the handler.
enum FieldRecord { RecordNone, RecordSettings, RecordRule, RecordCardReader };

enum FieldType {
    FieldNone,        // not stored in a record (capacity may still bound the value)
    FieldNumber,      // int
    FieldByte,        // BYTE
    FieldAtomicByte,  // std::atomic<BYTE>
    FieldCodes,       // WORD[capacity], terminator included
    FieldText,        // char[capacity], terminator included
    FieldWideText,    // WCHAR[capacity], terminator included
};

struct SettingField {
    FieldRecord record;
    FieldType type;
    size_t offset;  // within the record
    int capacity;   // codes: slots; text: characters; terminator included
};

constexpr int kBluetoothAddressChars = 200;  // 199 characters and the terminator

// What the handlers of one read of a settings file share.
struct SettingsRead {
    const SettingsDiagnostics* diagnostics;  // null on the device; set: a check that leaves the terminal alone
    const SettingsActions* actions;          // what acting on the terminal calls (when not a check)
    int line;                                // of the file, from 1
    int pass;                                // 1 the general keys, 2 the barcode rules
    void* record;                            // the record of the key's field (see FieldRecord)
    int used;                                // set by the handler: the value now held, for the note
    WCHAR bluetoothAddress[kBluetoothAddressChars];
    int rememberedIlluminationBit;
    int rememberedAimerBit;
    bool outPutModeSeen;
    bool rulesWanted;
};

struct SettingInfo;

// Applies one line of a key to `read.record`. Returns false when the line
// changes nothing (its value is ignored or refused).
using SettingHandler = bool (*)(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);

struct SettingInfo {
    const char* name;  // as the file spells it
    SettingSection section;
    SettingKind kind;
    SettingHandler handler;
    int defaultValue;
    int low, high;  // numbers and choices: the values that make sense
    const SettingChoice* choices;
    int choiceCount;
    int otherStored;  // a choice's stored number for any other first character
    const char* defaultText;
    const char* description;
    SettingField field;
    bool exactCase = false;  // the name is matched with its letter case
};

// Reports a note of the read when it has diagnostics.
void readNote(const SettingsRead& read, SettingsEvent what, const WCHAR* key, const WCHAR* value, int used, int detail);

// The choice a value's first character selects; null when it selects none of them.
const SettingChoice* settingChoice(const SettingInfo& setting, const WCHAR* value);

// The address of a field in its record.
void* fieldIn(const SettingField& field, void* record);
// The number a number, byte or atomic byte field holds; 0 for other fields.
int fieldNumber(const SettingField& field, void* record);
// Stores a number in a number, byte or atomic byte field; others are left.
void storeFieldNumber(const SettingField& field, void* record, int number);
// Puts the field of `setting` in `record` back to the entry's default
// (codes and text: empty, every slot zero).
void resetField(const SettingInfo& setting, void* record);

// The handler of a plain key: the value read by the entry's kind into its
// field; `read.used` is the number held after it.
bool storeKey(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// What a handler that stored its value returns: `read.used` becomes the
// number the field holds.
bool heldNow(const SettingInfo& setting, SettingsRead& read);
