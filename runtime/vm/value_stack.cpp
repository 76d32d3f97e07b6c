// runtime/vm/value_stack.cpp
// Value-stack cells, pops and readers, argument frames, the function-stack
// unwinders, NPARMS and the stack built-ins.

#include "runtime/vm/value_stack.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/assignment.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// What a pop at the bottom cell yields: an empty value, rezeroed each time.
thread_local StackEntry tEmptyEntry;

StackEntry* EmptyEntry() {
    tEmptyEntry = StackEntry{};
    return &tEmptyEntry;
}

// Pops the top cell into a copy that takes over its owned links.
StackEntry TakeStackEntry() {
    StackEntry* cell = PopStackEntry();
    StackEntry taken = *cell;
    cell->ownedLinks = nullptr;
    return taken;
}

void FreeOwnedLinks(StackEntry* cell) {
    MemoryLink* links = cell->ownedLinks;
    cell->ownedLinks = nullptr;
    if (links) FreeLinkChain(links);
}

// Runs the node's fused own handler, when a step was fused into it.
inline void RunSecondHandler() {
    if (Handler second = CurrentInstruction ? CurrentInstruction->secondHandler : nullptr) second();
}

int32_t CountAbove(const StackEntry* saved, const StackEntry* top) {
    int32_t count = 0;
    for (const StackEntry* cell = top; cell && cell != saved && cell->below; cell = cell->below) ++count;
    return count;
}

// Drops the topmost count cells, freeing their owned links.
void DropCells(ProgramContext* context, int32_t count) {
    for (int32_t i = 0; i < count; ++i) FreeOwnedLinks(PopStackEntryFrom(context));
}

// A variable named by a cell: the cell's variable, else the cell's text (or
// its number as text) required in the current local list.
VariableRecord* VariableOfCell(const StackEntry* cell) {
    if (cell->variable) return cell->variable;
    if (cell->text && !(cell->flags & (kEntryWide | kEntryMatrix))) return RequireVariable(LocalVariableList, cell->text);
    char number[kNumberTextSize];
    FormatNumber(cell->value, number);
    return RequireVariable(LocalVariableList, number);
}

}  // namespace

size_t CellTextBytes(const char* text, bool wide) {
    if (!text) return 0;
    if (const size_t size = platform::GetBlockSize(text)) return size;
    if (!wide) return std::strlen(text) + 1;
    return (platform::WideTextLength(reinterpret_cast<const uint16_t*>(text)) + 1) * sizeof(uint16_t);
}

char* CopyCellText(const char* text, bool wide) {
    if (!text) return nullptr;
    const size_t size = CellTextBytes(text, wide);
    auto* copy = static_cast<char*>(platform::AllocateBlock(size));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

StackEntry* AllocStackEntry(ProgramContext* context) {
    auto* cell = static_cast<StackEntry*>(AllocContextBlock(context, sizeof(StackEntry)));
    if (!cell) return nullptr;
    StackEntry* top = context->stackTop;
    cell->below = top;
    if (top) {
        cell->above = top->above;
        if (top->above) top->above->below = cell;
        top->above = cell;
    }
    return cell;
}

StackEntry* PushNewStackEntry(ProgramContext* context) {
    StackEntry* cell = AllocStackEntry(context);
    if (!cell) {
        // Out of low memory: report it and hand out a scratch cell, so the
        // pushing handler writes somewhere harmless before the machine stops.
        RaiseRuntimeError("Not enough memory for the value stack", 0);
        return EmptyEntry();
    }
    context->stackTop = cell;
    return cell;
}

StackEntry* PushStackEntry(ProgramContext* context, bool clearFlags) {
    StackEntry* cell = PushCell(context);
    if (clearFlags) cell->flags = 0;
    return cell;
}

void PushValueTo(ProgramContext* context, const char* text, double value, VariableRecord* variable, int32_t extra) {
    PushCellValue(context, text, value, variable, extra);
}

void PushValue(const char* text, double value, VariableRecord* variable, int32_t extra) {
    PushCellValue(CurrentContext, text, value, variable, extra);
}

void PushVariableRef(const char* name) {
    VariableRecord* variable = FindOrRequireVariable(name, 0);
    if (!variable) {
        PushValue(nullptr, 0.0, nullptr);
        return;
    }
    PushVariableCell(variable);
}

void PushVariableCell(VariableRecord* variable) {
    if (!variable) return;
    if (NoFollowPending) {
        NoFollowPending = false;
    } else {
        while (variable->reference) variable = variable->reference;
    }
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = value;
    cell->text = text;
    cell->variable = variable;
    cell->extra = 0;
    cell->flags = ((variable->flags & kVarMatrix) ? kEntryMatrix : 0) | ((variable->flags & kVarWideText) ? kEntryWide : 0);
}

void PushDoubleAt(const void* address) {
    double value;
    std::memcpy(&value, address, sizeof value);
    PushValue(nullptr, value, nullptr);
}

StackEntry* PopStackEntryFrom(ProgramContext* context) {
    StackEntry* top = context->stackTop;
    if (!top || !top->below) return EmptyEntry();
    context->stackTop = top->below;
    return top;
}

StackEntry* PopStackEntry() { return PopStackEntryFrom(CurrentContext); }

void DropStackEntry() { FreeOwnedLinks(PopStackEntry()); }

void FreeValueStack(ProgramContext* context) {
    StackEntry* top = context->stackTop;
    StackEntry* cell = top ? LastStackEntry(top) : nullptr;
    bool live = false;  // cells above the top hold stale link words: only live cells own links
    while (cell) {
        StackEntry* below = cell->below;
        live = live || cell == top;
        if (live) FreeOwnedLinks(cell);
        FreeContextBlock(context, cell);
        cell = below;
    }
    context->stackTop = nullptr;
}

int32_t CountStackEntries(const StackEntry* cell) {
    int32_t count = 0;
    for (; cell; cell = cell->below) ++count;
    return count;
}

StackEntry* LastStackEntry(StackEntry* cell) {
    while (cell && cell->above) cell = cell->above;
    return cell;
}

const char* StackEntryString(const StackEntry* cell) {
    if (cell->text) return cell->text;
    char* text = NumberToString(cell->value);
    TrackAllocation(CurrentContext, text, 0, kTrackedBlock);
    return text;
}

const uint16_t* StackEntryWideString(const StackEntry* cell) {
    if (cell->text && (cell->flags & kEntryWide)) return reinterpret_cast<const uint16_t*>(cell->text);
    uint16_t* wide = AnsiToWide(StackEntryString(cell));
    TrackAllocation(CurrentContext, wide, 0, kTrackedBlock);
    return wide;
}

char* StackEntryStringDup(const StackEntry* cell) {
    if (!cell->text) return NumberToString(cell->value);
    return CopyCellText(cell->text, (cell->flags & kEntryWide) != 0);
}

uint16_t* StackEntryWideDup(const StackEntry* cell) {
    if (cell->text && (cell->flags & kEntryWide))
        return reinterpret_cast<uint16_t*>(CopyCellText(cell->text, true));
    return AnsiToWide(StackEntryString(cell));
}

int32_t StackEntryInteger(const StackEntry* cell) {
    if (cell->value != 0.0) return static_cast<int32_t>(TruncToInt64(cell->value));
    if (cell->extra != 0) return cell->extra;
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(cell->text));
}

double StackEntryNumber(const StackEntry* cell) {
    if (!cell->text || (cell->flags & kEntryMatrix)) return cell->value;
    if (!(cell->flags & kEntryWide)) return StringToNumber(cell->text);
    char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(cell->text));
    const double value = StringToNumber(narrow);
    platform::FreeBlock(narrow);
    return value;
}

int32_t PopInteger() { return StackEntryInteger(PopStackEntry()); }
double PopNumber() { return StackEntryNumber(PopStackEntry()); }

bool OpenArgumentFrame(ProgramContext* context) {
    ArgumentFrame& frames = context->argumentFrame;
    if (frames.count >= kMaxArgumentFrames) {
        RaiseRuntimeError("Too many nested calls: argument frames exhausted", 0);
        return false;
    }
    frames.slots[frames.count++] = context->stackTop;
    return true;
}

StackEntry* CloseArgumentFrame(ProgramContext* context) { return CloseFrame(context); }

namespace {

// Leaves exactly keep cells above the closed frame's saved top.
[[gnu::noinline]] void KeepCellsAbove(ProgramContext* context, const StackEntry* saved, int32_t keep) {
    const int32_t count = CountAbove(saved, context->stackTop);
    if (count == 0 && keep != 0) {
        PushValue(nullptr, 0.0, nullptr);
        return;
    }
    if (count > keep) DropCells(context, count - keep);
}

[[gnu::always_inline]] inline void DropFunctionFrame(int32_t keep) {
    ProgramContext* context = CurrentContext;
    const StackEntry* saved = CloseFrame(context);
    // The common end of a function call: its one result is all the frame holds.
    if (keep == 1 && context->stackTop != saved && context->stackTop->below == saved && saved) return;
    KeepCellsAbove(context, saved, keep);
}

}  // namespace

void DropFunctionStack(int32_t keep) { DropFunctionFrame(keep); }

void Builtin___savesp() {
    if (!OpenArgumentFrame(CurrentContext)) return;
    RunSecondHandler();
}

void Builtin___savesp2() {
    ProgramContext* context = CurrentContext;
    // Both frames at once when both fit: each saves the same top.
    if (ArgumentFrame& frames = context->argumentFrame; frames.count <= kMaxArgumentFrames - 2) [[likely]] {
        StackEntry* const top = context->stackTop;
        frames.slots[frames.count] = top;
        frames.slots[frames.count + 1] = top;
        frames.count += 2;
        RunSecondHandler();
        return;
    }
    if (!OpenArgumentFrame(context)) return;
    if (!OpenArgumentFrame(context)) {
        CloseArgumentFrame(context);
        return;
    }
    RunSecondHandler();
}

void Builtin___dropfctstack() {
    // One kept result is what nearly every call site asks for.
    const double keep = CurrentInstruction->operand;
    DropFunctionFrame(keep == 1.0 ? 1 : static_cast<int32_t>(TruncToInt64(keep)));
}

void Builtin___dropallfctstack() {
    ProgramContext* context = CurrentContext;
    const auto n = static_cast<int32_t>(TruncToInt64(CurrentInstruction->operand));
    const StackEntry* saved = CloseArgumentFrame(context);
    const int32_t count = CountAbove(saved, context->stackTop);
    if (n >= 1 && n <= count) DropCells(context, n);
}

namespace {

bool ReachesVariable(const VariableRecord* from, const VariableRecord* variable) {
    for (; from; from = from->reference)
        if (from == variable) return true;
    return false;
}

// A by-reference argument: the node names the variable it stands for. False
// when it cannot (no variable, one that leads back to the list itself, or
// no memory), and the argument is then taken by value.
bool ReferArgumentNode(ListNode* node, const StackEntry* cell, const VariableRecord* list) {
    if (!(cell->flags & kEntryByReference) || !cell->variable || ReachesVariable(cell->variable, list)) return false;
    auto* extension = static_cast<ListArrayExtension*>(AllocateValueBlock(sizeof(ListArrayExtension)));
    if (!extension) return false;
    extension->reference = cell->variable;
    node->arrayExtension = extension;
    return true;
}

// A matrix argument as a deep copy: its blocks and nested runs belong to the
// node through its links.
void CopyMatrixArgument(ListNode* node, const StackEntry* cell) {
    auto* extension = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
    if (!extension) return;
    node->structExtension = extension;
    node->data = reinterpret_cast<char*>(
        CopyMatrixCells(reinterpret_cast<const MatrixCell*>(cell->text), &extension->links));
    if (node->data) node->flags |= kVarOwnsData | kVarMatrix;
}

// One argument cell as a list element: a reference to the variable, an
// object by its address only, a matrix deep-copied, a text or block copied
// into a block the node owns. Copies are registered for the memory report
// under the NPARMS node's source position.
void FillArgumentNode(ListNode* node, const StackEntry* cell, const VariableRecord* list) {
    node->value = cell->value;
    const bool object = cell->variable && (cell->variable->flags & kVarObject);
    if (ReferArgumentNode(node, cell, list) || object || !cell->text) {
        StampListNode(node);
        return;
    }
    if (cell->flags & kEntryMatrix) {
        CopyMatrixArgument(node, cell);
    } else {
        const bool wide = (cell->flags & kEntryWide) != 0;
        node->data = CopyValueBlockOrText(cell->text, wide);
        RegisterValueBlock(node->data);
        if (node->data) node->flags |= kVarOwnsData | (wide ? kVarWideText : 0);
    }
    StampListNode(node);
}

}  // namespace

void Handle_NPARMS() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    KeepCallerFrameClosed(context);
    const int32_t count = CountAbove(saved, context->stackTop);
    VariableRecord* args = CreateVariable(LocalVariableList, "ARGS$", true);
    if (!args) {
        DropCells(context, count);
        return;
    }
    ListNode* first = nullptr;
    ListNode* last = nullptr;
    StackEntry* cell = saved;
    for (int32_t i = 0; i < count; ++i) {
        cell = cell->above;
        ListNode* node = ListAppend(last);
        if (!node) break;
        if (!first) first = node;
        last = node;
        FillArgumentNode(node, cell, args);
    }
    DropCells(context, count);
    // The old list goes only now: an argument may have been read from it.
    if (args->currentNode) ReleaseVariable(context, args, false, false);
    args->flags |= kVarList;
    args->currentNode = first;
    if (first) LoadListElement(args);
}

void Builtin_push() { CloseArgumentFrame(CurrentContext); }

void Builtin_pull() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    const int32_t count = CountAbove(saved, context->stackTop);
    if (count == 0) return;
    // The targets are copied out first: assignments may push (setters) and so
    // reuse the cells above the top, where the targets still lie.
    auto* targets = static_cast<StackEntry*>(platform::AllocateBlock(sizeof(StackEntry) * static_cast<size_t>(count)));
    if (!targets) return;
    TrackAllocation(context, targets, 0, kTrackedBlock);
    StackEntry* cell = saved->above;
    for (int32_t i = 0; i < count; ++i, cell = cell->above) targets[i] = *cell;
    context->stackTop = saved;
    for (int32_t i = 0; i < count; ++i) {
        StackEntry source = TakeStackEntry();
        VariableRecord* target = VariableOfCell(&targets[i]);
        if (!target) continue;
        AssignFromEntry(&source, target, (targets[i].flags & kEntryByReference) != 0, nullptr);
        if (source.ownedLinks) FreeLinkChain(source.ownedLinks);
    }
}

void Builtin_countstack() {
    StackEntry argument = TakeStackEntry();
    if (argument.ownedLinks) FreeLinkChain(argument.ownedLinks);
    VariableRecord* variable = VariableOfCell(&argument);
    if (!variable) return;
    SetVariableValue(variable, nullptr, CountStackEntries(CurrentContext->stackTop), nullptr, 0);
}

void Builtin_dupstack() {
    ProgramContext* context = CurrentContext;
    const StackEntry top = *context->stackTop;
    StackEntry* cell = PushCell(context);
    cell->value = top.value;
    cell->text = top.text;
    cell->variable = top.variable;
    cell->extra = top.extra;
    cell->typeTag = top.typeTag;
    cell->flags = top.flags & ~kEntryByReference;
}

void Builtin_dropstack() {
    RunSecondHandler();
    DropStackEntry();
}

void Builtin_clearstack() {
    ProgramContext* context = CurrentContext;
    while (context->stackTop && context->stackTop->below) DropStackEntry();
    ArgumentFrame& frames = context->argumentFrame;
    for (int32_t i = 0; i < frames.count; ++i) frames.slots[i] = context->stackTop;
}

}  // namespace qob
