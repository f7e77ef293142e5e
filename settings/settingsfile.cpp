// The reader of Keyvane.ini. The first pass applies the general keys (and,
// in [MCRSettings], the card-reader keys) up to the first "[Barcode1]" or
// "[Sync1]"; the second pass fills the rule table. Every key is applied by
// the handler of its entry in the settings list.
#include "settings/settingsfile.h"

#include <mutex>

#include "bluetooth/btlink.h"
#include "output/delivery.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"
#include "scan/engine.h"
#include "scan/scanloop.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsline.h"
#include "settings/settingstable.h"
#include "shell/state.h"
#include "shell/tracelog.h"
#include "shell/window.h"

namespace {

constexpr int kIntLimit = 2147483647;
constexpr int kNoRule = -1;

const WCHAR kSettingsBanner[] = TEXT("--------------------\r\n------Settings------\r\n--------------------\r\n");
const WCHAR kScanSyncBanner[] = TEXT("---------------------\r\n--Scan Sync Enabled--\r\n---------------------\r\n");
const WCHAR kNoOutputWarning[] =
    TEXT("With the current setting the application will only Scan but will not trasmit the data.");

void note(const SettingsRead& read, SettingsEvent what, const WCHAR* key, const WCHAR* value, int used,
          int detail = SectionGeneral) {
    readNote(read, what, key, value, used, detail);
}

void trace(const SettingsRead& read, const WCHAR* line) {
    if (read.diagnostics == nullptr) traceAppend(line);
}

// Reads the next piece of the file into `line` (kSettingsLineChars), counts
// and traces it; false at the end of the file.
bool nextLine(TextFile* file, SettingsRead& read, WCHAR* line, SettingsLineCount& count, bool& cut) {
    if (!readSettingsPiece(file, line, count, cut)) return false;
    read.line = count.line;
    trace(read, line);
    return true;
}

// Applies a key by its entry to `record`. Returns false when the line
// changes nothing; `read.used` is the value now held.
bool applyEntry(const SettingInfo& setting, SettingsRead& read, void* record, const WCHAR* key, const WCHAR* value) {
    read.record = record;
    read.used = 0;
    bool applied = setting.handler(setting, read, key, value);
    read.record = nullptr;
    return applied;
}

// A key that no general key matched, and the card reader did not take.
void noteUnreadKey(const WCHAR* key, const WCHAR* value, const SettingsRead& read, bool cardReaderSection) {
    if (read.diagnostics == nullptr) return;
    int here = cardReaderSection ? SectionCardReader : SectionGeneral;
    if (cardReaderSection && findSetting(SectionCardReader, key) != nullptr) {
        note(read, NoteCaseMismatch, key, value, 0, here);
    } else if (findSetting(SectionBarcode, key) != nullptr || findSetting(SectionCardReader, key) != nullptr) {
        note(read, NoteKeyMisplaced, key, value, 0, here);
    } else {
        note(read, NoteKeyUnknown, key, value, 0, here);
    }
}

// The first pass: the general keys, up to the first "[Barcode1]" or "[Sync1]".
void readGeneralKeys(TextFile* file, SettingsRead& read) {
    read.pass = 1;
    bool cardReaderSection = false;  // from [MCRSettings] to the next header
    WCHAR line[kSettingsLineChars];
    SettingsLineCount count;
    bool cut = false;
    while (nextLine(file, read, line, count, cut)) {
        if (cut) note(read, NoteLineCut, nullptr, nullptr, kSettingsLineChars - 1);
        SettingsLine parsed = prepareSettingsLine(line);
        if (parsed.header) {
            if (textEqualsNoCaseAW(parsed.key, "[Barcode1]") || textEqualsNoCaseAW(parsed.key, "[Sync1]")) {
                note(read, NoteHeader, parsed.key, nullptr, HeaderEndsFirstPass, 1);
                return;
            }
            cardReaderSection = textEqualsNoCaseAW(parsed.key, "[MCRSettings]");
            note(read, NoteHeader, parsed.key, nullptr, cardReaderSection ? HeaderCardReader : HeaderOther, 0);
            continue;
        }
        if (parsed.value == nullptr) continue;
        const SettingInfo* general = matchSetting(SectionGeneral, parsed.key);
        if (general != nullptr) {
            bool applied = applyEntry(*general, read, &settings, parsed.key, parsed.value);
            note(read, applied ? NoteValue : NoteValueIgnored, parsed.key, parsed.value, read.used);
        }
        const SettingInfo* card = cardReaderSection ? matchSetting(SectionCardReader, parsed.key) : nullptr;
        if (card != nullptr) {
            applyEntry(*card, read, &cardReaderSettings, parsed.key, parsed.value);
            note(read, NoteValue, parsed.key, parsed.value, 0, SectionCardReader);
        }
        if (general == nullptr && card == nullptr) noteUnreadKey(parsed.key, parsed.value, read, cardReaderSection);
    }
}

// The N of "[<name>N]" for N in 1..count, compared ignoring case; 0 for none.
int sectionNumber(const WCHAR* header, const char* name, int count) {
    WCHAR expected[24];
    for (int n = 1; n <= count; ++n) {
        textFormat(expected, 24, TEXT("[%hs%d]"), name, n);
        if (textEqualsNoCase(header, expected)) return n;
    }
    return 0;
}

// The second pass: the rule table, from the file's first line.
void readBarcodeRules(TextFile* file, SettingsRead& read) {
    clearRuleTable();
    read.pass = 2;
    int group = 0;
    int slot = kNoRule;
    bool firstPassOver = false;  // past the [Barcode1] or [Sync1] that ends the general keys
    WCHAR line[kSettingsLineChars];
    SettingsLineCount count;
    bool cut = false;
    while (nextLine(file, read, line, count, cut)) {
        SettingsLine parsed = prepareSettingsLine(line);
        if (parsed.key[0] == '[') {
            WCHAR kind = parsed.key[1];
            int meaning = HeaderOther, n = 0;
            if (kind == 'S' || kind == 's') {
                n = sectionNumber(parsed.key, "Sync", kSyncGroups);
                if (n != 0) group = n - 1;
                meaning = n != 0 ? HeaderSync : HeaderSyncBeyond;
            } else if (kind == 'B' || kind == 'b') {
                n = sectionNumber(parsed.key, "Barcode", kRuleSections);
                if (n != 0) slot = n - 1;
                meaning = n != 0 ? HeaderBarcode : HeaderBarcodeBeyond;
            }
            if (textEqualsNoCaseAW(parsed.key, "[Barcode1]") || textEqualsNoCaseAW(parsed.key, "[Sync1]"))
                firstPassOver = true;
            note(read, NoteHeader, parsed.key, nullptr, meaning, n);
        }
        if (parsed.value == nullptr) continue;
        if (slot == kNoRule) {
            // Before the first barcode section: the general keys of the first
            // pass, or, past its end, keys that neither pass reads.
            if (firstPassOver && read.diagnostics != nullptr) {
                bool known = findSetting(SectionGeneral, parsed.key) || findSetting(SectionBarcode, parsed.key) ||
                             findSetting(SectionCardReader, parsed.key);
                note(read, known ? NoteKeyMisplaced : NoteKeyUnknown, parsed.key, parsed.value, 0, 0);
            }
            continue;
        }
        if (const SettingInfo* setting = matchSetting(SectionBarcode, parsed.key)) {
            applyEntry(*setting, read, &ruleTable[group][slot], parsed.key, parsed.value);
            note(read, NoteValue, parsed.key, parsed.value, read.used, SectionBarcode);
        } else if (read.diagnostics != nullptr) {
            bool known = findSetting(SectionGeneral, parsed.key) || findSetting(SectionCardReader, parsed.key);
            note(read, known ? NoteKeyMisplaced : NoteKeyUnknown, parsed.key, parsed.value, 0, SectionBarcode);
        }
    }
}

// Both passes over an open settings file and what follows them.
void readSettingsFile(TextFile* file, SettingsRead& read) {
    settings.ComportNumber = -1;
    note(read, NoteReadBegins, nullptr, nullptr, 0);
    readGeneralKeys(file, read);
    textFileRewind(file);
    if (!read.rulesWanted) note(read, NoteRulesUnread, nullptr, nullptr, 0);
    if (read.rulesWanted || read.diagnostics != nullptr) {
        trace(read, kScanSyncBanner);
        readBarcodeRules(file, read);
    }
    if (settings.AmierMode == AimerUntilTrigger) {
        // Counted in 10 ms steps; a time-out too large to scale is held at the largest one.
        int timeOut = settings.AimerTimeOut;
        if (timeOut > kIntLimit / 10) {
            settings.AimerTimeOut = kIntLimit;
        } else if (timeOut < -kIntLimit / 10) {
            settings.AimerTimeOut = -kIntLimit;
        } else {
            settings.AimerTimeOut = timeOut * 10;
        }
    }
}

void createBluetoothComPort(const WCHAR* address) {
    if (settings.ComportNumber == -1 || settings.ComportNumber == 1) settings.ComportNumber = findFreeComIndex();
    if (!isComIndexFree(settings.ComportNumber)) {
        removeComDevice(settings.ComportNumber);
        traceAppend(TEXT("Remove current device (COM)"));
    }
    traceAppend(TEXT("Create BT Comport"));
    if (createBluetoothPort(address, settings.ComportNumber, 0, 0) == BtPortCreated) {
        traceAppend(TEXT("BT Comport Created"));
    } else {
        traceAppend(TEXT("Failed to create BT Comport"));
        MessageBoxW(GetForegroundWindow(), TEXT("Failed to create BT Comport"), TEXT("Keyvane : Error"), MB_OK);
    }
}

void captureAllKeys() {
    allKeysCapture(TRUE);
}

void startTheCardReader() {
    startCardReader(deviceModel.load());
}

}  // namespace

const SettingsActions kTerminalSettingsActions = {captureAllKeys, startTheCardReader, createBluetoothComPort};

bool applySettingsFile(TextFile* file, const SettingsActions& actions) {
    // A card swipe on the card-reader thread (started in the middle of the
    // first pass) waits until the settings, the card-reader settings, the
    // rules and the port number are complete.
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    SettingsRead read = {};
    read.actions = &actions;
    traceAppend(kSettingsBanner);
    readSettingsFile(file, read);
    if (read.bluetoothAddress[0] != 0) actions.createBluetoothPort(read.bluetoothAddress);
    return settings.SendData.load() || settings.SendToForegroundApp;
}

void inspectSettingsFile(TextFile* file, const SettingsDiagnostics& diagnostics) {
    // As in a load: a card reader running in this process reads its settings
    // only between deliveries.
    std::lock_guard<std::recursive_mutex> guard(deliveryLock());
    resetSettings();
    clearRuleTable();
    resetCardReaderSettings();
    SettingsRead read = {};
    read.diagnostics = &diagnostics;
    settingsNote(&diagnostics, {0, 0, NoteEncoding, nullptr, nullptr, textFileEncoding(file), 0});
    readSettingsFile(file, read);
    if (!settings.SendData.load() && !settings.SendToForegroundApp)
        settingsNote(&diagnostics, {0, 0, NoteNoOutput, nullptr, nullptr, 0, 0});
}

BOOL loadSettings() {
    TextFile* file = textFileOpen(TEXT("\\Zentrova\\Keyvane.ini"));
    if (file == nullptr) file = textFileOpen(TEXT("\\IPSM\\Keyvane.ini"));
    if (file == nullptr) {
        MessageBoxW(nullptr, TEXT("\"Keyvane.ini\"\n Keyvane will now Exit"), TEXT("Error: File not found"), MB_OK);
        return FALSE;
    }

    fillCharacterToKeyTable(deviceModel.load());
    connectEngine(1);
    decoderConfigure(100, 1);
    // The path found here is kept: the scanner enable and the settings editor apply the file again.
    if (locateDecodeSettings(decodeSettingsPath)) applyDecodeSettings(decodeSettingsPath);

    bool delivers = applySettingsFile(file, kTerminalSettingsActions);
    textFileClose(file);

    if (!delivers) {
        traceAppend(kNoOutputWarning);
        MessageBoxW(GetForegroundWindow(), kNoOutputWarning, TEXT("Keyvane : Warning"), MB_OK);
    }

    if (settings.PresentationMode.load() == 1) {
        HANDLE thread = CreateThread(nullptr, 0, scanTriggerLoop, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
    }
    return TRUE;
}
