// The list of the keys of Keyvane.ini, in the order in which the reader
// tests the general keys, and the resets it drives.
#include "settings/settingstable.h"

#include <array>
#include <cstring>

#include "output/framing.h"
#include "scan/symbologies.h"
#include "settings/cardreader.h"
#include "settings/generalkeys.h"
#include "settings/rules.h"
#include "settings/settings.h"

namespace {

constexpr SettingField noField() {
    return {RecordNone, FieldNone, 0, 0};
}
// Text held by the reader only: its size bounds the value.
constexpr SettingField textOf(int characters) {
    return {RecordNone, FieldNone, 0, characters};
}

// A field of the settings record, a rule or the card-reader settings.
#define IN_SETTINGS(type, member) SettingField{RecordSettings, type, offsetof(SettingsRecord, member), 0}
#define CODES_IN_SETTINGS(member, slots) SettingField{RecordSettings, FieldCodes, offsetof(SettingsRecord, member), slots}
#define TEXT_IN_SETTINGS(member, bytes) SettingField{RecordSettings, FieldText, offsetof(SettingsRecord, member), bytes}
#define IN_RULE(type, member, capacity) SettingField{RecordRule, type, offsetof(BarcodeRule, member), capacity}
#define IN_CARD(type, member, capacity) \
    SettingField{RecordCardReader, type, offsetof(CardReaderSettings, member), capacity}

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
    {"AimerTimeOut", SectionGeneral, KindNumber, storeKey, 20, 0, 10000, nullptr, 0, 0, "20",
     "Aimer time-out in tenths of a second (x10 when AimerMode is 2).", IN_SETTINGS(FieldNumber, AimerTimeOut)},
    {"RemoteBTMAC", SectionGeneral, KindText, applyRemoteBTMAC, 0, 0, 0, nullptr, 0, 0, "empty",
     "Address of the remote Bluetooth device (12 hex digits); a virtual COM port is created for it.", textOf(kBluetoothAddressChars)},
    {"EnableLEDs", SectionGeneral, KindFlag, storeKey, 1, 0, 1, nullptr, 0, 0, "1", "Good-read light on or off.",
     IN_SETTINGS(FieldByte, EnableLEDs)},
    {"VirbrateOnSuccessfulScanTime", SectionGeneral, KindNumber, applyVibrateTime, 200, 0, kLongestVibrateMs, nullptr, 0, 0, "200",
     "Vibration length in milliseconds; above 2000 the line is refused.",
     IN_SETTINGS(FieldNumber, VirbrateOnSuccessfulScanTime)},
    {"VirbrateOnSuccessfulScan", SectionGeneral, KindFlag, storeKey, 0, 0, 1, nullptr, 0, 0, "0",
     "Vibrate after a good read.", IN_SETTINGS(FieldByte, VirbrateOnSuccessfulScan)},
    {"EnableCardReader", SectionGeneral, KindChoice, applyCardReader, 0, 0, 2, CHOICES(kCardReaderChoices), 0, "0",
     "Start the magnetic card reader on COM1 when the line is read.", noField()},
    {"EnableScanner", SectionGeneral, KindFlag, applyEnableScanner, 1, 0, 1, nullptr, 0, 0, "1",
     "Scanner on at start (the scan key is registered).", IN_SETTINGS(FieldByte, EnableScanner)},
    {"prefix", SectionGeneral, KindCodeList, storeKey, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent before every barcode (up to 29 codes of at most four digits).",
     CODES_IN_SETTINGS(prefix, kGlobalCodeListSlots)},
    {"Suffix", SectionGeneral, KindCodeList, storeKey, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent after every barcode (13 is Enter).", CODES_IN_SETTINGS(Suffix, kGlobalCodeListSlots)},
    {"PrefixID", SectionGeneral, KindDigit, storeKey, 0, 0, 3, nullptr, 0, 0, "0",
     "Identifier typed before the prefix: 1 symbology letter, 2 and 3 the second and third identifier byte.",
     IN_SETTINGS(FieldNumber, PrefixID)},
    {"SuffixID", SectionGeneral, KindDigit, storeKey, 0, 0, 3, nullptr, 0, 0, "0",
     "Identifier typed before the suffix, as PrefixID.", IN_SETTINGS(FieldNumber, SuffixID)},
    {"CancelOnNoneSeqScan", SectionGeneral, KindFlag, applyCancelOnNoneSeqScan, 0, 0, 1, nullptr, 0, 0, "0",
     "Scan sync mode 2: 1 cancels the set when a barcode matches no rule.", IN_SETTINGS(FieldByte, CancelOnNoneSeqScan)},
    {"EnableSequenceEditor", SectionGeneral, KindChoice, applySequenceEditor, 0, 0, 2, CHOICES(kSequenceEditorChoices),
     0, "0", "Scan sync: barcodes read together are released in the order of the rules of a [Sync] group.",
     IN_SETTINGS(FieldNumber, EnableSequenceEditor)},
    {"EnableAimer", SectionGeneral, KindFlag, applyAimer, 0, 0, 1, nullptr, 0, 0, "as the engine has it",
     "Switch the engine's aimer on or off when the line is read.", noField()},
    {"EnableIllumination", SectionGeneral, KindFlag, applyIllumination, 0, 0, 1, nullptr, 0, 0, "as the engine has it",
     "Switch the engine's illumination on or off when the line is read.", noField()},
    {"ComportNumber", SectionGeneral, KindNumber, applyComportNumber, 1, 0, 9, nullptr, 0, 0, "none",
     "Serial port COMn: (0 to 9) for serial output and the Bluetooth virtual port; a port outside 0..9 cannot be "
     "opened, and a value not starting with a digit is ignored.",
     IN_SETTINGS(FieldNumber, ComportNumber)},
    {"OutPutMode", SectionGeneral, KindChoice, applyOutPutMode, 1, 0, 7, CHOICES(kOutPutModeChoices), 1, "none",
     "Where barcodes go; overrides SendData and SendToForegroundApp (later lines of those are ignored).", noField()},
    {"SendData", SectionGeneral, KindFlag, applySendData, 0, 0, 1, nullptr, 0, 0, "0",
     "Send every barcode to the serial port (ignored after OutPutMode).", IN_SETTINGS(FieldAtomicByte, SendData)},
    {"ContinuousScan", SectionGeneral, KindFlag, applyContinuousScan, 0, 0, 1, nullptr, 0, 0, "0",
     "Keep reading while the scan key is held.", IN_SETTINGS(FieldByte, ContinuousScan)},
    {"PresentationMode", SectionGeneral, KindFlag, applyPresentationMode, 0, 0, 1, nullptr, 0, 0, "0",
     "Read all the time without the scan key (sets ContinuousScan).", IN_SETTINGS(FieldAtomicByte, PresentationMode)},
    {"ConnectingTo", SectionGeneral, KindChoice, storeKey, FramingRaw, 1, kNamedFramingCount,
     kConnectingToChoices.data(), kNamedFramingCount, FramingRaw, "raw", "Serial framing for the device at the far end; any other value sends the data raw.",
     IN_SETTINGS(FieldNumber, ConnectingTo)},
    {"ScanDelayMode", SectionGeneral, KindChoice, storeKey, 0, 0, 3, CHOICES(kScanDelayChoices), 0, "0",
     "Scan delay and duplicate suppression.", IN_SETTINGS(FieldNumber, ScanDelayMode)},
    {"ScanDelaySetting", SectionGeneral, KindNumber, storeKey, 0, 0, 10000, nullptr, 0, 0, "0",
     "Amount for ScanDelayMode: tenths of a second (1) or barcodes remembered (2).",
     IN_SETTINGS(FieldNumber, ScanDelaySetting)},
    {"SendToForegroundApp", SectionGeneral, KindFlag, applySendToForegroundApp, 1, 0, 1, nullptr, 0, 0, "1",
     "Type every barcode into the focused application (ignored after OutPutMode).",
     IN_SETTINGS(FieldByte, SendToForegroundApp)},
    {"EnableADVSuffixPrefix", SectionGeneral, KindFlag, applyAdvSuffixPrefix, 0, 0, 1, nullptr, 0, 0, "0",
     "Per-symbology prefix and suffix from the [Barcode] sections; turns scan sync off.",
     IN_SETTINGS(FieldByte, EnableADVSuffixPrefix)},
    {"InterCharacterDelay", SectionGeneral, KindNumber, storeKey, 0, 0, 10000, nullptr, 0, 0, "0",
     "Pause in milliseconds after every typed character.", IN_SETTINGS(FieldNumber, InterCharacterDelay)},
    {"SuffixWait", SectionGeneral, KindNumber, storeKey, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds that goes with the suffix.", IN_SETTINGS(FieldNumber, SuffixWait)},
    {"PrefixWait", SectionGeneral, KindNumber, storeKey, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds after the prefix.", IN_SETTINGS(FieldNumber, PrefixWait)},
    {"OutputFormat", SectionGeneral, KindText, storeKey, 0, 0, 0, nullptr, 0, 0, "empty",
     "Kept (up to 55 bytes); nothing acts on it. The card reader's command string is MCROutputFormat.",
     TEXT_IN_SETTINGS(OutputFormat, kOutputFormatBytes)},
    {"Centering", SectionGeneral, KindFlag, storeKey, 0, 0, 1, nullptr, 0, 0, "0", "Kept; nothing acts on it.",
     IN_SETTINGS(FieldByte, Centering)},
    {"AmierMode", SectionGeneral, KindChoice, storeKey, 0, 0, 2, CHOICES(kAimerModeChoices), 0, "0",
     "Aimer before each read; the same setting as AimerMode.", IN_SETTINGS(FieldNumber, AmierMode)},
    {"AimerMode", SectionGeneral, KindChoice, storeKey, 0, 0, 2, CHOICES(kAimerModeChoices), 0, "0",
     "The same setting as AmierMode; the later line wins.", IN_SETTINGS(FieldNumber, AmierMode)},
    {"RemapToTab", SectionGeneral, KindCharacter, applyRemapToTab, 0, 1, 65535, nullptr, 0, 0, "0",
     "Character typed as a Tab key: a character, or its code of two or more digits (9 is the character 9).",
     IN_SETTINGS(FieldNumber, RemapToTab)},
    // ---------------------------------------------------------------- barcode rules
    {"StartWith", SectionBarcode, KindText, ruleStartWith, 0, 0, 0, nullptr, 0, 0, "any",
     "Text the barcode must begin with (up to 9 characters).", IN_RULE(FieldWideText, startText, kStartTextChars)},
    {"CustomSound", SectionBarcode, KindText, ruleCustomSound, 0, 0, 0, nullptr, 0, 0, "none",
     "Sound file played when the rule matches and Beep is 1 (up to 150 characters).", IN_RULE(FieldWideText, customSound, kCustomSoundChars)},
    {"BarcodeSym", SectionBarcode, KindNumber, ruleSymbology, 0, 1, kBarcodeSymNumbers, nullptr, 0, 0, "none",
     "Symbology of the rule, 1..46 (keyvane-terminal symbologies); other numbers leave the rule empty.", IN_RULE(FieldNumber, symbologyLetter, 0)},
    {"Length", SectionBarcode, KindNumber, ruleNumber, 0, 0, 4095, nullptr, 0, 0, "0",
     "Required barcode length; 0 is any length.", IN_RULE(FieldNumber, length, 0)},
    {"Beep", SectionBarcode, KindChoice, ruleBeep, 0, 0, 2, CHOICES(kBeepChoices), 0, "0",
     "Play CustomSound when the rule matches.", IN_RULE(FieldNumber, beep, 0)},
    {"SuffixWait", SectionBarcode, KindNumber, ruleNumber, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds that goes with the rule's suffix.", IN_RULE(FieldNumber, suffixWait, 0)},
    {"PrefixWait", SectionBarcode, KindNumber, ruleNumber, 0, 0, 60000, nullptr, 0, 0, "0",
     "Pause in milliseconds after the rule's prefix.", IN_RULE(FieldNumber, prefixWait, 0)},
    {"suffix", SectionBarcode, KindCodeList, ruleSuffix, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent after the barcode (value up to 49 characters).", IN_RULE(FieldCodes, suffix, kRuleCodeListSlots)},
    {"prefix", SectionBarcode, KindCodeList, rulePrefix, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Character codes sent before the barcode (value up to 49 characters).", IN_RULE(FieldCodes, prefix, kRuleCodeListSlots)},
    // ---------------------------------------------------------------- card reader (letter case matters)
    {"MCROutputFormat", SectionCardReader, KindText, cardText, 0, 0, 0, nullptr, 0, 0, "empty",
     "The sequence editor's command string that cuts and sends card data.", IN_CARD(FieldText, outputFormat, kCardOutputFormatBytes), true},
    {"Prefix", SectionCardReader, KindCodeList, cardCodes, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Card prefix (19 codes); also sets the global prefix.", IN_CARD(FieldCodes, prefix, kCardCodeListSlots), true},
    {"Suffix", SectionCardReader, KindCodeList, cardCodes, 0, 1, 65535, nullptr, 0, 0, "empty",
     "Card suffix (19 codes); also sets the global Suffix.", IN_CARD(FieldCodes, suffix, kCardCodeListSlots), true},
    {"PrefixWait", SectionCardReader, KindNumber, cardNumber, 0, 0, 60000, nullptr, 0, 0, "0",
     "Card prefix wait; also sets the global PrefixWait.", IN_CARD(FieldNumber, prefixWait, 0), true},
    {"SuffixWait", SectionCardReader, KindNumber, cardNumber, 0, 0, 60000, nullptr, 0, 0, "0",
     "Card suffix wait; also sets the global SuffixWait.", IN_CARD(FieldNumber, suffixWait, 0), true},
    {"CustomSound", SectionCardReader, KindText, cardSound, 0, 0, 0, nullptr, 0, 0, "none",
     "Card sound file name.", IN_CARD(FieldWideText, customSound, kCardCustomSoundChars)},
    {"Beep", SectionCardReader, KindFlag, cardFlag, 0, 0, 1, nullptr, 0, 0, "0", "Card beep.", IN_CARD(FieldByte, beep, 0), true},
    {"Field", SectionCardReader, KindChoice, cardField, 0, 1, 4, CHOICES(kFieldChoices), 0, "0",
     "Card field selector; other values leave it.", IN_CARD(FieldNumber, field, 0), true},
};
const int kSettingsCount = sizeof kSettingsTable / sizeof kSettingsTable[0];

namespace {

// The list's names by section and upper-cased name, for a look-up that costs
// one pass over the key. Names hash as the comparisons fold them, so a key
// can only be equal to the names of its own bucket.
constexpr unsigned kIndexSlots = 512;  // a power of two, over twice the list
static_assert(kIndexSlots > 2 * sizeof kSettingsTable / sizeof kSettingsTable[0], "index too small");

// A name's bucket: its section, length and a few of its upper-cased letters
// (enough to spread the list; equal names always share a bucket).
unsigned nameHash(SettingSection section, const char* folded, size_t length) {
    unsigned hash = static_cast<unsigned>(section) * 977u + static_cast<unsigned>(length) * 131u;
    if (length > 0) {
        hash += static_cast<unsigned char>(folded[0]) * 31u + static_cast<unsigned char>(folded[length - 1]) * 7u;
        hash += static_cast<unsigned char>(folded[length / 2]) * 61u + static_cast<unsigned char>(folded[length / 3]);
    }
    return hash * 2654435761u >> 7;
}

struct NameIndex {
    short slots[kIndexSlots];  // index into the list + 1; 0: empty
    char folded[sizeof kSettingsTable / sizeof kSettingsTable[0]][kSettingsNameChars];  // upper-cased names
    unsigned char length[sizeof kSettingsTable / sizeof kSettingsTable[0]];
};

NameIndex buildIndex() {
    NameIndex index{};
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        char* folded = index.folded[i];
        size_t length = 0;
        for (; s.name[length] != 0 && length < kSettingsNameChars; ++length)
            folded[length] = static_cast<char>(textUpperCase(static_cast<unsigned char>(s.name[length])));
        index.length[i] = static_cast<unsigned char>(length);
        unsigned slot = nameHash(s.section, folded, length) & (kIndexSlots - 1);
        while (index.slots[slot] != 0) slot = (slot + 1) & (kIndexSlots - 1);
        index.slots[slot] = static_cast<short>(i + 1);
    }
    return index;
}

const NameIndex& nameIndex() {
    static const NameIndex index = buildIndex();
    return index;
}

bool sameSpelling(const WCHAR* key, const char* name) {
    size_t i = 0;
    for (; name[i] != 0; ++i)
        if (key[i] != static_cast<WCHAR>(static_cast<unsigned char>(name[i]))) return false;
    return key[i] == 0;
}

// A character's upper case, ASCII at once.
inline unsigned upper(unsigned c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32u : c;
    return textUpperCase(c);
}

// The first entry of the list in `section` whose name equals the key with
// letter case ignored (and, with `exactCase`, for an entry that wants it,
// with it).
const SettingInfo* lookUp(SettingSection section, const WCHAR* key, bool exactCase) {
    if (key == nullptr) return nullptr;
    // The key upper-cased as the comparisons fold it; the names are ASCII.
    char folded[kSettingsNameChars];
    size_t length = 0;
    for (; key[length] != 0; ++length) {
        if (length >= sizeof folded) return nullptr;  // longer than any name
        unsigned c = upper(static_cast<unsigned>(key[length]));
        if (c >= 0x80) return nullptr;
        folded[length] = static_cast<char>(c);
    }
    const NameIndex& index = nameIndex();
    const SettingInfo* first = nullptr;
    for (unsigned slot = nameHash(section, folded, length) & (kIndexSlots - 1); index.slots[slot] != 0; slot = (slot + 1) & (kIndexSlots - 1)) {
        int at = index.slots[slot] - 1;
        const SettingInfo* s = &kSettingsTable[at];
        if (s->section != section || (first != nullptr && s > first)) continue;
        if (index.length[at] != length || std::memcmp(index.folded[at], folded, length) != 0) continue;
        if (exactCase && s->exactCase && !sameSpelling(key, s->name)) continue;
        first = s;
    }
    return first;
}

}  // namespace

const SettingInfo* findSetting(SettingSection section, const WCHAR* key) {
    return lookUp(section, key, false);
}

const SettingInfo* findSettingA(SettingSection section, const char* key) {
    WCHAR wide[kSettingsNameChars];
    textWiden(wide, kSettingsNameChars, key, kSettingsNameChars);
    return findSetting(section, wide);
}

namespace {

void resetRecord(FieldRecord record, void* at) {
    for (const SettingInfo& s : kSettingsTable)
        if (s.field.record == record) resetField(s, at);
}

}  // namespace

const SettingInfo* matchSetting(SettingSection section, const WCHAR* key) {
    return lookUp(section, key, true);
}

void resetSettings() {
    resetRecord(RecordSettings, &settings);
    settings.editControlDelivery = 0;
    settings.scannerEnabled = 1;
    settings.multiDecode = 1;
}

void clearRuleTable() {
    for (auto& group : ruleTable)
        for (BarcodeRule& rule : group) resetRecord(RecordRule, &rule);
}

void resetCardReaderSettings() {
    resetRecord(RecordCardReader, &cardReaderSettings);
}

namespace {
// The records hold their defaults before start-up code runs.
[[maybe_unused]] const bool settingsAtPowerOn = (resetSettings(), clearRuleTable(), resetCardReaderSettings(), true);
}  // namespace
