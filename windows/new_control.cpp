// windows/new_control.cpp
// newcontrol and the subclass procedure of its controls.

#include "windows/new_control.h"

#include <cstring>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/dialogs.h"
#include "windows/event_calls.h"
#include "windows/event_table.h"
#include "windows/forms.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using namespace platform;

int32_t IntegerArgument() {
    return static_cast<int32_t>(static_cast<uint32_t>(TruncToInt64(PopNumber())));
}

char* CopyName(const char* text, size_t length) {
    auto* copy = static_cast<char*>(AllocateBlock(length + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

}  // namespace

void Builtin_newcontrol() {
    const int32_t height = IntegerArgument();
    const int32_t width = IntegerArgument();
    const int32_t y = IntegerArgument();
    const int32_t x = IntegerArgument();
    const auto parent = static_cast<HWND>(static_cast<uint32_t>(IntegerArgument()));
    const auto style = static_cast<uint32_t>(IntegerArgument());
    StackEntry textCell = TakeOperand();
    const auto procedureAddress = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    StackEntry classCell = TakeOperand();
    const auto id = static_cast<uint32_t>(IntegerArgument());

    auto* procedure = reinterpret_cast<Instruction*>(static_cast<uintptr_t>(procedureAddress));
    if (!IsProcedureStartOf(CurrentContext, procedure)) procedure = nullptr;
    ProgramContext* owner = nullptr;
    HWND control = 0;
    if (FindWindowRecordByHandle(parent, &owner) && IsWindow(parent)) {
        const TextSpan wideClass = ArgumentText(classCell, true);
        const TextSpan wideText = ArgumentText(textCell, true);
        const std::u16string className(static_cast<const char16_t*>(wideClass.units), wideClass.length);
        const std::u16string text(static_cast<const char16_t*>(wideText.units), wideText.length);
        control = CreateWindowExW(0, className.c_str(), text.c_str(), style, x, y, width, height, parent, id, 0, nullptr);
    }
    if (control) {
        const HFONT font = SetDefaultFont(control);
        WindowRecord* record = AddWindowRecord(owner, control, nullptr, 0, procedure);
        if (!record) {
            DestroyWindow(control);
            DeleteObject(font);
            control = 0;
        } else {
            if (procedure && owner != CurrentContext) record->procedureContext = CurrentContext;
            record->savedWindowProcedure = static_cast<uintptr_t>(
                SetWindowLongPtrW(control, GWL_WNDPROC, reinterpret_cast<intptr_t>(ControlSubclassProc)));
            record->font = font;
            const TextSpan narrowClass = ArgumentText(classCell, false);
            record->className = CopyName(static_cast<const char*>(narrowClass.units), narrowClass.length);
            CallWindowEvent(control, WM_CREATE, 0, 0);
            if (IsWindow(control) && IsWindowVisible(control)) UpdateWindow(control);
        }
    }
    ReleaseOperand(textCell);
    ReleaseOperand(classCell);
    PushNumber(static_cast<double>(control));
}

}  // namespace qob
