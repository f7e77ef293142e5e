// keyvane-terminal: the console of the host terminal.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

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
    // A mistake in the words themselves, said as every command says it.
    auto mistake = [&](const std::string& what) {
        for (int i = 1; i < argc; ++i) options.json = options.json || std::string(argv[i]) == "--json";
        if (options.json)
            console::printRecord(options, {{"command", ""}, {"error", what}, {"exit", console::kUsage}}, std::cerr);
        else
            std::cerr << "keyvane-terminal: " << what << "\n";
        return console::kUsage;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (!commandSeen && a == "--root") {
            if (i + 1 >= argc || argv[i + 1][0] == 0) {
                return mistake("--root needs a folder");
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
            return mistake("unknown option " + a + " (keyvane-terminal --help lists the options)");
        } else {
            // Arguments take escapes ("\r", "\x02").
            std::string word, error;
            if (!console::unescape(a, word, error)) {
                return mistake("argument " + std::to_string(i) + " (" + a + "): " + error);
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
