// The list of every key of Keyvane.ini: its name, the sections where it
// means something, its kind, default, sensible range, what it does, the
// field it is stored in and its handler. The one home of the defaults: it
// drives the reset of the settings record, the rule table and the card-reader
// settings, the reader's dispatch of every key, the settings check and the
// settings reference.
#pragma once

#include "platform/platform.h"
#include "settings/settingfield.h"

constexpr int kSettingsNameChars = 64;  // the longest key name and more

extern const SettingInfo kSettingsTable[];
extern const int kSettingsCount;

// The first entry of `section` whose name is `key` ignoring letter case; null when none.
const SettingInfo* findSetting(SettingSection section, const WCHAR* key);
const SettingInfo* findSettingA(SettingSection section, const char* key);
// The entry of `section` the reader applies to `key`: as findSetting, but an
// entry whose name is matched with its letter case takes only that spelling.
const SettingInfo* matchSetting(SettingSection section, const WCHAR* key);

// The settings record back to its defaults and its run-time state to its
// start (process start state).
void resetSettings();
// Every rule of the rule table back to the defaults: every slot empty.
void clearRuleTable();
// The card-reader settings back to their defaults.
void resetCardReaderSettings();
