#include "scan/decodesettings.h"

#include <cstring>

#include "scan/decoder.h"
#include "scan/symbologies.h"

char decodeSettingsPath[kDecodeSettingsPathChars];

namespace {

constexpr size_t kLineBytes = 512;  // 511 characters and the terminator
constexpr size_t kNameBytes = sizeof(DecodeLineOutputs::name);
constexpr size_t kValueBytes = sizeof(DecodeLineOutputs::textValue);

const char* const kLocations[] = {"\\Zentrova\\DecodeSettings.Vqf", "\\IPSM\\DecodeSettings.Vqf"};

enum Form { ShortForm, LongForm };

struct FlagProperty {
    const char* name;
    uint32_t shortBit;  // 0: not part of the short form
    uint32_t longBit;   // 0: not part of the long form
};

const FlagProperty kFlagProperties[] = {
    {"Enable", 0x1, 0x1},
    {"CheckEnable", 0x6, 0x2},
    {"CheckTransmit", 0x6, 0x4},
    {"StartStopTransmit", 0, 0x8},
    {"NumSysTransmit", 0x40, 0x40},
    {"Addenda2Digit", 0x80, 0x80},
    {"Addenda5Digit", 0x100, 0x100},
    {"AddendaRequired", 0x200, 0x200},
    {"AddendaSeparator", 0x400, 0x400},
    {"AddCodeIdentifier", 0x800, 0},
    {"ExpandedUpcE", 0x800, 0x800},
    {"AztecRunEnable", 0, 0x4000},
    {"RseEnable", 0, 0x800000},
    {"RslEnable", 0, 0x1000000},
    {"RssEnable", 0, 0x2000000},
    {"CodaBarConcatenate", 0, 0x20000000},
};

// One pass over the file: applied to the engine, or observed for a check.
struct DecodePass {
    TextFile* file;
    const SettingsDiagnostics* diagnostics;  // null: applied to the engine
    int line;
};

void note(const DecodePass& pass, SettingsEvent what, const char* name, const char* value, int used) {
    if (pass.diagnostics == nullptr) return;
    WCHAR wideName[kNameBytes], wideValue[kValueBytes];
    if (name != nullptr) textWiden(wideName, kNameBytes, name, kNameBytes);
    if (value != nullptr) textWiden(wideValue, kValueBytes, value, kValueBytes);
    settingsNote(pass.diagnostics, {pass.line, 0, what, name != nullptr ? wideName : nullptr,
                                    value != nullptr ? wideValue : nullptr, used, 0});
}

// Property and section names are compared exactly as the file format spells them.
bool sameName(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

// Position of the first occurrence of `what` at or after `from`, or null.
const char* findFrom(const char* from, const char* what) {
    return from ? std::strstr(from, what) : nullptr;
}

// `attribute`, later "=", then a double-quoted value: copies the value into
// `value` (bounded) and returns true; false when the line has no such value.
bool quotedAttribute(const char* line, const char* attribute, char* value, size_t capacity) {
    const char* at = findFrom(line, attribute);
    const char* equals = at ? std::strchr(at + std::strlen(attribute), '=') : nullptr;
    const char* open = equals ? std::strchr(equals + 1, '"') : nullptr;
    const char* close = open ? std::strchr(open + 1, '"') : nullptr;
    if (close == nullptr) return false;
    size_t n = static_cast<size_t>(close - open - 1);
    if (n >= capacity) n = capacity - 1;
    std::memcpy(value, open + 1, n);
    value[n] = 0;
    return true;
}

bool sameWordNoCase(const char* text, size_t length, const char* word) {
    if (std::strlen(word) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]);
        unsigned char b = static_cast<unsigned char>(word[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The text between the first ">" and the next "<" selects one output:
// "true"/"false" (any letter case) the boolean, digits only the number, and
// anything else the text value.
void propertyValue(const char* line, DecodeLineOutputs* out) {
    const char* gt = std::strchr(line, '>');
    const char* lt = gt ? std::strchr(gt + 1, '<') : nullptr;
    if (lt == nullptr) return;
    const char* value = gt + 1;
    size_t length = static_cast<size_t>(lt - value);
    if (sameWordNoCase(value, length, "false")) {
        out->boolean = 0;
        out->valueKind = DecodeValueBoolean;
        return;
    }
    if (sameWordNoCase(value, length, "true")) {
        out->boolean = 1;
        out->valueKind = DecodeValueBoolean;
        return;
    }
    bool digits = true;
    for (size_t i = 0; i < length && digits; ++i) digits = value[i] >= '0' && value[i] <= '9';
    if (digits) {
        long long number = 0;
        for (size_t i = 0; i < length; ++i) {
            number = number * 10 + (value[i] - '0');
            if (number > 0x7FFFFFFF) number = 0x7FFFFFFF;  // saturates
        }
        out->number = static_cast<int>(number);
        out->valueKind = DecodeValueNumber;
        return;
    }
    out->valueKind = DecodeValueText;
    if (length >= kValueBytes) length = kValueBytes - 1;
    std::memcpy(out->textValue, value, length);
    out->textValue[length] = 0;
}

// The state with which each section reader starts: lines with an unknown
// second character are ignored until a kind is known, and a flag property
// whose value is neither "true" nor "false" leaves its bit clear.
void startSection(int* kind, DecodeLineOutputs* out) {
    *kind = LineText;
    out->boolean = 0;
}

int nextLine(DecodePass& pass, int* kind, DecodeLineOutputs* out) {
    out->valueKind = 0;
    int more = readDecodeLine(pass.file, kind, out);
    if (more) ++pass.line;
    return more;
}

// A property line as a check sees it: the property must be one the section
// takes, with a value of the kind it takes.
void checkProperty(const DecodePass& pass, int kind, const DecodeLineOutputs* out, bool known, int wanted) {
    if (pass.diagnostics == nullptr || kind != LineProperty) return;
    if (!known) {
        note(pass, NoteDecodePropertyUnknown, out->name, nullptr, 0);
    } else if (out->valueKind != wanted) {
        const char* written = out->valueKind == DecodeValueText ? out->textValue : nullptr;
        note(pass, NoteDecodeValueKind, out->name, written, wanted);
    }
}

int readSymbologySection(DecodePass& pass, Form form, int id, int* kind, DecodeLineOutputs* out) {
    SymbologyConfig config{};
    config.size = form == LongForm ? 20 : 12;
    config.mask = form == LongForm ? 7 : 1;
    bool apply = pass.diagnostics == nullptr;
    if (apply && decoderReadSymbology(id, &config) != 0) return 0;
    config.flags = 0;
    startSection(kind, out);
    bool closed = false;
    while (nextLine(pass, kind, out) != 0) {
        if (*kind == LineClosing) {
            closed = true;
            break;
        }
        if (*kind == LineSectionStart && !apply) note(pass, NoteDecodeUnclosed, out->name, nullptr, 0);
        bool known = false;
        for (const FlagProperty& property : kFlagProperties) {
            uint32_t bit = form == LongForm ? property.longBit : property.shortBit;
            if (bit == 0 || !sameName(out->name, property.name)) continue;
            known = true;
            if (out->boolean == 1) config.flags |= bit;
        }
        bool length = form == LongForm && (sameName(out->name, "MinLength") || sameName(out->name, "MaxLength"));
        if (length && sameName(out->name, "MinLength")) config.minLength = static_cast<uint32_t>(out->number);
        if (length && sameName(out->name, "MaxLength")) config.maxLength = static_cast<uint32_t>(out->number);
        checkProperty(pass, *kind, out, known || length, length ? DecodeValueNumber : DecodeValueBoolean);
    }
    if (!closed && !apply) note(pass, NoteDecodeUnclosed, nullptr, nullptr, 0);
    if (!apply) return 1;
    return decoderWriteSymbology(id, &config) == 0 ? 1 : 0;
}

int readDecodeSection(DecodePass& pass, int* kind, DecodeLineOutputs* out) {
    DecoderGlobalSettings globals{};
    bool apply = pass.diagnostics == nullptr;
    if (apply && decoderReadGlobals(&globals) != 0) return 0;
    startSection(kind, out);
    while (nextLine(pass, kind, out) != 0 && *kind != LineClosing) {
        if (*kind == LineSectionStart) {
            // The section start that ends it is consumed: that section is not applied.
            if (!apply) note(pass, NoteDecodeUnclosed, out->name, nullptr, 1);
            break;
        }
        int wanted = DecodeValueNumber;
        if (sameName(out->name, "PrintWeight")) globals.printWeight = out->number;
        if (sameName(out->name, "LinearRange")) globals.linearRange = out->number;
        if (sameName(out->name, "DecodeAttemptLimit")) globals.decodeAttemptLimit = out->number;
        if (sameName(out->name, "SearchTimeLimit")) globals.searchTimeLimit = out->number;
        if (sameName(out->name, "VideoReverse")) {
            globals.videoReverse = out->boolean;
            wanted = DecodeValueBoolean;
        }
        bool knownMode = false;
        if (sameName(out->name, "DecodeMode")) {
            wanted = DecodeValueText;
            if (sameName(out->textValue, "Standard")) globals.decodeMode = 0;
            if (sameName(out->textValue, "QuickOmni")) globals.decodeMode = 1;
            if (sameName(out->textValue, "LinearPriority")) globals.decodeMode = 2;
            knownMode = sameName(out->textValue, "Standard") || sameName(out->textValue, "QuickOmni") ||
                        sameName(out->textValue, "LinearPriority");
        }
        bool known = sameName(out->name, "PrintWeight") || sameName(out->name, "LinearRange") ||
                     sameName(out->name, "DecodeAttemptLimit") || sameName(out->name, "SearchTimeLimit") ||
                     sameName(out->name, "VideoReverse") || sameName(out->name, "DecodeMode");
        checkProperty(pass, *kind, out, known, wanted);
        if (!apply && *kind == LineProperty && wanted == DecodeValueText && out->valueKind == DecodeValueText &&
            !knownMode)
            note(pass, NoteDecodeValueKind, out->name, out->textValue, DecodeValueText);
    }
    if (!apply) return 1;
    return decoderWriteGlobals(&globals) == 0 ? 1 : 0;
}

// The apply loop over an open file.
void readDecodeFile(DecodePass& pass) {
    int kind = LineText;
    DecodeLineOutputs out{};
    while (nextLine(pass, &kind, &out) != 0) {
        if (out.loose) note(pass, NoteDecodeLineIgnored, nullptr, nullptr, 0);
        if (kind != LineSectionStart) continue;
        if (out.name[0] == 0) continue;  // the document's own element, or a section without a name
        if (sameName(out.name, "General") || sameName(out.name, "Bluetooth")) {
            note(pass, NoteDecodeSection, out.name, nullptr, -1);
            continue;
        }
        if (sameName(out.name, "Decode")) {
            note(pass, NoteDecodeSection, out.name, nullptr, -1);
            readDecodeSection(pass, &kind, &out);
            continue;
        }
        const Symbology* symbology = symbologyBySection(out.name);
        if (symbology == nullptr) {
            note(pass, NoteDecodeSectionUnknown, out.name, nullptr, 0);
            continue;
        }
        note(pass, NoteDecodeSection, out.name, nullptr, symbology->engineId);
        Form form = symbology->form == SymbologyLongForm ? LongForm : ShortForm;
        readSymbologySection(pass, form, symbology->engineId, &kind, &out);
    }
}

TextFile* openNarrowPath(const char* path) {
    WCHAR wide[kDecodeSettingsPathChars];
    textWiden(wide, kDecodeSettingsPathChars, path, kDecodeSettingsPathChars);
    return textFileOpen(wide);
}

}  // namespace

int locateDecodeSettings(char* path) {
    if (path == nullptr) return 0;
    for (const char* location : kLocations) {
        textCopyA(path, kDecodeSettingsPathChars, location);
        TextFile* file = openNarrowPath(path);
        if (file != nullptr) {
            textFileClose(file);
            return 1;
        }
    }
    path[0] = 0;
    return 0;
}

int readDecodeLine(TextFile* file, int* kind, DecodeLineOutputs* out) {
    char buffer[kLineBytes];
    if (!textFileReadLineA(file, buffer, sizeof buffer)) return 0;
    buffer[kLineBytes - 1] = 0;
    const char* line = buffer;
    while (*line == ' ') ++line;
    const char* rest = line;
    while (*rest == '\t' || *rest == '\r' || *rest == '\n') ++rest;
    out->loose = line[0] != '<' && *rest != 0;
    if (line[0] != '<') {
        *kind = LineText;
        return 1;
    }
    switch (line[1]) {
        case 'S':
        case 's':
            *kind = LineSectionStart;
            break;
        case 'K':
        case 'k':
            *kind = LineProperty;
            break;
        case 'C':
        case 'c':
        case 'H':
        case 'h':
            *kind = LineOther;
            return 1;
        case '/':
            *kind = LineClosing;
            return 1;
        default:
            break;  // keeps the current kind
    }
    if (*kind == LineSectionStart) {
        char value[kNameBytes];
        out->name[0] = 0;
        if (quotedAttribute(line, "name", value, sizeof value) && sameName(value, "Decode"))
            textCopyA(out->name, kNameBytes, "Decode");
        if (out->name[0] == 0 && quotedAttribute(line, "id", value, sizeof value))
            textCopyA(out->name, kNameBytes, value);
        return 1;
    }
    if (*kind == LineProperty) {
        char value[kNameBytes];
        if (quotedAttribute(line, "id", value, sizeof value)) textCopyA(out->name, kNameBytes, value);
        propertyValue(line, out);
    }
    return 1;
}

int applyDecodeSettings(const char* path) {
    if (path == nullptr || path[0] == 0) return 0;
    TextFile* file = openNarrowPath(path);
    if (file == nullptr) return 0;
    applyDecodeSettingsFile(file);
    textFileClose(file);
    return 1;
}

void applyDecodeSettingsFile(TextFile* file) {
    decoderConnect();
    DecodePass pass = {file, nullptr, 0};
    readDecodeFile(pass);
}

void inspectDecodeSettings(TextFile* file, const SettingsDiagnostics& diagnostics) {
    DecodePass pass = {file, &diagnostics, 0};
    readDecodeFile(pass);
}
