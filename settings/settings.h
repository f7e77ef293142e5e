// The settings record: every setting of Keyvane.ini, named after its key as
// the file spells it, with its default. Filled once by loadSettings() on the
// start-up thread; afterwards only scannerEnabled, PresentationMode and
// SendData change, and those are atomic because other threads read them.
#pragma once

#include <atomic>

#include "platform/platform.h"

constexpr int kGlobalCodeListSlots = 30;  // global prefix and Suffix, terminator included
constexpr int kOutputFormatBytes = 56;    // 55 bytes and the terminator

struct SettingsRecord {
    int AimerTimeOut = 20;
    BYTE EnableLEDs = 1;
    int VirbrateOnSuccessfulScanTime = 200;
    BYTE VirbrateOnSuccessfulScan = 0;
    BYTE EnableScanner = 1;
    WORD prefix[kGlobalCodeListSlots] = {};
    WORD Suffix[kGlobalCodeListSlots] = {};
    int PrefixID = 0;
    int SuffixID = 0;
    BYTE CancelOnNoneSeqScan = 0;  // stored inverted: "1" stores 0, any other value 1
    int EnableSequenceEditor = 0;
    int ComportNumber = 1;
    std::atomic<BYTE> SendData{0};
    BYTE ContinuousScan = 0;
    std::atomic<BYTE> PresentationMode{0};
    int ConnectingTo = 3;
    int ScanDelayMode = 0;
    int ScanDelaySetting = 0;
    BYTE SendToForegroundApp = 1;
    BYTE EnableADVSuffixPrefix = 0;
    int InterCharacterDelay = 0;
    int SuffixWait = 0;
    int PrefixWait = 0;
    char OutputFormat[kOutputFormatBytes] = {};
    BYTE Centering = 0;
    int AmierMode = 0;  // AmierMode and AimerMode are one setting
    int RemapToTab = 0;

    // Run-time state kept beside the settings.
    BYTE editControlDelivery = 0;         // set by OutPutMode 4..7, never cleared
    std::atomic<BYTE> scannerEnabled{1};  // starts from EnableScanner; switched by the main window
    std::atomic<BYTE> multiDecode{1};     // native multi decode allowed; cleared for good on "unsupported"
};

extern SettingsRecord settings;

// Restores every field to its default (process start state).
void resetSettings();

// Reads Keyvane.ini ("\\Zentrova\\Keyvane.ini", then "\\IPSM\\Keyvane.ini")
// into the settings record and the rule table, with every side effect the
// file asks for. Returns TRUE on success, FALSE when no settings file exists.
BOOL loadSettings();

// Value kinds of the settings file (value text with blanks already removed).
BYTE settingsFlag(const WCHAR* value);
int settingsNumber(const WCHAR* value);
int settingsDigit(const WCHAR* value);
// Fills a code list of `slots` 16-bit entries, terminator included. Items of
// more than four digits, and codes beyond the slots, are cut.
void settingsCodeList(WORD* list, int slots, const WCHAR* value);

// The symbology letter of a BarcodeSym number 1..46; 0 for any other number.
int symbologyLetter(int number);

// Settings file lines are read in pieces of at most 399 characters.
constexpr int kSettingsLineChars = 400;

// One settings line made ready for matching: cut at its line feed and at its
// first apostrophe, every space removed, split at the first "=".
struct SettingsLine {
    WCHAR* key;    // the text before the first "=" (the whole line without one)
    WCHAR* value;  // the text after it; null when the line has no "="
    bool header;   // "[" first and no "=" second
};
// Prepares `line` in place (it must be terminated within kSettingsLineChars).
SettingsLine prepareSettingsLine(WCHAR* line);
