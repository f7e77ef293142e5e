// What both halves of the desktop keyboard use (desktop_x11.h): the log,
// the display's name, Xlib's error handling, and the clean-up of what ended
// processes left at the display.
#include "platform/host/desktop_x11.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/internal.h"
#include "platform/host/terminal.h"

namespace {

const char kLog[] = "desktop.log";

int onIoError(Display*) {
    return 0;  // said in the log by the one who drops the connection
}
void onIoExit(Display* display, void* which) {
    static_cast<std::atomic<Display*>*>(which)->store(display);
}
int onError(Display*, XErrorEvent* error) {
    host::desktopLastError.store(error->error_code);
    return 0;
}

}  // namespace

namespace host {


std::atomic<Display*> desktopLostEvents{nullptr};
std::atomic<bool> desktopDisplayBack{false};
std::atomic<int> desktopLastError{0};

void desktopSay(const std::string& line) {
    appendLog(kLog, std::to_string(terminalNow()) + " " + line);
}

std::string desktopDisplayName() {
    return terminal::config("display");
}

void desktopRestoreCode(Display* display, KeyCode code) {
    KeySym none[2] = {NoSymbol, NoSymbol};
    XChangeKeyboardMapping(display, code, 2, none, 1);
}

void desktopErrorHandlers() {
    XSetIOErrorHandler(onIoError);
    XSetErrorHandler(onError);
}

void desktopNoticeLoss(Display* display, std::atomic<Display*>* mark) {
    XSetIOErrorExitHandler(display, onIoExit, mark);
}

// Releases and restores what ended processes of this machine left at the
// display (their property names their process).
void desktopCleanUpEnded(Display* display, Atom own, const std::string& name) {
    Window rootWindow = DefaultRootWindow(display);
    int count = 0;
    Atom* atoms = XListProperties(display, rootWindow, &count);
    if (!atoms) return;
    char** names = static_cast<char**>(calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    if (names && XGetAtomNames(display, atoms, count, names)) {
        for (int i = 0; i < count; ++i) {
            int pid = 0;
            unsigned long long started = 0;
            if (!names[i] || std::sscanf(names[i], "_KEYVANE_KEYS_%d_%llu", &pid, &started) != 2) continue;
            if (atoms[i] == own) continue;
            if (host::processRuns({pid, static_cast<uint64_t>(started)})) continue;
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, rootWindow, atoms[i], 0, kDesktopMaxKeycodes + kDesktopPoolSize + 1, True, XA_CARDINAL,
                                   &type, &format, &items, &after, &data) == Success &&
                data && format == 32) {
                const long* values = reinterpret_cast<const long*>(data);
                bool bound = false;
                unsigned released = 0, restored = 0;
                for (unsigned long j = 0; j < items; ++j) {
                    KeyCode code = static_cast<KeyCode>(values[j] & 0xFF);
                    if (values[j] == 0) {
                        bound = true;
                    } else if (!bound) {
                        XTestFakeKeyEvent(display, code, False, CurrentTime);
                        ++released;
                    } else {
                        desktopRestoreCode(display, code);
                        ++restored;
                    }
                }
                desktopSay("display " + name + ": process " + std::to_string(pid) + " ended holding " +
                    std::to_string(released) + " keys and " + std::to_string(restored) +
                    " bound keycodes: released and restored");
            }
            if (data) XFree(data);
        }
    }
    if (names) {
        for (int i = 0; i < count; ++i)
            if (names[i]) XFree(names[i]);
        free(names);
    }
    XFree(atoms);
    XSync(display, False);
}

}  // namespace host
