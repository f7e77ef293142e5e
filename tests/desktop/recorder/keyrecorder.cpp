// A small X11 application for the desktop tests: a window that takes the
// focus and records every key press it receives. Each press is one line on
// standard output, "press KEYCODE STATE HEX" (STATE the modifier mask, HEX
// the UTF-8 bytes Xutf8LookupString gives, "-" for none); "ready" is printed
// once the window has the focus. Runs until its display goes away or it is
// ended.
//
// Like the toolkits' windows, it answers the window manager's ping
// (_NET_WM_PING, listed in WM_PROTOCOLS) when it comes to it in its queue;
// --no-ping leaves it out. --lag MS makes it a busy application: it handles
// each key press MS milliseconds late, so that it falls behind the typing.
//
//   keyvane-keyrecorder DISPLAY [CLASS] [--lag MS] [--no-ping]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: keyvane-keyrecorder DISPLAY [CLASS] [--lag MS] [--no-ping]\n");
        return 2;
    }
    const char* windowClass = "KeyRecorder";
    int lagMs = 0;
    bool ping = true;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lag") == 0 && i + 1 < argc) {
            lagMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-ping") == 0) {
            ping = false;
        } else {
            windowClass = argv[i];
        }
    }
    std::setlocale(LC_ALL, "C.UTF-8");
    XSetLocaleModifiers("@im=none");
    Display* display = XOpenDisplay(argv[1]);
    if (!display) {
        std::fprintf(stderr, "keyvane-keyrecorder: cannot open display %s\n", argv[1]);
        return 1;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
    char name[] = "keyrecorder";
    char klass[64] = {};
    std::snprintf(klass, sizeof klass, "%s", windowClass);
    XClassHint hint{name, klass};
    XSetClassHint(display, window, &hint);
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom pingAtom = XInternAtom(display, "_NET_WM_PING", False);
    if (ping) XSetWMProtocols(display, window, &pingAtom, 1);
    XSelectInput(display, window, KeyPressMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(display, window);
    XIM im = XOpenIM(display, nullptr, nullptr, nullptr);
    XIC ic = im ? XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, window,
                            XNFocusWindow, window, nullptr)
                : nullptr;
    bool ready = false;
    for (;;) {
        XEvent e{};
        XNextEvent(display, &e);
        if (e.type == MapNotify && !ready) {
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
        } else if (e.type == FocusIn && !ready) {
            ready = true;
            std::printf("ready\n");
            std::fflush(stdout);
        } else if (e.type == ClientMessage && e.xclient.message_type == protocols &&
                   static_cast<Atom>(e.xclient.data.l[0]) == pingAtom) {
            e.xclient.window = DefaultRootWindow(display);
            XSendEvent(display, e.xclient.window, False, SubstructureNotifyMask | SubstructureRedirectMask, &e);
            XFlush(display);
        } else if (e.type == MappingNotify) {
            XRefreshKeyboardMapping(&e.xmapping);
        } else if (e.type == KeyPress) {
            if (lagMs > 0) usleep(static_cast<useconds_t>(lagMs) * 1000);
            char text[64] = {};
            KeySym sym = 0;
            Status status = 0;
            int n = ic ? Xutf8LookupString(ic, &e.xkey, text, sizeof text - 1, &sym, &status)
                       : XLookupString(&e.xkey, text, sizeof text - 1, &sym, nullptr);
            std::printf("press %u %u ", e.xkey.keycode, e.xkey.state);
            if (n <= 0) std::printf("-");
            for (int i = 0; i < n; ++i) std::printf("%02x", static_cast<unsigned char>(text[i]));
            std::printf("\n");
            std::fflush(stdout);
        }
    }
}
