// The magnetic card reader on "COM1:": switches the 5-volt output, reads card
// data on a thread of its own and hands every chunk to the sequence editor.
#include "settings/cardreader.h"

#include <atomic>
#include <mutex>

#include "output/delivery.h"
#include "output/seqeditor.h"
#include "settings/keytable.h"
#include "settings/settingsline.h"
#include "shell/tracelog.h"

CardReaderSettings cardReaderSettings = {};

namespace {

constexpr DWORD kPortPowerOn = 17;
constexpr DWORD kPortPowerOff = 18;
constexpr DWORD kCardReadBytes = 512;

std::atomic<HANDLE> cardPort{INVALID_HANDLE_VALUE};
std::atomic<int> cardDeviceModel{0};
std::atomic<int> readThreadsRunning{0};

std::mutex& startStopLock() {
    static std::mutex lock;
    return lock;
}

// Reads the port it was started for until that port is closed: a reader
// started later gets a thread of its own.
DWORD WINAPI cardReadThread(LPVOID parameter) {
    HANDLE port = static_cast<HANDLE>(parameter);
    SetCommMask(port, EV_RXCHAR);
    while (cardPort.load() == port) {
        DWORD events = 0;
        if (!WaitCommEvent(port, &events, nullptr)) {
            Sleep(10);  // closed or failing: test the port again without spinning
            continue;
        }
        unsigned char bytes[kCardReadBytes] = {};
        DWORD got = 0;
        if (!ReadFile(port, bytes, kCardReadBytes, &got, nullptr)) got = 0;
        if (got > kCardReadBytes) got = kCardReadBytes;
        if (got > 0) {
            // All 512 bytes may be data: the conversion is bounded by the count.
            WCHAR text[kCardReadBytes + 1];
            textWiden(text, kCardReadBytes + 1, reinterpret_cast<const char*>(bytes), got);
            std::lock_guard<std::recursive_mutex> guard(deliveryLock());
            runOutputFormat(text, cardReaderSettings.outputFormat);
        }
        Sleep(10);
    }
    readThreadsRunning.fetch_sub(1);
    return 0;
}

void traceLine(const WCHAR* line) {
    traceAppend(line);
}

}  // namespace

int switch5VoltOutput(BOOL on) {
    switch (powerSwitchMethod(cardDeviceModel.load())) {
        case PowerSwitchPortControl: {
            HANDLE port = CreateFileW(TEXT("COM4:"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (port == INVALID_HANDLE_VALUE) return 0;
            DWORD returned = 0;
            BOOL ok =
                DeviceIoControl(port, on ? kPortPowerOn : kPortPowerOff, nullptr, 0, nullptr, 0, &returned, nullptr);
            DWORD error = ok ? 0 : GetLastError();
            CloseHandle(port);
            if (ok) {
                traceLine(TEXT("5 Volt out enabled"));
                return 1;
            }
            if (error == ERROR_5V_ALREADY_SET) {
                traceLine(TEXT("5 Volt out enabled"));
                return 0;
            }
            traceLine(TEXT("5 Volt out failed"));
            return 0;
        }
        case PowerSwitchKernelControl: {
            DWORD returned = 0;
            if (KernelIoControl(on ? IOCTL_5V_OUTPUT_ON : IOCTL_5V_OUTPUT_OFF, nullptr, 0, nullptr, 0, &returned)) {
                traceLine(TEXT("5 Volt out enabled"));
                return 1;
            }
            traceLine(TEXT("5 Volt out failed"));
            return 0;
        }
        default:
            traceLine(TEXT("(5 Volt out) No support for this device"));
            return 0;
    }
}

int startCardReader(int deviceModel) {
    std::lock_guard<std::mutex> guard(startStopLock());
    // A reader that runs already keeps running: a second start changes nothing.
    if (cardPort.load() != INVALID_HANDLE_VALUE) return 0;

    cardDeviceModel.store(deviceModel);
    switch5VoltOutput(TRUE);
    SetLastError(0);
    HANDLE port = CreateFileW(TEXT("COM1:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return GetLastError() != 0 ? 1 : 0;

    COMMTIMEOUTS timeouts = {};
    GetCommTimeouts(port, &timeouts);
    SetCommTimeouts(port, &timeouts);
    cardPort.store(port);

    readThreadsRunning.fetch_add(1);
    HANDLE thread = CreateThread(nullptr, 0, cardReadThread, port, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        readThreadsRunning.fetch_sub(1);
    }
    traceLine(TEXT("MSR Connected"));
    return 0;
}

int stopCardReader() {
    std::lock_guard<std::mutex> guard(startStopLock());
    switch5VoltOutput(FALSE);
    HANDLE port = cardPort.exchange(INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) {
        CloseHandle(port);
        // The reader counts as stopped once its thread has ended: a chunk
        // being typed is finished first, however long typing takes. The
        // thread ends for sure: the close ends its wait for the port, and it
        // leaves as soon as it finds its port no longer the card port.
        while (readThreadsRunning.load() > 0) Sleep(1);
    }
    return 1;
}

bool cardCodes(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    auto* list = static_cast<WORD*>(fieldIn(setting.field, read.record));
    if (list != nullptr) settingsCodeList(list, setting.field.capacity, value);
    return true;
}

bool cardNumber(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    storeFieldNumber(setting.field, read.record, settingsNumber(value));
    return true;
}

bool cardFlag(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    storeFieldNumber(setting.field, read.record, settingsFlag(value));
    return true;
}

bool cardText(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    auto* text = static_cast<char*>(fieldIn(setting.field, read.record));
    if (text != nullptr) textNarrow(text, static_cast<size_t>(setting.field.capacity), value);
    return true;
}

bool cardSound(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    auto* text = static_cast<WCHAR*>(fieldIn(setting.field, read.record));
    while (*value == ' ') ++value;
    if (text != nullptr && *value != 0) textCopy(text, setting.field.capacity, value);
    return true;
}

bool cardField(const SettingInfo& setting, SettingsRead& read, const WCHAR*, const WCHAR* value) {
    const SettingChoice* choice = settingChoice(setting, value);
    if (choice != nullptr && value[1] == 0) storeFieldNumber(setting.field, read.record, choice->stored);
    return true;
}
