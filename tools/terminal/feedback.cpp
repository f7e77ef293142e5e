// The terminal's lights and sounds as a person names them: one table for
// the lights (by the device model's wiring) and one for the sound
// resources, read by every command that shows them.
#include <string>

#include "console.h"
#include "platform/host/terminal.h"
#include "resources/resource.h"
#include "settings/keytable.h"

namespace console {

namespace {

// The fallback device model (which stands in when the terminal reports no
// model) wires logical LEDs 0, 1, 2 to platform LEDs 1, 2, 0.
bool rotatedLeds() {
    int32_t model = terminal::model();
    return model == 0 || model == kFallbackDeviceModel;
}

struct SoundName {
    int resource;
    const char* name;
};

const SoundName kSoundNames[] = {
    {IDW_GOOD_READ, "good read"},
    {IDW_BAD_READ, "bad read"},
    {IDW_CONNECTED, "connected"},
    {IDW_PORT_FAILED, "port failed"},
};

}  // namespace

Light lightOf(unsigned platformLed) {
    static const Light logical[] = {{"scanning", "red"}, {"good-read", "green"}, {"vibrator", "none"}};
    if (platformLed > 2) return {"unused", "none"};
    return logical[rotatedLeds() ? (platformLed + 2) % 3 : platformLed];
}

unsigned vibratorLed() {
    return rotatedLeds() ? 0 : 2;
}

std::string soundRecord(int resource) {
    return "resource:" + std::to_string(resource);
}

std::string soundName(const std::string& sound) {
    for (const SoundName& s : kSoundNames)
        if (sound == soundRecord(s.resource)) return s.name;
    return sound;
}

}  // namespace console
