// keyvane-terminal serve: what the served page shows of the terminal, as one
// JSON document made of the console's own records, and the console's
// commands run for the page (in-process, or as a process of their own for
// those that read settings files or start a terminal of their own).
#pragma once

#include <string>

#include "console.h"

namespace console::serve {

// Runs a console command in this process with --json; its standard output
// (trimmed; "null" when it printed nothing), its exit code in `rc` and what
// it said on standard error in `problems`.
std::string commandJson(const Options& options, const Args& args, int* rc = nullptr, std::string* problems = nullptr);

// Runs the console `program` with `args` (after --root ROOT --json) as a
// process of its own, without standard input, for at most `realMilliseconds`
// (then it is killed); its output is kept up to `mostBytes` each. Returns its
// exit code (-1: it could not run or was killed).
int runConsole(const std::string& program, const Options& options, const Args& args, std::string& out,
               std::string& err, int realMilliseconds, size_t mostBytes = 4u << 20);

// Everything the page shows, as one JSON object: the screen, the wedge, the
// focused application and its text, lights, vibrator, sounds, message boxes,
// tray, windows, what is in view, the serial peers' and Bluetooth devices'
// last frames and the end of the trace log.
std::string snapshotJson(const Options& options);

// The frames shown per peer and the trace lines kept, at most.
constexpr size_t kShownFrames = 40;
constexpr size_t kShownTraceLines = 200;

}  // namespace console::serve
