// Kernel objects of the host terminal behind HANDLE values: files, ports,
// events, threads, processes, device searches. Each facility derives its own
// object and registers it; the generic calls (ReadFile, WriteFile,
// WaitForSingleObject, CloseHandle, ...) dispatch through this table.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/host/host_api.h"

namespace host {

class Object {
public:
    virtual ~Object() = default;
    // Each returns FALSE with SetLastError when the object does not support the call.
    virtual BOOL read(void* buffer, DWORD toRead, DWORD* read);
    virtual BOOL write(const void* buffer, DWORD toWrite, DWORD* written);
    virtual DWORD seek(LONG distance, DWORD method);
    // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED; timeout in terminal milliseconds.
    virtual DWORD wait(DWORD milliseconds);
    virtual BOOL setEvent(bool signalled);
    virtual BOOL ioControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    // Serial port calls.
    virtual BOOL setCommMask(DWORD mask);
    virtual BOOL waitCommEvent(DWORD* mask);
    virtual BOOL getCommTimeouts(COMMTIMEOUTS* timeouts);
    virtual BOOL setCommTimeouts(const COMMTIMEOUTS* timeouts);
    // Threads and processes: the exit code, or STILL_ACTIVE while running.
    virtual BOOL exitCode(DWORD* code);
    // Called once when the last handle is closed; must wake any thread waiting on it.
    virtual void close() {}
    // Whether the object may outlive its handle for a while (it holds no
    // resource past close()): then a thread may keep it for its next look.
    virtual bool keptAfterClose() const { return false; }

    // Set when its handle is removed, before close().
    std::atomic<bool> removed{false};
};

HANDLE add(std::shared_ptr<Object> object);
std::shared_ptr<Object> get(HANDLE handle);
// Removes the handle and closes the object; FALSE for an unknown handle.
BOOL remove(HANDLE handle);

// Hooks between host facilities (each implemented by the facility named).
// ports.cpp: opens "COMn:" (n 0..9); null with SetLastError on failure.
std::shared_ptr<host::Object> openPort(int index, DWORD access);
// bluetooth.cpp: the host path behind a registered Bluetooth virtual port, or "".
std::string bluetoothPortPath(int index);
// keyboard.cpp: a key pressed on the keypad, recorded down; false when it is
// no key or there is no keyboard. `modifiers` are the modifier keys the user holds.
bool userKeyDown(int virtualKey, unsigned& modifiers);
// keyboard.cpp: the pressed key typed into the focused field, as the keypad types it.
void typeUserKey(int virtualKey);
// keypad.cpp: the character a virtual key types on the keypad family, with
// or without Shift (0: none).
char16_t keypadCharacter(int family, bool shift, int virtualKey);
// keypad.cpp: the keypad family terminal.conf's "keypad" names (0 the
// default keypad; without the key, the model's).
int keypadFamily();
// keyboard.cpp: the focused application's window handle (0 = no focus).
HWND focusWindow();
// keyboard.cpp: the focused application's window class ("" = no focus).
std::u16string focusWindowClass();
// keyboard.cpp: a message posted to the focused application's window.
void focusWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
// core: terminal milliseconds now; real milliseconds for terminal ones.
uint64_t terminalNow();
// INFINITE gives -1 (no limit).
int64_t realMilliseconds(DWORD terminalMilliseconds);
// kernelio.cpp: switches the terminal's 5-volt output (records the state and a
// line "5V on" / "5V off" in <root>/.terminal/log/power.log).
void setFiveVolt(bool on);
}  // namespace host
