// The settings record: every setting of Keyvane.ini, named after its key as
// the file spells it, with its default. Filled once by loadSettings() on the
// start-up thread; afterwards only scannerEnabled, PresentationMode and
// SendData change, and those are atomic because other threads read them.
#pragma once

#include <atomic>

#include "platform/platform.h"
#include "settings/diagnostics.h"
#include "settings/settingsline.h"

constexpr int kGlobalCodeListSlots = 30;  // global prefix and Suffix, terminator included
constexpr int kOutputFormatBytes = 56;    // 55 bytes and the terminator

// ScanDelayMode, numbered as the file numbers it.
enum ScanDelay {
    ScanDelayOff = 0,
    ScanDelayContinuous = 1,   // continuous reads ScanDelaySetting x 100 ms apart
    ScanDelaySkipRecent = 2,   // duplicates of the last ScanDelaySetting barcodes are skipped
    ScanDelaySkipInPress = 3,  // the same, and the history is cleared at every press
};

// AmierMode (AimerMode), numbered as the file numbers it.
enum AimerUse {
    AimerOff = 0,
    AimerTimed = 1,         // the aimer shines AimerTimeOut x 100 ms before the read
    AimerUntilTrigger = 2,  // the aimer shines until the trigger is pressed, at most AimerTimeOut x 10 ms
};

struct SettingsRecord {
    // The defaults are those of the settings list (settings/settingstable.cpp).
    int AimerTimeOut;
    BYTE EnableLEDs;
    int VirbrateOnSuccessfulScanTime;
    BYTE VirbrateOnSuccessfulScan;
    BYTE EnableScanner;
    WORD prefix[kGlobalCodeListSlots];
    WORD Suffix[kGlobalCodeListSlots];
    int PrefixID;
    int SuffixID;
    BYTE CancelOnNoneSeqScan;  // stored inverted: "1" stores 0, any other value 1
    int EnableSequenceEditor;
    int ComportNumber;
    std::atomic<BYTE> SendData;
    BYTE ContinuousScan;
    std::atomic<BYTE> PresentationMode;
    int ConnectingTo;   // a SerialFraming (output/framing.h)
    int ScanDelayMode;  // a ScanDelay
    int ScanDelaySetting;
    BYTE SendToForegroundApp;
    BYTE EnableADVSuffixPrefix;
    int InterCharacterDelay;
    int SuffixWait;
    int PrefixWait;
    char OutputFormat[kOutputFormatBytes];
    BYTE Centering;
    int AmierMode;  // an AimerUse; AmierMode and AimerMode are one setting
    int RemapToTab;

    // Run-time state kept beside the settings.
    BYTE editControlDelivery;            // set by OutPutMode 4..7, never cleared; starts 0
    std::atomic<BYTE> scannerEnabled;    // starts from EnableScanner; switched by the main window
    std::atomic<BYTE> multiDecode;       // native multi decode allowed (starts 1); cleared for good on "unsupported"
};

extern SettingsRecord settings;

// Restores every field to its default (process start state).
void resetSettings();

// Reads Keyvane.ini ("\\Zentrova\\Keyvane.ini", then "\\IPSM\\Keyvane.ini")
// into the settings record and the rule table, with every side effect the
// file asks for. Returns TRUE on success, FALSE when no settings file exists.
BOOL loadSettings();
// What a settings file asks of the terminal beyond the records it fills: the
// capture of every key, the card reader, a Bluetooth port for an address.
struct SettingsActions {
    void (*captureAllKeys)();
    void (*startCardReader)();
    void (*createBluetoothPort)(const WCHAR* address);
};
// The terminal's own: what loadSettings() does.
extern const SettingsActions kTerminalSettingsActions;

// The reading part of loadSettings() over an open file: the record, the rule
// table and the card-reader settings, with `actions` called for what the file
// asks of the terminal. Returns whether the file leaves a delivery on (data or
// typing).
bool applySettingsFile(TextFile* file, const SettingsActions& actions);

// Reads a settings file as loadSettings() does, for a check: the record and
// the rule table are filled from it (from their defaults), every line is
// reported to `diagnostics`, and nothing acts on the terminal. Both passes are
// read, even when the file does not ask for the barcode rules.
void inspectSettingsFile(TextFile* file, const SettingsDiagnostics& diagnostics);

// The symbology letter of a BarcodeSym number 1..46; 0 for any other number.
int symbologyLetter(int number);
