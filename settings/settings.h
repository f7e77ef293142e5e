// The settings record: every general setting of Keyvane.ini, named after its
// key as the file spells it. Its defaults are those of the settings list
// (settings/settingstable.h, resetSettings). Filled once by loadSettings()
// (settings/settingsfile.h) on the start-up thread; afterwards only
// scannerEnabled, PresentationMode and SendData change, and those are atomic
// because other threads read them.
#pragma once

#include <atomic>

#include "platform/platform.h"

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
