// The magnetic card reader on "COM1:" and its 5-volt power output, its
// settings and the handlers of the card-reader keys.
#pragma once

#include "platform/platform.h"
#include "settings/settingfield.h"

constexpr int kCardOutputFormatBytes = 256;
constexpr int kCardCodeListSlots = 20;      // terminator included
constexpr int kCardCustomSoundChars = 151;  // terminator included

struct CardReaderSettings {
    char outputFormat[kCardOutputFormatBytes];  // MCROutputFormat, the sequence editor's command string
    WORD suffix[kCardCodeListSlots];
    WORD prefix[kCardCodeListSlots];
    int prefixWait;
    int suffixWait;
    WCHAR customSound[kCardCustomSoundChars];
    BYTE beep;
    int field;
};

extern CardReaderSettings cardReaderSettings;

int startCardReader(int deviceModel);
int stopCardReader();
int switch5VoltOutput(BOOL on);

// The handlers of the card-reader keys (settings/settingstable.cpp lists
// them); the record they are given is the CardReaderSettings. Values too
// long for their field are cut.
bool cardCodes(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool cardNumber(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool cardFlag(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool cardText(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// CustomSound: a blank name leaves the one held.
bool cardSound(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// Field: a value that is exactly one of the entry's choices selects its field;
// any other leaves it.
bool cardField(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
