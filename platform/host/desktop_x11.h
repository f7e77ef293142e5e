// The desktop keyboard's two halves: typing (keyboard_x11.cpp) and the scan
// key's watcher (scankey_x11.cpp), each on a connection of its own to the
// display "display" names in terminal.conf, and what both use
// (desktop_x11.cpp). Private to those files.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace host {

// Spare keycodes bound at most at once, and keycodes of a display.
constexpr int kDesktopPoolSize = 64;
constexpr int kDesktopMaxKeycodes = 256;
// How long after a failed connection the next is tried.
constexpr int64_t kDesktopReconnectPauseNs = 1000000000;

// Marked by Xlib's I/O error exit handler: the scan key's connection is lost.
extern std::atomic<Display*> desktopLostEvents;
// Set when the scan key's connection found the display (back): the next
// keystroke connects without waiting for the reconnect pause.
extern std::atomic<bool> desktopDisplayBack;
// The error code of the last X error (set by the error handler).
extern std::atomic<int> desktopLastError;

// A line in the terminal's log "desktop.log".
void desktopSay(const std::string& line);
std::string desktopDisplayName();
// Xlib's error handlers that end no process.
void desktopErrorHandlers();
// A lost connection marks `mark` instead of ending the process.
void desktopNoticeLoss(Display* display, std::atomic<Display*>* mark);
// Gives a spare keycode no symbols again.
void desktopRestoreCode(Display* display, KeyCode code);
// Releases and restores what ended processes of this machine left at the
// display; `own` is the calling process's record (None: it has none).
void desktopCleanUpEnded(Display* display, Atom own, const std::string& name);
// Restores the spare keycodes' bindings when typing has been idle long enough.
void desktopRestoreWhenIdle();
// Starts the scan key's watcher once per process.
void desktopAttach();

}  // namespace host
