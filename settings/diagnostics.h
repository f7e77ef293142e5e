// What the readers of Keyvane.ini and DecodeSettings.Vqf make of each line,
// for a check of the files before they go to the devices. The readers take a
// diagnostics pointer that is null on the device: then they report nothing.
// With one, they read the file the same way, report each note to it, and
// leave the terminal alone (no trace lines, message boxes, engine calls,
// card reader, key capture or Bluetooth port).
#pragma once

#include "platform/platform.h"

enum SettingsEvent {
    // Keyvane.ini
    NoteEncoding,          // used: the TextFileEncoding of the file
    NoteLineCut,           // the line is longer than 399 characters: the rest is read as a line of its own
    NoteHeader,            // key: the header; used: HeaderMeaning; detail: the group or slot selected (from 1)
    NoteKeyUnknown,        // a key no reader knows here; detail: the SettingSection where it stands
    NoteKeyMisplaced,      // a key known in another section only; detail: the SettingSection where it stands
    NoteValue,             // a known key applied; used: the value now held; detail: the SettingSection
    NoteValueIgnored,      // a known key whose line changes nothing; used: the value kept
    NoteValueRefused,      // a value too long for its field: refused; used: the longest accepted
    NoteValueCut,          // a value too long for its field: cut; used: the characters kept
    NoteCodeListLoss,      // used: CodeListLoss bits
    NoteCaseMismatch,      // a card-reader key in another letter case: the card reader ignores it
    NoteRulesUnread,       // neither scan sync nor per-symbology prefixes: the barcode sections are not read
    NoteNoOutput,          // OutPutMode 0, or SendData and SendToForegroundApp both 0: the no-output warning
    // DecodeSettings.Vqf
    NoteDecodeSection,          // key: the section; used: the engine id, -1 for General/Decode/Bluetooth
    NoteDecodeSectionUnknown,   // key: the section name
    NoteDecodePropertyUnknown,  // key: the property
    NoteDecodeValueKind,        // key: the property; value: as written; used: the kind expected (DecodeValueKind)
    NoteDecodeUnclosed,         // a Decode section ended by the next section start, which is then skipped
    NoteDecodeLineIgnored,      // a line that is no element the reader takes (tabs, text)
    // Keyvane.ini
    NoteReadBegins,        // the first pass begins: the records hold what its lines start from
};

enum HeaderMeaning {
    HeaderOther = 0,       // read on as general keys (first pass) or changes nothing (second pass)
    HeaderEndsFirstPass,   // [Barcode1] or [Sync1] in the first pass
    HeaderCardReader,      // [MCRSettings]
    HeaderBarcode,         // [Barcode1]..[Barcode6]; detail: the slot from 1
    HeaderSync,            // [Sync1]..[Sync10]; detail: the group from 1
    HeaderBarcodeBeyond,   // "[Barcode..." beyond the six slots: selects nothing
    HeaderSyncBeyond,      // "[Sync..." beyond the ten groups: selects nothing
};

enum DecodeValueKind { DecodeValueBoolean = 1, DecodeValueNumber = 2, DecodeValueText = 3 };

struct SettingsNote {
    int line;            // line of the file, from 1 (a line cut at 399 characters keeps its number)
    int pass;            // Keyvane.ini: 1 the general keys, 2 the barcode rules
    SettingsEvent what;
    const WCHAR* key;    // as written without blanks; null when none
    const WCHAR* value;  // as written without blanks; null when none
    int used;
    int detail;
};

struct SettingsDiagnostics {
    void (*note)(void* context, const SettingsNote& note);
    void* context;
};

// Reports a note when `diagnostics` is set.
inline void settingsNote(const SettingsDiagnostics* diagnostics, const SettingsNote& note) {
    if (diagnostics != nullptr && diagnostics->note != nullptr) diagnostics->note(diagnostics->context, note);
}
