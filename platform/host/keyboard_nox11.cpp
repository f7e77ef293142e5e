// The desktop keyboard of a build without X11: there is none, and a
// terminal.conf that names a display types into the terminal's own field,
// which the terminal's log says once per process.
#include <mutex>

#include "platform/host/internal.h"
#include "platform/host/vkbd.h"

const host::Output* host::desktopOutput() {
    static std::once_flag said;
    std::call_once(said, [] {
        host::appendLog("desktop.log",
                                "this build has no desktop keyboard (built without X11): typing into the terminal");
    });
    return nullptr;
}
