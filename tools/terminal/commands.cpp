// The console's commands of the terminal itself, of what a person does with
// it, and of what it shows. The command table (commandtable.cpp) checks the
// number of arguments before a handler runs.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <thread>
#include <tuple>

#include "console.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "resources/resource.h"
#include "scan/symbologies.h"
#include "settings/keytable.h"
#include "shell/constants.h"

namespace console {

namespace fs = std::filesystem;

namespace {

// Options shared by view and scan; returns the index of a word it does not know.
int parseBarcode(const std::string& command, const Args& args, size_t first, terminal::Barcode& barcode, bool& haveData,
                 std::map<std::string, long long>& extra, std::ostream& err) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool more = i + 1 < args.size();
        long long n = 0;
        if (a == "--sym") {
            // One character is the letter itself (escapes allowed, e.g. \x00).
            bool single = more && args[i + 1].size() == 1 && !std::isdigit(static_cast<unsigned char>(args[i + 1][0]));
            char letter = single ? args[i + 1][0] : more ? symbologyLetterOf(args[i + 1]) : 0;
            if (!single && letter == 0)
                return usage(command, err,
                             "--sym needs a letter, a BarcodeSym number or a name (symbologies lists them)");
            barcode.symbologyLetter = letter;
            ++i;
        } else if (a == "--id2" || a == "--id3") {
            if (!more || args[i + 1].size() != 1)
                return usage(command, err, a + " needs one character (escapes allowed, e.g. \\x00)");
            char c = args[++i][0];
            (a == "--sym" ? barcode.symbologyLetter : a == "--id2" ? barcode.second : barcode.third) = c;
        } else if (a == "--symid") {
            const Symbology* named = more ? symbologyByWord(args[i + 1].c_str()) : nullptr;
            if (named != nullptr && !parseInt(args[i + 1], n))
                n = named->engineId;
            else if (!more || !parseNumber(args[i + 1], -1, 255, n))
                return usage(command, err, "--symid needs 0..255 or a symbology name");
            barcode.symbologyId = static_cast<int>(n);
            ++i;
        } else if (a == "--row") {
            if (!more || !parseNumber(args[i + 1], 0, 479, n)) return usage(command, err, "--row needs 0..479");
            barcode.row = static_cast<int>(n);
            ++i;
        } else if (a == "--reads" || a == "--hold" || a == "--timeout") {
            if (command != "scan") return usage(command, err, "unknown option " + a);
            if (!more || !parseNumber(args[i + 1], 0, 600000, n)) return usage(command, err, a + " needs a number");
            extra[a] = n;
            ++i;
        } else if (a == "--keep") {
            if (command != "scan") return usage(command, err, "unknown option " + a);
            extra[a] = 1;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return usage(command, err, "unknown option " + a);
        } else if (!haveData) {
            barcode.data = a;
            haveData = true;
        } else {
            return usage(command, err, "one barcode at a time (quote data with blanks)");
        }
    }
    if (haveData && barcode.data.empty()) return usage(command, err, "the barcode's data is empty");
    return kOk;
}

size_t countGoodReads(size_t from) {
    auto s = terminal::sounds();
    size_t n = 0;
    for (size_t i = from; i < s.size(); ++i)
        if (s[i].sound == "resource:" + std::to_string(IDW_GOOD_READ)) ++n;
    return n;
}

// What the terminal showed so far, in sizes: key events, sounds, light
// changes, the focused text, the trace log; and whether a light is on.
using Snapshot = std::tuple<size_t, size_t, size_t, size_t, uintmax_t, bool>;

Snapshot snapshot() {
    bool lit = false;
    for (unsigned led = 0; led < 3; ++led) lit = lit || terminal::ledState(led) != 0;
    std::error_code ec;
    uintmax_t trace = fs::file_size(terminal::hostPath(u"\\DebugADV\\Keyvane.txt"), ec);
    return {terminal::keyEvents().size(),
            terminal::sounds().size(),
            terminal::ledChanges().size(),
            terminal::focusText().size(),
            ec ? 0 : trace,
            lit};
}

// Waits until the wedge is done with a pass: its message loop waits again,
// its lights are off and nothing more is typed, played, lit or traced for a
// moment. Returns false on time-out.
bool waitSettled(long long timeoutMs, int wedge, Waiting& waiting) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (int pid = runningWedgePid(); pid > 0)
        while (!terminal::messageLoopIdle(pid) && Clock::now() < deadline && processAlive(pid)) {
            waiting.tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    Snapshot last = snapshot();
    auto since = Clock::now();
    while (Clock::now() < deadline) {
        waiting.tick();
        if (wedge > 0 && !processAlive(wedge)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Snapshot now = snapshot();
        if (now != last) {
            last = now;
            since = Clock::now();
        } else if (!std::get<5>(now) && Clock::now() - since >= std::chrono::milliseconds(150)) {
            return true;
        }
    }
    return false;
}

// A card's data goes its own way (the card reader's thread): waits until the
// terminal shows something of it, then until it is quiet again.
void waitCardDelivered(const Options& options, const Snapshot& before, int wedge, long long timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Waiting waiting(options, "swipe", "the card's data to be delivered");
    while (snapshot() == before && Clock::now() < deadline && (wedge == 0 || processAlive(wedge))) {
        waiting.tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    waitSettled(timeoutMs, wedge, waiting);
}

std::string handleText(uint32_t h) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", h);
    return buffer;
}

// The vibrator is logical LED 2: platform LED 0 on the fallback device model
// (which stands in when the terminal reports no model), else LED 2.
int vibratorLed() {
    int32_t model = terminal::model();
    return model == 0 || model == kFallbackDeviceModel ? 0 : 2;
}

// The host path of a device file; either separator: "/CharInLog.txt" spares
// the escaping of "\\".
std::string deviceFile(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return terminal::hostPath(utf16(path));
}

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

// The light a platform LED is on this model: the scanning and good-read
// lights and the vibrator, rotated on the fallback model as the wedge does.
struct Light {
    const char* name;
    const char* colour;
};

Light lightOf(unsigned platformLed) {
    static const Light logical[] = {{"scanning", "red"}, {"good-read", "green"}, {"vibrator", "none"}};
    int32_t model = terminal::model();
    bool rotated = model == 0 || model == kFallbackDeviceModel;
    // Fallback model: logical 0, 1, 2 are platform LEDs 1, 2, 0.
    unsigned index = rotated ? (platformLed + 2) % 3 : platformLed;
    if (platformLed > 2) return {"unused", "none"};
    return logical[index];
}

// A virtual key's name as a keyboard shows it.
std::string keyName(unsigned vk) {
    static const std::pair<unsigned, const char*> named[] = {
        {0x08, "Backspace"}, {0x09, "Tab"},   {0x0D, "Enter"},  {0x10, "Shift"},    {0x11, "Ctrl"},   {0x12, "Alt"},
        {0x1B, "Esc"},       {0x20, "Space"}, {0x21, "PageUp"}, {0x22, "PageDown"}, {0x23, "End"},    {0x24, "Home"},
        {0x25, "Left"},      {0x26, "Up"},    {0x27, "Right"},  {0x28, "Down"},     {0x2D, "Insert"}, {0x2E, "Delete"},
        {0x5B, "Windows"},   {0x6A, "Num*"},  {0x6B, "Num+"},   {0x6D, "Num-"},     {0x6E, "Num."},   {0x6F, "Num/"},
    };
    if (vk == kScanKey) return "Scan";
    for (const auto& [code, name] : named)
        if (code == vk) return name;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return std::string(1, static_cast<char>(vk));
    if (vk >= 0x60 && vk <= 0x69) return "Num" + std::to_string(vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return "F" + std::to_string(vk - 0x6F);
    return handleText(vk);
}

// Hot-key modifiers as words: "Alt+Ctrl+Shift+Win", "KeyUp" for a release.
std::string modifierNames(unsigned modifiers) {
    static const std::pair<unsigned, const char*> bits[] = {
        {0x0001, "Alt"}, {0x0002, "Ctrl"}, {0x0004, "Shift"}, {0x0008, "Win"}, {0x1000, "KeyUp"}};
    std::string names;
    for (const auto& [bit, name] : bits)
        if (modifiers & bit) names += (names.empty() ? "" : "+") + std::string(name);
    return names.empty() ? "none" : names;
}

}  // namespace

// ------------------------------------------------------------------ the terminal

int initCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::string from;
    bool clean = false, force = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--from" && i + 1 < args.size())
            from = args[++i];
        else if (args[i] == "--clean")
            clean = true;
        else if (args[i] == "--force")
            force = true;
        else
            return usage("init", err, "unknown argument " + args[i]);
    }
    std::error_code ec;
    if (!from.empty() && !fs::is_directory(from, ec)) return usage("init", err, "no folder " + from);
    // A wedge running on the terminal would lose its state under it.
    if (terminalRootExists(options.root)) {
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

int configCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    static const char* const known[] = {"model",   "screen",  "clock",       "decoder", "multidecode", "engine",
                                        "power",   "display", "scankey",     "scanner", "scanner.end"};
    auto isKnown = [](const std::string& key) {
        for (const char* k : known)
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
    bool force = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--force") return usage("reset", err, "unknown argument " + args[i]);
        force = true;
    }
    if (int rc = refuseWhileWedgeRuns(options, "reset", force, err); rc != kOk) return rc;
    terminal::reset();
    return kOk;
}

// ------------------------------------------------------------------ what a person does

int keyCommand(const Options&, const Args& args, std::ostream&, std::ostream&) {
    if (args[0] == "hold")
        terminal::pressKey(kScanKey);
    else
        terminal::releaseKey(kScanKey);
    return kOk;
}

int viewCommand(const Options&, const Args& args, std::ostream&, std::ostream& err) {
    const std::string& name = args[0];
    terminal::Barcode barcode;
    bool haveData = false;
    std::map<std::string, long long> extra;
    Args rest;
    bool image = false;
    if (int rc = takeImageOptions(name, args, rest, image, err); rc != kOk) return rc;
    if (image && rest.size() == 1) return kOk;
    if (int rc = parseBarcode(name, rest, 1, barcode, haveData, extra, err); rc != kOk) return rc;
    if (!haveData) return usage(name, err, "the barcode's data is missing");
    terminal::putInView(barcode);
    return kOk;
}

int clearViewCommand(const Options&, const Args&, std::ostream&, std::ostream&) {
    terminal::clearView();
    return kOk;
}

int scanCommand(const Options& options, const Args& given, std::ostream& out, std::ostream& err) {
    terminal::Barcode barcode;
    bool haveData = false;
    std::map<std::string, long long> extra{{"--reads", 1}, {"--hold", 0}, {"--timeout", 5000}};
    Args args;
    bool image = false;
    if (int rc = takeImageOptions("scan", given, args, image, err); rc != kOk) return rc;
    if (int rc = parseBarcode("scan", args, 1, barcode, haveData, extra, err); rc != kOk) return rc;
    if (haveData) terminal::putInView(barcode);
    haveData = haveData || image;
    size_t before = terminal::sounds().size();
    size_t wanted = static_cast<size_t>(extra["--reads"]);
    int wedge = runningWedgePid();
    terminal::pressKey(kScanKey);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(extra["--timeout"]);
    {
        Waiting waiting(options, "scan", std::to_string(wanted) + " good read(s)");
        while (countGoodReads(before) < wanted && std::chrono::steady_clock::now() < deadline &&
               (wedge == 0 || processAlive(wedge))) {
            waiting.tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    size_t reads = countGoodReads(before);
    if (extra["--hold"] > 0) std::this_thread::sleep_for(std::chrono::milliseconds(extra["--hold"]));
    terminal::releaseKey(kScanKey);
    bool settled = false;
    {
        Waiting waiting(options, "scan", "the wedge to finish the pass");
        settled = waitSettled(extra["--timeout"], wedge, waiting);
    }
    // A wedge that died under the scan delivered nothing more, whatever was read.
    bool died = wedge > 0 && !processAlive(wedge);
    if (haveData && extra.count("--keep") == 0) terminal::clearView();
    if (died)
        err << "scan: the wedge (pid " << wedge << ") ended during the scan\n";
    else if (!settled)
        err << "scan: the wedge was still busy " << extra["--timeout"] << " ms after the key was released\n";
    printRecord(options, {{"reads", reads}}, out);
    if (reads < wanted && !died) {
        // What the terminal did instead: the sounds of the pass (bad reads).
        std::string played;
        auto sounds = terminal::sounds();
        for (size_t i = before; i < sounds.size(); ++i) played += (played.empty() ? "" : ", ") + sounds[i].sound;
        err << "scan: " << reads << " good read(s) of " << wanted << " within " << extra["--timeout"]
            << " ms; seen instead: " << (played.empty() ? "no sound" : "sounds " + played)
            << (wedge == 0 ? ", no wedge running" : "") << "\n";
        return kFailed;
    }
    return settled && !died ? kOk : kFailed;
}

int swipeCommand(const Options& options, const Args& args, std::ostream&, std::ostream& err) {
    if (args[1].empty()) return usage(args[0], err, "the card's data, as one argument");
    Snapshot before = snapshot();
    int wedge = runningWedgePid();
    if (!terminal::swipeCard(args[1])) {
        err << "swipe: no card reader listens on COM1 (EnableCardReader 1 in Keyvane.ini, and the wedge running)\n";
        return kFailed;
    }
    waitCardDelivered(options, before, wedge, 2000);
    if (wedge > 0 && !processAlive(wedge)) {
        err << "swipe: the wedge (pid " << wedge << ") ended during the swipe\n";
        return kFailed;
    }
    return kOk;
}

int trayCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1) {
        std::vector<Record> records;
        for (const auto& [window, id] : terminal::trayIcons())
            records.push_back({{"window", handleText(window)}, {"icon", id}});
        // The last popup menu: where it was shown, its items and the choice made.
        if (auto popups = terminal::menuPopups(); !popups.empty()) {
            const terminal::MenuPopup& p = popups.back();
            std::string items;
            for (const auto& item : p.items) items += (items.empty() ? "" : "|") + utf8(item);
            records.push_back(
                {{"popup", popups.size()}, {"x", p.x}, {"y", p.y}, {"items", items}, {"choice", p.choice}});
        }
        printRecords(options, records, out);
        return kOk;
    }
    if (args[1] != "tap") return usage(args[0], err, "the only argument is tap");
    if (!terminal::tapTray()) {
        err << "tray: no tray icon to tap\n";
        return kFailed;
    }
    return kOk;
}

int menuCommand(const Options&, const Args& args, std::ostream&, std::ostream& err) {
    long long n = 0;
    if (args[1] == "exit")
        n = IDM_EXIT;
    else if (args[1] == "settings")
        n = IDM_SYMBOLOGY_SETTINGS;
    else if (args[1] == "none")
        n = 0;
    else if (!parseNumber(args[1], 0, 65535, n))
        return usage(args[0], err, "unknown choice " + args[1] + " (exit, settings, none or a number)");
    terminal::scriptMenuChoice(static_cast<unsigned>(n));
    return kOk;
}

int answerCommand(const Options&, const Args& args, std::ostream&, std::ostream& err) {
    static const std::pair<const char*, int> names[] = {{"ok", 1},     {"cancel", 2}, {"abort", 3}, {"retry", 4},
                                                        {"ignore", 5}, {"yes", 6},    {"no", 7}};
    for (const auto& [name, value] : names)
        if (args[1] == name) {
            terminal::scriptMessageBoxAnswer(value);
            return kOk;
        }
    long long n = 0;
    if (!parseNumber(args[1], 0, 100, n)) return usage("answer", err, "unknown answer " + args[1]);
    terminal::scriptMessageBoxAnswer(static_cast<int>(n));
    return kOk;
}

int focusCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1) {
        std::string cls = utf8(terminal::focusClass());
        if (options.json)
            out << "{\"focus\": " << jsonString(cls) << "}\n";
        else
            out << (cls.empty() ? "(none)" : escape(cls)) << "\n";
        return kOk;
    }
    if (args[1].empty()) return usage(args[0], err, "one window class, or --none");
    terminal::setFocusClass(args[1] == "--none" ? std::u16string() : utf16(args[1]));
    return kOk;
}

int eventCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args[1].empty()) return usage(args[0], err, "an event name");
    if (args.size() == 3) {
        if (args[2] != "set" && args[2] != "reset") return usage(args[0], err, "set or reset, not " + args[2]);
        terminal::setEventState(args[1], args[2] == "set");
    }
    int state = terminal::eventState(args[1]);
    if (options.json)
        out << "{\"event\": " << jsonString(args[1]) << ", \"state\": " << state << "}\n";
    else
        out << state << "\n";
    return kOk;
}

int clearTextCommand(const Options&, const Args&, std::ostream&, std::ostream&) {
    terminal::clearFocusText();
    return kOk;
}

int clearKeysCommand(const Options&, const Args&, std::ostream&, std::ostream&) {
    terminal::clearKeyEvents();
    return kOk;
}

// ------------------------------------------------------------------ what the terminal shows

int textCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 2 && args[1] != "--raw") return usage(args[0], err, "only --raw");
    std::string text = utf8(terminal::focusText());
    if (options.json)
        out << "{\"text\": " << jsonString(text) << "}\n";
    else if (args.size() == 2)
        out << text;
    else
        out << escape(text) << "\n";
    return kOk;
}

int keysCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& k : terminal::keyEvents()) {
        Record r{{"time", k.time},
                 {"vk", handleText(static_cast<uint32_t>(k.virtualKey))},
                 {"state", k.down ? "down" : "up"}};
        if (k.silent) r.emplace_back("silent", true);
        if (k.character != 0) r.emplace_back("char", utf8(std::u16string(1, k.character)));
        r.emplace_back("how", k.how);
        records.push_back(r);
    }
    printRecords(options, records, out);
    return kOk;
}

int ledsCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<Record> records;
    if (args.size() > 1 && args[1] == "--now") {
        for (unsigned led = 0; led < 4; ++led)
            records.push_back({{"light", lightOf(led).name},
                               {"colour", lightOf(led).colour},
                               {"led", led},
                               {"state", terminal::ledState(led)}});
    } else if (args.size() > 1) {
        return usage(args[0], err, "unknown argument " + args[1]);
    } else {
        for (const auto& l : terminal::ledChanges())
            records.push_back({{"time", l.time},
                               {"light", lightOf(l.led).name},
                               {"colour", lightOf(l.led).colour},
                               {"led", l.led},
                               {"state", l.state}});
    }
    printRecords(options, records, out);
    return kOk;
}

int vibratorCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    auto led = static_cast<unsigned>(vibratorLed());
    for (const auto& l : terminal::ledChanges())
        if (l.led == led) records.push_back({{"time", l.time}, {"vibrator", l.state ? "on" : "off"}});
    records.push_back({{"now", terminal::ledState(led) ? "on" : "off"}, {"led", led}});
    printRecords(options, records, out);
    return kOk;
}

int soundsCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& s : terminal::sounds()) records.push_back({{"time", s.time}, {"sound", s.sound}});
    printRecords(options, records, out);
    return kOk;
}

int msgboxCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& m : terminal::messageBoxes())
        records.push_back({{"caption", utf8(m.caption)},
                           {"text", utf8(m.text)},
                           {"type", m.type},
                           {"owner", handleText(m.owner)},
                           {"answer", m.answer}});
    printRecords(options, records, out);
    return kOk;
}

int windowsCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& w : terminal::windows())
        records.push_back({{"handle", handleText(w.handle)},
                           {"pid", w.pid},
                           {"title", utf8(w.title)},
                           {"class", utf8(w.windowClass)}});
    printRecords(options, records, out);
    return kOk;
}

int hotkeysCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& h : terminal::hotKeys())
        records.push_back({{"window", handleText(h.window)},
                           {"pid", h.pid},
                           {"id", h.id},
                           {"modifiers", h.modifiers},
                           {"vk", handleText(h.virtualKey)},
                           {"key", keyName(h.virtualKey)},
                           {"with", modifierNames(h.modifiers)}});
    printRecords(options, records, out);
    return kOk;
}

int inViewCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& b : terminal::inView()) {
        Record r{{"data", b.data}, {"sym", std::string(1, b.symbologyLetter)}};
        if (b.second) r.emplace_back("id2", std::string(1, b.second));
        if (b.third) r.emplace_back("id3", std::string(1, b.third));
        r.emplace_back("symid", b.symbologyId);
        r.emplace_back("row", b.row);
        records.push_back(r);
    }
    if (auto image = terminal::imageInView(); !image.path.empty()) {
        Record r{{image.frames ? "frames" : "image", image.path}};
        if (image.frames) r.emplace_back("fps", image.framesPerSecond);
        records.push_back(r);
    }
    printRecords(options, records, out);
    return kOk;
}

int traceCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::u16string device = u"\\DebugADV\\Keyvane.txt";
    if (args.size() == 2 && args[1] == "--clear") {
        std::ofstream(terminal::hostPath(device), std::ios::trunc).close();
        return kOk;
    }
    if (args.size() == 2 && args[1] != "--tidy") return usage(args[0], err, "unknown argument " + args[1]);
    std::string text;
    readHostFile(terminal::hostPath(device), text);
    printLines(options, text, args.size() == 2, out);
    return kOk;
}

int fileCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::string text;
    if (!readHostFile(deviceFile(args[1]), text)) {
        err << "no file " << escape(args[1]) << " on the terminal\n";
        return kFailed;
    }
    printLines(options, text, false, out);
    return kOk;
}

int engineCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    auto join = [](const std::vector<int32_t>& v) {
        std::string s;
        for (size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + std::to_string(v[i]);
        return s;
    };
    if (args.size() == 2) {
        long long id = 0;
        const Symbology* named = symbologyByWord(args[1].c_str());
        if (args[1].size() == 1 && !std::isdigit(static_cast<unsigned char>(args[1][0])))
            named = symbologyByLetter(args[1][0]);
        if (parseNumber(args[1], 0, 255, id)) {
            named = nullptr;
        } else if (named != nullptr) {
            id = named->engineId;
        } else {
            return usage("engine", err, "an engine id number, a symbology letter or a name (symbologies lists them)");
        }
        auto s = terminal::symbology(static_cast<int>(id));
        Record record{{"symbology", id},
                      {"flags", handleText(s.flags)},
                      {"min", s.minLength},
                      {"max", s.maxLength},
                      {"writes", s.writes}};
        if (named != nullptr) record.emplace_back("name", named->name);
        printRecord(options, record, out);
        return kOk;
    }
    printRecord(options,
                {{"connected", terminal::engineConnected()},
                 {"aimer", terminal::aimerOn()},
                 {"lights", terminal::lightsMode()},
                 {"globals", join(terminal::globalSettings())},
                 {"window", join(terminal::decodeWindow())}},
                out);
    return kOk;
}

// ------------------------------------------------------------------ device files

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
