// Menus of the host terminal: menu handles are positions in the program's
// menu resources; a popup takes the next choice the console scripted (in the
// shared record, windows_record.h) and is written to
// <root>/.terminal/log/menu.log with its entries.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/resources.h"
#include "platform/host/terminal.h"
#include "platform/host/windows.h"
#include "platform/host/windows_record.h"

using namespace host;

namespace {

std::mutex menuMutex;

// A menu handle is a position in a menu resource: the entry list from
// `first` at nesting `depth`.
struct LocalMenu {
    const host::Resource* resource;
    size_t first;
    int depth;
};
std::map<uintptr_t, LocalMenu>& localMenus() {
    static std::map<uintptr_t, LocalMenu> menus;
    return menus;
}
uintptr_t nextMenuHandle = 0x4D000;

HMENU makeMenu(const host::Resource* resource, size_t first, int depth) {
    std::lock_guard<std::mutex> guard(menuMutex);
    uintptr_t h = ++nextMenuHandle;
    localMenus()[h] = LocalMenu{resource, first, depth};
    return reinterpret_cast<HMENU>(h);
}

bool lookupMenu(HMENU menu, LocalMenu* out) {
    std::lock_guard<std::mutex> guard(menuMutex);
    auto it = localMenus().find(reinterpret_cast<uintptr_t>(menu));
    if (it == localMenus().end()) return false;
    *out = it->second;
    return true;
}

std::string menuLogPath() {
    return terminal::root() + "/.terminal/log/menu.log";
}

std::string narrowEscaped(const std::u16string& text) {
    std::string s;
    for (char16_t c : text) {
        if (c == '\\' || c == '\t' || c == '\n' || c < 0x20 || c > 0x7E) {
            char buffer[16];
            std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
            s += buffer;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s;
}

// The text that narrowEscaped wrote; false for any other ("\\" not followed
// by "u" and four hexadecimal digits).
bool unescape(const std::string& text, std::u16string& out) {
    std::u16string s;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            s += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
            continue;
        }
        uint64_t code = 0;
        if (i + 5 >= text.size() || text[i + 1] != 'u' ||
            !host::readUnsigned(text.substr(i + 2, 4), 16, 0xFFFF, code))
            return false;
        s += static_cast<char16_t>(code);
        i += 5;
    }
    out = s;
    return true;
}

}  // namespace

HMENU LoadMenuW(HINSTANCE, LPCWSTR name) {
    const host::Resource* r = host::resourceOf(name, host::KindMenu);
    return r ? makeMenu(r, 0, 0) : nullptr;
}

HMENU GetSubMenu(HMENU menu, int position) {
    LocalMenu m{};
    if (!lookupMenu(menu, &m) || position < 0) return nullptr;
    int index = 0;
    for (size_t i = m.first; i < m.resource->itemCount; ++i) {
        const host::MenuItem& item = m.resource->items[i];
        if (item.depth < m.depth) break;
        if (item.depth != m.depth) continue;
        if (index++ == position) return item.popup ? makeMenu(m.resource, i + 1, m.depth + 1) : nullptr;
    }
    return nullptr;
}

BOOL DestroyMenu(HMENU menu) {
    std::lock_guard<std::mutex> guard(menuMutex);
    return localMenus().erase(reinterpret_cast<uintptr_t>(menu)) ? TRUE : FALSE;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND window, void*) {
    LocalMenu m{};
    if (!lookupMenu(menu, &m)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    unsigned choice = 0;
    WindowsState* s = host::windowsState();
    if (s) {
        host::Lock lock(&s->header);
        if (s->menuCount) {
            choice = s->menuScript[s->menuHead];
            s->menuHead = (s->menuHead + 1) % kMenuScript;
            --s->menuCount;
        }
    }
    std::ostringstream line;
    line << "popup\t" << x << "\t" << y << "\t" << flags << "\t" << choice;
    for (size_t i = m.first; i < m.resource->itemCount; ++i) {
        const host::MenuItem& item = m.resource->items[i];
        if (item.depth < m.depth) break;
        if (item.depth == m.depth) line << "\t" << narrowEscaped(item.text ? item.text : u"-");
    }
    line << "\n";
    std::string text = line.str();
    FILE* log = std::fopen(menuLogPath().c_str(), "a");
    if (log) {
        std::fwrite(text.data(), 1, text.size(), log);
        std::fclose(log);
    }
    if (!choice) return 0;
    if (!(flags & TPM_RETURNCMD)) {
        PostMessageW(window, WM_COMMAND, choice, 0);
        return TRUE;
    }
    return static_cast<BOOL>(choice);
}

namespace terminal {

void scriptMenuChoice(unsigned command) {
    WindowsState* s = host::windowsState();
    if (!s) return;
    host::Lock lock(&s->header);
    if (s->menuCount >= kMenuScript) return;
    s->menuScript[(s->menuHead + s->menuCount) % kMenuScript] = command;
    ++s->menuCount;
}

std::vector<MenuPopup> menuPopups() {
    std::vector<MenuPopup> result;
    std::ifstream in(menuLogPath());
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t')) fields.push_back(field);
        // A line this terminal did not write is passed over.
        if (fields.size() < 5 || fields[0] != "popup") continue;
        int64_t x = 0, y = 0;
        uint64_t flags = 0, choice = 0;
        if (!host::readSigned(fields[1], INT32_MIN, INT32_MAX, x) ||
            !host::readSigned(fields[2], INT32_MIN, INT32_MAX, y) ||
            !host::readUnsigned(fields[3], 10, UINT32_MAX, flags) ||
            !host::readUnsigned(fields[4], 10, UINT32_MAX, choice))
            continue;
        MenuPopup p{
            static_cast<int>(x), static_cast<int>(y), static_cast<unsigned>(flags), static_cast<unsigned>(choice), {}};
        bool readable = true;
        for (size_t i = 5; i < fields.size() && readable; ++i) {
            std::u16string item;
            readable = unescape(fields[i], item);
            p.items.push_back(item);
        }
        if (!readable) continue;
        result.push_back(p);
    }
    return result;
}

}  // namespace terminal
