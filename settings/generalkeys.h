// The handlers of the general keys of Keyvane.ini that have rules of their
// own (settings/settingstable.cpp lists them; plain keys use storeKey). The
// record they are given is the settings record. With diagnostics set they
// act on nothing but the record (no card reader, engine or key capture).
#pragma once

#include "platform/platform.h"
#include "settings/settingfield.h"

// RemoteBTMAC: kept for the Bluetooth port the load creates at its end.
bool applyRemoteBTMAC(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
constexpr int kLongestVibrateMs = 2000;  // VirbrateOnSuccessfulScanTime
// VirbrateOnSuccessfulScanTime: above kLongestVibrateMs the line is refused.
bool applyVibrateTime(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// EnableCardReader: "1" or "2" starts the card reader.
bool applyCardReader(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyEnableScanner(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyCancelOnNoneSeqScan(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applySequenceEditor(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// EnableAimer and EnableIllumination: one bit each of the engine's lights mode.
bool applyAimer(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyIllumination(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// ComportNumber: a value not starting with a digit is ignored.
bool applyComportNumber(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
// OutPutMode: decides SendData and SendToForegroundApp; their later lines are ignored.
bool applyOutPutMode(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applySendData(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applySendToForegroundApp(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyContinuousScan(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyPresentationMode(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyAdvSuffixPrefix(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
bool applyRemapToTab(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value);
