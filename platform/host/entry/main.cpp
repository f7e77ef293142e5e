// The host terminal's process entry: the command line is the program's
// arguments joined with single blanks (no argument gives the empty line).
// A terminal root, configuration or decoder library that another local user
// could change is refused before anything of it is used.
#include <cstdio>
#include <string>

#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "shell/app.h"

int main(int argc, char** argv) {
    std::string problem = terminal::safetyProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "keyvane: %s\n", problem.c_str());
        return -1;
    }
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    // The wide command line, bounded like the platform's own.
    static WCHAR wide[1024];
    textWiden(wide, sizeof(wide) / sizeof(wide[0]), line.c_str(), line.size());
    return keyvaneMain(GetModuleHandleW(nullptr), wide);
}
