// Scenario files: console steps with expectations, run one after another.
//
//   # a comment
//   init --from ../terminal        a console command (paths relative to the file)
//   echo A plain scan              prints a heading
//   expect text == "12345\r"       a read-back command, an operator, the value
//   expect exit 0                  the exit code of the step before
//   expect output contains exit=0  what the step before printed
//   expect trace sequence "A\nB"   the lines A and B, in this order, among the others
//   timeout 5000                   how long expectations wait (ms, or 5s)
//   sleep 100                      a pause (ms, or 0.1s)
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>
#include <thread>

#include "console.h"
#include "platform/host/terminal.h"

namespace console {

namespace fs = std::filesystem;

namespace {

struct Step {
    int line = 0;
    std::string text;  // as written
    Args words;
};

const char* const kOperators[] = {"==", "!=", "contains", "lacks", "matches", "lines", "sequence", "count"};

bool isOperator(const std::string& word) {
    for (const char* op : kOperators)
        if (word == op) return true;
    return false;
}

std::string trimNewline(std::string s) {
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// The lines of `text` that are among the lines of `wanted`, in their order
// (the trace lines of interest among all the others).
std::string pickLines(const std::string& text, const std::string& wanted) {
    std::vector<std::string> among;
    std::istringstream w(wanted);
    for (std::string line; std::getline(w, line);) among.push_back(line);
    std::string picked;
    std::istringstream t(text);
    for (std::string line; std::getline(t, line);)
        for (const auto& a : among)
            if (line == a) {
                picked += (picked.empty() ? "" : "\n") + line;
                break;
            }
    return picked;
}

// The number of lines of `text` in which `pattern` is found.
size_t countMatching(const std::string& text, const std::regex& pattern) {
    size_t n = 0;
    std::istringstream t(text);
    for (std::string line; std::getline(t, line);)
        if (std::regex_search(line, pattern)) ++n;
    return n;
}

size_t countLines(const std::string& s) {
    if (s.empty()) return 0;
    size_t n = 1;
    for (char c : s)
        if (c == '\n') ++n;
    return n;
}

void indent(std::ostream& out, const std::string& label, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        out << "      " << (first ? label : std::string(label.size(), ' ')) << line << "\n";
        first = false;
    }
    if (first) out << "      " << label << "(nothing)\n";
}

class Runner {
public:
    // With `report` the steps are written down for a JSON report instead of
    // being printed; either way the steps run on plain output, so that what
    // the expectations compare does not depend on how the result is shown.
    Runner(const Dispatcher& commands, Options options, std::ostream& out, bool quiet, bool report)
        : commands_(commands),
          options_(std::move(options)),
          out_(report ? shown_ : out),
          quiet_(quiet),
          report_(report) {
        options_.json = false;
        options_.progress = nullptr;
    }

    // The outcome as one JSON object: the counts and every step.
    void printReport(const std::string& name, std::ostream& out) const {
        Options json;
        json.json = true;
        out << "{\"scenario\": " << jsonString(name) << ", \"passed\": " << passed_ << ", \"failed\": " << failed_
            << ", \"not_run\": " << skipped_ << ", \"steps\": ";
        std::ostringstream steps;
        printRecords(json, results_, steps);
        out << trimNewline(steps.str()) << "}\n";
    }

    bool load(const std::string& path, std::ostream& err) {
        std::ifstream in(path);
        if (!in) {
            err << "run: cannot read " << path << "\n";
            return false;
        }
        return read(in, path, err);
    }

    // The steps of scenario text; false (with a message a line) when a line is wrong.
    bool read(std::istream& in, const std::string& path, std::ostream& err) {
        std::string line;
        int number = 0;
        bool good = true;
        while (std::getline(in, line)) {
            ++number;
            Step step{number, line, {}};
            std::string error;
            if (!splitWords(line, step.words, error)) {
                err << path << ":" << number << ": " << error << "\n";
                good = false;
                continue;
            }
            if (step.words.empty()) continue;
            if (!check(step, error)) {
                err << path << ":" << number << ": " << error << "\n";
                good = false;
                continue;
            }
            size_t b = line.find_first_not_of(" \t");
            step.text = line.substr(b);
            if (!step.text.empty() && step.text.back() == '\r') step.text.pop_back();
            steps_.push_back(step);
        }
        return good;
    }

    size_t stepCount() const { return steps_.size(); }

    int run(const std::string& name) {
        int lastExit = 0;
        std::string lastOutput;
        bool stopped = false;
        for (size_t i = 0; i < steps_.size(); ++i) {
            // What a step printed is seen as it happens, through a pipe too.
            out_.flush();
            const Step& step = steps_[i];
            const std::string& head = step.words[0];
            if (stopped) {
                ++skipped_;
                if (report_) results_.push_back({{"line", step.line}, {"step", step.text}, {"result", "not run"}});
                continue;
            }
            if (head == "echo") {
                // As written, quotes included.
                size_t at = step.text.find_first_of(" \t");
                out_ << "== "
                     << (at == std::string::npos ? "" : step.text.substr(step.text.find_first_not_of(" \t", at)))
                     << "\n";
                continue;
            }
            if (head == "timeout") {
                long long ms = 0;
                parseDuration(step.words[1], ms);
                timeoutMs_ = ms;
                continue;
            }
            if (head == "sleep") {
                long long ms = 0;
                parseDuration(step.words[1], ms);
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                continue;
            }
            if (head == "expect" && step.words[1] == "exit") {
                long long want = 0;
                parseInt(step.words[2], want);
                if (lastExit == want) {
                    pass(step);
                } else {
                    fail(step, "exit code " + std::to_string(lastExit));
                    indent(out_, "expected: ", "exit code " + std::to_string(want));
                    indent(out_, "got:      ", "exit code " + std::to_string(lastExit));
                }
                continue;
            }
            if (head == "expect") {
                expect(step, lastOutput);
                continue;
            }
            // A command; a following "expect exit" takes over judging its exit code.
            std::ostringstream out, err;
            lastExit = commands_.run(options_, step.words, out, err);
            lastOutput = out.str();
            bool judged = i + 1 < steps_.size() && steps_[i + 1].words[0] == "expect" &&
                          steps_[i + 1].words.size() > 1 && steps_[i + 1].words[1] == "exit";
            if (lastExit == 0 || judged) {
                ++passed_;
                if (report_) results_.push_back({{"line", step.line}, {"step", step.text}, {"result", "ok"}});
                if (!quiet_) {
                    out_ << "  ok      " << step.text << "\n";
                    if (!out.str().empty() && showOutput(head)) indent(out_, "", trimNewline(out.str()));
                }
            } else {
                fail(step, "exit " + std::to_string(lastExit) + ": " + trimNewline(err.str() + out.str()));
                indent(out_, "exit " + std::to_string(lastExit) + ": ", trimNewline(err.str() + out.str()));
                stopped = true;
            }
        }
        out_ << "scenario " << name << ": " << passed_ << " passed, " << failed_ << " failed";
        if (skipped_) out_ << ", " << skipped_ << " not run after a failed step";
        out_ << "\n";
        return failed_ == 0 ? kOk : kFailed;
    }

private:
    static bool showOutput(const std::string& command) {
        return command != "start" && command != "stop" && command != "init" && command != "scan";
    }

    bool check(const Step& step, std::string& error) {
        const Args& w = step.words;
        const std::string& head = w[0];
        long long n = 0;
        if (head == "echo") return true;
        if (head == "timeout" || head == "sleep") {
            if (w.size() != 2 || !parseDuration(w[1], n) || n > 600000) {
                error = head + " needs a duration 0 ms..10 min: milliseconds, or a number with its unit (500ms, 5s, 2m)";
                return false;
            }
            return true;
        }
        if (head == "expect") {
            if (w.size() == 3 && w[1] == "exit") {
                if (!parseInt(w[2], n)) {
                    error = "expect exit needs a number";
                    return false;
                }
                return true;
            }
            size_t op = 1;
            while (op < w.size() && !isOperator(w[op])) ++op;
            if (op == 1 || op >= w.size()) {
                error =
                    "expect needs: a read-back command, an operator (==, !=, contains, lacks, matches, lines, "
                    "sequence, count) and a value";
                return false;
            }
            size_t values = w[op] == "count" ? 2 : 1;
            if (op + 1 + values != w.size()) {
                error = w[op] == "count"
                            ? "count takes a regular expression and the number of lines it is to be found in"
                            : "expect takes one value after " + w[op] + " (quote values with blanks)";
                return false;
            }
            // An expectation runs its query again and again: only a command that looks will do.
            const Command* query = commands_.find(w[1]);
            auto arguments = static_cast<int>(op - 2);
            if (w[1] == "output" && arguments != 0) {
                error = "expect output takes no arguments: it is what the step before printed";
                return false;
            }
            if (w[1] != "output" && (query == nullptr || query->query == kNoQuery || arguments > query->query)) {
                error = "expect reads back with one of: " + commands_.queryNames() + " (\"" + w[1] +
                        "\" changes the terminal)";
                return false;
            }
            if (w[op] == "lines" && (!parseInt(w[op + 1], n) || n < 0)) {
                error = "lines needs a count";
                return false;
            }
            if (w[op] == "count" && (!parseInt(w[op + 2], n) || n < 0)) {
                error = "count needs a number of lines after the regular expression";
                return false;
            }
            if (w[op] == "matches" || w[op] == "count") {
                try {
                    std::regex r(w[op + 1]);
                } catch (const std::regex_error& e) {
                    error = "bad regular expression: " + std::string(e.what());
                    return false;
                }
            }
            return true;
        }
        if (head == "run") {
            error = "a scenario cannot run another scenario";
            return false;
        }
        if (commands_.find(head) == nullptr) {
            error = "unknown command " + head + " (keyvane-terminal --help lists them)";
            return false;
        }
        return true;
    }

    void pass(const Step& step) {
        ++passed_;
        if (report_) results_.push_back({{"line", step.line}, {"step", step.text}, {"result", "ok"}});
        if (!quiet_) out_ << "  ok      " << step.text << "\n";
    }

    void fail(const Step& step, const std::string& got) {
        ++failed_;
        if (report_) results_.push_back({{"line", step.line}, {"step", step.text}, {"result", "failed"}, {"got", got}});
        out_ << "  FAILED  " << step.text << "   (line " << step.line << ")\n";
    }

    // Runs the expectation's query until its output comes right or the time
    // is up; "output" is what the command before printed, looked at once.
    void expect(const Step& step, const std::string& lastOutput) {
        const Args& w = step.words;
        size_t op = 1;
        while (!isOperator(w[op])) ++op;
        Args query(w.begin() + 1, w.begin() + static_cast<long>(op));
        const std::string& how = w[op];
        const std::string& value = w[op + 1];
        // Both sides are compared as bytes: the read-back's escapes are undone,
        // and its line breaks stand for "\n".
        const std::string& wanted = value;
        bool previous = query[0] == "output";
        bool once = how == "!=" || how == "lacks" || previous;
        std::string got, problem;
        bool matched = waitUntil(deadlineIn(once ? 0 : timeoutMs_), 20, nullptr, [&] {
            std::ostringstream out, err;
            int rc = previous ? kOk : commands_.run(options_, query, out, err);
            if (previous) out << lastOutput;
            std::string shown = trimNewline(out.str()), error;
            if (!unescape(shown, got, error)) got = shown;
            problem = rc == 0 ? "" : "exit " + std::to_string(rc) + ": " + trimNewline(err.str());
            bool ok = false;
            if (rc == 0) {
                if (how == "==") ok = got == wanted;
                if (how == "!=") ok = got != wanted;
                if (how == "contains") ok = got.find(wanted) != std::string::npos;
                if (how == "lacks") ok = got.find(wanted) == std::string::npos;
                if (how == "matches") ok = std::regex_search(got, std::regex(wanted));
                if (how == "lines") ok = std::to_string(countLines(got)) == wanted;
                if (how == "sequence") ok = pickLines(got, wanted) == wanted;
                if (how == "count") ok = std::to_string(countMatching(got, std::regex(wanted))) == w[op + 2];
            }
            return ok;
        });
        if (matched) {
            pass(step);
            return;
        }
        fail(step, problem.empty() ? got : problem);
        if (!problem.empty()) {
            indent(out_, "error:    ", problem);
            return;
        }
        if (how == "lines") {
            indent(out_, "expected: ", wanted + " line(s)");
            indent(out_, "got:      ", std::to_string(countLines(got)) + " line(s)");
            indent(out_, "          ", showLines(got));
            return;
        }
        if (how == "count") {
            indent(out_, "expected: ", w[op + 2] + " line(s) matching " + wanted);
            indent(out_, "got:      ", std::to_string(countMatching(got, std::regex(wanted))) + " line(s)");
            indent(out_, "          ", showLines(got));
            return;
        }
        if (how == "sequence") {
            indent(out_, "expected: ", wanted);
            indent(out_, "got:      ", pickLines(got, wanted));
            return;
        }
        const char* label = how == "=="         ? "expected: "
                            : how == "!="       ? "not:      "
                            : how == "contains" ? "wanted:   "
                            : how == "lacks"    ? "unwanted: "
                                                : "pattern:  ";
        indent(out_, label, how == "matches" ? wanted : showLines(wanted));
        indent(out_, "got:      ", showLines(got));
        if (how == "==") {
            size_t at = 0;
            while (at < got.size() && at < wanted.size() && got[at] == wanted[at]) ++at;
            out_ << "      first difference at byte " << at + 1 << ": expected "
                 << (at < wanted.size() ? "\"" + escape(wanted.substr(at, 1)) + "\"" : std::string("the end"))
                 << ", got " << (at < got.size() ? "\"" + escape(got.substr(at, 1)) + "\"" : std::string("the end"))
                 << "\n";
        }
    }

    // Bytes shown escaped: short ones on one line (so that a line break shows
    // as "\n"), longer ones one line per line.
    static std::string showLines(const std::string& bytes) {
        if (bytes.size() < 160) return escape(bytes);
        std::string out, line;
        for (char c : bytes) {
            if (c == '\n') {
                out += escape(line) + "\n";
                line.clear();
            } else {
                line += c;
            }
        }
        return out + escape(line);
    }

    const Dispatcher& commands_;
    Options options_;
    std::ostringstream shown_;  // the plain report, unused with a JSON one
    std::ostream& out_;
    bool quiet_;
    bool report_;
    std::vector<Record> results_;
    std::vector<Step> steps_;
    long long timeoutMs_ = 5000;
    int passed_ = 0, failed_ = 0, skipped_ = 0;
};

}  // namespace

int parseScenario(std::istream& in, const std::string& name, const Dispatcher& commands, std::ostream& err) {
    std::ostringstream quiet;
    Runner runner(commands, Options{}, quiet, true, false);
    return runner.read(in, name, err) ? static_cast<int>(runner.stepCount()) : -1;
}

int runScenario(const Dispatcher& commands, const Options& options, const Args& args, std::ostream& out,
                std::ostream& err) {
    std::string file;
    bool keep = false, quiet = false;
    std::vector<OptionGiven> given;
    Args rest;
    if (int rc = readOptions(args[0], args, 1, {1, "one scenario file at a time", nullptr, nullptr}, given, rest, err);
        rc != kOk)
        return rc;
    for (const OptionGiven& o : given) {
        keep = keep || o.is("--keep");
        quiet = quiet || o.is("--quiet");
    }
    if (!rest.empty()) file = rest[0];
    if (file.empty()) {
        return usage(args[0], err, "which scenario file?");
    }
    std::error_code ec;
    fs::path path = fs::absolute(file, ec);
    Options scenarioOptions = options;
    bool temporary = !options.rootGiven;
    if (temporary) {
        if (!makeTemporaryFolder("scenario", scenarioOptions.root)) {
            err << "run: cannot make a temporary terminal root\n";
            return kFailed;
        }
    }
    Runner runner(commands, scenarioOptions, out, quiet, options.json);
    if (!runner.load(path.string(), err)) {
        if (temporary) fs::remove_all(scenarioOptions.root, ec);
        return kUsage;
    }
    if (!temporary && !terminal::isRoot(scenarioOptions.root)) {
        err << "no terminal at " << scenarioOptions.root << " (make one with: keyvane-terminal --root "
            << scenarioOptions.root << " init, or leave out --root for a temporary one)\n";
        return kUsage;
    }
    if (!terminal::attach(scenarioOptions.root)) {
        err << "run: cannot attach to the terminal at " << scenarioOptions.root << "\n";
        return kFailed;
    }
    if (!quiet && !options.json)
        out << "scenario " << path.filename().string() << " on " << scenarioOptions.root << "\n";
    fs::path before = fs::current_path(ec);
    fs::current_path(path.parent_path(), ec);
    int rc = runner.run(path.filename().string());
    fs::current_path(before, ec);
    if (options.json) runner.printReport(path.filename().string(), out);
    if (killWedge(scenarioOptions) && !options.json) out << "(the wedge the scenario left running was ended)\n";
    closeAllPeers(scenarioOptions);
    if (temporary && !keep)
        fs::remove_all(scenarioOptions.root, ec);
    else if (temporary && !options.json)
        out << "terminal kept at " << scenarioOptions.root << "\n";
    return rc;
}

}  // namespace console
