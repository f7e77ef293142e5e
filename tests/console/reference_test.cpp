// keyvane.ini(5) and `settings KEY`: how keys combine, and the manual's
// example files, each clean for check --strict and doing what its comments
// say through explain.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "console_fixture.h"

namespace consoletest {

namespace {

std::string examplesFolder() {
    return std::string(KEYVANE_SOURCE_DIR) + "/dist/man/examples";
}

std::vector<std::string> exampleFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(examplesFolder()))
        if (entry.path().extension() == ".ini") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// The claims of an example: the barcodes of each "' explain:" comment and
// the text of the "' typed:" comment after it; "' serial: none" says that
// nothing goes to a serial port.
struct Claim {
    std::vector<std::string> barcodes;
    std::string typed;
    bool noSerial = false;
};

std::vector<Claim> claimsOf(const std::string& path) {
    std::vector<Claim> claims;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("' explain: ", 0) == 0) {
            std::istringstream words(line.substr(11));
            claims.emplace_back();
            for (std::string w; words >> w;) claims.back().barcodes.push_back(w);
        } else if (line.rfind("' typed: ", 0) == 0 && !claims.empty()) {
            claims.back().typed = line.substr(9);
        } else if (line == "' serial: none" && !claims.empty()) {
            claims.back().noSerial = true;
        }
    }
    return claims;
}

}  // namespace

TEST_F(Console, ManualExamplesAreCleanAndDoWhatTheySay) {
    std::vector<std::string> files = exampleFiles();
    ASSERT_GE(files.size(), 3u);
    Result page = run({"settings", "--roff", "--examples", examplesFolder()}, false);
    ASSERT_EQ(page.code, 0) << page.err;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string name;  // as roff writes it
        for (char c : fs::path(file).filename().string()) name += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(page.out.find(".SS " + name + "\n"), std::string::npos) << page.out;
        Result check = run({"check", "--strict", file}, false);
        EXPECT_EQ(check.code, 0) << check.out << check.err;
        std::vector<Claim> claims = claimsOf(file);
        ASSERT_FALSE(claims.empty());
        for (const Claim& claim : claims) {
            ASSERT_FALSE(claim.typed.empty());
            std::vector<std::string> args = {"explain", "--settings", file};
            args.insert(args.end(), claim.barcodes.begin(), claim.barcodes.end());
            Result r = run(args, false);
            ASSERT_EQ(r.code, 0) << r.err;
            // The typed text of the last barcode's record: the whole set's with scan sync.
            size_t at = r.out.rfind("   typed:    ");
            ASSERT_NE(at, std::string::npos) << r.out;
            at += 13;
            EXPECT_EQ(r.out.substr(at, r.out.find('\n', at) - at), claim.typed) << r.out;
            if (claim.noSerial) {
                EXPECT_EQ(r.out.find("   serial:"), std::string::npos) << r.out;
            }
        }
    }
}

TEST_F(Console, SettingsOfAKeyTellHowItCombines) {
    Result r = run({"settings", "StartWith"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("HOW RULES ARE MATCHED: Without scan sync"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("StartWith and Length do nothing there"), std::string::npos) << r.out;

    r = run({"settings", "SendData"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("KEYS THAT SET OTHERS: OutPutMode sets SendToForegroundApp and SendData"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("HOW RULES ARE MATCHED"), std::string::npos) << r.out;

    r = run({"settings", "--roff"}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(".SH CODE LISTS\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a rule without a suffix ends its barcode with none"), std::string::npos) << r.out;
}

}  // namespace consoletest
