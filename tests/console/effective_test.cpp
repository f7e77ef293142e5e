// keyvane-terminal settings --effective: the value each key holds after the
// wedge's reader read a file, and the line (or key) it came from.
#include "console_fixture.h"

namespace consoletest {

namespace {

// The plain record of KEY ("key=KEY\t..."), without its line end.
std::string keyLine(const std::string& out, const std::string& key) {
    std::string start = "key=" + key + "\t";
    size_t at = out.rfind("\n" + start);
    if (at == std::string::npos) {
        if (out.compare(0, start.size(), start) != 0) return "";
        at = 0;
    } else {
        ++at;
    }
    return out.substr(at, out.find('\n', at) - at);
}

}  // namespace

TEST_F(Console, EffectiveSettingsTellWhereEachValueCameFrom) {
    std::string file = writeScenario("Keyvane.ini",
                                     "SendData=1\n"                      // 1
                                     "OutPutMode=1\n"                    // 2: clears SendData
                                     "SendData=1\n"                      // 3: ignored after OutPutMode
                                     "PresentationMode=1\n"              // 4: sets ContinuousScan
                                     "ContinuousScan=0\n"                // 5: kept set by PresentationMode
                                     "VirbrateOnSuccessfulScanTime=500\n"  // 6
                                     "VirbrateOnSuccessfulScanTime=2001\n" // 7: refused
                                     "prefix=13,10\n"                    // 8
                                     "prefix=65\n"                       // 9
                                     "AimerMode=2\n"                     // 10: AimerTimeOut x10
                                     "EnableADVSuffixPrefix=1\n"         // 11
                                     "[Barcode2]\n"                      // 12
                                     "BarcodeSym=2\n"
                                     "suffix=13\n"
                                     "StartWith=AB\n");
    Result r = run({"settings", "--effective", file}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(keyLine(r.out, "SendData"),
              "key=SendData\tvalue=0\t" + file + ":2\tforced-by=OutPutMode\trefused=" + file + ":3")
        << r.out;
    EXPECT_EQ(keyLine(r.out, "OutPutMode"), "key=OutPutMode\tvalue=1\t" + file + ":2") << r.out;
    EXPECT_EQ(keyLine(r.out, "ContinuousScan"), "key=ContinuousScan\tvalue=1\t" + file +
                                                    ":4\tforced-by=PresentationMode\tleft-as-forced=" + file + ":5")
        << r.out;
    EXPECT_EQ(keyLine(r.out, "VirbrateOnSuccessfulScanTime"),
              "key=VirbrateOnSuccessfulScanTime\tvalue=500\t" + file + ":6\trefused=" + file + ":7")
        << r.out;
    EXPECT_EQ(keyLine(r.out, "prefix"), "key=prefix\tvalue=65\t" + file + ":9\toverwrites=" + file + ":8") << r.out;
    // Scaled after the last line, for AimerMode 2.
    EXPECT_EQ(keyLine(r.out, "AimerTimeOut").rfind("key=AimerTimeOut\tvalue=200\tdefault\tafter-read=", 0), 0u)
        << r.out;
    EXPECT_EQ(keyLine(r.out, "EnableSequenceEditor"),
              "key=EnableSequenceEditor\tvalue=0\tdefault")
        << r.out;
    EXPECT_EQ(keyLine(r.out, "ComportNumber"), "key=ComportNumber\tvalue=-1\tdefault") << r.out;
    EXPECT_EQ(keyLine(r.out, "EnableScanner"), "key=EnableScanner\tvalue=1\tdefault") << r.out;
    EXPECT_NE(r.out.find("[Sync1][Barcode2]\tgroup=1\tslot=2\tat=" + file + ":12\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("BarcodeSym=a\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("suffix=13\t"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("[Barcode1]"), std::string::npos) << r.out;

    r = run({"--json", "settings", "--effective", file}, false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"key\": \"VirbrateOnSuccessfulScanTime\", \"value\": 500,"), std::string::npos) << r.out;
}

TEST_F(Console, EffectiveSettingsRefuseASecondFile) {
    Result r = run({"settings", "--effective", "a.ini", "b.ini"}, false);
    EXPECT_EQ(r.code, 2) << r.err;
}

}  // namespace consoletest
