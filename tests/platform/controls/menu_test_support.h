// tests/platform/controls/menu_test_support.h
// Shared by the menu, command bar and accelerator tests: a fresh window
// manager on the test clock, an owner window that records the commands and
// taps it receives, and pictures drawn by a test to compare with the screen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob::platform::testing {

// A message the owner received.
struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Received&) const = default;
};

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

public:
    // A shown top-level window of the whole work area that records what it gets.
    HWND MakeOwner();
    // WM_COMMAND, WM_LBUTTONDOWN and WM_KEYDOWN messages the owners got since the last call.
    static std::vector<Received> TakeReceived();
    static void Pump();
};

// A picture a test draws with the renderer's primitives, kept in a bitmap.
class Picture {
public:
    Picture(int32_t width, int32_t height);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    HDC dc() const { return dc_; }
    // The pixel (0x00RRGGBB).
    [[nodiscard]] uint32_t At(int32_t x, int32_t y) const;
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    int32_t width_;
    int32_t height_;
    HDC dc_ = 0;
    HBITMAP bitmap_ = 0;
    HGDIOBJ old_ = 0;
};

// The composed screen's pixel (0x00RRGGBB).
[[nodiscard]] uint32_t ScreenPixel(int32_t x, int32_t y);

// How many pixels of the screen, from (left, top), differ from the picture;
// the first difference is described in where.
[[nodiscard]] int CountDifferences(const Picture& picture, int32_t left, int32_t top, std::string* where);

// Fills with a system colour.
void FillSystem(HDC dc, RECT rect, int colour);

}  // namespace qob::platform::testing
