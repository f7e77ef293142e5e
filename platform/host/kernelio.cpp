// The kernel I/O control codes of the host terminal: the device model and
// the 5-volt output (its switch, log and inspection).
#include <cstring>

#include "platform/host/internal.h"
#include "platform/host/shared.h"
#include "platform/host/terminal.h"

namespace {

struct PowerRecord {
    host::SharedHeader header;
    uint32_t switched;
    uint32_t on;
};

PowerRecord* power() {
    return host::map<PowerRecord>("power");
}

}  // namespace

namespace host {
void setFiveVolt(bool on) {
    PowerRecord* p = power();
    if (p == nullptr) return;
    {
        host::Lock lock(&p->header);
        p->switched = 1;
        p->on = on ? 1 : 0;
        host::notifyAll(&p->header);
    }
    host::appendLog("power.log", on ? "5V on" : "5V off");
}
}  // namespace host

BOOL KernelIoControl(DWORD ioControlCode, LPVOID, DWORD, LPVOID outBuf, DWORD outBufSize, LPDWORD bytesReturned) {
    host::NewsOnReturn news;
    if (bytesReturned != nullptr) *bytesReturned = 0;
    switch (ioControlCode) {
        case IOCTL_HAL_GET_DEVICE_MODEL: {
            int32_t model = terminal::model();
            if (model == 0) {
                SetLastError(ERROR_NOT_SUPPORTED);
                return FALSE;
            }
            if (outBuf == nullptr || outBufSize < sizeof model) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            std::memcpy(outBuf, &model, sizeof model);
            if (bytesReturned != nullptr) *bytesReturned = sizeof model;
            return TRUE;
        }
        case IOCTL_5V_OUTPUT_ON:
        case IOCTL_5V_OUTPUT_OFF:
            if (terminal::config("power") != "kernel") {
                SetLastError(ERROR_NOT_SUPPORTED);
                return FALSE;
            }
            host::setFiveVolt(ioControlCode == IOCTL_5V_OUTPUT_ON);
            return TRUE;
        default:
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
    }
}

namespace terminal {

int fiveVoltState() {
    PowerRecord* p = power();
    if (p == nullptr) return -1;
    host::Lock lock(&p->header);
    return p->switched == 0 ? -1 : static_cast<int>(p->on);
}

}  // namespace terminal
