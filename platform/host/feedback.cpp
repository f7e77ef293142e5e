// The host terminal's notification LEDs and sound player. Every attached
// process sees the same lights and the same record of what was played: the
// state lives in the terminal's shared memory. Audio is not produced; each
// PlaySoundW call that finds its sound is recorded with the terminal time.
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

constexpr int kLeds = 8;
constexpr int kLedLogEntries = 16384;  // the most recent changes are kept
constexpr int kSoundLogEntries = 8192;
constexpr int kSoundNameBytes = 168;

struct LedEntry {
    uint64_t time;
    uint32_t led;
    int32_t state;
};

struct SoundEntry {
    uint64_t time;
    char name[kSoundNameBytes];
};

struct FeedbackState {
    hostshared::SharedHeader header;
    int32_t ledStates[kLeds];
    int32_t calls;
    int32_t refuse;
    uint64_t ledCount;  // changes recorded so far (the log keeps the last kLedLogEntries)
    uint64_t soundCount;
    LedEntry leds[kLedLogEntries];
    SoundEntry sounds[kSoundLogEntries];
};

FeedbackState* state() {
    return hostshared::map<FeedbackState>("feedback");
}

std::string narrow(const char16_t* text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < limit && text[i] != 0; ++i) {
        char16_t c = text[i];
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

void recordSound(const std::string& name) {
    FeedbackState* s = state();
    if (!s) return;
    hostshared::Lock lock(&s->header);
    SoundEntry& e = s->sounds[s->soundCount % kSoundLogEntries];
    e.time = hostfacility::terminalNow();
    std::memset(e.name, 0, sizeof e.name);
    std::strncpy(e.name, name.c_str(), sizeof e.name - 1);
    ++s->soundCount;
    hostshared::notifyAll(&s->header);
}

}  // namespace

BOOL NLedSetDevice(UINT infoId, void* info) {
    FeedbackState* s = state();
    if (!s || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    hostshared::Lock lock(&s->header);
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
    LedEntry& e = s->leds[s->ledCount % kLedLogEntries];
    e.time = hostfacility::terminalNow();
    e.led = settings->LedNum;
    e.state = settings->OffOnBlink;
    ++s->ledCount;
    hostshared::notifyAll(&s->header);
    return TRUE;
}

BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags) {
    if (sound == nullptr) return TRUE;  // stops the current sound; nothing to record
    auto value = reinterpret_cast<ULONG_PTR>(sound);
    if ((flags & SND_RESOURCE) == SND_RESOURCE) {
        if (value <= 0xFFFF) {
            // Only the program's own WAVE resources can be played.
            auto id = static_cast<unsigned>(value);
            if (hostresources::find(hostresources::KindBinary, id, "WAVE") == nullptr) {
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
    hostshared::Lock lock(&s->header);
    uint64_t first = s->ledCount > kLedLogEntries ? s->ledCount - kLedLogEntries : 0;
    for (uint64_t i = first; i < s->ledCount; ++i) {
        const LedEntry& e = s->leds[i % kLedLogEntries];
        out.push_back(LedRecord{e.time, e.led, e.state});
    }
    return out;
}

int ledState(unsigned led) {
    FeedbackState* s = state();
    if (!s || led >= static_cast<unsigned>(kLeds)) return 0;
    hostshared::Lock lock(&s->header);
    return s->ledStates[led];
}

int ledCalls() {
    FeedbackState* s = state();
    if (!s) return 0;
    hostshared::Lock lock(&s->header);
    return s->calls;
}

void refuseLedCalls(int count) {
    FeedbackState* s = state();
    if (!s) return;
    hostshared::Lock lock(&s->header);
    s->refuse = count < 0 ? 0 : count;
}

std::vector<SoundRecord> sounds() {
    std::vector<SoundRecord> out;
    FeedbackState* s = state();
    if (!s) return out;
    hostshared::Lock lock(&s->header);
    uint64_t first = s->soundCount > kSoundLogEntries ? s->soundCount - kSoundLogEntries : 0;
    for (uint64_t i = first; i < s->soundCount; ++i) {
        const SoundEntry& e = s->sounds[i % kSoundLogEntries];
        out.push_back(SoundRecord{e.time, std::string(e.name, strnlen(e.name, sizeof e.name))});
    }
    return out;
}

}  // namespace terminal
