// platform/controls/command_bar.cpp
// The command bar's state (strings, images, buttons), its painting and its
// taps, and the standard image strip drawn here in code.

#include "platform/controls/command_bar.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/controls/menus.h"
#include "platform/gdi.h"

namespace qob::platform {

namespace {

using Image = std::array<uint32_t, kBarImageSize * kBarImageSize>;

struct BarButton {
    TBBUTTON button;
    RECT rect;  // in the bar
};

struct Bar {
    std::vector<std::u16string> strings;
    std::vector<Image> images;
    std::vector<BarButton> buttons;
    std::vector<std::pair<TBADDBITMAP, LRESULT>> bitmaps;  // added already, with their first index
    HMENU menu = 0;  // the bar's own menu (SHCMBM_GETMENU)
    int pressed = -1;
};

// Every live bar by window. Never destroyed, like the window manager's records.
std::unordered_map<HWND, std::unique_ptr<Bar>>& Bars() {
    static auto* bars = new std::unordered_map<HWND, std::unique_ptr<Bar>>;
    return *bars;
}

Bar* FindBar(HWND window) {
    auto found = Bars().find(window);
    return found == Bars().end() || !IsWindow(window) ? nullptr : found->second.get();
}

// --- the standard images --------------------------------------------------------------

void Line(HDC dc, int x1, int y1, int x2, int y2) {
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

void Fill(HDC dc, RECT rect, COLORREF colour) {
    const HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

// A framed box: filled, with a black one-pixel frame.
void Box(HDC dc, RECT rect, COLORREF fill) {
    Fill(dc, rect, fill);
    FrameRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void ArrowHead(HDC dc, int x, int y, int direction) {
    Line(dc, x, y, x + 3 * direction, y - 3);
    Line(dc, x, y, x + 3 * direction, y + 3);
}

// Draws image i of the strip in the 16 x 16 cell at (0, 0).
void DrawStandardImage(HDC dc, int32_t index) {
    constexpr COLORREF kWhite = RGB(255, 255, 255);
    switch (index) {
    case STD_CUT:
        Line(dc, 4, 10, 11, 1);
        Line(dc, 11, 10, 4, 1);
        Box(dc, RECT{2, 10, 7, 15}, kWhite);
        Box(dc, RECT{9, 10, 14, 15}, kWhite);
        break;
    case STD_COPY:
        Box(dc, RECT{2, 1, 10, 11}, kWhite);
        Box(dc, RECT{6, 5, 14, 15}, kWhite);
        break;
    case STD_PASTE:
        Box(dc, RECT{2, 2, 12, 15}, RGB(160, 112, 48));
        Box(dc, RECT{6, 6, 15, 15}, kWhite);
        Fill(dc, RECT{5, 1, 9, 3}, RGB(0, 0, 0));
        break;
    case STD_UNDO:
    case STD_REDOW: {
        const bool undo = index == STD_UNDO;
        const int tip = undo ? 3 : 12;
        const int back = undo ? 12 : 3;
        Line(dc, tip, 6, back, 6);
        Line(dc, back, 6, back, 13);
        ArrowHead(dc, tip, 6, undo ? 1 : -1);
        break;
    }
    case STD_DELETE: {
        const HPEN red = CreatePen(PS_SOLID, 1, RGB(224, 0, 0));
        const HGDIOBJ old = SelectObject(dc, red);
        for (int d = 0; d < 2; ++d) {
            Line(dc, 3 + d, 3, 13 + d, 13);
            Line(dc, 12 + d, 3, 2 + d, 13);
        }
        SelectObject(dc, old);
        DeleteObject(red);
        break;
    }
    case STD_FILENEW:
        Box(dc, RECT{3, 1, 13, 15}, kWhite);
        Line(dc, 9, 1, 9, 5);
        Line(dc, 9, 5, 13, 5);
        break;
    case STD_FILEOPEN:
        Box(dc, RECT{1, 3, 7, 6}, RGB(240, 200, 64));
        Box(dc, RECT{1, 5, 15, 14}, RGB(240, 200, 64));
        break;
    case STD_FILESAVE:
        Box(dc, RECT{2, 2, 14, 14}, RGB(32, 48, 160));
        Fill(dc, RECT{4, 3, 12, 7}, kWhite);
        Fill(dc, RECT{5, 10, 11, 14}, RGB(192, 192, 192));
        break;
    case STD_PRINTPRE:
        Box(dc, RECT{2, 1, 11, 14}, kWhite);
        Box(dc, RECT{7, 7, 13, 13}, RGB(160, 208, 255));
        Line(dc, 12, 12, 15, 15);
        break;
    case STD_PROPERTIES:
        Box(dc, RECT{3, 1, 13, 15}, kWhite);
        for (int y = 4; y <= 10; y += 3) Line(dc, 5, y, 11, y);
        break;
    case STD_HELP: {
        RECT cell{0, 0, kBarImageSize, kBarImageSize};
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 192));
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DrawTextW(dc, u"?", 1, &cell, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        break;
    }
    case STD_FIND:
        Box(dc, RECT{2, 2, 9, 9}, RGB(160, 208, 255));
        Line(dc, 8, 8, 14, 14);
        Line(dc, 9, 8, 15, 14);
        break;
    case STD_REPLACE:
        Line(dc, 2, 5, 14, 5);
        ArrowHead(dc, 13, 5, -1);
        Line(dc, 14, 11, 2, 11);
        ArrowHead(dc, 2, 11, 1);
        break;
    case STD_PRINT:
        Box(dc, RECT{4, 1, 12, 7}, kWhite);
        Box(dc, RECT{1, 6, 15, 12}, RGB(160, 160, 160));
        Box(dc, RECT{4, 11, 12, 15}, kWhite);
        break;
    default:
        break;
    }
}

// The strip, drawn once on the button face.
const std::vector<Image>& StandardImages() {
    static const std::vector<Image> images = [] {
        std::vector<Image> strip(kStandardImageCount);
        const HDC dc = CreateCompatibleDC(0);
        const HBITMAP cell = CreateCompatibleBitmap(dc, kBarImageSize, kBarImageSize);
        const HGDIOBJ old = SelectObject(dc, cell);
        BITMAP description{};
        GetObjectW(cell, sizeof description, &description);
        const auto* pixels = static_cast<const uint32_t*>(description.bmBits);
        const int32_t stride = description.bmWidthBytes / 4;
        for (int32_t i = 0; i < kStandardImageCount; ++i) {
            const RECT all{0, 0, kBarImageSize, kBarImageSize};
            FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
            DrawStandardImage(dc, i);
            for (int32_t y = 0; y < kBarImageSize; ++y)
                for (int32_t x = 0; x < kBarImageSize; ++x)
                    strip[static_cast<size_t>(i)][static_cast<size_t>(y * kBarImageSize + x)] =
                        pixels ? pixels[y * stride + x] & 0xFFFFFF : 0;
        }
        SelectObject(dc, old);
        DeleteObject(cell);
        DeleteDC(dc);
        return strip;
    }();
    return images;
}

// --- messages ------------------------------------------------------------------------------

LRESULT AddStrings(Bar& bar, WPARAM instance, LPARAM lParam) {
    const auto* text = reinterpret_cast<const char16_t*>(lParam);
    if (instance != 0 || !text) return -1;
    const auto first = static_cast<LRESULT>(bar.strings.size());
    // A list that is empty from the start still adds its one empty text.
    do {
        const std::u16string one(text);
        bar.strings.push_back(one);
        text += one.size() + 1;
    } while (*text);
    return first;
}

LRESULT AddBitmap(Bar& bar, WPARAM count, LPARAM lParam) {
    const auto* source = reinterpret_cast<const TBADDBITMAP*>(lParam);
    if (!source) return -1;
    // A bitmap added before answers where its images are already.
    for (const auto& [added, index] : bar.bitmaps)
        if (added.hInst == source->hInst && added.nID == source->nID) return index;
    const auto first = static_cast<LRESULT>(bar.images.size());
    if (source->hInst == HINST_COMMCTRL) {
        if (source->nID != IDB_STD_SMALL_COLOR) return -1;
        const std::vector<Image>& strip = StandardImages();
        bar.images.insert(bar.images.end(), strip.begin(), strip.end());
        bar.bitmaps.emplace_back(*source, first);
        return first;
    }
    if (source->hInst != 0 || !HandleObject(source->nID, HandleKind::Bitmap)) return -1;
    BITMAP description{};
    if (GetObjectW(source->nID, sizeof description, &description) != sizeof description || !description.bmBits) return -1;
    const auto* pixels = static_cast<const uint32_t*>(description.bmBits);
    const int32_t stride = description.bmWidthBytes / 4;
    const int32_t images = count > 0 ? static_cast<int32_t>(std::min<WPARAM>(count, 4096))
                                     : std::max(1, description.bmWidth / kBarImageSize);
    const uint32_t face = PixelFromColor(GetSysColor(COLOR_BTNFACE));
    for (int32_t i = 0; i < images; ++i) {
        Image image;
        for (int32_t y = 0; y < kBarImageSize; ++y)
            for (int32_t x = 0; x < kBarImageSize; ++x) {
                const int32_t sx = i * kBarImageSize + x;
                const bool inside = sx < description.bmWidth && y < description.bmHeight;
                image[static_cast<size_t>(y * kBarImageSize + x)] = inside ? pixels[y * stride + sx] & 0xFFFFFF : face;
            }
        bar.images.push_back(image);
    }
    bar.bitmaps.emplace_back(*source, first);
    return first;
}

bool HasImage(const Bar& bar, const TBBUTTON& button) {
    return !(button.fsStyle & BTNS_NOIMAGE) && button.iBitmap >= 0 &&
           static_cast<size_t>(button.iBitmap) < bar.images.size();
}

const std::u16string* ButtonText(const Bar& bar, const TBBUTTON& button) {
    if (button.iString < 0 || static_cast<size_t>(button.iString) >= bar.strings.size()) return nullptr;
    return &bar.strings[static_cast<size_t>(button.iString)];
}

void Layout(HWND window, Bar& bar) {
    RECT client{};
    GetClientRect(window, &client);
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    int32_t x = 0;
    for (BarButton& entry : bar.buttons) {
        int32_t width = kBarImageButtonWidth;
        if (const std::u16string* text = ButtonText(bar, entry.button)) {
            SIZE extent{0, 0};
            if (!text->empty()) GetTextExtentPoint32W(dc, text->c_str(), static_cast<int>(text->size()), &extent);
            width = extent.cx + 2 * kBarTextPadding + (HasImage(bar, entry.button) ? kBarImageSize + kBarTextPadding : 0);
        }
        entry.rect = RECT{x, 0, x + width, client.bottom};
        x += width;
    }
    DeleteDC(dc);
}

void DrawImage(HDC dc, const Image& image, int32_t left, int32_t top) {
    for (int32_t y = 0; y < kBarImageSize; ++y)
        for (int32_t x = 0; x < kBarImageSize; ++x)
            SetPixel(dc, left + x, top + y, ColorFromPixel(image[static_cast<size_t>(y * kBarImageSize + x)]));
}

void Paint(HWND window, const Bar& bar) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    if (dc) {
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, SYS_COLOR_INDEX_FLAG | COLOR_MENUTEXT);
        for (const BarButton& entry : bar.buttons) {
            RECT rect = entry.rect;
            const int32_t imageTop = (rect.top + rect.bottom - kBarImageSize) / 2;
            const std::u16string* text = ButtonText(bar, entry.button);
            if (HasImage(bar, entry.button)) {
                const int32_t imageLeft =
                    text ? rect.left + kBarTextPadding : (rect.left + rect.right - kBarImageSize) / 2;
                DrawImage(dc, bar.images[static_cast<size_t>(entry.button.iBitmap)], imageLeft, imageTop);
                rect.left = imageLeft + kBarImageSize;
            }
            if (text && !text->empty())
                DrawTextW(dc, text->c_str(), static_cast<int>(text->size()), &rect,
                          DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        }
    }
    EndPaint(window, &paint);
}

int ButtonAt(const Bar& bar, LPARAM lParam) {
    const POINT point{static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
    for (size_t i = 0; i < bar.buttons.size(); ++i) {
        const RECT& rect = bar.buttons[i].rect;
        if (point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom)
            return static_cast<int>(i);
    }
    return -1;
}

// A press on a drop-down button opens its menu above the bar at the
// button's left edge; a press on another button waits for its release.
void Press(HWND window, Bar& bar, LPARAM lParam) {
    const int index = ButtonAt(bar, lParam);
    bar.pressed = -1;
    if (index < 0) return;
    const TBBUTTON& button = bar.buttons[static_cast<size_t>(index)].button;
    if (!(button.fsState & TBSTATE_ENABLED)) return;
    if (button.fsStyle & BTNS_DROPDOWN) {
        POINT corner{bar.buttons[static_cast<size_t>(index)].rect.left, 0};
        ClientToScreen(window, &corner);
        (void)OpenPopupMenu(static_cast<HMENU>(button.dwData), corner.x, corner.y, MenuPlacement::AboveRight,
                            GetParent(window));
        return;
    }
    bar.pressed = index;
    SetCapture(window);
}

void Release(HWND window, Bar& bar, LPARAM lParam) {
    const int pressed = bar.pressed;
    bar.pressed = -1;
    if (GetCapture() == window) ReleaseCapture();
    if (pressed < 0 || ButtonAt(bar, lParam) != pressed) return;
    const TBBUTTON& button = bar.buttons[static_cast<size_t>(pressed)].button;
    (void)PostMessageW(GetParent(window), WM_COMMAND, static_cast<WPARAM>(static_cast<uint16_t>(button.idCommand)),
                       static_cast<LPARAM>(window));
}

}  // namespace

LRESULT CommandBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        auto bar = std::make_unique<Bar>();
        bar->menu = CreatePopupMenu();
        Bars()[window] = std::move(bar);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        auto found = Bars().find(window);
        if (found != Bars().end()) {
            DestroyMenu(found->second->menu);  // the drop-down menus stay: programs hold them
            Bars().erase(found);
        }
        return 0;
    }
    Bar* bar = FindBar(window);
    if (!bar) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case TB_ADDSTRINGW: {
        const LRESULT first = AddStrings(*bar, wParam, lParam);
        CommandBarAutoSize(window);
        return first;
    }
    case TB_ADDBITMAP:
        return AddBitmap(*bar, wParam, lParam);
    case TB_ADDBUTTONSW: {
        const auto* buttons = reinterpret_cast<const TBBUTTON*>(lParam);
        if (!buttons) return 0;
        for (WPARAM i = 0; i < wParam; ++i) bar->buttons.push_back(BarButton{buttons[i], RECT{}});
        CommandBarAutoSize(window);
        return 1;
    }
    case TB_BUTTONCOUNT:
        return static_cast<LRESULT>(bar->buttons.size());
    case SHCMBM_GETMENU:
        return static_cast<LRESULT>(bar->menu);
    case WM_SIZE:
        Layout(window, *bar);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_PAINT:
        Paint(window, *bar);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        Press(window, *bar, lParam);
        return 0;
    case WM_LBUTTONUP:
        Release(window, *bar, lParam);
        return 0;
    case WM_CLOSE:
        return 0;  // a shell window: a program's WM_CLOSE never closes it
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool CommandBarAutoSize(HWND window) {
    Bar* bar = FindBar(window);
    if (!bar) return false;
    Layout(window, *bar);
    InvalidateRect(window, nullptr, true);
    return true;
}

bool CommandBarButtonRect(HWND window, UINT commandId, RECT* rect) {
    const Bar* bar = FindBar(window);
    if (!bar) return false;
    for (const BarButton& entry : bar->buttons) {
        if (static_cast<UINT>(entry.button.idCommand) != commandId) continue;
        POINT corner{entry.rect.left, entry.rect.top};
        ClientToScreen(window, &corner);
        *rect = RECT{corner.x, corner.y, corner.x + entry.rect.right - entry.rect.left,
                     corner.y + entry.rect.bottom - entry.rect.top};
        return true;
    }
    return false;
}

bool StandardImagePixels(int32_t index, uint32_t* pixels) {
    if (index < 0 || index >= kStandardImageCount) return false;
    const Image& image = StandardImages()[static_cast<size_t>(index)];
    std::copy(image.begin(), image.end(), pixels);
    return true;
}

}  // namespace qob::platform
