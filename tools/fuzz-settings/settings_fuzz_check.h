// What must hold after the settings reader read any bytes as Keyvane.ini:
// every code list and text of the record and the rule table is terminated in
// its field, and at most one Bluetooth port is asked for, with a terminated
// address. check() reads the bytes from memory, from the power-on state of
// the process-wide records, as the settings load reads its file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/textfile.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "shell/app.h"
#include "shell/state.h"

namespace settingsfuzz {

inline bool terminated(const WORD* list, int slots) {
    for (int i = 0; i < slots; ++i) {
        if (list[i] == 0) return true;
    }
    return false;
}

inline bool terminatedText(const WCHAR* text, int chars) {
    for (int i = 0; i < chars; ++i) {
        if (text[i] == 0) return true;
    }
    return false;
}

inline bool recordSound() {
    if (!terminated(settings.prefix, kGlobalCodeListSlots) || !terminated(settings.Suffix, kGlobalCodeListSlots))
        return false;
    if (settings.OutputFormat[kOutputFormatBytes - 1] != 0) return false;
    for (const auto& group : ruleTable) {
        for (const BarcodeRule& rule : group) {
            if (!terminated(rule.prefix, kRuleCodeListSlots) || !terminated(rule.suffix, kRuleCodeListSlots))
                return false;
            if (!terminatedText(rule.startText, kStartTextChars)) return false;
            if (!terminatedText(rule.customSound, kCustomSoundChars)) return false;
        }
    }
    return true;
}


// What the file asked of the terminal, recorded instead of done: the check
// reads the file alone (the effects have tests of their own).
struct Asked {
    int captures = 0;
    int cardReaders = 0;
    int bluetoothPorts = 0;
    bool addressTerminated = true;
};
inline Asked asked;

inline const SettingsActions kRecordingActions = {
    [] { ++asked.captures; },
    [] { ++asked.cardReaders; },
    [](const WCHAR* address) {
        ++asked.bluetoothPorts;
        asked.addressTerminated = address != nullptr && textLength(address, 64) < 64;
    },
};

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    resetProcessState();
    deviceModel = kFallbackDeviceModel;
    asked = Asked{};
    TextFile* file = textFileOpenBytes(data, size);
    if (file == nullptr) return 1;
    applySettingsFile(file, kRecordingActions);
    textFileClose(file);
    if (!recordSound()) return 2;
    if (asked.bluetoothPorts > 1 || !asked.addressTerminated) return 3;
    return 0;
}

}  // namespace settingsfuzz
