// The console's commands: one entry each, with its synopsis, help, argument
// rule and handler. Running a command is a look-up in this table; the
// scenario runner asks it which commands only look.
#include <ostream>

#include <algorithm>
#include <sstream>

#include "console.h"
#include "output/framing.h"
#include "platform/host/terminal.h"
#include "scan/symbologies.h"
#include "settings/settingstable.h"

namespace console {

namespace {

int helpCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int runCommandScenario(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int explainCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int settingsCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

// clang-format off
const Command kCommands[] = {
    {"init", "init [--from DIR] [--clean] [--force]",
     "Create the terminal root (and its shared state); --from copies a sample device file system into it "
     "(e.g. samples/terminal); --clean removes the device files first and closes the serial peers. The "
     "terminal's state is reset. Refused while a wedge runs on the terminal; --force stops it first.",
     {0, kAnyCount, nullptr}, false, kNoQuery, initCommand},
    {"reset", "reset [--force]",
     "Clear the terminal's shared state and logs (not the device files). Refused while a wedge runs on the "
     "terminal; --force stops it first.",
     {0, 1, "only --force"}, true, kNoQuery, resetCommand},
    {"config", "config [KEY [VALUE]]",
     "Show or set the terminal configuration: model, screen, clock, COM1..COM99 (and COMn.failopens), "
     "decoder, multidecode, engine, power, frame (the scan engine's frame time in terminal milliseconds, "
     "default 33ms: a decode looks no sooner than a frame after the previous one returned; 0 answers at "
     "once), display, scankey, class.CLASS, scanner, scanner.end.",
     {0, kAnyCount, nullptr}, true, 1, configCommand},
    {"model", "model [NUMBER]",
     "Show or set the device model number answered to the wedge (0 = none).",
     {0, 1, "one value"}, true, 0, configShortcut},
    {"screen", "screen [WIDTHxHEIGHT]",
     "Show or set the screen size.",
     {0, 1, "one value"}, true, 0, configShortcut},
    {"clock", "clock [FACTOR]",
     "Show or set the terminal clock speed (Sleep(n) takes n/FACTOR real ms).",
     {0, 1, "one value"}, true, 0, configShortcut},
    {"start", "start [--wedge PATH] [--timeout DURATION]",
     "Start the wedge in the background on this terminal and wait until it signals KVN_Loaded (default 20 s).",
     {0, kAnyCount, nullptr}, true, kNoQuery, startWedge},
    {"stop", "stop [--timeout DURATION]",
     "Stop the wedge: a second instance with the command word \"quit\"; waits until the wedge ended (default 20 s).",
     {0, kAnyCount, nullptr}, true, kNoQuery, stopWedge},
    {"command", "command WORD|\"\" [--force] [--timeout DURATION]",
     "Run a second instance with a command word (quit, connect, disconnect, enable, disable; \"\" gives it an "
     "empty command line); prints and returns its exit code. Waits for it 10 s unless --timeout says otherwise.",
     {0, kAnyCount, nullptr}, true, kNoQuery, commandWord},
    {"status", "status",
     "Whether a wedge runs, and the states of its three named events; once a wedge started by the console "
     "has ended, its exit code (last_exit; 128+N when signal N ended it).",
     {0, kAnyCount, nullptr}, true, kAnyCount, wedgeStatus},
    {"kill", "kill",
     "End a wedge started by this console without asking it (last resort).",
     {0, kAnyCount, nullptr}, true, kNoQuery, killCommand},
    {"hold", "hold",
     "Press and hold the scan key.",
     {0, 0, "no arguments"}, true, kNoQuery, keyCommand},
    {"release", "release",
     "Release the scan key.",
     {0, 0, "no arguments"}, true, kNoQuery, keyCommand},
    {"view", "view DATA [--sym SYMBOLOGY] [--id2 C] [--id3 C] [--symid N|SYMBOLOGY] [--row N] | view --image FILE | view --frames DIR [--fps N]",
     "Put a barcode in the scan engine's view: its data (escapes allowed), symbology (a letter, a BarcodeSym "
     "number or a name such as code128; default the letter a), second and third identifier bytes, the engine's "
     "symbology id (a number, or a symbology by name) and image row (0..479). Or put a PNG or JPEG image "
     "in view, or a folder of them shown in name order at N frames per second (default 10); the engine reads "
     "their barcodes. \"device:/Images/a.png\" names a file of the terminal.",
     {0, kAnyCount, nullptr}, true, kNoQuery, viewCommand},
    {"clear-view", "clear-view",
     "Take every barcode out of view.",
     {0, 0, "no arguments"}, true, kNoQuery, clearViewCommand},
    {"in-view", "in-view",
     "List the barcodes (and the image) in view.",
     {0, 0, nullptr}, true, kAnyCount, inViewCommand},
    {"scan", "scan [DATA | --image FILE | --frames DIR] [view options] [--reads N] [--hold DURATION] [--timeout DURATION] [--keep]",
     "Put DATA (or an image, or frames) in view when given, press the scan key, wait for N good reads "
     "(default 1, within 5 s), hold DURATION longer, release the key and take it out of view again (unless --keep).",
     {0, kAnyCount, nullptr}, true, kNoQuery, scanCommand},
    {"label", "label DATA --sym FORMAT --out FILE [--rotate D] [--blur R] [--noise N] [--scale F] [--module PX] "
     "[--height PX] [--canvas WxH | --onto FILE] [--at X,Y] [--seed S]",
     "Render a barcode label as PNG (JPEG for .jpg): FORMAT is Aztec, Codabar, Code128, Code39, Code93, "
     "DataMatrix, EAN-8, EAN-13, ITF, PDF417, QRCode, UPC-A or UPC-E; then scale, rotate, blur and add noise like "
     "a photo. --canvas or --onto places the label (at X,Y, else centred) on a white canvas or an existing image.",
     {0, kAnyCount, nullptr}, true, kNoQuery, labelCommand},
    {"swipe", "swipe DATA",
     "Swipe a magnetic card: DATA arrives at the card reader on COM1; waits until the wedge has delivered it.",
     {1, 1, "the card's data, as one argument"}, true, kNoQuery, swipeCommand},
    {"tray", "tray [tap]",
     "List the tray icons and the last popup menu (its position, items and the choice made), or tap the "
     "tray icon.",
     {0, 1, "the only argument is tap"}, true, 0, trayCommand},
    {"menu", "menu CHOICE",
     "Script the next tray menu choice: exit, settings, none or a command number.",
     {1, 1, "one choice"}, true, kNoQuery, menuCommand},
    {"answer", "answer ANSWER",
     "Script the answer to the next message box: ok, cancel, abort, retry, ignore, yes, no or a number.",
     {1, 1, "one answer"}, true, kNoQuery, answerCommand},
    {"focus", "focus [CLASS | --none]",
     "Show or set the focused window's class (e.g. Edit, RichInk); --none: no focus.",
     {0, 1, "one window class, or --none"}, true, 0, focusCommand},
    {"event", "event NAME [set | reset]",
     "Show (-1 = no such event, 0, 1), set or reset a named event.",
     {1, 2, "an event name"}, true, 1, eventCommand},
    {"text", "text [--raw]",
     "The text a user sees in the focused application (escaped, or --raw bytes).",
     {0, 1, "only --raw"}, true, kAnyCount, textCommand},
    {"clear-text", "clear-text",
     "Empty the focused application's text.",
     {0, kAnyCount, nullptr}, true, kNoQuery, clearTextCommand},
    {"keys", "keys",
     "The key events the terminal's keyboard received.",
     {0, 0, nullptr}, true, kAnyCount, keysCommand},
    {"clear-keys", "clear-keys",
     "Forget the key events.",
     {0, kAnyCount, nullptr}, true, kNoQuery, clearKeysCommand},
    {"peer-open", "peer-open COMn",
     "Put a pseudo-terminal behind COMn and record what the wedge writes to it (prints the device path).",
     {0, kAnyCount, nullptr}, true, kNoQuery, peerOpen},
    {"peer-close", "peer-close COMn",
     "Close the pseudo-terminal behind COMn.",
     {0, kAnyCount, nullptr}, true, kNoQuery, peerClose},
    {"peer", "peer COMn [--framing auto|raw|header|tagged|xr1] [--data] [--hex]",
     "The bytes that reached the peer of COMn, one frame per line (framing auto-detected unless given; "
     "xr1 records get a CRC check); --data: only each frame's data; --hex: all bytes in hex.",
     {0, kAnyCount, nullptr}, true, kAnyCount, peerShow},
    {"peer-send", "peer-send COMn DATA",
     "The peer of COMn sends DATA to the wedge.",
     {0, kAnyCount, nullptr}, true, kNoQuery, peerSend},
    {"peer-clear", "peer-clear COMn",
     "Forget what reached the peer of COMn.",
     {0, kAnyCount, nullptr}, true, kNoQuery, peerClear},
    {"bt-device", "bt-device ADDRESS [--name NAME] [--channel N | --sdp HEX | --sdp-file FILE | --no-service | --silent]",
     "Put a remote Bluetooth device in range of the terminal: its address (12 hex digits, colons or dashes "
     "allowed), its name, and what its service discovery server answers to a service-attribute search: a "
     "serial port service on RFCOMM channel N (default 1), the response's bytes in hex or in a file (hex "
     "digits or the bytes themselves), a response with no service at all, or no answer (--silent).",
     {1, kAnyCount, "a remote device's address"}, true, kNoQuery, btDeviceCommand},
    {"bt-away", "bt-away ADDRESS",
     "Take a remote Bluetooth device out of range: service searches for it find nothing.",
     {1, 1, "a remote device's address"}, true, kNoQuery, btAwayCommand},
    {"bt", "bt",
     "The remote Bluetooth devices in range (address, name, response, the RFCOMM channel the wedge's reader "
     "finds in it, bytes received) and the Bluetooth virtual COM ports registered.",
     {0, 0, nullptr}, true, 0, btListCommand},
    {"bt-peer", "bt-peer ADDRESS [--framing auto|raw|header|tagged|xr1] [--data] [--hex]",
     "The bytes that reached a remote Bluetooth device over the virtual COM port, one frame per line, as "
     "the peer command shows them.",
     {1, kAnyCount, "a remote device's address"}, true, kAnyCount, btPeerCommand},
    {"bt-send", "bt-send ADDRESS DATA",
     "The remote Bluetooth device sends DATA (escapes allowed) to the wedge's virtual COM port.",
     {2, 2, "a remote device's address and the data"}, true, kNoQuery, btSendCommand},
    {"decode", "decode HEX | --text DATA [--framing F] [--data]",
     "Split given bytes into serial frames, as the peer command does. Text that begins no frame of the "
     "framing given is data: it is shown framed as the wedge frames it first after the port opens.",
     {0, kAnyCount, nullptr}, false, kAnyCount, decodeFrames},
    {"leds", "leds [--now]",
     "The light changes (time, platform LED, state), or with --now each LED's state.",
     {0, 1, nullptr}, true, kAnyCount, ledsCommand},
    {"vibrator", "vibrator",
     "The vibrator's changes and its state now.",
     {0, 0, nullptr}, true, kAnyCount, vibratorCommand},
    {"sounds", "sounds",
     "The sounds played (resource:N or file:NAME).",
     {0, 0, nullptr}, true, kAnyCount, soundsCommand},
    {"msgbox", "msgbox",
     "The message boxes shown, with their answers.",
     {0, 0, nullptr}, true, kAnyCount, msgboxCommand},
    {"trace", "trace [--clear | --tidy]",
     "The wedge's trace log (\\DebugADV\\Keyvane.txt), one line per line; --tidy drops blank lines and stray "
     "carriage returns and shows a line repeated in a row once, with its count.",
     {0, 1, nullptr}, true, 0, traceCommand},
    {"file", "file DEVICEPATH",
     "Print a file of the device, e.g. /CharInLog.txt or /Zentrova/Keyvane.ini.",
     {1, 1, "one device path"}, true, kAnyCount, fileCommand},
    {"write", "write DEVICEPATH DATA",
     "Write DATA (escapes allowed) to a file of the device, making its folders, e.g. "
     "write /Zentrova/Keyvane.ini \"OutPutMode = 3\\r\\n\". The file is replaced.",
     {2, 2, "a device path and the data"}, true, kNoQuery, writeCommand},
    {"windows", "windows",
     "The windows of the terminal.",
     {0, 0, nullptr}, true, kAnyCount, windowsCommand},
    {"hotkeys", "hotkeys",
     "The hot keys registered.",
     {0, 0, nullptr}, true, kAnyCount, hotkeysCommand},
    {"engine", "engine [ID | SYMBOLOGY]",
     "The scan engine's state: connected, aimer, lights mode, global settings, decode window; or one "
     "symbology's flags and lengths (by the engine's id number, a letter or a name such as ean13).",
     {0, 1, "one symbology number at most"}, true, kAnyCount, engineCommand},
    {"watch", "watch [--interval DURATION]",
     "A live full-screen view of the handheld in this text terminal: screen, wedge and named events, the "
     "focused application's text, scanner, lights, vibrator, sounds, the last message box and tray menu, and "
     "the last frames at each serial peer and Bluetooth device; redrawn when something changes (looked at "
     "every DURATION, default 200 ms). q leaves.",
     {0, 2, nullptr}, true, kNoQuery, watchCommand},
    {"serve", "serve [--listen ADDR] [--port N] [--from DIR]",
     "The handheld in a browser: serves the terminal (or, with --from, a temporary one made from a settings "
     "folder such as samples/terminal, with the wedge started, removed at the end) to a live page and prints "
     "the address to open, which carries a random token. The page shows the device's screen, scan key, lights, "
     "sounds, tray and message boxes, the viewfinder (barcodes, pictures, labels, cards), the frames at each "
     "serial peer and Bluetooth device, the trace log, and the settings files in an editor that check marks "
     "as you type. Listens on 127.0.0.1 (--listen another address) on port N (default: any free one); Ctrl-C "
     "ends it.",
     {0, 6, nullptr}, false, kNoQuery, serveCommand},
    {"check", "check [--strict] [FILE ...]",
     "Read Keyvane.ini and DecodeSettings.Vqf files (default: those the wedge would find on the terminal) with "
     "the wedge's own readers and print FILE:LINE: error|warning|note: message for every mistake. Exit 0 when "
     "nothing is found, 1 when something is (--strict: warnings too); --json gives records.",
     {0, kAnyCount, nullptr}, false, kNoQuery, checkCommand},
    {"settings", "settings [KEY] [--roff] | settings --effective [FILE]",
     "The settings reference: every key of Keyvane.ini with its section, kind, default, range and choices; "
     "--roff prints it as the manual page keyvane.ini(5). --effective: every key with the value the wedge holds "
     "after reading FILE (default: the terminal's Keyvane.ini) and where it came from (default, FILE:LINE, a line "
     "it overwrites, the key that forced it, a refused line), then each rule of the rule table.",
     {0, kAnyCount, nullptr}, false, kNoQuery, settingsCommand},
    {"symbologies", "symbologies [SYMBOLOGY]",
     "The symbologies: BarcodeSym number, symbology letter, name, engine id and DecodeSettings.Vqf section.",
     {0, kAnyCount, nullptr}, false, kNoQuery, symbologiesCommand},
    {"explain", "explain [--settings FILE] [--decode-settings FILE] [--model N | --models all] "
                "DATA [--sym SYMBOLOGY] | --image FILE | --swipe DATA ...",
     "What barcodes become under a settings file: the real wedge reads them in the order given on a temporary "
     "terminal of its own, and for each the rule that matched and why, the findings of check that bear on it, "
     "the text and keys typed, the serial frames, the sounds and lights, and what was not delivered and why. "
     "--models all: what each keypad family types, where they differ.",
     {1, kAnyCount, "which barcodes? (DATA --sym SYMBOLOGY, --image FILE or --swipe DATA)"}, false, kNoQuery,
     explainCommand},
    {"run", "run FILE.scenario [--keep] [--quiet]",
     "Run a scenario file; on a fresh temporary terminal unless --root is given. Exits non-zero when a "
     "step failed. --keep keeps the temporary terminal.",
     {0, kAnyCount, nullptr}, false, kNoQuery, runCommandScenario},
    {"help", "help [COMMAND]",
     "This help, or one command's.",
     {0, kAnyCount, nullptr}, false, kNoQuery, helpCommand},
};
// clang-format on

void symbologyWords(std::vector<std::string>& words) {
    for (int i = 0; i < kSymbologyCount; ++i) words.push_back(kSymbologyTable[i].name);
}

// The words that may come after `previous` in `command`'s arguments, one per
// line; "@file", "@folder" and "@duration" ask the shell for its own.
void printCompletion(const std::string& command, const std::string& previous, std::ostream& out) {
    std::vector<std::string> words;
    if (const OptionRule* o = findOption(command, previous)) {
        switch (o->kind) {
            case ValueKind::Duration: words.push_back("@duration"); break;
            case ValueKind::Symbology: symbologyWords(words); break;
            case ValueKind::Framing:
                words.push_back("auto");
                for (const FramingInfo& f : kFramings) words.push_back(f.name);
                break;
            case ValueKind::File: words.push_back("@file"); break;
            case ValueKind::Folder: words.push_back("@folder"); break;
            case ValueKind::Flag:
            case ValueKind::Count:
            case ValueKind::Text: break;  // nothing to offer
        }
    } else if (previous == command) {
        // The first argument.
        if (command == "config") words = configKeys();
        if (command == "symbologies" || command == "engine") symbologyWords(words);
        if (command == "settings")
            for (int i = 0; i < kSettingsCount; ++i)
                if (std::find(words.begin(), words.end(), kSettingsTable[i].name) == words.end())
                    words.push_back(kSettingsTable[i].name);
    } else if (command == "config" && previous.compare(0, 3, "COM") == 0 && previous.find('.') == std::string::npos) {
        words = {"none", "@file"};
    }
    for (const auto& w : words) out << w << "\n";
}

int helpCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    // The shell's completion asks what may follow a word (help --complete COMMAND PREVIOUS).
    if (args.size() > 1 && args[1] == "--complete") {
        if (args.size() != 4) return usage(args[0], err, "--complete needs a command and the word before the cursor");
        printCompletion(args[2], args[3], out);
        return kOk;
    }
    bool unknown = args.size() > 1 && !knownCommand(args[1]);
    if (!options.json) {
        printHelp(args.size() > 1 ? args[1] : "", out);
        return unknown ? kUsage : kOk;
    }
    // The table itself: every command, or the one asked for.
    std::vector<Record> records;
    for (const auto& c : kCommands)
        if (args.size() == 1 || unknown || args[1] == c.name)
            records.push_back(
                {{"command", c.name}, {"usage", c.usage}, {"summary", c.summary}, {"query", c.query != kNoQuery}});
    if (args.size() > 1 && !unknown)
        printRecord(options, records.front(), out);
    else
        printRecords(options, records, out);
    return unknown ? kUsage : kOk;
}

const Dispatcher kDispatcher{findCommand, runCommand, queryNames};

int runCommandScenario(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    return runScenario(kDispatcher, options, args, out, err);
}

int explainCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    return explainBarcodes(kDispatcher, options, args, out, err);
}

// settings: the reference, or with --effective what a file makes of it.
int settingsCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    if (std::find(args.begin(), args.end(), "--effective") == args.end())
        return settingsReference(options, args, out, err);
    std::string file;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--effective") continue;
        if (!file.empty() || (args[i].size() > 1 && args[i][0] == '-'))
            return usage(args[0], err, "--effective takes one settings file at most, not " + args[i]);
        file = args[i];
    }
    return effectiveSettings(options, file, out, err);
}

}  // namespace

int parseScenario(std::istream& in, const std::string& name, std::ostream& err) {
    return parseScenario(in, name, kDispatcher, err);
}

const Command* findCommand(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

bool knownCommand(const std::string& command) {
    return findCommand(command) != nullptr;
}

std::string queryNames() {
    std::string names;
    for (const auto& c : kCommands) {
        if (c.query == kNoQuery) continue;
        // The words of the synopsis a query cannot do without ("event NAME").
        std::string shown = c.name;
        std::string usage = c.usage;
        size_t at = shown.size();
        for (int i = 0; i < c.arguments.least && at < usage.size(); ++i) {
            size_t end = usage.find(' ', at + 1);
            if (end == std::string::npos) end = usage.size();
            shown += usage.substr(at, end - at);
            at = end;
        }
        names += (names.empty() ? "" : ", ") + shown;
    }
    return names;
}

namespace {

// Every line of a command's complaint as "keyvane-terminal COMMAND: ...",
// each said once; lines that begin with blanks (details) stay as they are.
// With --json each becomes a record on standard error.
void reportProblems(const Options& options, const std::string& name, int rc, const std::string& text,
                    std::ostream& err) {
    std::vector<std::string> seen;
    std::istringstream lines(text);
    std::string prefix = name.empty() ? "keyvane-terminal: " : "keyvane-terminal " + name + ": ";
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        std::string what = line;
        bool detail = line[0] == ' ';
        if (what.compare(0, prefix.size(), prefix) == 0)
            what = what.substr(prefix.size());
        else if (!name.empty() && what.compare(0, name.size() + 2, name + ": ") == 0)
            what = what.substr(name.size() + 2);
        if (std::find(seen.begin(), seen.end(), what) != seen.end()) continue;
        seen.push_back(what);
        if (!options.json) {
            err << (detail ? "" : prefix) << what << "\n";
            continue;
        }
        size_t b = what.find_first_not_of(' ');
        Record record{{"command", name},
                      {rc == kOk ? "warning" : "error", what.substr(b == std::string::npos ? 0 : b)}};
        if (rc != kOk) record.emplace_back("exit", rc);
        printRecord(options, record, err);
    }
}

}  // namespace

std::string nearestCommand(const std::string& name) {
    // At most two edits away, and fewer than the word has letters.
    std::string best;
    size_t bestDistance = std::min<size_t>(3, name.size());
    for (const auto& c : kCommands) {
        size_t d = editDistance(name, c.name);
        if (d < bestDistance) {
            best = c.name;
            bestDistance = d;
        }
    }
    return best;
}

const char* const kDurations =
    "A DURATION is milliseconds, or a number with its unit: 500ms, 1.5s, 2m (start, stop and command read\n"
    "a bare number up to 600 as seconds, as they did before).";

void printHelp(const std::string& command, std::ostream& out) {
    if (const Command* c = findCommand(command)) {
        out << "usage: keyvane-terminal [--root DIR] [--json] " << c->usage << "\n\n" << c->summary << "\n";
        if (takesDuration(c->name)) out << "\n" << kDurations << "\n";
        return;
    }
    out << "usage: keyvane-terminal [--root DIR] [--json] COMMAND [ARGS]\n\n"
           "The console of the host terminal: does what a person does with a handheld terminal\n"
           "and shows what it shows. DIR is the terminal root (default $KEYVANE_TERMINAL, else\n"
           "./terminal). Arguments take escapes for other bytes: \\r \\n \\t \\0 \\e \\\\ \\\" \\xHH \\uHHHH.\n"
           "Lists print one record per line as tab-separated key=value pairs (--json: a JSON array).\n"
           "Exit codes: 0 done, 1 failed (what was waited for did not happen), 2 bad arguments.\n"
        << kDurations << "\n\n"
           "Commands:\n";
    for (const auto& c : kCommands) {
        std::string u = c.usage;
        out << "  " << u << "\n";
    }
    out << "\n'keyvane-terminal help COMMAND' or 'keyvane-terminal COMMAND --help' tells more.\n";
}

int runCommand(const Options& given, const Args& args, std::ostream& out, std::ostream& err) {
    Options options = given;
    if (args.empty()) {
        printHelp("", err);
        return kUsage;
    }
    // --json may follow the command's name too; the words are the rest.
    Args words;
    for (const auto& word : args) {
        if (&word != &args[0] && word == "--json") {
            options.json = true;
            options.progress = nullptr;
        } else
            words.push_back(word);
    }
    const std::string& name = words[0];
    const Command* command = findCommand(name);
    std::ostringstream problems;
    int rc = kOk;
    if (command == nullptr) {
        std::string nearest = nearestCommand(name);
        problems << "unknown command \"" << escape(name) << "\" ("
                 << (nearest.empty() ? "keyvane-terminal --help lists them" : "did you mean " + nearest + "?") << ")\n";
        reportProblems(options, "", kUsage, problems.str(), err);
        return kUsage;
    }
    for (size_t i = 1; i < words.size(); ++i)
        if (words[i] == "--help" || words[i] == "-h") {
            printHelp(name, out);
            return kOk;
        }
    const ArgumentRule& rule = command->arguments;
    auto count = static_cast<int>(words.size() - 1);
    // Only init makes a terminal; elsewhere a missing root is a mistyped one
    // (run reads its file first, and makes its own root unless --root names one).
    bool needsRoot = command->attaches;
    if (count < rule.least || count > rule.most) {
        rc = usage(name, problems, rule.problem != nullptr ? rule.problem : "unknown argument " + words[1]);
    } else if (needsRoot && !terminal::isRoot(options.root)) {
        problems << "no terminal at " << options.root << " (make one with: keyvane-terminal --root " << options.root
                 << " init)\n";
        rc = kUsage;
    } else if (command->attaches && !terminal::attach(options.root)) {
        problems << "cannot attach to the terminal at " << options.root << "\n";
        rc = kFailed;
    } else if (std::string unsafe = command->attaches ? terminal::safetyProblem() : std::string(); !unsafe.empty()) {
        problems << unsafe << "\n";
        rc = kFailed;
    } else {
        rc = command->handler(options, words, out, problems);
    }
    reportProblems(options, name, rc, problems.str(), err);
    return rc;
}

}  // namespace console
