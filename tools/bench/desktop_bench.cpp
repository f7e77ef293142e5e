// The desktop keyboard's speed on a private X server, each figure a ratio
// to a floor measured in the same run:
//
// DesktopTyping types 1,000 characters (letters, digits and punctuation,
// shifted and not) at InterCharacterDelay 0 into the key recorder, timed
// until the recorder has received them all. Its floor is the keystroke
// delivery's own pauses (Sleep(2) after each press, Sleep(0) after each
// character) slept bare: "ratio" is typing / floor (goal: at most 1.05).
// "xdotool_ms" is `xdotool type --delay 2` of the same text into the same
// recorder, for comparison.
//
// DesktopScanKey presses the scan key at the X server (XTEST) with a barcode
// in view of the running wedge and times the first key press at the
// recorder; "excess_ms" is that time less the scan loop's own pauses (20 ms
// at the pass start, 2 ms for the first key) (goal: at most 1 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "output/keystrokes.h"
#include "platform/host/terminal.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "shell/app.h"
#include "tests/desktop/desktop_support.h"
// Xlib last: its macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string typingText() {
    const std::string chunk = "Keyvane 4006381333931 ABC-123/x.y@z+q:1;2 ";  // 42 characters
    std::string text;
    while (text.size() < 1000) text += chunk;
    text.resize(1000);
    return text;
}

struct Desktop {
    std::string dir, root;
    desktop::XServer server;
    desktop::Recorder recorder;
    bool ready = false;
    Desktop() {
        if (!desktop::missingXvfb().empty()) return;
        dir = desktop::tempFolder();
        if (dir.empty() || !server.start() || !recorder.start(server.name())) return;
        root = desktop::makeDesktopRoot(dir, server.name());
        ready = !root.empty();
    }
    ~Desktop() {
        recorder.stop();
        server.kill();
        desktop::removeFolder(dir);
    }
};

void DesktopTyping(benchmark::State& state) {
    Desktop d;
    if (!d.ready) {
        state.SkipWithError("no X virtual framebuffer (Xvfb)");
        return;
    }
    terminal::attach(d.root);
    terminal::setClockSpeed(1);
    resetProcessState();
    // The default keypad on both sides: the wedge's key table and the terminal's.
    terminal::setConfig("keypad", "0");
    fillCharacterToKeyTable(0);
    settings.InterCharacterDelay = 0;
    std::string text = typingText();
    std::u16string wide(text.begin(), text.end());
    double typing = 0, floor = 0, xdotool = 0;
    int rounds = 0;
    for (auto _ : state) {
        d.recorder.clear();
        auto start = Clock::now();
        typeText(reinterpret_cast<const WCHAR*>(wide.c_str()));
        d.recorder.waitBytes(text.size(), 60000);
        typing += millisecondsSince(start);
        if (d.recorder.text() != text) {
            std::string got = d.recorder.text();
            size_t same = 0;
            while (same < got.size() && same < text.size() && got[same] == text[same]) ++same;
            std::fprintf(stderr, "received %zu bytes, first difference at %zu: \"%s\"\n", got.size(), same,
                         got.substr(same, 20).c_str());
            state.SkipWithError("the recorder received another text");
        }

        start = Clock::now();
        for (size_t i = 0; i < text.size(); ++i) {
            Sleep(2);
            Sleep(0);
        }
        floor += millisecondsSince(start);

        d.recorder.clear();
        start = Clock::now();
        desktop::runProgram({"xdotool", "type", "--delay", "2", text}, d.server.name());
        d.recorder.waitBytes(text.size(), 20000);
        xdotool += millisecondsSince(start);
        ++rounds;
    }
    state.counters["typing_ms"] = typing / rounds;
    state.counters["floor_ms"] = floor / rounds;
    state.counters["ratio"] = typing / floor;
    state.counters["xdotool_ms"] = xdotool / rounds;
}
BENCHMARK(DesktopTyping)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void DesktopScanKey(benchmark::State& state) {
    Desktop d;
    if (!d.ready) {
        state.SkipWithError("no X virtual framebuffer (Xvfb)");
        return;
    }
    {
        std::string folder = d.root + "/Zentrova";
        desktop::runProgram({"mkdir", "-p", folder}, "");
        std::ofstream(folder + "/Keyvane.ini", std::ios::binary) << "EnableScanner = 1\r\n";
    }
    int code = -1;
    desktop::console(d.root, {"clock", "1"}, &code);
    desktop::console(d.root, {"start"}, &code);
    if (code != 0 || !desktop::waitUntil([&] { return desktop::desktopLog(d.root).find("grabbed") != std::string::npos; })) {
        state.SkipWithError("the wedge did not start");
        return;
    }
    desktop::console(d.root, {"view", "4006381333931"}, &code);
    terminal::attach(d.root);
    Display* display = XOpenDisplay(d.server.name().c_str());
    KeyCode f12 = XKeysymToKeycode(display, XK_F12);
    double total = 0;
    int rounds = 0;
    for (auto _ : state) {
        d.recorder.clear();
        auto start = Clock::now();
        XTestFakeKeyEvent(display, f12, True, CurrentTime);
        XSync(display, False);
        d.recorder.waitBytes(1, 10000);
        total += millisecondsSince(start);
        ++rounds;
        XTestFakeKeyEvent(display, f12, False, CurrentTime);
        XSync(display, False);
        d.recorder.waitBytes(13, 10000);
        desktop::waitUntil([] { return !terminal::keyDown(42); });
        // The pass ends after the release; a press before that is no new pass
        // (outside the measured time).
        state.PauseTiming();
        usleep(300000);
        state.ResumeTiming();
    }
    XCloseDisplay(display);
    desktop::console(d.root, {"stop"}, &code);
    state.counters["first_key_ms"] = total / rounds;
    state.counters["excess_ms"] = total / rounds - 22.0;
}
BENCHMARK(DesktopScanKey)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
