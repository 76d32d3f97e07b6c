// host/app_builtins.cpp
// The application and reflection built-ins.

#include "host/app_builtins.h"

#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/message_queue.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/script_threads.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace qob {
namespace {

double AddressNumber(const void* address) { return static_cast<double>(reinterpret_cast<uintptr_t>(address)); }

// The live context a number names, or null.
ProgramContext* ContextOf(double number) {
    if (!(number > 0)) return nullptr;
    auto* context = reinterpret_cast<ProgramContext*>(static_cast<uintptr_t>(TruncToInt64(number)));
    return IsLiveContext(context) ? context : nullptr;
}

ProgramContext* PopContext() { return ContextOf(StackEntryNumber(PopStackEntry())); }

// A cell's text as 8-bit text; a number as NumberToString writes it.
std::string CellText(const StackEntry* cell) {
    if (!cell->text) {
        char digits[kNumberTextSize];
        return std::string(digits, FormatNumber(cell->value, digits));
    }
    if (cell->flags & kEntryWide) {
        const auto* units = reinterpret_cast<const uint16_t*>(cell->text);
        return platform::EncodeAnsi(std::span(units, platform::WideTextLength(units)));
    }
    return cell->text;
}

// The list variable a call passed: the record its cell came from, followed
// to the record it stands for.
VariableRecord* ListTarget(const StackEntry* cell) {
    constexpr int kMaxReferenceSteps = 64;
    VariableRecord* variable = cell->variable;
    for (int i = 0; variable && variable->reference && i < kMaxReferenceSteps; ++i) variable = variable->reference;
    return variable;
}

// Makes the variable a list of copies of the names forEach gives, its first
// node current, and pushes their count.
template <typename ForEachName>
void FillNameList(VariableRecord* target, ForEachName&& forEach) {
    ReleaseVariable(CurrentContext, target, false, false);
    target->flags |= kVarList;
    ListNode* first = nullptr;
    ListNode* last = nullptr;
    uint32_t count = 0;
    forEach([&](const char* name) {
        ListNode* node = ListAppend(last);
        if (!node) return;
        node->data = CopyValueText(name);
        if (node->data) node->flags = kVarOwnsData;
        StampListNode(node);
        if (!first) first = node;
        last = node;
        ++count;
    });
    target->currentNode = first;
    if (first) LoadListElement(target);
    PushNumber(count);
}

}  // namespace

void Builtin_findapp() {
    std::string name = CellText(PopStackEntry());
    // A copy is compared: the argument may be a variable's text or a constant of the program.
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const ProgramContext* context = FirstContext; context; context = context->next) {
        if (context->appName && name == context->appName) {
            PushNumber(AddressNumber(context));
            return;
        }
    }
    PushNumber(0);
}

void Builtin_killapp() {
    ProgramContext* context = PopContext();
    if (!context) return;
    // An application with windows is ended by the thread of its first window,
    // when that thread handles the message. A window the window layer no
    // longer knows takes no message: the application ends as one without.
    if (context->windows && platform::PostMessageW(context->windows->window, kEndApplicationMessage, 0,
                                                   reinterpret_cast<platform::LPARAM>(context)))
        return;
    EndApplication(context);
}

void Builtin_freeapp() {
    if (ProgramContext* context = PopContext()) EndApplication(context);
}

void Builtin_appname() {
    const ProgramContext* context = PopContext();
    if (!context) {
        PushNumber(0);
        return;
    }
    // A copy owned by the caller's call depth: the context may end while the value lives.
    const char* name = context->appName ? context->appName : "";
    const size_t length = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(platform::AllocateBlock(length));
    if (!copy) {
        PushNumber(0);
        return;
    }
    std::memcpy(copy, name, length);
    TrackAllocation(CurrentContext, copy, 0, kTrackedBlock);
    PushValue(copy, 0.0, nullptr);
}

void Builtin_appsize() {
    const ProgramContext* context = PopContext();
    PushNumber(context ? context->appSize : 0);
}

void Builtin_appbuffer() {
    const ProgramContext* context = PopContext();
    PushNumber(context ? AddressNumber(context->instructions) : 0);
}

void Builtin_appform() {
    const ProgramContext* context = PopContext();
    PushNumber(context && context->windows ? static_cast<double>(context->windows->window) : 0);
}

void Builtin_appuniqueid() {
    const ProgramContext* context = PopContext();
    PushNumber(context ? static_cast<double>(static_cast<int64_t>(context->uniqueId)) : 0);
}

// --- names ---------------------------------------------------------------------------

void Builtin_functions() {
    const bool all = StackEntryNumber(PopStackEntry()) != 0;
    VariableRecord* target = ListTarget(PopStackEntry());
    if (!target) {
        PushNumber(0);
        return;
    }
    FillNameList(target, [all](auto&& add) {
        for (int i = 0; i < FunctionCount(); ++i) {
            const FunctionRecord* record = FunctionRecordAt(i);
            if (!record || record->name.empty()) continue;
            if (!all && record->declaredNative) continue;
            add(record->name.c_str());
        }
    });
}

void Builtin_variables() {
    const double which = StackEntryNumber(PopStackEntry());
    VariableRecord* target = ListTarget(PopStackEntry());
    if (!target) {
        PushNumber(0);
        return;
    }
    const VariableRecord* list = nullptr;
    if (which == 0) list = LocalVariableList;
    else if (which == 1) list = CurrentContext->globalHead;
    else if (which == 2) list = ConstantList;
    FillNameList(target, [list](auto&& add) {
        for (const VariableRecord* v = list; v; v = v->next)
            if (v->name) add(v->name);
    });
}

}  // namespace qob
