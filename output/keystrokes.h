// Keystrokes into the focused application: characters as synthesized key
// events or posted messages. Callers that deliver hold the delivery lock
// (output/delivery.h), so the keystrokes of two deliveries never interleave.
#pragma once

#include "platform/platform.h"

// Characters typed in a way of their own, numbered as the code lists of
// Keyvane.ini write them (Suffix=28 types a field separator).
enum SpecialCharacter : unsigned {
    CharTab = 9,              // what RemapToTab turns its character into
    CharEnter = 13,           // the Enter key
    CharSubstitute = 26,      // posted as a character to the focused window
    CharFieldSeparator = 28,  // Control with kFieldSeparatorKey, then the key 28 itself
};
// The device's virtual key that types the field separator with Control.
constexpr WPARAM kFieldSeparatorKey = 155;
// Characters above this go to the platform's keyboard as characters, not keys.
constexpr unsigned kLastKeyTableCharacter = 126;

// What the focused window is, by its class name.
enum FocusWindowKind {
    FocusOther = 0,
    FocusEdit = 1,     // "Edit", "RICHEDIT50W", "RichInk"
    FocusBrowser = 2,  // "Internet Explorer_Server"
};

void typeText(const WCHAR* text);
void typeCharacter(WCHAR character);
FocusWindowKind classifyFocusWindow(HWND window);
