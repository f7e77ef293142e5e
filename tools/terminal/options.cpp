// The options of the console's commands: one list, keyed by command, of
// every option's name and the kind of value it takes (with its range and what
// is said when the value is wrong), and the reader the handlers parse their
// words with. Help and completion read the same list (commandtable.cpp).
#include <ostream>
#include <span>
#include <string>

#include "console.h"

namespace console {

namespace {

constexpr OptionRule flag(const char* name) {
    return {name, ValueKind::Flag, 0, 0, 0, nullptr};
}

// A word of that kind follows; when it is missing the option is a word like
// any other, or with a problem that is said.
constexpr OptionRule word(const char* name, ValueKind kind, const char* problem = nullptr) {
    return {name, kind, 0, 0, 0, problem};
}

constexpr OptionRule count(const char* name, long long least, long long most, const char* problem) {
    return {name, ValueKind::Count, least, most, 0, problem};
}

constexpr OptionRule duration(const char* name, long long least, long long most, long long oldSecondsUpTo = 0) {
    return {name, ValueKind::Duration, least, most, oldSecondsUpTo, nullptr};
}

// start, stop and command took seconds once: a bare number up to 600 is
// still seconds (no wedge starts or stops within 600 ms, and no script
// waited ten minutes for it).
constexpr OptionRule kWedgeTimeout = duration("--timeout", 1, 3600000, 600);

constexpr OptionRule kInit[] = {word("--from", ValueKind::Folder), flag("--clean"), flag("--force")};
constexpr OptionRule kReset[] = {flag("--force")};
constexpr OptionRule kStart[] = {word("--wedge", ValueKind::File), kWedgeTimeout};
constexpr OptionRule kStop[] = {kWedgeTimeout};
constexpr OptionRule kCommandWord[] = {word("--wedge", ValueKind::File), kWedgeTimeout, flag("--force")};
// view and scan check the values of --sym, --id2, --id3 and --symid
// themselves (person.cpp); --image, --frames and --fps are taken out first
// (images.cpp). scan takes these and its own.
constexpr OptionRule kBarcode[] = {
    word("--sym", ValueKind::Symbology, "--sym needs a letter, a BarcodeSym number or a name (symbologies lists them)"),
    word("--id2", ValueKind::Text, "--id2 needs one character (escapes allowed, e.g. \\x00)"),
    word("--id3", ValueKind::Text, "--id3 needs one character (escapes allowed, e.g. \\x00)"),
    word("--symid", ValueKind::Symbology, "--symid needs 0..255 or a symbology name"),
    count("--row", 0, 479, "--row needs 0..479"),
    word("--image", ValueKind::File),
    word("--frames", ValueKind::Folder),
    word("--fps", ValueKind::Count),
};
constexpr OptionRule kScan[] = {count("--reads", 0, 600000, "--reads needs a number"), duration("--hold", 0, 600000),
                                duration("--timeout", 0, 600000), flag("--keep")};
// label reads its own (images.cpp): fractions, pairs and formats of its own.
constexpr OptionRule kLabel[] = {
    word("--sym", ValueKind::Symbology), word("--out", ValueKind::File),     word("--onto", ValueKind::File),
    word("--rotate", ValueKind::Text),   word("--blur", ValueKind::Text),    word("--noise", ValueKind::Text),
    word("--scale", ValueKind::Text),    word("--module", ValueKind::Count), word("--height", ValueKind::Count),
    word("--canvas", ValueKind::Text),   word("--at", ValueKind::Text),      word("--seed", ValueKind::Count),
};
constexpr OptionRule kFocus[] = {flag("--none")};
constexpr OptionRule kText[] = {flag("--raw")};
// What peer, bt-peer and decode show of the bytes (decode's --text DATA is
// its first word, not an option).
constexpr OptionRule kFrames[] = {word("--framing", ValueKind::Framing), flag("--data"), flag("--hex")};
constexpr OptionRule kBtDevice[] = {
    word("--name", ValueKind::Text),
    count("--channel", 1, 30, "--channel needs 1..30"),
    word("--sdp", ValueKind::Text),
    word("--sdp-file", ValueKind::File),
    flag("--no-service"),
    flag("--silent"),
};
constexpr OptionRule kLeds[] = {flag("--now")};
constexpr OptionRule kTrace[] = {flag("--clear"), flag("--tidy")};
constexpr OptionRule kWatch[] = {duration("--interval", 20, 10000)};
constexpr OptionRule kRun[] = {flag("--keep"), flag("--quiet")};
constexpr OptionRule kServe[] = {word("--listen", ValueKind::Text, "--listen needs an address (e.g. 127.0.0.1)"),
                                 count("--port", 0, 65535, "--port needs 0..65535 (0: any free port)"),
                                 word("--from", ValueKind::Folder, "--from needs a settings folder")};
// explain reads its own (explain.cpp): listed here for help and completion.
constexpr OptionRule kExplain[] = {
    word("--settings", ValueKind::File), word("--decode-settings", ValueKind::File),
    count("--model", 0, 99999, "--model needs a device model number"), word("--models", ValueKind::Text),
    word("--sym", ValueKind::Symbology), word("--image", ValueKind::File),
    word("--swipe", ValueKind::Text),
};
// The console's own, before the command's name.
constexpr OptionRule kGlobal[] = {word("--root", ValueKind::Folder), flag("--json")};

// A command's options: its own list, and a list it shares with others.
struct CommandOptions {
    const char* command;
    std::span<const OptionRule> own;
    std::span<const OptionRule> shared;
};

constexpr CommandOptions kCommandOptions[] = {
    {"init", kInit, {}},       {"reset", kReset, {}},         {"start", kStart, {}},
    {"stop", kStop, {}},       {"command", kCommandWord, {}}, {"view", {}, kBarcode},
    {"scan", kScan, kBarcode}, {"label", kLabel, {}},         {"focus", kFocus, {}},
    {"text", kText, {}},       {"peer", {}, kFrames},         {"bt-peer", {}, kFrames},
    {"decode", {}, kFrames},   {"bt-device", kBtDevice, {}},  {"leds", kLeds, {}},
    {"trace", kTrace, {}},     {"watch", kWatch, {}},         {"run", kRun, {}},
    {"explain", kExplain, {}},  {"serve", kServe, {}},
};

const OptionRule* findIn(std::span<const OptionRule> rules, const std::string& name) {
    for (const OptionRule& r : rules)
        if (name == r.name) return &r;
    return nullptr;
}

const CommandOptions* optionsOf(const std::string& command) {
    for (const CommandOptions& c : kCommandOptions)
        if (command == c.command) return &c;
    return nullptr;
}

// The command's option of that name (null: none).
const OptionRule* ruleOf(const std::string& command, const std::string& name) {
    const CommandOptions* c = optionsOf(command);
    if (c == nullptr) return nullptr;
    const OptionRule* r = findIn(c->own, name);
    return r != nullptr ? r : findIn(c->shared, name);
}

}  // namespace

const OptionRule* findOption(const std::string& command, const std::string& name) {
    const OptionRule* r = ruleOf(command, name);
    return r != nullptr ? r : findIn(kGlobal, name);
}

bool takesDuration(const std::string& command) {
    const CommandOptions* c = optionsOf(command);
    if (c == nullptr) return false;
    for (std::span<const OptionRule> list : {c->own, c->shared})
        for (const OptionRule& r : list)
            if (r.kind == ValueKind::Duration) return true;
    return false;
}

int readOptions(const std::string& command, const Args& args, size_t first, const WordRule& words,
                std::vector<OptionGiven>& given, Args& rest, std::ostream& err) {
    given.clear();
    rest.clear();
    for (size_t i = first; i < args.size(); ++i) {
        const OptionRule* rule = ruleOf(command, args[i]);
        bool more = i + 1 < args.size();
        if (rule != nullptr && rule->kind == ValueKind::Flag) {
            given.push_back({rule, "", 1});
            continue;
        }
        if (rule != nullptr && rule->kind == ValueKind::Duration) {
            long long ms = 0;
            if (!durationOption(args, i, {rule->least, rule->most, rule->oldSecondsUpTo}, ms, err)) return kUsage;
            given.push_back({rule, args[i], ms});
            continue;
        }
        if (rule != nullptr && rule->kind == ValueKind::Count) {
            long long n = 0;
            if (!more || !parseNumber(args[i + 1], rule->least, rule->most, n))
                return usage(command, err, rule->problem);
            given.push_back({rule, args[++i], n});
            continue;
        }
        if (rule != nullptr && (more || rule->problem != nullptr)) {
            if (!more) return usage(command, err, rule->problem);
            given.push_back({rule, args[++i], 0});
            continue;
        }
        // A word of the command's own (or an option without its value).
        if (rule == nullptr && words.unknownOption != nullptr && args[i].size() > 2 && args[i].compare(0, 2, "--") == 0)
            return usage(command, err, words.unknownOption + args[i]);
        if (rest.size() >= words.most)
            return usage(command, err, words.problem != nullptr ? std::string(words.problem) : words.unknown + args[i]);
        rest.push_back(args[i]);
    }
    return kOk;
}

}  // namespace console
