// Windows, messages, hot keys, the tray and the program's resources on the
// host terminal: what tests and the console can read beyond terminal.h.
#pragma once

#include <string>
#include <vector>

namespace terminal {

// Each popup menu the terminal showed, in order: its position, the choice
// made (0 = none) and the menu's entries.
struct MenuPopup {
    int x;
    int y;
    unsigned flags;
    unsigned choice;
    std::vector<std::u16string> items;
};
std::vector<MenuPopup> menuPopups();

// Messages waiting in the queues of a process's threads (for tests).
int queuedMessages(int pid);
// True while a thread of the process waits in GetMessageW with nothing queued:
// its message loop runs and has handled everything posted to it.
bool messageLoopIdle(int pid);

}  // namespace terminal
