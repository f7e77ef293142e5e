// The host terminal's notification LEDs and sound player. Every attached
// process sees the same lights and the same record of what was played: the
// state lives in the terminal's shared memory. Audio is not produced; each
// PlaySoundW call that finds its sound is recorded with the terminal time.
//
// The record holds the lights' states; the changes and the sounds are logs
// that grow, kept in the terminal's log folder ("leds.log": "<time> <led>
// <state>", "sounds.log": "<time> <sound>"), appended under the record's lock
// so that their order is the order of the calls.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

constexpr int kLeds = 8;
constexpr int kSoundNameBytes = 168;
const char kLedLog[] = "leds.log";
const char kSoundLog[] = "sounds.log";

struct FeedbackState {
    host::SharedHeader header;
    int32_t ledStates[kLeds];
    int32_t calls;
    int32_t refuse;
};

FeedbackState* state() {
    return host::map<FeedbackState>("feedback");
}

std::string narrow(const char16_t* text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < limit && text[i] != 0; ++i) {
        char16_t c = text[i];
        out.push_back(c >= 32 && c < 127 ? static_cast<char>(c) : '?');
    }
    return out;
}

void recordSound(const std::string& name) {
    FeedbackState* s = state();
    if (!s) return;
    host::Lock lock(&s->header);
    host::appendLog(kSoundLog, std::to_string(host::terminalNow()) + " " + name);
    host::notifyAll(&s->header);
}

}  // namespace

BOOL NLedSetDevice(UINT infoId, void* info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FeedbackState* s = state();
    if (!s) return FALSE;  // the mapping said why
    host::Lock lock(&s->header);
    ++s->calls;
    if (s->refuse > 0) {
        --s->refuse;
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (infoId != NLED_SETTINGS_INFO_ID) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* settings = static_cast<const NLED_SETTINGS_INFO*>(info);
    if (settings->LedNum >= static_cast<UINT>(kLeds)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s->ledStates[settings->LedNum] = settings->OffOnBlink;
    host::appendLog(kLedLog, std::to_string(host::terminalNow()) + " " +
                                         std::to_string(settings->LedNum) + " " + std::to_string(settings->OffOnBlink));
    host::notifyAll(&s->header);
    return TRUE;
}

BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags) {
    if (sound == nullptr) return TRUE;  // stops the current sound; nothing to record
    auto value = reinterpret_cast<ULONG_PTR>(sound);
    if ((flags & SND_RESOURCE) == SND_RESOURCE) {
        if (value <= 0xFFFF) {
            // Only the program's own WAVE resources can be played.
            auto id = static_cast<unsigned>(value);
            if (host::find(host::KindBinary, id, "WAVE") == nullptr) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return FALSE;
            }
            recordSound("resource:" + std::to_string(id));
        } else {
            recordSound("resource:" + narrow(sound, kSoundNameBytes));
        }
        return TRUE;
    }
    if (value <= 0xFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    recordSound("file:" + narrow(sound, kSoundNameBytes));
    return TRUE;
}

namespace terminal {

std::vector<LedRecord> ledChanges() {
    std::vector<LedRecord> out;
    FeedbackState* s = state();
    if (!s) return out;
    host::Lock lock(&s->header);
    std::ifstream in(host::logDir() + "/" + kLedLog);
    std::string line;
    while (std::getline(in, line)) {
        // "time led state"; a line this terminal did not write is passed over.
        size_t first = line.find(' ');
        size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        uint64_t time = 0, led = 0;
        int64_t value = 0;
        if (second == std::string::npos || !host::readUnsigned(line.substr(0, first), 10, UINT64_MAX, time) ||
            !host::readUnsigned(line.substr(first + 1, second - first - 1), 10, UINT32_MAX, led) ||
            !host::readSigned(line.substr(second + 1), INT32_MIN, INT32_MAX, value))
            continue;
        out.push_back(LedRecord{time, static_cast<unsigned>(led), static_cast<int>(value)});
    }
    return out;
}

int ledState(unsigned led) {
    FeedbackState* s = state();
    if (!s || led >= static_cast<unsigned>(kLeds)) return 0;
    host::Lock lock(&s->header);
    return s->ledStates[led];
}

int ledCalls() {
    FeedbackState* s = state();
    if (!s) return 0;
    host::Lock lock(&s->header);
    return s->calls;
}

void refuseLedCalls(int count) {
    FeedbackState* s = state();
    if (!s) return;
    host::Lock lock(&s->header);
    s->refuse = count < 0 ? 0 : count;
}

std::vector<SoundRecord> sounds() {
    std::vector<SoundRecord> out;
    FeedbackState* s = state();
    if (!s) return out;
    host::Lock lock(&s->header);
    std::ifstream in(host::logDir() + "/" + kSoundLog);
    std::string line;
    while (std::getline(in, line)) {
        // "time sound"; a line this terminal did not write is passed over.
        size_t space = line.find(' ');
        uint64_t time = 0;
        if (space == std::string::npos || !host::readUnsigned(line.substr(0, space), 10, UINT64_MAX, time))
            continue;
        out.push_back(SoundRecord{time, line.substr(space + 1)});
    }
    return out;
}

}  // namespace terminal
