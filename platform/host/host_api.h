// The subset of the Windows CE API that the wedge uses, declared for the host
// terminal (Linux). Names, signatures, constants and record layouts follow the
// platform; the implementation lives beside this header in platform/host/.
//
// Text is held in 16-bit units (WCHAR is char16_t here, wchar_t on Windows);
// subsystem code writes wide literals with TEXT("...").
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------- base types
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef unsigned char UCHAR;
typedef char CHAR;
typedef char16_t WCHAR;
typedef WCHAR TCHAR;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPTSTR;
typedef const WCHAR* LPCTSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef LONG HRESULT;

typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HMENU__* HMENU;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;
typedef struct HACCEL__* HACCEL;
typedef struct HDC__* HDC;
typedef void* HGDIOBJ;
typedef int (*FARPROC)();

#define WINAPI
#define CALLBACK
#define APIENTRY
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define TEXT(s) u##s
#define _T(s) u##s

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_ABANDONED 0x80u
#define WAIT_FAILED 0xFFFFFFFFu

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

struct RECT {
    LONG left, top, right, bottom;
};
struct POINT {
    LONG x, y;
};
typedef RECT* LPRECT;

// ---------------------------------------------------------------- errors
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_GEN_FAILURE 31u
#define ERROR_DISK_FULL 112u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_NOT_OWNER 288u
#define ERROR_HOTKEY_ALREADY_REGISTERED 1409u
#define ERROR_HOTKEY_NOT_REGISTERED 1419u
#define ERROR_DEVICE_NOT_CONNECTED 1167u
#define ERROR_INVALID_WINDOW_HANDLE 1400u
DWORD GetLastError();
void SetLastError(DWORD error);

// ---------------------------------------------------------------- kernel
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

// Named events are shared between all processes attached to the same terminal.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
#define EVENT_ALL_ACCESS 0x1F0003u
// Named mutexes are shared like named events; one lives while a running
// process holds a handle to it, and one whose owning process ended is taken
// by the next wait with WAIT_ABANDONED.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);
// The exit code of a process (or a thread), STILL_ACTIVE while it runs.
#define STILL_ACTIVE 259u
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
// Sleep runs on the terminal's clock, which a test may run faster than real time.
void Sleep(DWORD milliseconds);
// Milliseconds of terminal time since the terminal started.
DWORD GetTickCount();

// Kernel I/O control. The terminal answers the device model request and the
// 5-volt output codes of the card reader.
#define IOCTL_HAL_GET_DEVICE_MODEL 0x01012404u
#define IOCTL_5V_OUTPUT_ON 0x001B20F8u
#define IOCTL_5V_OUTPUT_OFF 0x001B20FCu
BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf, DWORD outBufSize,
                     LPDWORD bytesReturned);

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
    WORD wShowWindow, cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;
struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;
// Starts a program of the terminal: the device path names a host executable
// (or a script) inside the terminal root, or the program terminal::installProgram
// registered for it; the argument text is passed whole as the one argument.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation);

// Dynamic libraries. "Decoder.dll" (any letter case, any folder) resolves to the
// terminal's stand-in decoder library: the configured "decoder" path, else
// $KEYVANE_DECODER, libDecoder.so beside the running program, or the
// installed library (platform/host/loader.h).
// GetProcAddress takes an ordinal as MAKEINTRESOURCEA(n); the host loader
// answers it with the library's exported symbol "ordinal_<n>" (a name is
// looked up as it is).
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
HMODULE GetModuleHandleW(LPCWSTR moduleName);

// ---------------------------------------------------------------- files and ports
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_APPEND_DATA 0x0004u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// Device paths ("\\Zentrova\\Keyvane.ini") map into the terminal root, matched
// without regard to letter case. "COMn:" opens the host path the terminal
// configuration names for that port (a tty or pseudo-terminal), raw 8-bit.
HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
// On a port, a short write of the host is completed; the whole frame goes out.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
DWORD GetFileAttributesW(LPCWSTR fileName);
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES attributes);
BOOL DeleteFileW(LPCWSTR fileName);

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;
#define EV_RXCHAR 0x0001u
BOOL SetCommMask(HANDLE file, DWORD eventMask);
// Waits until characters arrive or the port is closed (then fails).
BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf,
                     DWORD outBufSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
// Last error of a port control the power switch refuses on some terminals.
#define ERROR_5V_ALREADY_SET 0x20000001u

// ---------------------------------------------------------------- strings (kernel32)
int lstrlenW(LPCWSTR string);
LPWSTR lstrcpynW(LPWSTR dest, LPCWSTR source, int maxLength);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
// Compares without regard to letter case (ASCII letters).
int lstrcmpiW(LPCWSTR a, LPCWSTR b);

// Code pages. The terminal's system code page (CP_ACP) is Windows-1252, the
// device's Western code page: 0x80..0x9F are the typographic characters, and
// the five bytes it leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for
// the control characters of the same code, so every byte survives a round
// trip. A character the code page lacks becomes `defaultChar` ("?" when null).
// A source length of -1 takes the source up to and with its terminator; a
// destination size of 0 asks for the size needed. Flags are not used.
#define CP_ACP 0u
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR dest, int destChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR dest, int destBytes,
                        LPCSTR defaultChar, BOOL* usedDefault);
// Upper-cases `length` characters in place as the platform does, across the
// Basic Multilingual Plane. Returns the number of characters handled.
DWORD CharUpperBuffW(LPWSTR text, DWORD length);

// ---------------------------------------------------------------- windows and messages
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_COMMAND 0x0111u
#define WM_HOTKEY 0x0312u
#define WM_LBUTTONUP 0x0202u
#define WM_USER 0x0400u

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;
struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};
struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy, cx, y, x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};

#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CW_USEDEFAULT ((int)0x80000000)
#define WHITE_BRUSH 0
#define IDC_WAIT MAKEINTRESOURCEW(32514)
#define SW_HIDE 0
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

ATOM RegisterClassW(const WNDCLASSW* windowClass);
// Windows are shared between processes of the terminal: FindWindowW finds a
// window of another process by its title, and PostMessageW reaches it.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
BOOL IsWindow(HWND window);
BOOL UpdateWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
int GetClassNameW(HWND window, LPWSTR className, int maxCount);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HGDIOBJ GetStockObject(int object);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR cursorName);
HCURSOR SetCursor(HCURSOR cursor);
int GetSystemMetrics(int index);
HWND GetForegroundWindow();
HWND GetActiveWindow();

// Resources of the program (string table, icons, menus, accelerators, WAVE
// sounds), compiled from resources/ into the executable.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
#define IMAGE_ICON 1u
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name);
HMENU GetSubMenu(HMENU menu, int position);
BOOL DestroyMenu(HMENU menu);
HACCEL LoadAcceleratorsW(HINSTANCE instance, LPCWSTR name);
int TranslateAcceleratorW(HWND window, HACCEL accelerators, LPMSG msg);

#define TPM_LEFTALIGN 0x0000u
#define TPM_TOPALIGN 0x0000u
#define TPM_RETURNCMD 0x0100u
// The tray popup menu: the choice comes from the terminal's menu script.
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND window, void* params);

// Message boxes are recorded by the terminal and answered from its script.
#define MB_OK 0x0u
#define MB_YESNO 0x4u
#define MB_ICONEXCLAMATION 0x30u
#define MB_ICONERROR 0x10u
#define MB_ICONQUESTION 0x20u
#define MB_ICONWARNING 0x30u
#define MB_SETFOREGROUND 0x10000u
#define MB_TOPMOST 0x40000u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// ---------------------------------------------------------------- hot keys
#define MOD_ALT 0x0001u
#define MOD_CONTROL 0x0002u
#define MOD_SHIFT 0x0004u
#define MOD_WIN 0x0008u
BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey);
BOOL UnregisterHotKey(HWND window, int id);
// Frees a key from the shell's own hot-key registration.
BOOL UnregisterFunc1(UINT modifiers, int virtualKey);

// ---------------------------------------------------------------- keyboard
#define KEYEVENTF_KEYUP 0x0002u
#define KEYEVENTF_SILENT 0x0004u
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_DELETE 0x2E
#define KeyStateDownFlag 0x0080u
void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo);
BOOL PostKeybdMessage(HWND window, UINT virtualKey, UINT keyStateFlags, UINT characterCount, UINT* shiftStateBuffer,
                      UINT* characterBuffer);
SHORT GetAsyncKeyState(int virtualKey);
// The window that receives keyboard input in the foreground application.
HWND GetForegroundKeyboardTarget();

// ---------------------------------------------------------------- tray
#define NIM_ADD 0x0u
#define NIM_MODIFY 0x1u
#define NIM_DELETE 0x2u
#define NIF_MESSAGE 0x1u
#define NIF_ICON 0x2u
#define NIF_TIP 0x4u
struct NOTIFYICONDATAW {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[64];
};
BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data);

// ---------------------------------------------------------------- LEDs and sound
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
BOOL NLedSetDevice(UINT infoId, void* info);

#define SND_SYNC 0x0000u
#define SND_ASYNC 0x0001u
#define SND_NODEFAULT 0x0002u
#define SND_FILENAME 0x00020000u
#define SND_RESOURCE 0x00040004u
BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags);

// ---------------------------------------------------------------- device manager
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
HANDLE FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info);
BOOL FindClose(HANDLE search);
BOOL DeactivateDevice(HANDLE device);
// `info` is the address of the driver's parameter record (pointer-sized here).
HANDLE RegisterDevice(LPCWSTR type, DWORD index, LPCWSTR library, DWORD_PTR info);

// ---------------------------------------------------------------- Bluetooth
// Winsock name space and the port-emulation records of the Bluetooth stack.
#include "host_bluetooth_api.h"
