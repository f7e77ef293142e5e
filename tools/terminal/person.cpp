// The console's commands that act as a person with the terminal: the scan
// key, what is in view of the scanner, a card swiped, the tray, menus, message
// boxes, the focused window and named events. Each waits, where it must, for
// the wedge to be done with what it did.
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "console.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "resources/resource.h"
#include "scan/symbologies.h"
#include "shell/constants.h"

namespace console {

namespace fs = std::filesystem;

namespace {

// Options shared by view and scan (scan's own go to `extra`, a flag as 1).
int parseBarcode(const std::string& command, const Args& args, size_t first, terminal::Barcode& barcode, bool& haveData,
                 std::map<std::string, long long>& extra, std::ostream& err) {
    std::vector<OptionGiven> given;
    Args rest;
    const WordRule data{1, "one barcode at a time (quote data with blanks)", nullptr, "unknown option "};
    if (int rc = readOptions(command, args, first, data, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) {
        const std::string& v = o.text;
        long long n = 0;
        if (o.is("--sym")) {
            // One character is the letter itself (escapes allowed, e.g. \x00).
            bool single = v.size() == 1 && !std::isdigit(static_cast<unsigned char>(v[0]));
            char letter = single ? v[0] : symbologyLetterOf(v);
            if (!single && letter == 0) return usage(command, err, o.rule->problem);
            barcode.symbologyLetter = letter;
        } else if (o.is("--id2") || o.is("--id3")) {
            if (v.size() != 1) return usage(command, err, o.rule->problem);
            (o.is("--id2") ? barcode.second : barcode.third) = v[0];
        } else if (o.is("--symid")) {
            const Symbology* named = symbologyByWord(v.c_str());
            if (named != nullptr && !parseInt(v, n))
                n = named->engineId;
            else if (!parseNumber(v, -1, 255, n))
                return usage(command, err, o.rule->problem);
            barcode.symbologyId = static_cast<int>(n);
        } else if (o.is("--row")) {
            barcode.row = static_cast<int>(o.number);
        } else {
            extra[o.rule->name] = o.number;  // --reads, --hold, --timeout, --keep
        }
    }
    if (!rest.empty()) {
        barcode.data = rest[0];
        haveData = true;
    }
    if (haveData && barcode.data.empty()) return usage(command, err, "the barcode's data is empty");
    return kOk;
}

size_t countGoodReads(size_t from) {
    auto s = terminal::sounds();
    size_t n = 0;
    for (size_t i = from; i < s.size(); ++i)
        if (s[i].sound == soundRecord(IDW_GOOD_READ)) ++n;
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
    auto deadline = deadlineIn(timeoutMs);
    if (int pid = runningWedgePid(); pid > 0)
        waitUntil(deadline, 2, &waiting, [pid] { return terminal::messageLoopIdle(pid) || !processAlive(pid); });
    Snapshot last = snapshot();
    auto since = WaitClock::now();
    bool settled = false;
    waitUntil(deadline, 10, &waiting, [&] {
        if (wedge > 0 && !processAlive(wedge)) return true;
        Snapshot now = snapshot();
        if (now != last) {
            last = now;
            since = WaitClock::now();
        } else if (!std::get<5>(now) && WaitClock::now() - since >= std::chrono::milliseconds(150)) {
            settled = true;
        }
        return settled;
    });
    return settled;
}

// A card's data goes its own way (the card reader's thread): waits until the
// terminal shows something of it, then until it is quiet again.
void waitCardDelivered(const Options& options, const Snapshot& before, int wedge, long long timeoutMs) {
    Waiting waiting(options, "swipe", "the card's data to be delivered");
    waitUntil(deadlineIn(timeoutMs), 5, &waiting,
              [&] { return snapshot() != before || (wedge != 0 && !processAlive(wedge)); });
    waitSettled(timeoutMs, wedge, waiting);
}

// Whether the engine reads a barcode in view as the stand-in engine decides
// it: its symbology on and its length within the limits (any symbology reads
// when none is named), its row inside the decode window while that is on.
bool engineReads(const terminal::Barcode& b) {
    std::vector<int32_t> window = terminal::decodeWindow();
    if (window.size() == 5 && window[0] != 0 && (b.row < window[2] || b.row > window[4])) return false;
    if (b.symbologyId == -1) return true;
    terminal::SymbologyState sym = terminal::symbology(b.symbologyId);
    return (sym.flags & 0x1) != 0 && b.data.size() >= sym.minLength && b.data.size() <= sym.maxLength;
}

// Why a scan of what is in view brought no good read, as the terminal shows
// it: the wedge's scan key and engine, the view, the bad-read sound.
std::string whyNoGoodRead(int wedge, const std::vector<terminal::Barcode>& view, bool image, bool badRead) {
    if (wedge == 0) return "no wedge running";
    bool scanKey = false;
    for (const auto& h : terminal::hotKeys()) scanKey = scanKey || (h.virtualKey == kScanKey && h.pid == wedge);
    if (!scanKey || !terminal::engineConnected()) return "the scanner is off";
    if (view.empty() && !image) return "nothing in view";
    if (!badRead) return "the wedge gave no answer";
    // A barcode the engine reads that still ends as a bad read was taken for
    // one read before (the history of ScanDelayMode 3 lasts one press only).
    for (const auto& b : view)
        if (engineReads(b)) return "a duplicate was skipped (ScanDelayMode 2)";
    return image ? "bad read (no barcode the engine reads in the image)"
                 : "bad read (the engine does not read what is in view: its symbology off, its length or row outside "
                   "the limits)";
}

}  // namespace

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
    {
        Waiting waiting(options, "scan", std::to_string(wanted) + " good read(s)");
        waitUntil(deadlineIn(extra["--timeout"]), 2, &waiting,
                  [&] { return countGoodReads(before) >= wanted || (wedge != 0 && !processAlive(wedge)); });
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
    std::vector<terminal::Barcode> view = terminal::inView();
    bool imageShown = !terminal::imageInView().path.empty();
    if (haveData && extra.count("--keep") == 0) terminal::clearView();
    if (died)
        err << "scan: the wedge (pid " << wedge << ") ended during the scan\n";
    else if (!settled)
        err << "scan: the wedge was still busy " << durationText(extra["--timeout"]) << " after the key was released\n";
    printRecord(options, {{"reads", reads}}, out);
    if (reads < wanted && !died) {
        // What the terminal did instead: the sounds of the pass (bad reads).
        std::string played;
        bool badRead = false;
        auto sounds = terminal::sounds();
        for (size_t i = before; i < sounds.size(); ++i) {
            played += (played.empty() ? "" : ", ") + soundName(sounds[i].sound);
            badRead = badRead || sounds[i].sound == soundRecord(IDW_BAD_READ);
        }
        err << "scan: " << reads << " good read(s) of " << wanted << " within " << durationText(extra["--timeout"])
            << ": " << whyNoGoodRead(wedge, view, imageShown, badRead) << "; "
            << (played.empty() ? "no sound" : "sounds played: " + played) << "\n";
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

}  // namespace console
