// Compiles the program's resource script (the subset that keyvane.rc uses:
// #define, #include of a header of #define lines, STRINGTABLE, ICON, MENU with POPUP/MENUITEM, ACCELERATORS and
// binary resources such as WAVE) into a C++ resource table for the host
// terminal (platform/host/resources.h).
//
//   keyvane-rc <script.rc> <output.cpp>
//
// Files named by the script are read relative to the script's folder; a
// missing binary file is left out with a warning.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/rc/rcscript.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: keyvane-rc <script.rc> <output.cpp>\n";
        return 2;
    }
    bool ok = false;
    std::string script = argv[1];
    std::string source = rcscript::readFile(script, &ok);
    if (!ok) {
        std::cerr << "rc: cannot read " << script << "\n";
        return 1;
    }
    size_t slash = script.find_last_of('/');
    rcscript::Parser parser(source, slash == std::string::npos ? "." : script.substr(0, slash));
    parser.run();
    if (parser.failed) {
        std::cerr << "rc: " << script << ": " << parser.error << "\n";
        return 1;
    }
    std::ostringstream cpp;
    cpp << "// Generated from " << script.substr(slash == std::string::npos ? 0 : slash + 1)
        << " by keyvane-rc; do not edit.\n#include \"platform/host/resources.h\"\n\n"
        << "namespace host {\nnamespace {\n\n";
    for (const std::string& a : parser.arrays) cpp << a << "\n";
    cpp << "}  // namespace\n\nconst Resource table[] = {";
    for (const std::string& e : parser.out) cpp << "\n    " << e << ",";
    cpp << "\n};\nconst size_t tableCount = " << parser.out.size() << ";\n\n}  // namespace host\n";
    std::ofstream out(argv[2], std::ios::binary);
    out << cpp.str();
    if (!out) {
        std::cerr << "rc: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
