// What must hold after the decode-settings reader applied any bytes as a
// DecodeSettings.Vqf to the stand-in engine (from its power-on state, read
// from memory): every symbology's lengths stay in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host/engine_state.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"
#include "platform/textfile.h"
#include "scan/decodesettings.h"

namespace decodefuzz {

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* data, size_t size) {
    host::EngineState* engine = host::engineState();
    if (engine == nullptr) return 1;
    {
        host::Lock lock(&engine->header);
        host::resetEngine(engine);
    }
    TextFile* file = textFileOpenBytes(data, size);
    if (file == nullptr) return 2;
    applyDecodeSettingsFile(file);
    textFileClose(file);
    for (int id = 0; id < 64; ++id) {
        terminal::SymbologyState s = terminal::symbology(id);
        if (s.minLength > s.maxLength) return 3;
    }
    return 0;
}

}  // namespace decodefuzz
