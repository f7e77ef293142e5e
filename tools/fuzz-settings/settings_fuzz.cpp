// libFuzzer entry for the settings file reader: any bytes as Keyvane.ini on
// a terminal root of its own. Every load must succeed and leave every code
// list and text of the record and the rule table terminated in its field.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/host/terminal.h"
#include "scan/decoder.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "settings/settingstable.h"
#include "shell/state.h"
#include "shell/window.h"

namespace {

std::string iniPath;

bool terminated(const WORD* list, int slots) {
    for (int i = 0; i < slots; ++i) {
        if (list[i] == 0) return true;
    }
    return false;
}

bool terminatedText(const WCHAR* text, int chars) {
    for (int i = 0; i < chars; ++i) {
        if (text[i] == 0) return true;
    }
    return false;
}

bool recordSound() {
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/keyvane-fuzz-settings-XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    std::string root = pattern;
    mkdir((root + "/Zentrova").c_str(), 0755);
    iniPath = root + "/Zentrova/Keyvane.ini";
    if (!terminal::attach(root)) abort();
    terminal::setConfig("decoder", KEYVANE_BINARY_DIR "/platform/decoder/libDecoder.so");
    terminal::setClockSpeed(1000);
    loadDecoderLibrary();
    deviceModel = kFallbackDeviceModel;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(iniPath.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);

    resetSettings();
    clearRuleTable();
    terminal::reset();
    if (!loadSettings()) abort();
    if (!recordSound()) abort();

    // Undo what the file switched on: the presentation-mode scan thread ends
    // once the mode is off.
    if (settings.PresentationMode.load()) {
        settings.PresentationMode = 0;
        usleep(50000);
    }
    if (allKeysCaptured.load()) allKeysCapture(FALSE);
    stopCardReader();
    return 0;
}
