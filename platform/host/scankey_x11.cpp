// The scan key on an X11 display: the process that watches it (attach,
// called when the wedge asks for the key state) grabs the X key "scankey"
// names in terminal.conf (a keysym name, default F12) on the root window,
// with the Lock and NumLock variants, on a connection of its own; a press of
// it is a press of the keypad's scan key (terminal::pressKey: the hot key), its release ends it.
// Auto-repeat is made detectable, so a held key is one press. A grabbed key's
// press makes the whole keyboard the grabber's until its release, which would
// take what the wedge types from the focus window: the keyboard is given back
// at the press, and the held key's release is seen in the key map (looked at
// every kHeldPollMs while it is down).
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <mutex>
#include <string>
#include <thread>

#include "platform/host/desktop_x11.h"
#include "platform/host/internal.h"
#include "platform/host/terminal.h"

namespace {

constexpr int kKeypadScanKey = 42;  // the device keypad's scan trigger
constexpr int kHeldPollMs = 5;      // how often a held scan key's state is looked at

// The scan key's keycode grabbed on `display`; 0 when it has none.
KeyCode grabScanKey(Display* display) {
    std::string name = terminal::config("scankey");
    if (name.empty()) name = "F12";
    KeySym sym = XStringToKeysym(name.c_str());
    KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
    if (code == 0) {
        host::desktopSay("scan key " + name + ": not on the keyboard of display " + host::desktopDisplayName());
        return 0;
    }
    Window root = DefaultRootWindow(display);
    const unsigned kVariants[4] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
    host::desktopLastError.store(0);
    for (unsigned mods : kVariants) XGrabKey(display, code, mods, root, False, GrabModeAsync, GrabModeAsync);
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display, True, &supported);
    XSync(display, False);
    if (host::desktopLastError.load() != 0) {
        host::desktopSay("scan key " + name + ": taken by another client of display " + host::desktopDisplayName());
    } else {
        host::desktopSay("display " + host::desktopDisplayName() + ": scan key " + name + " grabbed");
    }
    return code;
}

void watchEvents() {
    Display* display = nullptr;
    KeyCode scanCode = 0;
    bool scanDown = false;
    int64_t lastAttempt = 0;
    std::string name;
    for (;;) {
        if (display && host::desktopLostEvents.load() == display) {
            XCloseDisplay(display);
            display = nullptr;
            host::desktopLostEvents.store(nullptr);
            if (scanDown) terminal::releaseKey(kKeypadScanKey);
            scanDown = false;
        }
        if (display && host::desktopDisplayName() != name) {
            XCloseDisplay(display);
            display = nullptr;
        }
        if (!display && host::monotonicNanos() - lastAttempt >= host::kDesktopReconnectPauseNs) {
            lastAttempt = host::monotonicNanos();
            name = host::desktopDisplayName();
            display = name.empty() ? nullptr : XOpenDisplay(name.c_str());
            if (display) {
                host::desktopNoticeLoss(display, &host::desktopLostEvents);
                host::desktopCleanUpEnded(display, None, name);
                scanCode = grabScanKey(display);
                host::desktopDisplayBack.store(true);
            }
        }
        pollfd p{display ? ConnectionNumber(display) : -1, POLLIN, 0};
        poll(&p, display ? 1 : 0, scanDown ? kHeldPollMs : 100);
        while (display && host::desktopLostEvents.load() != display && XPending(display) > 0) {
            XEvent e{};
            XNextEvent(display, &e);
            if (e.type == KeyPress && e.xkey.keycode == scanCode) {
                // The grab made the keyboard ours while the key is down: give
                // it back at once, so that what the wedge types reaches the
                // focus window; the release is then watched in the key map.
                XUngrabKeyboard(display, CurrentTime);
                XFlush(display);
                if (!scanDown) terminal::pressKey(kKeypadScanKey);
                scanDown = true;
            } else if (e.type == KeyRelease && e.xkey.keycode == scanCode) {
                if (scanDown) terminal::releaseKey(kKeypadScanKey);
                scanDown = false;
            } else if (e.type == MappingNotify) {
                XRefreshKeyboardMapping(&e.xmapping);
            }
        }
        if (scanDown && display && host::desktopLostEvents.load() != display) {
            char keys[32] = {};
            XQueryKeymap(display, keys);
            if (host::desktopLostEvents.load() != display && ((keys[scanCode / 8] >> (scanCode % 8)) & 1) == 0) {
                terminal::releaseKey(kKeypadScanKey);
                scanDown = false;
            }
        }
        host::desktopRestoreWhenIdle();
    }
}

std::once_flag attachOnce;

}  // namespace

void host::desktopAttach() {
    std::call_once(attachOnce, [] {
        host::desktopErrorHandlers();
        std::thread(watchEvents).detach();
    });
}
