// The host terminal's process entry: the command line is the program's
// arguments joined with single blanks (no argument gives the empty line).
// "--version" and "--help" alone are answered here. The wedge runs only on a
// terminal that exists (KEYVANE_TERMINAL names its root, made by
// keyvane-terminal init): nothing of a terminal is made or touched before.
// A terminal root, configuration or decoder library that another local user
// could change is refused before anything of it is used.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "keyvane_version.h"
#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "shell/app.h"

namespace {

constexpr int kRefused = -1;

const char kHelp[] =
    "usage: keyvane [quit | connect | disconnect | enable | disable]\n"
    "The barcode keyboard wedge, on the host terminal whose root KEYVANE_TERMINAL\n"
    "names (make one with: keyvane-terminal --root DIR init). Started while another\n"
    "instance runs, it passes the command word (letter case ignored) to it.\n"
    "keyvane-terminal start starts it on a terminal and waits until it is loaded.\n"
    "  --help     this text\n"
    "  --version  the version\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("keyvane %s\n", KEYVANE_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const char* root = std::getenv("KEYVANE_TERMINAL");
    if (root == nullptr || root[0] == 0) {
        std::fprintf(stderr,
                     "keyvane: no terminal: KEYVANE_TERMINAL names none (make one with: keyvane-terminal --root DIR "
                     "init, then export KEYVANE_TERMINAL=DIR)\n");
        return kRefused;
    }
    if (!terminal::isRoot(root)) {
        std::fprintf(stderr,
                     "keyvane: no terminal at %s (KEYVANE_TERMINAL); make one with: keyvane-terminal --root %s init\n",
                     root, root);
        return kRefused;
    }
    std::string problem = terminal::safetyProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "keyvane: %s\n", problem.c_str());
        return kRefused;
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
