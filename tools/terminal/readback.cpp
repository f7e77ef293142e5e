// The console's commands that read back what the terminal shows and keeps:
// the focused text, key events, lights, vibrator, sounds, message boxes,
// windows, hot keys, what is in view, the trace log, device files and the
// scan engine's state. They change nothing, so a scenario's expect may ask
// most of them.
#include <cctype>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "platform/host/terminal.h"
#include "scan/symbologies.h"
#include "shell/constants.h"

namespace console {

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

namespace {

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
    unsigned led = vibratorLed();
    for (const auto& l : terminal::ledChanges())
        if (l.led == led) records.push_back({{"time", l.time}, {"vibrator", l.state ? "on" : "off"}});
    records.push_back({{"now", terminal::ledState(led) ? "on" : "off"}, {"led", led}});
    printRecords(options, records, out);
    return kOk;
}

int soundsCommand(const Options& options, const Args&, std::ostream& out, std::ostream&) {
    std::vector<Record> records;
    for (const auto& s : terminal::sounds())
        records.push_back({{"time", s.time}, {"name", soundName(s.sound)}, {"sound", s.sound}});
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
        if (args[1].size() == 1 && !std::isdigit(static_cast<unsigned char>(args[1][0]))) {
            // A letter several symbologies carry names none of them alone.
            const Symbology* sharing[kSymbologyEntries];
            int count = symbologiesByLetter(args[1][0], sharing, kSymbologyEntries);
            named = count == 1 ? sharing[0] : nullptr;
            if (count > 1) {
                std::string names;
                for (int i = 0; i < count; ++i) names += std::string(i ? ", " : "") + sharing[i]->name;
                return usage("engine", err, "letter " + args[1] + " is " + names + ": name one");
            }
        }
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

}  // namespace console
