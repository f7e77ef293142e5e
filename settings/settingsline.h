// The lines and values of Keyvane.ini: how one line is cut into a key and a
// value, and how a value is read as a flag, a number, a digit or a code list.
// Knows nothing of what the keys mean.
#pragma once

#include "platform/platform.h"

// Settings file lines are read in pieces of at most 399 characters.
constexpr int kSettingsLineChars = 400;
// A code-list item holds at most this many digits.
constexpr int kCodeItemDigits = 4;

// One settings line made ready for matching: cut at its line feed and at its
// first apostrophe, every space removed, split at the first "=".
struct SettingsLine {
    WCHAR* key;    // the text before the first "=" (the whole line without one)
    WCHAR* value;  // the text after it; null when the line has no "="
    bool header;   // "[" first and no "=" second
};
// Prepares `line` in place (it must be terminated within kSettingsLineChars).
SettingsLine prepareSettingsLine(WCHAR* line);

// flag: 1 when the value's first character is "1", else 0.
BYTE settingsFlag(const WCHAR* value);
// number: leading tabs, an optional sign and digits; no digits give 0; held
// at the 32-bit limits.
int settingsNumber(const WCHAR* value);
// True when the whole value is such a number and fits 32 bits (nothing is
// dropped by settingsNumber).
bool settingsNumberWhole(const WCHAR* value);
// digit: the first character's code minus that of "0".
int settingsDigit(const WCHAR* value);

// What a code list left out of its value.
enum CodeListLoss {
    CodeListDroppedCharacters = 1,  // characters that are neither digits nor commas
    CodeListItemCut = 2,            // an item of more than four digits
    CodeListCut = 4,                // more codes than the slots hold
    CodeListEndedEarly = 8,         // an empty or zero item ended the list before later codes
};
// Fills a code list of `slots` 16-bit entries, terminator included. Items of
// more than four digits, and codes beyond the slots, are cut. Returns the
// CodeListLoss bits of what was left out.
int settingsCodeList(WORD* list, int slots, const WCHAR* value);

// Line numbers of the pieces read from a settings file: a piece that does not
// end with a line feed is followed by more of the same line.
struct SettingsLineCount {
    int line = 0;
    bool atLineStart = true;
};
// Reads the next piece of at most 399 characters into `line`
// (kSettingsLineChars); false at the end of the file. `cut` tells whether the
// line goes on in the next piece.
bool readSettingsPiece(TextFile* file, WCHAR* line, SettingsLineCount& count, bool& cut);
