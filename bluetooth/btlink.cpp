// The Bluetooth virtual COM port: the device manager's COM indexes, the
// remote device's serial port channel and the port registration with the
// stack's port-emulation driver.
#include "bluetooth/btlink.h"

#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kComIndexes = 10;
constexpr DWORD kResultBufferBytes = 5000;
constexpr int kLocalServerChannel = 254;

bool isBlank(WCHAR c) {
    return c == TEXT(' ') || c == TEXT('\t');
}

int hexValue(WCHAR c) {
    if (c >= TEXT('0') && c <= TEXT('9')) return c - TEXT('0');
    if (c >= TEXT('A') && c <= TEXT('F')) return c - TEXT('A') + 10;
    if (c >= TEXT('a') && c <= TEXT('f')) return c - TEXT('a') + 10;
    return -1;
}

// Looks a COM device up by the name `format` gives `index` ("COM%d" for the
// device name, "COM%d:" for the legacy name); fills `info` when found.
bool findComDevice(DeviceSearchType type, const WCHAR* format, int index, DEVMGR_DEVICE_INFORMATION& info) {
    WCHAR name[16];
    textFormat(name, 16, format, index);
    std::memset(&info, 0, sizeof info);
    info.dwSize = sizeof info;
    HANDLE search = FindFirstDevice(type, name, &info);
    if (search == INVALID_HANDLE_VALUE || search == nullptr) return false;
    FindClose(search);
    return true;
}

unsigned portFlagsFor(int portType) {
    switch (portType) {
        case 0:
            return 2;
        case 1:
            return 10;
        case 2:
            return 6;
        case 3:
            return 14;
        default:
            return 0;
    }
}

}  // namespace

int isComIndexFree(int index) {
    DEVMGR_DEVICE_INFORMATION info;
    return findComDevice(DeviceSearchByDeviceName, TEXT("COM%d"), index, info) ? 0 : 1;
}

int findFreeComIndex() {
    for (int index = 0; index < kComIndexes; ++index)
        if (isComIndexFree(index)) return index;
    return -1;
}

int removeComDevice(int index) {
    if (index < 0 || index >= kComIndexes) return 0;
    DEVMGR_DEVICE_INFORMATION info;
    if (!findComDevice(DeviceSearchByLegacyName, TEXT("COM%d:"), index, info)) return 0;
    return DeactivateDevice(info.hDevice) ? 1 : 0;
}

int parseBluetoothAddress(const WCHAR* text, uint64_t* address) {
    if (text == nullptr || address == nullptr) return 0;
    size_t i = 0;
    while (isBlank(text[i])) ++i;
    uint64_t value = 0;
    int digits = 0;
    for (; hexValue(text[i]) >= 0; ++i) {
        if (++digits > 12) return 0;
        value = (value << 4) | static_cast<uint64_t>(hexValue(text[i]));
    }
    if (digits != 12) return 0;
    if (text[i] != 0 && !isBlank(text[i])) return 0;
    *address = value;
    return 1;
}

int discoverRfcommChannel(uint64_t address) {
    SOCKADDR_BTH remote;
    std::memset(&remote, 0, sizeof remote);
    remote.addressFamily = AF_BTH;
    remote.btAddr = address;
    CSADDR_INFO where;
    std::memset(&where, 0, sizeof where);
    where.RemoteAddr.lpSockaddr = reinterpret_cast<LPSOCKADDR>(&remote);
    where.RemoteAddr.iSockaddrLength = sizeof remote;

    BTHNS_RESTRICTIONBLOB restriction;
    std::memset(&restriction, 0, sizeof restriction);
    restriction.type = SDP_SERVICE_SEARCH_ATTRIBUTE_REQUEST;
    restriction.uuids[0].uuidType = SDP_ST_UUID16;
    restriction.uuids[0].u.uuid16 = 0x1101;
    restriction.numRange = 1;
    restriction.pRange[0].minAttribute = 0x0004;
    restriction.pRange[0].maxAttribute = 0x0004;
    BLOB blob;
    blob.cbSize = sizeof restriction;
    blob.pBlobData = reinterpret_cast<BYTE*>(&restriction);

    WSAQUERYSETW query;
    std::memset(&query, 0, sizeof query);
    query.dwSize = sizeof query;
    query.dwNameSpace = NS_BTH;
    query.dwNumberOfCsAddrs = 1;
    query.lpcsaBuffer = &where;
    query.lpBlob = &blob;

    HANDLE lookup = nullptr;
    if (WSALookupServiceBeginW(&query, 0, &lookup) == SOCKET_ERROR) return -1;

    int channel = -1;
    alignas(8) unsigned char buffer[kResultBufferBytes];
    std::memset(buffer, 0, sizeof buffer);
    WSAQUERYSETW* results = reinterpret_cast<WSAQUERYSETW*>(buffer);
    DWORD length = kResultBufferBytes;
    if (WSALookupServiceNextW(lookup, LUP_RETURN_BLOB, &length, results) != SOCKET_ERROR) {
        const BLOB* answer = results->lpBlob;
        if (answer != nullptr && answer->pBlobData != nullptr && answer->cbSize > 0) {
            // The answer lies inside the result buffer; never read past it.
            const unsigned char* data = answer->pBlobData;
            size_t limit = 0;
            if (data >= buffer && data < buffer + sizeof buffer)
                limit = static_cast<size_t>(buffer + sizeof buffer - data);
            size_t size = answer->cbSize < limit ? answer->cbSize : limit;
            channel = findRfcommChannel(data, size);
        }
    }
    WSALookupServiceEnd(lookup);
    return channel;
}

int createBluetoothPort(const WCHAR* addressText, int comIndex, int channel, int portType) {
    if (comIndex < 0 || comIndex >= kComIndexes) return BtPortBadIndex;
    PORTEMUPortParams params;
    std::memset(&params, 0, sizeof params);

    if (addressText == nullptr || textLength(addressText, 2) < 2) {
        params.channel = kLocalServerChannel;
        params.flocal = 1;
    } else {
        WCHAR digits[13];
        int count = 0;
        for (size_t i = 0; addressText[i] != 0; ++i) {
            if (hexValue(addressText[i]) < 0) continue;
            if (count < 12) digits[count] = addressText[i];
            ++count;
        }
        if (count != 12) return BtPortBadAddress;
        digits[12] = 0;
        uint64_t address = 0;
        parseBluetoothAddress(digits, &address);
        params.device = address;

        if (channel > 0) {
            params.channel = channel & 0xFF;
        } else {
            if (!isComIndexFree(comIndex)) removeComDevice(comIndex);
            WSADATA wsa;
            bool started = WSAStartup(MAKEWORD(1, 0), &wsa) == 0;
            int found = discoverRfcommChannel(address);
            if (found == -1) {
                MessageBoxW(GetForegroundWindow(), TEXT("Failed to find serial port service on the remote device."),
                            TEXT("Keyvane"), MB_OK);
                if (started) WSACleanup();
                return BtPortNoService;
            }
            params.channel = found & 0xFF;
            if (started) WSACleanup();
        }
    }

    params.uiportflags = portFlagsFor(portType);
    HANDLE device = RegisterDevice(TEXT("COM"), static_cast<DWORD>(comIndex), TEXT("btd.dll"),
                                   reinterpret_cast<DWORD_PTR>(&params));
    if (device == nullptr || device == INVALID_HANDLE_VALUE) return BtPortRefused;
    CloseHandle(device);
    return BtPortCreated;
}
