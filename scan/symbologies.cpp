// The symbology table.
#include "scan/symbologies.h"

#include <cstring>

namespace {

constexpr SymbologyForm S = SymbologyShortForm;
constexpr SymbologyForm L = SymbologyLongForm;
constexpr SymbologyForm N = SymbologyNoSection;

}  // namespace

// The letter of BarcodeSym n is the n-th of
// "zahjbliywDdexROrsycEjBCAfqJLKgT=<fmnQ?toWcMNII", the letter the engine
// reports for that symbology. Numbers 1 to 16 configure engine id n-1 (12,
// "e", is Interleaved 2 of 5, id 26), 17 to 20 id n, 21 to 46 id n+1. Ids
// without a decode-settings section are named by their id.
const Symbology kSymbologyTable[kSymbologyEntries] = {
    {1, 'z', "aztec", "Aztec", 0, L},
    {2, 'a', "codabar", "Codabar", 1, L},
    {3, 'h', "code11", "Code11", 2, L},
    {4, 'j', "code128", "Code128", 3, L},
    {5, 'b', "code39", "Code 39", 4, L},
    {6, 'l', "code49", "Code49", 5, L},
    {7, 'i', "code93", "Code93", 6, L},
    {8, 'y', "composite", "Composite", 7, L},
    {9, 'w', "datamatrix", "DataMatrix", 8, L},
    {10, 'D', "ean8", "EAN8", 9, S},
    {11, 'd', "ean13", "EAN13", 10, S},
    {12, 'e', "int25", "Int25", 26, L},
    {13, 'x', "maxicode", "MaxiCode", 12, L},
    {14, 'R', "micropdf", "MicroPDF", 13, L},
    {15, 'O', "id14", nullptr, 14, N},
    {16, 'r', "pdf417", "PDF417", 15, L},
    {17, 's', "qr", "QR", 17, L},
    {18, 'y', "rss", "RSS", 18, L},
    {19, 'c', "upca", "UPCA", 19, S},
    {20, 'E', "upce0", "UPCE0", 20, S},
    {21, 'j', "isbt", "ISBT", 22, S},
    {22, 'B', "bpo", "BPO", 23, S},
    {23, 'C', "canpost", "CanPost", 24, S},
    {24, 'A', "australianpost", "Australian Post", 25, L},
    {25, 'f', "iata25", "IATA25", 26, L},
    {26, 'q', "codablock", "Codablock", 27, L},
    {27, 'J', "japost", "JaPost", 28, S},
    {28, 'L', "planet", "Planet", 29, S},
    {29, 'K', "dutchpost", "DutchPost", 30, S},
    {30, 'g', "msi", "MSI", 31, L},
    {31, 'T', "tlc39", "TLC39", 32, S},
    {32, '=', "trioptic", "Trioptic", 33, S},
    {33, '<', "code32", "Code32", 34, S},
    {34, 'f', "strt25", "Strt25", 35, L},
    {35, 'm', "matrix25", "Matrix25", 36, L},
    {36, 'n', "plessey", "Plessey", 37, L},
    {37, 'Q', "chinapost", "ChinaPost", 38, L},
    {38, '?', "koreapost", "KoreaPost", 39, L},
    {39, 't', "telepen", "TelePen", 40, L},
    {40, 'o', "code16k", "Code16K", 41, L},
    {41, 'W', "posicode", "PosiCode", 42, L},
    {42, 'c', "id43", nullptr, 43, N},
    {43, 'M', "id44", nullptr, 44, N},
    {44, 'N', "idtag", "IDTag", 45, S},
    {45, 'I', "labelcode", "LabelCode", 46, S},
    {46, 'I', "gs1_128", "GS1_128", 47, L},
    {0, 'P', "postnet", "Postnet", 16, S},
    {0, 'E', "upce1", "UPCE1", 21, S},
};
const int kSymbologyCount = kSymbologyEntries;

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares ignoring letter case, blanks and "-".
bool sameWord(const char* text, const char* name) {
    for (;;) {
        while (*text == ' ' || *text == '-') ++text;
        while (*name == ' ' || *name == '-') ++name;
        if (lowerAscii(*text) != lowerAscii(*name)) return false;
        if (*text == 0) return true;
        ++text;
        ++name;
    }
}

}  // namespace

const Symbology* symbologyByNumber(int number) {
    if (number < 1 || number > kBarcodeSymNumbers) return nullptr;
    return &kSymbologyTable[number - 1];
}

const Symbology* symbologyBySection(const char* section) {
    if (section == nullptr) return nullptr;
    for (int i = 0; i < kSymbologyCount; ++i) {
        const Symbology& s = kSymbologyTable[i];
        if (s.section != nullptr && std::strcmp(s.section, section) == 0) return &s;
    }
    return nullptr;
}

const Symbology* symbologyByWord(const char* word) {
    if (word == nullptr || word[0] == 0) return nullptr;
    bool digits = true;
    int number = 0;
    for (const char* p = word; *p != 0 && digits; ++p) {
        digits = *p >= '0' && *p <= '9' && p - word < 3;
        if (digits) number = number * 10 + (*p - '0');
    }
    if (digits) return symbologyByNumber(number);
    for (int i = 0; i < kSymbologyCount; ++i) {
        const Symbology& s = kSymbologyTable[i];
        if (sameWord(word, s.name) || (s.section != nullptr && sameWord(word, s.section))) return &s;
    }
    return nullptr;
}

int symbologiesByLetter(char letter, const Symbology** found, int capacity) {
    if (letter == 0) return 0;
    int count = 0;
    for (int i = 0; i < kSymbologyCount; ++i) {
        if (kSymbologyTable[i].letter != letter) continue;
        if (found != nullptr && count < capacity) found[count] = &kSymbologyTable[i];
        ++count;
    }
    return count;
}
