// keyvane-terminal settings --effective: every key with the value the wedge
// holds after reading a settings file, and where that value came from. The
// wedge's own reader reads the file (inspectSettingsFile); after each line it
// reports, the records are compared with what they held before, so that a
// field changed by a line of another key is seen as forced by it.
#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "platform/host/terminal.h"
#include "platform/textfile.h"
#include "scan/symbologies.h"
#include "settings/cardreader.h"
#include "settings/diagnostics.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "settings/settingstable.h"

namespace console {

namespace {

// The record an entry's field is in, as the reader holds it.
void* recordOf(const SettingInfo& s) {
    switch (s.field.record) {
        case RecordSettings:
            return &settings;
        case RecordCardReader:
            return &cardReaderSettings;
        default:
            return nullptr;
    }
}

std::string codeText(const WORD* list, int capacity) {
    std::string text;
    for (int i = 0; i < capacity && list[i] != 0; ++i) text += (i ? "," : "") + std::to_string(list[i]);
    return text;
}

std::string wideText(const WCHAR* text, int capacity) {
    std::u16string wide;
    for (int i = 0; i < capacity && text[i] != 0; ++i) wide += static_cast<char16_t>(text[i]);
    return utf8(wide);
}

// A field's value as text; `numeric` tells whether it is a number.
std::string fieldText(const SettingField& field, void* record, bool& numeric) {
    numeric = false;
    void* at = record != nullptr ? fieldIn(field, record) : nullptr;
    if (at == nullptr) return "";
    switch (field.type) {
        case FieldNumber:
        case FieldByte:
        case FieldAtomicByte:
            numeric = true;
            return std::to_string(fieldNumber(field, record));
        case FieldCodes:
            return codeText(static_cast<const WORD*>(at), field.capacity);
        case FieldText: {
            const char* text = static_cast<const char*>(at);
            std::string narrow;
            for (int i = 0; i < field.capacity && text[i] != 0; ++i) narrow += text[i];
            return narrow;
        }
        case FieldWideText:
            return wideText(static_cast<const WCHAR*>(at), field.capacity);
        case FieldNone:
            break;
    }
    return "";
}

bool sameField(const SettingInfo& a, const SettingInfo& b) {
    if (a.field.type == FieldNone || b.field.type == FieldNone) return &a == &b;
    return a.field.record == b.field.record && a.field.offset == b.field.offset;
}

// Where one key's value came from.
struct Origin {
    enum Kind { Default, File, Overwritten, Forced, Refused, AfterRead } kind = Default;
    int line = 0;           // the line that gave the value (refused: the line refused)
    int earlier = 0;        // overwritten or refused: the line whose value it replaced or kept (0: the default)
    std::string by;         // forced: the key of that line
    std::string written;    // a key held in no field: the value as written
    int kept = 0;           // forced: a later line of the key itself that left the forced value as it was
};

// The keys of the settings record and the card-reader settings, in the table's order.
struct Reading {
    std::vector<const SettingInfo*> keys;
    std::vector<std::string> held;  // each key's value at the last look
    std::vector<Origin> origins;
    bool begun = false;
    int group = 0;
    std::map<std::pair<int, int>, int> ruleLines;  // (group, slot) -> line of the header that selected it
};

std::string valueNow(const SettingInfo& s) {
    bool numeric = false;
    return fieldText(s.field, recordOf(s), numeric);
}

void look(Reading& r, const SettingsNote& n) {
    const SettingInfo* own = nullptr;
    bool keyLine = n.key != nullptr && n.pass == 1 &&
                   (n.what == NoteValue || n.what == NoteValueIgnored || n.what == NoteValueRefused ||
                    n.what == NoteValueCut || n.what == NoteCodeListLoss);
    if (keyLine) own = matchSetting(n.detail == SectionCardReader ? SectionCardReader : SectionGeneral, n.key);
    for (size_t i = 0; i < r.keys.size(); ++i) {
        const SettingInfo& s = *r.keys[i];
        std::string now = valueNow(s);
        bool changed = now != r.held[i];
        r.held[i] = now;
        Origin& o = r.origins[i];
        bool mine = own != nullptr && sameField(s, *own);
        if (changed && !mine) {
            int line = own != nullptr ? n.line : 0;
            o = {line ? Origin::Forced : Origin::AfterRead, line, o.line, line ? own->name : "", "", 0};
            continue;
        }
        if (!mine) continue;
        if (n.what == NoteValueIgnored || n.what == NoteValueRefused) {
            if (!changed) {
                int kept = o.kind == Origin::Refused ? o.earlier : o.line;
                o = {Origin::Refused, n.line, kept, o.by, o.written, 0};
            }
            continue;
        }
        if (n.what != NoteValue && !changed) continue;
        if (!changed && o.kind == Origin::Forced) {
            o.kept = n.line;  // the other key still holds it
            continue;
        }
        if (o.line == n.line && o.kind != Origin::Default) continue;  // a second note of the same line
        Origin next{o.kind == Origin::Default ? Origin::File : Origin::Overwritten, n.line, o.line, "", "", 0};
        if (n.what == NoteValue && n.value != nullptr && s.field.type == FieldNone) {
            std::u16string wide;
            for (const WCHAR* c = n.value; *c; ++c) wide += static_cast<char16_t>(*c);
            next.written = utf8(wide);
        }
        o = next;
    }
}

void noteOf(void* context, const SettingsNote& n) {
    auto* r = static_cast<Reading*>(context);
    if (n.what == NoteHeader && n.pass == 2) {
        if (n.used == HeaderSync) r->group = n.detail - 1;
        if (n.used == HeaderBarcode) r->ruleLines[{r->group, n.detail - 1}] = n.line;
    }
    if (n.what == NoteReadBegins) {
        // What the lines start from: the defaults as the reader sets them up.
        for (size_t i = 0; i < r->keys.size(); ++i) r->held[i] = valueNow(*r->keys[i]);
        r->begun = true;
        return;
    }
    if (r->begun) look(*r, n);
}

std::string at(const std::string& file, int line) {
    return file + ":" + std::to_string(line);
}

Record keyRecord(const SettingInfo& s, const Origin& o, const std::string& file) {
    bool numeric = false;
    std::string value = fieldText(s.field, recordOf(s), numeric);
    Record r{{"key", s.name}};
    if (s.section == SectionCardReader) r.emplace_back("section", "MCRSettings");
    if (s.field.type == FieldNone) {
        r.emplace_back("value", o.kind == Origin::Default ? std::string(s.defaultText) : o.written);
    } else if (numeric) {
        r.emplace_back("value", static_cast<long long>(std::stoll(value)));
    } else {
        r.emplace_back("value", value);
    }
    auto earlier = [&](int line) { return line ? at(file, line) : std::string("default"); };
    switch (o.kind) {
        case Origin::Default:
            r.push_back(Field::word("from", "default"));
            break;
        case Origin::File:
            r.push_back(Field::word("from", at(file, o.line)));
            break;
        case Origin::Overwritten:
            r.push_back(Field::word("from", at(file, o.line)));
            r.emplace_back("overwrites", at(file, o.earlier));
            break;
        case Origin::Forced:
            r.push_back(Field::word("from", at(file, o.line)));
            r.emplace_back("forced-by", o.by);
            if (o.kept) r.emplace_back("left-as-forced", at(file, o.kept));
            break;
        case Origin::Refused:
            r.push_back(Field::word("from", earlier(o.earlier)));
            if (!o.by.empty()) r.emplace_back("forced-by", o.by);
            r.emplace_back("refused", at(file, o.line));
            break;
        case Origin::AfterRead:
            r.push_back(Field::word("from", earlier(o.earlier)));
            r.emplace_back("after-read", s.description);
            break;
    }
    return r;
}

Record ruleRecord(int group, int slot, const Reading& reading, const std::string& file) {
    BarcodeRule& rule = ruleTable[group][slot];
    Record r{Field::word("rule", "[Sync" + std::to_string(group + 1) + "][Barcode" + std::to_string(slot + 1) + "]")};
    r.emplace_back("group", group + 1);
    r.emplace_back("slot", slot + 1);
    auto line = reading.ruleLines.find({group, slot});
    if (line != reading.ruleLines.end()) r.emplace_back("at", at(file, line->second));
    const Symbology* found[8];
    int count = symbologiesByLetter(static_cast<char>(rule.symbologyLetter), found, 8);
    std::string names;
    for (int i = 0; i < count && i < 8; ++i) names += (i ? "," : "") + std::string(found[i]->name);
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        if (s.section != SectionBarcode || s.field.record != RecordRule) continue;
        if (s.field.offset == offsetof(BarcodeRule, symbologyLetter)) {
            r.emplace_back("BarcodeSym", std::string(1, static_cast<char>(rule.symbologyLetter)));
            r.emplace_back("symbologies", names);
            continue;
        }
        bool numeric = false;
        std::string value = fieldText(s.field, &rule, numeric);
        if (numeric) {
            r.emplace_back(s.name, static_cast<long long>(std::stoll(value)));
        } else {
            r.emplace_back(s.name, value);
        }
    }
    return r;
}

}  // namespace

int effectiveSettings(const Options& options, std::string path, std::ostream& out, std::ostream& err) {
    if (path.empty()) {
        // The file the wedge would read on the terminal.
        if (!terminal::attach(options.root)) {
            err << "cannot attach to the terminal at " << options.root << "\n";
            return kFailed;
        }
        for (const std::string& found : terminalSettingsFiles())
            if (found.size() >= 11 && found.compare(found.size() - 11, 11, "Keyvane.ini") == 0) path = found;
        if (path.empty()) {
            err << "keyvane-terminal settings: no Keyvane.ini in \\Zentrova or \\IPSM of " << options.root << "\n";
            return kUsage;
        }
    }
    std::string bytes;
    if (!readHostFile(path, bytes)) {
        err << "keyvane-terminal settings: cannot read " << path << "\n";
        return kFailed;
    }
    TextFile* file = textFileOpenBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (file == nullptr) {
        err << "keyvane-terminal settings: cannot read " << path << "\n";
        return kFailed;
    }
    Reading reading;
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        if (s.section == SectionBarcode) continue;
        reading.keys.push_back(&s);
    }
    reading.held.resize(reading.keys.size());
    reading.origins.resize(reading.keys.size());
    SettingsDiagnostics diagnostics = {noteOf, &reading};
    inspectSettingsFile(file, diagnostics);
    textFileClose(file);
    // What the reader changes after the last line (the aimer time-out's scale).
    look(reading, {0, 0, NoteNoOutput, nullptr, nullptr, 0, 0});

    std::vector<Record> records;
    for (size_t i = 0; i < reading.keys.size(); ++i)
        records.push_back(keyRecord(*reading.keys[i], reading.origins[i], path));
    for (int group = 0; group < kSyncGroups; ++group)
        for (int slot = 0; slot < kRulesPerGroup; ++slot)
            if (ruleTable[group][slot].symbologyLetter != 0) records.push_back(ruleRecord(group, slot, reading, path));
    resetSettings();
    clearRuleTable();
    resetCardReaderSettings();
    printRecords(options, records, out);
    return kOk;
}

}  // namespace console
