// The host terminal's Bluetooth stack and device manager.
//
// Device manager: the terminal's COM0..COM9 device entries live in shared
// memory, so every attached process sees the same devices. An entry is made
// by RegisterDevice (a Bluetooth virtual port served by "btd.dll", bound to
// a remote device and an RFCOMM channel) or pre-occupied by a test
// (terminal::occupyComIndex); DeactivateDevice frees the index.
//
// Remote devices: the terminal keeps the remote devices in range with the
// bytes their service discovery server answers to a service-attribute
// search (or no answer at all). A device not listed is out of range.
//
// The link: opening "COMn:" of a registered Bluetooth port opens a
// pseudo-terminal made by the opening process (host::
// bluetoothPortPath). A relay thread of that process holds the master side:
// everything written to the port arrives at the remote device and is logged
// in <root>/.terminal/log/bluetooth-<address>.in (address as 12 upper-case
// hex digits; a local server port logs under 000000000000); whatever a test
// sends from the remote device (terminal::sendFromRemote) is read on the
// port. The relay lives as long as its process, across closes and reopens of
// the port, so the port behaves like a serial port whose far end is always
// there; a new registration at the index gives the next open a new relay.
// At process exit the relays deliver what is still in flight
// (bluetooth_link.cpp).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/bluetooth_link.h"
#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

constexpr int kComIndexes = 10;
constexpr int kRemotes = 16;
constexpr size_t kResponseBytes = 8192;
constexpr size_t kRemoteNameBytes = 64;
constexpr int kSearchLog = 256;
constexpr DWORD kErrorNoMoreItems = 259;
constexpr DWORD kErrorDeviceInUse = 2404;

enum DeviceKind : int32_t { DeviceFree = 0, DeviceOccupied = 1, DeviceBluetooth = 2 };

struct DeviceSlot {
    int32_t kind;
    uint32_t generation;
    int32_t channel;
    int32_t local;
    uint32_t portFlags;
    uint32_t reserved;
    uint64_t address;
};

struct RemoteSlot {
    int32_t used;
    int32_t answers;
    uint64_t address;
    uint32_t responseLength;
    char name[kRemoteNameBytes];  // the device's friendly name, UTF-8, zero-terminated
    unsigned char response[kResponseBytes];
};

struct BluetoothState {
    host::SharedHeader header;
    uint32_t generation;
    int32_t refuseRegistrations;
    uint64_t searchCount;
    uint64_t searches[kSearchLog];
    DeviceSlot devices[kComIndexes];
    RemoteSlot remotes[kRemotes];
};

BluetoothState* state() {
    return host::map<BluetoothState>("bluetooth");
}

// ---------------------------------------------------------------- names
// "COM%d" (or "COM%d:" when `legacy`) with an index 0..9; -1 otherwise.
int comIndexOf(const WCHAR* name, bool legacy) {
    if (name == nullptr) return -1;
    auto upper = [](WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; };
    if (upper(name[0]) != u'C' || upper(name[1]) != u'O' || upper(name[2]) != u'M') return -1;
    if (name[3] < u'0' || name[3] > u'9') return -1;
    int index = name[3] - u'0';
    size_t end = 4;
    if (legacy) {
        if (name[4] != u':') return -1;
        end = 5;
    }
    return name[end] == 0 ? index : -1;
}

bool equalsNoCase(const WCHAR* text, const char* ascii) {
    if (text == nullptr) return false;
    size_t i = 0;
    for (; ascii[i] != 0; ++i) {
        WCHAR c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<WCHAR>(c + 32);
        char a = ascii[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (c != static_cast<WCHAR>(static_cast<unsigned char>(a))) return false;
    }
    return text[i] == 0;
}

void putText(WCHAR* dest, size_t capacity, const std::string& text) {
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    for (size_t i = 0; i < n; ++i) dest[i] = static_cast<unsigned char>(text[i]);
    dest[n] = 0;
}

std::string addressHex(uint64_t address) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(12, '0');
    for (int i = 11; i >= 0; --i) {
        text[static_cast<size_t>(i)] = digits[address & 0xF];
        address >>= 4;
    }
    return text;
}

std::string logDirectory() {
    std::string dir = terminal::root() + "/.terminal/log";
    mkdir((terminal::root() + "/.terminal").c_str(), 0700);
    mkdir(dir.c_str(), 0700);
    return dir;
}
}  // namespace

std::string host::bluetoothInboxPath(uint64_t address) {
    return logDirectory() + "/bluetooth-" + addressHex(address) + ".in";
}
std::string host::bluetoothOutboxPath(uint64_t address) {
    return logDirectory() + "/bluetooth-" + addressHex(address) + ".out";
}

bool host::appendToFile(const std::string& path, const void* data, size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return done == size;
}

namespace {

std::string readWholeFile(const std::string& path) {
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

// ---------------------------------------------------------------- device handles
// A device's handle names its index and the registration it belongs to, so a
// handle kept after the device went away no longer deactivates its successor.
constexpr uintptr_t kDeviceHandleTag = 0x5D000000u;
HANDLE deviceHandle(int index, uint32_t generation) {
    return reinterpret_cast<HANDLE>(kDeviceHandleTag | (static_cast<uintptr_t>(generation & 0xFFFFF) << 4) |
                                    static_cast<uintptr_t>(index));
}

class DeviceSearch : public host::Object {};
class RegisteredDevice : public host::Object {};

// ---------------------------------------------------------------- name-space lookups
class ServiceLookup : public host::Object {
public:
    bool answers = false;
    bool delivered = false;
    std::vector<unsigned char> response;
};

std::atomic<int> socketLayerStarts{0};

void setWsaError(int error) {
    SetLastError(static_cast<DWORD>(error));
}

RemoteSlot* findRemote(BluetoothState* s, uint64_t address) {
    for (RemoteSlot& r : s->remotes)
        if (r.used && r.address == address) return &r;
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- device manager
HANDLE FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info) {
    host::NewsOnReturn news;
    if (info == nullptr || info->dwSize < sizeof(DEVMGR_DEVICE_INFORMATION) || searchParam == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (searchType != DeviceSearchByDeviceName && searchType != DeviceSearchByLegacyName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    int index = comIndexOf(static_cast<const WCHAR*>(searchParam), searchType == DeviceSearchByLegacyName);
    BluetoothState* s = state();
    if (index < 0 || s == nullptr) {
        SetLastError(kErrorNoMoreItems);
        return INVALID_HANDLE_VALUE;
    }
    DeviceSlot slot;
    {
        host::Lock lock(&s->header);
        slot = s->devices[index];
    }
    if (slot.kind == DeviceFree) {
        SetLastError(kErrorNoMoreItems);
        return INVALID_HANDLE_VALUE;
    }
    DWORD size = info->dwSize;
    std::memset(info, 0, sizeof(DEVMGR_DEVICE_INFORMATION));
    info->dwSize = size;
    info->hDevice = deviceHandle(index, slot.generation);
    info->hParentDevice = nullptr;
    std::string number(1, static_cast<char>('0' + index));
    putText(info->szLegacyName, 6, "COM" + number + ":");
    putText(info->szDeviceName, 260, "COM" + number);
    putText(
        info->szDeviceKey, 260,
        slot.kind == DeviceBluetooth ? "Drivers\\Active\\BluetoothPort" + number : "Drivers\\BuiltIn\\Serial" + number);
    putText(info->szBusName, 260, "");
    return host::add(std::make_shared<DeviceSearch>());
}

BOOL FindClose(HANDLE search) {
    if (!std::dynamic_pointer_cast<DeviceSearch>(host::get(search))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return host::remove(search);
}

BOOL DeactivateDevice(HANDLE device) {
    uintptr_t value = reinterpret_cast<uintptr_t>(device);
    BluetoothState* s = state();
    if ((value & ~uintptr_t{0xFFFFFF}) != kDeviceHandleTag || s == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int index = static_cast<int>(value & 0xF);
    uint32_t generation = static_cast<uint32_t>((value >> 4) & 0xFFFFF);
    host::Lock lock(&s->header);
    if (index >= kComIndexes || s->devices[index].kind == DeviceFree ||
        (s->devices[index].generation & 0xFFFFF) != generation) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::memset(&s->devices[index], 0, sizeof(DeviceSlot));
    host::notifyAll(&s->header);
    return TRUE;
}

HANDLE RegisterDevice(LPCWSTR type, DWORD index, LPCWSTR library, DWORD_PTR info) {
    host::NewsOnReturn news;
    if (!equalsNoCase(type, "COM") || index >= static_cast<DWORD>(kComIndexes) || !equalsNoCase(library, "btd.dll") ||
        info == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PORTEMUPortParams params;
    std::memcpy(&params, reinterpret_cast<const void*>(info), sizeof params);
    BluetoothState* s = state();
    if (s == nullptr) {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    {
        host::Lock lock(&s->header);
        if (s->refuseRegistrations > 0) {
            --s->refuseRegistrations;
            SetLastError(ERROR_GEN_FAILURE);
            return nullptr;
        }
        DeviceSlot& slot = s->devices[index];
        if (slot.kind != DeviceFree) {
            SetLastError(kErrorDeviceInUse);
            return nullptr;
        }
        slot.kind = DeviceBluetooth;
        slot.generation = ++s->generation;
        slot.channel = params.channel;
        slot.local = params.flocal;
        slot.portFlags = params.uiportflags;
        slot.address = params.flocal ? 0 : params.device;
        host::notifyAll(&s->header);
    }
    return host::add(std::make_shared<RegisteredDevice>());
}

// ---------------------------------------------------------------- Winsock
int WSAStartup(WORD versionRequested, LPWSADATA data) {
    if (data == nullptr) return WSAEFAULT;
    BYTE major = versionRequested & 0xFF;
    BYTE minor = (versionRequested >> 8) & 0xFF;
    if (major < 1 || major > 2 || (major == 2 && minor > 2)) return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    data->wVersion = versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strncpy(data->szDescription, "Keyvane host terminal sockets", WSADESCRIPTION_LEN);
    std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
    socketLayerStarts.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int current = socketLayerStarts.load();
    while (current > 0 && !socketLayerStarts.compare_exchange_weak(current, current - 1)) {
    }
    if (current <= 0) {
        setWsaError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}
void WSASetLastError(int error) {
    setWsaError(error);
}

INT WSALookupServiceBeginW(LPWSAQUERYSETW restrictions, DWORD controlFlags, HANDLE* lookup) {
    if (socketLayerStarts.load() <= 0) {
        setWsaError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (restrictions == nullptr || lookup == nullptr || restrictions->dwNameSpace != NS_BTH ||
        restrictions->dwNumberOfCsAddrs < 1 || restrictions->lpcsaBuffer == nullptr ||
        restrictions->lpcsaBuffer->RemoteAddr.lpSockaddr == nullptr ||
        restrictions->lpcsaBuffer->RemoteAddr.iSockaddrLength < static_cast<INT>(sizeof(SOCKADDR_BTH)) ||
        restrictions->lpBlob == nullptr || restrictions->lpBlob->pBlobData == nullptr ||
        restrictions->lpBlob->cbSize < sizeof(BTHNS_RESTRICTIONBLOB)) {
        setWsaError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    SOCKADDR_BTH remote;
    std::memcpy(&remote, restrictions->lpcsaBuffer->RemoteAddr.lpSockaddr, sizeof remote);
    BTHNS_RESTRICTIONBLOB restriction;
    std::memcpy(&restriction, restrictions->lpBlob->pBlobData, sizeof restriction);
    if (remote.addressFamily != AF_BTH || restriction.type < SDP_SERVICE_SEARCH_REQUEST ||
        restriction.type > SDP_SERVICE_SEARCH_ATTRIBUTE_REQUEST) {
        setWsaError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    BluetoothState* s = state();
    if (s == nullptr) {
        setWsaError(WSAHOST_NOT_FOUND);
        return SOCKET_ERROR;
    }
    auto result = std::make_shared<ServiceLookup>();
    {
        host::Lock lock(&s->header);
        s->searches[s->searchCount % kSearchLog] = remote.btAddr;
        ++s->searchCount;
        host::notifyAll(&s->header);
        RemoteSlot* r = findRemote(s, remote.btAddr);
        if (r == nullptr) {
            setWsaError(WSAHOST_NOT_FOUND);
            return SOCKET_ERROR;
        }
        result->answers = r->answers != 0;
        uint32_t n = r->responseLength < kResponseBytes ? r->responseLength : kResponseBytes;
        result->response.assign(r->response, r->response + n);
    }
    *lookup = host::add(result);
    return 0;
}

INT WSALookupServiceNextW(HANDLE lookup, DWORD controlFlags, LPDWORD bufferLength, LPWSAQUERYSETW results) {
    auto search = std::dynamic_pointer_cast<ServiceLookup>(host::get(lookup));
    if (!search || bufferLength == nullptr) {
        setWsaError(search ? WSAEFAULT : static_cast<int>(ERROR_INVALID_HANDLE));
        return SOCKET_ERROR;
    }
    if (!search->answers || search->delivered) {
        setWsaError(WSA_E_NO_MORE);
        return SOCKET_ERROR;
    }
    bool withBlob = (controlFlags & LUP_RETURN_BLOB) != 0;
    size_t blobOffset = (sizeof(WSAQUERYSETW) + 7) & ~size_t{7};
    size_t dataOffset = blobOffset + sizeof(BLOB);
    size_t needed = withBlob ? dataOffset + search->response.size() : sizeof(WSAQUERYSETW);
    if (results == nullptr || *bufferLength < needed) {
        *bufferLength = static_cast<DWORD>(needed);
        setWsaError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    unsigned char* base = reinterpret_cast<unsigned char*>(results);
    std::memset(base, 0, needed);
    results->dwSize = sizeof(WSAQUERYSETW);
    results->dwNameSpace = NS_BTH;
    if (withBlob) {
        BLOB* blob = reinterpret_cast<BLOB*>(base + blobOffset);
        blob->cbSize = static_cast<ULONG>(search->response.size());
        blob->pBlobData = base + dataOffset;
        if (!search->response.empty()) std::memcpy(base + dataOffset, search->response.data(), search->response.size());
        results->lpBlob = blob;
    }
    search->delivered = true;
    return 0;
}

INT WSALookupServiceEnd(HANDLE lookup) {
    if (!std::dynamic_pointer_cast<ServiceLookup>(host::get(lookup))) {
        setWsaError(static_cast<int>(ERROR_INVALID_HANDLE));
        return SOCKET_ERROR;
    }
    host::remove(lookup);
    return 0;
}

// ---------------------------------------------------------------- the port's far end
namespace host {

std::string bluetoothPortPath(int index) {
    if (index < 0 || index >= kComIndexes) return "";
    BluetoothState* s = state();
    if (s == nullptr) return "";
    DeviceSlot slot;
    {
        host::Lock lock(&s->header);
        slot = s->devices[index];
    }
    return bluetoothLink(index, slot.kind == DeviceBluetooth, slot.generation, slot.address);
}

}  // namespace host

// ---------------------------------------------------------------- terminal control
namespace terminal {

namespace {

bool placeRemote(uint64_t address, bool answers, const std::string& serviceResponse, const std::string& name) {
    BluetoothState* s = state();
    if (s == nullptr) return false;
    host::Lock lock(&s->header);
    RemoteSlot* r = findRemote(s, address);
    for (int i = 0; r == nullptr && i < kRemotes; ++i)
        if (!s->remotes[i].used) r = &s->remotes[i];
    if (r == nullptr) return false;
    r->used = 1;
    r->answers = answers ? 1 : 0;
    r->address = address;
    r->responseLength =
        static_cast<uint32_t>(serviceResponse.size() < kResponseBytes ? serviceResponse.size() : kResponseBytes);
    std::memcpy(r->response, serviceResponse.data(), r->responseLength);
    size_t n = name.size() < kRemoteNameBytes - 1 ? name.size() : kRemoteNameBytes - 1;
    std::memcpy(r->name, name.data(), n);
    r->name[n] = 0;
    host::notifyAll(&s->header);
    return true;
}

}  // namespace

bool putRemoteDevice(uint64_t address, const std::string& serviceResponse, const std::string& name) {
    return placeRemote(address, true, serviceResponse, name);
}

bool putSilentRemoteDevice(uint64_t address, const std::string& name) {
    return placeRemote(address, false, "", name);
}

std::vector<RemoteDevice> remoteDevices() {
    std::vector<RemoteDevice> out;
    BluetoothState* s = state();
    if (s == nullptr) return out;
    host::Lock lock(&s->header);
    for (const RemoteSlot& r : s->remotes) {
        if (!r.used) continue;
        uint32_t n = r.responseLength < kResponseBytes ? r.responseLength : kResponseBytes;
        out.push_back(RemoteDevice{r.address, std::string(r.name, strnlen(r.name, kRemoteNameBytes)), r.answers != 0,
                                   std::string(reinterpret_cast<const char*>(r.response), n)});
    }
    return out;
}

void takeRemoteDeviceAway(uint64_t address) {
    BluetoothState* s = state();
    if (s == nullptr) return;
    host::Lock lock(&s->header);
    if (RemoteSlot* r = findRemote(s, address)) std::memset(r, 0, sizeof *r);
    host::notifyAll(&s->header);
}

std::vector<uint64_t> serviceSearches() {
    std::vector<uint64_t> out;
    BluetoothState* s = state();
    if (s == nullptr) return out;
    host::Lock lock(&s->header);
    uint64_t first = s->searchCount > kSearchLog ? s->searchCount - kSearchLog : 0;
    for (uint64_t i = first; i < s->searchCount; ++i) out.push_back(s->searches[i % kSearchLog]);
    return out;
}

bool occupyComIndex(int index) {
    BluetoothState* s = state();
    if (s == nullptr || index < 0 || index >= kComIndexes) return false;
    host::Lock lock(&s->header);
    if (s->devices[index].kind != DeviceFree) return false;
    s->devices[index].kind = DeviceOccupied;
    s->devices[index].generation = ++s->generation;
    host::notifyAll(&s->header);
    return true;
}

std::vector<ComDevice> comDevices() {
    std::vector<ComDevice> out;
    BluetoothState* s = state();
    if (s == nullptr) return out;
    host::Lock lock(&s->header);
    for (int i = 0; i < kComIndexes; ++i) {
        const DeviceSlot& d = s->devices[i];
        if (d.kind == DeviceFree) continue;
        out.push_back(ComDevice{i, d.kind == DeviceBluetooth, d.address, d.channel, d.local != 0, d.portFlags});
    }
    return out;
}

void refuseDeviceRegistrations(int count) {
    BluetoothState* s = state();
    if (s == nullptr) return;
    host::Lock lock(&s->header);
    s->refuseRegistrations = count;
}

std::string remoteReceived(uint64_t address) {
    return readWholeFile(host::bluetoothInboxPath(address));
}

std::string waitRemoteReceived(uint64_t address, size_t bytes, int realMilliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMilliseconds);
    for (;;) {
        std::string got = remoteReceived(address);
        if (got.size() >= bytes || std::chrono::steady_clock::now() >= deadline) return got;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool sendFromRemote(uint64_t address, const std::string& bytes) {
    return host::appendToFile(host::bluetoothOutboxPath(address), bytes.data(), bytes.size());
}

}  // namespace terminal
