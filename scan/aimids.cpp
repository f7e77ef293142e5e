#include "scan/aimids.h"

namespace {

struct AimCode {
    char code;
    char modifier;  // 0: any
    const char* name;
};

// The more particular line (with its modifier) before the general one.
constexpr AimCode kAimCodes[] = {
    {'A', 0, "code39"},   {'C', 0, "code128"},   {'E', '4', "ean8"}, {'E', 0, "ean13"},   {'F', 0, "codabar"},
    {'G', 0, "code93"},   {'H', 0, "code11"},    {'I', 0, "int25"},  {'L', 0, "pdf417"},  {'M', 0, "msi"},
    {'P', 0, "plessey"},  {'Q', 0, "qr"},        {'R', 0, "strt25"}, {'S', 0, "strt25"},  {'U', 0, "maxicode"},
    {'d', 0, "datamatrix"}, {'e', 0, "rss"},   {'z', 0, "aztec"},
};

}  // namespace

const Symbology* symbologyByAim(char code, char modifier) {
    for (const AimCode& a : kAimCodes) {
        if (a.code != code || (a.modifier != 0 && a.modifier != modifier)) continue;
        return symbologyByWord(a.name);
    }
    return nullptr;
}
