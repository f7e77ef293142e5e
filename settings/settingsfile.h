// The reader of Keyvane.ini: both passes over the file, each line's key
// applied by its entry of the settings list (settings/settingstable.h).
#pragma once

#include "platform/platform.h"
#include "settings/diagnostics.h"
#include "settings/settingsactions.h"

// Reads Keyvane.ini ("\\Zentrova\\Keyvane.ini", then "\\IPSM\\Keyvane.ini")
// into the settings record, the rule table and the card-reader settings, with
// every side effect the file asks for. Returns TRUE on success, FALSE when no
// settings file exists.
BOOL loadSettings();

// The terminal's own actions: what loadSettings() does.
extern const SettingsActions kTerminalSettingsActions;

// The reading part of loadSettings() over an open file: the settings record,
// the rule table and the card-reader settings, with `actions` called for what
// the file asks of the terminal. Returns whether the file leaves a delivery on
// (data or typing).
bool applySettingsFile(TextFile* file, const SettingsActions& actions);

// Reads a settings file as loadSettings() does, for a check: the records are
// filled from it (from their defaults), every line is reported to
// `diagnostics`, and nothing acts on the terminal. Both passes are read, even
// when the file does not ask for the barcode rules.
void inspectSettingsFile(TextFile* file, const SettingsDiagnostics& diagnostics);
