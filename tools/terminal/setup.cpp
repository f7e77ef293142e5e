// The console's commands that set the terminal up: make or reset it, set
// its configuration, write its files. What a person does with the terminal is
// in person.cpp, what it shows in readback.cpp.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "console.h"
#include "platform/decoder/frame.h"
#include "platform/host/terminal.h"
#include "settings/keytable.h"

namespace console {

namespace fs = std::filesystem;

namespace {

// init and reset take the terminal's state away from under a running wedge:
// refused, or with --force the wedge is stopped first.
int refuseWhileWedgeRuns(const Options& options, const char* command, bool force, std::ostream& err) {
    int pid = wedgeRunning(options);
    if (pid == 0) return kOk;
    if (!force)
        return failure(command, err,
                       "a wedge runs on this terminal (pid " + std::to_string(pid) +
                           "); stop it first (keyvane-terminal stop), or give --force to stop it");
    return stopWedgeFirst(options, command, err) ? kOk : kFailed;
}

}  // namespace

// The host path of a device file; either separator: "/CharInLog.txt" spares
// the escaping of "\\".
std::string deviceFile(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return terminal::hostPath(utf16(path));
}

int initCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::string from;
    bool clean = false, force = false;
    std::vector<OptionGiven> given;
    Args rest;
    if (int rc = readOptions("init", args, 1, kNoWords, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) {
        if (o.is("--from")) from = o.text;
        clean = clean || o.is("--clean");
        force = force || o.is("--force");
    }
    std::error_code ec;
    if (!from.empty() && !fs::is_directory(from, ec)) return usage("init", err, "no folder " + from);
    // A wedge running on the terminal would lose its state under it.
    if (terminal::isRoot(options.root)) {
        if (!terminal::attach(options.root))
            return failure("init", err, "cannot attach to the terminal at " + options.root);
        if (int rc = refuseWhileWedgeRuns(options, "init", force, err); rc != kOk) return rc;
    }
    if (clean) closeAllPeers(options);
    if (clean && fs::exists(options.root, ec)) {
        // Only a terminal root, or an empty folder, is emptied.
        if (!fs::is_empty(options.root, ec) && !fs::exists(options.root + "/.terminal", ec)) {
            err << "init --clean: " << options.root << " is no terminal root; not emptied\n";
            return kFailed;
        }
        // The terminal itself stays (processes attached to it keep their
        // shared state); its state is reset below.
        for (const auto& entry : fs::directory_iterator(options.root, ec))
            if (entry.path().filename() != ".terminal") fs::remove_all(entry.path(), ec);
    }
    fs::create_directories(options.root, ec);
    if (ec) {
        err << "cannot create " << options.root << ": " << ec.message() << "\n";
        return kFailed;
    }
    if (!terminal::attach(options.root)) {
        err << "cannot attach to the terminal at " << options.root << "\n";
        return kFailed;
    }
    if (!from.empty()) {
        fs::copy(from, options.root, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        if (ec) {
            err << "cannot copy " << from << ": " << ec.message() << "\n";
            return kFailed;
        }
        fs::remove(options.root + "/DebugADV/.keep", ec);
    }
    // The root and what was copied into it are the owner's alone, whatever
    // the umask and the modes of the sample files.
    const auto others = fs::perms::group_all | fs::perms::others_all;
    fs::permissions(options.root, others, fs::perm_options::remove | fs::perm_options::nofollow, ec);
    for (auto it = fs::recursive_directory_iterator(options.root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (std::error_code ignored; !it->is_symlink(ignored))
            fs::permissions(it->path(), others, fs::perm_options::remove, ignored);
    terminal::reset();
    if (terminal::config("decoder").empty() && fs::exists(decoderPath(), ec))
        terminal::setConfig("decoder", decoderPath());
    // Plain: "terminal" and the folder; JSON: {"terminal": folder}.
    if (options.json)
        printRecord(options, {{"terminal", options.root}}, out);
    else
        printRecord(options, {Field::word("state", "terminal"), Field::word("root", options.root)}, out);
    return kOk;
}

namespace {

// The keys of terminal.conf besides the ports' (COMn, COMn.failopens).
const char* const kConfigKeys[] = {"model",   "screen",  "clock",   "decoder", "multidecode", "engine",      "power",
                                   "frame",   "display", "scankey", "scanner", "scanner.end"};

}  // namespace

std::vector<std::string> configKeys() {
    std::vector<std::string> keys(std::begin(kConfigKeys), std::end(kConfigKeys));
    for (int port = 1; port <= 9; ++port) keys.push_back("COM" + std::to_string(port));
    return keys;
}

int configCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    auto isKnown = [](const std::string& key) {
        for (const char* k : kConfigKeys)
            if (key == k) return true;
        // A desktop window class's device class (class.XTerm = Edit).
        if (key.compare(0, 6, "class.") == 0 && key.size() > 6) return true;
        // COMn, and a port's own keys such as COM3.failopens.
        long long n = 0;
        size_t dot = key.find('.');
        std::string port = key.substr(0, dot);
        if (dot != std::string::npos && dot + 1 >= key.size()) return false;
        return port.size() > 3 && port.compare(0, 3, "COM") == 0 && parseNumber(port.substr(3), 0, 99, n);
    };
    if (args.size() == 1) {
        std::string text;
        readHostFile(options.root + "/.terminal/terminal.conf", text);
        std::vector<Record> records;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            size_t eq = line.find('=');
            if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
            auto trim = [](std::string s) {
                size_t b = s.find_first_not_of(" \t\r");
                size_t e = s.find_last_not_of(" \t\r");
                return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
            };
            records.push_back({{"key", trim(line.substr(0, eq))}, {"value", trim(line.substr(eq + 1))}});
        }
        printRecords(options, records, out);
        return kOk;
    }
    const std::string& key = args[1];
    if (!isKnown(key)) return usage(args[0], err, "unknown key " + key);
    if (args.size() == 2) {
        printRecord(options, {Field::word(key, terminal::config(key))}, out);
        return kOk;
    }
    if (args.size() != 3) return usage(args[0], err, "one value (quote values with blanks)");
    const std::string& value = args[2];
    long long n = 0;
    if (key == "model") {
        if (!parseNumber(value, INT32_MIN, UINT32_MAX, n)) return usage(args[0], err, "model needs a number");
        int32_t model = static_cast<int32_t>(static_cast<uint32_t>(n));
        terminal::setModel(model);
        // The keypad the terminal's text field reads back follows the model,
        // as the wedge's key table does (no model: the fallback model's keypad).
        terminal::setConfig("keypad", std::to_string(keypadFamily(model != 0 ? model : kFallbackDeviceModel)));
    } else if (key == "screen") {
        int w = 0, h = 0;
        char x = 0, tail = 0;
        if (std::sscanf(value.c_str(), "%d%c%d%c", &w, &x, &h, &tail) != 3 || (x != 'x' && x != 'X') || w <= 0 ||
            h <= 0)
            return usage(args[0], err, "screen needs WIDTHxHEIGHT, e.g. 240x320");
        terminal::setScreen(w, h);
    } else if (key == "clock") {
        if (!parseNumber(value, 1, 1000, n)) return usage(args[0], err, "clock needs a factor 1..1000");
        terminal::setClockSpeed(static_cast<int>(n));
    } else if (key == "multidecode") {
        if (value != "0" && value != "1") return usage(args[0], err, "multidecode is 0 or 1");
        terminal::setConfig(key, value);
    } else if (key == "frame") {
        uint32_t frame = 0;
        if (!decoderframe::parseFrameSetting(value.c_str(), frame))
            return usage(args[0], err, "frame needs terminal milliseconds 0..10000, e.g. 33ms (0: no frame)");
        terminal::setConfig(key, value);
    } else if (key.find('.') == std::string::npos && key.compare(0, 3, "COM") == 0 && !value.empty() &&
               value != "none") {
        // A port is a terminal device (tty, pseudo-terminal) or a FIFO, as the
        // wedge's open wants it: anything else is refused now, not at the open.
        std::error_code ec;
        fs::file_status st = fs::status(value, ec);
        if (!fs::exists(st))
            return usage(args[0], err, key + " needs a terminal device or FIFO; there is none at " + value);
        if (!fs::is_character_file(st) && !fs::is_fifo(st))
            return usage(args[0], err,
                         key + " needs a terminal device or FIFO; " + value + " is " +
                             (fs::is_directory(st)      ? "a folder"
                              : fs::is_regular_file(st) ? "an ordinary file"
                                                        : "neither"));
        terminal::setConfig(key, value);
    } else {
        terminal::setConfig(key, value);
    }
    return kOk;
}

// model, screen and clock: shortcuts of config KEY [VALUE].
int configShortcut(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    const std::string& name = args[0];
    // The command's own name first, so that a bad value is reported under it.
    Args forward{name, name};
    if (args.size() == 2) forward.push_back(args[1]);
    if ((name == "model" || name == "clock") && args.size() == 1) {
        // Plain: the number alone; JSON: {"model": 7500}.
        int value = name == "model" ? terminal::model() : terminal::clockSpeed();
        printRecord(options, {options.json ? Field(name, value) : Field::word(name, std::to_string(value))}, out);
        return kOk;
    }
    return configCommand(options, forward, out, err);
}

int resetCommand(const Options& options, const Args& args, std::ostream&, std::ostream& err) {
    std::vector<OptionGiven> force;
    Args rest;
    if (int rc = readOptions("reset", args, 1, kNoWords, force, rest, err); rc != kOk) return rc;
    if (int rc = refuseWhileWedgeRuns(options, "reset", !force.empty(), err); rc != kOk) return rc;
    terminal::reset();
    return kOk;
}

int writeCommand(const Options&, const Args& args, std::ostream&, std::ostream& err) {
    fs::path path = deviceFile(args[1]);
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << args[2];
    file.close();
    if (ec || !file) {
        err << "cannot write " << escape(args[1]) << " on the terminal\n";
        return kFailed;
    }
    return kOk;
}

}  // namespace console
