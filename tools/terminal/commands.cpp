// The console's commands: what a person does with the terminal, and what the
// terminal shows.
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

struct CommandInfo {
    const char* name;
    const char* usage;
    const char* summary;
};

const CommandInfo kCommands[] = {
    {"init", "init [--from DIR] [--clean]",
     "Create the terminal root (and its shared state); --from copies a sample device file system into it "
     "(e.g. samples/terminal); --clean removes the device files first. The terminal's state is reset."},
    {"reset", "reset", "Clear the terminal's shared state and logs (not the device files)."},
    {"config", "config [KEY [VALUE]]",
     "Show or set the terminal configuration: model, screen, clock, COM1..COM99 (and COMn.failopens), "
     "decoder, multidecode, engine, power."},
    {"model", "model [NUMBER]", "Show or set the device model number answered to the wedge (0 = none)."},
    {"screen", "screen [WIDTHxHEIGHT]", "Show or set the screen size."},
    {"clock", "clock [FACTOR]", "Show or set the terminal clock speed (Sleep(n) takes n/FACTOR real ms)."},
    {"start", "start [--wedge PATH] [--timeout SECONDS]",
     "Start the wedge in the background on this terminal and wait until it signals KVN_Loaded."},
    {"stop", "stop [--timeout SECONDS]",
     "Stop the wedge: a second instance with the command word \"quit\"; waits until the wedge ended."},
    {"command", "command WORD [--force] [--timeout SECONDS]",
     "Run a second instance with a command word (quit, connect, disconnect, enable, disable); prints and "
     "returns its exit code."},
    {"status", "status", "Whether a wedge runs, and the states of its three named events."},
    {"kill", "kill", "End a wedge started by this console without asking it (last resort)."},
    {"hold", "hold", "Press and hold the scan key."},
    {"release", "release", "Release the scan key."},
    {"view", "view DATA [--sym SYMBOLOGY] [--id2 C] [--id3 C] [--symid N|SYMBOLOGY] [--row N] | view --image FILE | view --frames DIR [--fps N]",
     "Put a barcode in the scan engine's view: its data (escapes allowed), symbology (a letter, a BarcodeSym "
     "number or a name such as code128; default the letter a), second and third identifier bytes, the engine's "
     "symbology id (a number, or a symbology by name) and image row (0..479). Or put a PNG or JPEG image "
     "in view, or a folder of them shown in name order at N frames per second (default 10); the engine reads "
     "their barcodes. \"device:/Images/a.png\" names a file of the terminal."},
    {"clear-view", "clear-view", "Take every barcode out of view."},
    {"in-view", "in-view", "List the barcodes (and the image) in view."},
    {"scan", "scan [DATA | --image FILE | --frames DIR] [view options] [--reads N] [--hold MS] [--timeout MS] [--keep]",
     "Put DATA (or an image, or frames) in view when given, press the scan key, wait for N good reads "
     "(default 1), hold MS longer, release the key and take it out of view again (unless --keep)."},
    {"label", "label DATA --sym FORMAT --out FILE [--rotate D] [--blur R] [--noise N] [--scale F] [--module PX] "
              "[--height PX] [--canvas WxH | --onto FILE] [--at X,Y] [--seed S]",
     "Render a barcode label as PNG (JPEG for .jpg): FORMAT is Aztec, Codabar, Code128, Code39, Code93, "
     "DataMatrix, EAN-8, EAN-13, ITF, PDF417, QRCode, UPC-A or UPC-E; then scale, rotate, blur and add noise like "
     "a photo. --canvas or --onto places the label (at X,Y, else centred) on a white canvas or an existing image."},
    {"swipe", "swipe DATA",
     "Swipe a magnetic card: DATA arrives at the card reader on COM1; waits until the wedge has delivered it."},
    {"tray", "tray [tap]", "List the tray icons, or tap the tray icon."},
    {"menu", "menu CHOICE", "Script the next tray menu choice: exit, settings, none or a command number."},
    {"answer", "answer ANSWER",
     "Script the answer to the next message box: ok, cancel, abort, retry, ignore, yes, no or a number."},
    {"focus", "focus [CLASS | --none]",
     "Show or set the focused window's class (e.g. Edit, RichInk); --none: no focus."},
    {"event", "event NAME [set | reset]", "Show (-1 = no such event, 0, 1), set or reset a named event."},
    {"text", "text [--raw]", "The text a user sees in the focused application (escaped, or --raw bytes)."},
    {"clear-text", "clear-text", "Empty the focused application's text."},
    {"keys", "keys", "The key events the terminal's keyboard received."},
    {"clear-keys", "clear-keys", "Forget the key events."},
    {"peer-open", "peer-open COMn",
     "Put a pseudo-terminal behind COMn and record what the wedge writes to it (prints the device path)."},
    {"peer-close", "peer-close COMn", "Close the pseudo-terminal behind COMn."},
    {"peer", "peer COMn [--framing auto|raw|header|tagged|xr1] [--data] [--hex]",
     "The bytes that reached the peer of COMn, one frame per line (framing auto-detected unless given; "
     "xr1 records get a CRC check); --data: only each frame's data; --hex: all bytes in hex."},
    {"peer-send", "peer-send COMn DATA", "The peer of COMn sends DATA to the wedge."},
    {"peer-clear", "peer-clear COMn", "Forget what reached the peer of COMn."},
    {"decode", "decode HEX | --text DATA [--framing F] [--data]",
     "Split given bytes into serial frames, as the peer command does."},
    {"leds", "leds [--now]", "The light changes (time, platform LED, state), or with --now each LED's state."},
    {"vibrator", "vibrator", "The vibrator's changes and its state now."},
    {"sounds", "sounds", "The sounds played (resource:N or file:NAME)."},
    {"msgbox", "msgbox", "The message boxes shown, with their answers."},
    {"trace", "trace [--clear]", "The wedge's trace log (\\DebugADV\\Keyvane.txt), one line per line."},
    {"file", "file DEVICEPATH", "Print a file of the device, e.g. /CharInLog.txt or /Zentrova/Keyvane.ini."},
    {"windows", "windows", "The windows of the terminal."},
    {"hotkeys", "hotkeys", "The hot keys registered."},
    {"engine", "engine [ID | SYMBOLOGY]",
     "The scan engine's state: connected, aimer, lights mode, global settings, decode window; or one "
     "symbology's flags and lengths (by the engine's id number, a letter or a name such as ean13)."},
    {"check", "check [--strict] [FILE ...]",
     "Read Keyvane.ini and DecodeSettings.Vqf files (default: those the wedge would find on the terminal) with "
     "the wedge's own readers and print FILE:LINE: error|warning|note: message for every mistake. Exit 0 when "
     "nothing is found, 1 when something is (--strict: warnings too); --json gives records."},
    {"settings", "settings [KEY] [--roff]",
     "The settings reference: every key of Keyvane.ini with its section, kind, default, range and choices; "
     "--roff prints it as the manual page keyvane.ini(5)."},
    {"symbologies", "symbologies [SYMBOLOGY]",
     "The symbologies: BarcodeSym number, symbology letter, name, engine id and DecodeSettings.Vqf section."},
    {"run", "run FILE.scenario [--keep] [--quiet]",
     "Run a scenario file; on a fresh temporary terminal unless --root is given. Exits non-zero when a "
     "step failed. --keep keeps the temporary terminal."},
    {"help", "help [COMMAND]", "This help, or one command's."},
};

const CommandInfo* findCommand(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

int usage(const std::string& command, std::ostream& err, const std::string& problem) {
    const CommandInfo* c = findCommand(command);
    err << "keyvane-terminal " << command << ": " << problem << "\n";
    if (c) err << "usage: keyvane-terminal " << c->usage << "\n";
    return kUsage;
}

bool parseNumber(const std::string& text, long long low, long long high, long long& value) {
    return parseInt(text, value) && value >= low && value <= high;
}

std::string readFile(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

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
                return usage(command, err, "--sym needs a letter, a BarcodeSym number or a name (symbologies lists them)");
            barcode.symbologyLetter = letter;
            ++i;
        } else if (a == "--id2" || a == "--id3") {
            if (!more || args[i + 1].size() != 1)
                return usage(command, err, a + " needs one character (escapes allowed, e.g. \\x00)");
            char c = args[++i][0];
            (a == "--sym" ? barcode.symbologyLetter : a == "--id2" ? barcode.second : barcode.third) = c;
        } else if (a == "--symid") {
            const Symbology* named = more ? symbologyByWord(args[i + 1].c_str()) : nullptr;
            if (named != nullptr && !parseInt(args[i + 1], n)) n = named->engineId;
            else if (!more || !parseNumber(args[i + 1], -1, 255, n)) return usage(command, err, "--symid needs 0..255 or a symbology name");
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
bool waitSettled(long long timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (int pid = runningWedgePid(); pid > 0)
        while (!terminal::messageLoopIdle(pid) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Snapshot last = snapshot();
    auto since = Clock::now();
    while (Clock::now() < deadline) {
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
void waitCardDelivered(const Snapshot& before, long long timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (snapshot() == before && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    waitSettled(timeoutMs);
}

int scan(const Options& options, const Args& given, std::ostream& out, std::ostream& err) {
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
    terminal::pressKey(kScanKey);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(extra["--timeout"]);
    while (countGoodReads(before) < wanted && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    size_t reads = countGoodReads(before);
    if (extra["--hold"] > 0) std::this_thread::sleep_for(std::chrono::milliseconds(extra["--hold"]));
    terminal::releaseKey(kScanKey);
    bool settled = waitSettled(extra["--timeout"]);
    if (haveData && extra.count("--keep") == 0) terminal::clearView();
    if (!settled) err << "scan: the wedge was still busy " << extra["--timeout"] << " ms after the key was released\n";
    if (options.json)
        out << "{\"reads\": " << reads << "}\n";
    else
        out << "reads=" << reads << "\n";
    if (reads < wanted) {
        err << "scan: " << reads << " good read(s) of " << wanted << " within " << extra["--timeout"] << " ms\n";
        return kFailed;
    }
    return kOk;
}

int configCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    static const char* const known[] = {"model", "screen", "clock", "decoder", "multidecode", "engine", "power"};
    auto isKnown = [](const std::string& key) {
        for (const char* k : known)
            if (key == k) return true;
        // COMn, and a port's own keys such as COM3.failopens.
        long long n = 0;
        size_t dot = key.find('.');
        std::string port = key.substr(0, dot);
        if (dot != std::string::npos && dot + 1 >= key.size()) return false;
        return port.size() > 3 && port.compare(0, 3, "COM") == 0 && parseNumber(port.substr(3), 0, 99, n);
    };
    if (args.size() == 1) {
        bool found = false;
        std::string text = readFile(options.root + "/.terminal/terminal.conf", found);
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
    if (!isKnown(key)) return usage("config", err, "unknown key " + key);
    if (args.size() == 2) {
        out << terminal::config(key) << "\n";
        return kOk;
    }
    if (args.size() != 3) return usage("config", err, "one value (quote values with blanks)");
    const std::string& value = args[2];
    long long n = 0;
    if (key == "model") {
        if (!parseNumber(value, INT32_MIN, UINT32_MAX, n)) return usage("config", err, "model needs a number");
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
            return usage("config", err, "screen needs WIDTHxHEIGHT, e.g. 240x320");
        terminal::setScreen(w, h);
    } else if (key == "clock") {
        if (!parseNumber(value, 1, 1000, n)) return usage("config", err, "clock needs a factor 1..1000");
        terminal::setClockSpeed(static_cast<int>(n));
    } else if (key == "multidecode") {
        if (value != "0" && value != "1") return usage("config", err, "multidecode is 0 or 1");
        terminal::setConfig(key, value);
    } else {
        terminal::setConfig(key, value);
    }
    return kOk;
}

int initCommand(Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    std::string from;
    bool clean = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--from" && i + 1 < args.size())
            from = args[++i];
        else if (args[i] == "--clean")
            clean = true;
        else
            return usage("init", err, "unknown argument " + args[i]);
    }
    std::error_code ec;
    if (!from.empty() && !fs::is_directory(from, ec)) return usage("init", err, "no folder " + from);
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
    terminal::reset();
    if (terminal::config("decoder").empty() && fs::exists(decoderPath(), ec))
        terminal::setConfig("decoder", decoderPath());
    out << "terminal\t" << options.root << "\n";
    return kOk;
}

int answerCommand(const Args& args, std::ostream& err) {
    static const std::pair<const char*, int> names[] = {{"ok", 1},     {"cancel", 2}, {"abort", 3}, {"retry", 4},
                                                        {"ignore", 5}, {"yes", 6},    {"no", 7}};
    if (args.size() != 2) return usage("answer", err, "one answer");
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

int readBack(const Options& options, const std::string& name, const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<Record> records;
    if (name == "keys") {
        for (const auto& k : terminal::keyEvents()) {
            Record r{{"time", std::to_string(k.time)},
                     {"vk", handleText(static_cast<uint32_t>(k.virtualKey))},
                     {"state", k.down ? "down" : "up"}};
            if (k.silent) r.emplace_back("silent", "1");
            if (k.character != 0) r.emplace_back("char", utf8(std::u16string(1, k.character)));
            r.emplace_back("how", k.how);
            records.push_back(r);
        }
    } else if (name == "leds") {
        if (args.size() > 1 && args[1] == "--now") {
            for (unsigned led = 0; led < 4; ++led)
                records.push_back({{"led", std::to_string(led)}, {"state", std::to_string(terminal::ledState(led))}});
        } else if (args.size() > 1) {
            return usage(name, err, "unknown argument " + args[1]);
        } else {
            for (const auto& l : terminal::ledChanges())
                records.push_back({{"time", std::to_string(l.time)},
                                   {"led", std::to_string(l.led)},
                                   {"state", std::to_string(l.state)}});
        }
    } else if (name == "vibrator") {
        auto led = static_cast<unsigned>(vibratorLed());
        for (const auto& l : terminal::ledChanges())
            if (l.led == led)
                records.push_back({{"time", std::to_string(l.time)}, {"vibrator", l.state ? "on" : "off"}});
        records.push_back({{"now", terminal::ledState(led) ? "on" : "off"}, {"led", std::to_string(led)}});
    } else if (name == "sounds") {
        for (const auto& s : terminal::sounds())
            records.push_back({{"time", std::to_string(s.time)}, {"sound", s.sound}});
    } else if (name == "msgbox") {
        for (const auto& m : terminal::messageBoxes())
            records.push_back({{"caption", utf8(m.caption)},
                               {"text", utf8(m.text)},
                               {"type", std::to_string(m.type)},
                               {"owner", handleText(m.owner)},
                               {"answer", std::to_string(m.answer)}});
    } else if (name == "windows") {
        for (const auto& w : terminal::windows())
            records.push_back({{"handle", handleText(w.handle)},
                               {"pid", std::to_string(w.pid)},
                               {"title", utf8(w.title)},
                               {"class", utf8(w.windowClass)}});
    } else if (name == "hotkeys") {
        for (const auto& h : terminal::hotKeys())
            records.push_back({{"window", handleText(h.window)},
                               {"pid", std::to_string(h.pid)},
                               {"id", std::to_string(h.id)},
                               {"modifiers", std::to_string(h.modifiers)},
                               {"vk", handleText(h.virtualKey)}});
    } else if (name == "in-view") {
        for (const auto& b : terminal::inView()) {
            Record r{{"data", b.data}, {"sym", std::string(1, b.symbologyLetter)}};
            if (b.second) r.emplace_back("id2", std::string(1, b.second));
            if (b.third) r.emplace_back("id3", std::string(1, b.third));
            r.emplace_back("symid", std::to_string(b.symbologyId));
            r.emplace_back("row", std::to_string(b.row));
            records.push_back(r);
        }
        if (auto image = terminal::imageInView(); !image.path.empty()) {
            Record r{{image.frames ? "frames" : "image", image.path}};
            if (image.frames) r.emplace_back("fps", std::to_string(image.framesPerSecond));
            records.push_back(r);
        }
    } else if (name == "tray") {
        for (const auto& [window, id] : terminal::trayIcons())
            records.push_back({{"window", handleText(window)}, {"icon", std::to_string(id)}});
    }
    printRecords(options, records, out);
    return kOk;
}

int printLines(const Options& options, const std::string& text, std::ostream& out) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    if (options.json) {
        out << "[";
        for (size_t i = 0; i < lines.size(); ++i) out << (i ? ",\n " : "") << jsonString(lines[i]);
        out << "]\n";
    } else {
        for (const auto& l : lines) out << escape(l) << "\n";
    }
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
        Record record{{"symbology", std::to_string(id)},
                      {"flags", handleText(s.flags)},
                      {"min", std::to_string(s.minLength)},
                      {"max", std::to_string(s.maxLength)},
                      {"writes", std::to_string(s.writes)}};
        if (named != nullptr) record.emplace_back("name", named->name);
        printRecords(options, {record}, out);
        return kOk;
    }
    if (args.size() > 2) return usage("engine", err, "one symbology number at most");
    printRecords(options,
                 {{{"connected", terminal::engineConnected() ? "1" : "0"},
                   {"aimer", terminal::aimerOn() ? "1" : "0"},
                   {"lights", std::to_string(terminal::lightsMode())},
                   {"globals", join(terminal::globalSettings())},
                   {"window", join(terminal::decodeWindow())}}},
                 out);
    return kOk;
}

}  // namespace

bool knownCommand(const std::string& command) {
    return findCommand(command) != nullptr;
}

void printHelp(const std::string& command, std::ostream& out) {
    if (const CommandInfo* c = findCommand(command)) {
        out << "usage: keyvane-terminal [--root DIR] [--json] " << c->usage << "\n\n" << c->summary << "\n";
        return;
    }
    out << "usage: keyvane-terminal [--root DIR] [--json] COMMAND [ARGS]\n\n"
           "The console of the host terminal: does what a person does with a handheld terminal\n"
           "and shows what it shows. DIR is the terminal root (default $KEYVANE_TERMINAL, else\n"
           "./terminal). Arguments take escapes for other bytes: \\r \\n \\t \\0 \\e \\\\ \\\" \\xHH \\uHHHH.\n"
           "Lists print one record per line as tab-separated key=value pairs (--json: a JSON array).\n"
           "Exit codes: 0 done, 1 failed (what was waited for did not happen), 2 bad arguments.\n\n"
           "Commands:\n";
    for (const auto& c : kCommands) {
        std::string u = c.usage;
        out << "  " << u << "\n";
    }
    out << "\n'keyvane-terminal help COMMAND' or 'keyvane-terminal COMMAND --help' tells more.\n";
}

int runCommand(Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        printHelp("", err);
        return kUsage;
    }
    const std::string& name = args[0];
    if (!knownCommand(name)) {
        err << "keyvane-terminal: unknown command \"" << escape(name) << "\" (keyvane-terminal --help lists them)\n";
        return kUsage;
    }
    for (size_t i = 1; i < args.size(); ++i)
        if (args[i] == "--help" || args[i] == "-h") {
            printHelp(name, out);
            return kOk;
        }
    auto noArgs = [&]() { return args.size() == 1; };

    if (name == "help") {
        printHelp(args.size() > 1 ? args[1] : "", out);
        return args.size() > 1 && !knownCommand(args[1]) ? kUsage : kOk;
    }
    if (name == "init") return initCommand(options, args, out, err);
    if (name == "check") return checkCommand(options, args, out, err);
    if (name == "settings") return settingsReference(options, args, out, err);
    if (name == "symbologies") return symbologiesCommand(options, args, out, err);
    if (name == "run") return runScenario(options, args, out, err);
    if (!terminal::attach(options.root)) {
        err << "cannot attach to the terminal at " << options.root << "\n";
        return kFailed;
    }
    if (name == "reset") {
        if (!noArgs()) return usage(name, err, "no arguments");
        terminal::reset();
        return kOk;
    }
    if (name == "config") return configCommand(options, args, out, err);
    if (name == "model" || name == "screen" || name == "clock") {
        if (args.size() > 2) return usage(name, err, "one value");
        Args forward{"config", name};
        if (args.size() == 2) forward.push_back(args[1]);
        if (name == "model" && args.size() == 1) {
            out << terminal::model() << "\n";
            return kOk;
        }
        if (name == "clock" && args.size() == 1) {
            out << terminal::clockSpeed() << "\n";
            return kOk;
        }
        int rc = configCommand(options, forward, out, err);
        if (rc == kUsage) return usage(name, err, "bad value " + (args.size() > 1 ? args[1] : std::string()));
        return rc;
    }
    if (name == "start") {
        // The device reads its files in silence; the console says first what it will ignore.
        if (std::string summary = checkSummary(options); !summary.empty()) err << summary << "\n";
        return startWedge(options, args, out, err);
    }
    if (name == "stop") return stopWedge(options, args, out, err);
    if (name == "command") return commandWord(options, args, out, err);
    if (name == "status") return wedgeStatus(options, out);
    if (name == "kill") {
        if (!killWedge(options)) {
            err << "no wedge started by this console runs on " << options.root << "\n";
            return kFailed;
        }
        return kOk;
    }
    if (name == "hold" || name == "release") {
        if (!noArgs()) return usage(name, err, "no arguments");
        if (name == "hold")
            terminal::pressKey(kScanKey);
        else
            terminal::releaseKey(kScanKey);
        return kOk;
    }
    if (name == "label") return labelCommand(options, args, out, err);
    if (name == "view") {
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
    if (name == "clear-view") {
        if (!noArgs()) return usage(name, err, "no arguments");
        terminal::clearView();
        return kOk;
    }
    if (name == "scan") return scan(options, args, out, err);
    if (name == "swipe") {
        if (args.size() != 2 || args[1].empty()) return usage(name, err, "the card's data, as one argument");
        Snapshot before = snapshot();
        if (!terminal::swipeCard(args[1])) {
            err << "swipe: no card reader listens on COM1 (EnableCardReader 1 in Keyvane.ini, and the wedge running)\n";
            return kFailed;
        }
        waitCardDelivered(before, 2000);
        return kOk;
    }
    if (name == "tray") {
        if (args.size() == 2 && args[1] == "tap") {
            if (!terminal::tapTray()) {
                err << "tray: no tray icon to tap\n";
                return kFailed;
            }
            return kOk;
        }
        if (!noArgs()) return usage(name, err, "the only argument is tap");
        return readBack(options, name, args, out, err);
    }
    if (name == "menu") {
        if (args.size() != 2) return usage(name, err, "one choice");
        long long n = 0;
        if (args[1] == "exit")
            n = IDM_EXIT;
        else if (args[1] == "settings")
            n = IDM_SYMBOLOGY_SETTINGS;
        else if (args[1] == "none")
            n = 0;
        else if (!parseNumber(args[1], 0, 65535, n))
            return usage(name, err, "unknown choice " + args[1] + " (exit, settings, none or a number)");
        terminal::scriptMenuChoice(static_cast<unsigned>(n));
        return kOk;
    }
    if (name == "answer") return answerCommand(args, err);
    if (name == "focus") {
        if (args.size() == 1) {
            std::string cls = utf8(terminal::focusClass());
            if (options.json)
                out << "{\"focus\": " << jsonString(cls) << "}\n";
            else
                out << (cls.empty() ? "(none)" : escape(cls)) << "\n";
            return kOk;
        }
        if (args.size() != 2 || args[1].empty()) return usage(name, err, "one window class, or --none");
        terminal::setFocusClass(args[1] == "--none" ? std::u16string() : utf16(args[1]));
        return kOk;
    }
    if (name == "event") {
        if (args.size() < 2 || args.size() > 3 || args[1].empty()) return usage(name, err, "an event name");
        if (args.size() == 3) {
            if (args[2] != "set" && args[2] != "reset") return usage(name, err, "set or reset, not " + args[2]);
            terminal::setEventState(args[1], args[2] == "set");
        }
        int state = terminal::eventState(args[1]);
        if (options.json)
            out << "{\"event\": " << jsonString(args[1]) << ", \"state\": " << state << "}\n";
        else
            out << state << "\n";
        return kOk;
    }
    if (name == "text") {
        if (args.size() > 2 || (args.size() == 2 && args[1] != "--raw")) return usage(name, err, "only --raw");
        std::string text = utf8(terminal::focusText());
        if (options.json)
            out << "{\"text\": " << jsonString(text) << "}\n";
        else if (args.size() == 2)
            out << text;
        else
            out << escape(text) << "\n";
        return kOk;
    }
    if (name == "clear-text") {
        terminal::clearFocusText();
        return kOk;
    }
    if (name == "clear-keys") {
        terminal::clearKeyEvents();
        return kOk;
    }
    if (name == "keys" || name == "leds" || name == "vibrator" || name == "sounds" || name == "msgbox" ||
        name == "windows" || name == "hotkeys" || name == "in-view") {
        if (args.size() > 1 && !(name == "leds" && args.size() == 2))
            return usage(name, err, "unknown argument " + args[1]);
        return readBack(options, name, args, out, err);
    }
    if (name == "peer-open") return peerOpen(options, args, out, err);
    if (name == "peer-close") return peerClose(options, args, out, err);
    if (name == "peer") return peerShow(options, args, out, err);
    if (name == "peer-send") return peerSend(options, args, out, err);
    if (name == "peer-clear") return peerClear(options, args, out, err);
    if (name == "decode") return decodeFrames(options, args, out, err);
    if (name == "trace" || name == "file") {
        std::u16string device = u"\\DebugADV\\Keyvane.txt";
        if (name == "file") {
            if (args.size() != 2) return usage(name, err, "one device path");
            // Either separator: "/CharInLog.txt" spares the escaping of "\\".
            std::string path = args[1];
            for (char& c : path)
                if (c == '/') c = '\\';
            device = utf16(path);
        } else if (args.size() == 2 && args[1] == "--clear") {
            std::ofstream(terminal::hostPath(device), std::ios::trunc).close();
            return kOk;
        } else if (!noArgs()) {
            return usage(name, err, "unknown argument " + args[1]);
        }
        bool found = false;
        std::string text = readFile(terminal::hostPath(device), found);
        if (!found && name == "file") {
            err << "no file " << escape(args[1]) << " on the terminal\n";
            return kFailed;
        }
        return printLines(options, text, out);
    }
    if (name == "engine") return engineCommand(options, args, out, err);
    err << "keyvane-terminal: " << name << " is not available\n";
    return kUsage;
}

}  // namespace console
