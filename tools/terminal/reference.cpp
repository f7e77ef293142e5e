// keyvane-terminal settings / symbologies: the settings reference and the
// symbology table, printed from the tables the wedge itself reads with, as
// plain text, records or a keyvane.ini(5) manual page.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "scan/symbologies.h"
#include "settings/settingstable.h"

namespace console {

namespace {

const char* kindName(SettingKind kind) {
    switch (kind) {
        case KindFlag:
            return "flag";
        case KindNumber:
            return "number";
        case KindDigit:
            return "digit";
        case KindChoice:
            return "choice";
        case KindCodeList:
            return "code list";
        case KindText:
            return "text";
        case KindCharacter:
            return "character";
    }
    return "";
}

const char* sectionOf(SettingSection section) {
    switch (section) {
        case SectionGeneral:
            return "general";
        case SectionBarcode:
            return "barcode";
        case SectionCardReader:
            return "MCRSettings";
    }
    return "";
}

std::string range(const SettingInfo& s) {
    if (s.kind == KindNumber || s.kind == KindDigit || s.kind == KindChoice)
        return std::to_string(s.low) + ".." + std::to_string(s.high);
    if ((s.kind == KindCodeList || s.kind == KindText) && s.field.capacity > 0)
        return "up to " + std::to_string(s.field.capacity - 1) + (s.kind == KindCodeList ? " codes" : " characters");
    return "";
}

std::string choicesText(const SettingInfo& s) {
    std::string text;
    for (int i = 0; i < s.choiceCount; ++i)
        text += std::string(i ? "; " : "") + s.choices[i].character + ": " + s.choices[i].meaning;
    return text;
}

// How keys combine: what no single key's description says. Each topic names
// the keys it bears on; `settings KEY` shows the topics of KEY.
struct Topic {
    const char* title;
    const char* text;
    const char* keys[8];
};

const Topic kTopics[] = {
    {"COMMENTS AND BLANKS",
     "An apostrophe (') begins a comment that runs to the end of the line; ; and # are ordinary characters. "
     "Every space is removed before a line is read, so neither a key nor a value holds one; tabs are kept.",
     {}},
    {"CODE LISTS",
     "prefix, Suffix and a rule's prefix and suffix are comma-separated decimal character codes: 13 is Enter, "
     "65 is A, so 65,66,13 types AB and Enter. Each code has at most four digits; any character that is neither "
     "a digit nor a comma is ignored, and an empty item (13,,10) ends the list there.",
     {"prefix", "Suffix", "suffix"}},
    {"KEYS THAT SET OTHERS",
     "OutPutMode sets SendToForegroundApp and SendData together (see its choices); once an OutPutMode line is "
     "read, later SendData and SendToForegroundApp lines are ignored. PresentationMode 1 also sets "
     "ContinuousScan, and while PresentationMode is 1 a ContinuousScan line cannot clear it. "
     "EnableADVSuffixPrefix 1 sets EnableSequenceEditor to 0. The barcode sections are read only when "
     "EnableSequenceEditor is 1 or 2 or EnableADVSuffixPrefix is 1, and the last of these lines decides: "
     "EnableADVSuffixPrefix 1 followed by EnableSequenceEditor 0 leaves them unread. "
     "keyvane-terminal settings --effective FILE shows each value and the line or key it came from.",
     {"OutPutMode", "SendData", "SendToForegroundApp", "PresentationMode", "ContinuousScan", "EnableADVSuffixPrefix",
      "EnableSequenceEditor"}},
    {"HOW RULES ARE MATCHED",
     "Without scan sync (EnableADVSuffixPrefix 1), a barcode takes the first rule of the first group's "
     "[Barcode1]..[Barcode6] whose BarcodeSym letter is the barcode's symbology letter: the letter alone "
     "decides, so StartWith and Length do nothing there. With scan sync (EnableSequenceEditor 1 or 2), a rule "
     "takes a barcode of its symbology, of exactly its Length (0: any) and beginning with its StartWith "
     "(empty: any), and a set is delivered only when every rule of the current group has one. "
     "A rule's prefix and suffix replace the global prefix and Suffix: a rule without a suffix ends its barcode "
     "with none, even when Suffix is set. keyvane-terminal explain shows which rule a barcode takes.",
     {"BarcodeSym", "StartWith", "Length", "prefix", "suffix", "Suffix", "EnableADVSuffixPrefix",
      "EnableSequenceEditor"}},
};

// "HOW RULES ARE MATCHED" as a record's field name: "how-rules-are-matched".
std::string lowerWords(const char* title) {
    std::string name;
    for (const char* c = title; *c; ++c)
        name += *c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return name;
}

bool topicConcerns(const Topic& topic, const char* key) {
    for (const char* k : topic.keys)
        if (k != nullptr && std::string(k) == key) return true;
    return false;
}

std::string roffEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

// The example files of a folder, by name: each is printed as it is.
void printExamples(const std::string& folder, std::ostream& out) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().extension() == ".ini") files.push_back(entry.path());
    if (files.empty()) return;
    std::sort(files.begin(), files.end());
    out << ".SH EXAMPLES\nEach example states what \\fBkeyvane\\-terminal explain\\fR shows for the barcodes "
           "named in its comments (\\fIexplain:\\fR the barcodes, \\fItyped:\\fR the text typed).\n";
    for (const auto& file : files) {
        std::string bytes;
        if (!readHostFile(file.string(), bytes)) continue;
        out << ".SS " << roffEscape(file.filename().string()) << "\n.nf\n";
        std::istringstream lines(bytes);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out << roffEscape(line) << "\n";
        }
        out << ".fi\n";
    }
}

void printRoff(const std::string& examples, std::ostream& out) {
    out << ".TH KEYVANE.INI 5 \"\" \"Keyvane\" \"File Formats\"\n"
           ".SH NAME\nKeyvane.ini \\- settings of the Keyvane barcode keyboard wedge\n"
           ".SH DESCRIPTION\n"
           "The wedge reads \\fB\\eZentrova\\eKeyvane.ini\\fR (else \\fB\\eIPSM\\eKeyvane.ini\\fR) once at start. "
           "Lines are \\fIkey\\fR = \\fIvalue\\fR; blanks are removed, an apostrophe begins a comment, keys are "
           "matched ignoring letter case, and unknown keys are ignored without a word. "
           "\\fBkeyvane\\-terminal check\\fR reports what the wedge would ignore.\n";
    for (const Topic& topic : kTopics) out << ".SH " << topic.title << "\n" << roffEscape(topic.text) << "\n";
    const SettingSection sections[] = {SectionGeneral, SectionBarcode, SectionCardReader};
    const char* titles[] = {"GENERAL KEYS", "BARCODE RULES ([Barcode1]..[Barcode6], groups [Sync1]..[Sync10])",
                            "CARD READER ([MCRSettings])"};
    for (int k = 0; k < 3; ++k) {
        out << ".SH " << titles[k] << "\n";
        for (int i = 0; i < kSettingsCount; ++i) {
            const SettingInfo& s = kSettingsTable[i];
            if (s.section != sections[k]) continue;
            out << ".TP\n.B " << s.name << "\n"
                << roffEscape(std::string(kindName(s.kind)) + ", default " + s.defaultText +
                              (range(s).empty() ? "" : ", " + range(s)) + ". " + s.description)
                << "\n";
            for (int c = 0; c < s.choiceCount; ++c)
                out << ".br\n" << roffEscape(std::string(1, s.choices[c].character) + ": " + s.choices[c].meaning)
                    << "\n";
        }
    }
    out << ".SH SYMBOLOGIES\nThe \\fBBarcodeSym\\fR numbers, the symbology letters the engine reports, the "
           "engine ids and the DecodeSettings.Vqf section names.\n.nf\n";
    for (int i = 0; i < kSymbologyCount; ++i) {
        const Symbology& s = kSymbologyTable[i];
        out << (s.number ? std::to_string(s.number) : std::string("-")) << "\t"
            << roffEscape(s.letter ? std::string(1, s.letter) : std::string("-")) << "\t" << s.engineId << "\t"
            << roffEscape(s.name) << "\t" << roffEscape(s.section ? s.section : "-") << "\n";
    }
    out << ".fi\n";
    if (!examples.empty()) printExamples(examples, out);
    out << ".SH SEE ALSO\n\\fBkeyvane\\-terminal\\fR(1)\n";
}

}  // namespace

std::string didYouMean(const std::string& word, const std::vector<std::string>& names) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const std::string& name : names) {
        size_t d = editDistance(lower(word), lower(name));
        if (d < bestDistance) {
            bestDistance = d;
            best = name;
        }
    }
    size_t allowed = std::max<size_t>(2, word.size() / 3);
    return bestDistance <= allowed ? " (did you mean `" + best + "`?)" : std::string();
}

std::vector<std::string> settingNames() {
    std::vector<std::string> names;
    for (int i = 0; i < kSettingsCount; ++i) names.push_back(kSettingsTable[i].name);
    return names;
}

char symbologyLetterOf(const std::string& word) {
    if (word.size() == 1 && !(word[0] >= '0' && word[0] <= '9')) return word[0];
    const Symbology* s = symbologyByWord(word.c_str());
    return s != nullptr ? s->letter : 0;
}

int settingsReference(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::string key;
    std::string examples;
    bool roff = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--roff") {
            roff = true;
        } else if (args[i] == "--examples" && i + 1 < args.size()) {
            examples = args[++i];
        } else if (key.empty() && !args[i].empty() && args[i][0] != '-') {
            key = args[i];
        } else {
            return usage(args[0], err, "unknown argument " + args[i]);
        }
    }
    if (roff) {
        printRoff(examples, out);
        return kOk;
    }
    std::vector<Record> records;
    std::u16string wideKey = utf16(key);
    int matched = 0;
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        if (!key.empty() && !textEqualsNoCaseAW(reinterpret_cast<const WCHAR*>(wideKey.c_str()), s.name)) continue;
        ++matched;
        if (options.json) {
            // A default that is a number is given as one ("none", "any": as text).
            long long number = 0;
            Field defaultField = parseInt(s.defaultText, number) ? Field("default", number)
                                                                 : Field("default", s.defaultText);
            Record r{{"key", s.name},     {"section", sectionOf(s.section)}, {"kind", kindName(s.kind)},
                     defaultField,        {"range", range(s)},               {"description", s.description}};
            if (s.choiceCount) r.emplace_back("choices", choicesText(s));
            if (!key.empty())
                for (const Topic& topic : kTopics)
                    if (topicConcerns(topic, s.name)) r.emplace_back(lowerWords(topic.title), topic.text);
            records.push_back(r);
            continue;
        }
        out << s.name << "  [" << sectionOf(s.section) << "] " << kindName(s.kind) << ", default " << s.defaultText;
        if (!range(s).empty()) out << ", " << range(s);
        out << "\n    " << s.description << "\n";
        for (int c = 0; c < s.choiceCount; ++c)
            out << "    " << s.choices[c].character << ": " << s.choices[c].meaning << "\n";
        if (!key.empty())
            for (const Topic& topic : kTopics)
                if (topicConcerns(topic, s.name)) out << "    " << topic.title << ": " << topic.text << "\n";
    }
    if (options.json) printRecords(options, records, out);
    if (matched == 0) {
        std::string near = didYouMean(key, settingNames());
        err << "keyvane-terminal settings: no key " << key
            << (near.empty() ? " (keyvane-terminal settings lists them)" : near) << "\n";
        return kFailed;
    }
    return kOk;
}

int symbologiesCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() > 2) {
        return usage(args[0], err, "one symbology at most");
    }
    std::vector<Record> records;
    for (int i = 0; i < kSymbologyCount; ++i) {
        const Symbology& s = kSymbologyTable[i];
        if (args.size() == 2) {
            const std::string& word = args[1];
            bool match = word.size() == 1 && !(word[0] >= '0' && word[0] <= '9') ? s.letter == word[0]
                                                                                   : symbologyByWord(word.c_str()) == &s;
            if (!match) continue;
        }
        // "-" where the symbology has none (a number only where it has one).
        Field number = s.number ? Field("number", s.number) : Field("number", "-");
        records.push_back({number,
                           {"letter", s.letter ? std::string(1, s.letter) : std::string("-")},
                           {"name", s.name},
                           {"engine", s.engineId},
                           {"section", s.section ? s.section : "-"}});
    }
    if (args.size() == 2 && records.empty()) {
        err << "keyvane-terminal symbologies: no symbology " << args[1] << "\n";
        return kFailed;
    }
    printRecords(options, records, out);
    return kOk;
}

}  // namespace console
