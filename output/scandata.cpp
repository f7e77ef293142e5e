// Scanned-data handling in scan sync: every decoded barcode is kept in a
// result slot under the barcode rules that take it, the sync group the
// barcodes belong to is chosen, and the caller learns when the set is
// complete (or, in sync mode 2, when a lone barcode may go out on its own).
#include "output/scandata.h"

#include "scan/scanloop.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "shell/tracelog.h"

namespace {

// The barcode being handled, widened (bounded by its decode length).
WCHAR widened[kSlotTextChars];

bool ruleTakes(const BarcodeRule& rule, const DecodeResult& result, int length) {
    if (rule.symbologyLetter == 0 || rule.symbologyLetter != static_cast<int>(result.symbologyLetter)) return false;
    if (rule.length != 0 && rule.length != length) return false;
    return startsWithText(result.data, length, rule.startText);
}

int firstFreeSlot() {
    for (int i = 0; i < kResultSlots; ++i)
        if (!resultSlots[i].used) return i;
    return -1;
}

void fillSlot(ResultSlot& slot, const DecodeResult& result, int length) {
    textCopy(slot.text, kSlotTextChars, widened);
    int kept = length < kSlotTextChars ? length : kSlotTextChars;
    for (int i = 0; i < kept; ++i) slot.bytes[i] = result.data[i];
    slot.length = length;
    slot.symbologyLetter = result.symbologyLetter;
    slot.used = 1;
}

// Keeps the barcode under a rule that takes it. Returns true when it counts
// as accepted (stored now, or already collected).
bool keepUnderRule(const BarcodeRule& rule, const DecodeResult& result, int length) {
    int free = firstFreeSlot();
    if (free < 0) return false;
    if (isAlreadyCollected(widened)) return true;
    fillSlot(resultSlots[free], result, length);
    if (rule.beep == 1 && rule.customSound[0] != 0) PlaySoundW(rule.customSound, nullptr, SND_FILENAME | SND_ASYNC);
    return true;
}

bool anySlotUsed() {
    for (const ResultSlot& slot : resultSlots)
        if (slot.used) return true;
    return false;
}

}  // namespace

int onBarcodeScanned(DecodeResult* result) {
    traceAppend(TEXT("Barcode Scanned"));
    if (result == nullptr || result->data == nullptr || result->length == 0 || result->data[0] == 0) return 1;

    // The bytes count up to the decode length; the data need not end with a
    // zero byte within it, and a zero byte ends the text early.
    int length = result->length;
    if (length > kSlotTextChars - 1) length = kSlotTextChars - 1;
    for (int i = 0; i < length; ++i) widened[i] = 0;
    textWiden(widened, kSlotTextChars, result->data, static_cast<size_t>(length));

    bool groupMatched[kSyncGroups] = {};
    bool accepted = false;
    int group = selectedSyncGroup;
    if (group >= 0 && group < kSyncGroups) {
        for (const BarcodeRule& rule : ruleTable[group])
            if (ruleTakes(rule, *result, result->length) && keepUnderRule(rule, *result, result->length))
                accepted = true;
    } else {
        for (int g = 0; g < kSyncGroups; ++g) {
            for (const BarcodeRule& rule : ruleTable[g]) {
                if (!ruleTakes(rule, *result, result->length)) continue;
                groupMatched[g] = true;
                if (keepUnderRule(rule, *result, result->length)) accepted = true;
            }
        }
    }

    if (!accepted && settings.EnableSequenceEditor == 2) {
        if (anySlotUsed()) return settings.CancelOnNoneSeqScan;
        fillSlot(resultSlots[0], *result, result->length);
        resultsCollected = 1;
        return 0;
    }

    if (group < 0 || group >= kSyncGroups) {
        int matched = 0;
        int only = -1;
        for (int g = 0; g < kSyncGroups; ++g) {
            if (!groupMatched[g]) continue;
            ++matched;
            only = g;
        }
        // No group takes it, or several do: the choice waits for a barcode
        // that belongs to one group only.
        if (matched != 1) return 1;
        selectedSyncGroup = only;
        group = only;
    }

    if (!isGroupComplete(group)) return 1;
    resultsCollected = 1;
    return 0;
}

bool isAlreadyCollected(const WCHAR* text) {
    for (const ResultSlot& slot : resultSlots)
        if (slot.used && textEqualsNoCase(slot.text, text)) return true;
    return false;
}

bool startsWithText(const char* text, int textLength, const WCHAR* startText) {
    if (startText == nullptr || startText[0] == 0) return true;
    for (int i = 0;; ++i) {
        if (startText[i] == 0) {
            traceAppend(TEXT("Barcode Match"));
            return true;
        }
        // Beyond the decode length (or at a zero byte) the text has ended.
        unsigned char c = (text != nullptr && i < textLength) ? static_cast<unsigned char>(text[i]) : 0;
        if (c == 0 || static_cast<WCHAR>(c) != startText[i]) {
            traceAppend(TEXT("Barcode do not match"));
            return false;
        }
    }
}

bool startsWithText(const WCHAR* text, const WCHAR* startText) {
    if (startText == nullptr || startText[0] == 0) return true;
    for (int i = 0;; ++i) {
        if (startText[i] == 0) {
            traceAppend(TEXT("Barcode Match"));
            return true;
        }
        WCHAR c = text != nullptr ? text[i] : 0;
        if (c == 0 || c != startText[i]) {
            traceAppend(TEXT("Barcode do not match"));
            return false;
        }
    }
}

bool isGroupComplete(int group) {
    if (group < 0 || group >= kSyncGroups) return false;
    for (const BarcodeRule& rule : ruleTable[group]) {
        if (rule.symbologyLetter == 0) continue;
        bool found = false;
        for (const ResultSlot& slot : resultSlots) {
            if (!slot.used || slot.symbologyLetter != rule.symbologyLetter) continue;
            if (rule.length != 0 && rule.length != slot.length) continue;
            if (startsWithText(slot.text, rule.startText)) {
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    return true;
}
