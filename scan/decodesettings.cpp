#include "scan/decodesettings.h"

#include <cstring>

#include "scan/decoder.h"

char decodeSettingsPath[kDecodeSettingsPathChars];

namespace {

constexpr size_t kLineBytes = 512;  // 511 characters and the terminator
constexpr size_t kNameBytes = sizeof(DecodeLineOutputs::name);
constexpr size_t kValueBytes = sizeof(DecodeLineOutputs::textValue);

const char* const kLocations[] = {"\\Zentrova\\DecodeSettings.Vqf", "\\IPSM\\DecodeSettings.Vqf"};

enum Form { ShortForm, LongForm };

struct SymbologyEntry {
    const char* name;
    int id;
    Form form;
};

// Tested in this order; the first match wins.
const SymbologyEntry kSymbologies[] = {
    {"Aztec", 0, LongForm},       {"Australian Post", 25, LongForm}, {"BPO", 23, ShortForm},
    {"CanPost", 24, ShortForm},   {"ChinaPost", 38, LongForm},       {"Codabar", 1, LongForm},
    {"Codablock", 27, LongForm},  {"Code11", 2, LongForm},           {"Code16K", 41, LongForm},
    {"Code32", 34, ShortForm},    {"Code 39", 4, LongForm},          {"Code49", 5, LongForm},
    {"Code93", 6, LongForm},      {"Code128", 3, LongForm},          {"DataMatrix", 8, LongForm},
    {"EAN8", 9, ShortForm},       {"EAN13", 10, ShortForm},          {"Composite", 7, LongForm},
    {"RSS", 18, LongForm},        {"GS1_128", 47, LongForm},         {"IDTag", 45, ShortForm},
    {"Int25", 26, LongForm},      {"ISBT", 22, ShortForm},           {"JaPost", 28, ShortForm},
    {"DutchPost", 30, ShortForm}, {"KoreaPost", 39, LongForm},       {"LabelCode", 46, ShortForm},
    {"Matrix25", 36, LongForm},   {"MaxiCode", 12, LongForm},        {"MicroPDF", 13, LongForm},
    {"PDF417", 15, LongForm},     {"Planet", 29, ShortForm},         {"MSI", 31, LongForm},
    {"Plessey", 37, LongForm},    {"PosiCode", 42, LongForm},        {"UPCA", 19, ShortForm},
    {"UPCE0", 20, ShortForm},     {"UPCE1", 21, ShortForm},          {"Postnet", 16, ShortForm},
    {"QR", 17, LongForm},         {"IATA25", 26, LongForm},          {"Strt25", 35, LongForm},
    {"TLC39", 32, ShortForm},     {"TelePen", 40, LongForm},         {"Trioptic", 33, ShortForm},
};

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
        return;
    }
    if (sameWordNoCase(value, length, "true")) {
        out->boolean = 1;
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
        return;
    }
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

int readSymbologySection(TextFile* file, Form form, int id, int* kind, DecodeLineOutputs* out) {
    SymbologyConfig config{};
    config.size = form == LongForm ? 20 : 12;
    config.mask = form == LongForm ? 7 : 1;
    if (decoderReadSymbology(id, &config) != 0) return 0;
    config.flags = 0;
    startSection(kind, out);
    while (readDecodeLine(file, kind, out) != 0 && *kind != LineClosing) {
        for (const FlagProperty& property : kFlagProperties) {
            uint32_t bit = form == LongForm ? property.longBit : property.shortBit;
            if (bit != 0 && out->boolean == 1 && sameName(out->name, property.name)) config.flags |= bit;
        }
        if (form == LongForm && sameName(out->name, "MinLength")) config.minLength = static_cast<uint32_t>(out->number);
        if (form == LongForm && sameName(out->name, "MaxLength")) config.maxLength = static_cast<uint32_t>(out->number);
    }
    return decoderWriteSymbology(id, &config) == 0 ? 1 : 0;
}

int readDecodeSection(TextFile* file, int* kind, DecodeLineOutputs* out) {
    DecoderGlobalSettings globals{};
    if (decoderReadGlobals(&globals) != 0) return 0;
    startSection(kind, out);
    while (readDecodeLine(file, kind, out) != 0 && *kind != LineClosing && *kind != LineSectionStart) {
        if (sameName(out->name, "PrintWeight")) globals.printWeight = out->number;
        if (sameName(out->name, "LinearRange")) globals.linearRange = out->number;
        if (sameName(out->name, "DecodeAttemptLimit")) globals.decodeAttemptLimit = out->number;
        if (sameName(out->name, "SearchTimeLimit")) globals.searchTimeLimit = out->number;
        if (sameName(out->name, "VideoReverse")) globals.videoReverse = out->boolean;
        if (sameName(out->name, "DecodeMode")) {
            if (sameName(out->textValue, "Standard")) globals.decodeMode = 0;
            if (sameName(out->textValue, "QuickOmni")) globals.decodeMode = 1;
            if (sameName(out->textValue, "LinearPriority")) globals.decodeMode = 2;
        }
    }
    return decoderWriteGlobals(&globals) == 0 ? 1 : 0;
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
    decoderConnect();
    int kind = LineText;
    DecodeLineOutputs out{};
    while (readDecodeLine(file, &kind, &out) != 0) {
        if (kind != LineSectionStart || out.name[0] == 0) continue;
        if (sameName(out.name, "General") || sameName(out.name, "Bluetooth")) continue;
        if (sameName(out.name, "Decode")) {
            readDecodeSection(file, &kind, &out);
            continue;
        }
        for (const SymbologyEntry& entry : kSymbologies) {
            if (!sameName(out.name, entry.name)) continue;
            readSymbologySection(file, entry.form, entry.id, &kind, &out);
            break;
        }
    }
    textFileClose(file);
    return 1;
}
