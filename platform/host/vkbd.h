// Where the host terminal's keyboard sends what the wedge types: the seam
// between the key record (keyboard.cpp: the key-down table, the key log, the
// hot keys) and the application that receives the keys.
//
// Two outputs stand behind it, chosen per terminal root by terminal.conf:
// - the stand-in focused application (keyboard.cpp), a text field of the
//   terminal itself, the output of a terminal without "display";
// - the desktop keyboard (keyboard_x11.cpp), which types into the focused
//   application of the X11 display that "display = :N" names.
// The key record and the key log keep every event either way: `keys` shows
// what the wedge pressed whichever output typed it.
//
// Every call is made without the keyboard record's lock held, so that an
// output may wait for its application (an X server) without stopping the
// other processes of the terminal.
#pragma once

#include <cstddef>

#include "platform/host/host_api.h"

namespace host {

struct Output {
    // A virtual key pressed (`down`) or released as the wedge injected it.
    // `character` is the character that press means on the device's keypad
    // with the device's Shift as held then (0: no character, e.g. a modifier,
    // or a key pressed with Control or Alt held); `control` tells that the
    // device holds Control or Alt.
    void (*key)(int virtualKey, bool down, char16_t character, bool control);
    // One character typed as itself (PostKeybdMessage, WM_CHAR posted to the
    // focus window).
    void (*character)(char16_t c);
    // The focus window's class into `windowClass` (NUL-ended, at most
    // `capacity` units with the NUL); false when no window has the focus.
    bool (*focus)(char16_t* windowClass, size_t capacity);
    // Connects this process to the output, when it needs to (the desktop
    // keyboard's scan key is grabbed from then on).
    void (*attach)();
};

// The desktop keyboard for the display named in terminal.conf; null when
// this build has none (built without X11).
const Output* desktopOutput();

}  // namespace host
