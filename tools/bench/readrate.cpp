// Read rate of the scan engine against zbarimg (zbar-tools) on a generated
// set: every format the engine's writer draws, clean, turned, blurred, noisy,
// small and all at once, on 640 x 480 pictures. Prints a table of reads per
// format and variant for both; formats zbarimg does not know show "-".
//   build/default/tools/bench/bench_readrate [--keep]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/decoder/imaging/label.h"
#include "platform/decoder/imaging/symbols.h"

namespace {

using namespace scanimage;

struct Sample {
    const char* format;
    const char* data;
    bool zbarKnows;
    const char* zbarForm = "";  // how zbarimg writes the same data, when it differs
};

const Sample kSamples[] = {
    {"Codabar", "A40156B", true},   {"Code39", "CODE 39", true},          {"Code93", "CODE-93", true},
    {"Code128", "Code-128/x", true}, {"EAN-8", "96385074", true},         {"EAN-13", "4006381333931", true},
    {"ITF", "00123456789012", true}, {"UPC-A", "036000291452", true, "0036000291452"},
    {"UPC-E", "01234565", true, "0012345000065"},
    {"QRCode", "https://example.com/q?a=1", true},                         {"Aztec", "AZTEC 42", false},
    {"DataMatrix", "Matrix 7", false}, {"PDF417", "PDF 417", false},
};

struct Variant {
    const char* name;
    double rotate, blur, noise, scale;
};

const Variant kVariants[] = {
    {"clean", 0, 0, 0, 1},       {"rot 8", 8, 0, 0, 1},        {"rot 30", 30, 0, 0, 1},
    {"rot 90", 90, 0, 0, 1},     {"blur 1.2", 0, 1.2, 0, 1},   {"noise 25", 0, 0, 25, 1},
    {"small 0.5", 0, 0, 0, 0.5}, {"photo", 6, 0.8, 12, 0.8},
};

std::string zbar(const std::string& path) {
    std::string command = "zbarimg -q --raw '" + path + "' 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return "";
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = argc > 1 && std::strcmp(argv[1], "--keep") == 0;
    bool haveZbar = std::system("command -v zbarimg >/dev/null 2>&1") == 0;
    char pattern[] = "/tmp/keyvane-readrate-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string dir = pattern;
    const int variants = static_cast<int>(sizeof kVariants / sizeof kVariants[0]);
    std::printf("%-11s", "format");
    for (const Variant& v : kVariants) std::printf(" | %-9s", v.name);
    std::printf(" | engine | zbarimg\n");
    int engineTotal = 0, zbarTotal = 0, sharedCount = 0;
    for (const Sample& s : kSamples) {
        std::printf("%-11s", s.format);
        int engineReads = 0, zbarReads = 0;
        for (int i = 0; i < variants; ++i) {
            const Variant& v = kVariants[i];
            GrayImage l;
            std::string error;
            LabelStyle style;
            style.moduleSize = 3;
            style.barHeight = 70;
            renderLabel(*formatByName(s.format), s.data, style, l, error);
            if (v.scale != 1) l = scaled(l, v.scale);
            if (v.rotate != 0) l = rotated(l, v.rotate);
            GrayImage p = canvas(640, 480);
            place(p, l, (640 - l.width) / 2, (480 - l.height) / 2);
            p = blurred(p, v.blur);
            addNoise(p, v.noise, static_cast<uint32_t>(i + 1));
            std::string path = dir + "/" + s.format + "-" + std::to_string(i) + ".png";
            saveImage(path, p);
            GrayImage loaded;
            loadImage(path, loaded);
            Symbol found[kMaxSymbols];
            int n = readSymbols(loaded, openRequest(), found, kMaxSymbols);
            bool engine = n == 1 && found[0].bytes == s.data;
            std::string z = haveZbar && s.zbarKnows ? zbar(path) : "";
            // zbarimg reports UPC-A and UPC-E as the EAN-13 they stand for.
            bool byZbar = z == s.data || (*s.zbarForm != 0 && z == s.zbarForm);
            engineReads += engine;
            zbarReads += byZbar;
            std::printf(" | %-4s %-4s", engine ? "yes" : "no", !s.zbarKnows ? "-" : byZbar ? "yes" : "no");
        }
        std::printf(" | %d/%d   | %s\n", engineReads, variants,
                    s.zbarKnows ? (std::to_string(zbarReads) + "/" + std::to_string(variants)).c_str() : "-");
        if (s.zbarKnows) {
            engineTotal += engineReads;
            zbarTotal += zbarReads;
            sharedCount += variants;
        }
    }
    std::printf("\nformats both read: engine %d/%d, zbarimg %d/%d%s\n", engineTotal, sharedCount, zbarTotal, sharedCount,
                haveZbar ? "" : " (zbarimg not installed)");
    if (!keep)
        std::filesystem::remove_all(dir);
    else
        std::printf("images kept in %s\n", dir.c_str());
    return 0;
}
