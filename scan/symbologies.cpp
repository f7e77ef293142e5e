// The symbology table.
#include "scan/symbologies.h"

#include <cstring>

namespace {

constexpr SymbologyForm S = SymbologyShortForm;
constexpr SymbologyForm L = SymbologyLongForm;
constexpr SymbologyForm N = SymbologyNoSection;

}  // namespace

// The letter of BarcodeSym n is the n-th of
// "zahjbliywDdexROrsycEjBCAfqJLKgT=<fmnQ?toWcMNII"; number n configures
// engine id n-1. Ids without a decode-settings section are named by their id.
const Symbology kSymbologyTable[] = {
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
    {12, 'e', "id11", nullptr, 11, N},
    {13, 'x', "maxicode", "MaxiCode", 12, L},
    {14, 'R', "micropdf", "MicroPDF", 13, L},
    {15, 'O', "id14", nullptr, 14, N},
    {16, 'r', "pdf417", "PDF417", 15, L},
    {17, 's', "postnet", "Postnet", 16, S},
    {18, 'y', "qr", "QR", 17, L},
    {19, 'c', "rss", "RSS", 18, L},
    {20, 'E', "upca", "UPCA", 19, S},
    {21, 'j', "upce0", "UPCE0", 20, S},
    {22, 'B', "upce1", "UPCE1", 21, S},
    {23, 'C', "isbt", "ISBT", 22, S},
    {24, 'A', "bpo", "BPO", 23, S},
    {25, 'f', "canpost", "CanPost", 24, S},
    {26, 'q', "australianpost", "Australian Post", 25, L},
    {27, 'J', "int25", "Int25", 26, L},
    {28, 'L', "codablock", "Codablock", 27, L},
    {29, 'K', "japost", "JaPost", 28, S},
    {30, 'g', "planet", "Planet", 29, S},
    {31, 'T', "dutchpost", "DutchPost", 30, S},
    {32, '=', "msi", "MSI", 31, L},
    {33, '<', "tlc39", "TLC39", 32, S},
    {34, 'f', "trioptic", "Trioptic", 33, S},
    {35, 'm', "code32", "Code32", 34, S},
    {36, 'n', "strt25", "Strt25", 35, L},
    {37, 'Q', "matrix25", "Matrix25", 36, L},
    {38, '?', "plessey", "Plessey", 37, L},
    {39, 't', "chinapost", "ChinaPost", 38, L},
    {40, 'o', "koreapost", "KoreaPost", 39, L},
    {41, 'W', "telepen", "TelePen", 40, L},
    {42, 'c', "code16k", "Code16K", 41, L},
    {43, 'M', "posicode", "PosiCode", 42, L},
    {44, 'N', "id43", nullptr, 43, N},
    {45, 'I', "id44", nullptr, 44, N},
    {46, 'I', "idtag", "IDTag", 45, S},
    {0, 'J', "iata25", "IATA25", 26, L},
    {0, 0, "labelcode", "LabelCode", 46, S},
    {0, 0, "gs1_128", "GS1_128", 47, L},
};
const int kSymbologyCount = sizeof kSymbologyTable / sizeof kSymbologyTable[0];

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

const Symbology* symbologyByLetter(char letter) {
    if (letter == 0) return nullptr;
    for (int i = 0; i < kSymbologyCount; ++i)
        if (kSymbologyTable[i].letter == letter) return &kSymbologyTable[i];
    return nullptr;
}
