// The power-on state of every process-wide record, in one place.
#include "output/delivery.h"
#include "output/framing.h"
#include "scan/decoder.h"
#include "scan/decodesettings.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "scan/scanloop.h"
#include "settings/keytable.h"
#include "settings/settingstable.h"
#include "shell/app.h"
#include "shell/state.h"

void resetProcessState() {
    // Settings and the tables read from the settings file.
    resetSettings();
    clearRuleTable();
    resetCardReaderSettings();
    for (KeyTableEntry& entry : characterToKeyTable) entry = KeyTableEntry{};
    // The engine connection and the serial output port.
    closeSerialPort();
    engineConnected.store(0);
    frameSequenceCounter.store(0);
    // The last decode and what the scan loop keeps between presses.
    decodeLength = 0;
    symbologyLetterOut = 0;
    secondIdentifierOut = 0;
    thirdIdentifierOut = 0;
    setDeliveryIdentifiers(0, 0, 0);
    resetScanLoopState();
    resetLedCache();
    // The decode-settings file found by the last settings load.
    decodeSettingsPath[0] = 0;
    // The shell's switches.
    deviceModel.store(0);
    allKeysCaptured.store(0);
    scannerSwitchOutstanding.store(0);
}
