// Serial delivery: frames the serial copy of a delivered text for the device
// at the far end and writes it to the serial output port, recovering the
// port after a failure.
#include "output/serial.h"

#include "output/framing.h"
#include "resources/resource.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

void sendToSerial(const char* bytes, int count) {
    if (bytes == nullptr || count <= 0) return;

    // Open the port before building, so that the first XR1 record after a
    // reopen carries sequence number 1 like the first one after start-up.
    if (serialPortHandle.load() == INVALID_HANDLE_VALUE && !connectEngine(0)) return;

    SetLastError(0);
    unsigned char frame[kFrameBytes];
    size_t length = buildFrame(framingOf(settings.ConnectingTo), bytes, count, frame);
    if (length == 0) return;

    for (int attempt = 0; attempt < kEmptyWriteAttempts; ++attempt) {
        DWORD written = 0;
        SerialWrite outcome = writeSerialPort(frame, static_cast<DWORD>(length), &written);
        if (outcome == SerialPortClosed) return;  // reopening failed and was reported
        if (outcome == SerialWriteFailed) {
            traceAppendFormat("Closed\r\n");
            SetLastError(0);
            playSoundResource(IDW_PORT_FAILED);
            return;
        }
        if (outcome == SerialWritten) {
            traceAppendFormat("Closed\r\n");
            return;
        }
        playSoundResource(IDW_PORT_FAILED);
        traceAppendFormat("Closed\r\n");
        SetLastError(0);
    }
}
