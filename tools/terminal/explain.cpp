// keyvane-terminal explain: what barcodes become under a settings file. The
// real wedge runs on a terminal root of its own, made for the run and removed
// after it, and the console's own commands put each barcode in view, press
// the scan key and read what the terminal shows: typed text, key events,
// serial frames, sounds and lights.
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <thread>

#include "console.h"
#include "output/framing.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/textfile.h"
#include "resources/resource.h"
#include "scan/symbologies.h"
#include "shell/constants.h"
#include "settings/cardreader.h"
#include "settings/diagnostics.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "settings/settingstable.h"

namespace console {

namespace fs = std::filesystem;

namespace {

// One thing to read: a barcode with its symbology, a picture or a card.
struct Item {
    enum Kind { Barcode, Picture, Swipe } kind = Barcode;
    std::string data;    // the barcode's data, the picture's path or the card's data
    std::string symbol;  // the symbology as given (empty: the engine's default)
};

// What the settings file holds for the explanation, as the wedge's reader leaves it.
struct Settings {
    int port = -1;
    bool serial = false, keystrokes = true;
    int framing = FramingRaw;
    int sync = 0;
    bool advanced = false;
    int scanDelay = 0;
    bool continuous = false;  // ContinuousScan (or PresentationMode): a pass goes on while the key is held
    bool cardReader = false;
    std::string prefix = "none", suffix = "none";
    BarcodeRule rules[kSyncGroups][kRulesPerGroup] = {};
    std::map<std::pair<int, int>, int> ruleLines;  // (group, slot) -> line of its header
    std::vector<std::pair<int, int>> sections;     // (first line, last line) of each section, by its header
    std::vector<Finding> findings;
};

// What one barcode did.
struct Outcome {
    int reads = 0;
    std::string problem;  // what the scan or swipe said when it failed
    std::string typed;
    std::vector<std::string> keys;
    std::vector<std::map<std::string, std::string>> frames;
    std::vector<std::string> feedback;
    std::vector<std::string> boxes;
    int setWith = 0;  // scan sync: read in one press with the set of this barcode (from 1)
};

std::string codes(const WORD* list) {
    std::string s;
    for (int i = 0; list[i] != 0; ++i) s += (i ? "," : "") + std::to_string(list[i]);
    return s.empty() ? "none" : s;
}

// The rule headers as the reader's second pass meets them.
struct HeaderReading {
    Settings* settings;
    int group;
};

void noteHeaders(void* context, const SettingsNote& n) {
    auto* reading = static_cast<HeaderReading*>(context);
    if (n.what != NoteHeader || n.pass != 2) return;
    if (n.used == HeaderSync) reading->group = n.detail - 1;
    if (n.used == HeaderBarcode) reading->settings->ruleLines[{reading->group, n.detail - 1}] = n.line;
}

// Reads the settings file with the wedge's reader, as check does.
bool readSettings(const std::string& path, Settings& s) {
    std::string bytes;
    if (!readHostFile(path, bytes)) return false;
    if (!checkFile(path, fs::path(path).filename().string(), s.findings)) return false;
    TextFile* file = textFileOpenBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (file == nullptr) return false;
    HeaderReading reading = {&s, 0};
    SettingsDiagnostics diagnostics = {noteHeaders, &reading};
    inspectSettingsFile(file, diagnostics);
    textFileClose(file);
    s.port = settings.ComportNumber;
    s.serial = settings.SendData.load() != 0;
    s.keystrokes = settings.SendToForegroundApp != 0;
    s.framing = settings.ConnectingTo;
    s.sync = settings.EnableSequenceEditor;
    s.advanced = settings.EnableADVSuffixPrefix != 0;
    s.scanDelay = settings.ScanDelayMode;
    s.continuous = settings.ContinuousScan != 0 || settings.PresentationMode.load() != 0;
    s.prefix = codes(settings.prefix);
    s.suffix = codes(settings.Suffix);
    std::copy(&ruleTable[0][0], &ruleTable[0][0] + kSyncGroups * kRulesPerGroup, &s.rules[0][0]);
    resetSettings();
    clearRuleTable();
    resetCardReaderSettings();
    // The sections of the file by their headers, for the findings that bear on a rule.
    std::istringstream lines(bytes);
    int number = 0, start = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        size_t b = line.find_first_not_of(" \t");
        if (b != std::string::npos && line[b] == '[') {
            s.sections.push_back({start, number - 1});
            start = number;
        }
    }
    s.sections.push_back({start, number});
    return true;
}

const char* framingName(int framing) {
    for (const FramingInfo& f : kFramings)
        if (f.framing == framing) return f.name;
    return "raw";
}

// The fields of the plain records a command printed.
std::vector<std::map<std::string, std::string>> records(const std::string& text) {
    std::vector<std::map<std::string, std::string>> list;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> r;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            size_t eq = field.find('=');
            std::string value, problem;
            if (eq == std::string::npos) continue;
            if (!unescape(field.substr(eq + 1), value, problem)) value = field.substr(eq + 1);
            r[field.substr(0, eq)] = value;
        }
        list.push_back(r);
    }
    return list;
}

// The explain terminal: a temporary root and the console's commands on it.
class Run {
public:
    Run(const Dispatcher& commands, const Options& options) : commands_(commands), options_(options) {
        options_.json = false;
        options_.progress = nullptr;
        options_.rootGiven = true;
    }
    ~Run() {
        if (options_.root.empty()) return;
        command({"stop"});
        killWedge(options_);
        closeAllPeers(options_);
        std::error_code ec;
        fs::remove_all(options_.root, ec);
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    bool make(std::ostream& err) {
        if (!makeTemporaryFolder("explain", options_.root)) {
            err << "keyvane-terminal explain: cannot make a temporary terminal root\n";
            return false;
        }
        return true;
    }
    // Runs a command; its output in `out`, its complaint kept.
    int command(const Args& args, std::string* out = nullptr) {
        std::ostringstream o, e;
        int rc = commands_.run(options_, args, o, e);
        if (out) *out = o.str();
        complaint = e.str();
        return rc;
    }
    std::string output(const Args& args) {
        std::string out;
        command(args, &out);
        return out;
    }
    const std::string& root() const { return options_.root; }

    std::string complaint;

private:
    const Dispatcher& commands_;
    Options options_;
};

std::string soundName(const std::string& sound) {
    if (sound == "resource:" + std::to_string(IDW_GOOD_READ)) return "good-read sound";
    if (sound == "resource:" + std::to_string(IDW_BAD_READ)) return "bad-read sound";
    if (sound == "resource:" + std::to_string(IDW_CONNECTED)) return "connected sound";
    if (sound == "resource:" + std::to_string(IDW_PORT_FAILED)) return "port-failed sound";
    if (sound.compare(0, 5, "file:") == 0) return "sound file " + sound.substr(5);
    return "sound " + sound;
}

// The key events typed, as a keyboard names them: Shift held shows as "Shift+".
std::vector<std::string> typedKeys(const std::string& keysOutput) {
    std::vector<std::string> keys;
    bool shift = false;
    for (const auto& k : records(keysOutput)) {
        auto how = k.find("how");
        if (how == k.end() || how->second == "user") continue;  // the scan key the console pressed
        bool down = k.count("state") && k.at("state") == "down";
        if (k.count("char")) {
            if (down) keys.push_back(k.at("char"));
            continue;
        }
        long long vk = 0;
        if (!k.count("vk") || !parseInt(k.at("vk"), vk)) continue;
        if (vk == 0x10) {
            shift = down;
            continue;
        }
        if (down) keys.push_back((shift ? "Shift+" : "") + keyName(static_cast<unsigned>(vk)));
    }
    return keys;
}

// One press of the scan key for the barcodes in view, as the console's scan
// does it, but over as soon as the wedge is: the scan loop runs on the
// wedge's message loop, so the pass has ended when, after the key is
// released, the message loop waits again and every light is off. Returns the
// good reads, -1 when the wedge did not finish within the time-out.
int pressScanKey(long long timeoutMs) {
    using Clock = std::chrono::steady_clock;
    int wedge = runningWedgePid();
    if (wedge <= 0) return -1;
    size_t before = terminal::sounds().size();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    terminal::pressKey(kScanKey);
    // The pass has decided when it plays its good-read or bad-read sound; a
    // duplicate plays none and is read again while the key is held.
    auto decided = [before] {
        auto played = terminal::sounds();
        for (size_t i = before; i < played.size(); ++i)
            if (played[i].sound == "resource:" + std::to_string(IDW_GOOD_READ) ||
                played[i].sound == "resource:" + std::to_string(IDW_BAD_READ))
                return true;
        return false;
    };
    while (!decided() && Clock::now() < deadline && processAlive(wedge))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    terminal::releaseKey(kScanKey);
    auto passOver = [] {
        for (unsigned led = 0; led < 3; ++led)
            if (terminal::ledState(led) != 0) return false;
        return true;
    };
    deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(terminal::messageLoopIdle(wedge) && passOver())) {
        if (Clock::now() >= deadline || !processAlive(wedge)) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    terminal::clearView();
    int reads = 0;
    auto played = terminal::sounds();
    for (size_t i = before; i < played.size(); ++i)
        if (played[i].sound == "resource:" + std::to_string(IDW_GOOD_READ)) ++reads;
    return reads;
}

// Reads the items one after another in one wedge; false (and why) when the
// terminal or the wedge could not be set up.
// How much of each record the earlier barcodes left: what follows is the next one's.
struct Seen {
    size_t sounds = 0, leds = 0, boxes = 0, frames = 0;
};

// Makes the terminal with the settings and starts the wedge; false after
// saying why.
bool startWedge(Run& run, const std::vector<Item>& items, const std::string& settingsFile,
                const std::string& decodeFile, int model, std::ostream& err) {
    auto fail = [&](const std::string& what) {
        err << "keyvane-terminal explain: " << what << (run.complaint.empty() ? "\n" : ": " + run.complaint);
        if (!run.complaint.empty() && run.complaint.back() != '\n') err << "\n";
        return false;
    };
    if (run.command({"init"}) != kOk) return fail("cannot make the terminal");
    bool pictures = std::any_of(items.begin(), items.end(), [](const Item& i) { return i.kind == Item::Picture; });
    // Terminal time runs fast; a picture is read in real time, within the engine's time-outs.
    if (run.command({"clock", pictures ? "1" : "20"}) != kOk) return fail("cannot set the clock");
    if (model != 0 && run.command({"model", std::to_string(model)}) != kOk) return fail("cannot set the model");
    std::error_code ec;
    fs::create_directories(run.root() + "/Zentrova", ec);
    fs::create_directories(run.root() + "/DebugADV", ec);
    std::ofstream(run.root() + "/DebugADV/Keyvane.txt").close();
    if (settingsFile.empty())
        std::ofstream(run.root() + "/Zentrova/Keyvane.ini").close();
    else if (!fs::copy_file(settingsFile, run.root() + "/Zentrova/Keyvane.ini", ec))
        return fail("cannot copy " + settingsFile);
    if (!decodeFile.empty() && !fs::copy_file(decodeFile, run.root() + "/Zentrova/DecodeSettings.Vqf", ec))
        return fail("cannot copy " + decodeFile);
    if (run.command({"start"}) != kOk) return fail("the wedge did not start");
    return true;
}

// Puts one barcode (picture, swipe) to the wedge as a person would: its
// good reads into `o`; the scan's own records into `scanned`.
int scanItem(Run& run, const Settings& s, const Item& item, Outcome& o, std::string& scanned) {
    if (item.kind == Item::Swipe) {
        int rc = run.command({"swipe", item.data}, &scanned);
        o.reads = rc == kOk ? 1 : 0;
        return rc;
    }
    if (item.kind == Item::Barcode && !s.continuous) {
        // The barcode in view as the console's view puts it, then one press.
        Args view = {"view", item.data};
        if (!item.symbol.empty()) view.insert(view.end(), {"--sym", item.symbol});
        size_t before = terminal::sounds().size();
        int rc = run.command(view);
        o.reads = rc == kOk ? pressScanKey(1000) : 0;
        if (rc == kOk && o.reads < 0) {
            run.complaint = "the wedge was still busy a second after the key was released";
            rc = kFailed;
        } else if (rc == kOk && o.reads == 0) {
            std::string played;
            auto sounds = terminal::sounds();
            for (size_t i = before; i < sounds.size(); ++i)
                played += (played.empty() ? "" : ", ") + soundName(sounds[i].sound);
            run.complaint = "0 good reads within 1 s; " + (played.empty() ? "no sound" : "sounds played: " + played);
            rc = kFailed;
        }
        o.reads = std::max(o.reads, 0);
        return rc;
    }
    Args scan = {"scan"};
    if (item.kind == Item::Picture) {
        scan.insert(scan.end(), {"--image", item.data});
    } else {
        scan.push_back(item.data);
        if (!item.symbol.empty()) scan.insert(scan.end(), {"--sym", item.symbol});
    }
    // A barcode the wedge passes over (a duplicate) gives no good read: the wait is short.
    scan.insert(scan.end(), {"--timeout", item.kind == Item::Picture ? "5000" : "1000"});
    int rc = run.command(scan, &scanned);
    for (const auto& r : records(scanned))
        if (r.count("reads")) o.reads = std::atoi(r.at("reads").c_str());
    return rc;
}

// What the barcode gave: typed text and keys, frames at the peer, sounds and
// lights in the order they came, message boxes.
void collectOutcome(Run& run, const Settings& s, Seen& seen, Outcome& o) {
    o.typed = run.output({"text", "--raw"});
    o.keys = typedKeys(run.output({"keys"}));
    if (s.serial && s.port >= 0) {
        std::string port = "COM" + std::to_string(s.port);
        auto all = records(run.output({"peer", port, "--framing", framingName(s.framing)}));
        for (size_t i = seen.frames; i < all.size(); ++i) o.frames.push_back(all[i]);
        seen.frames = std::max(seen.frames, all.size());
    }
    std::vector<std::pair<long long, std::string>> feedback;
    auto soundList = records(run.output({"sounds"}));
    for (size_t i = seen.sounds; i < soundList.size(); ++i)
        feedback.push_back({std::atoll(soundList[i]["time"].c_str()), soundName(soundList[i]["sound"])});
    seen.sounds = soundList.size();
    auto ledList = records(run.output({"leds"}));
    for (size_t i = seen.leds; i < ledList.size(); ++i)
        feedback.push_back({std::atoll(ledList[i]["time"].c_str()),
                            ledList[i]["light"] + (ledList[i]["light"] == "vibrator" ? "" : " light") +
                                (ledList[i]["state"] == "0" ? " off" : " on")});
    seen.leds = ledList.size();
    std::stable_sort(feedback.begin(), feedback.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& f : feedback) o.feedback.push_back(f.second);
    auto boxList = records(run.output({"msgbox"}));
    for (size_t i = seen.boxes; i < boxList.size(); ++i)
        o.boxes.push_back(boxList[i]["caption"] + ": " + boxList[i]["text"]);
    seen.boxes = boxList.size();
}

bool readItems(const Dispatcher& commands, const Options& options, const std::vector<Item>& items,
               const std::string& settingsFile, const std::string& decodeFile, const Settings& s, int model,
               std::vector<Outcome>& outcomes, std::ostream& err) {
    Run run(commands, options);
    if (!run.make(err)) return false;
    if (!startWedge(run, items, settingsFile, decodeFile, model, err)) return false;
    Seen seen;
    seen.sounds = records(run.output({"sounds"})).size();
    seen.leds = records(run.output({"leds"})).size();
    seen.boxes = records(run.output({"msgbox"})).size();
    // Scan sync reads the barcodes in view together, in one press: all but
    // the last are put in view, and the last is scanned with them.
    bool together = s.sync != 0 && std::all_of(items.begin(), items.end(), [](const Item& i) {
        return i.kind == Item::Barcode;
    });
    for (size_t n = 0; together && n + 1 < items.size(); ++n) {
        Args view = {"view", items[n].data};
        if (!items[n].symbol.empty()) view.insert(view.end(), {"--sym", items[n].symbol});
        if (run.command(view) != kOk) {
            err << "keyvane-terminal explain: cannot put " << items[n].data << " in view"
                << (run.complaint.empty() ? "" : ": " + run.complaint);
            if (run.complaint.empty() || run.complaint.back() != '\n') err << "\n";
            return false;
        }
        Outcome o;
        o.setWith = static_cast<int>(items.size());
        outcomes.push_back(o);
    }
    for (size_t n = together ? items.size() - 1 : 0; n < items.size(); ++n) {
        Outcome o;
        run.command({"clear-text"});
        run.command({"clear-keys"});
        std::string scanned;
        if (scanItem(run, s, items[n], o, scanned) != kOk) o.problem = run.complaint;
        collectOutcome(run, s, seen, o);
        outcomes.push_back(o);
    }
    return true;
}

// Whether a rule takes the barcode, told as the wedge decides it.
std::string ruleFor(const Settings& s, const Item& item, char letter, std::vector<int>& lines) {
    if (item.kind == Item::Swipe) return "a card: the card reader's command string formats it, no barcode rule";
    if (item.kind == Item::Picture) return "the barcodes the engine finds in the picture";
    std::string sym = letter ? std::string("symbology ") + letter : "the engine's default symbology";
    if (s.sync) {
        std::string taken;
        for (int g = 0; g < kSyncGroups; ++g)
            for (int r = 0; r < kRulesPerGroup; ++r) {
                const BarcodeRule& rule = s.rules[g][r];
                if (rule.symbologyLetter == 0 || rule.symbologyLetter != letter) continue;
                if (rule.length != 0 && rule.length != static_cast<int>(item.data.size())) continue;
                std::string start = utf8(std::u16string(rule.startText));
                if (item.data.compare(0, start.size(), start) != 0) continue;
                taken += (taken.empty() ? "" : ", ") + std::string("[Sync") + std::to_string(g + 1) + "] [Barcode" +
                         std::to_string(r + 1) + "]";
                auto at = s.ruleLines.find({g, r});
                if (at != s.ruleLines.end()) lines.push_back(at->second);
            }
        return "scan sync: " + sym + (taken.empty() ? " is taken by no rule (symbology, length and start text)"
                                                    : " is taken by " + taken +
                                                          " (symbology, length and start text); the set is "
                                                          "delivered in rule order once complete");
    }
    if (!s.advanced)
        return "no rules (neither `EnableADVSuffixPrefix` 1 nor scan sync): the global prefix (" + s.prefix +
               ") and `Suffix` (" + s.suffix + ")";
    for (int r = 0; r < 6; ++r) {
        const BarcodeRule& rule = s.rules[0][r];
        if (rule.symbologyLetter == 0 || rule.symbologyLetter != letter) continue;
        auto at = s.ruleLines.find({0, r});
        if (at != s.ruleLines.end()) lines.push_back(at->second);
        return "[Barcode" + std::to_string(r + 1) + "]" +
               (at != s.ruleLines.end() ? " (line " + std::to_string(at->second) + ")" : "") + ": the first rule of " +
               sym + " (without scan sync rules match by symbology alone); its prefix (" + codes(rule.prefix) +
               ") and suffix (" + codes(rule.suffix) + ") replace the global ones";
    }
    return "no rule of " + sym + ": the global prefix (" + s.prefix + ") and `Suffix` (" + s.suffix + "), no waits";
}

// Why nothing reached the application or the peer.
std::string notDelivered(const Settings& s, const Item& item, const Outcome& o, const std::vector<Item>& earlier) {
    if (o.setWith) return "";
    if (!o.typed.empty() || !o.frames.empty()) return "";
    if (s.sync && o.reads == 0) return "scan sync: the set in view is not complete; nothing of it is delivered";
    if (!s.serial && !s.keystrokes) return "output mode 0: `SendData` and `SendToForegroundApp` are both 0";
    if (o.reads == 0) {
        if (item.kind == Item::Barcode && (s.scanDelay == 2 || s.scanDelay == 3))
            for (const Item& e : earlier) {
                std::string a = e.data, b = item.data;
                std::transform(a.begin(), a.end(), a.begin(), ::tolower);
                std::transform(b.begin(), b.end(), b.begin(), ::tolower);
                if (e.kind == Item::Barcode && a == b)
                    return "a duplicate: `ScanDelayMode` " + std::to_string(s.scanDelay) +
                           " passes over a barcode read before";
            }
        return "no good read" + (o.problem.empty() ? std::string() : " (" + o.problem.substr(0, o.problem.find('\n')) + ")");
    }
    if (item.kind == Item::Barcode && item.data.size() >= 3 && item.data.compare(0, 3, "\x02M\x03") == 0)
        return "the pairing barcode: the next barcode is taken as a Bluetooth address";
    if (!earlier.empty() && earlier.back().data.size() >= 3 && earlier.back().data.compare(0, 3, "\x02M\x03") == 0)
        return "pairing: taken as a Bluetooth address after the pairing barcode";
    if (s.sync) return "scan sync: waiting for the rest of its set";
    return "nothing was delivered";
}

bool parseItems(const Args& args, size_t first, std::vector<Item>& items, std::string& problem) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--image" || a == "--swipe") {
            if (i + 1 >= args.size()) {
                problem = a + " needs a value";
                return false;
            }
            items.push_back({a == "--image" ? Item::Picture : Item::Swipe, args[++i], ""});
        } else if (a == "--sym") {
            if (items.empty() || items.back().kind != Item::Barcode || !items.back().symbol.empty() ||
                i + 1 >= args.size()) {
                problem = "--sym follows a barcode's data";
                return false;
            }
            items.back().symbol = args[++i];
            if (symbologyLetterOf(items.back().symbol) == 0) {
                problem = "no symbology " + items.back().symbol + " (keyvane-terminal symbologies lists them)";
                return false;
            }
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            problem = "unknown option " + a;
            return false;
        } else {
            items.push_back({Item::Barcode, a, ""});
        }
    }
    if (items.empty()) problem = "which barcodes? (DATA --sym SYMBOLOGY, --image FILE or --swipe DATA)";
    return !items.empty();
}

// A model of each keypad family: the fallback model for family 0.
std::vector<std::pair<int, int>> familyModels() {
    std::vector<std::pair<int, int>> models = {{0, kFallbackDeviceModel}};
    for (int model = 1; model < 10000; ++model) {
        int family = keypadFamily(model);
        if (family == 0) continue;
        bool have = std::any_of(models.begin(), models.end(), [&](const auto& m) { return m.first == family; });
        if (!have) models.push_back({family, model});
    }
    std::sort(models.begin(), models.end());
    return models;
}

std::string joined(const std::vector<std::string>& list, const char* separator) {
    std::string s;
    for (size_t i = 0; i < list.size(); ++i) s += (i ? separator : "") + list[i];
    return s;
}

}  // namespace

// What explain was asked: the settings, the model and the barcodes.
struct Request {
    std::string settingsFile, decodeFile;
    long long model = 0;
    bool allModels = false;
    std::vector<Item> items;
};

// Reads explain's words; kOk, or kUsage after saying what is wrong.
int readRequest(const Args& args, Request& q, std::ostream& err) {
    size_t first = 1;
    for (; first < args.size(); ++first) {
        const std::string& a = args[first];
        if ((a == "--settings" || a == "--decode-settings" || a == "--model" || a == "--models") &&
            first + 1 >= args.size())
            return usage(args[0], err, a + " needs a value");
        if (a == "--settings") {
            q.settingsFile = fs::absolute(args[++first]).string();
        } else if (a == "--decode-settings") {
            q.decodeFile = fs::absolute(args[++first]).string();
        } else if (a == "--model") {
            if (!parseNumber(args[++first], 1, 0x7FFFFFFF, q.model))
                return usage(args[0], err, "--model takes a device model number");
        } else if (a == "--models") {
            if (args[++first] != "all") return usage(args[0], err, "--models takes all");
            q.allModels = true;
        } else {
            break;
        }
    }
    std::string problem;
    if (!parseItems(args, first, q.items, problem)) return usage(args[0], err, problem);
    for (const Item& item : q.items)
        if (item.kind == Item::Picture && !fs::is_regular_file(imagePath(item.data)))
            return usage(args[0], err, "no picture " + item.data);
    return kOk;
}

// What each keypad family types, where the families differ.
int familyTable(const Dispatcher& commands, const Options& options, const Request& q, const Settings& s,
                std::ostream& out, std::ostream& err) {
    auto models = familyModels();
    std::vector<std::vector<Outcome>> runs;
    for (const auto& [family, number] : models) {
        std::vector<Outcome> outcomes;
        if (!readItems(commands, options, q.items, q.settingsFile, q.decodeFile, s, number, outcomes, err))
            return kFailed;
        runs.push_back(outcomes);
    }
    std::vector<Record> rows;
    for (size_t i = 0; i < q.items.size(); ++i) {
        bool differ = false;
        for (const auto& r : runs) differ = differ || joined(r[i].keys, " ") != joined(runs[0][i].keys, " ");
        if (!differ) {
            rows.push_back({{"barcode", i + 1}, {"data", q.items[i].data}, {"family", "all"},
                            {"keys", joined(runs[0][i].keys, " ")}});
            continue;
        }
        for (size_t m = 0; m < models.size(); ++m)
            rows.push_back({{"barcode", i + 1},
                            {"data", q.items[i].data},
                            {"family", models[m].first},
                            {"model", models[m].second},
                            {"keys", joined(runs[m][i].keys, " ")}});
    }
    printRecords(options, rows, out);
    return kOk;
}

// The findings on the general keys and on the rule that takes the barcode.
std::vector<std::string> findingsFor(const Settings& s, const std::vector<int>& ruleLines, const std::string& file) {
    std::vector<std::string> findings;
    for (const Finding& f : s.findings) {
        if (f.severity == "note" && f.line == 0) continue;
        bool general = f.line > 0 && !s.sections.empty() && f.line <= s.sections.front().second;
        bool inRule = false;
        for (int line : ruleLines)
            for (const auto& [from, to] : s.sections)
                if (from == line && f.line >= from && f.line <= to) inRule = true;
        if (general || inRule) findings.push_back(file + ":" + std::to_string(f.line) + ": " + f.severity + ": " + f.message);
    }
    return findings;
}

// One barcode's account, as explain tells it.
struct Account {
    std::string what, rule, why;
    std::vector<std::string> findings;
};

Record accountRecord(size_t number, const Account& a, const Outcome& o) {
    Record r{{"barcode", number}, {"what", a.what}, {"rule", a.rule}, {"reads", o.reads},
             {"typed", o.typed},  {"keys", joined(o.keys, " ")}};
    std::string frames, hexes;
    for (const auto& f : o.frames) {
        frames += (frames.empty() ? "" : "; ") + f.at("framing") +
                  (f.count("sequence") ? " sequence " + f.at("sequence") : "") +
                  (f.count("length") ? " length " + f.at("length") : "") +
                  (f.count("crc") ? " crc " + f.at("crc") : "") + " data " + escape(f.at("data"));
        hexes += (hexes.empty() ? "" : " ") + f.at("hex");
    }
    r.emplace_back("serial", frames);
    r.emplace_back("hex", hexes);
    r.emplace_back("feedback", joined(o.feedback, ", "));
    r.emplace_back("findings", joined(a.findings, "; "));
    r.emplace_back("delivered", a.why.empty());
    if (!a.why.empty()) r.emplace_back("why", a.why);
    return r;
}

void printAccount(size_t number, const Account& a, const Outcome& o, int port, std::ostream& out) {
    out << number << ". " << a.what << "\n";
    out << "   rule:     " << a.rule << "\n";
    if (o.setWith)
        out << "   read:     together with the barcodes in view, in the press of barcode " << o.setWith
            << " (scan sync)\n";
    for (const std::string& f : a.findings) out << "   finding:  " << f << "\n";
    if (!o.typed.empty() || !o.keys.empty()) {
        out << "   typed:    \"" << escape(o.typed) << "\"\n";
        out << "   keys:     " << joined(o.keys, " ") << "\n";
    }
    for (const auto& f : o.frames) {
        out << "   serial:   COM" << port << " " << f.at("framing");
        if (f.count("kind")) out << " " << f.at("kind");
        if (f.count("sequence")) out << ", sequence " << f.at("sequence");
        if (f.count("length")) out << ", length " << f.at("length");
        if (f.count("crc")) out << ", CRC " << f.at("crc");
        out << ": \"" << escape(f.at("data")) << "\"\n";
        out << "             " << f.at("hex") << "\n";
    }
    if (!o.feedback.empty()) out << "   feedback: " << joined(o.feedback, ", ") << "\n";
    for (const std::string& b : o.boxes) out << "   message:  " << escape(b) << "\n";
    if (!a.why.empty()) out << "   not delivered: " << a.why << "\n";
}

int explainBarcodes(const Dispatcher& commands, const Options& options, const Args& args, std::ostream& out,
                    std::ostream& err) {
    Request q;
    if (int rc = readRequest(args, q, err); rc != kOk) return rc;
    Settings s;
    if (!q.settingsFile.empty() && !readSettings(q.settingsFile, s)) {
        err << "keyvane-terminal explain: cannot read " << q.settingsFile << "\n";
        return kUsage;
    }
    if (q.allModels) return familyTable(commands, options, q, s, out, err);

    std::vector<Outcome> outcomes;
    if (!readItems(commands, options, q.items, q.settingsFile, q.decodeFile, s, static_cast<int>(q.model), outcomes,
                   err))
        return kFailed;
    std::string shownName = q.settingsFile.empty() ? "" : fs::path(q.settingsFile).filename().string();
    std::vector<Record> records;
    for (size_t i = 0; i < q.items.size(); ++i) {
        const Item& item = q.items[i];
        char letter = item.symbol.empty() ? 0 : symbologyLetterOf(item.symbol);
        std::vector<int> ruleLines;
        Account a;
        a.rule = ruleFor(s, item, letter, ruleLines);
        a.findings = findingsFor(s, ruleLines, shownName);
        a.why = notDelivered(s, item, outcomes[i], std::vector<Item>(q.items.begin(), q.items.begin() + i));
        a.what = item.kind == Item::Swipe     ? "card \"" + escape(item.data) + "\""
                 : item.kind == Item::Picture ? "picture " + item.data
                                              : "\"" + escape(item.data) + "\"" +
                                                    (letter ? std::string(" symbology ") + letter : "");
        if (options.json)
            records.push_back(accountRecord(i + 1, a, outcomes[i]));
        else
            printAccount(i + 1, a, outcomes[i], s.port, out);
    }
    if (options.json) printRecords(options, records, out);
    return kOk;
}

}  // namespace console
