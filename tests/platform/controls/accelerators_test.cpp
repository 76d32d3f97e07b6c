// tests/platform/controls/accelerators_test.cpp
// Accelerator tables: letters and digits match key presses with exactly the
// entry's modifiers held, other characters match typed characters, and a
// match becomes WM_COMMAND with high word 1; the modifier state follows the
// key messages taken from the queue.

#include "platform/controls/accelerators.h"

#include <gtest/gtest.h>

#include <vector>

#include "menu_test_support.h"
#include "platform/input.h"

namespace qob::platform {
namespace {

using testing::MenuTest;
using testing::Received;

class AcceleratorsTest : public MenuTest {};

// Takes every message and offers the key ones to the table first.
std::vector<Received> PumpThrough(HWND window, HACCEL table) {
    MSG message;
    while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
        if (TranslateAcceleratorW(window, table, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    std::vector<Received> commands;
    for (const Received& r : MenuTest::TakeReceived())
        if (r.message == WM_COMMAND) commands.push_back(r);
    return commands;
}

TEST_F(AcceleratorsTest, KeysMatchWithExactlyTheirModifiersAndBecomeCommandsWithHighWordOne) {
    const HWND owner = MakeOwner();
    const ACCEL entries[] = {
        {FCONTROL | FSHIFT, 'S', 100},  // ctrl+shift+S
        {FCONTROL, 's', 101},           // ctrl+s: a letter matches in either case
        {FALT, '1', 102},
        {0, '+', 103},                  // a character that is typed
        {FSHIFT, '?', 104},
        {0, 'q', 105},
    };
    const HACCEL table = CreateAcceleratorTableW(entries, 6);
    ASSERT_NE(table, 0u);
    struct Case {
        const char* what;
        void (*inject)();
        int command;  // -1: none
    };
    const Case cases[] = {
        {"ctrl+shift+S", [] { InjectKeyWithModifiers('S', kModifierControl | kModifierShift); }, 100},
        {"ctrl+S", [] { InjectKeyWithModifiers('S', kModifierControl); }, 101},
        {"ctrl+alt+S: not exactly", [] { InjectKeyWithModifiers('S', kModifierControl | kModifierAlt); }, -1},
        {"S alone", [] { InjectKey('S'); }, -1},
        {"alt+1", [] { InjectKeyWithModifiers('1', kModifierAlt); }, 102},
        {"typed +", [] { InjectText(u"+"); }, 103},
        {"typed ? with shift", [] { InjectKeyWithModifiers(0x20, kModifierShift); InjectText(u"?"); }, -1},
        {"typed ? with shift held", [] {
             (void)PostMessageW(GetActiveWindow(), WM_KEYDOWN, VK_SHIFT, 1);
             InjectText(u"?");
             (void)PostMessageW(GetActiveWindow(), WM_KEYUP, VK_SHIFT, 1);
         }, 104},
        {"Q: the key of the letter", [] { InjectKey('Q'); }, 105},
        {"typed q is no key press", [] { InjectText(u"q"); }, -1},
    };
    for (const Case& c : cases) {
        c.inject();
        const std::vector<Received> commands = PumpThrough(owner, table);
        if (c.command < 0) {
            EXPECT_TRUE(commands.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(commands.size(), 1u) << c.what;
        EXPECT_EQ(commands[0].wParam, static_cast<WPARAM>(c.command) | 0x10000u) << c.what;
        EXPECT_EQ(commands[0].lParam, 0) << c.what;
        EXPECT_EQ(GetKeyState(VK_SHIFT) | GetKeyState(VK_CONTROL) | GetKeyState(VK_MENU), 0) << c.what << ": released";
    }
    EXPECT_TRUE(DestroyAcceleratorTable(table));
}

TEST_F(AcceleratorsTest, TheKeyStateFollowsTheKeyMessagesTakenFromTheQueue) {
    MakeOwner();
    InjectKeyWithModifiers('A', kModifierControl);
    EXPECT_EQ(GetKeyState(VK_CONTROL), 0) << "posted, not yet taken";
    MSG message;
    std::vector<int> downs;
    while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE))
        if (message.message == WM_KEYDOWN && message.wParam == 'A')
            downs.push_back(GetKeyState(VK_CONTROL) & 0x8000 ? 1 : 0);
    EXPECT_EQ(downs, std::vector<int>{1}) << "ctrl is down when A is taken";
    EXPECT_EQ(GetKeyState(VK_CONTROL), 0) << "and up after";
}

TEST_F(AcceleratorsTest, TablesAreKindCheckedHandles) {
    const HWND owner = MakeOwner();
    const ACCEL entry{FCONTROL, 'X', 7};
    struct Case {
        const ACCEL* entries;
        int count;
        bool made;
        int size;
    };
    const Case cases[] = {{&entry, 1, true, 1}, {nullptr, 0, true, 0}, {nullptr, 1, false, 0}, {&entry, -1, false, 0}};
    for (const Case& c : cases) {
        const HACCEL table = CreateAcceleratorTableW(c.entries, c.count);
        EXPECT_EQ(table != 0, c.made) << c.count;
        if (!table) continue;
        EXPECT_EQ(KindOfHandle(table), HandleKind::Accelerator);
        EXPECT_EQ(CopyAcceleratorTableW(table, nullptr, 0), c.size);
        EXPECT_TRUE(DestroyAcceleratorTable(table));
        EXPECT_FALSE(DestroyAcceleratorTable(table)) << "destroyed already";
        EXPECT_EQ(CopyAcceleratorTableW(table, nullptr, 0), -1);
        MSG message{owner, WM_KEYDOWN, 'X', 1};
        EXPECT_EQ(TranslateAcceleratorW(owner, table, &message), 0) << "a dead table translates nothing";
    }
    EXPECT_FALSE(DestroyAcceleratorTable(owner)) << "a window is no table";
}

}  // namespace
}  // namespace qob::platform
