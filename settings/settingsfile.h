// The reader of Keyvane.ini: both passes over the file, each line's key
// applied by its entry of the settings list (settings/settingstable.h).
#pragma once

#include "platform/platform.h"
#include "settings/diagnostics.h"

// Reads Keyvane.ini ("\\Zentrova\\Keyvane.ini", then "\\IPSM\\Keyvane.ini")
// into the settings record, the rule table and the card-reader settings, with
// every side effect the file asks for. Returns TRUE on success, FALSE when no
// settings file exists.
BOOL loadSettings();

// Reads a settings file as loadSettings() does, for a check: the records are
// filled from it (from their defaults), every line is reported to
// `diagnostics`, and nothing acts on the terminal. Both passes are read, even
// when the file does not ask for the barcode rules.
void inspectSettingsFile(TextFile* file, const SettingsDiagnostics& diagnostics);
