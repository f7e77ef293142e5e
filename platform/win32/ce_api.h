// Windows build: the platform's headers, and declarations of the Windows CE
// calls that desktop headers lack. They are bound at run time from the core
// library where it exists (platform/win32/).
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>
#include <ws2bth.h>
#include <mmsystem.h>
#include <shellapi.h>

#define IOCTL_HAL_GET_DEVICE_MODEL 0x01012404u
#define IOCTL_5V_OUTPUT_ON 0x001B20F8u
#define IOCTL_5V_OUTPUT_OFF 0x001B20FCu
#define ERROR_5V_ALREADY_SET 0x20000001u
#define KeyStateDownFlag 0x0080u
#ifndef KEYEVENTF_SILENT
#define KEYEVENTF_SILENT 0x0004u
#endif

#define NLED_SETTINGS_INFO_ID 2
struct NLED_SETTINGS_INFO {
    UINT LedNum;
    INT OffOnBlink;
    LONG TotalCycleTime;
    LONG OnTime;
    LONG OffTime;
    INT MetaCycleOn;
    INT MetaCycleOff;
};

struct DEVMGR_DEVICE_INFORMATION {
    DWORD dwSize;
    HANDLE hDevice;
    HANDLE hParentDevice;
    WCHAR szLegacyName[6];
    WCHAR szDeviceKey[260];
    WCHAR szDeviceName[260];
    WCHAR szBusName[260];
};
enum DeviceSearchType { DeviceSearchByLegacyName, DeviceSearchByDeviceName, DeviceSearchByBusName, DeviceSearchByGuid,
                        DeviceSearchByParent };

BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf, DWORD outBufSize,
                     LPDWORD bytesReturned);
BOOL PostKeybdMessage(HWND window, UINT virtualKey, UINT keyStateFlags, UINT characterCount, UINT* shiftStateBuffer,
                      UINT* characterBuffer);
HWND GetForegroundKeyboardTarget();
BOOL UnregisterFunc1(UINT modifiers, int virtualKey);
BOOL NLedSetDevice(UINT infoId, void* info);
HANDLE FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info);
BOOL DeactivateDevice(HANDLE device);
HANDLE RegisterDevice(LPCWSTR type, DWORD index, LPCWSTR library, DWORD_PTR info);

// The Bluetooth stack's port-emulation record ("btd.dll").
#define RFCOMM_PORT_FLAGS_REMOTE_DCB 0x00000001u
#define RFCOMM_PORT_FLAGS_KEEP_DCD 0x00000002u
#define RFCOMM_PORT_FLAGS_AUTHENTICATE 0x00000004u
#define RFCOMM_PORT_FLAGS_ENCRYPT 0x00000008u
#define RFCOMM_CHANNEL_MULTIPLE 0xFE
typedef ULONGLONG BT_ADDR;
struct PORTEMUPortParams {
    int channel;
    int flocal;
    BT_ADDR device;
    int imtu;
    int iminmtu;
    int imaxmtu;
    int isendquota;
    int irecvquota;
    GUID uuidService;
    unsigned int uiportflags;
};
BOOL TrackPopupMenuExCE(HMENU menu, UINT flags, int x, int y, HWND window, void* params);

// keybd_event: on the device, flag 4 (KEYEVENTF_SILENT) suppresses the key
// click; on desktop Windows the same bit means a Unicode packet. The wedge's
// calls go through ceKeybdEvent, which drops the bit where the platform's core
// library is absent.
void ceKeybdEvent(BYTE virtualKey, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo);
#define keybd_event ceKeybdEvent
