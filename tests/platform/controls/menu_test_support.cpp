// tests/platform/controls/menu_test_support.cpp
// The owner window, the picture and the screen comparison of the menu tests.

#include "menu_test_support.h"

#include <string>

#include "platform/clock.h"
#include "platform/message_queue.h"
#include "platform/shell.h"

namespace qob::platform::testing {

namespace {

std::vector<Received> gReceived;

LRESULT OwnerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND || message == WM_LBUTTONDOWN || message == WM_KEYDOWN)
        gReceived.push_back(Received{message, wParam, lParam});
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void MenuTest::SetUp() {
    ResetWindowManager();
    SetIdlePolicy(IdlePolicy::Fail);
    SetTestClock(1'000'000'000);
    StartShell();
    gReceived.clear();
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = OwnerProcedure;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = u"MenuOwner";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
}

void MenuTest::TearDown() {
    ResetWindowManager();
    ClearTestClock();
    gReceived.clear();
}

HWND MenuTest::MakeOwner() {
    const HWND owner = CreateWindowExW(0, u"MenuOwner", u"Owner", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, 0, nullptr);
    Pump();
    return owner;
}

std::vector<Received> MenuTest::TakeReceived() {
    std::vector<Received> taken;
    taken.swap(gReceived);
    return taken;
}

void MenuTest::Pump() {
    MSG message;
    while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

Picture::Picture(int32_t width, int32_t height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(0);
    bitmap_ = CreateCompatibleBitmap(dc_, width, height);
    old_ = SelectObject(dc_, bitmap_);
}

Picture::~Picture() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

uint32_t Picture::At(int32_t x, int32_t y) const {
    BITMAP description{};
    GetObjectW(bitmap_, sizeof description, &description);
    const auto* pixels = static_cast<const uint32_t*>(description.bmBits);
    return pixels[y * (description.bmWidthBytes / 4) + x] & 0xFFFFFF;
}

uint32_t ScreenPixel(int32_t x, int32_t y) {
    const Surface32& screen = ScreenSurface();
    return screen.pixels[static_cast<size_t>(y) * screen.stride + x] & 0xFFFFFF;
}

int CountDifferences(const Picture& picture, int32_t left, int32_t top, std::string* where) {
    ComposeScreen();
    int differences = 0;
    for (int32_t y = 0; y < picture.height(); ++y)
        for (int32_t x = 0; x < picture.width(); ++x) {
            const uint32_t expected = picture.At(x, y);
            const uint32_t seen = ScreenPixel(left + x, top + y);
            if (expected == seen) continue;
            if (differences++ == 0 && where)
                *where = "first at (" + std::to_string(x) + ", " + std::to_string(y) + "): expected " +
                         std::to_string(expected) + ", seen " + std::to_string(seen);
        }
    return differences;
}

void FillSystem(HDC dc, RECT rect, int colour) { FillRect(dc, &rect, GetSysColorBrush(colour)); }

}  // namespace qob::platform::testing
