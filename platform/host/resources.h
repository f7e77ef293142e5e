// The program's resources on the host terminal: resources/keyvane.rc compiled
// by tools/rc into a table linked into the program (target keyvane_resources).
#pragma once

#include <cstddef>

namespace host {

enum Kind { KindString = 1, KindIcon = 2, KindMenu = 3, KindAccelerators = 4, KindBinary = 5 };

struct MenuItem {
    int depth;  // 0 = a top-level entry of the menu bar, 1 = inside its popup, ...
    bool popup;
    unsigned id;
    const char16_t* text;  // null for a separator
};

constexpr unsigned kAccelVirtKey = 1, kAccelControl = 2, kAccelShift = 4, kAccelAlt = 8;
struct Accelerator {
    unsigned key;
    unsigned command;
    unsigned flags;
};

struct Resource {
    Kind kind;
    unsigned id;
    const char* type;           // "STRING", "ICON", "MENU", "ACCELERATORS", or the binary's type ("WAVE")
    const char16_t* text;       // strings
    const unsigned char* data;  // icons and binaries (the file as it stands)
    size_t size;
    const MenuItem* items;  // menus
    size_t itemCount;
    const Accelerator* accelerators;
    size_t acceleratorCount;
};

// Defined by the generated table.
extern const Resource table[];
extern const size_t tableCount;

// The resource of that kind and number (and type, for binaries); null when missing.
const Resource* find(Kind kind, unsigned id, const char* type = nullptr);
// The resource a resource name gives (resources are addressed by number; a
// resource handle points at its table entry); null for a name by text.
const Resource* resourceOf(const char16_t* name, Kind kind, const char* type = nullptr);

}  // namespace host
