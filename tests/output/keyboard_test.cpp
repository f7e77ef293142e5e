// The host terminal's keyboard and focused application: keys a user presses,
// hot keys, the focused field's text, and state seen by other processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "tests/support/output_support.h"

namespace outputtest {
namespace {

class HostKeyboard : public OutputTerminal {};

TEST_F(HostKeyboard, UserKeysTypeIntoTheFieldWithTheUsersShift) {
    terminal::pressKey('Q');
    terminal::releaseKey('Q');
    terminal::pressKey(VK_SHIFT);
    terminal::pressKey('Q');
    EXPECT_TRUE(terminal::keyDown('Q'));
    EXPECT_EQ(static_cast<SHORT>(0x8000), GetAsyncKeyState('Q'));
    terminal::releaseKey('Q');
    terminal::releaseKey(VK_SHIFT);
    EXPECT_FALSE(terminal::keyDown('Q'));
    EXPECT_EQ(0, GetAsyncKeyState('Q'));
    EXPECT_EQ("qQ", typed());
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_EQ(6u, events.size());
    EXPECT_EQ("user", events[0].how);
    EXPECT_FALSE(events[0].silent);
}

TEST_F(HostKeyboard, AKeyWithAHotKeyGoesToItsOwnerInsteadOfTheField) {
    ASSERT_TRUE(RegisterHotKey(nullptr, 5, 0, 'Q'));
    terminal::pressKey('Q');
    EXPECT_TRUE(terminal::keyDown('Q'));  // the owner polls the key state
    terminal::releaseKey('Q');
    EXPECT_EQ("", typed());
    MSG msg{};
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(WM_HOTKEY, msg.message);
    EXPECT_EQ(5u, msg.wParam);

    // With the user's Shift held the hot key (no modifiers) does not match.
    terminal::pressKey(VK_SHIFT);
    terminal::pressKey('Q');
    terminal::releaseKey('Q');
    terminal::releaseKey(VK_SHIFT);
    EXPECT_EQ("Q", typed());

    // Injected keys are never offered to hot keys, and the wedge's own Shift
    // does not change what the user's keys mean.
    terminal::clearFocusText();
    keybd_event('Q', 'Q', KEYEVENTF_SILENT, 0);
    keybd_event('Q', 'Q', KEYEVENTF_KEYUP, 0);
    EXPECT_EQ("q", typed());
    UnregisterHotKey(nullptr, 5);
}

TEST_F(HostKeyboard, TheFieldKeepsCharactersAndTakesBackspace) {
    UINT characters[2] = {0x00e9, 'x'};
    UINT shift[2] = {};
    PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 1, 2, shift, characters);
    PostMessageW(GetForegroundKeyboardTarget(), WM_CHAR, '\r', 0);
    PostMessageW(GetForegroundKeyboardTarget(), WM_CHAR, 'z', 0);
    EXPECT_EQ(u"\u00e9x\nz", terminal::focusText());
    keybd_event(8, 8, KEYEVENTF_SILENT, 0);
    keybd_event(8, 8, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(u"\u00e9x\n", terminal::focusText());
    // Control chords type nothing.
    keybd_event(VK_CONTROL, VK_CONTROL, KEYEVENTF_SILENT, 0);
    keybd_event('C', 'C', KEYEVENTF_SILENT, 0);
    keybd_event('C', 'C', KEYEVENTF_KEYUP, 0);
    keybd_event(VK_CONTROL, VK_CONTROL, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(u"\u00e9x\n", terminal::focusText());
}

TEST_F(HostKeyboard, WithoutFocusKeysAreRecordedButNothingIsTyped) {
    terminal::setFocusClass(u"");
    EXPECT_EQ(nullptr, GetForegroundKeyboardTarget());
    EXPECT_EQ(u"", terminal::focusClass());
    keybd_event('A', 'A', KEYEVENTF_SILENT, 0);
    keybd_event('A', 'A', KEYEVENTF_KEYUP, 0);
    EXPECT_EQ("+65 -65", keyLog());
    EXPECT_EQ("", typed());

    terminal::setFocusClass(u"RichInk");
    HWND target = GetForegroundKeyboardTarget();
    ASSERT_NE(nullptr, target);
    EXPECT_TRUE(IsWindow(target));
    WCHAR name[50] = {};
    GetClassNameW(target, name, 50);
    EXPECT_TRUE(std::u16string(name) == u"RichInk");
}

TEST_F(HostKeyboard, ANewTerminalHasAnEditFieldInFocus) {
    terminal::reset();
    EXPECT_EQ(u"Edit", terminal::focusClass());
    keybd_event('B', 'B', KEYEVENTF_SILENT, 0);
    EXPECT_EQ("b", typed());
    keybd_event('B', 'B', KEYEVENTF_KEYUP, 0);
}

// A terminal that names no model makes the wedge type through the fallback
// model's keypad (family 1, where "*" is key 106 without Shift); the field
// must read those keys back the same way.
TEST_F(HostKeyboard, WithoutAModelTheFieldReadsTheFallbackKeypad) {
    terminal::setModel(0);
    terminal::setConfig("keypad", "");
    keybd_event(106, 106, KEYEVENTF_SILENT, 0);
    keybd_event(106, 106, KEYEVENTF_KEYUP, 0);
    keybd_event(110, 110, KEYEVENTF_SILENT, 0);
    keybd_event(110, 110, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ("*.", typed());
}

TEST_F(HostKeyboard, TheEventLogKeepsTheMostRecentEventsInOrder) {
    terminal::setFocusClass(u"");
    const int total = 40000;
    for (int i = 0; i < total; ++i) keybd_event(static_cast<BYTE>(i & 0xFF), 0, KEYEVENTF_KEYUP, 0);
    std::vector<terminal::KeyEvent> events = terminal::keyEvents();
    ASSERT_GT(events.size(), 1000u);
    ASSERT_LT(events.size(), static_cast<size_t>(total));
    EXPECT_EQ((total - 1) & 0xFF, events.back().virtualKey);
    for (size_t i = 1; i < events.size(); ++i) {
        ASSERT_EQ((events[i - 1].virtualKey + 1) & 0xFF, events[i].virtualKey);
        ASSERT_LE(events[i - 1].time, events[i].time);
    }
    terminal::clearKeyEvents();
    EXPECT_TRUE(terminal::keyEvents().empty());
}

TEST_F(HostKeyboard, AnotherProcessSeesTheSameKeyboard) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        keybd_event('K', 'K', KEYEVENTF_SILENT, 0);
        keybd_event('K', 'K', KEYEVENTF_KEYUP, 0);
        terminal::pressKey('J');
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ("kj", typed());
    EXPECT_TRUE(terminal::keyDown('J'));
    terminal::releaseKey('J');
}

}  // namespace
}  // namespace outputtest
