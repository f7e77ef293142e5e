// The application shell: the process entry, and the return of every
// process-wide record to its power-on state. The shell's records are in
// shell/state.h, the main window in shell/window.h.
#pragma once

#include "platform/platform.h"

// The process entry: the platform's GUI entry with the command line (without
// the program name). Returns the exit code.
int keyvaneMain(HINSTANCE instance, LPCWSTR commandLine);

// Returns every process-wide record (settings, rule and key tables, card
// reader settings, engine connection, serial port, scan-loop and delivery
// state, the shell's switches) to its power-on state. Objects the process
// created (events, windows, threads) are their owners' to end.
void resetProcessState();
