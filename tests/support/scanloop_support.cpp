#include "tests/support/scanloop_support.h"

#include <unistd.h>

#include "output/scandata.h"
#include "scan/decoder.h"
#include "scan/engine.h"
#include "scan/feedback.h"
#include "scan/scanloop.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "shell/constants.h"
#include "shell/state.h"
#include "tests/support/wedge_process.h"

namespace scanloop {

void ScanTerminal::SetUp() {
    root = wedge::freshTerminal(20);
    ASSERT_FALSE(root.empty());
    // A model of its own LED numbering (not the fallback model).
    deviceModel.store(kFallbackDeviceModel + 1);
    fillCharacterToKeyTable(deviceModel.load());
    terminal::setConfig("keypad", std::to_string(keypadFamily(deviceModel.load())));
    terminal::setFocusClass(u"Edit");
    ASSERT_TRUE(loadDecoderLibrary());
    ASSERT_EQ(0, decoderConnect());
}

void ScanTerminal::TearDown() {
    terminal::releaseKey(kScanKey);
    if (loop.joinable()) loop.join();
    settings.PresentationMode.store(0);
    closeSerialPort();
    terminal::clearView();
    wedge::removeTerminalRoot(root);
}

void ScanTerminal::startHeldPress() {
    terminal::pressKey(kScanKey);
    loop = std::thread([] { scanTriggerLoop(nullptr); });
}

void ScanTerminal::releaseAndJoin() {
    terminal::releaseKey(kScanKey);
    if (loop.joinable()) loop.join();
}

bool ScanTerminal::press(const std::function<bool()>& until) {
    startHeldPress();
    bool held = wedge::waitFor(until, 5000);
    releaseAndJoin();
    return held;
}

bool ScanTerminal::pressUntilSound() {
    size_t before = terminal::sounds().size();
    return press([before] { return terminal::sounds().size() > before; });
}

terminal::Barcode barcode(const std::string& data, char letter, int row) {
    terminal::Barcode b;
    b.data = data;
    b.symbologyLetter = letter;
    b.row = row;
    return b;
}

std::string typed() {
    return wedge::typed();
}

std::vector<std::string> soundNames() {
    return wedge::soundNames();
}

std::vector<std::string> traceLines() {
    return wedge::traceLines(terminal::root());
}

std::vector<std::string> traceOf(const std::vector<std::string>& wanted) {
    return wedge::linesAmong(traceLines(), wanted);
}

int countOf(const std::vector<std::string>& lines, const std::string& line) {
    int n = 0;
    for (const std::string& l : lines) n += l == line ? 1 : 0;
    return n;
}

void setCodes(unsigned short* list, int slots, const std::vector<int>& codes) {
    int i = 0;
    for (; i < slots - 1 && i < static_cast<int>(codes.size()); ++i) list[i] = static_cast<unsigned short>(codes[i]);
    for (; i < slots; ++i) list[i] = 0;
}

void setRule(int group, int rule, char letter, const std::u16string& startText, int length,
             const std::vector<int>& prefix, const std::vector<int>& suffix) {
    BarcodeRule& r = ruleTable[group][rule];
    r = BarcodeRule{};
    r.symbologyLetter = static_cast<unsigned char>(letter);
    r.length = length;
    for (size_t i = 0; i < startText.size() && i + 1 < kStartTextChars; ++i) r.startText[i] = startText[i];
    setCodes(r.prefix, kRuleCodeListSlots, prefix);
    setCodes(r.suffix, kRuleCodeListSlots, suffix);
}

}  // namespace scanloop
