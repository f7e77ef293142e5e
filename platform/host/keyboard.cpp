// The host terminal's keyboard and the focused application.
//
// Keyboard: a key-down table of 256 virtual keys and a log of every key event
// (virtual key, press or release, silent flag, character, how it came, the
// terminal time), shared by every process attached to the terminal.
//
//   how "key"           injected with keybd_event
//   how "user"          pressed or released on the keypad (terminal::pressKey)
//   how "unicode"       a character sent with PostKeybdMessage (character set)
//   how "post:<class>"  a message posted to the focused window: WM_KEYDOWN and
//                       WM_KEYUP carry the virtual key, WM_CHAR the character
//
// The log is a file of the terminal's log folder ("keys.log", one fixed-size
// slot per event, appended under the record's lock); keyEvents() returns the
// events oldest first. Events wait in the record (up to kPendingEvents) and
// go to the file together, when the record has no room for the next one or
// when someone reads or clears the log: typing a character costs no write.
//
// The focused application is one text field with a window class ("" = no
// focus); a new terminal starts with an "Edit" field in focus. Its window is a fixed pseudo-window (kFocusWindow) that
// windows.cpp treats as a window of that class; messages posted to it arrive in focusWindowMessage(). The field turns
// key presses into characters through the terminal's keypad (keypad.cpp): configuration key "keypad" (0 = default
// keypad, 1..6 = keypad families) selects the family whose rows it reads back, so tests and the console set it
// alongside the model. Enter types a line
// feed, Tab a tab, Backspace removes the last character; keys pressed with Control, and modifier keys, type nothing.
// Character messages (WM_CHAR, PostKeybdMessage) append their character (carriage return as a line feed, 8 as
// Backspace). Posted WM_KEYDOWN and WM_KEYUP are recorded but type nothing.
//
// What the keys type goes through the seam of vkbd.h: to this field, or to
// the desktop keyboard when terminal.conf names a display (the key record and
// the key log stay the same either way).
//
// A key pressed on the keypad (terminal::pressKey, windows.cpp) is recorded
// down here (userKeyDown), offered to a hot key registered for it, and typed
// (typeUserKey) only when no hot key took it; keys injected
// with keybd_event are never offered. Hot-key modifiers are the modifier keys
// the user holds (the wedge's own injected Shift does not count).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/root.h"
#include "platform/host/objects.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"
#include "platform/host/vkbd.h"

namespace {

const char kEventLog[] = "keys.log";
constexpr uint32_t kPendingEvents = 64;
constexpr uint32_t kFocusTextChars = 262144;
constexpr size_t kClassChars = 64;
constexpr size_t kEventClassChars = 28;
constexpr uintptr_t kFocusWindow = 0x7FFE0001u;

enum How : uint8_t { HowKey = 0, HowUser = 1, HowUnicode = 2, HowPost = 3 };

struct EventSlot {
    uint64_t time;
    uint16_t virtualKey;
    char16_t character;
    uint8_t down;
    uint8_t silent;
    uint8_t how;
    uint8_t reserved;
    char16_t windowClass[kEventClassChars];
};

// A process as the record names it: id (0 = none) and start time.
struct KeyHolder {
    int32_t pid;
    uint32_t reserved;
    uint64_t started;
};

struct KeyboardRecord {
    host::SharedHeader header;
    uint8_t down[256];
    uint8_t userDown[256];
    // The process whose injected press holds each key down.
    KeyHolder holders[256];
    char16_t focusClass[kClassChars];
    uint8_t focusConfigured;  // 0 until setFocusClass: the terminal starts with an "Edit" field in focus
    uint32_t textLength;
    char16_t text[kFocusTextChars];
    // Events not yet in the log, oldest first. While `flushing` is set the
    // log is being appended to from `flushFrom` on: a process that dies in
    // the middle leaves it set, and the next one cuts the log back there and
    // appends the events again, so that none is lost or written twice (the
    // count is cleared after the write, and the mark after the count).
    uint32_t pendingCount;
    uint32_t flushing;
    uint64_t flushFrom;
    EventSlot pending[kPendingEvents];
};

KeyboardRecord* mapKeyboard() {
    return host::map<KeyboardRecord>("keyboard");
}

KeyboardRecord* record() {
    KeyboardRecord* r = mapKeyboard();
    if (r && __atomic_load_n(&r->focusConfigured, __ATOMIC_ACQUIRE) == 0) {
        host::Lock lock(&r->header);
        if (r->focusConfigured == 0) {
            const char16_t kDefault[] = u"Edit";
            for (size_t i = 0; i < sizeof kDefault / sizeof kDefault[0]; ++i) r->focusClass[i] = kDefault[i];
            __atomic_store_n(&r->focusConfigured, 1, __ATOMIC_RELEASE);
        }
    }
    return r;
}

// ------------------------------------------------------------------ record helpers (lock held)
bool hasFocus(const KeyboardRecord* r) {
    return r->focusClass[0] != 0;
}

void appendCharacter(KeyboardRecord* r, char16_t c) {
    if (c == u'\r') c = u'\n';
    if (c == 8) {
        if (r->textLength > 0) r->text[--r->textLength] = 0;
        return;
    }
    if (r->textLength >= kFocusTextChars - 1) return;  // the field is full
    r->text[r->textLength++] = c;
    r->text[r->textLength] = 0;
}

// This process's descriptor of the key log (eventLogMutex held): kept open
// while the terminal stays the same and the file is still there (a reset
// removes the logs).
std::mutex eventLogMutex;
int eventLog() {
    static int fd = -1;
    static uint64_t generation = 0;
    uint64_t current = host::current().generation;
    struct stat st {};
    if (fd >= 0 && (generation != current || fstat(fd, &st) != 0 || st.st_nlink == 0)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        fd = open((host::logDir() + "/" + kEventLog).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        generation = current;
    }
    return fd;
}

// Appends the pending events to the log (record lock held). A log that
// cannot be written (a full disk) loses them, nothing else.
void flushEvents(KeyboardRecord* r) {
    uint32_t count = __atomic_load_n(&r->pendingCount, __ATOMIC_ACQUIRE);
    if (count == 0) {
        // Nothing pending, or a flush that was done but for this mark.
        if (r->flushing != 0) host::publish(&r->flushing, 0);
        return;
    }
    if (count > kPendingEvents) count = kPendingEvents;  // a damaged record
    std::lock_guard<std::mutex> guard(eventLogMutex);
    int fd = eventLog();
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0) {
        // Never leave part of a flush: the reader would lose every later
        // slot, or see some twice.
        off_t from = r->flushing != 0 && static_cast<off_t>(r->flushFrom) <= st.st_size
                         ? static_cast<off_t>(r->flushFrom)
                         : st.st_size;
        if (from != st.st_size) {
            int ignored = ftruncate(fd, from);
            (void)ignored;
        }
        r->flushFrom = static_cast<uint64_t>(from);
        host::publish(&r->flushing, 1);
        size_t bytes = count * sizeof(EventSlot);
        ssize_t written = write(fd, r->pending, bytes);
        if (written > 0 && static_cast<size_t>(written) != bytes) {
            int ignored = ftruncate(fd, from);
            (void)ignored;
        }
    }
    __atomic_store_n(&r->pendingCount, 0u, __ATOMIC_RELEASE);
    host::publish(&r->flushing, 0);
}

// `windowClass`: the class of the window a posted message went to (HowPost).
void recordEvent(KeyboardRecord* r, uint8_t how, int virtualKey, bool down, bool silent, char16_t character,
                 const char16_t* windowClass = nullptr) {
    if (r->flushing != 0 || r->pendingCount >= kPendingEvents) flushEvents(r);
    EventSlot& e = r->pending[r->pendingCount];
    e.time = host::terminalNow();
    e.virtualKey = static_cast<uint16_t>(virtualKey & 0xFF);
    e.character = character;
    e.down = down ? 1 : 0;
    e.silent = silent ? 1 : 0;
    e.how = how;
    e.reserved = 0;
    std::memset(e.windowClass, 0, sizeof e.windowClass);
    if (windowClass) {
        for (size_t i = 0; i + 1 < kEventClassChars && windowClass[i]; ++i) e.windowClass[i] = windowClass[i];
    }
    host::publish(&r->pendingCount, r->pendingCount + 1);
}

// Whether the last event keybd_event recorded for `virtualKey` is a press
// (record lock held): the log read from its end, once the pending events are
// in it. A process killed inside keybd_event may have left the key's state
// without its event, or the event without the state; the log tells which.
bool lastInjectedIsPress(KeyboardRecord* r, int virtualKey) {
    flushEvents(r);  // one place to look, and an interrupted flush mended
    int fd = open((host::logDir() + "/" + kEventLog).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    off_t end = fstat(fd, &st) == 0 ? st.st_size - st.st_size % static_cast<off_t>(sizeof(EventSlot)) : 0;
    EventSlot chunk[64];
    bool press = false, found = false;
    while (end > 0 && !found) {
        off_t from = end > static_cast<off_t>(sizeof chunk) ? end - static_cast<off_t>(sizeof chunk) : 0;
        if (pread(fd, chunk, static_cast<size_t>(end - from), from) != end - from) break;
        for (size_t i = static_cast<size_t>(end - from) / sizeof(EventSlot); i-- > 0;) {
            if (chunk[i].how == HowKey && chunk[i].virtualKey == virtualKey) {
                press = chunk[i].down != 0;
                found = true;
                break;
            }
        }
        end = from;
    }
    close(fd);
    return press;
}

// Releases the keys that a process which ended held down with keybd_event,
// as the terminal drops the windows and hot keys of such a process: a wedge
// killed between Shift down and Shift up must not leave Shift held. The
// release is recorded when the key's last recorded event is its press.
void releaseKeysOfEnded(KeyboardRecord* r) {
    host::ProcessIdentity self = host::currentProcess();
    for (int vk = 0; vk < 256; ++vk) {
        KeyHolder& h = r->holders[vk];
        if (h.pid == 0) continue;
        if (h.pid == self.pid && h.started == self.started) continue;
        if (r->down[vk] && host::processRuns({h.pid, h.started})) continue;
        h.pid = 0;
        if (r->down[vk] && !r->userDown[vk]) {
            if (lastInjectedIsPress(r, vk)) recordEvent(r, HowKey, vk, false, false, 0);
            r->down[vk] = 0;
        }
    }
}

void holdKey(KeyboardRecord* r, int virtualKey, bool down) {
    KeyHolder& h = r->holders[virtualKey & 0xFF];
    h.pid = 0;
    if (!down) return;
    host::ProcessIdentity self = host::currentProcess();
    h.started = self.started;
    host::publish(&h.pid, self.pid);
}

// What a press of `virtualKey` means on the keypad (record lock held): its
// character with the Shift held now (0 for none, and for every key pressed
// with Control or Alt held, which `control` then tells).
struct KeyMeaning {
    char16_t character;
    bool control;
};
KeyMeaning keypadMeaning(const KeyboardRecord* r, int virtualKey, int family) {
    if (r->down[VK_CONTROL] || r->down[0x12]) return {0, true};
    int shift = r->down[VK_SHIFT] ? 1 : 0;
    return {host::keypadCharacter(family, shift != 0, virtualKey), false};
}

// The stand-in focused application's side of the seam.
void standInKey(int virtualKey, bool down, char16_t character, bool) {
    if (!down) return;
    KeyboardRecord* r = record();
    if (!r) return;
    host::Lock lock(&r->header);
    if (!hasFocus(r)) return;
    if ((virtualKey & 0xFF) == 8) {
        appendCharacter(r, 8);
    } else if (character != 0) {
        appendCharacter(r, character);
    } else {
        return;
    }
    host::notifyAll(&r->header);
}

void standInCharacter(char16_t c) {
    KeyboardRecord* r = record();
    if (!r) return;
    host::Lock lock(&r->header);
    if (!hasFocus(r)) return;  // the window went away before the character arrived
    appendCharacter(r, c);
    host::notifyAll(&r->header);
}

bool standInFocus(char16_t* windowClass, size_t capacity) {
    if (capacity == 0) return false;
    windowClass[0] = 0;
    KeyboardRecord* r = record();
    if (!r) return false;
    host::Lock lock(&r->header);
    size_t i = 0;
    for (; i + 1 < capacity && i < kClassChars && r->focusClass[i]; ++i) windowClass[i] = r->focusClass[i];
    windowClass[i] = 0;
    return hasFocus(r);
}

void standInAttach() {}

constexpr host::Output kStandIn = {standInKey, standInCharacter, standInFocus, standInAttach};

// The output of this terminal root: the desktop keyboard when terminal.conf
// names a display and the build has one, the stand-in field otherwise.
const host::Output& output() {
    if (terminal::config("display").empty()) return kStandIn;
    const host::Output* desktop = host::desktopOutput();
    return desktop ? *desktop : kStandIn;
}

unsigned userModifiers(const KeyboardRecord* r) {
    unsigned m = 0;
    if (r->userDown[VK_SHIFT]) m |= MOD_SHIFT;
    if (r->userDown[VK_CONTROL]) m |= MOD_CONTROL;
    if (r->userDown[0x12]) m |= MOD_ALT;
    return m;
}

std::u16string fromSlots(const char16_t* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n]) ++n;
    return std::u16string(text, n);
}

}  // namespace

// ------------------------------------------------------------------ platform API
void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo) {
    KeyboardRecord* r = record();
    if (!r) return;
    bool down = (flags & KEYEVENTF_KEYUP) == 0;
    int family = down ? host::keypadFamily() : 0;
    const host::Output& out = output();
    KeyMeaning meaning{0, false};
    {
        host::Lock lock(&r->header);
        releaseKeysOfEnded(r);
        // A press holds the key before its event is recorded, a release lets it
        // go after: a process killed in between leaves the key held by it, and
        // the next call releases it if the log has its press.
        if (down) {
            r->down[virtualKey] = 1;
            holdKey(r, virtualKey, true);
        }
        recordEvent(r, HowKey, virtualKey, down, (flags & KEYEVENTF_SILENT) != 0, 0);
        host::storeOrder();
        if (down) {
            meaning = keypadMeaning(r, virtualKey, family);
        } else {
            r->down[virtualKey] = 0;
            holdKey(r, virtualKey, false);
        }
        host::notifyAll(&r->header);
    }
    out.key(virtualKey, down, meaning.character, meaning.control);
}

BOOL PostKeybdMessage(HWND window, UINT virtualKey, UINT keyStateFlags, UINT characterCount, UINT* shiftStateBuffer,
                      UINT* characterBuffer) {
    KeyboardRecord* r = record();
    if (!r) return FALSE;
    if (characterCount > 0 && !characterBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const host::Output& out = output();
    {
        host::Lock lock(&r->header);
        for (UINT i = 0; i < characterCount; ++i) {
            char16_t c = static_cast<char16_t>(characterBuffer[i] & 0xFFFF);
            recordEvent(r, HowUnicode, static_cast<int>(virtualKey), true, false, c);
        }
        host::notifyAll(&r->header);
    }
    for (UINT i = 0; i < characterCount; ++i) out.character(static_cast<char16_t>(characterBuffer[i] & 0xFFFF));
    return TRUE;
}

SHORT GetAsyncKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return 0;
    KeyboardRecord* r = record();
    if (!r) return 0;
    output().attach();
    host::Lock lock(&r->header);
    releaseKeysOfEnded(r);
    return r->down[virtualKey] ? static_cast<SHORT>(0x8000) : 0;
}

HWND GetForegroundKeyboardTarget() {
    return host::focusWindow();
}

namespace host {

HWND focusWindow() {
    char16_t windowClass[kClassChars];
    return output().focus(windowClass, kClassChars) ? reinterpret_cast<HWND>(kFocusWindow) : nullptr;
}

std::u16string focusWindowClass() {
    char16_t windowClass[kClassChars];
    output().focus(windowClass, kClassChars);
    return fromSlots(windowClass, kClassChars);
}

void focusWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    KeyboardRecord* r = record();
    if (!r) return;
    const host::Output& out = output();
    char16_t windowClass[kClassChars];
    if (!out.focus(windowClass, kClassChars)) return;  // the window went away before the message arrived
    char16_t c = static_cast<char16_t>(wParam & 0xFFFF);
    {
        host::Lock lock(&r->header);
        switch (message) {
            case WM_KEYDOWN:
                recordEvent(r, HowPost, static_cast<int>(wParam), true, false, 0, windowClass);
                break;
            case WM_KEYUP:
                recordEvent(r, HowPost, static_cast<int>(wParam), false, false, 0, windowClass);
                break;
            case WM_CHAR:
                recordEvent(r, HowPost, 0, true, false, c, windowClass);
                break;
            default:
                return;
        }
        host::notifyAll(&r->header);
    }
    if (message == WM_CHAR) out.character(c);
}

bool userKeyDown(int virtualKey, unsigned& modifiers) {
    if (virtualKey < 0 || virtualKey > 255) return false;
    KeyboardRecord* r = record();
    if (!r) return false;
    host::Lock lock(&r->header);
    releaseKeysOfEnded(r);
    recordEvent(r, HowUser, virtualKey, true, false, 0);
    r->down[virtualKey] = 1;
    holdKey(r, virtualKey, false);
    r->userDown[virtualKey] = 1;
    modifiers = userModifiers(r);
    host::notifyAll(&r->header);
    return true;
}

void typeUserKey(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return;
    KeyboardRecord* r = record();
    if (!r) return;
    int family = host::keypadFamily();
    KeyMeaning meaning{0, false};
    {
        host::Lock lock(&r->header);
        meaning = keypadMeaning(r, virtualKey, family);
    }
    const host::Output& out = output();
    out.key(virtualKey, true, meaning.character, meaning.control);
    out.key(virtualKey, false, 0, meaning.control);
}

}  // namespace host

// ------------------------------------------------------------------ terminal control
namespace terminal {

void releaseKey(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return;
    KeyboardRecord* r = record();
    if (!r) return;
    host::Lock lock(&r->header);
    recordEvent(r, HowUser, virtualKey, false, false, 0);
    r->down[virtualKey] = 0;
    r->userDown[virtualKey] = 0;
    holdKey(r, virtualKey, false);
    host::notifyAll(&r->header);
}

bool keyDown(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return false;
    KeyboardRecord* r = record();
    if (!r) return false;
    host::Lock lock(&r->header);
    releaseKeysOfEnded(r);
    return r->down[virtualKey] != 0;
}

std::vector<KeyEvent> keyEvents() {
    std::vector<KeyEvent> out;
    KeyboardRecord* r = record();
    if (!r) return out;
    host::Lock lock(&r->header);
    flushEvents(r);
    std::ifstream in(host::logDir() + "/" + kEventLog, std::ios::binary);
    EventSlot e{};
    while (in.read(reinterpret_cast<char*>(&e), sizeof e)) {
        KeyEvent k;
        k.time = e.time;
        k.virtualKey = e.virtualKey;
        k.down = e.down != 0;
        k.silent = e.silent != 0;
        k.character = e.character;
        switch (e.how) {
            case HowKey:
                k.how = "key";
                break;
            case HowUser:
                k.how = "user";
                break;
            case HowUnicode:
                k.how = "unicode";
                break;
            default: {
                k.how = "post:";
                for (size_t j = 0; j < kEventClassChars && e.windowClass[j]; ++j) {
                    char16_t c = e.windowClass[j];
                    k.how.push_back(c < 128 ? static_cast<char>(c) : '?');
                }
                break;
            }
        }
        out.push_back(std::move(k));
    }
    return out;
}

void clearKeyEvents() {
    KeyboardRecord* r = record();
    if (!r) return;
    host::Lock lock(&r->header);
    std::string path = host::logDir() + "/" + kEventLog;
    if (truncate(path.c_str(), 0) != 0 && errno != ENOENT) unlink(path.c_str());
    __atomic_store_n(&r->pendingCount, 0u, __ATOMIC_RELEASE);
    host::publish(&r->flushing, 0);
}

void setFocusClass(const std::u16string& windowClass) {
    KeyboardRecord* r = record();
    if (!r) return;
    host::Lock lock(&r->header);
    std::memset(r->focusClass, 0, sizeof r->focusClass);
    for (size_t i = 0; i < windowClass.size() && i + 1 < kClassChars; ++i) r->focusClass[i] = windowClass[i];
    __atomic_store_n(&r->focusConfigured, 1, __ATOMIC_RELEASE);
    host::notifyAll(&r->header);
}

std::u16string focusClass() {
    KeyboardRecord* r = record();
    if (!r) return u"";
    host::Lock lock(&r->header);
    return fromSlots(r->focusClass, kClassChars);
}

std::u16string focusText() {
    KeyboardRecord* r = record();
    if (!r) return u"";
    host::Lock lock(&r->header);
    return std::u16string(r->text, r->textLength < kFocusTextChars ? r->textLength : kFocusTextChars - 1);
}

size_t waitFocusText(size_t characters, int realMilliseconds) {
    KeyboardRecord* r = record();
    if (!r) return 0;
    int64_t deadline = host::monotonicNanos() + static_cast<int64_t>(realMilliseconds) * 1000000;
    host::Lock lock(&r->header);
    for (;;) {
        if (r->textLength >= characters) return r->textLength;
        int64_t left = deadline - host::monotonicNanos();
        if (left <= 0) return r->textLength;
        host::wait(lock, (left + 999999) / 1000000);
    }
}

void clearFocusText() {
    KeyboardRecord* r = record();
    if (!r) return;
    host::Lock lock(&r->header);
    r->textLength = 0;
    r->text[0] = 0;
    host::notifyAll(&r->header);
}

}  // namespace terminal
