// What the settings reader makes of whole files, against golden files: for
// each tests/fixtures/settingsread/*.ini (and the check's and the samples'
// files) the notes of a check, then the settings record, the rule table and
// the card-reader settings after the check and after a load on the device,
// with the message boxes the load showed. KEYVANE_UPDATE_GOLDEN=1 rewrites
// tests/fixtures/settingsread/NAME.reading (review the difference).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/textfile.h"
#include "settings_fixture.h"
#include "tests/support/files.h"
#include "tests/support/golden.h"

namespace {

const std::string kFixtures = std::string(KEYVANE_SOURCE_DIR) + "/tests/fixtures/";

std::string narrow(const WCHAR* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        if (*text >= 0x20 && *text < 0x7f) {
            out += static_cast<char>(*text);
        } else {
            char escaped[12];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(*text));
            out += escaped;
        }
    }
    return out;
}

std::string codeList(const WORD* list, int slots) {
    std::string out;
    for (int i = 0; i < slots; ++i) out += (i ? "," : "") + std::to_string(list[i]);
    // Trailing zeros are shown once.
    while (out.size() > 2 && out.compare(out.size() - 2, 2, ",0") == 0) out.resize(out.size() - 2);
    return out;
}

void dumpRecords(std::ostream& out) {
    const SettingsRecord& s = settings;
    out << "record: AimerTimeOut=" << s.AimerTimeOut << " EnableLEDs=" << int(s.EnableLEDs)
        << " VirbrateOnSuccessfulScanTime=" << s.VirbrateOnSuccessfulScanTime
        << " VirbrateOnSuccessfulScan=" << int(s.VirbrateOnSuccessfulScan) << " EnableScanner=" << int(s.EnableScanner)
        << " PrefixID=" << s.PrefixID << " SuffixID=" << s.SuffixID
        << " CancelOnNoneSeqScan=" << int(s.CancelOnNoneSeqScan) << " EnableSequenceEditor=" << s.EnableSequenceEditor
        << " ComportNumber=" << s.ComportNumber << " SendData=" << int(s.SendData.load())
        << " ContinuousScan=" << int(s.ContinuousScan) << " PresentationMode=" << int(s.PresentationMode.load())
        << " ConnectingTo=" << s.ConnectingTo << " ScanDelayMode=" << s.ScanDelayMode
        << " ScanDelaySetting=" << s.ScanDelaySetting << " SendToForegroundApp=" << int(s.SendToForegroundApp)
        << " EnableADVSuffixPrefix=" << int(s.EnableADVSuffixPrefix) << " InterCharacterDelay=" << s.InterCharacterDelay
        << " SuffixWait=" << s.SuffixWait << " PrefixWait=" << s.PrefixWait << " Centering=" << int(s.Centering)
        << " AmierMode=" << s.AmierMode << " RemapToTab=" << s.RemapToTab
        << " editControlDelivery=" << int(s.editControlDelivery) << " scannerEnabled=" << int(s.scannerEnabled.load())
        << " multiDecode=" << int(s.multiDecode.load()) << "\n";
    out << "record: prefix=" << codeList(s.prefix, kGlobalCodeListSlots)
        << " Suffix=" << codeList(s.Suffix, kGlobalCodeListSlots) << " OutputFormat=\"" << s.OutputFormat << "\"\n";
    for (int g = 0; g < kSyncGroups; ++g) {
        for (int r = 0; r < kRulesPerGroup; ++r) {
            const BarcodeRule& rule = ruleTable[g][r];
            std::string text = "letter=" + std::to_string(rule.symbologyLetter) +
                               " prefix=" + codeList(rule.prefix, kRuleCodeListSlots) +
                               " prefixWait=" + std::to_string(rule.prefixWait) +
                               " suffix=" + codeList(rule.suffix, kRuleCodeListSlots) +
                               " suffixWait=" + std::to_string(rule.suffixWait) +
                               " length=" + std::to_string(rule.length) + " startText=\"" + narrow(rule.startText) +
                               "\" beep=" + std::to_string(rule.beep) + " customSound=\"" +
                               narrow(rule.customSound) + "\"";
            if (text != "letter=0 prefix=0 prefixWait=0 suffix=0 suffixWait=0 length=0 startText=\"\" beep=0 "
                        "customSound=\"\"")
                out << "rule " << g + 1 << "." << r + 1 << ": " << text << "\n";
        }
    }
    const CardReaderSettings& c = cardReaderSettings;
    out << "card: outputFormat=\"" << c.outputFormat << "\" prefix=" << codeList(c.prefix, 20)
        << " suffix=" << codeList(c.suffix, 20) << " prefixWait=" << c.prefixWait << " suffixWait=" << c.suffixWait
        << " customSound=\"" << narrow(c.customSound) << "\" beep=" << int(c.beep) << " field=" << c.field << "\n";
}

class SettingsReadingGolden : public SettingsTest {
protected:
    std::string inspected(const std::string& bytes) {
        std::ostringstream out;
        SettingsDiagnostics diagnostics = {
            [](void* context, const SettingsNote& n) {
                *static_cast<std::ostringstream*>(context)
                    << "note " << n.line << "/" << n.pass << ": what=" << n.what << " key=\"" << narrow(n.key)
                    << "\" value=\"" << narrow(n.value) << "\" used=" << n.used << " detail=" << n.detail << "\n";
            },
            &out};
        TextFile* file = textFileOpenBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        inspectSettingsFile(file, diagnostics);
        textFileClose(file);
        dumpRecords(out);
        return out.str();
    }

    std::string loaded(const std::string& bytes) {
        resetProcessState();
        size_t shown = boxes().size();
        std::ostringstream out;
        out << "loaded: " << load(bytes) << "\n";
        dumpRecords(out);
        auto all = boxes();
        for (size_t i = shown; i < all.size(); ++i) out << "box: " << narrow(all[i].text.c_str()) << "\n";
        return out.str();
    }
};

TEST_F(SettingsReadingGolden, WholeFilesReadAsBefore) {
    std::vector<std::string> files = {kFixtures + "check/broken.ini", kFixtures + "settings/scan_sync.ini"};
    for (const auto& entry : std::filesystem::directory_iterator(kFixtures + "settingsread"))
        if (entry.path().extension() == ".ini") files.push_back(entry.path().string());
    for (const auto& entry : std::filesystem::directory_iterator(std::string(KEYVANE_SOURCE_DIR) + "/samples"))
        if (std::filesystem::exists(entry.path() / "Zentrova/Keyvane.ini"))
            files.push_back((entry.path() / "Zentrova/Keyvane.ini").string());
    ASSERT_GE(files.size(), 6u);
    std::sort(files.begin(), files.end());
    for (const std::string& path : files) {
        std::string bytes = testfiles::fileText(path);
        ASSERT_FALSE(bytes.empty()) << path;
        std::string actual = "--- check\n" + inspected(bytes) + "--- load\n" + loaded(bytes);
        std::filesystem::path source(path);
        // A sample's file is named after its sample folder.
        std::string name = source.stem() == "Keyvane" ? "sample-" + source.parent_path().parent_path().filename().string()
                                                      : source.stem().string();
        golden::expectFile(kFixtures + "settingsread/" + name + ".reading", actual);
    }
}

}  // namespace
