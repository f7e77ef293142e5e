// The symbology table against the two fixed tables it must agree with: the
// settings' letter table (BarcodeSym n stands for the n-th letter) and the
// decode-settings reader's section ids, written out here as the file format
// numbers them.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "scan/symbologies.h"

namespace {

// The n-th letter is BarcodeSym n's.
constexpr char kLetterTable[] = "zahjbliywDdexROrsycEjBCAfqJLKgT=<fmnQ?toWcMNII";

struct SectionId {
    const char* section;
    int id;
};
const SectionId kReaderIds[] = {
    {"Aztec", 0},     {"Australian Post", 25}, {"BPO", 23},        {"CanPost", 24},   {"ChinaPost", 38},
    {"Codabar", 1},   {"Codablock", 27},       {"Code11", 2},      {"Code16K", 41},   {"Code32", 34},
    {"Code 39", 4},   {"Code49", 5},           {"Code93", 6},      {"Code128", 3},    {"DataMatrix", 8},
    {"EAN8", 9},      {"EAN13", 10},           {"Composite", 7},   {"RSS", 18},       {"GS1_128", 47},
    {"IDTag", 45},    {"Int25", 26},           {"ISBT", 22},       {"JaPost", 28},    {"DutchPost", 30},
    {"KoreaPost", 39}, {"LabelCode", 46},      {"Matrix25", 36},   {"MaxiCode", 12},  {"MicroPDF", 13},
    {"PDF417", 15},   {"Planet", 29},          {"MSI", 31},        {"Plessey", 37},   {"PosiCode", 42},
    {"UPCA", 19},     {"UPCE0", 20},           {"UPCE1", 21},      {"Postnet", 16},   {"QR", 17},
    {"IATA25", 26},   {"Strt25", 35},          {"TLC39", 32},      {"TelePen", 40},   {"Trioptic", 33},
};

TEST(SymbologyTable, EveryBarcodeSymNumberHasTheLetterOfTheSettingsTable) {
    ASSERT_EQ(kBarcodeSymNumbers, static_cast<int>(std::strlen(kLetterTable)));
    for (int n = 1; n <= kBarcodeSymNumbers; ++n) {
        const Symbology* s = symbologyByNumber(n);
        ASSERT_NE(nullptr, s) << n;
        EXPECT_EQ(n, s->number);
        EXPECT_EQ(kLetterTable[n - 1], s->letter) << "BarcodeSym " << n << " " << s->name;
    }
    EXPECT_EQ(nullptr, symbologyByNumber(0));
    EXPECT_EQ(nullptr, symbologyByNumber(kBarcodeSymNumbers + 1));
}

TEST(SymbologyTable, EverySectionHasTheIdTheDecodeSettingsReaderGivesIt) {
    std::set<std::string> tableSections;
    for (int i = 0; i < kSymbologyCount; ++i) {
        const Symbology& s = kSymbologyTable[i];
        ASSERT_NE(nullptr, s.name) << i;
        EXPECT_NE(0, s.letter) << s.name;
        if (s.section == nullptr) {
            EXPECT_EQ(SymbologyNoSection, s.form) << s.name;
            continue;
        }
        EXPECT_NE(SymbologyNoSection, s.form) << s.name;
        EXPECT_TRUE(tableSections.insert(s.section).second) << "twice: " << s.section;
        bool found = false;
        for (const SectionId& r : kReaderIds) {
            if (std::strcmp(r.section, s.section) != 0) continue;
            found = true;
            EXPECT_EQ(r.id, s.engineId) << s.section;
        }
        EXPECT_TRUE(found) << "no decode-settings section " << s.section;
    }
    for (const SectionId& r : kReaderIds) {
        const Symbology* s = symbologyBySection(r.section);
        ASSERT_NE(nullptr, s) << r.section;
        EXPECT_EQ(r.id, s->engineId) << r.section;
    }
    EXPECT_EQ(sizeof kReaderIds / sizeof kReaderIds[0], tableSections.size());
}

TEST(SymbologyTable, NamesAreOneWordEachAndLettersFindEverySymbologyCarryingThem) {
    std::set<std::string> names;
    for (int i = 0; i < kSymbologyCount; ++i) {
        const Symbology& s = kSymbologyTable[i];
        EXPECT_TRUE(names.insert(s.name).second) << "twice: " << s.name;
        EXPECT_EQ(&s, symbologyByWord(s.name)) << s.name;
    }
    const Symbology* found[kSymbologyEntries];
    ASSERT_EQ(2, symbologiesByLetter('y', found, kSymbologyEntries));
    EXPECT_STREQ("composite", found[0]->name);
    EXPECT_STREQ("rss", found[1]->name);
    ASSERT_EQ(2, symbologiesByLetter('E', found, kSymbologyEntries));
    EXPECT_STREQ("upce0", found[0]->name);
    EXPECT_STREQ("upce1", found[1]->name);
    EXPECT_EQ(2, symbologiesByLetter('f', found, 1));  // counted beyond the room given
    EXPECT_STREQ("iata25", found[0]->name);
    ASSERT_EQ(1, symbologiesByLetter('s', found, kSymbologyEntries));
    EXPECT_STREQ("qr", found[0]->name);
    EXPECT_EQ(0, symbologiesByLetter('%', found, kSymbologyEntries));
    EXPECT_EQ(0, symbologiesByLetter(0, found, kSymbologyEntries));
}

}  // namespace
