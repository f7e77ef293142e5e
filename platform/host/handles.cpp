// The host terminal's handle table and the generic calls that dispatch
// through it (reads, writes, waits, closes, port and device controls).
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

// ---------------------------------------------------------------- handle table
namespace host {

namespace {
struct Table {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<Object>> objects;
    uintptr_t next = 0x100;
};
Table& table() {
    static Table* t = new Table;  // outlives detached threads at exit
    return *t;
}
}  // namespace

BOOL Object::read(void*, DWORD, DWORD* read) {
    if (read != nullptr) *read = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::write(const void*, DWORD, DWORD* written) {
    if (written != nullptr) *written = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
DWORD Object::seek(LONG, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
}
DWORD Object::wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
BOOL Object::setEvent(bool) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::ioControl(DWORD, void*, DWORD, void*, DWORD, DWORD* returned) {
    if (returned != nullptr) *returned = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::exitCode(DWORD*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::setCommMask(DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::waitCommEvent(DWORD*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::getCommTimeouts(COMMTIMEOUTS*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL Object::setCommTimeouts(const COMMTIMEOUTS*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

HANDLE add(std::shared_ptr<Object> object) {
    if (!object) return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> get(HANDLE handle) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return nullptr;
    return it->second;
}

BOOL remove(HANDLE handle) {
    std::shared_ptr<Object> object;
    {
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.mutex);
        auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == t.objects.end()) return FALSE;
        object = std::move(it->second);
        t.objects.erase(it);
    }
    object->removed.store(true, std::memory_order_release);
    object->close();
    return TRUE;
}

}  // namespace host

namespace {
std::shared_ptr<host::Object> lookup(HANDLE handle) {
    auto object = host::get(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}
}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read != nullptr) *read = 0;
    auto object = lookup(file);
    if (!object) return FALSE;
    if (buffer == nullptr && toRead > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD got = 0;
    BOOL ok = object->read(buffer, toRead, &got);
    host::heardFromOutside();
    if (read != nullptr) *read = got;
    return ok;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr) *written = 0;
    auto object = lookup(file);
    if (!object) return FALSE;
    if (buffer == nullptr && toWrite > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD put = 0;
    BOOL ok = object->write(buffer, toWrite, &put);
    if (written != nullptr) *written = put;
    return ok;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
    auto object = lookup(file);
    if (!object) return INVALID_SET_FILE_POINTER;
    if (distanceHigh != nullptr) *distanceHigh = 0;
    return object->seek(distance, moveMethod);
}

namespace {
// The objects this thread last looked at without waiting, by handle value:
// the next look (the event watch makes three a millisecond) needs neither
// the table's lock nor a reference of its own. Handle values are never
// handed out twice, so an entry stands until its handle is removed; it keeps
// only objects that hold nothing past their close.
struct RecentLook {
    uintptr_t value = 0;
    std::shared_ptr<host::Object> object;
};
constexpr int kRecentLooks = 4;
thread_local RecentLook recentLooks[kRecentLooks];
thread_local int nextRecentLook = 0;
}  // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (milliseconds == 0) {
        for (const RecentLook& r : recentLooks)
            if (r.value == value && r.object && !r.object->removed.load(std::memory_order_acquire)) {
                DWORD result = r.object->wait(0);
                host::heardFromOutside();
                return result;
            }
    }
    auto object = lookup(handle);
    if (!object) return WAIT_FAILED;
    if (milliseconds == 0 && object->keptAfterClose()) {
        RecentLook& r = recentLooks[nextRecentLook];
        nextRecentLook = (nextRecentLook + 1) % kRecentLooks;
        r.value = value;
        r.object = object;
    }
    DWORD result = object->wait(milliseconds);
    host::heardFromOutside();
    return result;
}

BOOL CloseHandle(HANDLE handle) {
    if (!host::remove(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    auto object = lookup(file);
    return object ? object->setCommMask(eventMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED) {
    auto object = lookup(file);
    if (!object) return FALSE;
    DWORD mask = 0;
    BOOL ok = object->waitCommEvent(&mask);
    host::heardFromOutside();
    if (eventMask != nullptr) *eventMask = mask;
    return ok;
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto object = lookup(file);
    if (!object) return FALSE;
    if (timeouts == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->getCommTimeouts(timeouts);
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto object = lookup(file);
    if (!object) return FALSE;
    if (timeouts == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->setCommTimeouts(timeouts);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf, DWORD outBufSize,
                     LPDWORD bytesReturned, LPOVERLAPPED) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    auto object = lookup(device);
    if (!object) return FALSE;
    DWORD returned = 0;
    BOOL ok = object->ioControl(ioControlCode, inBuf, inBufSize, outBuf, outBufSize, &returned);
    host::heardFromOutside();
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok;
}
