// The one naming of barcode symbologies: the BarcodeSym number of
// Keyvane.ini, the symbology letter the engine reports with each barcode, the
// engine's symbology id and the section name of DecodeSettings.Vqf. Plain
// data without a platform header: the host terminal's picture engine reads
// it too.
#pragma once

enum SymbologyForm {
    SymbologyNoSection = 0,  // no DecodeSettings.Vqf section configures it
    SymbologyShortForm = 1,  // flags only (record size 12, mask 1)
    SymbologyLongForm = 2,   // flags and lengths (record size 20, mask 7)
};

constexpr int kBarcodeSymNumbers = 46;  // BarcodeSym 1..46

struct Symbology {
    int number;           // BarcodeSym number; 0 when none names it
    char letter;          // symbology letter reported by the engine
    const char* name;     // short name, lower case, one word (code128)
    const char* section;  // DecodeSettings.Vqf section name; null when none
    int engineId;         // the engine's symbology id
    SymbologyForm form;
};

// BarcodeSym 1..46 in order, then the decode-settings sections that no
// BarcodeSym number names.
constexpr int kSymbologyEntries = 48;
extern const Symbology kSymbologyTable[kSymbologyEntries];
extern const int kSymbologyCount;

// The entry of BarcodeSym `number`; null outside 1..46.
const Symbology* symbologyByNumber(int number);
// The entry whose DecodeSettings.Vqf section is named `section` exactly; null when none.
const Symbology* symbologyBySection(const char* section);
// A symbology as a person names it: a BarcodeSym number ("4"), a name
// ("code128", any letter case, blanks and "-" ignored) or a section name
// ("Code 39"). Null when the text names none.
const Symbology* symbologyByWord(const char* word);
// The entries that carry `letter` (y, j, c, f, I and E are shared), in table
// order: stores up to `capacity` of them in `found` and returns how many
// there are.
int symbologiesByLetter(char letter, const Symbology** found, int capacity);
