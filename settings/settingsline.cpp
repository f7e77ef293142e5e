// The settings file's line tokenizer and value readers.
#include "settings/settingsline.h"

namespace {

bool isDigit(WCHAR c) {
    return c >= '0' && c <= '9';
}

bool digitFollows(const WCHAR* p) {
    for (; *p != 0; ++p)
        if (isDigit(*p)) return true;
    return false;
}

}  // namespace

SettingsLine prepareSettingsLine(WCHAR* line) {
    SettingsLine parsed = {line, nullptr, false};
    line[kSettingsLineChars - 1] = 0;
    // One pass: up to the line feed or the first apostrophe, spaces dropped,
    // the first "=" noted.
    int kept = 0;
    int equals = -1;
    for (int i = 0;; ++i) {
        WCHAR c = line[i];
        if (c == 0 || c == '\n' || c == '\'') break;
        if (c == ' ') continue;
        if (c == '=' && equals < 0) equals = kept;
        line[kept++] = c;
    }
    line[kept] = 0;
    parsed.header = line[0] == '[' && line[1] != '=';
    if (equals >= 0) {
        line[equals] = 0;
        parsed.value = line + equals + 1;
    }
    return parsed;
}

BYTE settingsFlag(const WCHAR* value) {
    return value[0] == '1' ? 1 : 0;
}

int settingsNumber(const WCHAR* value) {
    return textToInt(value);
}

bool settingsNumberWhole(const WCHAR* value) {
    const WCHAR* p = value;
    while (*p == '\t') ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long long magnitude = 0;
    int digits = 0;
    for (; isDigit(*p); ++p, ++digits) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > 2147483648LL) return false;
    }
    if (digits == 0 || *p != 0) return false;
    return negative ? magnitude <= 2147483648LL : magnitude <= 2147483647LL;
}

int settingsDigit(const WCHAR* value) {
    return static_cast<int>(value[0]) - '0';
}

int settingsCodeList(WORD* list, int slots, const WCHAR* value) {
    if (slots <= 0) return 0;
    int loss = 0;
    int count = 0;
    const WCHAR* p = value;
    for (;;) {
        // One item: digits up to the next comma or the end; anything else is
        // skipped, and digits beyond the fourth are dropped.
        const WCHAR* item = p;
        unsigned code = 0;
        int digits = 0;
        while (*p != 0 && *p != ',') {
            if (!isDigit(*p)) {
                loss |= CodeListDroppedCharacters;
            } else if (digits < kCodeItemDigits) {
                code = code * 10 + static_cast<unsigned>(*p - '0');
                ++digits;
            } else {
                loss |= CodeListItemCut;
            }
            ++p;
        }
        if (code == 0) {  // an empty or zero item ends the list
            if (digitFollows(item)) loss |= CodeListEndedEarly;
            break;
        }
        if (count >= slots - 1) {
            loss |= CodeListCut;
            break;
        }
        list[count++] = static_cast<WORD>(code);
        if (*p == 0) break;
        ++p;  // the comma
    }
    list[count] = 0;
    return loss;
}

bool readSettingsPiece(TextFile* file, WCHAR* line, SettingsLineCount& count, bool& cut) {
    size_t length = 0;
    if (!textFileReadLine(file, line, kSettingsLineChars, &length)) return false;
    if (count.atLineStart) ++count.line;
    bool ended = length > 0 && line[length - 1] == '\n';
    cut = !ended && length == static_cast<size_t>(kSettingsLineChars - 1);
    count.atLineStart = !cut;
    return true;
}
