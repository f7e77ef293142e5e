// keyvane-terminal --version: the console's own version and those of the
// wedge and the stand-in decoder library that this console would use.
#include "version.h"

#include <fstream>
#include <ostream>

#include "console.h"
#include "keyvane_version.h"

namespace console {

std::string binaryVersion(const std::string& path, const std::string& name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string mark = "@(#)" + name + " ";
    constexpr size_t kChunk = 1 << 16;
    constexpr size_t kLongest = 64;  // longest version read
    std::string window;              // the end of the last chunk, then the next one
    char buffer[kChunk];
    while (in) {
        in.read(buffer, sizeof buffer);
        window.append(buffer, static_cast<size_t>(in.gcount()));
        size_t at = window.find(mark);
        if (at != std::string::npos) {
            size_t from = at + mark.size();
            // The version may run on into the next chunk.
            while (window.size() < from + kLongest && in) {
                in.read(buffer, sizeof buffer);
                window.append(buffer, static_cast<size_t>(in.gcount()));
            }
            std::string version;
            for (size_t i = from; i < window.size() && i < from + kLongest && window[i] != 0; ++i) {
                unsigned char c = static_cast<unsigned char>(window[i]);
                if (c < 0x21 || c > 0x7E) return {};
                version += window[i];
            }
            return version;
        }
        if (window.size() > mark.size() + kLongest) window.erase(0, window.size() - mark.size());
    }
    return {};
}

namespace {

void describe(std::ostream& out, const char* what, const std::string& path, const std::string& name) {
    out << what << " ";
    if (path.empty() || !std::ifstream(path)) {
        out << "(not found" << (path.empty() ? "" : ": " + path) << ")\n";
        return;
    }
    std::string version = binaryVersion(path, name);
    out << (version.empty() ? "(unknown version)" : version) << " " << path << "\n";
}

}  // namespace

void printVersion(std::ostream& out) {
    out << "keyvane-terminal " << KEYVANE_VERSION << "\n";
    describe(out, "wedge", wedgePath(), "keyvane");
    describe(out, "decoder", decoderPath(), "Decoder");
}

}  // namespace console
