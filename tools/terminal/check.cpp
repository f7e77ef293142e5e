// keyvane-terminal check: Keyvane.ini and DecodeSettings.Vqf read by the
// wedge's own readers, observed through their diagnostics, and what they make
// of each line told as compiler-style findings.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "console.h"
#include "platform/host/terminal.h"
#include "platform/textfile.h"
#include "scan/decodesettings.h"
#include "scan/symbologies.h"
#include "settings/generalkeys.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "settings/settingsline.h"
#include "settings/settingstable.h"

namespace console {

namespace {

// One note of a reader, with its texts kept.
struct Note {
    SettingsNote note;
    std::string key;
    std::string value;
    bool hasKey = false;
    bool hasValue = false;
};

void collect(void* context, const SettingsNote& n) {
    Note copy{n, {}, {}, n.key != nullptr, n.value != nullptr};
    if (n.key) copy.key = utf8(std::u16string(n.key));
    if (n.value) copy.value = utf8(std::u16string(n.value));
    copy.note.key = nullptr;
    copy.note.value = nullptr;
    static_cast<std::vector<Note>*>(context)->push_back(copy);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string sectionName(int section) {
    switch (section) {
        case SectionBarcode:
            return "a [Barcode] section";
        case SectionCardReader:
            return "[MCRSettings]";
        default:
            return "the general keys";
    }
}

std::string choiceList(const SettingInfo& setting) {
    std::string accepted;
    for (int i = 0; i < setting.choiceCount; ++i) accepted += std::string(i ? ", " : "") + setting.choices[i].character;
    return accepted;
}

bool headerIs(const std::string& header, const char* name) {
    std::string h = lower(header), n = lower(name);
    if (h.size() < n.size() + 3 || h.compare(0, n.size() + 1, "[" + n) != 0 || h.back() != ']') return false;
    for (size_t i = n.size() + 1; i + 1 < h.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(h[i]))) return false;
    return true;
}

// Where a key that means nothing where it stands belongs.
std::string belongs(const std::string& key) {
    if (findSettingA(SectionGeneral, key.c_str()))
        return " (it is a general key: it belongs before [Barcode1] and [Sync1])";
    if (findSettingA(SectionBarcode, key.c_str())) return " (it belongs in a [Barcode] section)";
    if (findSettingA(SectionCardReader, key.c_str())) return " (it belongs in [MCRSettings])";
    return "";
}

std::string codesText(const WORD* list) {
    std::string s;
    for (int i = 0; list[i] != 0; ++i) s += (i ? "," : "") + std::to_string(list[i]);
    return s.empty() ? "none" : s;
}

// A value as messages show it: long values are shortened.
std::string shown(const std::string& value) {
    return value.size() <= 40 ? value : value.substr(0, 37) + "...";
}

std::u16string wide(const std::string& s) {
    return utf16(s);
}

struct SectionWalk;

class Checker {
public:
    Checker(std::string file, std::vector<Finding>& findings) : file_(std::move(file)), findings_(findings) {}

    void add(int line, const char* severity, const std::string& message) {
        findings_.push_back({file_, line, severity, message});
    }

    void settingsFile(const std::vector<Note>& notes, const std::vector<std::string>& lines);
    void decodeFile(const std::vector<Note>& notes);

private:
    void encoding(int used, const std::vector<std::string>& lines);
    void lineForms(const std::vector<std::string>& lines);
    void repeatedKeys(const std::vector<Note>& notes);
    void ruleCombinations(const std::vector<Note>& notes, const std::map<int, int>& ruleLines);
    void generalValue(const Note& n, const SettingInfo& setting, bool ignored);
    void ruleValue(const Note& n);
    void codeListLoss(const Note& n);
    void combinations(const std::vector<Note>& notes);
    // The steps of settingsFile: one note of the walk over the file, by its kind.
    void settingsNote(const Note& n, const std::vector<std::string>& lines, SectionWalk& w);
    void firstPassHeader(const Note& n, SectionWalk& w);
    void ruleHeader(const Note& n, SectionWalk& w);
    void misplacedKey(const Note& n);
    void valueNote(const Note& n, const SectionWalk& w);

    std::string file_;
    std::vector<Finding>& findings_;
    std::map<std::string, int> lastLine_;  // general key (lower case) -> line of its last line
};

// The text of a line before its comment, and whether it holds characters beyond ASCII.
std::string beforeComment(const std::string& line) {
    return line.substr(0, line.find('\''));
}

bool beyondAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

void Checker::encoding(int used, const std::vector<std::string>& lines) {
    switch (used) {
        case TextEncodingUtf16Le:
            add(0, "note", "encoding: UTF-16LE");
            break;
        case TextEncodingUtf16Be:
            add(0, "note", "encoding: UTF-16BE");
            break;
        case TextEncodingUtf8Bom:
            add(0, "note", "encoding: UTF-8 with a byte-order mark; the mark is skipped and changes nothing");
            break;
        case TextEncodingAnsi: {
            // The code page matters only where such a character is read: in a key or a value.
            int where = 0;
            for (size_t i = 1; i < lines.size(); ++i)
                if (beyondAscii(beforeComment(lines[i]))) {
                    add(static_cast<int>(i), "note",
                        "not valid UTF-8: the characters beyond ASCII on this line are read as Windows-1252");
                    if (!where) where = static_cast<int>(i);
                }
            if (!where)
                add(0, "note", "not valid UTF-8: read as Windows-1252; only comments hold other characters, so it "
                               "changes nothing");
            break;
        }
        default:
            break;
    }
}

// What a line's form hides: no "=", comments the file does not know, blanks
// in a code list, quotes and leading zeros that the value keeps.
void Checker::lineForms(const std::vector<std::string>& lines) {
    for (size_t i = 1; i < lines.size(); ++i) {
        int line = static_cast<int>(i);
        std::string code = beforeComment(lines[i]);
        while (!code.empty() && (code.back() == '\n' || code.back() == '\r')) code.pop_back();
        std::string bare;
        for (char c : code)
            if (c != ' ') bare += c;
        if (bare.empty() || bare[0] == '[') continue;
        size_t eq = code.find('=');
        if (bare[0] == ';' || bare[0] == '#') {
            add(line, "warning",
                std::string("a line beginning with \"") + bare[0] +
                    "\" is no comment: the file's comment mark is \"'\"; " +
                    (eq == std::string::npos ? "having no \"=\", the line is ignored"
                                             : "the line is read as the unknown key `" + bare.substr(0, bare.find('=')) +
                                                   "` and ignored"));
            continue;
        }
        if (eq == std::string::npos) {
            // "EnableScanner 1": the first word may be a key.
            std::string first = code.substr(code.find_first_not_of(' '));
            first = first.substr(0, first.find(' '));
            std::string rest = code.substr(code.find(first) + first.size());
            size_t r = rest.find_first_not_of(' ');
            rest = r == std::string::npos ? "" : rest.substr(r);
            const SettingInfo* known = findSettingA(SectionGeneral, first.c_str());
            if (!known) known = findSettingA(SectionBarcode, first.c_str());
            if (!known) known = findSettingA(SectionCardReader, first.c_str());
            add(line, "error",
                "no \"=\" in \"" + shown(bare) + "\": the line is ignored" +
                    (known ? " (write `" + std::string(known->name) + " = " + rest + "`)" : ""));
            continue;
        }
        std::string key = bare.substr(0, bare.find('='));
        std::string rawValue = code.substr(eq + 1);
        std::string value = bare.substr(bare.find('=') + 1);
        const SettingInfo* setting = findSettingA(SectionGeneral, key.c_str());
        if (!setting) setting = findSettingA(SectionBarcode, key.c_str());
        if (!setting) setting = findSettingA(SectionCardReader, key.c_str());
        if (!setting) continue;
        std::string name = setting->name;
        // A comment after the value, in a mark the file does not know.
        size_t mark = std::string::npos;
        for (size_t k = 1; k < rawValue.size(); ++k)
            if ((rawValue[k] == ';' || rawValue[k] == '#' || rawValue.compare(k, 2, "//") == 0) &&
                (rawValue[k - 1] == ' ' || rawValue[k - 1] == '\t')) {
                mark = k;
                break;
            }
        if (mark != std::string::npos) {
            std::string comment = rawValue.substr(mark);
            while (!comment.empty() && comment.back() == ' ') comment.pop_back();
            add(line, "warning",
                "`" + name + "`: \"" + shown(comment) + "\" after the value is read as part of it (the value is \"" +
                    shown(value) + "\"); comments begin with \"'\"");
            continue;
        }
        if (setting->kind == KindCodeList) {
            // Blanks go before the value is read: "76 58" is the one code 7658.
            size_t from = rawValue.find_first_not_of(' '), to = rawValue.find_last_not_of(' ');
            std::string written = from == std::string::npos ? "" : rawValue.substr(from, to - from + 1);
            std::string fixed;
            bool joined = false;
            for (size_t c = 0; c < written.size(); ++c) {
                if (written[c] != ' ') {
                    fixed += written[c];
                    continue;
                }
                size_t after = written.find_first_not_of(' ', c);
                if (!fixed.empty() && std::isdigit(static_cast<unsigned char>(fixed.back())) &&
                    std::isdigit(static_cast<unsigned char>(written[after]))) {
                    fixed += ',';
                    joined = true;
                }
                c = after - 1;
            }
            if (joined)
                add(line, "error",
                    "`" + name + "` \"" + shown(written) + "\": blanks are removed, so codes without commas run "
                    "together into \"" + shown(value) + "\"; separate the codes with commas: " + shown(fixed));
        }
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            add(line, "warning",
                "`" + name + "` " + shown(value) + ": the quotes are part of the value; write it without them");
        if (name == "RemapToTab" && value.size() > 1 && value[0] == '0')
            add(line, "warning",
                "`RemapToTab` \"" + shown(value) +
                    "\" begins with 0: the field is left unchanged, no character is typed as Tab (two or more "
                    "digits give their code only without a leading 0; one digit is its own character, \"9\" is 57)");
    }
}

void Checker::codeListLoss(const Note& n) {
    int line = n.note.line;
    const std::string& key = n.key;
    int slots = n.note.detail == SectionBarcode ? kRuleCodeListSlots : kGlobalCodeListSlots;
    WORD list[kRuleCodeListSlots] = {};
    settingsCodeList(list, slots, wide(n.value).c_str());
    std::string uses = "; the wedge uses " + codesText(list);
    int loss = n.note.used;
    if (loss & CodeListDroppedCharacters)
        add(line, "error", "`" + key + "`: characters that are neither digits nor commas are dropped" + uses);
    if (loss & CodeListItemCut)
        add(line, "error", "`" + key + "`: a code of more than four digits is cut to four" + uses);
    if (loss & CodeListCut)
        add(line, "error",
            "`" + key + "`: more codes than its " + std::to_string(slots - 1) + " slots; the rest is cut" + uses);
    if (loss & CodeListEndedEarly)
        add(line, "error", "`" + key + "`: an empty or zero code ends the list; later codes are dropped" + uses);
}

void Checker::generalValue(const Note& n, const SettingInfo& setting, bool ignored) {
    int line = n.note.line;
    std::string key = setting.name;
    std::u16string value = wide(n.value);
    std::string used = std::to_string(n.note.used);
    if (ignored) {
        if (setting.handler == applySendData || setting.handler == applySendToForegroundApp) {
            add(line, "warning",
                "`" + key + "` is ignored after `OutPutMode` (line " + std::to_string(lastLine_["outputmode"]) +
                    "), which decides");
        } else if (setting.handler == applyVibrateTime) {
            add(line, "error", "`" + key + "` " + n.value + " is above " + std::to_string(setting.high) + ": refused, the wedge keeps " + used);
        } else if (setting.handler == applyComportNumber) {
            add(line, "error", "`" + key + "` \"" + n.value + "\" is not a number: ignored");
        }
        return;
    }
    switch (setting.kind) {
        case KindNumber: {
            if (!settingsNumberWhole(value.c_str())) {
                add(line, "error", "`" + key + "` \"" + shown(n.value) + "\" is not a number; the wedge uses " + used);
            } else if (n.note.used < setting.low || n.note.used > setting.high) {
                add(line, "error",
                    "`" + key + "` " + n.value + " is outside " + std::to_string(setting.low) + ".." +
                        std::to_string(setting.high));
            }
            break;
        }
        case KindFlag:
            if (n.value != "0" && n.value != "1")
                add(line, "warning", "`" + key + "` takes 0 or 1; \"" + n.value + "\" counts as " + used);
            break;
        case KindDigit:
            if (n.value.size() != 1 || n.note.used < setting.low || n.note.used > setting.high)
                add(line, "warning",
                    "`" + key + "` takes one digit " + std::to_string(setting.low) + ".." +
                        std::to_string(setting.high) + "; \"" + n.value + "\" gives " + used);
            break;
        case KindChoice: {
            const SettingChoice* choice = settingChoice(setting, value.c_str());
            std::string accepted = choiceList(setting);
            if (choice == nullptr) {
                add(line, "error",
                    "`" + key + "` \"" + n.value + "\" is none of " + accepted + "; the wedge uses " +
                        std::to_string(setting.otherStored) +
                        (setting.handler == applyOutPutMode ? " (keystrokes)"
                         : key == "ConnectingTo"            ? " (raw data, no framing)"
                                                            : ""));
            } else if (n.value.size() > 1) {
                add(line, "warning", "`" + key + "` \"" + n.value + "\": only the first character counts");
            } else if (setting.handler == applyOutPutMode && choice->stored == 0) {
                add(line, "warning", "`OutPutMode` 0: no output at all; the wedge shows its no-output warning");
            }
            break;
        }
        case KindCharacter:
            if (n.value.empty()) add(line, "warning", "`" + key + "` is empty");
            break;
        case KindCodeList:
        case KindText:
            break;
    }
}

void Checker::ruleValue(const Note& n) {
    int line = n.note.line;
    const SettingInfo* setting = findSettingA(SectionBarcode, n.key.c_str());
    if (setting == nullptr) return;
    std::u16string value = wide(n.value);
    std::string key = setting->name;
    if (setting->kind == KindNumber) {
        if (!settingsNumberWhole(value.c_str())) {
            add(line, "error", "`" + key + "` \"" + shown(n.value) + "\" is not a number");
            return;
        }
        int number = settingsNumber(value.c_str());
        if (key == "BarcodeSym" && n.note.used == 0) {
            add(line, "error",
                "`BarcodeSym` " + n.value + " is outside " + std::to_string(setting->low) + ".." +
                    std::to_string(setting->high) + ": the rule stays empty and matches no barcode");
        } else if (number < setting->low || number > setting->high) {
            add(line, "error",
                "`" + key + "` " + n.value + " is outside " + std::to_string(setting->low) + ".." +
                    std::to_string(setting->high));
        }
    } else if (setting->kind == KindChoice && settingChoice(*setting, value.c_str()) == nullptr) {
        add(line, "warning", "`" + key + "` takes 0, 1 or 2; \"" + n.value + "\" counts as 0");
    }
}

void Checker::combinations(const std::vector<Note>& notes) {
    auto lineOf = [&](const char* key) {
        auto it = lastLine_.find(lower(key));
        return it == lastLine_.end() ? 0 : it->second;
    };
    int adv = lineOf("EnableADVSuffixPrefix"), sync = lineOf("EnableSequenceEditor");
    if (adv && sync && settings.EnableADVSuffixPrefix == 0 && settings.EnableSequenceEditor != 0)
        add(adv, "warning",
            "per-symbology prefixes (`EnableADVSuffixPrefix`) and scan sync exclude each other: `EnableSequenceEditor` "
            "on line " +
                std::to_string(sync) + " switches them off");
    bool advOn = false;
    for (const Note& n : notes)
        if (n.note.what == NoteValue && lower(n.key) == "enableadvsuffixprefix" && n.value.size() && n.value[0] == '1')
            advOn = true;
    if (advOn && settings.EnableADVSuffixPrefix == 1 && sync)
        add(sync, "warning",
            "scan sync (`EnableSequenceEditor`) together with per-symbology prefixes: `EnableADVSuffixPrefix` on "
            "line " +
                std::to_string(adv) + " switches scan sync off");
    bool serial = settings.SendData.load() != 0;
    if (int framing = lineOf("ConnectingTo"); framing && !serial)
        add(framing, "warning", "a serial framing (`ConnectingTo`) with no serial output (`OutPutMode` 2, 3, 5 or 7)");
    std::string address;
    int addressLine = 0;
    for (const Note& n : notes)
        if (n.note.what == NoteValue && lower(n.key) == "remotebtmac") {
            address = n.value;
            addressLine = n.note.line;
        }
    if (!address.empty()) {
        int digits = 0;
        for (char c : address) digits += std::isxdigit(static_cast<unsigned char>(c)) ? 1 : 0;
        if (digits != 12)
            add(addressLine, "error",
                "`RemoteBTMAC` \"" + address + "\" is no Bluetooth address (12 hex digits): the port is not created");
    }
    if (serial && settings.ComportNumber == -1 && address.empty())
        add(std::max(lineOf("OutPutMode"), lineOf("SendData")), "error",
            "serial output with no port: `ComportNumber` is missing (and no `RemoteBTMAC`)");
    int cardSettingsLine = 0;
    for (const Note& n : notes)
        if (n.note.what == NoteValue && n.note.detail == SectionCardReader && !cardSettingsLine)
            cardSettingsLine = n.note.line;
    int readerLine = lineOf("EnableCardReader");
    bool readerOn = false;
    for (const Note& n : notes)
        if (n.note.what == NoteValue && lower(n.key) == "enablecardreader") readerOn = n.note.used != 0;
    if (cardSettingsLine && !readerOn)
        add(cardSettingsLine, "warning",
            readerLine ? "card reader settings with the reader off (`EnableCardReader` on line " +
                             std::to_string(readerLine) + ")"
                       : "card reader settings with the reader off (no `EnableCardReader` 1)");
}

// A key given again where the earlier line set the same field: the later line wins.
void Checker::repeatedKeys(const std::vector<Note>& notes) {
    struct Earlier {
        int line;
        std::string key, value;
    };
    std::map<std::pair<int, size_t>, Earlier> seen;  // (record, field) or the entry itself -> its last line
    for (const Note& n : notes) {
        const SettingsNote& s = n.note;
        if (s.what == NoteHeader && s.pass == 2) seen.clear();  // a rule section of its own
        if (s.what != NoteValue) continue;
        SettingSection section = s.pass == 2 ? SectionBarcode : static_cast<SettingSection>(s.detail);
        const SettingInfo* setting = findSettingA(section, n.key.c_str());
        if (setting == nullptr) continue;
        if (setting->handler == ruleBeep && !n.value.empty() && n.value[0] == '2') continue;  // leaves the field
        std::pair<int, size_t> what = setting->field.record == RecordNone
                                          ? std::make_pair(-1, static_cast<size_t>(setting - kSettingsTable))
                                          : std::make_pair(static_cast<int>(setting->field.record) * 10 + s.pass,
                                                           setting->field.offset);
        auto it = seen.find(what);
        if (it != seen.end()) {
            const Earlier& e = it->second;
            std::string as = lower(e.key) == lower(n.key) ? "" : " as `" + e.key + "`";
            add(s.line, "warning",
                "`" + std::string(setting->name) + "` is given again (" + "line " + std::to_string(e.line) + as +
                    ": \"" + shown(e.value) + "\"): this line's \"" + shown(n.value) +
                    "\" wins and the earlier one changes nothing");
        }
        seen[what] = {s.line, n.key, n.value};
    }
}

// What the rules change in what is typed, once the whole file is read.
void Checker::ruleCombinations(const std::vector<Note>& notes, const std::map<int, int>& ruleLines) {
    bool advanced = settings.EnableSequenceEditor == 0 && settings.EnableADVSuffixPrefix != 0;
    if (advanced) {
        for (const Note& n : notes) {
            const SettingsNote& s = n.note;
            if (s.what != NoteValue || s.pass != 2) continue;
            const SettingInfo* setting = findSettingA(SectionBarcode, n.key.c_str());
            if (setting == nullptr || (setting->handler != ruleStartWith && std::string(setting->name) != "Length"))
                continue;
            if (n.value.empty() || n.value == "0") continue;
            add(s.line, "warning",
                "`" + std::string(setting->name) +
                    "` is ignored: without scan sync (`EnableSequenceEditor` 1 or 2) the rules match by symbology "
                    "(`BarcodeSym`) alone");
        }
        for (const auto& [slot, line] : ruleLines) {
            const BarcodeRule& rule = ruleTable[0][slot - 1];
            if (rule.symbologyLetter == 0) continue;
            bool samePrefix = codesText(rule.prefix) == codesText(settings.prefix);
            bool sameSuffix = codesText(rule.suffix) == codesText(settings.Suffix);
            if (samePrefix && sameSuffix) continue;
            std::string letter(1, static_cast<char>(rule.symbologyLetter));
            add(line, "note",
                "[Barcode" + std::to_string(slot) + "]: barcodes of symbology " + letter +
                    " get this rule's prefix (" + codesText(rule.prefix) + ") and suffix (" + codesText(rule.suffix) +
                    ") in place of the global `prefix` (" + codesText(settings.prefix) + ") and `Suffix` (" +
                    codesText(settings.Suffix) + ")" +
                    (rule.suffix[0] == 0 && settings.Suffix[0] != 0 ? ": they end with no suffix at all" : ""));
        }
    }
}

// Where the walk over the notes of a settings file stands.
struct SectionWalk {
    int firstPassEnd = 0;  // line of the [Barcode1] or [Sync1] that ends the general keys
    int group = 0;         // the current sync group, from 0
    int slot = 0;          // the current rule section, from 1 (0: none yet)
    int lastSync = 0;
    int firstBarcode = 0;     // line of the first rule section
    bool sinceSync = false;   // a sync header and no rule section after it yet
    bool rulesUnread = false; // the barcode sections are not read
    std::map<std::pair<int, int>, int> slotsSeen;  // (group, slot) -> line of its last header
    std::map<int, int> ruleLines;                  // slot (from 1) of the first group -> line of its header
    std::vector<std::string> headers;              // the sections a file may have, for a likely name
};

bool knownSection(const std::string& header) {
    return lower(header) == "[mcrsettings]" || headerIs(header, "Barcode") || headerIs(header, "Sync");
}

// A note of the second pass about a line the first pass reads (and told of).
bool readInFirstPass(const SettingsNote& s, const SectionWalk& w) {
    return s.pass == 2 && (w.firstPassEnd == 0 || s.line < w.firstPassEnd);
}

void Checker::firstPassHeader(const Note& n, SectionWalk& w) {
    int line = n.note.line;
    if (n.note.used == HeaderEndsFirstPass) w.firstPassEnd = line;
    if (n.note.used != HeaderOther) return;
    if (headerIs(n.key, "Barcode") || headerIs(n.key, "Sync")) {
        add(line, "warning", n.key + " before [Barcode1] or [Sync1]: its keys are read as general keys");
    } else if (!knownSection(n.key)) {
        std::string near = didYouMean(n.key, w.headers);
        add(line, near.empty() ? "warning" : "error",
            "unknown section " + n.key + near +
                ": the file has no such section; the keys under it are read as general keys");
    }
}

void Checker::ruleHeader(const Note& n, SectionWalk& w) {
    const SettingsNote& s = n.note;
    int line = s.line;
    if (s.used != HeaderBarcode && s.used != HeaderSync && !knownSection(n.key) && w.firstPassEnd &&
        line > w.firstPassEnd)
        add(line, "error",
            "unknown section " + n.key + didYouMean(n.key, w.headers) + ": it selects nothing; " +
                (w.slot ? "the keys under it go to [Barcode" + std::to_string(w.slot) + "] before it"
                        : "the keys under it are not read"));
    if (s.used == HeaderBarcode) {
        w.slot = s.detail;
        w.sinceSync = false;
        if (w.group == 0) w.ruleLines[w.slot] = line;
        if (!w.firstBarcode) w.firstBarcode = line;
        auto [it, fresh] = w.slotsSeen.emplace(std::make_pair(w.group, w.slot), line);
        if (!fresh)
            add(line, "warning",
                n.key + " again in sync group " + std::to_string(w.group + 1) + " (line " +
                    std::to_string(it->second) + "): its keys overwrite that rule");
        it->second = line;
    } else if (s.used == HeaderSync) {
        if (s.detail < w.lastSync)
            add(line, "warning", n.key + " after [Sync" + std::to_string(w.lastSync) + "]: sync sections out of order");
        w.lastSync = s.detail;
        w.group = s.detail - 1;
        w.sinceSync = true;
    } else if (s.used == HeaderBarcodeBeyond && headerIs(n.key, "Barcode")) {
        add(line, "error",
            n.key + " is beyond [Barcode" + std::to_string(kRuleSections) +
                "]: it selects nothing, its keys go to the rule before it");
    } else if (s.used == HeaderSyncBeyond && headerIs(n.key, "Sync")) {
        add(line, "error",
            n.key + " is beyond [Sync" + std::to_string(kSyncGroups) +
                "]: it selects nothing, its rules go to the group before it");
    } else if (lower(n.key) == "[mcrsettings]" && w.firstPassEnd && line > w.firstPassEnd) {
        add(line, "error",
            "[MCRSettings] after line " + std::to_string(w.firstPassEnd) +
                " ([Barcode1] or [Sync1]): the general keys and the card reader settings end there");
    }
}

void Checker::misplacedKey(const Note& n) {
    const SettingsNote& s = n.note;
    int line = s.line;
    if (s.detail == 0) {
        add(line, "error",
            "`" + n.key + "` stands after [Sync] or [Barcode1] but outside a barcode section: not read" +
                belongs(n.key));
    } else if (s.detail == SectionBarcode) {
        add(line, "error", "`" + n.key + "` means nothing in a barcode section: not read" + belongs(n.key));
    } else {
        add(line, "error",
            "`" + n.key + "` means nothing among " + sectionName(s.detail) +
                (findSettingA(SectionBarcode, n.key.c_str()) ? " (it belongs in a [Barcode] section)"
                                                             : " (it belongs in [MCRSettings])") +
                "; ignored");
    }
}

void Checker::valueNote(const Note& n, const SectionWalk& w) {
    const SettingsNote& s = n.note;
    int line = s.line;
    if (s.pass == 1 && s.detail == SectionGeneral) {
        if (const SettingInfo* g = findSettingA(SectionGeneral, n.key.c_str()))
            generalValue(n, *g, s.what == NoteValueIgnored);
    } else if (s.pass == 1 && s.detail == SectionCardReader) {
        const SettingInfo* card = findSettingA(SectionCardReader, n.key.c_str());
        if (card && card->kind == KindChoice && !settingChoice(*card, wide(n.value).c_str()))
            add(line, "warning",
                "`" + n.key + "` \"" + shown(n.value) + "\" is none of " + choiceList(*card) +
                    ": it leaves the field as it was");
        if (card && card->kind == KindNumber && !settingsNumberWhole(wide(n.value).c_str()))
            add(line, "error", "`" + n.key + "` \"" + shown(n.value) + "\" is not a number");
    } else if (s.pass == 2 && !readInFirstPass(s, w)) {
        if (w.sinceSync)
            add(line, "warning",
                "`" + n.key + "` after [Sync" + std::to_string(w.group + 1) +
                    "] but before its first [Barcode]: it goes to [Barcode" + std::to_string(w.slot) + "]");
        ruleValue(n);
    }
}

void Checker::settingsNote(const Note& n, const std::vector<std::string>& lines, SectionWalk& w) {
    const SettingsNote& s = n.note;
    int line = s.line;
    switch (s.what) {
        case NoteEncoding:
            encoding(s.used, lines);
            break;
        case NoteLineCut:
            add(line, "error",
                "line longer than " + std::to_string(kSettingsLineChars - 1) +
                    " characters: the rest is read as a line of its own");
            break;
        case NoteHeader:
            if (s.pass == 1) firstPassHeader(n, w);
            if (s.pass == 2) ruleHeader(n, w);
            break;
        case NoteKeyUnknown:
            if (readInFirstPass(s, w)) break;                // the first pass told
            if (n.key[0] == ';' || n.key[0] == '#') break;  // a comment of another file's kind: told with the line
            add(line, "error", "unknown key `" + n.key + "`" + didYouMean(n.key, settingNames()) + "; ignored");
            break;
        case NoteKeyMisplaced:
            if (!readInFirstPass(s, w)) misplacedKey(n);  // else the first pass told
            break;
        case NoteCaseMismatch: {
            const SettingInfo* card = findSettingA(SectionCardReader, n.key.c_str());
            add(line, "error",
                "the card reader takes `" + std::string(card ? card->name : n.key.c_str()) +
                    "` only in this letter case: `" + n.key + "` is ignored");
            break;
        }
        case NoteValue:
        case NoteValueIgnored:
            valueNote(n, w);
            break;
        case NoteValueRefused:
            add(line, "error",
                "`" + n.key + "` value of " + std::to_string(utf16(n.value).size()) +
                    " characters is refused (at most " + std::to_string(s.used) +
                    "): the wedge shows an error and keeps the earlier value");
            break;
        case NoteValueCut:
            add(line, "warning", "`" + n.key + "` is cut to " + std::to_string(s.used) + " characters");
            break;
        case NoteCodeListLoss:
            codeListLoss(n);
            break;
        case NoteRulesUnread:
            w.rulesUnread = true;
            break;
        case NoteNoOutput:
            if (settings.SendToForegroundApp == 0 && lastLine_.count("outputmode") == 0)
                add(std::max(lastLine_["senddata"], lastLine_["sendtoforegroundapp"]), "warning",
                    "`SendData` and `SendToForegroundApp` are both 0: nothing is delivered; the wedge shows its "
                    "no-output warning");
            break;
        default:
            break;
    }
}

void Checker::settingsFile(const std::vector<Note>& notes, const std::vector<std::string>& lines) {
    // Line of the last line of each general key, for the combinations.
    for (const Note& n : notes)
        if ((n.note.what == NoteValue || n.note.what == NoteValueIgnored) && n.note.pass == 1 &&
            n.note.detail == SectionGeneral)
            lastLine_[lower(n.key)] = n.note.line;
    SectionWalk walk;
    walk.headers = {"[MCRSettings]"};
    for (int i = 1; i <= kRuleSections; ++i) walk.headers.push_back("[Barcode" + std::to_string(i) + "]");
    for (int i = 1; i <= kSyncGroups; ++i) walk.headers.push_back("[Sync" + std::to_string(i) + "]");
    for (const Note& n : notes) settingsNote(n, lines, walk);
    if (walk.rulesUnread && walk.firstBarcode)
        add(walk.firstBarcode, "warning",
            "the barcode sections are not read: neither `EnableADVSuffixPrefix` 1 nor `EnableSequenceEditor` 1 or 2");
    combinations(notes);
    lineForms(lines);
    repeatedKeys(notes);
    if (!walk.rulesUnread) ruleCombinations(notes, walk.ruleLines);
}

void Checker::decodeFile(const std::vector<Note>& notes) {
    std::vector<std::string> sections = {"General", "Decode", "Bluetooth"};
    for (int i = 0; i < kSymbologyCount; ++i)
        if (kSymbologyTable[i].section) sections.push_back(kSymbologyTable[i].section);
    std::vector<std::string> properties = {"Enable",
                                           "CheckEnable",
                                           "CheckTransmit",
                                           "StartStopTransmit",
                                           "NumSysTransmit",
                                           "Addenda2Digit",
                                           "Addenda5Digit",
                                           "AddendaRequired",
                                           "AddendaSeparator",
                                           "AddCodeIdentifier",
                                           "ExpandedUpcE",
                                           "AztecRunEnable",
                                           "RseEnable",
                                           "RslEnable",
                                           "RssEnable",
                                           "CodaBarConcatenate",
                                           "MinLength",
                                           "MaxLength",
                                           "PrintWeight",
                                           "LinearRange",
                                           "DecodeAttemptLimit",
                                           "SearchTimeLimit",
                                           "VideoReverse",
                                           "DecodeMode"};
    std::map<int, std::pair<int, std::string>> written;  // engine id -> line, section
    std::string section;
    int ignoredLines = 0, firstIgnored = 0;
    for (const Note& n : notes) {
        const SettingsNote& s = n.note;
        int line = s.line;
        switch (s.what) {
            case NoteDecodeSection: {
                section = n.key;
                if (s.used < 0) break;
                auto it = written.find(s.used);
                if (it != written.end())
                    add(line, "warning",
                        "symbology \"" + n.key + "\" (engine id " + std::to_string(s.used) + ") is written again (\"" +
                            it->second.second + "\", line " + std::to_string(it->second.first) +
                            "): the later section wins");
                written[s.used] = {line, n.key};
                break;
            }
            case NoteDecodeSectionUnknown:
                section = n.key;
                add(line, "error",
                    "unknown section \"" + n.key + "\"" + didYouMean(n.key, sections) + ": its lines are passed over");
                break;
            case NoteDecodePropertyUnknown:
                add(line, "warning",
                    "property \"" + n.key + "\" means nothing in section \"" + section + "\"" +
                        didYouMean(n.key, properties) + "; ignored");
                break;
            case NoteDecodeValueKind: {
                std::string written = n.hasValue ? "\"" + n.value + "\"" : "the value";
                std::string wanted = s.used == DecodeValueBoolean  ? "true or false"
                                     : s.used == DecodeValueNumber ? "a number"
                                                                   : "Standard, QuickOmni or LinearPriority";
                add(line, "error", "\"" + n.key + "\" takes " + wanted + ", not " + written);
                break;
            }
            case NoteDecodeUnclosed:
                if (!n.hasKey)
                    add(line, "error", "section \"" + section + "\" has no closing line before the end of the file");
                else if (s.used == 1)
                    add(line, "error",
                        "the Decode section has no closing line: section \"" + n.key +
                            "\" that ends it is not applied");
                else
                    add(line, "error",
                        "section \"" + section + "\" has no closing line: \"" + n.key + "\" is read as part of it");
                break;
            case NoteDecodeLineIgnored:
                if (!ignoredLines++) firstIgnored = line;
                break;
            default:
                break;
        }
    }
    if (ignoredLines)
        add(firstIgnored, "warning",
            std::to_string(ignoredLines) +
                " line(s) not read from here on: an element must begin the line (indent with spaces, not tabs)");
}

bool isDecodeSettingsName(const std::string& path) {
    std::string name = lower(std::filesystem::path(path).filename().string());
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".vqf") == 0;
}

}  // namespace

bool checkFile(const std::string& path, const std::string& shownName, std::vector<Finding>& findings) {
    std::string bytes;
    if (!readHostFile(path, bytes)) return false;
    TextFile* file = textFileOpenBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (file == nullptr) return false;
    std::vector<Note> notes;
    size_t first = findings.size();
    SettingsDiagnostics diagnostics = {collect, &notes};
    Checker checker(shownName, findings);
    if (isDecodeSettingsName(path)) {
        inspectDecodeSettings(file, diagnostics);
        checker.decodeFile(notes);
    } else {
        // The lines as written, blanks and comments kept, numbered as the reader numbers them.
        std::vector<std::string> lines(1);
        if (TextFile* again = textFileOpenBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
            WCHAR piece[kSettingsLineChars];
            SettingsLineCount count;
            bool cut = false;
            while (readSettingsPiece(again, piece, count, cut))
                if (static_cast<int>(lines.size()) == count.line) lines.push_back(utf8(std::u16string(piece)));
            textFileClose(again);
        }
        inspectSettingsFile(file, diagnostics);
        checker.settingsFile(notes, lines);
        // The console is no wedge: its record goes back to the defaults.
        resetSettings();
        clearRuleTable();
        resetCardReaderSettings();
    }
    textFileClose(file);
    std::stable_sort(findings.begin() + static_cast<std::ptrdiff_t>(first), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return true;
}

std::vector<std::string> terminalSettingsFiles() {
    std::vector<std::string> files;
    for (const char16_t* name : {u"\\Zentrova\\Keyvane.ini", u"\\IPSM\\Keyvane.ini"}) {
        std::string path = terminal::hostPath(name);
        if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
            break;
        }
    }
    for (const char16_t* name : {u"\\Zentrova\\DecodeSettings.Vqf", u"\\IPSM\\DecodeSettings.Vqf"}) {
        std::string path = terminal::hostPath(name);
        if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
            break;
        }
    }
    return files;
}

int checkCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    bool strict = false;
    std::vector<std::string> files;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--strict") {
            strict = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return usage(args[0], err, "unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) {
        if (!terminal::attach(options.root)) {
            err << "cannot attach to the terminal at " << options.root << "\n";
            return kFailed;
        }
        files = terminalSettingsFiles();
        if (files.empty()) {
            err << "keyvane-terminal check: no Keyvane.ini in \\Zentrova or \\IPSM of " << options.root << "\n";
            return kUsage;
        }
    }
    std::vector<Finding> findings;
    std::vector<size_t> ends;  // where each file's findings end
    for (const std::string& file : files) {
        if (!checkFile(file, file, findings)) {
            err << "keyvane-terminal check: cannot read " << file << "\n";
            return kUsage;
        }
        ends.push_back(findings.size());
    }
    int errors = 0, warnings = 0;
    std::vector<Record> records;
    for (size_t i = 0, begin = 0; i < files.size(); begin = ends[i++]) {
        if (ends[i] == begin && !options.json) out << files[i] << ": no findings\n";
        for (size_t k = begin; k < ends[i]; ++k) {
            const Finding& f = findings[k];
            errors += f.severity == "error";
            warnings += f.severity == "warning";
            if (options.json) {
                records.push_back({{"file", f.file}, {"line", f.line}, {"severity", f.severity}, {"message", f.message}});
            } else {
                out << f.file << ":";
                if (f.line > 0) out << f.line << ":";
                out << " " << f.severity << ": " << f.message << "\n";
            }
        }
    }
    if (options.json) printRecords(options, records, out);
    if (files.size() > 1 && !options.json)
        out << files.size() << " files: " << errors << " error(s), " << warnings << " warning(s)\n";
    return errors > 0 || (strict && warnings > 0) ? kFailed : kOk;
}

std::string checkSummary(const Options& options) {
    if (!terminal::attach(options.root)) return {};
    std::vector<Finding> findings;
    for (const std::string& file : terminalSettingsFiles()) checkFile(file, file, findings);
    int errors = 0, warnings = 0;
    for (const Finding& f : findings) {
        errors += f.severity == "error";
        warnings += f.severity == "warning";
    }
    if (errors == 0 && warnings == 0) return {};
    return "check: " + std::to_string(errors) + " error(s), " + std::to_string(warnings) +
           " warning(s) in the settings files (keyvane-terminal check tells which); starting anyway";
}

}  // namespace console
