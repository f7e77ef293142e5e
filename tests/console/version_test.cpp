// keyvane-terminal --version: the console's version and the versions of the
// wedge and the decoder library it would use, read from their files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "keyvane_version.h"
#include "tests/console/console_fixture.h"
#include "tests/support/files.h"

namespace fs = std::filesystem;

namespace {

class ConsoleVersion : public consoletest::Console {
protected:
    // keyvane-terminal --version with the given environment settings.
    std::string version(const std::string& environment = "") {
        std::string out = dir_ + "/out";
        std::string command = "env -u KEYVANE_WEDGE -u KEYVANE_DECODER " + environment + " " +
                              std::string(KEYVANE_BINARY_DIR) + "/keyvane-terminal --version > " + out;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return testfiles::fileText(out);
    }

    // A file of `size` bytes of filler with `text` written at `offset`.
    std::string fileWith(const std::string& name, size_t size, size_t offset, const std::string& text) {
        std::string bytes(size, '\x7f');
        bytes.replace(offset, text.size(), text);
        bytes.resize(size);
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

TEST_F(ConsoleVersion, ShowsTheBuildsWedgeAndDecoderWithTheProjectVersion) {
    std::string bin = fs::canonical(KEYVANE_BINARY_DIR).string();
    EXPECT_EQ(version(), std::string("keyvane-terminal " KEYVANE_VERSION "\n") +
                             "wedge " KEYVANE_VERSION " " + bin + "/keyvane\n" +
                             "decoder " KEYVANE_VERSION " " + bin + "/platform/decoder/libDecoder.so\n");
}

TEST_F(ConsoleVersion, KeyvaneDecoderChoosesTheLibraryByFileOrFolder) {
    fs::create_directories(dir_ + "/other");
    fs::copy_file(std::string(KEYVANE_BINARY_DIR) + "/platform/decoder/libDecoder.so", dir_ + "/other/libDecoder.so");
    std::string expected = "decoder " KEYVANE_VERSION " " + dir_ + "/other/libDecoder.so\n";
    EXPECT_NE(version("KEYVANE_DECODER=" + dir_ + "/other").find(expected), std::string::npos);
    EXPECT_NE(version("KEYVANE_DECODER=" + dir_ + "/other/libDecoder.so").find(expected), std::string::npos);
    // A name that is no file leaves the search to the library beside the programs.
    EXPECT_NE(version("KEYVANE_DECODER=" + dir_ + "/none").find("/platform/decoder/libDecoder.so\n"),
              std::string::npos);
}

TEST_F(ConsoleVersion, ReadsTheWhatStringAnywhereInTheFile) {
    // Across the boundary of the 64 KiB pieces the file is read in.
    std::string across = fileWith("across", 200000, 65536 - 5, std::string("@(#)keyvane 7.8.9\0", 18));
    EXPECT_NE(version("KEYVANE_WEDGE=" + across).find("wedge 7.8.9 " + across + "\n"), std::string::npos);
    // The version runs to the end of the file.
    std::string atEnd = fileWith("at-end", 100, 83, "@(#)keyvane 2.0.1");
    EXPECT_NE(version("KEYVANE_WEDGE=" + atEnd).find("wedge 2.0.1 " + atEnd + "\n"), std::string::npos);
    // Another program's what-string is not the wedge's.
    std::string other = fileWith("other", 100, 10, std::string("@(#)Decoder 1.0.0\0", 18));
    EXPECT_NE(version("KEYVANE_WEDGE=" + other).find("wedge (unknown version) " + other + "\n"), std::string::npos);
    // Binary bytes where the version should be.
    std::string garbled = fileWith("garbled", 100, 10, std::string("@(#)keyvane 1.\x01\x02", 16));
    EXPECT_NE(version("KEYVANE_WEDGE=" + garbled).find("wedge (unknown version) " + garbled + "\n"),
              std::string::npos);
    EXPECT_NE(version("KEYVANE_WEDGE=" + dir_ + "/missing").find("wedge (not found: " + dir_ + "/missing)\n"),
              std::string::npos);
}

}  // namespace
