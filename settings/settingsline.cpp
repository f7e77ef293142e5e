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
    int end = 0;
    while (end < kSettingsLineChars - 1 && line[end] != 0 && line[end] != '\n' && line[end] != '\'') ++end;
    line[end] = 0;
    int kept = 0;
    for (int i = 0; i < end; ++i) {
        if (line[i] != ' ') line[kept++] = line[i];
    }
    line[kept] = 0;
    parsed.header = line[0] == '[' && line[1] != '=';
    for (int i = 0; i < kept; ++i) {
        if (line[i] == '=') {
            line[i] = 0;
            parsed.value = line + i + 1;
            break;
        }
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
    if (!textFileReadLine(file, line, kSettingsLineChars)) return false;
    if (count.atLineStart) ++count.line;
    size_t length = textLength(line, kSettingsLineChars);
    bool ended = length > 0 && line[length - 1] == '\n';
    cut = !ended && length == static_cast<size_t>(kSettingsLineChars - 1);
    count.atLineStart = !cut;
    return true;
}
