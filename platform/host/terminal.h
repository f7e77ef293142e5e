// The host terminal: what a person can do with a handheld terminal, and what
// it shows, for tests and the console. Several processes attach to one
// terminal (the wedge, second instances, the console, tests); its state lives
// in the terminal root folder and in shared memory mapped from it.
//
// Terminal root layout:
//   <root>/                 the device's file system ("\\Zentrova\\Keyvane.ini"
//                           is <root>/Zentrova/Keyvane.ini, letter case ignored)
//   <root>/.terminal/       the terminal itself: terminal.conf, shared state,
//                           and the logs of what the terminal showed
// The root is KEYVANE_TERMINAL from the environment (default ./terminal).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace terminal {

// ------------------------------------------------------------------ attach
// Attaches this process to the terminal at `root` (creating its folders and
// shared state when missing). Platform calls attach to $KEYVANE_TERMINAL on
// first use when nothing was attached explicitly.
bool attach(const std::string& root);
const std::string& root();
// Whether `path` is a terminal root (a folder with its .terminal folder, as
// init makes it). Looks only: attaches nothing and makes nothing.
bool isRoot(const std::string& path);
// Clears the terminal's shared state and logs (not the device files): events,
// windows, hot keys, keyboard, focused application, lights, sounds, message
// boxes, tray, scripts, barcodes in view, 5-volt state, devices.
void reset();
// Maps a device path ("\\IPSM\\Keyvane.ini") to a host path in the root.
std::string hostPath(const std::u16string& devicePath);

// ------------------------------------------------------------------ safety
// Everything the terminal creates in its root is for its owner only (folders
// 0700, files 0600), whatever the umask: attaching tightens the process's
// umask to 077 as well. A root that another local user could change would let
// that user steer the wedge, so the terminal's programs refuse to use a root,
// a terminal.conf or a configured decoder library (`decoder = PATH`) that
// group or others may write. Returns "" when all is safe, else one line that
// names the path and how to fix it.
std::string safetyProblem();
// Whether `path` (a host path about to be created or written) stays inside
// the root once symbolic links are followed.
bool insideRoot(const std::string& path);

// ------------------------------------------------------------------ changes
// One count for the whole terminal, raised by every change a person could
// see: a shared record changed (keys, text, windows, tray, events, lights,
// sounds, message boxes, engine, view, Bluetooth, ports), a log line, the
// trace log, a port's peer log, the settings files, terminal.conf, a wedge's
// exit code written, a process that showed a window ended (changes.cpp).
// The first call (of either) starts the process's watcher thread of those
// files and processes for the attached root; a change after it is seen.
uint64_t changeCount();
// Sleeps until the count differs from `seen` or `realMilliseconds` pass, and
// returns the count.
uint64_t waitForChange(uint64_t seen, int realMilliseconds);
// Raises the count (and wakes every waiter of the terminal).
void noteChange();

// ------------------------------------------------------------------ configuration
// Stored in <root>/.terminal/terminal.conf ("key = value" lines):
//   model = 0x....        device model number answered to the model request (0 = none)
//   screen = 240x320      screen size
//   clock = 1             terminal clock speed: Sleep(n) takes n/clock real ms
//   COM3 = /dev/ttyUSB0   host path behind a COM port (tty or pseudo-terminal);
//                         "none": no such port; unset: an "auto" port, a
//                         pseudo-terminal whose far end (slave path) is
//                         published as "COM3.peer" while open, with what is
//                         written to it logged in .terminal/log/COM3.out
//   COM3.failopens = 2    fault injection: the next 2 opens of COM3 are refused
//   engine = fail         the stand-in engine refuses to connect
//   power = port          the 5-volt output is switched by codes 17/18 on COM4
//   decoder = <path>      the stand-in decoder library that "Decoder.dll" loads
//   multidecode = 1       the engine supports native multi decode (0: answers 10)
//   frame = 33ms          the engine's frame time in terminal milliseconds: a
//                         decode looks no sooner than one frame after the
//                         previous decode returned (0: at once)
void setModel(int32_t model);
int32_t model();
void setScreen(int width, int height);
void setClockSpeed(int factor);  // the clock's own (clock.cpp), as is clockSpeed
int clockSpeed();
void setPortPath(int comIndex, const std::string& hostPath);
std::string portPath(int comIndex);
void setConfig(const std::string& key, const std::string& value);
std::string config(const std::string& key);
// The engine's frame time (`frame`): 33 ms when unset or unreadable.
uint32_t frameMilliseconds();

// ------------------------------------------------------------------ named events
// -1 when no event of that name exists, else 0 or 1. An event exists while
// a process that still runs holds a handle to it.
int eventState(const std::string& name);
// Sets or resets the event as a program does that opens it, sets it and
// closes its handle again: an event that does not exist stays so.
void setEventState(const std::string& name, bool signalled);
// The running processes that hold a handle to the named mutex (none when no
// such mutex exists).
std::vector<int> mutexHolders(const std::string& name);
// How often the named mutex was opened while it existed (CreateMutexW
// answering ERROR_ALREADY_EXISTS), and the process that did so last: a
// process that holds a handle only for a moment is seen to have looked.
struct MutexOpenings {
    unsigned count = 0;
    int lastPid = 0;
};
MutexOpenings mutexOpenings(const std::string& name);

// ------------------------------------------------------------------ keyboard
void pressKey(int virtualKey);
void releaseKey(int virtualKey);
bool keyDown(int virtualKey);
struct KeyEvent {
    uint64_t time;  // terminal milliseconds
    int virtualKey;
    bool down;
    bool silent;
    char16_t character;  // for Unicode characters sent through PostKeybdMessage; else 0
    std::string how;     // "key" (keybd_event), "user" (pressKey/releaseKey), "unicode", "post:<window class>"
};
std::vector<KeyEvent> keyEvents();
void clearKeyEvents();

// ------------------------------------------------------------------ focused application
// The focused window's class ("Edit", "RichInk", "Internet Explorer_Server",
// anything else); an empty class means no focus at all.
void setFocusClass(const std::u16string& windowClass);
std::u16string focusClass();
// The text a user sees in the focused application.
std::u16string focusText();
void clearFocusText();
// Waits until the focused application holds at least `characters` characters
// or `realMilliseconds` pass; returns how many it holds. Wakes with each
// change of the keyboard, without polling.
size_t waitFocusText(size_t characters, int realMilliseconds);

// ------------------------------------------------------------------ windows, hot keys, tray
struct WindowInfo {
    uint32_t handle;
    int pid;
    std::u16string title;
    std::u16string windowClass;
};
std::vector<WindowInfo> windows();
struct HotKey {
    uint32_t window;  // 0 = thread registration
    int pid;
    int id;
    unsigned modifiers;
    unsigned virtualKey;
};
std::vector<HotKey> hotKeys();
// Tray icons currently shown (owner window, icon id).
std::vector<std::pair<uint32_t, unsigned>> trayIcons();
// Fault injection: the windows, message queues, hot keys and tray icons of
// process `endedPid` name `reusingPid` from now on, keeping their start time,
// as when the system gives the id of an ended process to a new one.
void reuseProcessId(int endedPid, int reusingPid);
// Taps the tray icon (posts the callback message with WM_LBUTTONUP).
bool tapTray();
// The next popup menu choices, used in order (0 = no choice).
void scriptMenuChoice(unsigned command);

// ------------------------------------------------------------------ message boxes
struct MessageBoxRecord {
    std::u16string text;
    std::u16string caption;
    unsigned type;
    uint32_t owner;
    int answer;
};
std::vector<MessageBoxRecord> messageBoxes();
// The next answers, used in order; with none, OK (and No for Yes/No questions).
void scriptMessageBoxAnswer(int answer);
// Whether this process's message boxes are recorded and echoed on its
// standard error (on by default; a fuzzing run that shows thousands of them
// turns them off).
void recordMessageBoxes(bool on);

// ------------------------------------------------------------------ lights, vibrator, sounds
struct LedRecord {
    uint64_t time;
    unsigned led;  // platform LED number
    int state;
};
std::vector<LedRecord> ledChanges();
int ledState(unsigned led);
// Number of NLedSetDevice calls so far, and the next n calls to refuse.
int ledCalls();
void refuseLedCalls(int count);
struct SoundRecord {
    uint64_t time;
    std::string sound;  // "resource:129" or "file:<name>"
};
std::vector<SoundRecord> sounds();

// ------------------------------------------------------------------ scan engine
struct Barcode {
    std::string data;  // bytes
    char symbologyLetter = 'a';
    char second = 0;
    char third = 0;
    int symbologyId = -1;  // -1: any enabled symbology is accepted
    int row = 240;         // image row (0..479)
};
void putInView(const Barcode& barcode);
// Takes the barcodes and the image out of view.
void clearView();
std::vector<Barcode> inView();
// An image in view (host path): the engine reads its barcodes as a camera
// would. A folder of frames is shown at `framesPerSecond`.
struct ImageSource {
    std::string path;  // empty: no image in view
    bool frames = false;
    int framesPerSecond = 10;
};
// False when the path is empty or longer than the engine keeps.
bool putImageInView(const ImageSource& source);
ImageSource imageInView();
// What the decode-settings file wrote into the engine.
struct SymbologyState {
    uint32_t flags;
    uint32_t minLength;
    uint32_t maxLength;
    int writes;
};
SymbologyState symbology(int id);
std::vector<int32_t> globalSettings();  // the six decoder global settings
int32_t lightsMode();
bool engineConnected();
bool aimerOn();
std::vector<int32_t> decodeWindow();  // enable, left, top, right, bottom

// ------------------------------------------------------------------ port reads
// A hook run in the reading thread after every ReadFile on a COM port opened
// by this process, with the port's index and the bytes that read returned
// (0: nothing had arrived); the reader goes on only when it returns. Lets a
// test act at an exact read of a reader thread instead of guessing with
// sleeps. An empty function removes it; removing waits for a running call.
void setPortReadHook(std::function<void(int comIndex, uint32_t got)> hook);

// ------------------------------------------------------------------ card reader and power
// Swipes a card: the bytes arrive at the card reader on "COM1:".
bool swipeCard(const std::string& data);
int fiveVoltState();  // -1 never switched, 0 off, 1 on

// ------------------------------------------------------------------ processes
// Registers a host program that CreateProcessW starts for a device path.
void installProgram(const std::u16string& devicePath, const std::string& hostExecutable);

// ------------------------------------------------------------------ Bluetooth
// Remote devices in range of the terminal, by 48-bit address. A device put
// in range answers every service search with `serviceResponse` (the bytes of
// a service-attribute response: a sequence of records); a silent one is in
// range but answers with no records; any other address is out of range.
// `name` is the device's friendly name (UTF-8, up to 63 bytes). False when
// 16 other devices are already in range.
bool putRemoteDevice(uint64_t address, const std::string& serviceResponse, const std::string& name = "");
bool putSilentRemoteDevice(uint64_t address, const std::string& name = "");
void takeRemoteDeviceAway(uint64_t address);
struct RemoteDevice {
    uint64_t address;
    std::string name;
    bool answers;  // false: in range but its service discovery server is silent
    std::string serviceResponse;
};
std::vector<RemoteDevice> remoteDevices();
// The remote addresses asked by service searches so far, oldest first.
std::vector<uint64_t> serviceSearches();
// The device manager's COM0..COM9 entries. A test may pre-occupy an index
// with a device of another driver (false when the index is taken).
struct ComDevice {
    int index;
    bool bluetooth;    // registered with "btd.dll"
    uint64_t address;  // the remote device (0 for a local server port)
    int channel;
    bool local;
    unsigned portFlags;
};
bool occupyComIndex(int index);
std::vector<ComDevice> comDevices();
// The next `count` port registrations are refused.
void refuseDeviceRegistrations(int count);
// What a remote device has received over the serial link (the local server
// port's far end is address 0), and a wait of up to `realMilliseconds` for at
// least `bytes` bytes (returns what arrived).
std::string remoteReceived(uint64_t address);
std::string waitRemoteReceived(uint64_t address, size_t bytes, int realMilliseconds);
// Bytes the remote device sends: they arrive on the terminal's port.
bool sendFromRemote(uint64_t address, const std::string& bytes);

}  // namespace terminal
