// The settings line reader against golden files: each tests/fixtures/
// settingsline/NAME.ini is read piece by piece, and every piece's key, value
// and the value's readings as flag, number, digit and code list must equal
// NAME.tokens. KEYVANE_UPDATE_GOLDEN=1 rewrites the .tokens files (review
// the difference before committing it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/textfile.h"
#include "settings/settings.h"
#include "settings/settingsline.h"
#include "tests/support/files.h"
#include "tests/support/golden.h"

namespace {

const std::string kGoldenDir = std::string(KEYVANE_SOURCE_DIR) + "/tests/fixtures/settingsline";

std::string shown(const WCHAR* text) {
    std::string out;
    for (; *text != 0; ++text) {
        if (*text == '\t') {
            out += "\\t";
        } else if (*text < 0x20 || *text > 0x7E) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(*text));
            out += buffer;
        } else {
            out += static_cast<char>(*text);
        }
    }
    return out;
}

std::string tokens(const std::string& bytes) {
    TextFile* file = textFileOpenBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::ostringstream out;
    WCHAR line[kSettingsLineChars];
    SettingsLineCount count;
    bool cut = false;
    while (readSettingsPiece(file, line, count, cut)) {
        SettingsLine parsed = prepareSettingsLine(line);
        out << count.line << (cut ? " cut" : "") << (parsed.header ? " header" : "") << " key=\"" << shown(parsed.key)
            << "\"";
        if (parsed.value != nullptr) {
            const WCHAR* v = parsed.value;
            WORD codes[kGlobalCodeListSlots];
            int loss = settingsCodeList(codes, kGlobalCodeListSlots, v);
            out << " value=\"" << shown(v) << "\" flag=" << int(settingsFlag(v)) << " number=" << settingsNumber(v)
                << (settingsNumberWhole(v) ? "" : "?") << " digit=" << settingsDigit(v) << " codes=";
            for (int i = 0; codes[i] != 0; ++i) out << (i ? "," : "") << codes[i];
            if (loss != 0) out << " loss=" << loss;
        }
        out << "\n";
    }
    textFileClose(file);
    return out.str();
}

class SettingsLineGolden : public ::testing::TestWithParam<std::string> {};

TEST_P(SettingsLineGolden, PiecesKeysAndValuesAsRecorded) {
    std::string base = kGoldenDir + "/" + GetParam();
    golden::expectFile(base + ".tokens", tokens(testfiles::fileText(base + ".ini")));
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsLineGolden, ::testing::Values("lines", "values", "long"));

}  // namespace
