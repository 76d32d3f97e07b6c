// platform/controls/edit.cpp
// The EDIT control: single- and multi-line text with a caret and a selection,
// edited by characters, Backspace and Delete, moved by arrows, Home and End
// and by the stylus, read-only on request. A multi-line edit breaks its text
// at "\r\n" (or a lone "\n") and, without ES_AUTOHSCROLL, also wraps words at
// its right edge; positions count every character, line breaks included.

#include <algorithm>
#include <string>
#include <vector>

#include "platform/controls/control_support.h"
#include "platform/controls/standard_controls.h"

namespace qob::platform {
namespace {

using namespace controls;

struct Line {
    size_t start;
    size_t length;  // without the line break
};

struct EditState {
    std::u16string text;
    size_t anchor = 0;  // the fixed end of the selection
    size_t caret = 0;   // the moving end, where the caret stands
    HFONT font = 0;
    size_t firstLine = 0;   // multi-line: the top line shown
    int32_t scrollX = 0;    // single-line: pixels scrolled left
    bool focused = false;
    bool dragging = false;
    bool modified = false;
    size_t limit = 0x7FFFFFFE;
};

uint32_t StyleOf(HWND window) {
    return static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
}
bool IsMultiLine(HWND window) {
    return (StyleOf(window) & ES_MULTILINE) != 0;
}

size_t SelectionStart(const EditState& s) {
    return std::min(s.anchor, s.caret);
}
size_t SelectionEnd(const EditState& s) {
    return std::max(s.anchor, s.caret);
}

int32_t ClientWidth(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.right - client.left;
}

int32_t ClientHeight(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.bottom - client.top;
}

// The end of the text's next word-wrapped piece from start (at most end):
// after the last blank that still fits, else as many characters as fit (at
// least one).
size_t WrapEnd(const EditState& s, size_t start, size_t end, int32_t width) {
    const std::u16string_view piece(s.text.data() + start, end - start);
    if (TextWidth(s.font, piece) <= width) return end;
    size_t fit = std::max<size_t>(1, CharacterAt(s.font, piece, width));
    while (fit > 1 && TextWidth(s.font, piece.substr(0, fit)) > width) --fit;
    for (size_t i = fit; i > 0; --i)
        if (piece[i - 1] == u' ') return start + i;
    return start + fit;
}

// The lines of the text as the control shows them.
std::vector<Line> LayOut(HWND window, const EditState& s) {
    std::vector<Line> lines;
    if (!IsMultiLine(window)) {
        lines.push_back(Line{0, s.text.size()});
        return lines;
    }
    const bool wrap = !(StyleOf(window) & ES_AUTOHSCROLL);
    const int32_t width = ClientWidth(window) - 2 * kEditMarginX;
    size_t start = 0;
    for (;;) {
        size_t end = s.text.find(u'\n', start);
        const bool lastHard = end == std::u16string::npos;
        if (lastHard) end = s.text.size();
        size_t contentEnd = end;
        if (!lastHard && contentEnd > start && s.text[contentEnd - 1] == u'\r') --contentEnd;
        size_t from = start;
        while (wrap && width > 0 && from < contentEnd) {
            const size_t cut = WrapEnd(s, from, contentEnd, width);
            if (cut >= contentEnd) break;
            lines.push_back(Line{from, cut - from});
            from = cut;
        }
        lines.push_back(Line{from, contentEnd - from});
        if (lastHard) break;
        start = end + 1;
    }
    return lines;
}

// The line holding the character position (a position on a break belongs to
// the line before it).
size_t LineOf(const std::vector<Line>& lines, size_t position) {
    for (size_t i = lines.size(); i > 0; --i)
        if (lines[i - 1].start <= position) return i - 1;
    return 0;
}

void Notify(HWND window, UINT code) {
    NotifyParent(window, code);
}

// Keeps the caret in view: the line in the rows shown, the column in the width.
void ScrollToCaret(HWND window, EditState& s) {
    const std::vector<Line> lines = LayOut(window, s);
    if (IsMultiLine(window)) {
        const size_t line = LineOf(lines, s.caret);
        const int32_t lineHeight = LineHeight(s.font);
        const size_t rows = static_cast<size_t>(std::max(1, (ClientHeight(window) - kEditMarginY) / lineHeight));
        if (line < s.firstLine) s.firstLine = line;
        if (line >= s.firstLine + rows) s.firstLine = line - rows + 1;
        return;
    }
    const int32_t caretX = TextWidth(s.font, std::u16string_view(s.text).substr(0, s.caret));
    const int32_t visible = std::max(1, ClientWidth(window) - 2 * kEditMarginX);
    if (caretX < s.scrollX) s.scrollX = std::max(0, caretX - visible / 3);
    if (caretX > s.scrollX + visible) s.scrollX = caretX - visible + visible / 3;
}

void SetSelection(HWND window, EditState& s, size_t anchor, size_t caret) {
    s.anchor = std::min(anchor, s.text.size());
    s.caret = std::min(caret, s.text.size());
    ScrollToCaret(window, s);
    Repaint(window);
}

// Puts the text into the window manager's title too, so that the shell and
// tests that read titles see it.
void MirrorTitle(HWND window, const EditState& s) {
    DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.text.c_str()));
}

// Replaces the selection with text; EN_CHANGE when the text changed. The
// state may be gone once the parent has been told.
void ReplaceSelection(HWND window, EditState& s, std::u16string_view text) {
    const size_t start = SelectionStart(s);
    const size_t end = SelectionEnd(s);
    const size_t room = s.limit > s.text.size() - (end - start) ? s.limit - (s.text.size() - (end - start)) : 0;
    text = text.substr(0, std::min(text.size(), room));
    if (text.empty() && start == end) return;
    s.text.replace(start, end - start, text);
    s.anchor = s.caret = start + text.size();
    s.modified = true;
    MirrorTitle(window, s);
    ScrollToCaret(window, s);
    Repaint(window);
    Notify(window, EN_CHANGE);
}

// The character before or after a position, a "\r\n" counting as one step.
size_t StepBack(const EditState& s, size_t position) {
    if (position == 0) return 0;
    if (position >= 2 && s.text[position - 1] == u'\n' && s.text[position - 2] == u'\r') return position - 2;
    return position - 1;
}
size_t StepForward(const EditState& s, size_t position) {
    if (position >= s.text.size()) return s.text.size();
    if (s.text[position] == u'\r' && position + 1 < s.text.size() && s.text[position + 1] == u'\n')
        return position + 2;
    return position + 1;
}

bool IsReadOnly(HWND window) {
    return (StyleOf(window) & ES_READONLY) != 0;
}

void TypeCharacter(HWND window, EditState& s, char16_t c) {
    if (IsReadOnly(window)) return;
    const uint32_t style = StyleOf(window);
    if (c == VK_BACK) {
        if (SelectionStart(s) == SelectionEnd(s)) s.anchor = StepBack(s, s.caret);
        ReplaceSelection(window, s, u"");
        return;
    }
    if (c == u'\r') {
        if (style & ES_MULTILINE) ReplaceSelection(window, s, u"\r\n");
        return;
    }
    if (c == u'\t') {
        if (style & ES_MULTILINE) ReplaceSelection(window, s, u"\t");
        return;
    }
    if (c < 0x20 || c == 0x7F) return;
    if ((style & ES_NUMBER) && (c < u'0' || c > u'9')) return;
    if ((style & ES_UPPERCASE) && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if ((style & ES_LOWERCASE) && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    ReplaceSelection(window, s, std::u16string_view(&c, 1));
}

// Arrows, Home, End and Delete.
void PressKey(HWND window, EditState& s, uint32_t key) {
    const std::vector<Line> lines = LayOut(window, s);
    const size_t line = LineOf(lines, s.caret);
    const bool selection = s.anchor != s.caret;
    size_t target = s.caret;
    switch (key) {
    case VK_LEFT:
        target = selection ? SelectionStart(s) : StepBack(s, s.caret);
        break;
    case VK_RIGHT:
        target = selection ? SelectionEnd(s) : StepForward(s, s.caret);
        break;
    case VK_HOME:
        target = lines[line].start;
        break;
    case VK_END:
        target = lines[line].start + lines[line].length;
        break;
    case VK_UP:
    case VK_DOWN: {
        if (!IsMultiLine(window)) return;
        if ((key == VK_UP && line == 0) || (key == VK_DOWN && line + 1 >= lines.size())) return;
        const size_t next = key == VK_UP ? line - 1 : line + 1;
        const size_t column = s.caret - lines[line].start;
        target = lines[next].start + std::min(column, lines[next].length);
        break;
    }
    case VK_DELETE:
        if (IsReadOnly(window)) return;
        if (!selection) s.anchor = StepForward(s, s.caret);
        ReplaceSelection(window, s, u"");
        return;
    default:
        return;
    }
    SetSelection(window, s, target, target);
}

// The character position nearest to a client point.
size_t PositionAt(HWND window, const EditState& s, int32_t x, int32_t y) {
    const std::vector<Line> lines = LayOut(window, s);
    size_t line = 0;
    int32_t left = kEditMarginX;
    if (IsMultiLine(window)) {
        const int32_t row = std::max(0, (y - kEditMarginY) / LineHeight(s.font));
        line = std::min(lines.size() - 1, s.firstLine + static_cast<size_t>(row));
    } else {
        left -= s.scrollX;
    }
    const Line& shown = lines[line];
    return shown.start + CharacterAt(s.font, std::u16string_view(s.text).substr(shown.start, shown.length), x - left);
}

void FillSolid(HDC dc, RECT rect, COLORREF colour) {
    const HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void Paint(HWND window, EditState& s) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    if (!dc) return;
    const bool quiet = IsReadOnly(window) || !IsWindowEnabled(window);
    const HBRUSH brush = quiet ? AskParentColours(window, dc, WM_CTLCOLORSTATIC, COLOR_STATIC, COLOR_STATICTEXT)
                               : AskParentColours(window, dc, WM_CTLCOLOREDIT, COLOR_WINDOW, COLOR_WINDOWTEXT);
    // The parent may have destroyed the control while it answered.
    EditState* state = StateOf<EditState>(window);
    if (!state) {
        EndPaint(window, &paint);
        return;
    }
    RECT client{};
    GetClientRect(window, &client);
    FillRect(dc, &client, brush);
    if (s.font) SelectObject(dc, s.font);
    SetBkMode(dc, TRANSPARENT);
    const COLORREF textColour = IsWindowEnabled(window) ? GetTextColor(dc) : GetSysColor(COLOR_GRAYTEXT);
    const std::vector<Line> lines = LayOut(window, s);
    const int32_t lineHeight = LineHeight(s.font);
    const bool multi = IsMultiLine(window);
    const bool showSelection = s.focused || (StyleOf(window) & ES_NOHIDESEL);
    const size_t selStart = SelectionStart(s);
    const size_t selEnd = SelectionEnd(s);
    const size_t first = multi ? s.firstLine : 0;
    const int32_t left = kEditMarginX - (multi ? 0 : s.scrollX);
    for (size_t i = first; i < lines.size(); ++i) {
        const int32_t top = kEditMarginY + static_cast<int32_t>(i - first) * lineHeight;
        if (top >= client.bottom) break;
        const std::u16string_view text = std::u16string_view(s.text).substr(lines[i].start, lines[i].length);
        SetTextColor(dc, textColour);
        ExtTextOutW(dc, left, top, 0, nullptr, text.data(), static_cast<uint32_t>(text.size()), nullptr);
        const size_t lineEnd = lines[i].start + lines[i].length;
        if (showSelection && selStart < selEnd && selStart < lineEnd && selEnd > lines[i].start) {
            const size_t from = std::max(selStart, lines[i].start) - lines[i].start;
            const size_t to = std::min(selEnd, lineEnd) - lines[i].start;
            const int32_t x0 = left + TextWidth(s.font, text.substr(0, from));
            const int32_t x1 = left + TextWidth(s.font, text.substr(0, to));
            FillSolid(dc, RECT{x0, top, x1, top + lineHeight}, GetSysColor(COLOR_HIGHLIGHT));
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
            const std::u16string_view selected = text.substr(from, to - from);
            ExtTextOutW(dc, x0, top, 0, nullptr, selected.data(), static_cast<uint32_t>(selected.size()), nullptr);
        }
    }
    if (s.focused && selStart == selEnd) {
        const size_t line = LineOf(lines, s.caret);
        if (line >= first) {
            const int32_t top = kEditMarginY + static_cast<int32_t>(line - first) * lineHeight;
            const std::u16string_view before =
                std::u16string_view(s.text).substr(lines[line].start, s.caret - lines[line].start);
            const int32_t x = left + TextWidth(s.font, before);
            FillSolid(dc, RECT{x, top, x + 1, top + lineHeight}, textColour);
        }
    }
    EndPaint(window, &paint);
    PaintBorder(window);
}

LRESULT GetSelection(const EditState& s, WPARAM wParam, LPARAM lParam) {
    const auto start = static_cast<uint32_t>(SelectionStart(s));
    const auto end = static_cast<uint32_t>(SelectionEnd(s));
    if (wParam) *reinterpret_cast<uint32_t*>(wParam) = start;
    if (lParam) *reinterpret_cast<uint32_t*>(lParam) = end;
    return static_cast<LRESULT>((start & 0xFFFF) | ((end & 0xFFFF) << 16));
}

void SetSelectionMessage(HWND window, EditState& s, WPARAM wParam, LPARAM lParam) {
    const auto start = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    const auto end = static_cast<int32_t>(static_cast<uint32_t>(lParam));
    if (start < 0) {
        SetSelection(window, s, s.caret, s.caret);
        return;
    }
    const size_t to = end < 0 ? s.text.size() : static_cast<size_t>(end);
    SetSelection(window, s, static_cast<size_t>(start), to);
}

LRESULT LineIndex(HWND window, const EditState& s, WPARAM wParam) {
    const std::vector<Line> lines = LayOut(window, s);
    const auto line = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    if (line < 0) return static_cast<LRESULT>(lines[LineOf(lines, s.caret)].start);
    if (static_cast<size_t>(line) >= lines.size()) return -1;
    return static_cast<LRESULT>(lines[static_cast<size_t>(line)].start);
}

LRESULT LineLength(HWND window, const EditState& s, WPARAM wParam) {
    const std::vector<Line> lines = LayOut(window, s);
    const auto index = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    if (index < 0) {
        const Line& first = lines[LineOf(lines, SelectionStart(s))];
        const Line& last = lines[LineOf(lines, SelectionEnd(s))];
        const size_t before = SelectionStart(s) - first.start;
        const size_t lastEnd = last.start + last.length;
        const size_t after = lastEnd > SelectionEnd(s) ? lastEnd - SelectionEnd(s) : 0;
        return static_cast<LRESULT>(before + after);
    }
    const size_t position = std::min(static_cast<size_t>(index), s.text.size());
    return static_cast<LRESULT>(lines[LineOf(lines, position)].length);
}

LRESULT GetLine(HWND window, const EditState& s, WPARAM wParam, LPARAM lParam) {
    auto* buffer = reinterpret_cast<char16_t*>(lParam);
    if (!buffer) return 0;
    const size_t size = static_cast<uint16_t>(buffer[0]);
    const std::vector<Line> lines = LayOut(window, s);
    const size_t line = IsMultiLine(window) ? static_cast<size_t>(static_cast<uint32_t>(wParam)) : 0;
    if (line >= lines.size()) return 0;
    const size_t count = std::min(size, lines[line].length);
    std::copy_n(s.text.data() + lines[line].start, count, buffer);
    return static_cast<LRESULT>(count);
}

LRESULT SetText(HWND window, EditState& s, LPARAM lParam) {
    const std::u16string_view text = ViewOf(reinterpret_cast<const char16_t*>(lParam));
    const bool changed = text != s.text;
    s.text.assign(text);
    s.anchor = s.caret = 0;
    s.firstLine = 0;
    s.scrollX = 0;
    s.modified = false;
    MirrorTitle(window, s);
    Repaint(window);
    if (changed) Notify(window, EN_CHANGE);
    return 1;
}

LRESULT GetText(const EditState& s, WPARAM wParam, LPARAM lParam) {
    auto* buffer = reinterpret_cast<char16_t*>(lParam);
    if (!buffer || wParam == 0) return 0;
    const size_t count = std::min(s.text.size(), static_cast<size_t>(wParam) - 1);
    std::copy_n(s.text.data(), count, buffer);
    buffer[count] = 0;
    return static_cast<LRESULT>(count);
}

LRESULT EditWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        // A control that has its state keeps it: a second WM_CREATE (a
        // procedure passing its own on again) must not start it afresh.
        if (StateOf<EditState>(window)) return 0;
        auto* state = new EditState;
        if (const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam); create && create->lpszName)
            state->text.assign(ViewOf(reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(create->lpszName))));
        else
            state->text = WindowTitle(window);
        SetStatePointer(window, state);
        return 0;
    }
    EditState* state = StateOf<EditState>(window);
    if (message == WM_NCDESTROY) {
        delete state;
        SetStatePointer(window, nullptr);
        return 0;
    }
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    EditState& s = *state;
    switch (message) {
    case WM_PAINT:
        Paint(window, s);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT fills the whole client area
    case WM_SETFONT:
        s.font = static_cast<HFONT>(wParam);
        if (lParam) Repaint(window);
        return 0;
    case WM_GETFONT:
        return static_cast<LRESULT>(s.font);
    case WM_SETTEXT:
        return SetText(window, s, lParam);
    case WM_GETTEXT:
        return GetText(s, wParam, lParam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(s.text.size());
    case WM_SETFOCUS:
        s.focused = true;
        Repaint(window);
        Notify(window, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        s.focused = false;
        Repaint(window);
        Notify(window, EN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        Repaint(window);
        return 0;
    case WM_SIZE:
        ScrollToCaret(window, s);
        return 0;
    case WM_CHAR:
        TypeCharacter(window, s, static_cast<char16_t>(wParam));
        return 0;
    case WM_KEYDOWN:
        PressKey(window, s, static_cast<uint32_t>(wParam));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        if (GetFocus() != window) SetFocus(window);
        EditState* again = StateOf<EditState>(window);
        if (!again) return 0;
        const size_t position = PositionAt(window, *again, static_cast<int16_t>(lParam & 0xFFFF),
                                           static_cast<int16_t>((lParam >> 16) & 0xFFFF));
        again->dragging = true;
        SetCapture(window);
        SetSelection(window, *again, position, position);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (s.dragging) {
            const size_t position = PositionAt(window, s, static_cast<int16_t>(lParam & 0xFFFF),
                                               static_cast<int16_t>((lParam >> 16) & 0xFFFF));
            SetSelection(window, s, s.anchor, position);
        }
        return 0;
    case WM_LBUTTONUP:
        if (s.dragging) {
            s.dragging = false;
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        s.dragging = false;
        return 0;
    case EM_GETSEL:
        return GetSelection(s, wParam, lParam);
    case EM_SETSEL:
        SetSelectionMessage(window, s, wParam, lParam);
        return 1;
    case EM_REPLACESEL:
        ReplaceSelection(window, s, ViewOf(reinterpret_cast<const char16_t*>(lParam)));
        return 0;
    case EM_GETLINECOUNT:
        return static_cast<LRESULT>(LayOut(window, s).size());
    case EM_LINEINDEX:
        return LineIndex(window, s, wParam);
    case EM_LINELENGTH:
        return LineLength(window, s, wParam);
    case EM_LINEFROMCHAR: {
        const std::vector<Line> lines = LayOut(window, s);
        const auto index = static_cast<int32_t>(static_cast<uint32_t>(wParam));
        const size_t position = index < 0 ? SelectionStart(s) : std::min(static_cast<size_t>(index), s.text.size());
        return static_cast<LRESULT>(LineOf(lines, position));
    }
    case EM_GETLINE:
        return GetLine(window, s, wParam, lParam);
    case EM_GETMODIFY:
        return s.modified ? 1 : 0;
    case EM_SETMODIFY:
        s.modified = wParam != 0;
        return 0;
    case EM_LIMITTEXT:
        s.limit = wParam == 0 ? 0x7FFFFFFE : static_cast<size_t>(wParam);
        return 0;
    case EM_SETREADONLY: {
        const uint32_t style = StyleOf(window);
        SetWindowLongPtrW(window, GWL_STYLE,
                          static_cast<intptr_t>(wParam ? (style | ES_READONLY) : (style & ~ES_READONLY)));
        Repaint(window);
        return 1;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void RegisterEditClass() {
    RegisterControlClass(kEditClass, EditWindowProc, CS_DBLCLKS);
}

}  // namespace qob::platform
