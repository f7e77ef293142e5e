// The shared record of windows, thread message queues, hot keys and tray
// icons (windows.cpp, hotkeys.cpp, tray.cpp, menus.cpp): a second process
// finds the running program's window in it, posts to it and registers hot
// keys for it. Private to those files.
#pragma once

#include <cstdint>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/shared.h"

namespace host {

constexpr int kMaxWindows = 64;
constexpr int kMaxQueues = 32;
constexpr int kQueueMessages = 256;
constexpr int kMaxHotKeys = 2048;
constexpr int kMaxTray = 16;
constexpr int kMenuScript = 64;
constexpr int kNameChars = 100;
constexpr uint32_t kFirstHandle = 0x00A10000;
constexpr int32_t kShellPid = 0;

// Every slot names its process by id and start time (ProcessIdentity): an id
// alone may be a later process's that reuses it.
struct SharedWindow {
    uint32_t handle;  // 0 = free slot
    int32_t pid;
    uint32_t thread;
    uint32_t reserved;
    uint64_t started;
    char16_t title[kNameChars];
    char16_t windowClass[kNameChars];
};

struct SharedMessage {
    uint32_t window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
};

struct SharedQueue {
    int32_t pid;  // 0 = free slot
    uint32_t thread;
    uint64_t started;
    uint32_t head;
    uint32_t count;
    int32_t quit;
    int32_t quitCode;
    int32_t waiting;  // threads blocked in GetMessageW on this queue
};

struct SharedHotKey {
    int32_t used;
    uint32_t window;  // 0 = the registering thread's queue
    int32_t pid;      // kShellPid for the shell's own keys
    uint32_t thread;
    int32_t id;
    uint32_t modifiers;
    uint32_t virtualKey;
    uint64_t started;
};

struct SharedTrayIcon {
    uint32_t window;  // 0 = free slot
    uint32_t id;
    uint32_t callback;
    int32_t pid;
    uint64_t started;
};

struct WindowsState {
    SharedHeader header;
    uint32_t seeded;
    uint32_t nextHandle;
    SharedWindow windows[kMaxWindows];
    SharedQueue queues[kMaxQueues];
    SharedHotKey hotKeys[kMaxHotKeys];
    SharedTrayIcon tray[kMaxTray];
    uint32_t menuScript[kMenuScript];
    uint32_t menuHead;
    uint32_t menuCount;
    uint32_t reserved;
    // Each queue's messages, apart from the queues: looking for a queue
    // touches the queues alone, and a process keeps resident only the rings
    // it uses.
    SharedMessage rings[kMaxQueues][kQueueMessages];
};

inline SharedMessage* ringOf(WindowsState* s, const SharedQueue* q) {
    return s->rings[q - s->queues];
}

inline uint32_t handleOf(HWND window) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}
inline HWND windowOf(uint32_t handle) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
}
uint32_t currentThread();

// The record, seeded with the shell's keys the first time; null when it
// cannot be had.
WindowsState* windowsState();

// Whether the process a slot names still runs (the shell's keys are no process's).
bool ownerRuns(int32_t pid, uint64_t started);
template <class Slot>
bool ownerRuns(const Slot& slot) {
    return ownerRuns(slot.pid, slot.started);
}
template <class Slot>
bool ownedBy(const Slot& slot, const ProcessIdentity& process) {
    return slot.pid == process.pid && slot.started == process.started;
}

// Slots stored and freed so that a process dying on the way leaves a free
// slot, never a half-written one (lock held).
void storeHotKey(SharedHotKey* slot, const SharedHotKey& key);
void clearHotKey(SharedHotKey* h);
void clearWindow(SharedWindow* w);
void clearTrayIcon(SharedTrayIcon* t);
void clearQueue(SharedQueue* q);
// Drops what processes that ended left behind (lock held).
void purgeEnded(WindowsState* s);

SharedWindow* findWindow(WindowsState* s, uint32_t handle);
SharedQueue* findQueue(WindowsState* s, const ProcessIdentity& process, uint32_t thread, bool create);
// Queues a message for a thread and wakes the record's waiters (lock held).
bool enqueue(WindowsState* s, const ProcessIdentity& process, uint32_t thread, const SharedMessage& m);

// Names of windows and classes, at most kNameChars - 1 characters.
size_t boundedLength(const char16_t* text, size_t limit);
void copyName(char16_t* dest, const char16_t* source);
bool sameName(const char16_t* a, const char16_t* b);

// The window procedure of one of this process's windows (windows.cpp); null
// for another process's.
WNDPROC procedureOf(uint32_t handle);

}  // namespace host
