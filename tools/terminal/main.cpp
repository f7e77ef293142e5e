// keyvane-terminal: the console of the host terminal.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "console.h"
#include "version.h"

int main(int argc, char** argv) {
    console::Options options;
    if (const char* env = std::getenv("KEYVANE_TERMINAL"); env && *env) {
        // Scenarios still get a fresh root unless --root names one.
        options.root = env;
    } else {
        options.root = "terminal";
    }
    console::Args args;
    bool commandSeen = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (!commandSeen && a == "--root") {
            if (i + 1 >= argc || argv[i + 1][0] == 0) {
                std::cerr << "keyvane-terminal: --root needs a folder\n";
                return console::kUsage;
            }
            options.root = argv[++i];
            options.rootGiven = true;
        } else if (!commandSeen && a == "--json") {
            options.json = true;
        } else if (!commandSeen && (a == "--help" || a == "-h")) {
            console::printHelp("", std::cout);
            return console::kOk;
        } else if (!commandSeen && a == "--version") {
            console::printVersion(std::cout);
            return console::kOk;
        } else if (!commandSeen && a.size() > 1 && a[0] == '-') {
            std::cerr << "keyvane-terminal: unknown option " << a << " (keyvane-terminal --help)\n";
            return console::kUsage;
        } else {
            // Arguments take escapes ("\r", "\x02").
            std::string word, error;
            if (!console::unescape(a, word, error)) {
                std::cerr << "keyvane-terminal: argument " << i << " (" << a << "): " << error << "\n";
                return console::kUsage;
            }
            args.push_back(word);
            commandSeen = true;
        }
    }
    std::error_code ec;
    options.root = std::filesystem::absolute(options.root, ec).lexically_normal().string();
    if (options.root.size() > 1 && options.root.back() == '/') options.root.pop_back();
    // Long waits say what they wait for where a person watches.
    if (!options.json && isatty(2)) options.progress = &std::cerr;
    int rc = console::runCommand(options, args, std::cout, std::cerr);
    std::cout.flush();
    return rc;
}
