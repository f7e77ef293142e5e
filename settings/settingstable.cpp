// The list of the keys of Keyvane.ini, in the order in which the reader
// tests the general keys.
#include "settings/settingstable.h"

#include <array>

#include "output/framing.h"
#include "settings/cardreader.h"
#include "settings/rules.h"
#include "settings/settings.h"

namespace {

constexpr SettingField noField() {
    return {nullptr, nullptr, nullptr, nullptr, nullptr, 0};
}
constexpr SettingField numberAt(int* p) {
    return {p, nullptr, nullptr, nullptr, nullptr, 0};
}
constexpr SettingField byteAt(BYTE* p) {
    return {nullptr, p, nullptr, nullptr, nullptr, 0};
}
constexpr SettingField atomicAt(std::atomic<BYTE>* p) {
    return {nullptr, nullptr, p, nullptr, nullptr, 0};
}
constexpr SettingField codesAt(WORD* p, int slots) {
    return {nullptr, nullptr, nullptr, p, nullptr, slots};
}
constexpr SettingField textAt(char* p, int bytes) {
    return {nullptr, nullptr, nullptr, nullptr, p, bytes};
}
// Text held elsewhere than the settings record: only its size is known here.
constexpr SettingField textOf(int characters) {
    return {nullptr, nullptr, nullptr, nullptr, nullptr, characters};
}

#define CHOICES(list) list, static_cast<int>(sizeof list / sizeof list[0])

const SettingChoice kCardReaderChoices[] = {
    {'0', 0, "off"}, {'1', 1, "start the card reader on COM1"}, {'2', 2, "start the card reader on COM1"}};
const SettingChoice kSequenceEditorChoices[] = {
    {'0', 0, "off"},
    {'1', 1, "scan sync: a set is released when every rule of its group is matched"},
    {'2', 2, "scan sync; a barcode no rule takes cancels the set when CancelOnNoneSeqScan is 1"}};
const SettingChoice kOutPutModeChoices[] = {
    {'0', 0, "no output (the wedge warns at start)"},
    {'1', 1, "keystrokes"},
    {'2', 2, "serial"},
    {'3', 3, "keystrokes and serial"},
    {'4', 4, "keystrokes, written into a focused edit control"},
    {'5', 5, "keystrokes into an edit control, and serial"},
    {'6', 6, "keystrokes into an edit control, all keys captured"},
    {'7', 7, "keystrokes into an edit control, all keys captured, and serial"}};
// The framings the file names, from the framing module's list.
constexpr std::array<SettingChoice, kNamedFramingCount> connectingToChoices() {
    std::array<SettingChoice, kNamedFramingCount> choices{};
    int n = 0;
    for (const FramingInfo& f : kFramings) {
        if (f.framing == FramingRaw) continue;
        choices[n++] = {static_cast<char>('0' + f.framing), f.framing, f.meaning};
    }
    return choices;
}
constexpr std::array<SettingChoice, kNamedFramingCount> kConnectingToChoices = connectingToChoices();
static_assert(kConnectingToChoices[kNamedFramingCount - 1].stored == kNamedFramingCount,
              "the settings file names the framings 1..n");
const SettingChoice kScanDelayChoices[] = {
    {'0', ScanDelayOff, "off"},
    {'1', ScanDelayContinuous, "continuous reads ScanDelaySetting x 100 ms apart"},
    {'2', ScanDelaySkipRecent, "duplicates of the last ScanDelaySetting barcodes are skipped"},
    {'3', ScanDelaySkipInPress, "duplicates within one press are skipped"}};
const SettingChoice kAimerModeChoices[] = {{'0', AimerOff, "off"},
                                           {'1', AimerTimed, "aimer first, AimerTimeOut in 100 ms steps"},
                                           {'2', AimerUntilTrigger, "aimer first, 10 ms steps"}};
const SettingChoice kBeepChoices[] = {
    {'0', 0, "no sound"}, {'1', 1, "play CustomSound when the rule matches"}, {'2', -1, "leave as it was"}};
const SettingChoice kFieldChoices[] = {{'1', 26, "field 26"}, {'2', 19, "field 19"}, {'3', 4, "field 4"}, {'4', 3, "field 3"}};

}  // namespace

constinit const SettingInfo kSettingsTable[] = {
    // ---------------------------------------------------------------- general keys, in the reader's order
    {"AimerTimeOut", SectionGeneral, KindNumber, ActionStore, 20, 0, 10000, nullptr, 0, 0, "20",
     "Aimer time-out in tenths of a second (x10 when AimerMode is 2).", numberAt(&settings.AimerTimeOut)},
    {"RemoteBTMAC", SectionGeneral, KindText, ActionRemoteBTMAC, 0, 0, 0, nullptr, 0, 0, "empty",
     "Address of the remote Bluetooth device (12 hex digits); a virtual COM port is created for it.", textOf(200)},
    {"EnableLEDs", SectionGeneral, KindFlag, ActionStore, 1, 0, 1, nullptr, 0, 0, "1", "Good-read light on or off.",
     byteAt(&settings.EnableLEDs)},
    {"VirbrateOnSuccessfulScanTime", SectionGeneral, KindNumber, ActionVibrateTime, 200, 0, 2000, nullptr, 0, 0, "200",
     "Vibration length in milliseconds; above 2000 the line is refused.",
     numberAt(&settings.VirbrateOnSuccessfulScanTime)},
    {"VirbrateOnSuccessfulScan", SectionGeneral, KindFlag, ActionStore, 0, 0, 1, nullptr, 0, 0, "0",
     "Vibrate after a good read.", byteAt(&settings.VirbrateOnSuccessfulScan)},
    {"EnableCardReader", SectionGeneral, KindChoice, ActionCardReader, 0, 0, 2, CHOICES(kCardReaderChoices), 0, "0",
     "Start the magnetic card reader on COM1 when the line is read.", noField()},
    {"EnableScanner", SectionGeneral, KindFlag, ActionEnableScanner, 1, 0, 1, nullptr, 0, 0, "1",
     "Scanner on at start (the scan key is registered).", byteAt(&settings.EnableScanner)},
    {"prefix", SectionGeneral, KindCodeList, ActionStore, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent before every barcode (up to 29 codes of at most four digits).",
     codesAt(settings.prefix, kGlobalCodeListSlots)},
    {"Suffix", SectionGeneral, KindCodeList, ActionStore, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent after every barcode (13 is Enter).", codesAt(settings.Suffix, kGlobalCodeListSlots)},
    {"PrefixID", SectionGeneral, KindDigit, ActionStore, 0, 0, 3, nullptr, 0, 0, "0",
     "Identifier typed before the prefix: 1 symbology letter, 2 and 3 the second and third identifier byte.",
     numberAt(&settings.PrefixID)},
    {"SuffixID", SectionGeneral, KindDigit, ActionStore, 0, 0, 3, nullptr, 0, 0, "0",
     "Identifier typed before the suffix, as PrefixID.", numberAt(&settings.SuffixID)},
    {"CancelOnNoneSeqScan", SectionGeneral, KindFlag, ActionCancelOnNoneSeqScan, 0, 0, 1, nullptr, 0, 0, "0",
     "Scan sync mode 2: 1 cancels the set when a barcode matches no rule.", byteAt(&settings.CancelOnNoneSeqScan)},
    {"EnableSequenceEditor", SectionGeneral, KindChoice, ActionSequenceEditor, 0, 0, 2, CHOICES(kSequenceEditorChoices),
     0, "0", "Scan sync: barcodes read together are released in the order of the rules of a [Sync] group.",
     numberAt(&settings.EnableSequenceEditor)},
    {"EnableAimer", SectionGeneral, KindFlag, ActionAimer, 0, 0, 1, nullptr, 0, 0, "as the engine has it",
     "Switch the engine's aimer on or off when the line is read.", noField()},
    {"EnableIllumination", SectionGeneral, KindFlag, ActionIllumination, 0, 0, 1, nullptr, 0, 0, "as the engine has it",
     "Switch the engine's illumination on or off when the line is read.", noField()},
    {"ComportNumber", SectionGeneral, KindNumber, ActionComportNumber, 1, 0, 9, nullptr, 0, 0, "none",
     "Serial port COMn: (0 to 9) for serial output and the Bluetooth virtual port; a port outside 0..9 cannot be "
     "opened, and a value not starting with a digit is ignored.",
     numberAt(&settings.ComportNumber)},
    {"OutPutMode", SectionGeneral, KindChoice, ActionOutPutMode, 1, 0, 7, CHOICES(kOutPutModeChoices), 1, "none",
     "Where barcodes go; overrides SendData and SendToForegroundApp (later lines of those are ignored).", noField()},
    {"SendData", SectionGeneral, KindFlag, ActionSendData, 0, 0, 1, nullptr, 0, 0, "0",
     "Send every barcode to the serial port (ignored after OutPutMode).", atomicAt(&settings.SendData)},
    {"ContinuousScan", SectionGeneral, KindFlag, ActionContinuousScan, 0, 0, 1, nullptr, 0, 0, "0",
     "Keep reading while the scan key is held.", byteAt(&settings.ContinuousScan)},
    {"PresentationMode", SectionGeneral, KindFlag, ActionPresentationMode, 0, 0, 1, nullptr, 0, 0, "0",
     "Read all the time without the scan key (sets ContinuousScan).", atomicAt(&settings.PresentationMode)},
    {"ConnectingTo", SectionGeneral, KindChoice, ActionStore, FramingRaw, 1, kNamedFramingCount,
     kConnectingToChoices.data(), kNamedFramingCount, FramingRaw, "raw", "Serial framing for the device at the far end; any other value sends the data raw.",
     numberAt(&settings.ConnectingTo)},
    {"ScanDelayMode", SectionGeneral, KindChoice, ActionStore, 0, 0, 3, CHOICES(kScanDelayChoices), 0, "0",
     "Scan delay and duplicate suppression.", numberAt(&settings.ScanDelayMode)},
    {"ScanDelaySetting", SectionGeneral, KindNumber, ActionStore, 0, 0, 10000, nullptr, 0, 0, "0",
     "Amount for ScanDelayMode: tenths of a second (1) or barcodes remembered (2).",
     numberAt(&settings.ScanDelaySetting)},
    {"SendToForegroundApp", SectionGeneral, KindFlag, ActionSendToForegroundApp, 1, 0, 1, nullptr, 0, 0, "1",
     "Type every barcode into the focused application (ignored after OutPutMode).",
     byteAt(&settings.SendToForegroundApp)},
    {"EnableADVSuffixPrefix", SectionGeneral, KindFlag, ActionAdvSuffixPrefix, 0, 0, 1, nullptr, 0, 0, "0",
     "Per-symbology prefix and suffix from the [Barcode] sections; turns scan sync off.",
     byteAt(&settings.EnableADVSuffixPrefix)},
    {"InterCharacterDelay", SectionGeneral, KindNumber, ActionStore, 0, 0, 10000, nullptr, 0, 0, "0",
     "Pause in milliseconds after every typed character.", numberAt(&settings.InterCharacterDelay)},
    {"SuffixWait", SectionGeneral, KindNumber, ActionStore, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds that goes with the suffix.", numberAt(&settings.SuffixWait)},
    {"PrefixWait", SectionGeneral, KindNumber, ActionStore, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds after the prefix.", numberAt(&settings.PrefixWait)},
    {"OutputFormat", SectionGeneral, KindText, ActionStore, 0, 0, 0, nullptr, 0, 0, "empty",
     "Kept (up to 55 bytes); nothing acts on it. The card reader's command string is MCROutputFormat.",
     textAt(settings.OutputFormat, kOutputFormatBytes)},
    {"Centering", SectionGeneral, KindFlag, ActionStore, 0, 0, 1, nullptr, 0, 0, "0", "Kept; nothing acts on it.",
     byteAt(&settings.Centering)},
    {"AmierMode", SectionGeneral, KindChoice, ActionStore, 0, 0, 2, CHOICES(kAimerModeChoices), 0, "0",
     "Aimer before each read; the same setting as AimerMode.", numberAt(&settings.AmierMode)},
    {"AimerMode", SectionGeneral, KindChoice, ActionStore, 0, 0, 2, CHOICES(kAimerModeChoices), 0, "0",
     "The same setting as AmierMode; the later line wins.", numberAt(&settings.AmierMode)},
    {"RemapToTab", SectionGeneral, KindCharacter, ActionRemapToTab, 0, 1, 65535, nullptr, 0, 0, "0",
     "Character typed as a Tab key: a character, or its code of two or more digits (9 is the character 9).",
     numberAt(&settings.RemapToTab)},
    // ---------------------------------------------------------------- barcode rules
    {"StartWith", SectionBarcode, KindText, ActionRule, 0, 0, 0, nullptr, 0, 0, "any",
     "Text the barcode must begin with (up to 9 characters).", textOf(kStartTextChars)},
    {"CustomSound", SectionBarcode, KindText, ActionRule, 0, 0, 0, nullptr, 0, 0, "none",
     "Sound file played when the rule matches and Beep is 1 (up to 150 characters).", textOf(kCustomSoundChars)},
    {"BarcodeSym", SectionBarcode, KindNumber, ActionRule, 0, 1, 46, nullptr, 0, 0, "none",
     "Symbology of the rule, 1..46 (keyvane-terminal symbologies); other numbers leave the rule empty.", noField()},
    {"Length", SectionBarcode, KindNumber, ActionRule, 0, 0, 4095, nullptr, 0, 0, "0",
     "Required barcode length; 0 is any length.", noField()},
    {"Beep", SectionBarcode, KindChoice, ActionRule, 0, 0, 2, CHOICES(kBeepChoices), 0, "0",
     "Play CustomSound when the rule matches.", noField()},
    {"SuffixWait", SectionBarcode, KindNumber, ActionRule, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds that goes with the rule's suffix.", noField()},
    {"PrefixWait", SectionBarcode, KindNumber, ActionRule, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds after the rule's prefix.", noField()},
    {"suffix", SectionBarcode, KindCodeList, ActionRule, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent after the barcode (value up to 49 characters).", textOf(kRuleCodeListSlots)},
    {"prefix", SectionBarcode, KindCodeList, ActionRule, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent before the barcode (value up to 49 characters).", textOf(kRuleCodeListSlots)},
    // ---------------------------------------------------------------- card reader (letter case matters)
    {"MCROutputFormat", SectionCardReader, KindText, ActionCardReaderKey, 0, 0, 0, nullptr, 0, 0, "empty",
     "The sequence editor's command string that cuts and sends card data.", textOf(kCardOutputFormatBytes)},
    {"Prefix", SectionCardReader, KindCodeList, ActionCardReaderKey, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Card prefix (19 codes); also sets the global prefix.", textOf(20)},
    {"Suffix", SectionCardReader, KindCodeList, ActionCardReaderKey, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Card suffix (19 codes); also sets the global Suffix.", textOf(20)},
    {"PrefixWait", SectionCardReader, KindNumber, ActionCardReaderKey, 0, 0, 60000, nullptr, 0, 0, "0",
     "Card prefix wait; also sets the global PrefixWait.", noField()},
    {"SuffixWait", SectionCardReader, KindNumber, ActionCardReaderKey, 0, 0, 60000, nullptr, 0, 0, "0",
     "Card suffix wait; also sets the global SuffixWait.", noField()},
    {"CustomSound", SectionCardReader, KindText, ActionCardReaderKey, 0, 0, 0, nullptr, 0, 0, "none",
     "Card sound file name.", textOf(kCustomSoundChars)},
    {"Beep", SectionCardReader, KindFlag, ActionCardReaderKey, 0, 0, 1, nullptr, 0, 0, "0", "Card beep.", noField()},
    {"Field", SectionCardReader, KindChoice, ActionCardReaderKey, 0, 1, 4, CHOICES(kFieldChoices), 0, "0",
     "Card field selector; other values leave it.", noField()},
};
const int kSettingsCount = sizeof kSettingsTable / sizeof kSettingsTable[0];

const SettingInfo* findSetting(SettingSection section, const WCHAR* key) {
    for (const SettingInfo& s : kSettingsTable)
        if (s.section == section && textEqualsNoCaseAW(key, s.name)) return &s;
    return nullptr;
}

const SettingInfo* findSettingA(SettingSection section, const char* key) {
    WCHAR wide[kSettingsNameChars];
    textWiden(wide, kSettingsNameChars, key, kSettingsNameChars);
    return findSetting(section, wide);
}

const SettingChoice* settingChoice(const SettingInfo& setting, const WCHAR* value) {
    for (int i = 0; i < setting.choiceCount; ++i)
        if (value[0] == static_cast<WCHAR>(setting.choices[i].character)) return &setting.choices[i];
    return nullptr;
}

int settingValue(const SettingInfo& setting) {
    const SettingField& f = setting.field;
    if (f.number != nullptr) return *f.number;
    if (f.byte != nullptr) return *f.byte;
    if (f.atomicByte != nullptr) return f.atomicByte->load();
    return 0;
}

void resetSettingsTable() {
    for (const SettingInfo& s : kSettingsTable) {
        const SettingField& f = s.field;
        if (s.section != SectionGeneral) continue;
        if (f.number != nullptr) *f.number = s.defaultValue;
        if (f.byte != nullptr) *f.byte = static_cast<BYTE>(s.defaultValue);
        if (f.atomicByte != nullptr) f.atomicByte->store(static_cast<BYTE>(s.defaultValue));
        for (int i = 0; f.codes != nullptr && i < f.capacity; ++i) f.codes[i] = 0;
        for (int i = 0; f.text != nullptr && i < f.capacity; ++i) f.text[i] = 0;
    }
}
