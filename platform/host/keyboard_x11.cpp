// The desktop keyboard: what the wedge types goes to the focused application
// of an X11 display ("display = :N" in terminal.conf) through the XTEST
// extension, in the characters the device means, whatever layout the X
// server has.
//
// Typing. A key the wedge presses means a character on the device's keypad
// (keyboard.cpp hands it over with the press). That character's keysym is
// looked up in the server's own layout (XKB, the group in use): the keycode
// and the modifiers of its shift level (Shift, the third level's modifier),
// which are pressed around it. The device's Shift is never sent by itself:
// its meaning is already in the character (Shift with "2" means "@", which
// a German layout types with AltGr and Q). Keys that are no characters
// (Enter, Tab, Backspace, Escape, the arrows, Control, Alt) are pressed as
// themselves, with Shift when the device holds it.
//
// Spare keycodes. A keysym the layout lacks, and every character above 126
// of the Unicode path, is bound to a spare keycode (one without symbols) for
// the moment of its press. A client looks a keycode up when it handles the
// key event, after the MappingNotify that the binding caused; a binding
// changed before that makes it read the wrong symbol (the fault of binding,
// pressing and restoring at once), and a busy application handles its keys
// long after they were sent. So bindings stay: a pool of spare keycodes holds
// the last keysyms bound, a keysym still bound is pressed again without a new
// binding, and the pool is restored to no symbols when typing has been idle
// for kIdleAge and when the process ends. The layout is thus left as it was.
// The mapping changes (a keycode bound, a binding replaced, the pool
// restored) only once the focused application has read the keys sent before:
// an application that answers pings (_NET_WM_PING in its WM_PROTOCOLS, as the
// toolkits' windows do) is pinged and its answer awaited; it answers when it
// comes to the ping in its queue, after the key presses sent before it. This
// also covers an application that loads its keymap at its first key: one
// that fetched the map before a change and asked to be told of changes after
// it would never learn of it. One that does not answer pings (or not within
// kAnswerWait) is given kMinimumAge after a binding's last press before the
// binding changes.
//
// Ending. The X server does not release the keys that an XTEST client holds
// when its connection closes. Each process keeps the keycodes it holds down
// and the spare keycodes it bound in a property of the root window of its own
// ("_KEYVANE_KEYS_<pid>_<start>"); the next process of the terminal that
// connects to the display releases and restores what a process that ended
// left there. A process that ends normally cleans up itself (atexit).
//
// The scan key is watched on a connection of its own (scankey_x11.cpp).
//
// The display going away. Xlib's I/O error does not end the process
// (XSetIOErrorExitHandler): the connection is dropped and said so in the
// terminal's log ("desktop.log"); keystrokes meanwhile are dropped, each with
// a line there; the next keystroke after kReconnectPause connects anew.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/host/desktop_x11.h"
#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"
#include "platform/host/vkbd.h"

namespace {

constexpr int64_t kMinimumAgeNs = 1000000000;  // a binding's age before it may change, unanswered
constexpr int64_t kAnswerWaitNs = 5000000000;  // how long an answer to a ping is waited for
constexpr int64_t kIdleAgeNs = 2000000000;     // typing idle this long restores the pool
constexpr int kPoolSize = host::kDesktopPoolSize;
constexpr int kMaxKeycodes = host::kDesktopMaxKeycodes;
constexpr int kMaxHeld = 16;  // X keycodes one device key holds down (the key and its modifiers)

// ------------------------------------------------------------------ the connections
// A display's loss is noticed by Xlib in the middle of any call; the exit
// handler marks it, and the call's caller drops the connection after.
std::atomic<Display*> lostTyping{nullptr};

int64_t now() {
    return host::monotonicNanos();
}

void say(const std::string& line) {
    host::desktopSay(line);
}

// What keycode and modifiers type a keysym on the layout.
struct Stroke {
    KeySym sym;
    KeyCode code;
    uint8_t mods;  // real modifiers to press around it (ShiftMask, the third level's)
};

struct Binding {
    KeyCode code;
    KeySym sym;  // NoSymbol: restored
    int64_t used;
};

// One device key's X keys held down, in the order pressed.
struct Held {
    uint8_t count;
    KeyCode codes[kMaxHeld];
};

struct Typing {
    std::mutex mutex;
    Display* display = nullptr;
    std::string name;  // the display connected to
    int64_t lastAttempt = 0;
    bool attempted = false;
    Window root = 0;
    Atom property = 0;
    XkbDescPtr xkb = nullptr;
    int64_t layoutRead = 0;  // when the layout table was read (0: not yet)
    unsigned groupAndLocks = 0;
    Stroke strokes[kMaxKeycodes * 4];
    int strokeCount = 0;
    KeyCode shiftCode = 0, levelThreeCode = 0, controlCode = 0, altCode = 0;
    uint8_t levelThreeMask = 0;
    bool spareCode[kMaxKeycodes] = {};  // keycodes without symbols, and those of the pool
    Binding pool[kPoolSize] = {};
    int poolCount = 0;
    int64_t lastTyped = 0;
    // The pings of the focused application: every key pressed before
    // `caughtUpTo` has been read by `caughtUpWindow`.
    int64_t lastPress = 0;
    Atom protocols = 0, pingAtom = 0;
    Window caughtUpWindow = 0;
    int64_t caughtUpTo = 0;
    long pingStamp = 0;
    Held held[256] = {};
    bool deviceShift = false;
};

Typing& typing() {
    static Typing* t = new Typing;  // outlives the threads at exit
    return *t;
}

std::string displayName() {
    return host::desktopDisplayName();
}

// ------------------------------------------------------------------ the record of what this process holds
void writeHeld(Typing& t) {
    long values[kMaxKeycodes + kPoolSize + 1];
    int n = 0;
    for (const Held& h : t.held)
        for (int i = 0; i < h.count && n < kMaxKeycodes; ++i) values[n++] = h.codes[i];
    values[n++] = 0;  // held keycodes, then bound ones
    for (int i = 0; i < t.poolCount; ++i)
        if (t.pool[i].sym != NoSymbol) values[n++] = t.pool[i].code;
    XChangeProperty(t.display, t.root, t.property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(values), n);
}

void restoreCode(Display* display, KeyCode code) {
    host::desktopRestoreCode(display, code);
}

// ------------------------------------------------------------------ the layout
KeyCode codeOfModifier(Typing& t, KeySym sym) {
    for (int code = t.xkb->min_key_code; code <= t.xkb->max_key_code; ++code) {
        if (t.spareCode[code]) continue;
        if (XkbKeyNumGroups(t.xkb, code) > 0 && XkbKeySymEntry(t.xkb, code, 0, 0) == sym) return static_cast<KeyCode>(code);
    }
    return 0;
}

bool knownStroke(const Typing& t, KeySym sym) {
    for (int i = 0; i < t.strokeCount; ++i)
        if (t.strokes[i].sym == sym) return true;
    return false;
}

// Reads the server's layout into the table of strokes (typing lock held).
// The spare keycodes are found the first time; the pool's stay spare.
void readLayout(Typing& t, bool first) {
    if (t.xkb) XkbFreeKeyboard(t.xkb, XkbAllComponentsMask, True);
    t.xkb = XkbGetMap(t.display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    t.strokeCount = 0;
    t.layoutRead = now();
    if (!t.xkb) return;
    XkbStateRec state{};
    XkbGetState(t.display, XkbUseCoreKbd, &state);
    t.groupAndLocks = (static_cast<unsigned>(state.group) << 13) | state.locked_mods;
    if (first) {
        for (int code = t.xkb->min_key_code; code <= t.xkb->max_key_code && code < kMaxKeycodes; ++code) {
            bool none = true;
            int groups = XkbKeyNumGroups(t.xkb, code);
            for (int g = 0; g < groups && none; ++g)
                for (int l = 0; l < XkbKeyGroupWidth(t.xkb, code, g); ++l)
                    if (XkbKeySymEntry(t.xkb, code, l, g) != NoSymbol) none = false;
            t.spareCode[code] = none;
        }
    }
    t.shiftCode = codeOfModifier(t, XK_Shift_L);
    t.controlCode = codeOfModifier(t, XK_Control_L);
    t.altCode = codeOfModifier(t, XK_Alt_L);
    t.levelThreeCode = codeOfModifier(t, XK_ISO_Level3_Shift);
    t.levelThreeMask = t.levelThreeCode ? t.xkb->map->modmap[t.levelThreeCode] : 0;
    uint8_t combos[4] = {0, ShiftMask, t.levelThreeMask, static_cast<uint8_t>(ShiftMask | t.levelThreeMask)};
    int comboCount = t.levelThreeMask ? 4 : 2;
    for (int c = 0; c < comboCount; ++c) {
        for (int code = t.xkb->min_key_code; code <= t.xkb->max_key_code && code < kMaxKeycodes; ++code) {
            if (t.spareCode[code]) continue;
            unsigned used = 0;
            KeySym sym = NoSymbol;
            if (!XkbTranslateKeyCode(t.xkb, static_cast<KeyCode>(code), combos[c] | t.groupAndLocks, &used, &sym))
                continue;
            if (sym == NoSymbol || knownStroke(t, sym)) continue;
            if (t.strokeCount >= kMaxKeycodes * 4) break;
            t.strokes[t.strokeCount++] = Stroke{sym, static_cast<KeyCode>(code), combos[c]};
        }
    }
}

const Stroke* strokeOf(const Typing& t, KeySym sym) {
    for (int i = 0; i < t.strokeCount; ++i)
        if (t.strokes[i].sym == sym) return &t.strokes[i];
    return nullptr;
}

// ------------------------------------------------------------------ connecting and dropping
// Forgets the connection and what it held (typing lock held).
void closeTyping(Typing& t) {
    // A connection Xlib found broken is closed without a word to the server.
    XCloseDisplay(t.display);
    t.display = nullptr;
    if (t.xkb) XkbFreeKeyboard(t.xkb, XkbAllComponentsMask, True);
    t.xkb = nullptr;
    t.poolCount = 0;
    t.layoutRead = 0;
    t.caughtUpWindow = 0;
    for (Held& h : t.held) h.count = 0;
    for (bool& s : t.spareCode) s = false;
    lostTyping.store(nullptr);
}

void dropTyping(Typing& t, const char* why) {
    say("display " + t.name + ": " + why + "; the wedge goes on, keystrokes are dropped until it is back");
    closeTyping(t);
}

bool checkLost(Typing& t) {
    if (t.display && lostTyping.load() == t.display) dropTyping(t, "connection lost");
    return t.display != nullptr;
}

void releaseHeld(Typing& t, Held& h);
void restorePool(Typing& t);

// Connects when not connected and the last attempt is kReconnectPause past.
bool connected(Typing& t) {
    checkLost(t);
    std::string name = displayName();
    if (t.display && name != t.name) {
        // Another display named: this one is left as it was.
        for (Held& h : t.held) releaseHeld(t, h);
        restorePool(t);
        XDeleteProperty(t.display, t.root, t.property);
        closeTyping(t);
    }
    if (t.display) return true;
    int64_t at = now();
    if (t.attempted && at - t.lastAttempt < host::kDesktopReconnectPauseNs && !host::desktopDisplayBack.exchange(false)) return false;
    t.attempted = true;
    t.lastAttempt = at;
    t.name = name;
    host::desktopErrorHandlers();
    Display* display = XOpenDisplay(name.c_str());
    if (!display) {
        say("display " + name + ": cannot connect");
        return false;
    }
    host::desktopNoticeLoss(display, &lostTyping);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        say("display " + name + ": no XTEST extension");
        XCloseDisplay(display);
        return false;
    }
    t.display = display;
    t.root = DefaultRootWindow(display);
    host::ProcessIdentity self = host::currentProcess();
    std::string property = "_KEYVANE_KEYS_" + std::to_string(self.pid) + "_" + std::to_string(self.started);
    t.property = XInternAtom(display, property.c_str(), False);
    t.protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    t.pingAtom = XInternAtom(display, "_NET_WM_PING", False);
    host::desktopCleanUpEnded(display, t.property, name);
    readLayout(t, true);
    say("display " + name + ": connected");
    return checkLost(t);
}

// ------------------------------------------------------------------ pressing
void press(Typing& t, Held& h, KeyCode code) {
    XTestFakeKeyEvent(t.display, code, True, CurrentTime);
    t.lastPress = now();
    if (h.count < kMaxHeld) h.codes[h.count++] = code;
}

void releaseHeld(Typing& t, Held& h) {
    while (h.count > 0) XTestFakeKeyEvent(t.display, h.codes[--h.count], False, CurrentTime);
}

// ------------------------------------------------------------------ has the application read its keys
// The focused application's window if it answers pings: the focus window or
// its nearest ancestor with WM_PROTOCOLS; 0 when that lacks _NET_WM_PING.
Window answeringFocus(Typing& t) {
    Window window = 0;
    int revert = 0;
    XGetInputFocus(t.display, &window, &revert);
    for (int depth = 0; depth < 32 && window != None && window != PointerRoot && window != t.root; ++depth) {
        Atom* list = nullptr;
        int count = 0;
        if (XGetWMProtocols(t.display, window, &list, &count)) {
            bool answers = false;
            for (int i = 0; i < count; ++i) answers = answers || list[i] == t.pingAtom;
            XFree(list);
            return answers ? window : 0;
        }
        Window rootWindow = 0, parent = 0;
        Window* children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(t.display, window, &rootWindow, &parent, &children, &n)) return 0;
        if (children) XFree(children);
        window = parent;
    }
    return 0;
}

// Pings `window` and waits (at most kAnswerWait) for its answer, which it
// sends once it has handled every event sent to it before. True when it came.
bool pingAnswered(Typing& t, Window window) {
    int64_t sent = now();
    long stamp = ++t.pingStamp;
    XSelectInput(t.display, t.root, SubstructureNotifyMask);  // where answers are sent
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = window;
    ping.xclient.message_type = t.protocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(t.pingAtom);
    ping.xclient.data.l[1] = stamp;
    ping.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(t.display, window, False, NoEventMask, &ping);
    XFlush(t.display);
    bool answered = false;
    while (!answered && lostTyping.load() != t.display) {
        while (!answered && XPending(t.display) > 0) {
            XEvent e{};
            XNextEvent(t.display, &e);
            answered = e.type == ClientMessage && e.xclient.message_type == t.protocols &&
                       static_cast<Atom>(e.xclient.data.l[0]) == t.pingAtom && e.xclient.data.l[1] == stamp;
        }
        int64_t left = sent + kAnswerWaitNs - now();
        if (answered || left <= 0 || lostTyping.load() == t.display) break;
        pollfd p{ConnectionNumber(t.display), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left / 1000000) + 1);
    }
    if (lostTyping.load() == t.display) return false;
    XSelectInput(t.display, t.root, NoEventMask);
    if (!answered) return false;
    t.caughtUpWindow = window;
    t.caughtUpTo = sent;
    return true;
}

// Waits until the keyboard mapping may change (typing lock held): an
// application that answers pings has read every key pressed before (so it
// has also loaded its keymap, which toolkits do at their first key, and is
// notified of the change); for one that does not, a binding last pressed at
// `pressed` (0: a new binding) is kMinimumAge old.
void waitReadBy(Typing& t, int64_t pressed) {
    Window window = t.lastPress ? answeringFocus(t) : 0;
    if (window && window == t.caughtUpWindow && t.caughtUpTo > t.lastPress) return;
    if (window && pingAnswered(t, window)) return;
    if (pressed == 0) return;
    int64_t age = now() - pressed;
    if (age >= kMinimumAgeNs) return;
    XFlush(t.display);
    usleep(static_cast<useconds_t>((kMinimumAgeNs - age) / 1000));
}

// When the youngest binding of the pool was last pressed; 0 when none is bound.
int64_t lastBoundPress(const Typing& t) {
    int64_t last = 0;
    for (int i = 0; i < t.poolCount; ++i)
        if (t.pool[i].sym != NoSymbol && t.pool[i].used > last) last = t.pool[i].used;
    return last;
}

// A spare keycode bound to `sym`, from the pool (typing lock held).
KeyCode boundCode(Typing& t, KeySym sym) {
    int64_t at = now();
    for (int i = 0; i < t.poolCount; ++i) {
        if (t.pool[i].sym == sym) {
            t.pool[i].used = at;
            return t.pool[i].code;
        }
    }
    int slot = -1;
    for (int i = 0; i < t.poolCount && slot < 0; ++i)
        if (t.pool[i].sym == NoSymbol) slot = i;
    if (slot < 0 && t.poolCount < kPoolSize) {
        for (int code = kMaxKeycodes - 1; code >= 8; --code) {
            if (!t.spareCode[code]) continue;
            bool taken = false;
            for (int i = 0; i < t.poolCount; ++i) taken = taken || t.pool[i].code == code;
            if (taken) continue;
            slot = t.poolCount++;
            t.pool[slot] = Binding{static_cast<KeyCode>(code), NoSymbol, 0};
            break;
        }
    }
    if (slot < 0) {
        for (int i = 0; i < t.poolCount; ++i)
            if (slot < 0 || t.pool[i].used < t.pool[slot].used) slot = i;
        if (slot < 0) return 0;  // the layout has no spare keycode
    }
    // Never bind while the application may still look a key up, nor rebind a
    // keycode it may still look up.
    waitReadBy(t, t.pool[slot].sym == NoSymbol ? 0 : t.pool[slot].used);
    KeySym syms[2] = {sym, sym};
    XChangeKeyboardMapping(t.display, t.pool[slot].code, 2, syms, 1);
    XSync(t.display, False);
    t.pool[slot].sym = sym;
    t.pool[slot].used = now();
    return t.pool[slot].code;
}

void restorePool(Typing& t) {
    if (lastBoundPress(t) == 0) return;
    waitReadBy(t, lastBoundPress(t));
    if (lostTyping.load() == t.display) return;
    bool any = false;
    for (int i = 0; i < t.poolCount; ++i) {
        if (t.pool[i].sym == NoSymbol) continue;
        restoreCode(t.display, t.pool[i].code);
        t.pool[i].sym = NoSymbol;
        any = true;
    }
    if (!any) return;
    writeHeld(t);
    XSync(t.display, False);
}

// The layout as it is now: read again when typing starts after a pause.
void freshLayout(Typing& t) {
    if (t.layoutRead == 0 || now() - t.lastTyped > kIdleAgeNs) readLayout(t, false);
}

// Presses `sym` for the device key `h` with the modifiers of its level.
void pressSym(Typing& t, Held& h, KeySym sym, uint8_t extraMods) {
    const Stroke* s = strokeOf(t, sym);
    KeyCode code = 0;
    uint8_t mods = extraMods;
    if (s) {
        code = s->code;
        mods |= s->mods;
    } else {
        code = boundCode(t, sym);
        if (code == 0) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(sym));
            say("display " + t.name + ": no keycode for keysym " + hex + " and no spare one");
            return;
        }
    }
    if ((mods & ShiftMask) && t.shiftCode) press(t, h, t.shiftCode);
    if (t.levelThreeMask && (mods & t.levelThreeMask) && t.levelThreeCode) press(t, h, t.levelThreeCode);
    if ((mods & ControlMask) && t.controlCode) press(t, h, t.controlCode);
    press(t, h, code);
}

KeySym keyAsItself(int virtualKey) {
    switch (virtualKey) {
        case VK_RETURN: return XK_Return;
        case VK_TAB: return XK_Tab;
        case 8: return XK_BackSpace;
        case 0x1B: return XK_Escape;
        case 0x21: return XK_Prior;
        case 0x22: return XK_Next;
        case 0x23: return XK_End;
        case 0x24: return XK_Home;
        case 0x25: return XK_Left;
        case 0x26: return XK_Up;
        case 0x27: return XK_Right;
        case 0x28: return XK_Down;
        case 0x2D: return XK_Insert;
        case 0x2E: return XK_Delete;
        default: break;
    }
    if (virtualKey >= 0x70 && virtualKey <= 0x7B) return XK_F1 + static_cast<KeySym>(virtualKey - 0x70);
    return NoSymbol;
}

KeySym symOfCharacter(char16_t c) {
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) return c;
    return 0x1000000 + static_cast<KeySym>(c);
}

void finishPress(Typing& t) {
    writeHeld(t);
    XFlush(t.display);
    t.lastTyped = now();
    checkLost(t);
}

void dropped(Typing& t, const std::string& what) {
    say("display " + t.name + ": dropped " + what);
}

void desktopKey(int virtualKey, bool down, char16_t character, bool control) {
    Typing& t = typing();
    std::lock_guard<std::mutex> guard(t.mutex);
    virtualKey &= 0xFF;
    if (virtualKey == VK_SHIFT) {
        t.deviceShift = down;  // in the characters the keys mean
        return;
    }
    if (!connected(t)) {
        if (down) dropped(t, "the press of virtual key " + std::to_string(virtualKey) + ": not connected");
        return;
    }
    Held& h = t.held[virtualKey];
    if (!down) {
        releaseHeld(t, h);
        finishPress(t);
        return;
    }
    if (h.count > 0) releaseHeld(t, h);  // pressed again without its release
    freshLayout(t);
    KeySym itself = virtualKey == VK_CONTROL ? XK_Control_L : virtualKey == 0x12 ? XK_Alt_L : keyAsItself(virtualKey);
    if (itself != NoSymbol) {
        pressSym(t, h, itself, t.deviceShift && virtualKey != VK_CONTROL && virtualKey != 0x12 ? ShiftMask : 0);
    } else if (character != 0) {
        pressSym(t, h, symOfCharacter(character), 0);
    } else if (control && virtualKey >= 'A' && virtualKey <= 'Z') {
        // A chord with the device's Control or Alt held: the key of its letter
        // (the held modifier is down at the server already).
        pressSym(t, h, static_cast<KeySym>(virtualKey + 32), 0);
    }
    finishPress(t);
}

// One character typed as itself: a control character as its key (Control
// with its letter), printable ASCII through the layout, everything above 126
// through a spare keycode.
void desktopCharacter(char16_t c) {
    Typing& t = typing();
    std::lock_guard<std::mutex> guard(t.mutex);
    if (!connected(t)) {
        dropped(t, "the character " + std::to_string(c) + ": not connected");
        return;
    }
    freshLayout(t);
    Held h{};
    if (c == u'\r' || c == u'\n') {
        pressSym(t, h, XK_Return, 0);
    } else if (c == u'\t') {
        pressSym(t, h, XK_Tab, 0);
    } else if (c == 8) {
        pressSym(t, h, XK_BackSpace, 0);
    } else if (c == 0x1B) {
        pressSym(t, h, XK_Escape, 0);
    } else if (c >= 1 && c <= 26) {
        pressSym(t, h, static_cast<KeySym>('a' + c - 1), ControlMask);
    } else if (c >= 28 && c <= 31) {
        const KeySym kRest[4] = {XK_backslash, XK_bracketright, XK_asciicircum, XK_underscore};
        pressSym(t, h, kRest[c - 28], ControlMask);
    } else if (c >= 0x20 && c <= 0x7E) {
        pressSym(t, h, c, 0);
    } else if (c >= 0x7F && c <= 0x9F) {
        // Delete and the C1 control codes (the code page's unassigned bytes):
        // no keysym carries them to a client as characters.
        dropped(t, "the control character U+" + std::to_string(c) + ", which no key types");
    } else if (c > 0x9F) {
        KeySym sym = symOfCharacter(c);
        KeyCode code = boundCode(t, sym);
        if (code) press(t, h, code);
    }
    releaseHeld(t, h);
    finishPress(t);
}

// ------------------------------------------------------------------ the focus window
bool classOf(Display* display, Window window, std::string& out) {
    for (int depth = 0; window && depth < 16; ++depth) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            out = hint.res_class ? hint.res_class : "";
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            return true;
        }
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
        if (children) XFree(children);
        if (parent == root) return false;
        window = parent;
    }
    return false;
}

bool desktopFocus(char16_t* windowClass, size_t capacity) {
    if (capacity == 0) return false;
    windowClass[0] = 0;
    Typing& t = typing();
    std::string name;
    {
        std::lock_guard<std::mutex> guard(t.mutex);
        if (!connected(t)) return false;
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(t.display, &focus, &revert);
        if (focus == PointerRoot) {
            // Focus follows the pointer: the top-level window under it.
            Window root = 0, child = 0;
            int x = 0, y = 0, wx = 0, wy = 0;
            unsigned mask = 0;
            XQueryPointer(t.display, t.root, &root, &child, &x, &y, &wx, &wy, &mask);
            focus = child;
        }
        if (!checkLost(t) || focus == None || focus == PointerRoot) return false;
        if (!classOf(t.display, focus, name)) name.clear();
        if (!checkLost(t)) return false;
    }
    std::string mapped = name.empty() ? "" : terminal::config("class." + name);
    std::u16string text = host::fromUtf8(mapped.empty() ? name : mapped);
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    for (size_t i = 0; i < n; ++i) windowClass[i] = text[i];
    windowClass[n] = 0;
    return true;
}

// A process that ends normally lets go of its keys and its bindings.
void releaseAtExit() {
    Typing& t = typing();
    std::unique_lock<std::mutex> guard(t.mutex, std::try_to_lock);
    if (!guard.owns_lock() || !t.display || lostTyping.load() == t.display) return;
    for (Held& h : t.held) releaseHeld(t, h);
    if (lastBoundPress(t) != 0) waitReadBy(t, lastBoundPress(t));
    if (lostTyping.load() == t.display) return;
    for (int i = 0; i < t.poolCount; ++i)
        if (t.pool[i].sym != NoSymbol) restoreCode(t.display, t.pool[i].code);
    XDeleteProperty(t.display, t.root, t.property);
    XSync(t.display, False);
}

constexpr host::Output kDesktop = {desktopKey, desktopCharacter, desktopFocus, host::desktopAttach};

}  // namespace

namespace host {

// Restores the pool when typing has been idle for kIdleAge.
void desktopRestoreWhenIdle() {
    Typing& t = typing();
    std::lock_guard<std::mutex> guard(t.mutex);
    if (!checkLost(t)) return;
    if (now() - t.lastTyped < kIdleAgeNs) return;
    restorePool(t);
    checkLost(t);
}

}  // namespace host

const host::Output* host::desktopOutput() {
    static bool registered = [] {
        std::atexit(releaseAtExit);
        return true;
    }();
    (void)registered;
    return &kDesktop;
}
