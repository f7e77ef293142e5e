// keyvane-terminal: shared pieces of the console. Every command prints to
// the given streams and returns its exit code, so that the scenario runner
// can run the same commands in-process and look at what they printed.
#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace console {

// Options that apply to every command.
struct Options {
    std::string root;        // absolute terminal root
    bool rootGiven = false;  // --root named it
    bool json = false;
    // Where long waits say what they wait for (standard error when it is a
    // terminal); null: in silence.
    std::ostream* progress = nullptr;
};

using Args = std::vector<std::string>;

// Exit codes.
constexpr int kOk = 0;
constexpr int kFailed = 1;  // the command ran but what it waited for did not happen
constexpr int kUsage = 2;   // bad arguments

// ------------------------------------------------------------------ text
// Turns "\r", "\n", "\t", "\\", "\"", "\0", "\xHH" and "\uHHHH" (UTF-8) into
// bytes. Returns false with a message for a malformed escape.
bool unescape(const std::string& in, std::string& out, std::string& error);
// Shows bytes readably: printable ASCII as is, the rest as escapes (the
// inverse of unescape). UTF-8 sequences are kept when `keepUtf8`.
std::string escape(const std::string& bytes, bool keepUtf8 = true);
std::string hex(const std::string& bytes);
std::string jsonString(const std::string& bytes);
std::string utf8(const std::u16string& text);
std::u16string utf16(const std::string& text);
// Splits a scenario line into words: blanks separate words, double or single
// quotes group them, escapes are applied; "#" at a word's start begins a
// comment. Returns false with a message on an unterminated quote.
bool splitWords(const std::string& line, Args& words, std::string& error);
bool parseInt(const std::string& text, long long& value);

// ------------------------------------------------------------------ records
// A command's output is records of named fields, printed plain (one record
// per line: key=value pairs separated by tabs, values escaped) or, with
// --json, as JSON (text as strings, numbers as numbers, flags as booleans).
struct Field {
    enum Kind { Text, Number, Flag, Word };
    std::string key;
    std::string value;  // as the plain output shows it
    Kind kind = Text;

    Field(std::string k, std::string v) : key(std::move(k)), value(std::move(v)) {}
    Field(std::string k, const char* v) : key(std::move(k)), value(v) {}
    template <std::integral N>
    requires(!std::same_as<N, bool>) Field(std::string k, N n)
        : key(std::move(k)), value(std::to_string(n)), kind(Number) {}
    Field(std::string k, bool flag) : key(std::move(k)), value(flag ? "1" : "0"), kind(Flag) {}
    // A field the plain output shows by its value alone ("started").
    static Field word(std::string k, std::string v) {
        Field f(std::move(k), std::move(v));
        f.kind = Word;
        return f;
    }
};
using Record = std::vector<Field>;
// A list: one line per record, or a JSON array.
void printRecords(const Options& options, const std::vector<Record>& records, std::ostream& out);
// One record: one line, or a JSON object.
void printRecord(const Options& options, const Record& record, std::ostream& out);
// Lines of text (a log, a file): escaped one per line, or a JSON array of strings.
void printLines(const Options& options, const std::string& text, bool tidy, std::ostream& out);

// ------------------------------------------------------------------ commands
// A command's work: its words (the command's name first) in, the exit code
// out. Argument counts are checked by the table before it is called.
using Handler = int (*)(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

constexpr int kAnyCount = 1000;
constexpr int kNoQuery = -1;

// How many words may follow the command's name, and what is said otherwise
// (null: "unknown argument" and the first of them).
struct ArgumentRule {
    int least;
    int most;
    const char* problem;
};

struct Command {
    const char* name;
    const char* usage;    // the synopsis, for help and for usage errors
    const char* summary;  // the help text
    ArgumentRule arguments;
    bool attaches;  // works on the terminal at the root (attached before the handler runs)
    int query;      // a read-back query that only looks: how many arguments an
                    // expectation may give it; kNoQuery when it changes things
    Handler handler;
};

// The command of that name, or null.
const Command* findCommand(const std::string& name);
// The command table as the scenario runner uses it (commandtable.cpp passes
// its own): a command by name, running one, the names of the read-back queries.
struct Dispatcher {
    const Command* (*find)(const std::string& name);
    Handler run;
    std::string (*queryNames)();
};
// The read-back queries as a scenario's expectation names them ("text, keys,
// ..., event NAME, ...").
std::string queryNames();
int runCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
void printHelp(const std::string& command, std::ostream& out);
bool knownCommand(const std::string& command);
// Says what is wrong with a command's arguments; returns kUsage.
int usage(const std::string& command, std::ostream& err, const std::string& problem);
// Says what went wrong; returns kFailed.
int failure(const std::string& command, std::ostream& err, const std::string& problem);
// The known command nearest to a misspelt one (empty: none near enough).
std::string nearestCommand(const std::string& name);
// A virtual key's name as a keyboard shows it ("Shift", "Tab", "Enter", "A").
std::string keyName(unsigned vk);
// The number of single-letter edits that make `a` into `b`.
size_t editDistance(const std::string& a, const std::string& b);
bool parseNumber(const std::string& text, long long low, long long high, long long& value);
// Durations, as every option and scenario step that takes one reads them:
// milliseconds by default, or a number with its unit: "500ms", "1.5s", "2m".
bool parseDuration(const std::string& text, long long& ms);
// A duration as a person reads it ("20 s", "150 ms").
std::string durationText(long long ms);
// What an option's duration may be. Options that took seconds once read a
// bare number up to `oldSecondsUpTo` as seconds still (saying so).
struct DurationRule {
    long long least;
    long long most;
    long long oldSecondsUpTo = 0;
};
// Reads the duration after the option args[i] (and steps over it); false
// after saying what is wrong (a usage error).
bool durationOption(const Args& args, size_t& i, const DurationRule& rule, long long& ms, std::ostream& err);

// ------------------------------------------------------------------ options (options.cpp)
// What follows an option.
enum class ValueKind { Flag, Duration, Count, File, Folder, Symbology, Framing, Text };

// One option of a command: its name, the kind of its value, the range of a
// count or duration (and the bare numbers a duration still reads as seconds),
// and what is said when its value is missing or wrong (null: an option
// without its value is a word like any other).
struct OptionRule {
    const char* name;
    ValueKind kind;
    long long least;
    long long most;
    long long oldSecondsUpTo;
    const char* problem;
};

// An option as the words gave it: its value's word and, for a count or a
// duration (in milliseconds), its number; a flag has number 1.
struct OptionGiven {
    const OptionRule* rule;
    std::string text;
    long long number;

    bool is(const char* name) const { return std::string(name) == rule->name; }
};

// How many words of its own a command takes besides its options, and what
// is said of one too many: `problem`, or `unknown` followed by the word.
// With `unknownOption`, a word that begins with "--" and is no option of the
// command is said as that, followed by the word.
struct WordRule {
    size_t most;
    const char* problem;
    const char* unknown;
    const char* unknownOption;
};
constexpr WordRule kNoWords{0, nullptr, "unknown argument ", nullptr};

// Whether one of a command's options takes a duration.
bool takesDuration(const std::string& command);
// The option of that name a command takes, the console's own (--root)
// included; null when it takes none of that name.
const OptionRule* findOption(const std::string& command, const std::string& name);
// Reads args[first..] against the command's options, in their order, into
// `given`; the other words go to `rest`. Returns kUsage after saying what
// is wrong.
int readOptions(const std::string& command, const Args& args, size_t first, const WordRule& words,
                std::vector<OptionGiven>& given, Args& rest, std::ostream& err);

// The bytes of a host file; false when it cannot be read.
bool readHostFile(const std::string& path, std::string& bytes);
// Makes a fresh owner-only folder "keyvane-KIND-XXXXXX" in $TMPDIR (an
// absolute path), else in /tmp; false when none can be made.
bool makeTemporaryFolder(const char* kind, std::string& path);
// A window handle, key code or other number as the terminal's lists show it ("0x1A").
std::string handleText(uint32_t h);

// ------------------------------------------------------------------ setting the terminal up (setup.cpp)
// The host path of a device file; either separator: "/CharInLog.txt" spares
// the escaping of "\\".
std::string deviceFile(std::string path);
int initCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int resetCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int configCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// The keys config takes, as completion offers them (COM1..COM9 for the ports).
std::vector<std::string> configKeys();
int configShortcut(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int writeCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

// ------------------------------------------------------------------ what a person does (person.cpp)
int keyCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int viewCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int clearViewCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int scanCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int swipeCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int trayCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int menuCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int answerCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int focusCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int eventCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int clearTextCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int clearKeysCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

// ------------------------------------------------------------------ what the terminal shows (readback.cpp)
int textCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int keysCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int ledsCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int vibratorCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int soundsCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int msgboxCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int windowsCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int hotkeysCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int inViewCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int traceCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int fileCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int engineCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

// ------------------------------------------------------------------ the wedge
std::string selfDirectory();
std::string wedgePath();
std::string decoderPath();
int startWedge(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int stopWedge(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int commandWord(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int wedgeStatus(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int killCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// The process of the wedge's main window (0: none).
int runningWedgePid();
// The exit code of the last wedge the console started, once it ended.
bool lastWedgeExit(const Options& options, int& code);
// The process of a wedge running on the attached terminal (0: none).
int wedgeRunning(const Options& options);
// Whether process `pid` still runs.
bool processAlive(int pid);
// Ends the running wedge with "quit", or, when it does not end, by force.
// Returns false (and says why) when it still runs.
bool stopWedgeFirst(const Options& options, const std::string& command, std::ostream& err);
// Ends a wedge left running (scenario clean-up). Returns true when one ran.
bool killWedge(const Options& options);

// Says, while a wait lasts, what it waits for (to options.progress, set when
// standard error is a terminal): one line redrawn in place, wiped at the end.
class Waiting {
public:
    Waiting(const Options& options, std::string command, std::string what);
    ~Waiting();
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
    void tick();

private:
    std::ostream* out_;
    std::string command_, what_;
    std::chrono::steady_clock::time_point since_, last_{};
    bool shown_ = false;
};

using WaitClock = std::chrono::steady_clock;

// The moment `ms` milliseconds from now.
inline WaitClock::time_point deadlineIn(long long ms) {
    return WaitClock::now() + std::chrono::milliseconds(ms);
}

// Asks `done` every `pollMs` milliseconds until it says yes or the deadline
// has passed, ticking `waiting` (null: none) before each look. True when
// `done` said yes; `done` decides what ends the wait (what was waited for, a
// wedge that ended), the caller what to make of it.
template <typename Done>
bool waitUntil(WaitClock::time_point deadline, long long pollMs, Waiting* waiting, Done done) {
    for (;;) {
        if (waiting != nullptr) waiting->tick();
        if (done()) return true;
        if (WaitClock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}

// ------------------------------------------------------------------ serial peers
int peerOpen(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int peerClose(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int peerShow(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int peerSend(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int peerClear(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int decodeFrames(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
void closeAllPeers(const Options& options);
// Prints bytes that reached a peer as frames, taking --framing F, --data and
// --hex from args[first..].
int printFrames(const Options& options, const std::string& bytes, const Args& args, size_t first, std::ostream& out,
                std::ostream& err);

// ------------------------------------------------------------------ Bluetooth remote devices
int btDeviceCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int btAwayCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int btListCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int btPeerCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
int btSendCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

struct Frame {
    std::string framing;  // raw, header, tagged, xr1, unknown
    std::string kind;     // tagged: decode or command
    std::string data;     // the delivered bytes
    std::string bytes;    // the whole frame
    int sequence = -1;    // xr1
    int length = -1;      // xr1 length byte, tagged payload length
    std::string crc;      // xr1: ok or bad
};
// Splits a peer's byte stream into frames of the given framing ("auto"
// recognises each frame by its first bytes).
std::vector<Frame> decodeStream(const std::string& bytes, const std::string& framing);
// A decoded frame as `peer` shows it, numbered from 1.
Record frameRecord(const Frame& frame, size_t number);

// The steps of scenario text (what `run` reads, nothing run): their number,
// or -1 with one message a wrong line on `err`. The first checks the steps
// against the console's own commands, the second against `commands`.
int parseScenario(std::istream& in, const std::string& name, std::ostream& err);
int parseScenario(std::istream& in, const std::string& name, const Dispatcher& commands, std::ostream& err);

// ------------------------------------------------------------------ images
// A host path; "device:/Images/a.png" is a file of the terminal root.
std::string imagePath(const std::string& given);
// Takes --image FILE, --frames DIR and --fps N out of `args` (the rest goes
// to `rest`), checks that the engine can read them and puts them in view.
int takeImageOptions(const std::string& command, const Args& args, Args& rest, bool& placed, std::ostream& err);
int labelCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// ------------------------------------------------------------------ settings files
struct Finding {
    std::string file;
    int line;              // 0: the whole file
    std::string severity;  // error, warning or note
    std::string message;
};
// Reads a Keyvane.ini (or, by its ".vqf" name, a DecodeSettings.Vqf) with the
// wedge's readers and adds what they found; false when it cannot be read.
bool checkFile(const std::string& path, const std::string& shownName, std::vector<Finding>& findings);
int checkCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// The Keyvane.ini and DecodeSettings.Vqf the wedge would find on the attached terminal.
std::vector<std::string> terminalSettingsFiles();
// One line about the terminal's settings files, or empty when they are clean.
std::string checkSummary(const Options& options);

// The settings reference and the symbology table.
int settingsReference(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// settings --effective [FILE]: every key with the value held after reading
// FILE (default: the terminal's Keyvane.ini) and where it came from, then the
// rules of the rule table, one record each.
int effectiveSettings(const Options& options, std::string path, std::ostream& out, std::ostream& err);
int symbologiesCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// " (did you mean `NAME`?)" for the one of `names` nearest to a misspelt
// `word`, ignoring letter case; empty when none is near enough.
std::string didYouMean(const std::string& word, const std::vector<std::string>& names);
// The keys of Keyvane.ini as the settings list names them.
std::vector<std::string> settingNames();
// The letter of a symbology as a person names it: one character is the letter
// itself, digits a BarcodeSym number, a word a name (code128). 0 for none.
char symbologyLetterOf(const std::string& word);

// ------------------------------------------------------------------ lights and sounds
// A platform LED as the device uses it ("good-read", "green"), by the
// terminal's model; LEDs past the third are "unused".
struct Light {
    const char* name;
    const char* colour;  // red, green or none
};
Light lightOf(unsigned platformLed);
// The platform LED that drives the vibrator.
unsigned vibratorLed();
// A sound resource as the terminal records it ("resource:129").
std::string soundRecord(int resource);
// A recorded sound as a person names it ("good read"); other sounds as recorded.
std::string soundName(const std::string& sound);

// ------------------------------------------------------------------ the live view
int watchCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);
// The handheld in a browser (serve.cpp): serves the terminal to a page on
// the loopback address until SIGINT or SIGTERM.
int serveCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err);

// ------------------------------------------------------------------ scenarios
// Reads barcodes, pictures and cards with the real wedge on a temporary
// terminal under a settings file and tells what each becomes; the console's
// commands by `commands`.
int explainBarcodes(const Dispatcher& commands, const Options& options, const Args& args, std::ostream& out,
                    std::ostream& err);
// Runs a scenario file, its steps by `commands`.
int runScenario(const Dispatcher& commands, const Options& options, const Args& args, std::ostream& out,
                std::ostream& err);

}  // namespace console
