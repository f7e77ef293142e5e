// The character-to-key table and the device table.
#include "settings/keytable.h"

KeyTableEntry characterToKeyTable[128] = {};

namespace {

// Some terminals report their model as four characters packed into the
// 32-bit value, first character in the highest byte.
constexpr int packedModel(char a, char b, char c, char d) {
    return static_cast<int>((static_cast<unsigned>(static_cast<unsigned char>(a)) << 24) |
                            (static_cast<unsigned>(static_cast<unsigned char>(b)) << 16) |
                            (static_cast<unsigned>(static_cast<unsigned char>(c)) << 8) |
                            static_cast<unsigned>(static_cast<unsigned char>(d)));
}

struct DeviceEntry {
    int firstModel;
    int lastModel;  // inclusive
    int keypad;     // 0 default keypad, 1..6 keypad families
    PowerSwitchMethod power;
};

// The device table: every terminal model this program knows, by model number
// or range of model numbers, with its keypad family and the way it switches
// the 5-volt output of the card reader. A model that is not listed has the
// default keypad and no power switch. Entries are searched in order; the
// first one that holds the model wins.
//
//   7000            the fallback model (no model reported): keypad 1, no power switch
//   7010..7019      handhelds with keypad 1
//   "KV21"          packed code, keypad 2
//   7200..7209      keypad 2
//   "KV3P"          packed code, keypad 3
//   7300..7309      keypad 3
//   7400..7409      keypad 4
//   "KV5N"          packed code, keypad 5
//   7500..7509      keypad 5
//   7600..7609      keypad 6
//   4100..4199      port-control power switch ("COM4:" control codes), default keypad
//   4600..4699      port-control power switch, keypad 4
//   5520            kernel-control power switch, keypad 3
//   5800..5851      kernel-control power switch (52 models), default keypad
const DeviceEntry kDeviceTable[] = {
    {7000, 7000, 1, PowerSwitchNone},
    {7010, 7019, 1, PowerSwitchNone},
    {packedModel('K', 'V', '2', '1'), packedModel('K', 'V', '2', '1'), 2, PowerSwitchNone},
    {7200, 7209, 2, PowerSwitchNone},
    {packedModel('K', 'V', '3', 'P'), packedModel('K', 'V', '3', 'P'), 3, PowerSwitchNone},
    {7300, 7309, 3, PowerSwitchNone},
    {7400, 7409, 4, PowerSwitchNone},
    {packedModel('K', 'V', '5', 'N'), packedModel('K', 'V', '5', 'N'), 5, PowerSwitchNone},
    {7500, 7509, 5, PowerSwitchNone},
    {7600, 7609, 6, PowerSwitchNone},
    {4100, 4199, 0, PowerSwitchPortControl},
    {4600, 4699, 4, PowerSwitchPortControl},
    {5520, 5520, 3, PowerSwitchKernelControl},
    {5800, 5851, 0, PowerSwitchKernelControl},
};

const DeviceEntry* findDevice(int deviceModel) {
    for (const DeviceEntry& entry : kDeviceTable) {
        if (deviceModel >= entry.firstModel && deviceModel <= entry.lastModel) return &entry;
    }
    return nullptr;
}

struct KeyRow {
    BYTE code;
    BYTE virtualKey;
    BYTE shift;
};

// Punctuation of the default keypad.
const KeyRow kDefaultPunctuation[] = {
    {33, 49, 1},  {34, 222, 1}, {35, 155, 0}, {36, 52, 1},  {37, 53, 1},   {38, 55, 1},   {39, 222, 0},  {40, 61, 0},
    {41, 48, 1},  {42, 106, 1}, {43, 107, 0}, {44, 188, 0}, {45, 109, 0},  {46, 190, 0},  {47, 191, 0},  {58, 154, 0},
    {59, 186, 0}, {60, 188, 1}, {61, 187, 0}, {62, 190, 1}, {63, 152, 0},  {64, 50, 1},   {91, 219, 0},  {92, 220, 0},
    {93, 221, 0}, {94, 54, 1},  {95, 149, 0}, {96, 192, 0}, {123, 219, 1}, {124, 220, 1}, {125, 221, 1}, {126, 148, 0},
};

// Rows in which a keypad family differs from the default keypad. Family 6 is
// family 5 with one more row.
const KeyRow kFamily1[] = {{35, 51, 1},  {40, 57, 1},  {42, 106, 0}, {46, 110, 0}, {47, 111, 0},
                           {58, 186, 1}, {63, 191, 1}, {95, 189, 1}, {126, 192, 1}};
const KeyRow kFamily2[] = {{40, 57, 1}, {45, 189, 0}, {95, 189, 1}};
const KeyRow kFamily3[] = {{35, 51, 1},  {40, 57, 1},  {42, 56, 1},  {43, 187, 1}, {45, 189, 0},
                           {58, 186, 1}, {63, 191, 1}, {95, 189, 1}, {126, 192, 1}};
const KeyRow kFamily4[] = {{43, 187, 0}, {45, 189, 0}, {58, 186, 0}, {126, 192, 0}};
const KeyRow kFamily5[] = {{33, 153, 0}, {34, 150, 0}, {36, 59, 0},  {38, 60, 0}, {41, 62, 0},
                           {42, 106, 0}, {46, 110, 0}, {47, 111, 0}, {64, 151, 0}};
const KeyRow kFamily6Extra[] = {{37, 211, 1}};

template <size_t N>
bool findRow(const KeyRow (&rows)[N], int code, KeyRow* found) {
    for (const KeyRow& row : rows) {
        if (row.code == code) {
            *found = row;
            return true;
        }
    }
    return false;
}

// The key of one character on the default keypad.
KeyTableEntry defaultKey(int code) {
    if (code >= 9 && code <= 32) return {static_cast<DWORD>(code), 0};
    if (code >= '0' && code <= '9') return {static_cast<DWORD>(code), 0};
    if (code >= 'A' && code <= 'Z') return {static_cast<DWORD>(code), 1};
    if (code >= 'a' && code <= 'z') return {static_cast<DWORD>(code - 32), 0};
    if (code == 127) return {46, 0};
    KeyRow row = {};
    if (findRow(kDefaultPunctuation, code, &row)) return {row.virtualKey, row.shift};
    return {0, 0};
}

bool familyRow(int family, int code, KeyRow* row) {
    switch (family) {
        case 1:
            return findRow(kFamily1, code, row);
        case 2:
            return findRow(kFamily2, code, row);
        case 3:
            return findRow(kFamily3, code, row);
        case 4:
            return findRow(kFamily4, code, row);
        case 5:
            return findRow(kFamily5, code, row);
        case 6:
            return findRow(kFamily6Extra, code, row) || findRow(kFamily5, code, row);
        default:
            return false;
    }
}

}  // namespace

const int kFallbackDeviceModel = 7000;

int keypadFamily(int deviceModel) {
    const DeviceEntry* entry = findDevice(deviceModel);
    return entry ? entry->keypad : 0;
}

PowerSwitchMethod powerSwitchMethod(int deviceModel) {
    const DeviceEntry* entry = findDevice(deviceModel);
    return entry ? entry->power : PowerSwitchNone;
}

void fillCharacterToKeyTable(int deviceModel) {
    int family = keypadFamily(deviceModel);
    for (int code = 9; code <= 127; ++code) {
        KeyRow row = {};
        if (familyRow(family, code, &row)) {
            characterToKeyTable[code] = {row.virtualKey, row.shift};
        } else {
            characterToKeyTable[code] = defaultKey(code);
        }
    }
}
