// keyvane-terminal watch: the handheld on a text terminal, full screen, as
// it is now. It reads the terminal's records a few times a second and draws
// the screen again when what it shows changed (or the window was resized);
// q leaves. Plain ANSI sequences: the alternate screen, colours, no cursor.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/platform.h"
#include "shell/constants.h"

namespace console {

namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t gLeave = 0;
volatile sig_atomic_t gResized = 0;

void onLeave(int) {
    gLeave = 1;
}
void onResize(int) {
    gResized = 1;
}

const char* const kReset = "\x1b[0m";
const char* const kBold = "\x1b[1m";
const char* const kDim = "\x1b[2m";

// The last `count` items of a list, as indexes.
size_t firstOfLast(size_t size, size_t count) {
    return size > count ? size - count : 0;
}

// A line cut to `width` columns: escape sequences take none, a UTF-8
// sequence one.
std::string clip(const std::string& line, int width) {
    std::string out;
    int columns = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == 0x1b) {
            size_t end = line.find('m', i);
            if (end == std::string::npos) break;
            out += line.substr(i, end - i + 1);
            i = end;
            continue;
        }
        if ((c & 0xC0) != 0x80) {
            if (columns >= width) break;
            ++columns;
        }
        out += line[i];
    }
    return out + kReset;
}

std::string handleHex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string heading(const std::string& title) {
    return std::string(kBold) + title + kReset;
}

// A light as a dot: coloured while on.
std::string dot(int state, const char* colour) {
    if (state == 0) return std::string(kDim) + "\u25CB" + kReset;
    return std::string(colour) + "\u25CF" + kReset;
}

// The colour a light shows while on, as the leds command names it.
const char* ledColour(const Light& light) {
    std::string colour = light.colour;
    return colour == "red" ? "\x1b[31m" : colour == "green" ? "\x1b[32m" : "\x1b[37m";
}

void peerLines(const std::string& name, const std::string& bytes, std::vector<std::string>& lines) {
    std::vector<Frame> frames = decodeStream(bytes, "auto");
    lines.push_back("  " + name + ": " + std::to_string(frames.size()) + " frame(s), " + std::to_string(bytes.size()) +
                    " bytes");
    for (size_t i = firstOfLast(frames.size(), 3); i < frames.size(); ++i) {
        const Frame& f = frames[i];
        std::string line = "    " + f.framing;
        if (f.sequence >= 0) line += " #" + std::to_string(f.sequence);
        if (!f.crc.empty()) line += std::string(" crc=") + (f.crc == "ok" ? "\x1b[32mok" : "\x1b[31mbad") + kReset;
        line += "  " + escape(f.data);
        lines.push_back(line);
    }
}

// Everything the screen shows, one string per line.
std::vector<std::string> frameLines(const Options& options) {
    std::vector<std::string> lines;
    int wedge = runningWedgePid();
    lines.push_back(heading("Keyvane terminal") + "  " + escape(options.root));
    lines.push_back("screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                    std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "   model " +
                    handleHex(static_cast<uint32_t>(terminal::model())) + "   clock x" +
                    std::to_string(terminal::clockSpeed()));
    std::string status = wedge > 0 ? std::string("\x1b[32mrunning\x1b[0m pid ") + std::to_string(wedge)
                                   : std::string("\x1b[31mnot running\x1b[0m");
    if (wedge <= 0) {
        int code = 0;
        if (lastWedgeExit(options, code)) status += "  (last exit " + std::to_string(code) + ")";
    }
    lines.push_back(heading("Wedge") + "    " + status);
    std::string events = "         ";
    for (const char* name : {"KVN_Loaded", "KVN_Enable", "KVN_Enable_State"})
        events += std::string(name) + "=" + std::to_string(terminal::eventState(name)) + "  ";
    lines.push_back(events);
    lines.push_back("");

    std::string focus = utf8(terminal::focusClass());
    lines.push_back(heading("Focus") + "    " + (focus.empty() ? std::string("(none)") : escape(focus)));
    std::string text = utf8(terminal::focusText());
    std::vector<std::string> textLines{""};
    for (char c : text) {
        if (c == '\n')
            textLines.emplace_back();
        else if (c != '\r')
            textLines.back() += c;
    }
    for (size_t i = firstOfLast(textLines.size(), 4); i < textLines.size(); ++i)
        lines.push_back("  | " + escape(textLines[i]));
    lines.push_back("");

    bool key = terminal::keyDown(kScanKey);
    auto view = terminal::inView();
    auto image = terminal::imageInView();
    std::string scanner = std::string("key ") + (key ? "\x1b[33mdown\x1b[0m" : "up") + "   engine " +
                          (terminal::engineConnected() ? "connected" : "off") + "   aimer " +
                          (terminal::aimerOn() ? "on" : "off") + "   in view " + std::to_string(view.size());
    if (!image.path.empty()) scanner += " + " + fs::path(image.path).filename().string();
    lines.push_back(heading("Scanner") + "  " + scanner);
    std::string lights = "";
    unsigned vibrator = vibratorLed();
    for (unsigned led = 0; led < 3; ++led) {
        if (led == vibrator) continue;
        Light light = lightOf(led);
        lights += dot(terminal::ledState(led), ledColour(light)) + " " + light.name + "  ";
    }
    lines.push_back(heading("Lights") + "   " + lights);
    lines.push_back(heading("Vibrator") + " " + (terminal::ledState(vibrator) ? "\x1b[35mbuzzing\x1b[0m" : "still") +
                    " (LED" + std::to_string(vibrator) + ")");
    auto sounds = terminal::sounds();
    std::string played;
    for (size_t i = firstOfLast(sounds.size(), 4); i < sounds.size(); ++i)
        played += (played.empty() ? "" : ", ") + escape(soundName(sounds[i].sound));
    lines.push_back(heading("Sounds") + "   " + (played.empty() ? std::string("(none)") : played) + "   (" +
                    std::to_string(sounds.size()) + " played)");
    lines.push_back("");

    auto boxes = terminal::messageBoxes();
    if (!boxes.empty()) {
        const auto& b = boxes.back();
        lines.push_back(heading("Message box") + " \"" + escape(utf8(b.caption)) + "\": " + escape(utf8(b.text)) +
                        "  (answer " + std::to_string(b.answer) + ")");
    } else {
        lines.push_back(heading("Message box") + " (none)");
    }
    std::string tray = std::to_string(terminal::trayIcons().size()) + " icon(s)";
    if (auto popups = terminal::menuPopups(); !popups.empty()) {
        const auto& p = popups.back();
        std::string items;
        for (const auto& item : p.items) items += (items.empty() ? "" : " | ") + escape(utf8(item));
        tray += "   menu at " + std::to_string(p.x) + "," + std::to_string(p.y) + ": " + items + "  (chose " +
                std::to_string(p.choice) + ")";
    }
    lines.push_back(heading("Tray") + "     " + tray);
    lines.push_back("");

    lines.push_back(heading("Serial peers"));
    size_t before = lines.size();
    std::error_code ec;
    std::vector<fs::path> records;
    for (const auto& e : fs::directory_iterator(options.root + "/.terminal/peers", ec))
        if (e.path().extension() == ".bytes") records.push_back(e.path());
    std::sort(records.begin(), records.end());
    for (const auto& p : records) {
        std::string bytes;
        readHostFile(p.string(), bytes);
        peerLines(p.stem().string(), bytes, lines);
    }
    for (const auto& d : terminal::remoteDevices()) {
        char address[32];
        std::snprintf(address, sizeof address, "%012llX", static_cast<unsigned long long>(d.address));
        peerLines(std::string("Bluetooth ") + address + (d.name.empty() ? "" : " " + escape(d.name)),
                  terminal::remoteReceived(d.address), lines);
    }
    if (lines.size() == before) lines.push_back("  (none)");
    return lines;
}

void windowSize(int& width, int& height) {
    winsize ws{};
    width = 80;
    height = 24;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        width = ws.ws_col;
        height = ws.ws_row;
    }
}

void put(const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(STDOUT_FILENO, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

int watchCommand(const Options& options, const Args& args, std::ostream&, std::ostream& err) {
    long long interval = 200;
    std::vector<OptionGiven> given;
    Args rest;
    if (int rc = readOptions(args[0], args, 1, kNoWords, given, rest, err); rc != kOk) return rc;
    for (const OptionGiven& o : given) interval = o.number;
    // A view redrawn in place has no JSON form; the read-back commands have.
    if (options.json)
        return usage(args[0], err, "a live view has no JSON form (read status, leds or text with --json instead)");
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        err << "needs a text terminal (standard input and output)\n";
        return kFailed;
    }
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    struct sigaction leave = {};
    struct sigaction resize = {};
    struct sigaction oldInt = {}, oldTerm = {}, oldHup = {}, oldWinch = {};
    leave.sa_handler = onLeave;
    resize.sa_handler = onResize;
    sigaction(SIGINT, &leave, &oldInt);
    sigaction(SIGTERM, &leave, &oldTerm);
    sigaction(SIGHUP, &leave, &oldHup);
    sigaction(SIGWINCH, &resize, &oldWinch);
    gLeave = 0;
    gResized = 0;
    put("\x1b[?1049h\x1b[?25l\x1b[2J");

    std::vector<std::string> shown;
    int shownWidth = 0, shownHeight = 0;
    while (!gLeave) {
        int width = 0, height = 0;
        windowSize(width, height);
        std::vector<std::string> lines = frameLines(options);
        lines.push_back("");
        lines.push_back(std::string(kDim) + "q: leave" + kReset);
        if (lines != shown || width != shownWidth || height != shownHeight || gResized) {
            if (width != shownWidth || height != shownHeight || gResized) put("\x1b[2J");
            gResized = 0;
            std::string frame = "\x1b[H";
            for (int row = 0; row < height && row < static_cast<int>(lines.size()); ++row)
                frame += clip(lines[static_cast<size_t>(row)], width) + "\x1b[K" + (row + 1 < height ? "\r\n" : "");
            frame += "\x1b[J";
            put(frame);
            shown = lines;
            shownWidth = width;
            shownHeight = height;
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, static_cast<int>(interval)) > 0) {
            if (in.revents & (POLLHUP | POLLERR)) break;
            char keys[64];
            ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
            if (n == 0) break;
            for (ssize_t i = 0; i < n; ++i)
                if (keys[i] == 'q' || keys[i] == 'Q') gLeave = 1;
        }
    }

    put("\x1b[0m\x1b[?25h\x1b[?1049l");
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    sigaction(SIGWINCH, &oldWinch, nullptr);
    return kOk;
}

}  // namespace console
