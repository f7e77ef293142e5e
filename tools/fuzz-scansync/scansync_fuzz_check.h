// What must hold for the scan-sync handler: barcode rules come from the input,
// then barcodes, each handed to the handler as a decode hands it, until the
// handler says the set is complete. Each answer must agree with the slots:
// a complete set holds a barcode for every rule of the chosen group (or, in
// mode 2, is a lone barcode), a cancelled one is mode 2's answer to a barcode
// no rule takes, no two
// slots hold the same text, a slot keeps the bytes of the barcode stored in it,
// and the chosen group is one of the groups.
//
// Input: a byte of switches (sync mode 1 or 2, cancel on a barcode no rule
// takes), a rule count, five bytes a rule (group, place, letter, length,
// start-text length) each followed by its start text, then barcodes (letter,
// two length bytes, the data). Text barcodes (the single-decode road) use a
// four-letter alphabet and end with a zero byte; records (the multi-decode
// road) are any bytes, exactly as long as their length, without a zero byte
// after them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "output/scandata.h"
#include "scan/scanloop.h"
#include "settings/rules.h"
#include "settings/settingstable.h"
#include "settings/settings.h"

namespace scansyncfuzz {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
};

inline char letterOf(uint8_t b) {
    return static_cast<char>('a' + b % 4);
}

inline bool textsDiffer() {
    for (int i = 0; i < kResultSlots; ++i) {
        if (!resultSlots[i].used) continue;
        for (int j = i + 1; j < kResultSlots; ++j)
            if (resultSlots[j].used && textEqualsNoCase(resultSlots[i].text, resultSlots[j].text)) return false;
    }
    return true;
}

// 0 when the invariants hold, else a number naming the broken one.
inline int check(const uint8_t* bytes, size_t size, bool records) {
    Input in{bytes, size};
    uint8_t switches = in.byte();
    // What an input can touch: the slots it filled, the group it chose, the rules.
    for (ResultSlot& slot : resultSlots)
        if (slot.used) slot = ResultSlot{};
    selectedSyncGroup = -1;
    resultsCollected = 0;
    clearRuleTable();
    settings.EnableSequenceEditor = (switches & 1) ? 2 : 1;
    settings.CancelOnNoneSeqScan = (switches >> 1) & 1;

    int rules = in.byte() % 24;
    for (int r = 0; r < rules; ++r) {
        BarcodeRule& rule = ruleTable[in.byte() % kSyncGroups][in.byte() % kRulesPerGroup];
        uint8_t letter = in.byte();
        rule.symbologyLetter = letter % 5 == 4 ? 0 : letterOf(letter);
        rule.length = in.byte() % 6;
        int start = in.byte() % kStartTextChars;
        for (int i = 0; i < start; ++i) rule.startText[i] = static_cast<WCHAR>(records ? in.byte() : "AB12"[in.byte() % 4]);
        rule.startText[start] = 0;
    }

    while (in.more()) {
        uint8_t letter = letterOf(in.byte());
        size_t length = in.byte() | static_cast<size_t>(in.byte() & 0x1F) << 8;
        if (!records) length %= 8;
        if (length > in.size - in.at) length = in.size - in.at;
        std::vector<char> data(length + (records ? 0 : 1));
        for (size_t i = 0; i < length; ++i) data[i] = records ? static_cast<char>(in.byte()) : "AB12"[in.byte() % 4];
        if (!records) data[length] = 0;

        bool usedBefore[kResultSlots];
        for (int i = 0; i < kResultSlots; ++i) usedBefore[i] = resultSlots[i].used != 0;
        DecodeResult result{};
        result.data = data.empty() ? nullptr : data.data();
        result.symbologyLetter = static_cast<uint8_t>(letter);
        result.length = static_cast<uint16_t>(length);
        int answer = onBarcodeScanned(&result);

        if (answer != 0 && answer != 1) return 1;
        if (selectedSyncGroup < -1 || selectedSyncGroup >= kSyncGroups) return 2;
        if (!textsDiffer()) return 3;
        int stored = 0;
        for (int i = 0; i < kResultSlots; ++i) {
            const ResultSlot& slot = resultSlots[i];
            if (!slot.used) continue;
            if (textLength(slot.text, kSlotTextChars) >= static_cast<size_t>(kSlotTextChars)) return 4;
            if (usedBefore[i]) continue;
            ++stored;
            if (slot.length != static_cast<int>(length) || slot.symbologyLetter != letter) return 5;
            size_t kept = length < static_cast<size_t>(kSlotTextChars) ? length : kSlotTextChars;
            if (std::memcmp(slot.bytes, data.data(), kept) != 0) return 6;
        }
        if (stored > 1) return 7;
        if (answer == 0 && resultsCollected == 0) {
            // Mode 2 cancels the set on a barcode no rule takes (bad read).
            bool anyBefore = false;
            for (bool used : usedBefore) anyBefore = anyBefore || used;
            if (settings.EnableSequenceEditor != 2 || settings.CancelOnNoneSeqScan != 0 || !anyBefore || stored != 0)
                return 8;
            break;
        }
        if (answer == 0) {
            bool loneBarcode = settings.EnableSequenceEditor == 2 && selectedSyncGroup == -1;
            if (!loneBarcode && !isGroupComplete(selectedSyncGroup)) return 9;
            break;  // the set is complete: the decode ends here
        }
    }
    return 0;
}

}  // namespace scansyncfuzz
