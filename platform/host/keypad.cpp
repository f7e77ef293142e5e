// The terminal's keypad: which character each virtual key types, with and
// without Shift, on the default keypad and on each keypad family (the
// "keypad" key of terminal.conf). Where a family gives one key to two
// characters, the family's own row wins, then the lower code.
#include <cstdint>
#include <string>

#include "platform/host/host_api.h"
#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"

namespace {

struct KeyRow {
    uint8_t code;
    uint8_t virtualKey;
    uint8_t shift;
};

// Default keypad punctuation.
constexpr KeyRow kDefaultRows[] = {
    {33, 49, 1},  {34, 222, 1}, {35, 155, 0}, {36, 52, 1},  {37, 53, 1},   {38, 55, 1},   {39, 222, 0},  {40, 61, 0},
    {41, 48, 1},  {42, 106, 1}, {43, 107, 0}, {44, 188, 0}, {45, 109, 0},  {46, 190, 0},  {47, 191, 0},  {58, 154, 0},
    {59, 186, 0}, {60, 188, 1}, {61, 187, 0}, {62, 190, 1}, {63, 152, 0},  {64, 50, 1},   {91, 219, 0},  {92, 220, 0},
    {93, 221, 0}, {94, 54, 1},  {95, 149, 0}, {96, 192, 0}, {123, 219, 1}, {124, 220, 1}, {125, 221, 1}, {126, 148, 0},
};
constexpr KeyRow kFamily1[] = {{35, 51, 1},  {40, 57, 1},  {42, 106, 0}, {46, 110, 0}, {47, 111, 0},
                               {58, 186, 1}, {63, 191, 1}, {95, 189, 1}, {126, 192, 1}};
constexpr KeyRow kFamily2[] = {{40, 57, 1}, {45, 189, 0}, {95, 189, 1}};
constexpr KeyRow kFamily3[] = {{35, 51, 1},  {40, 57, 1},  {42, 56, 1},  {43, 187, 1}, {45, 189, 0},
                               {58, 186, 1}, {63, 191, 1}, {95, 189, 1}, {126, 192, 1}};
constexpr KeyRow kFamily4[] = {{43, 187, 0}, {45, 189, 0}, {58, 186, 0}, {126, 192, 0}};
constexpr KeyRow kFamily5[] = {{33, 153, 0}, {34, 150, 0}, {36, 59, 0},  {38, 60, 0}, {41, 62, 0},
                               {42, 106, 0}, {46, 110, 0}, {47, 111, 0}, {64, 151, 0}};
constexpr KeyRow kFamily6[] = {{33, 153, 0}, {34, 150, 0}, {36, 59, 0},  {38, 60, 0},  {41, 62, 0},
                               {42, 106, 0}, {46, 110, 0}, {47, 111, 0}, {64, 151, 0}, {37, 211, 1}};

struct ReverseKeypad {
    char16_t character[2][256];  // [shift][virtual key], 0 = types nothing
};

template <size_t N>
void applyRows(uint8_t (&vk)[128], uint8_t (&shift)[128], bool (&familyRow)[128], const KeyRow (&rows)[N],
               bool family) {
    for (const KeyRow& r : rows) {
        vk[r.code] = r.virtualKey;
        shift[r.code] = r.shift;
        familyRow[r.code] = family;
    }
}

ReverseKeypad buildReverse(int family) {
    uint8_t vk[128] = {};
    uint8_t shift[128] = {};
    bool familyRow[128] = {};
    for (int c = 9; c <= 32; ++c) vk[c] = static_cast<uint8_t>(c);
    for (int c = '0'; c <= '9'; ++c) vk[c] = static_cast<uint8_t>(c);
    for (int c = 'A'; c <= 'Z'; ++c) vk[c] = static_cast<uint8_t>(c), shift[c] = 1;
    for (int c = 'a'; c <= 'z'; ++c) vk[c] = static_cast<uint8_t>(c - 32);
    vk[127] = 46;
    applyRows(vk, shift, familyRow, kDefaultRows, false);
    switch (family) {
        case 1:
            applyRows(vk, shift, familyRow, kFamily1, true);
            break;
        case 2:
            applyRows(vk, shift, familyRow, kFamily2, true);
            break;
        case 3:
            applyRows(vk, shift, familyRow, kFamily3, true);
            break;
        case 4:
            applyRows(vk, shift, familyRow, kFamily4, true);
            break;
        case 5:
            applyRows(vk, shift, familyRow, kFamily5, true);
            break;
        case 6:
            applyRows(vk, shift, familyRow, kFamily6, true);
            break;
        default:
            break;
    }
    ReverseKeypad r{};
    bool fromFamily[2][256] = {};
    // Printable characters only: control codes, Delete and the modifier keys type nothing.
    for (int c = 32; c <= 126; ++c) {
        char16_t& slot = r.character[shift[c]][vk[c]];
        bool& slotFamily = fromFamily[shift[c]][vk[c]];
        if (slot == 0 || (familyRow[c] && !slotFamily)) {
            slot = static_cast<char16_t>(c);
            slotFamily = familyRow[c];
        }
    }
    r.character[0][VK_TAB] = u'\t';
    r.character[1][VK_TAB] = u'\t';
    r.character[0][VK_RETURN] = u'\n';
    r.character[1][VK_RETURN] = u'\n';
    return r;
}

const ReverseKeypad& reverseKeypad(int family) {
    static const ReverseKeypad tables[7] = {buildReverse(0), buildReverse(1), buildReverse(2), buildReverse(3),
                                            buildReverse(4), buildReverse(5), buildReverse(6)};
    if (family < 0 || family > 6) family = 0;
    return tables[family];
}

}  // namespace

namespace host {

char16_t keypadCharacter(int family, bool shift, int virtualKey) {
    return reverseKeypad(family).character[shift ? 1 : 0][virtualKey & 0xFF];
}

// Without a "keypad" setting the terminal has no model either, and the wedge
// then types through the fallback model's keypad, family 1.
int keypadFamily() {
    std::string value = terminal::config("keypad");
    if (value.empty()) return terminal::model() == 0 ? 1 : 0;
    int family = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return 0;
        family = family * 10 + (c - '0');
        if (family > 6) return 0;
    }
    return family;
}

}  // namespace host
