// windows/forms.cpp
// newform, newformex and the form window procedure.

#include "windows/forms.h"

#include <cstring>
#include <map>
#include <vector>

#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/event_calls.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"
#include "windows/script_arguments.h"
#include "windows/window_records.h"
#include "windows/window_system.h"

namespace qob {

uint32_t InputWaitTime = 0;
int32_t ModalResult = 0;

namespace {

using namespace platform;

bool DoubleClicksWanted() {
    const VariableRecord* constant = FindVariable("CS_DBLCLKS%", 0);
    return constant && constant->value == 1.0;
}

ActivateInfo* RequireActivateInfo(WindowRecord* record) {
    if (!record->activateInfo) record->activateInfo = AllocateZeroedBlock(sizeof(ActivateInfo));
    return static_cast<ActivateInfo*>(record->activateInfo);
}

void HideInputPanelIfAny() {
    if (const HWND panel = FindWindowW(u"SipWndClass", nullptr)) HideInputPanel(panel);
}

// One brush per colour that a control was coloured with: WM_CTLCOLOR comes
// at every paint of the control.
std::map<COLORREF, HBRUSH> gControlBrushes;

HBRUSH ControlBrush(COLORREF colour) {
    auto found = gControlBrushes.find(colour);
    if (found != gControlBrushes.end()) return found->second;
    const HBRUSH brush = CreateSolidBrush(colour);
    if (brush) gControlBrushes.emplace(colour, brush);
    return brush;
}

}  // namespace

// The colours of a control (its record's), for WM_CTLCOLOR*.
LRESULT ColourControl(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WindowRecord* control = FindWindowRecordByHandle(static_cast<HWND>(lParam), nullptr);
    const COLORREF text = control ? control->textColour : 0;
    const COLORREF back = control ? control->backColour : 0;
    const auto dc = static_cast<HDC>(wParam);
    if (text) {
        SetTextColor(dc, text);
        SetBkColor(dc, SYS_COLOR_INDEX_FLAG | COLOR_BTNFACE);
    }
    if (back) {
        SetBkColor(dc, back);
        return static_cast<LRESULT>(ControlBrush(back));
    }
    if (text) return static_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    return DefWindowProcW(window, message, wParam, lParam);
}

namespace {

// WM_ERASEBKGND of a form: its back colour, else white.
LRESULT EraseForm(HWND window, const WindowRecord* record, HDC dc) {
    RECT client{};
    GetClientRect(window, &client);
    if (record->backColour) {
        const HBRUSH brush = CreateSolidBrush(record->backColour);
        FillRect(dc, &client, brush);
        DeleteObject(brush);
    } else {
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    return 1;
}

struct FormRequest {
    std::u16string title;
    std::u16string className;
    const char* className8;
    uint32_t exStyle;
    uint32_t style;
    int32_t x, y, width, height;
    Instruction* procedure;
    bool extended;  // newformex
};

HWND CreateForm(const FormRequest& request) {
    if (!RegisterFormClass(request.className)) return 0;
    EnsureScreenWindow();
    const int32_t height = request.extended ? request.height + kMenuBarHeight : request.height;
    const HWND window = CreateWindowExW(request.exStyle, request.className.c_str(), request.title.c_str(),
                                        request.style, request.x, request.y, request.width, height, 0, 0, 0, nullptr);
    if (!window) return 0;
    const HFONT font = SetDefaultFont(window);
    const HWND bar = CreateMenuBar(window);
    if (bar) ShowMenuBar(bar, !request.extended);
    WindowRecord* record = AddWindowRecord(CurrentContext, window, nullptr, bar, request.procedure);
    if (!record) {
        DestroyWindow(window);
        DeleteObject(font);
        return 0;
    }
    record->font = font;
    record->className = CopyTextToBlock(request.className8);
    record->formClassName = CopyWideToBlock(request.className);
    record->noSettingChange = request.extended ? 1 : 0;
    CallWindowEvent(window, WM_CREATE, 0, 0);
    if (!IsWindow(window)) return window;
    RECT rect{};
    GetWindowRect(window, &rect);
    if (RECT barRect{}; bar && GetWindowRect(bar, &barRect)) rect.bottom -= barRect.bottom - barRect.top;
    MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, false);
    SendMessageW(window, WM_SETTINGCHANGE, 0, 0);
    if (!request.extended) UpdateWindow(window);
    return window;
}

// The stylus steps on a game form: the game point, the sprite under it and
// the one the stylus leaves. False when the message is swallowed.
bool RouteStylus(const WindowRecord* record, UINT message, LPARAM lParam, int32_t* gameX, int32_t* gameY) {
    const bool press = message != WM_MOUSEMOVE && message != WM_LBUTTONUP && message != 0x0205 && message != 0x0208;
    if (press && InputWaitTime != 0) {
        InputWaitTime = 0;
        return false;
    }
    POINT point{static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
    if (RotatePointForDisplay) RotatePointForDisplay(&point);
    point.x += static_cast<int32_t>(ViewOffset.x);
    point.y += static_cast<int32_t>(ViewOffset.y);
    auto relative = [&](const SpriteView& view, int32_t* rx, int32_t* ry) {
        *rx = point.x - static_cast<int32_t>(view.x);
        *ry = point.y - static_cast<int32_t>(view.y);
        if (view.options & kSpriteFixedX) *rx -= static_cast<int32_t>(ViewOffset.x);
        if (view.options & kSpriteFixedY) *ry -= static_cast<int32_t>(ViewOffset.y);
    };
    auto runSprite = [&](void* sprite, const SpriteView& view, UINT what) {
        int32_t rx = 0, ry = 0;
        relative(view, &rx, &ry);
        const auto handle = static_cast<int32_t>(reinterpret_cast<uintptr_t>(sprite));
        if (!record || !view.procedure) return;
        const int32_t result = RunWindowEventProcedure(view.owner, view.procedure, handle, static_cast<int32_t>(what), rx, ry);
        LastEventResult = result;
        if (EventTable && result != 0) LastEventResult = DispatchEvent(static_cast<uint32_t>(handle), what, rx, ry);
    };
    void* hit = FindSpriteAtPoint ? FindSpriteAtPoint(point.x, point.y, 1) : nullptr;
    SpriteView view{};
    if (hit && !(DescribeSprite && DescribeSprite(hit, &view))) hit = nullptr;
    if (hit) runSprite(hit, view, message);
    // The sprite the stylus left: only while it is still a live sprite.
    if (HoveredSprite && HoveredSprite != hit) {
        SpriteView left{};
        if (DescribeSprite && DescribeSprite(HoveredSprite, &left)) runSprite(HoveredSprite, left, 1026);
    }
    HoveredSprite = hit && !view.lifetimeEnded ? hit : nullptr;
    *gameX = point.x;
    *gameY = point.y;
    return true;
}

}  // namespace

bool RegisterFormClass(const std::u16string& name) {
    if (name.empty()) return false;
    WNDCLASSW windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | (DoubleClicksWanted() ? CS_DBLCLKS : 0);
    windowClass.lpfnWndProc = FormWindowProc;
    windowClass.hCursor = 0;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = name.c_str();
    (void)RegisterClassW(&windowClass);
    WNDCLASSW registered;
    return GetClassInfoW(0, name.c_str(), &registered) && registered.lpfnWndProc == FormWindowProc &&
           registered.hCursor == 0;
}

LRESULT FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ProgramContext* context = nullptr;
    WindowRecord* record = FindWindowRecordByHandle(window, &context);
    LastEventResult = 1;
    auto word = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    auto value = static_cast<int32_t>(static_cast<uint32_t>(lParam));

    // Step 1: what comes before the event procedure.
    if (message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC) return ColourControl(window, message, wParam, lParam);
    switch (message) {
    case WM_KEYDOWN:
        if (GameWindow && InputWaitTime != 0) {
            InputWaitTime = 0;
            return 0;
        }
        break;
    case WM_ACTIVATE:
        if (record) HandleShellActivate(window, wParam, lParam, RequireActivateInfo(record), 0);
        break;
    case WM_SHOWWINDOW:
        HideInputPanelIfAny();
        ShowWindow(window, SW_HIDE);
        break;
    case WM_SETTINGCHANGE:
        if (record && !record->noSettingChange)
            HandleShellSettingChange(window, wParam, lParam, RequireActivateInfo(record));
        break;
    case WM_NCDESTROY:
        // A form destroyed another way than through its record (WM_CLOSE of
        // a second form, its owner's end) takes its record along.
        if (record && !record->destroying) {
            DestroyWindowRecords(context, record);
            record = nullptr;
        }
        break;
    default:
        if (message >= WM_MOUSEMOVE && message <= WM_MBUTTONDBLCLK && GameWindow) {
            if (!RouteStylus(record, message, lParam, &word, &value)) return 0;
        }
        break;
    }

    // Step 2: the event procedure, then the event table.
    const int32_t result = RunRecordEvents(window, record, context, message, word, value);
    if (!IsWindow(window)) return result == 0 ? 1 : 0;
    record = FindWindowRecordByHandle(window, &context);

    // Step 3: the default processing.
    if (result == 1) {
        switch (message) {
        case WM_ERASEBKGND:
            if (!record) return 0;
            return EraseForm(window, record, static_cast<HDC>(wParam));
        case WM_WINDOWPOSCHANGED:
            if (const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam); position && position->hwndInsertAfter) {
                char16_t text[100] = {};
                GetWindowTextW(position->hwndInsertAfter, text, 100);
                if (std::u16string_view(text) == u"Desktop") (void)PostMessageW(window, WM_CLOSE, 0, 0);
            }
            break;
        case WM_CLOSE:
            if (record) ShowMenuBar(record->menuBar, false);
            HideInputPanelIfAny();
            ShowWindow(window, SW_HIDE);
            if (!record) break;
            if (record->modal) ModalResult = 2;
            if (record->firstWindow) {
                if (!record->modal)
                    (void)PostMessageW(0, kEndApplicationMessage, 0, reinterpret_cast<LPARAM>(context));
            } else {
                DefWindowProcW(window, message, wParam, lParam);
            }
            break;
        case WM_SETFOCUS:
            if (!GameWindow) return 0;
            if (ResumeGraphics) ResumeGraphics(GameWindow);
            if (GameState != 2) {
                if (SoundResumeDevice) SoundResumeDevice();
                GameState = SavedGameState;
            }
            if (GameDirtyRects.mode != 0) AddDirtyRect(GameDirtyRects, GameDirtyRects.screen);
            break;
        case WM_KILLFOCUS:
            if (!GameWindow) return 0;
            if (GameState != 2) {
                if (SoundPauseDevice) SoundPauseDevice();
                SavedGameState = GameState;
                GameState = 1;
            }
            RequestFullScreen(GameWindow, 0x2A);
            break;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    }
    // Step 4.
    return result == 0 ? 1 : 0;
}

HFONT SetDefaultFont(HWND window) {
    LOGFONTW description{};
    description.lfHeight = -12;
    description.lfCharSet = 1;
    const std::u16string_view face = u"MS Sans Serif";
    std::copy(face.begin(), face.end(), description.lfFaceName);
    const HFONT font = CreateFontIndirectW(&description);
    SendMessageW(window, WM_SETFONT, static_cast<WPARAM>(font), 1);
    return font;
}

void DeleteControlColourBrushes() {
    for (const auto& [colour, brush] : gControlBrushes) DeleteObject(brush);
    gControlBrushes.clear();
}

void Builtin_newform() {
    Instruction* procedure = ProcedureArgument(PopNumber());
    const char* className = StackEntryString(PopStackEntry());
    const std::u16string wideClass = WideFromAnsi(className);
    const std::string className8 = className ? className : "";
    const char* title = StackEntryString(PopStackEntry());
    const FormRequest request{WideFromAnsi(title), wideClass, className8.c_str(), 0, WS_VISIBLE, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, procedure, false};
    PushNumber(static_cast<double>(CreateForm(request)));
}

void Builtin_newformex() {
    Instruction* procedure = ProcedureArgument(PopNumber());
    const auto height = static_cast<int32_t>(TruncToInt64(PopNumber()));
    const auto width = static_cast<int32_t>(TruncToInt64(PopNumber()));
    const auto y = static_cast<int32_t>(TruncToInt64(PopNumber()));
    const auto x = static_cast<int32_t>(TruncToInt64(PopNumber()));
    const auto style = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    const auto exStyle = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    const char* className = StackEntryString(PopStackEntry());
    const std::u16string wideClass = WideFromAnsi(className);
    const std::string className8 = className ? className : "";
    const char* title = StackEntryString(PopStackEntry());
    const FormRequest request{WideFromAnsi(title), wideClass, className8.c_str(), exStyle, style, x, y, width, height,
                              procedure, true};
    PushNumber(static_cast<double>(CreateForm(request)));
}

}  // namespace qob
