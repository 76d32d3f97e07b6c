// windows/window_classes.cpp
// Script window classes, ScriptWindowProc and the window-procedure and
// user-data built-ins.

#include "windows/window_classes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/event_calls.h"
#include "windows/event_table.h"
#include "windows/script_arguments.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using namespace platform;

HWND PopWindow() { return static_cast<HWND>(static_cast<uint32_t>(TruncToInt64(PopNumber()))); }

// A procedure value: a procedure start of the current program, else none.
bool DoubleClicksWanted() {
    const VariableRecord* constant = FindVariable("CS_DBLCLKS%", 0);
    return constant && constant->value == 1.0;
}

// The windows whose class procedure runs now. Their replaced procedure is
// ScriptWindowProc itself: a class procedure that passes its message on
// with inherited means the default processing, not itself again.
std::vector<HWND> gClassProcedureWindows;

bool ClassProcedureRuns(HWND window) {
    return std::find(gClassProcedureWindows.begin(), gClassProcedureWindows.end(), window) !=
           gClassProcedureWindows.end();
}

}  // namespace

bool RegisterScriptClass(const std::u16string& name) {
    if (name.empty()) return false;
    WNDCLASSW windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | (DoubleClicksWanted() ? CS_DBLCLKS : 0);
    windowClass.lpfnWndProc = ScriptWindowProc;
    windowClass.hCursor = 0;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = name.c_str();
    (void)RegisterClassW(&windowClass);
    WNDCLASSW registered;
    return GetClassInfoW(0, name.c_str(), &registered) && registered.lpfnWndProc == ScriptWindowProc;
}

LRESULT ScriptWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LastEventResult = 1;
    const auto word = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    const auto value = static_cast<int32_t>(static_cast<uint32_t>(lParam));
    const WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    // The record's event procedure word is left alone here: it is a script
    // procedure that the control-subclass procedure ran already.
    if (record && record->className) {
        if (const WindowClassRecord* windowClass = FindWindowClass(record->className); windowClass && windowClass->value != 0) {
            auto* procedure = reinterpret_cast<Instruction*>(
                static_cast<uintptr_t>(static_cast<uint32_t>(TruncToInt64(windowClass->value))));
            gClassProcedureWindows.push_back(window);
            LastEventResult = RunWindowEventProcedure(windowClass->owner, procedure, static_cast<int32_t>(window),
                                                      static_cast<int32_t>(message), word, value);
            gClassProcedureWindows.erase(std::find(gClassProcedureWindows.begin(), gClassProcedureWindows.end(), window));
        }
    }
    if (EventTable && LastEventResult != 0)
        LastEventResult = DispatchEvent(static_cast<uint32_t>(window), message, word, value);
    if (LastEventResult == 1) return DefWindowProcW(window, message, wParam, lParam);
    return 0;
}

void Builtin_registerclass() {
    const double procedureValue = PopNumber();
    const char* name = StackEntryString(PopStackEntry());
    const std::string name8 = name ? name : "";
    const std::u16string wideName = WideFromAnsi(name8.c_str());
    Instruction* procedure = ProcedureArgument(procedureValue);
    const bool registered = RegisterScriptClass(wideName);
    WindowClassRecord* record =
        AddWindowClass(name8.c_str(), procedure ? static_cast<double>(reinterpret_cast<uintptr_t>(procedure)) : 0.0);
    // Only a class this registration made (or a script class of the name)
    // is unregistered with the record.
    if (record && registered) record->wideName = CopyWideToBlock(wideName);
}

void Builtin_unregisterclass() {
    const char* name = StackEntryString(PopStackEntry());
    const std::string name8 = name ? name : "";
    const std::u16string wideName = WideFromAnsi(name8.c_str());
    (void)UnregisterClassW(wideName.c_str(), 0);
    RemoveWindowClass(name8.c_str());
}

void Builtin_setwndproc() {
    Instruction* procedure = ProcedureArgument(PopNumber());
    const HWND window = PopWindow();
    WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    if (!record) return;
    record->eventProcedure = procedure;
    record->procedureContext = procedure ? CurrentContext : nullptr;
}

void Builtin_inherited() {
    const auto lParam = static_cast<LPARAM>(static_cast<uint32_t>(TruncToInt64(PopNumber())));
    const auto wParam = static_cast<WPARAM>(static_cast<uint32_t>(TruncToInt64(PopNumber())));
    const auto message = static_cast<UINT>(TruncToInt64(PopNumber()));
    const HWND window = PopWindow();
    const WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    if (GetParent(window) != 0) {
        if (record) {
            const auto replaced = reinterpret_cast<WNDPROC>(record->savedWindowProcedure);
            // Nothing replaced (a dialog, a re-owned form), or the class
            // procedure of this very window asking for the default: the
            // default processing.
            if (!replaced || (replaced == ScriptWindowProc && ClassProcedureRuns(window)))
                (void)DefWindowProcW(window, message, wParam, lParam);
            else
                (void)CallWindowProcW(replaced, window, message, wParam, lParam);
        }
    } else if (IsWindow(window)) {
        (void)DefWindowProcW(window, message, wParam, lParam);
    }
    PushNumber(0);
}

void Builtin_setuserdata() {
    StackEntry* entry = PopStackEntry();
    const double number = entry->value;
    const char* text = entry->text;
    const bool wide = (entry->flags & kEntryWide) != 0;
    VariableRecord* variable = (entry->flags & kEntryByReference) ? entry->variable : nullptr;
    const HWND window = PopWindow();
    WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    if (!record) return;
    // The record keeps a copy: a temporary text dies with its procedure.
    char* copy = CopyCellText(text, wide);
    FreeBlock(record->userText);
    record->userValue = number;
    record->userText = copy;
    record->userTextWide = copy && wide ? 1 : 0;
    record->userVariable = variable;
}

void Builtin_getuserdata() {
    const HWND window = PopWindow();
    const WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
    if (!record) {
        PushNumber(0);
        return;
    }
    if (record->userText) {
        const bool wide = record->userTextWide != 0;
        PushTextResult(CopyCellText(record->userText, wide), wide);
        StackEntry* cell = CurrentContext->stackTop;
        cell->value = record->userValue;
        cell->variable = record->userVariable;
        return;
    }
    PushValue(nullptr, record->userValue, record->userVariable);
}

}  // namespace qob
