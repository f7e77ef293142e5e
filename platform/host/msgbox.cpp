// Message boxes on the host terminal: each is recorded in the terminal's
// message-box log and answered from the terminal's script (else OK, and No
// for a Yes/No question).
//
// Log: <root>/.terminal/log/msgbox.log, one box a line:
//   <type>\t<owner>\t<answer>\t<caption>\t<text>
// with "\\", "\t", "\n" and "\r" in the texts escaped by a backslash.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/host/internal.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

constexpr int kScriptedAnswers = 64;

struct MessageBoxScript {
    host::SharedHeader header;
    uint32_t head;   // next answer to use
    uint32_t count;  // answers waiting
    int32_t answers[kScriptedAnswers];
};

MessageBoxScript* script() {
    return host::map<MessageBoxScript>("msgbox");
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        char c = text[++i];
        out.push_back(c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c);
    }
    return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

}  // namespace

namespace {
std::atomic<bool> recording{true};
}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    int answer = (type & 0xFu) == MB_YESNO ? IDNO : IDOK;
    if (MessageBoxScript* s = script()) {
        host::Lock lock(&s->header);
        if (s->count > 0) {
            answer = s->answers[s->head % kScriptedAnswers];
            s->head = (s->head + 1) % kScriptedAnswers;
            --s->count;
        }
    }
    if (!recording.load(std::memory_order_relaxed)) return answer;
    std::string textUtf8 = host::toUtf8(text);
    std::string captionUtf8 = host::toUtf8(caption);
    char head[64];
    snprintf(head, sizeof head, "%u\t%u\t%d\t", type, static_cast<unsigned>(reinterpret_cast<uintptr_t>(owner)),
             answer);
    host::appendLog("msgbox.log", head + escape(captionUtf8) + "\t" + escape(textUtf8));
    fprintf(stderr, "[message box] %s: %s\n", captionUtf8.c_str(), textUtf8.c_str());
    return answer;
}

namespace terminal {

void recordMessageBoxes(bool on) {
    recording.store(on, std::memory_order_relaxed);
}

std::vector<MessageBoxRecord> messageBoxes() {
    std::vector<MessageBoxRecord> out;
    std::ifstream in(host::logDir() + "/msgbox.log");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f = splitTabs(line);
        // A line this terminal did not write is passed over.
        uint64_t type = 0, owner = 0;
        int64_t answer = 0;
        if (f.size() != 5 || !host::readUnsigned(f[0], 10, UINT32_MAX, type) ||
            !host::readUnsigned(f[1], 10, UINT32_MAX, owner) ||
            !host::readSigned(f[2], INT32_MIN, INT32_MAX, answer))
            continue;
        MessageBoxRecord r;
        r.type = static_cast<unsigned>(type);
        r.owner = static_cast<uint32_t>(owner);
        r.answer = static_cast<int>(answer);
        r.caption = host::fromUtf8(unescape(f[3]));
        r.text = host::fromUtf8(unescape(f[4]));
        out.push_back(r);
    }
    return out;
}

void scriptMessageBoxAnswer(int answer) {
    MessageBoxScript* s = script();
    if (s == nullptr) return;
    host::Lock lock(&s->header);
    if (s->count >= kScriptedAnswers) return;  // a full script keeps its first answers
    s->answers[(s->head + s->count) % kScriptedAnswers] = answer;
    ++s->count;
}

}  // namespace terminal
