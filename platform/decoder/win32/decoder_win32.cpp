// The stand-in scan engine as a Windows Decoder.dll. It exports its eleven
// calls (platform/decoder_calls.h) by ordinal only (Decoder.def), as the
// device's library does.
//
// What is in view: the text file "Decoder-view.txt" in the folder of the
// program that loaded the library. Each line is one barcode: its data, or
// "<letter>|<data>" to give the symbology letter (default "a"). A decode
// reads the first line and takes that barcode away (the line is removed), as
// a person takes a label away after it was read.
//
// Like the host's engine it keeps a frame of 33 ms (frame.h): a decode looks
// no sooner than a frame after the previous decode returned.
//
// Results: 0 success, 1 no read (time-out or keep-going ended), 2 bad record.
#include "platform/decoder_calls.h"  // the platform's headers first: <winsock2.h> before <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/decoder/frame.h"
#include "platform/decoder/win32/viewline.h"

// The exports, declared from the list so that each definition below must
// match its call.
extern "C" {
#define DECODER_EXPORT(ordinal, name, result, parameters) result ordinal_##ordinal parameters;
DECODER_CALLS(DECODER_EXPORT)
#undef DECODER_EXPORT
}

namespace {

typedef SymbologyConfig SymbologyRecord;
typedef DecodeWindowRect WindowRect;
typedef DecodeResult ResultRecord;
typedef KeepGoingCallback KeepGoing;
typedef ResultCallback OnResult;

constexpr int kSymbologies = 64;
constexpr int kBarcodeBytes = 4096;

CRITICAL_SECTION lock;
bool connected = false;
int32_t lightsMode = 3;
int32_t aimer = 0;
DecoderGlobalSettings globals = {};
int32_t windowEnable = 0;
WindowRect window = {0, 0, 639, 479};
SymbologyRecord symbologies[kSymbologies];
char multiBuffer[kBarcodeBytes + 1];
decoderframe::LastDecode lastDecode = {0, 0};  // guarded by lock

// Waits until a frame has passed since the previous decode returned; false
// when keep-going answered 0 meanwhile.
bool awaitFrame(KeepGoing keepGoing) {
    EnterCriticalSection(&lock);
    decoderframe::LastDecode last = lastDecode;
    LeaveCriticalSection(&lock);
    for (;;) {
        uint32_t wait =
            decoderframe::waitBeforeLook(last, GetTickCount(), decoderframe::kDefaultFrameMilliseconds);
        if (wait == 0) return true;
        if (keepGoing != nullptr && keepGoing() == 0) return false;
        Sleep(wait < 5 ? wait : 5);
    }
}

// Notes the return of a decode call, whichever way it returns.
struct DecodeReturn {
    ~DecodeReturn() {
        EnterCriticalSection(&lock);
        lastDecode.returned = 1;
        lastDecode.tick = GetTickCount();
        LeaveCriticalSection(&lock);
    }
};

void viewPath(char* path, size_t capacity) {
    DWORD n = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(capacity));
    if (n == 0 || n >= capacity) {
        path[0] = 0;
        return;
    }
    char* slash = strrchr(path, '\\');
    size_t keep = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    const char name[] = "Decoder-view.txt";
    if (keep + sizeof name > capacity) {
        path[0] = 0;
        return;
    }
    memcpy(path + keep, name, sizeof name);
}

// Takes the first barcode out of the view file. Returns its length, or -1.
int takeFromView(char* data, size_t capacity, uint8_t* letter) {
    char path[MAX_PATH];
    viewPath(path, sizeof path);
    if (path[0] == 0) return -1;
    FILE* f = fopen(path, "rb");
    if (f == nullptr) return -1;
    static char content[64 * 1024];
    size_t total = fread(content, 1, sizeof content - 1, f);
    fclose(f);
    content[total] = 0;
    ViewLine line;
    if (!firstViewLine(content, total, &line)) return -1;
    *letter = line.letter;
    size_t length = line.dataLength;
    if (length >= capacity) length = capacity - 1;
    memcpy(data, content + line.dataStart, length);
    data[length] = 0;
    size_t next = line.next;
    FILE* out = fopen(path, "wb");
    if (out != nullptr) {
        fwrite(content + next, 1, total - next, out);
        fclose(out);
    }
    return length > 0 ? static_cast<int>(length) : -1;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&lock);
        for (auto& s : symbologies) s = SymbologyRecord{20, 7, 1, 1, 80};
    }
    return TRUE;
}

int ordinal_2(int, int) { return 0; }

int ordinal_3(int, int id, SymbologyRecord* record) {
    if (record == nullptr || id < 0 || id >= kSymbologies || (record->size != 12 && record->size != 20)) return 2;
    EnterCriticalSection(&lock);
    record->flags = symbologies[id].flags;
    if (record->size == 20) {
        record->minLength = symbologies[id].minLength;
        record->maxLength = symbologies[id].maxLength;
    }
    LeaveCriticalSection(&lock);
    return 0;
}

int ordinal_4(int id, SymbologyRecord* record) {
    if (record == nullptr || id < 0 || id >= kSymbologies || (record->size != 12 && record->size != 20)) return 2;
    EnterCriticalSection(&lock);
    symbologies[id].flags = record->flags;
    if (record->size == 20 && (record->mask & 6) != 0) {
        symbologies[id].minLength = record->minLength;
        symbologies[id].maxLength = record->maxLength;
    }
    LeaveCriticalSection(&lock);
    return 0;
}

int ordinal_8(int write, int, DecoderGlobalSettings* values) {
    if (values == nullptr) return 2;
    EnterCriticalSection(&lock);
    if (write != 0)
        globals = *values;
    else
        *values = globals;
    LeaveCriticalSection(&lock);
    return 0;
}

int ordinal_9() {
    connected = true;
    return 0;
}

int ordinal_10() {
    connected = false;
    return 0;
}

int ordinal_11(int on) {
    aimer = on != 0 ? 1 : 0;
    return 0;
}

int ordinal_13(DWORD timeout, char* buffer, uint8_t* letter, uint8_t* second, uint8_t* third, uint16_t* length,
               KeepGoing keepGoing) {
    if (buffer == nullptr) return 2;
    DecodeReturn returned;
    if (!awaitFrame(keepGoing)) return 1;
    DWORD start = GetTickCount();
    for (;;) {
        uint8_t l = 'a';
        int n = takeFromView(buffer, kBarcodeBytes, &l);
        if (n > 0) {
            if (letter != nullptr) *letter = l;
            if (second != nullptr) *second = 0;
            if (third != nullptr) *third = 0;
            if (length != nullptr) *length = static_cast<uint16_t>(n);
            return 0;
        }
        if ((keepGoing != nullptr && keepGoing() == 0) || GetTickCount() - start >= timeout) return 1;
        Sleep(5);
    }
}

int ordinal_14(DWORD timeout, OnResult onResult, KeepGoing keepGoing, uint8_t*) {
    if (onResult == nullptr) return 2;
    DecodeReturn returned;
    if (!awaitFrame(keepGoing)) return 1;
    DWORD start = GetTickCount();
    for (;;) {
        uint8_t l = 'a';
        int n = takeFromView(multiBuffer, sizeof multiBuffer, &l);
        if (n > 0) {
            ResultRecord record{multiBuffer, l, {0, 0, 0}, static_cast<uint16_t>(n)};
            if (onResult(&record) == 0) return 0;
            continue;
        }
        if ((keepGoing != nullptr && keepGoing() == 0) || GetTickCount() - start >= timeout) return 1;
        Sleep(5);
    }
}

int ordinal_19(int write, int, int32_t* enable, WindowRect* rect) {
    if (enable == nullptr || rect == nullptr) return 2;
    EnterCriticalSection(&lock);
    if (write != 0) {
        windowEnable = *enable;
        window = *rect;
    } else {
        *enable = windowEnable;
        *rect = window;
    }
    LeaveCriticalSection(&lock);
    return 0;
}

int ordinal_39(int write, int, int32_t* mode) {
    if (mode == nullptr) return 2;
    if (write != 0) {
        if (*mode < 0 || *mode > 3) return 2;
        lightsMode = *mode;
    } else {
        *mode = lightsMode;
    }
    return 0;
}

}  // extern "C"
