// tests/platform/controls/control_test_support.cpp
// The host window and helpers of the control tests.

#include "control_test_support.h"

#include <sstream>

namespace qob::platform::test {

std::vector<Notification> ControlTest::notifications;
HostColours ControlTest::colours;

namespace {

LRESULT HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        ControlTest::notifications.push_back(
            Notification{static_cast<HWND>(lParam), static_cast<UINT>(wParam & 0xFFFF), static_cast<UINT>(wParam >> 16)});
        return 0;
    }
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        ControlTest::colours.lastMessage = message;
        ControlTest::colours.lastControl = static_cast<HWND>(lParam);
        if (!ControlTest::colours.brush) return 0;
        SetTextColor(static_cast<HDC>(wParam), ControlTest::colours.text);
        return static_cast<LRESULT>(ControlTest::colours.brush);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void ControlTest::SetUp() {
    ResetWindowManager();
    SetIdlePolicy(IdlePolicy::Fail);
    SetTestClock(1'000'000'000);
    notifications.clear();
    colours = HostColours{};
    WNDCLASSW hostClass;
    hostClass.lpfnWndProc = HostProc;
    hostClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    hostClass.lpszClassName = u"ControlHost";
    ASSERT_NE(RegisterClassW(&hostClass), 0);
    host = CreateWindowExW(0, u"ControlHost", u"Host", WS_VISIBLE, kHostRect.left, kHostRect.top,
                           kHostRect.right - kHostRect.left, kHostRect.bottom - kHostRect.top, 0, 0, 0, nullptr);
    ASSERT_NE(host, 0u);
    LOGFONTW description{};
    description.lfHeight = -12;
    font = CreateFontIndirectW(&description);
}

void ControlTest::TearDown() {
    ResetWindowManager();
    if (colours.brush) DeleteObject(colours.brush);
    colours = HostColours{};
    DeleteObject(font);
    ClearTestClock();
}

HWND ControlTest::Make(const char16_t* className, const char16_t* text, uint32_t style, int32_t x, int32_t y,
                       int32_t width, int32_t height, UINT id) {
    const HWND control = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, host,
                                         id, 0, nullptr);
    if (control) SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(font), 0);
    return control;
}

void ControlTest::Pump() {
    MSG message;
    while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    (void)TakeIdleFailure();
}

COLORREF ControlTest::ScreenAt(int32_t x, int32_t y) {
    ComposeScreen();
    const Surface32& screen = ScreenSurface();
    return ColorFromPixel(screen.pixels[static_cast<size_t>(y) * screen.stride + x] & 0xFFFFFF);
}

POINT ControlTest::OnScreen(HWND control, int32_t x, int32_t y) {
    POINT point{x, y};
    ClientToScreen(control, &point);
    return point;
}

::testing::AssertionResult ControlTest::ComparePicture(HWND control, HDC expected, int32_t width, int32_t height) {
    Pump();
    ComposeScreen();
    const Surface32& screen = ScreenSurface();
    const Surface32* picture = GetDCSurface(expected);
    if (!picture) return ::testing::AssertionFailure() << "no picture";
    const POINT origin = OnScreen(control, 0, 0);
    int differing = 0;
    std::ostringstream first;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t want = picture->pixels[static_cast<size_t>(y) * picture->stride + x] & 0xFFFFFF;
            const uint32_t got =
                screen.pixels[static_cast<size_t>(origin.y + y) * screen.stride + origin.x + x] & 0xFFFFFF;
            if (want != got && differing++ == 0)
                first << "first at (" << x << ", " << y << "): want " << std::hex << want << " got " << got << std::dec;
        }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ, " << first.str();
}

}  // namespace qob::platform::test
