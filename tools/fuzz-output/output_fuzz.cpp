// libFuzzer entry for the data output. An input is a settings byte, a command
// string up to the first zero byte, and card data after it (at most 512 bytes,
// widened as the card reader widens them). The sequence editor runs the
// command string over the card data with keystroke and serial output on; a
// stand-in platform records what would be typed and written and checks it.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "output/delivery.h"
#include "output/framing.h"
#include "output/seqeditor.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "settings/keytable.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

// ------------------------------------------------------------------ the stand-in platform and neighbours
SettingsRecord settings;
KeyTableEntry characterToKeyTable[128];
std::atomic<BYTE> engineConnected{0};
std::atomic<HANDLE> serialPortHandle{INVALID_HANDLE_VALUE};
WCHAR portName[6];

namespace {
HANDLE const kPort = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x50));
HWND const kField = reinterpret_cast<HWND>(static_cast<intptr_t>(0x60));
size_t keyEvents = 0;
size_t framesWritten = 0;
int downKeys = 0;
}  // namespace

int connectEngine(int) {
    serialPortHandle.store(kPort);
    if (framingOf(settings.ConnectingTo) == FramingXr1) restartFrameSequence();
    return 1;
}
void closeSerialPort() {
    serialPortHandle.store(INVALID_HANDLE_VALUE);
}
SerialWrite writeSerialPort(const void* bytes, DWORD length, DWORD* written) {
    *written = 0;
    if (serialPortHandle.load() == INVALID_HANDLE_VALUE) connectEngine(0);
    if (!WriteFile(serialPortHandle.load(), bytes, length, written, nullptr)) return SerialWriteFailed;
    return *written > 0 ? SerialWritten : SerialWroteNothing;
}
void playSoundResource(UINT) {}
void traceAppend(const WCHAR* text) {
    if (text && textLength(text, 4096) >= 4096) abort();  // trace lines are bounded pieces
}
void traceAppendFormat(const char*, ...) {}

// The code page of the stand-in is Latin-1, its letter case ASCII.
int MultiByteToWideChar(UINT, DWORD, LPCSTR source, int sourceBytes, LPWSTR dest, int destChars) {
    int n = 0;
    for (; n < sourceBytes && n < destChars; ++n) dest[n] = static_cast<WCHAR>(static_cast<unsigned char>(source[n]));
    return n;
}
int WideCharToMultiByte(UINT, DWORD, LPCWSTR source, int sourceChars, LPSTR dest, int destBytes, LPCSTR, BOOL*) {
    int n = 0;
    for (; n < sourceChars && n < destBytes; ++n) dest[n] = source[n] < 256 ? static_cast<char>(source[n]) : '?';
    return n;
}
DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] >= u'a' && text[i] <= u'z') text[i] = static_cast<WCHAR>(text[i] - 32);
    }
    return length;
}

void Sleep(DWORD) {}
void SetLastError(DWORD) {}
void keybd_event(BYTE, BYTE, DWORD flags, ULONG_PTR) {
    ++keyEvents;
    downKeys += (flags & KEYEVENTF_KEYUP) ? -1 : 1;
    if (downKeys < 0 || downKeys > 2) abort();  // at most Shift or Control and one key held
}
BOOL PostKeybdMessage(HWND, UINT, UINT, UINT count, UINT*, UINT*) {
    return count == 1;
}
HWND GetForegroundKeyboardTarget() {
    return kField;
}
BOOL PostMessageW(HWND window, UINT, WPARAM, LPARAM) {
    return window == kField;
}
BOOL IsWindow(HWND window) {
    return window == kField;
}
int GetClassNameW(HWND, LPWSTR name, int capacity) {
    return static_cast<int>(textCopy(name, capacity, u"Edit"));
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED) {
    if (file != kPort || length == 0 || length > static_cast<DWORD>(kFrameBytes)) abort();
    const unsigned char* frame = static_cast<const unsigned char*>(buffer);
    if (settings.ConnectingTo == FramingTagged) {
        // The tagged record's length field counts exactly the payload written.
        uint32_t payload = frame[2] | frame[3] << 8 | frame[4] << 16 | static_cast<uint32_t>(frame[5]) << 24;
        if (payload + 7 != length) abort();
    } else if (settings.ConnectingTo == FramingXr1) {
        uint16_t crc = crc16Xmodem(frame, length - 2);
        if (frame[length - 2] != (crc >> 8) || frame[length - 1] != (crc & 0xFF)) abort();
    }
    ++framesWritten;
    *written = length;
    return TRUE;
}

// ------------------------------------------------------------------ entry
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    for (int c = 0; c < 128; ++c) characterToKeyTable[c] = {static_cast<DWORD>(c < 9 ? 0 : c), c >= 'A' && c <= 'Z'};
    uint8_t options = data[0];
    settings.SendToForegroundApp = 1;
    settings.SendData.store(1);
    settings.ConnectingTo = kFramings[options % kFramingCount].framing;
    settings.editControlDelivery = (options >> 2) & 1;
    settings.PrefixID = (options >> 3) & 3;
    settings.SuffixID = (options >> 5) & 3;
    settings.RemapToTab = (options & 0x80) ? '|' : 0;
    setDeliveryIdentifiers(data[size - 1], 0, 0x80);
    closeSerialPort();

    char commands[256];
    size_t at = 1;
    size_t n = 0;
    while (at < size && data[at] != 0 && n + 1 < sizeof commands) commands[n++] = static_cast<char>(data[at++]);
    commands[n] = 0;
    while (at < size && data[at] != 0) ++at;  // the rest of an over-long command string
    if (at < size) ++at;
    size_t cardBytes = size - at;
    if (cardBytes > 512) cardBytes = 512;
    WCHAR text[513];
    textWiden(text, 513, reinterpret_cast<const char*>(data + at), cardBytes);

    runOutputFormat(text, commands);
    if (downKeys != 0) abort();  // every key pressed was released

    unsigned char frame[kFrameBytes];
    size_t length = buildFrame(kFramings[options % kFramingCount].framing, reinterpret_cast<const char*>(data), static_cast<int>(size), frame);
    if (length > static_cast<size_t>(kFrameBytes)) abort();
    return 0;
}
