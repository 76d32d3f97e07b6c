// platform/controls/control_support.cpp
// Helpers shared by the standard controls.

#include "platform/controls/control_support.h"

#include <algorithm>
#include <vector>

namespace qob::platform::controls {

void SetStatePointer(HWND control, void* state) {
    SetWindowLongPtrW(control, 0, reinterpret_cast<intptr_t>(state));
}

void RegisterControlClass(const char16_t* name, WNDPROC procedure, UINT style) {
    WNDCLASSW windowClass;
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = sizeof(void*);
    windowClass.lpszClassName = name;
    (void)RegisterClassW(&windowClass);
}

void NotifyParent(HWND control, UINT code) {
    const HWND parent = GetParent(control);
    if (!parent) return;
    const auto id = static_cast<WPARAM>(GetWindowLongPtrW(control, GWL_ID)) & 0xFFFF;
    SendMessageW(parent, WM_COMMAND, id | (static_cast<WPARAM>(code & 0xFFFF) << 16), static_cast<LPARAM>(control));
}

HBRUSH AskParentColours(HWND control, HDC dc, UINT message, int defaultBack, int defaultText) {
    SetTextColor(dc, GetSysColor(defaultText));
    SetBkColor(dc, GetSysColor(defaultBack));
    const HWND parent = GetParent(control);
    const LRESULT answer =
        parent ? SendMessageW(parent, message, static_cast<WPARAM>(dc), static_cast<LPARAM>(control)) : 0;
    if (answer != 0) return static_cast<HBRUSH>(answer);
    return GetSysColorBrush(defaultBack);
}

namespace {

// A DC that measures in the font; deleted with the object.
class MeasuringDC {
public:
    explicit MeasuringDC(HFONT font) : dc_(CreateCompatibleDC(0)) {
        if (dc_ && font) SelectObject(dc_, font);
    }
    ~MeasuringDC() {
        if (dc_) DeleteDC(dc_);
    }
    MeasuringDC(const MeasuringDC&) = delete;
    MeasuringDC& operator=(const MeasuringDC&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

}  // namespace

int32_t LineHeight(HFONT font) {
    MeasuringDC dc(font);
    TEXTMETRICW metrics{};
    if (!dc.get() || !GetTextMetricsW(dc.get(), &metrics) || metrics.tmHeight <= 0) return 16;
    return metrics.tmHeight;
}

int32_t TextWidth(HFONT font, std::u16string_view text) {
    if (text.empty()) return 0;
    MeasuringDC dc(font);
    SIZE size{};
    if (!dc.get() || !GetTextExtentPoint32W(dc.get(), text.data(), static_cast<int>(text.size()), &size)) return 0;
    return size.cx;
}

size_t CharacterAt(HFONT font, std::u16string_view text, int32_t x) {
    if (text.empty() || x <= 0) return 0;
    MeasuringDC dc(font);
    std::vector<int> extents(text.size());
    SIZE size{};
    if (!dc.get() || !GetTextExtentExPointW(dc.get(), text.data(), static_cast<int>(text.size()), 0, nullptr,
                                            extents.data(), &size))
        return 0;
    int previous = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // Nearer to the boundary before the character, or after it.
        if (x < extents[i]) return (x - previous) < (extents[i] - x) ? i : i + 1;
        previous = extents[i];
    }
    return text.size();
}

// Up to the terminator rather than the answer's count: a procedure in front
// of the control that passes WM_GETTEXT on (a script's inherited) answers
// for itself, not with the count copied.
std::u16string WindowText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::u16string text(static_cast<size_t>(std::max(length, 0)) + 1, u'\0');
    (void)GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    text.resize(std::min(std::char_traits<char16_t>::length(text.c_str()), text.size() - 1));
    return text;
}

void PaintBorder(HWND control) {
    if (!(static_cast<uint32_t>(GetWindowLongPtrW(control, GWL_STYLE)) & WS_BORDER)) return;
    const HDC dc = GetWindowDC(control);
    if (!dc) return;
    RECT rect{};
    GetWindowRect(control, &rect);
    const RECT frame{0, 0, rect.right - rect.left, rect.bottom - rect.top};
    FrameRect(dc, &frame, GetSysColorBrush(COLOR_WINDOWFRAME));
    ReleaseDC(control, dc);
}

void Repaint(HWND control) {
    InvalidateRect(control, nullptr, true);
}

std::u16string_view ViewOf(const char16_t* text) {
    if (!text) return {};
    size_t length = 0;
    while (text[length]) ++length;
    return {text, length};
}

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return folded;
}

}  // namespace qob::platform::controls
