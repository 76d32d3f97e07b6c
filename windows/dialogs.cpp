// windows/dialogs.cpp
// newdlg, showmodal, the dialog and control-subclass window procedures and
// the small window built-ins.

#include "windows/dialogs.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/event_calls.h"
#include "windows/event_table.h"
#include "windows/forms.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"
#include "windows/script_arguments.h"
#include "windows/window_records.h"
#include "windows/window_system.h"

namespace qob {

platform::HWND ModalWindow = 0;

namespace {

using namespace platform;

// The caption-OK extended style and the style newdlg gives a dialog.
constexpr uint32_t kDialogExStyle = 0x80000000u;
constexpr uint32_t kDialogStyle = 0x80C00244u;
// A modal window's top never lies above the task bar.
constexpr int32_t kModalTopLimit = 26;

std::string Narrow(const std::u16string& text) {
    return EncodeAnsi(std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(text.data()), text.size()));
}

int32_t PopInt() { return static_cast<int32_t>(static_cast<uint32_t>(TruncToInt64(PopNumber()))); }

HWND PopWindow() { return static_cast<HWND>(static_cast<uint32_t>(TruncToInt64(PopNumber()))); }

ActivateInfo* RequireActivateInfo(WindowRecord* record) {
    if (!record->activateInfo) record->activateInfo = AllocateZeroedBlock(sizeof(ActivateInfo));
    return static_cast<ActivateInfo*>(record->activateInfo);
}

bool IsEnding(const ProgramContext* context) { return context == EndingContext || context->endPending; }

// Runs the record's event procedure and then the event table, as every
// window procedure here does first; the result goes to LastEventResult.
int32_t RunEventsOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ProgramContext* context = nullptr;
    const WindowRecord* record = FindWindowRecordByHandle(window, &context);
    const auto word = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    const auto value = static_cast<int32_t>(static_cast<uint32_t>(lParam));
    LastEventResult = 1;
    return RunRecordEvents(window, record, context, message, word, value);
}

LRESULT EraseDialog(HWND window, const WindowRecord* record, HDC dc) {
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

void SetRecordColour(bool back) {
    const auto colour = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    const HWND window = PopWindow();
    WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    if (!record) return;
    if (back) record->backColour = colour;
    else record->textColour = colour;
    InvalidateRect(window, nullptr, true);
}

void RunGameLoopWith(void (*loop)()) {
    const auto limit = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    *GameLoops.runTimeLimit = limit;
    *GameLoops.frameRateHistoryCount = 0;
    if (loop) loop();
}

}  // namespace

bool RegisterDialogClass(const std::u16string& name) {
    if (name.empty()) return false;
    WNDCLASSW existing;
    if (GetClassInfoW(0, name.c_str(), &existing) && existing.hCursor != 1) {
        const std::string message = "Class " + Narrow(name) +
                                    " is already defined for a regular window, use another class name for dialogs";
        RaiseRuntimeError(message.c_str(), 0);
        return false;
    }
    WNDCLASSW windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DialogWindowProc;
    windowClass.hCursor = 1;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = name.c_str();
    (void)RegisterClassW(&windowClass);
    WNDCLASSW registered;
    return GetClassInfoW(0, name.c_str(), &registered) && registered.lpfnWndProc == DialogWindowProc &&
           registered.hCursor == 1;
}

void GetWindowColors(HWND window, uint32_t* textColour, uint32_t* backColour) {
    *textColour = 0;
    *backColour = 0;
    const WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    if (!record) return;
    if (record->textColour) *textColour = record->textColour;
    if (record->backColour) *backColour = record->backColour;
}

LRESULT SendCopyData(HWND sender, HWND target, uint32_t dataWord, const void* data, uint32_t size) {
    struct CopyData {
        uint32_t dwData;
        uint32_t cbData;
        uint32_t lpData;
    };
    auto* block = static_cast<CopyData*>(AllocateZeroedBlock(sizeof(CopyData)));
    if (!block) return 0;
    *block = CopyData{dataWord, size, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))};
    const LRESULT result = SendMessageW(target, 74, static_cast<WPARAM>(sender), reinterpret_cast<LPARAM>(block));
    FreeBlock(block);
    return result;
}

LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int32_t result = RunEventsOf(window, message, wParam, lParam);
    ProgramContext* context = nullptr;
    WindowRecord* record = IsWindow(window) ? FindWindowRecordByHandle(window, &context) : nullptr;
    const LRESULT otherwise = LastEventResult == 0 ? 1 : 0;
    if (message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC) return ColourControl(window, message, wParam, lParam);
    switch (message) {
    case WM_NCDESTROY:
        // A dialog dies with its owner too: its record goes with it.
        if (record && !record->destroying) ReleaseWindowRecord(context, record);
        return otherwise;
    case WM_SETTINGCHANGE:
        if (record && !record->noSettingChange)
            HandleShellSettingChange(window, wParam, lParam, RequireActivateInfo(record));
        break;
    case WM_ACTIVATE:
        if (record) HandleShellActivate(window, wParam, lParam, RequireActivateInfo(record), 0);
        break;
    default: break;
    }
    if (result != 1) return otherwise;
    switch (message) {
    case WM_CLOSE:
        if (window == ModalWindow) ModalResult = 2;
        return 0;
    case WM_ERASEBKGND:
        if (!record) return 0;
        return EraseDialog(window, record, static_cast<HDC>(wParam));
    case WM_COMMAND: {
        const uint32_t id = wParam & 0xFFFF;
        const uint32_t code = (wParam >> 16) & 0xFFFF;
        // Only ids 1 to 99 are modal results: 0 would not end the loop.
        if (code != 0 || window != ModalWindow || id == 0 || id >= 100) return 0;
        ModalResult = static_cast<int32_t>(id);
        const LRESULT refused = SendMessageW(window, WM_CLOSE, 0, 0);
        ModalResult = refused != 0 ? 0 : static_cast<int32_t>(id);
        return 0;
    }
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT ControlSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int32_t result = RunEventsOf(window, message, wParam, lParam);
    ProgramContext* context = nullptr;
    WindowRecord* record = IsWindow(window) ? FindWindowRecordByHandle(window, &context) : nullptr;
    if (message == WM_DESTROY) {
        // The window is on its way already: the record goes (the replaced
        // procedure comes back for WM_NCDESTROY) and so do its events.
        if (record && !record->destroying) ReleaseWindowRecord(context, record);
        RemoveWindowEvents(window);
        return LastEventResult == 0 ? 1 : 0;
    }
    if (message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC) return ColourControl(window, message, wParam, lParam);
    if (result == 1) {
        if (!record || !record->savedWindowProcedure) return 0;
        return CallWindowProcW(reinterpret_cast<WNDPROC>(record->savedWindowProcedure), window, message, wParam, lParam);
    }
    return result == 0 ? 1 : 0;
}

void Builtin_newdlg() {
    const int32_t height = PopInt() + GetSystemMetrics(SM_CYCAPTION);
    const int32_t width = PopInt();
    Instruction* procedure = ProcedureArgument(PopNumber());
    const char* className = StackEntryString(PopStackEntry());
    const std::string className8 = className ? className : "";
    const std::u16string wideClass = WideFromAnsi(className);
    const char* title = StackEntryString(PopStackEntry());
    const std::u16string wideTitle = WideFromAnsi(title);
    // A name that belongs to a form class makes nothing (the error above
    // may be taken by TRY).
    if (!RegisterDialogClass(wideClass)) {
        PushNumber(0);
        return;
    }
    EnsureScreenWindow();
    const HWND window = CreateWindowExW(kDialogExStyle, wideClass.c_str(), wideTitle.c_str(), kDialogStyle, 0, 0, width,
                                        height, GetActiveWindow(), 0, 0, nullptr);
    if (!window) {
        PushNumber(0);
        return;
    }
    const HFONT font = SetDefaultFont(window);
    WindowRecord* record = AddWindowRecord(CurrentContext, window, nullptr, 0, procedure);
    if (!record) {
        DestroyWindow(window);
        DeleteObject(font);
        PushNumber(0);
        return;
    }
    record->font = font;
    record->className = CopyTextToBlock(className8.c_str());
    record->formClassName = CopyWideToBlock(wideClass);
    CallWindowEvent(window, WM_CREATE, 0, 0);
    PushNumber(static_cast<double>(window));
}

void Builtin_showmodal() {
    const int32_t noCentre = PopInt();
    const HWND focus = PopWindow();
    const HWND window = PopWindow();
    ProgramContext* caller = CurrentContext;

    const HWND savedModal = ModalWindow;
    ModalWindow = window;
    ReleaseCapture();
    const HWND owner = GetActiveWindow();

    int32_t centreY = GetSystemMetrics(SM_CYSCREEN) / 2;
    if (const HWND panel = FindWindowW(u"SipWndClass", nullptr); panel && IsWindowVisible(panel)) {
        RECT panelRect{};
        GetWindowRect(panel, &panelRect);
        centreY -= (panelRect.bottom - panelRect.top) / 2;
    }
    if (noCentre == 0) {
        RECT rect{};
        GetWindowRect(window, &rect);
        const int32_t width = rect.right - rect.left;
        const int32_t height = rect.bottom - rect.top;
        const int32_t x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
        const int32_t y = std::max(centreY - height / 2, kModalTopLimit);
        MoveWindow(window, x, y, width, height, true);
    }
    // With the flag the device's shell is asked for a full screen, which
    // this shell has no use for.

    // The owner keeps the window after the loop: a pop-up gets a new owner.
    (void)SetWindowOwner(window, owner);
    const bool ownerApart = owner != window;
    if (ownerApart && owner) EnableWindow(owner, false);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
    if (focus) SetFocus(focus);

    if (WindowRecord* record = FindWindowRecordByHandle(window, nullptr)) record->modal = 1;
    ModalResult = 0;

    MSG message;
    for (;;) {
        if (!IsWindow(window)) {
            ModalResult = -1;
            break;
        }
        const int got = GetMessageW(&message, 0, 0, 0);
        if (got <= 0) break;
        DispatchAppMessage(message);
        if (!FirstContext) QuitRequested = true;
        if (QuitRequested) {
            ModalResult = -1;
            break;
        }
        if (ModalResult != 0) break;
        // The window went (destroywindow in an event procedure) or its
        // program, or the caller's, is ending (killapp): nothing can end
        // the loop any more.
        ProgramContext* windowContext = nullptr;
        const bool windowLives = IsWindow(window);
        const WindowRecord* record = windowLives ? FindWindowRecordByHandle(window, &windowContext) : nullptr;
        if (!windowLives || (record && IsEnding(windowContext)) || !IsLiveContext(caller) || IsEnding(caller)) {
            ModalResult = -1;
            break;
        }
    }
    // A caller whose program is ending stops where it is.
    if (IsLiveContext(caller) && IsEnding(caller)) StopFlag = true;

    if (WindowRecord* record = FindWindowRecordByHandle(window, nullptr)) record->modal = 0;
    if (ownerApart && owner && IsWindow(owner)) {
        EnableWindow(owner, true);
        SetActiveWindow(owner);
        SetForegroundWindow(owner);
    }
    if (IsWindow(window)) ShowWindow(window, SW_HIDE);
    if (ownerApart && owner && IsWindow(owner)) {
        SetActiveWindow(owner);
        SetForegroundWindow(owner);
    }
    ModalWindow = savedModal;
    const int32_t result = ModalResult;
    ModalResult = 0;
    if (IsLiveContext(caller) && CurrentContext == caller) PushNumber(result);
}

void Builtin_centerform() {
    const HWND window = PopWindow();
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int32_t height = work.bottom - work.top;
    if (const HWND bar = FindWindowW(u"HHTaskBar", nullptr)) {
        RECT barRect{};
        GetWindowRect(bar, &barRect);
        height -= barRect.bottom - barRect.top;
    }
    const int32_t x = work.left + (work.right - work.left) / 2 - (rect.right - rect.left) / 2;
    const int32_t y = work.top + height / 2 - (rect.bottom - rect.top) / 2;
    SetWindowPos(window, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Builtin_setbackcolor() { SetRecordColour(true); }

void Builtin_setfontcolor() { SetRecordColour(false); }

void Builtin_destroywindow() {
    const HWND window = PopWindow();
    if (window != 0 && window == GameWindow) GameWindow = 0;
    DestroyWindowByHandle(window);
    PushNumber(0);
}

void Builtin_showwindow() {
    const int32_t command = PopInt();
    const HWND window = PopWindow();
    if (const WindowRecord* record = FindWindowRecordByHandle(window, nullptr); record && command != 0)
        ShowMenuBar(record->menuBar, true);
    const bool result = ShowWindow(window, command);
    PushNumber(result ? 1 : 0);
    UpdateWindow(window);
}

void Builtin_g_mainloop() { RunGameLoopWith(GameLoops.runLoop); }

void Builtin_g_mainloop2() { RunGameLoopWith(GameLoops.runLoop2); }

void Builtin_g_setmainloop() { *GameLoops.mainLoop = PopInt() & 0xFF; }

void Builtin_g_getmainloop() { PushNumber(*GameLoops.mainLoop & 0xFF); }

}  // namespace qob
