#include "scan/engine.h"

#include <mutex>

#include "output/framing.h"
#include "resources/resource.h"
#include "scan/decoder.h"
#include "scan/feedback.h"
#include "settings/settings.h"
#include "shell/state.h"
#include "shell/tracelog.h"

std::atomic<BYTE> engineConnected{0};
std::atomic<HANDLE> serialPortHandle{INVALID_HANDLE_VALUE};
WCHAR portName[6];

namespace {

constexpr int kOpenAttempts = 5;
constexpr int kListenBytes = 1024;
constexpr int kEmptyReadsToRest = 10;
constexpr DWORD kEmptyReadPause = 10;
constexpr DWORD kListenPause = 50;
const WCHAR kCharInLogPath[] = TEXT("\\CharInLog.txt");

// The connection's one lock. Connects come from the main thread, the
// presentation-mode scan thread and the card-reader thread; they are taken
// one at a time so the port name, the engine step and the port open never
// interleave. Closing, writing and reading the serial output port take it
// too, so no thread uses a handle that another has closed meanwhile (on the
// device a closed handle's value may already name another object).
std::recursive_mutex& connectionLock() {
    static std::recursive_mutex lock;
    return lock;
}

// "COM%d:" for ports 0 to 9. Any other number names no port: the name stays
// empty and every open attempt fails as for a missing device.
void formatPortName(int number) {
    if (number < 0 || number > 9) {
        portName[0] = 0;
        return;
    }
    textFormat(portName, sizeof portName / sizeof portName[0], TEXT("COM%d:"), number);
}

// With the connection held: closes the port and marks it closed.
void closePortHeld() {
    HANDLE port = serialPortHandle.exchange(INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
}

HANDLE openPortOnce() {
    if (portName[0] == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// One CharInLog record for a chunk (bytes beyond the chunk read as 0).
void logChunk(const unsigned char* chunk) {
    char record[96];
    size_t n = textFormatA(record, sizeof record, "case %d:\r\nByte[8] = %d;\r\nByte[9] = %d;\r\nbreak;",
                           static_cast<int>(chunk[6]), static_cast<int>(chunk[8]), static_cast<int>(chunk[9]));
    textFileAppend(kCharInLogPath, record, n);
}

// Reads what has arrived, holding the port (the port's read time-outs make
// the read return at once, so writers wait no longer than a copy).
DWORD readChunk(unsigned char* buffer) {
    for (int i = 0; i < kListenBytes; ++i) buffer[i] = 0;
    DWORD got = 0;
    std::lock_guard<std::recursive_mutex> hold(connectionLock());
    HANDLE port = serialPortHandle.load();
    if (port == INVALID_HANDLE_VALUE || !ReadFile(port, buffer, kListenBytes, &got, nullptr)) return 0;
    return got > kListenBytes ? kListenBytes : got;
}

// With the connection held: opens the port, up to kOpenAttempts times; true when it is open.
bool openSerialPort() {
    // A port still open from an earlier connect is closed first, so its
    // handle is not lost while the port stays held.
    closePortHeld();
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        HANDLE port = openPortOnce();
        if (port == INVALID_HANDLE_VALUE) {
            traceAppendFormat("Open Failed : %d\r\n", static_cast<int>(GetLastError()));
            continue;
        }
        traceAppendFormat("Open Success : %d\r\n", static_cast<int>(GetLastError()));
        // A read returns what has arrived at once, never waiting for more.
        COMMTIMEOUTS timeouts = {};
        timeouts.ReadIntervalTimeout = 0xFFFFFFFFu;
        SetCommTimeouts(port, &timeouts);
        serialPortHandle.store(port);
        if (framingOf(settings.ConnectingTo) == FramingXr1) restartFrameSequence();
        return true;
    }
    return false;
}

}  // namespace

int connectEngine(int engineOnly) {
    std::lock_guard<std::recursive_mutex> guard(connectionLock());
    formatPortName(settings.ComportNumber);

    if (engineConnected.load() == 0) {
        if (decoderConnect() != 0) {
            MessageBoxW(GetForegroundWindow(), TEXT("Failed to connect to the Scan engine."), TEXT("Keyvane"), MB_OK);
            return 0;
        }
        engineConnected.store(1);
        std::lock_guard<std::mutex> pair(scannerEventsLock());
        SetEvent(enableStateEvent);
        SetEvent(enableEvent);
    }
    if (engineOnly != 0) return 1;

    if (settings.SendData.load() != 0) {
        if (!openSerialPort()) {
            playSoundResource(IDW_PORT_FAILED);
            MessageBoxW(GetForegroundWindow(), TEXT("Failed to open COM Port."), TEXT("Keyvane"), MB_OK);
            return 0;
        }
    }

    playSoundResource(IDW_CONNECTED);
    HANDLE listener = CreateThread(nullptr, 0, serialListenerThread, nullptr, 0, nullptr);
    if (listener != nullptr) CloseHandle(listener);
    return 1;
}

void closeSerialPort() {
    std::lock_guard<std::recursive_mutex> hold(connectionLock());
    closePortHeld();
}

SerialWrite writeSerialPort(const void* bytes, DWORD length, DWORD* written) {
    *written = 0;
    std::lock_guard<std::recursive_mutex> hold(connectionLock());
    if (serialPortHandle.load() == INVALID_HANDLE_VALUE && !connectEngine(0)) return SerialPortClosed;
    HANDLE port = serialPortHandle.load();
    if (port == INVALID_HANDLE_VALUE) return SerialPortClosed;
    if (!WriteFile(port, bytes, length, written, nullptr)) {
        closePortHeld();
        return SerialWriteFailed;
    }
    if (*written == 0) {
        closePortHeld();
        return SerialWroteNothing;
    }
    return SerialWritten;
}

DWORD WINAPI serialListenerThread(LPVOID) {
    unsigned char buffer[kListenBytes];
    {
        std::lock_guard<std::recursive_mutex> hold(connectionLock());
        if (serialPortHandle.load() == INVALID_HANDLE_VALUE) return 0;
        SetCommMask(serialPortHandle.load(), EV_RXCHAR);
    }
    do {
        // The wait runs without the port held (a close ends it); the reads hold it.
        DWORD events = 0;
        HANDLE port = serialPortHandle.load();
        if (port != INVALID_HANDLE_VALUE) WaitCommEvent(port, &events, nullptr);
        DWORD got = readChunk(buffer);
        if (got > 0) {
            int emptyReads = 0;
            while (emptyReads < kEmptyReadsToRest) {
                if (got > 0) {
                    logChunk(buffer);
                } else {
                    Sleep(kEmptyReadPause);
                    ++emptyReads;
                }
                got = readChunk(buffer);
            }
            // The read that follows the last empty one may bring a chunk:
            // it is logged, not dropped.
            if (got > 0) logChunk(buffer);
        }
        Sleep(kListenPause);
    } while (serialPortHandle.load() != INVALID_HANDLE_VALUE);
    return 0;
}
