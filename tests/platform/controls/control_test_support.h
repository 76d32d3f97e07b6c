// tests/platform/controls/control_test_support.h
// A host window for control tests: it records the WM_COMMAND notifications
// its controls send and answers WM_CTLCOLOR* with colours a test chooses;
// the message pump of a thread and screen pixel reads.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/controls/standard_controls.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/window_manager.h"

namespace qob::platform::test {

struct Notification {
    HWND control;
    UINT id;
    UINT code;
    bool operator==(const Notification&) const = default;
};

// What the host answers to WM_CTLCOLOR*: a brush and a text colour, or 0
// for the default processing.
struct HostColours {
    HBRUSH brush = 0;
    COLORREF text = 0;
    UINT lastMessage = 0;   // the WM_CTLCOLOR* message last received
    HWND lastControl = 0;
};

class ControlTest : public testing::Test {
protected:
    static constexpr RECT kHostRect{0, 40, 240, 300};

    void SetUp() override;
    void TearDown() override;

    // A child control of the host at (x, y) in its client area.
    HWND Make(const char16_t* className, const char16_t* text, uint32_t style, int32_t x, int32_t y, int32_t width,
              int32_t height, UINT id = 100);

    static void Pump();
    // The screen's colour at a point, after composing it.
    static COLORREF ScreenAt(int32_t x, int32_t y);
    // Compares the screen inside a control's client rectangle with a picture
    // drawn by draw into a memory DC of the same size; the first mismatch.
    template <typename Draw>
    ::testing::AssertionResult MatchesPicture(HWND control, Draw draw);
    ::testing::AssertionResult ComparePicture(HWND control, HDC expected, int32_t width, int32_t height);

    // A screen point in a control's client area.
    static POINT OnScreen(HWND control, int32_t x, int32_t y);

    HWND host = 0;
    HFONT font = 0;

public:
    static std::vector<Notification> notifications;
    static HostColours colours;
};

template <typename Draw>
::testing::AssertionResult ControlTest::MatchesPicture(HWND control, Draw draw) {
    RECT client{};
    GetClientRect(control, &client);
    const HDC dc = CreateCompatibleDC(0);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    draw(dc, client);
    const auto result = ComparePicture(control, dc, client.right, client.bottom);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return result;
}

}  // namespace qob::platform::test
