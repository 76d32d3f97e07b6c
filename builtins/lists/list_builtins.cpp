// builtins/lists/list_builtins.cpp
// The list built-ins: declaring, adding, inserting, deleting, moving the
// current item, the counters, sorting, cutting and copying lists.
#include "builtins/lists/list_builtins.h"

#include <algorithm>
#include <cstdint>

#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

int64_t IntegerOperand(const StackEntry& cell) { return TruncToInt64(OperandNumber(cell)); }

bool IsList(const VariableRecord* variable) { return variable && (variable->flags & kVarList); }

// Walks the arguments of a closed frame, the leftmost first.
template <class Visit>
void ForEachArgument(const FrameArguments& arguments, int64_t from, Visit visit) {
    StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        if (i >= from) visit(*cell);
    }
}

// Whether a value argument reads what the variable holds now.
bool AnyValueReads(const FrameArguments& arguments, const VariableRecord* variable) {
    bool reads = false;
    ForEachArgument(arguments, 1, [&](const StackEntry& cell) {
        reads = reads || cell.variable == variable || (cell.text && cell.text == variable->data);
    });
    return reads;
}

// A variable that add, addlist or ins meet without the list mark becomes an
// empty list, and its old value goes. While one of the values to add still
// reads it, the old value is only taken out here and released once the
// values are copied (ReleaseDetached).
struct DetachedValue {
    VariableRecord record;  // read only while present
    bool present = false;
};

[[gnu::noinline]] DetachedValue MakeList(VariableRecord* variable, const FrameArguments& arguments) {
    DetachedValue detached;
    if (!AnyValueReads(arguments, variable)) {
        ReleaseVariable(CurrentContext, variable, false, false);
    } else {
        detached = {*variable, true};
        variable->value = 0.0;
        variable->data = nullptr;
        variable->type = 0;
        variable->elementCount = 0;
        variable->dimensionCount = 0;
        variable->arrayWord = 0;
        variable->classHash = 0;
        variable->links = nullptr;
        variable->members = nullptr;
        variable->getter = variable->setter = nullptr;
        variable->reference = nullptr;
        variable->linkOwner = nullptr;
        variable->flags &= kVarPublic;
    }
    variable->flags |= kVarList;
    variable->currentNode = nullptr;
    return detached;
}

// Inlined: a list already is one on nearly every call.
[[gnu::always_inline]] inline DetachedValue BecomeList(VariableRecord* variable, const FrameArguments& arguments) {
    if (variable->flags & kVarList) {
        DetachedValue none;  // its record is never read: not cleared
        return none;
    }
    return MakeList(variable, arguments);
}

void ReleaseDetached(DetachedValue& detached) {
    if (detached.present) ReleaseVariable(CurrentContext, &detached.record, false, false);
}

// A text (copied) into the list's current item, a new and empty node: what
// loading the item and writing the value through the variable would leave,
// node and record alike, written to the node once and stamped once. The empty
// node has no type, no accessor and no extension to go through; a text that
// cannot be copied leaves the item empty.
[[gnu::noinline]] void StoreTextItem(VariableRecord* list, const StackEntry& cell, uint32_t flags) {
    size_t bytes = platform::GetBlockSize(cell.text);
    if (bytes == 0) bytes = TextBytes(cell.text, (flags & kVarWideText) != 0);
    char* copy = CopyValueBlock(cell.text, bytes);
    if (!copy) {
        list->currentNode->flags = flags;
        LoadListElement(list);
        return;
    }
    RegisterValueBlock(copy);
    FillNewListItem(list, copy, cell.value, flags | kVarOwnsData);
}

// A structure, matrix or object into the list's current item, or any value
// into the item of a protected list: written through the variable.
[[gnu::noinline]] void StoreItemThroughVariable(VariableRecord* list, const StackEntry& cell, uint32_t flags) {
    VariableRecord* source = cell.variable;
    if (flags & kVarStructure) {
        LoadListElement(list);
        AssignStructureValue(list, source, kCopyDeep, 0, source->data);
        return;
    }
    list->currentNode->flags = flags;
    LoadListElement(list);
    if (flags & kVarMatrix) {
        if (cell.text) SetMatrixValue(list, reinterpret_cast<const MatrixCell*>(cell.text));
        return;
    }
    if (flags & kVarObject) list->classHash = source->classHash;
    if (!cell.text) {
        SetVariableValue(list, nullptr, cell.value, nullptr, 0);
        return;
    }
    size_t bytes = platform::GetBlockSize(cell.text);
    if (bytes == 0) bytes = TextBytes(cell.text, (flags & kVarWideText) != 0);
    SetVariableValue(list, cell.text, cell.value, nullptr, static_cast<int64_t>(bytes));
}

// Stores one argument's value into the list's current item (a new, empty
// item): structures, matrices and texts are copied, an object is referred to.
// An element address the cell carries belongs to the source's storage: the
// element's value is in the cell already and nothing is written there. A
// number, the commonest item, is stored inline.
[[gnu::always_inline]] inline void StoreItemValue(VariableRecord* list, const StackEntry& cell) {
    VariableRecord* source = cell.variable;
    const bool whole = source && source != list && cell.extra == 0;
    if (whole && (source->flags & kVarStructure) && source->elementCount == 0) {
        StoreItemThroughVariable(list, cell, kVarStructure);
        return;
    }
    uint32_t flags = whole ? source->flags & (kVarObject | kVarWideText) : 0;
    if (cell.flags & kEntryWide) flags |= kVarWideText;
    if (cell.flags & kEntryMatrix) flags = (flags & ~kVarWideText) | kVarMatrix;
    if ((flags & (kVarMatrix | kVarObject)) || list->protect == 1)
        StoreItemThroughVariable(list, cell, flags);
    else if (cell.text)
        StoreTextItem(list, cell, flags);
    else
        FillNewListItem(list, nullptr, cell.value, flags);
}

// One item per argument from the second on, after the current item.
[[gnu::always_inline]] inline void AppendEachValue(VariableRecord* list, const FrameArguments& arguments) {
    ForEachArgument(arguments, 1, [list](const StackEntry& cell) {
        ListNode* node = ListAppend(list->currentNode);
        if (!node) return;
        list->currentNode = node;
        StoreItemValue(list, cell);
    });
}

// Counts the frame's arguments that are lists with a current item and pass
// the step (which may move the item); pushes the count.
template <class Step>
void CountListArguments(Step step) {
    const FrameArguments arguments = CloseFrameArguments();
    int64_t count = 0;
    ForEachArgument(arguments, 0, [&](const StackEntry& cell) {
        VariableRecord* list = ListArgument(cell);
        if (HasCurrentItem(list)) count += step(list);
    });
    DropFrameArguments(arguments);
    PushNumberResult(static_cast<double>(count));
}

// Copies count items of the source from start (start in range, or -1 and -1
// for the whole list) into the destination, which becomes a list of its own.
void CopyListRange(VariableRecord* source, VariableRecord* destination, int64_t start, int64_t count) {
    if (!source || !destination || source == destination) return;
    CopyVariable(destination, source, kCopyDeep, 0, start, count);
}

}  // namespace

VariableRecord* ListArgument(const StackEntry& cell) {
    VariableRecord* variable = TargetVariable(cell);
    while (variable && variable->reference) variable = variable->reference;
    return variable;
}

bool HasCurrentItem(const VariableRecord* variable) { return IsList(variable) && variable->currentNode; }

void ShowListItem(VariableRecord* list, ListNode* node) {
    if (node) {
        list->currentNode = node;
        LoadListElement(list);
        return;
    }
    // Loading an empty item clears every value field the deleted one filled.
    ListNode empty{};
    list->currentNode = &empty;
    LoadListElement(list);
    list->currentNode = nullptr;
    list->stamp = 0;
}

void AppendValueItems(VariableRecord* list, const FrameArguments& arguments) { AppendEachValue(list, arguments); }

void Builtin_list() {
    const FrameArguments arguments = CloseFrameArguments();
    ForEachArgument(arguments, 0, [](const StackEntry& cell) {
        VariableRecord* variable = ListArgument(cell);
        if (!variable) return;
        ReleaseVariable(CurrentContext, variable, false, false);
        variable->flags |= kVarList;
        variable->currentNode = nullptr;
    });
    DropFrameArguments(arguments);
}

namespace {

// Appends the values after the list's current item, or one empty item when
// there are none; the last one appended becomes the current item.
[[gnu::always_inline]] inline void AppendItems(VariableRecord* list, const FrameArguments& arguments) {
    if (arguments.count == 1) ShowListItem(list, ListAppend(list->currentNode));
    AppendEachValue(list, arguments);
}

// The rare add to a variable that is no list yet, out of line: the add to a
// list then keeps no room for an old value on its stack.
[[gnu::noinline]] void AppendItemsToNewList(VariableRecord* list, const FrameArguments& arguments) {
    DetachedValue detached = MakeList(list, arguments);
    AppendItems(list, arguments);
    ReleaseDetached(detached);
}

}  // namespace

void Builtin_listadd() {
    const FrameArguments arguments = CloseFrameArguments();
    VariableRecord* list = arguments.count > 0 ? ListArgument(*arguments.saved->above) : nullptr;
    if (IsList(list))
        AppendItems(list, arguments);
    else if (list)
        AppendItemsToNewList(list, arguments);
    DropFrameArguments(arguments);
}

void Builtin_addlist() {
    const FrameArguments arguments = CloseFrameArguments();
    VariableRecord* target = arguments.count > 0 ? ListArgument(*arguments.saved->above) : nullptr;
    if (target) {
        // A source is a list, so no source reads the old value of a target
        // that is not one yet.
        DetachedValue detached = BecomeList(target, arguments);
        ReleaseDetached(detached);
        ListNode* tail = target->currentNode;
        ListNode* appended = arguments.count == 1 ? ListAppend(tail) : nullptr;
        const bool makePublic = (target->flags & kVarPublic) != 0;
        ForEachArgument(arguments, 1, [&](const StackEntry& cell) {
            VariableRecord* source = cell.variable;
            while (source && source->reference) source = source->reference;
            if (!HasCurrentItem(source)) return;
            // The last item is fixed before the first append: a list added to
            // itself is copied once, not followed into its own copies.
            ListNode* item = ListFirst(source->currentNode);
            ListNode* last = ListLast(item);
            for (;; item = item->next) {
                ListNode* node = ListAppend(tail ? tail : appended);
                if (!node) break;
                CopyNodeValue(node, item);
                BindNodeMembers(target, node, makePublic);
                tail = appended = node;
                if (item == last) break;
            }
        });
        if (appended) ShowListItem(target, appended);
    }
    DropFrameArguments(arguments);
}

void Builtin_ins() {
    const FrameArguments arguments = CloseFrameArguments();
    VariableRecord* list = arguments.count > 0 ? ListArgument(*arguments.saved->above) : nullptr;
    if (list) {
        DetachedValue detached = BecomeList(list, arguments);
        if (arguments.count == 1) ShowListItem(list, ListInsertBefore(list->currentNode));
        ForEachArgument(arguments, 1, [list](const StackEntry& cell) {
            ListNode* node = ListInsertBefore(list->currentNode);
            if (!node) return;
            list->currentNode = node;
            StoreItemValue(list, cell);
        });
        ReleaseDetached(detached);
    }
    DropFrameArguments(arguments);
}

void Builtin_del() {
    const FrameArguments arguments = CloseFrameArguments();
    ForEachArgument(arguments, 0, [](const StackEntry& cell) {
        VariableRecord* list = ListArgument(cell);
        if (HasCurrentItem(list)) ShowListItem(list, ListDeleteNode(list->currentNode));
    });
    DropFrameArguments(arguments);
}

void Builtin_count() {
    CountListArguments([](VariableRecord* list) -> int64_t { return ListCount(list->currentNode); });
}

void Builtin_first() {
    CountListArguments([](VariableRecord* list) -> int64_t {
        ShowListItem(list, ListFirst(list->currentNode));
        return 1;
    });
}

void Builtin_last() {
    CountListArguments([](VariableRecord* list) -> int64_t {
        ShowListItem(list, ListLast(list->currentNode));
        return 1;
    });
}

void Builtin_next() {
    CountListArguments([](VariableRecord* list) -> int64_t {
        ListNode* next = list->currentNode->next;
        if (!next) return 0;
        ShowListItem(list, next);
        return 1;
    });
}

void Builtin_prev() {
    CountListArguments([](VariableRecord* list) -> int64_t {
        ListNode* previous = list->currentNode->previous;
        if (!previous) return 0;
        ShowListItem(list, previous);
        return 1;
    });
}

void Builtin_isfirst() {
    CountListArguments([](VariableRecord* list) -> int64_t { return list->currentNode->previous ? 0 : 1; });
}

void Builtin_islast() {
    CountListArguments([](VariableRecord* list) -> int64_t { return list->currentNode->next ? 0 : 1; });
}

void Builtin_islist() {
    const FrameArguments arguments = CloseFrameArguments();
    int64_t count = 0;
    ForEachArgument(arguments, 0, [&](const StackEntry& cell) { count += IsList(ListArgument(cell)) ? 1 : 0; });
    DropFrameArguments(arguments);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_lpos() {
    StackEntry listCell = TakeOperand();
    VariableRecord* list = ListArgument(listCell);
    ReleaseOperand(listCell);
    if (!IsList(list)) {
        PushNumberResult(0.0);
        return;
    }
    PushNumberResult(list->currentNode ? static_cast<double>(ListIndexOf(list->currentNode)) : -1.0);
}

void Builtin_goto() {
    StackEntry positionCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const int64_t position = IntegerOperand(positionCell);
    VariableRecord* list = ListArgument(listCell);
    ReleaseOperand(positionCell);
    ReleaseOperand(listCell);
    if (!HasCurrentItem(list)) {
        PushNumberResult(0.0);
        return;
    }
    ShowListItem(list, ListNodeAt(list->currentNode, position));
    PushNumberResult(1.0);
}

void Builtin_lmove() {
    StackEntry toCell = TakeOperand();
    StackEntry fromCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const int64_t to = IntegerOperand(toCell);
    const int64_t from = IntegerOperand(fromCell);
    VariableRecord* list = ListArgument(listCell);
    ReleaseOperand(toCell);
    ReleaseOperand(fromCell);
    ReleaseOperand(listCell);
    if (!HasCurrentItem(list)) {
        PushNumberResult(0.0);
        return;
    }
    ListNode* handle = list->currentNode;
    ShowListItem(list, ListMoveNode(&handle, from, to));
    PushNumberResult(1.0);
}

// The item's value is pushed as a value of its own: a copy of its text (of
// its width) or of its matrix cells, which lives on after the item goes.
void Builtin_pop() {
    StackEntry listCell = TakeOperand();
    VariableRecord* list = ListArgument(listCell);
    ReleaseOperand(listCell);
    if (!HasCurrentItem(list)) {
        PushNumberResult(0.0);
        return;
    }
    ListNode* node = list->currentNode;
    if (node->data && (node->flags & kVarMatrix)) {
        MemoryLink* links = nullptr;
        MatrixCell* run = CopyMatrixCells(reinterpret_cast<const MatrixCell*>(node->data), &links);
        if (run) PushMemoryLink(&links, run, nullptr, kTypeDouble);
        PushMatrixResult(run, links);
    } else if (node->data) {
        const bool wide = (node->flags & kVarWideText) != 0;
        PushTextResult(CopyCellText(node->data, wide), wide);
        CurrentContext->stackTop->value = node->value;
    } else {
        PushNumberResult(node->value);
    }
    if (node->previous) ShowListItem(list, node->previous);
}

void Builtin_sort() {
    StackEntry caseCell = TakeOperand();
    StackEntry orderCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const int64_t caseSensitive = IntegerOperand(caseCell);
    const int64_t order = IntegerOperand(orderCell);
    VariableRecord* list = ListArgument(listCell);
    ReleaseOperand(caseCell);
    ReleaseOperand(orderCell);
    ReleaseOperand(listCell);
    if (!HasCurrentItem(list)) return;
    ListSort(list->currentNode, order != 0, caseSensitive != 0);
    ShowListItem(list, list->currentNode);
}

void Builtin_split() {
    StackEntry targetCell = TakeOperand();
    StackEntry positionCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    const int64_t position = IntegerOperand(positionCell);
    VariableRecord* list = ListArgument(listCell);
    VariableRecord* target = ListArgument(targetCell);
    ReleaseOperand(targetCell);
    ReleaseOperand(positionCell);
    ReleaseOperand(listCell);
    // A list split into itself would be released before its items moved.
    if (!list || !target || list == target) {
        PushNumberResult(0.0);
        return;
    }
    ListNode* cut = HasCurrentItem(list) ? ListNodeAt(list->currentNode, position) : nullptr;
    ReleaseVariable(CurrentContext, target, false, false);
    target->flags |= kVarList;
    target->currentNode = nullptr;
    if (!cut) {
        PushNumberResult(0.0);
        return;
    }
    ShowListItem(list, ListCutBefore(cut));
    const bool makePublic = (list->flags & kVarPublic) != 0;
    int64_t count = 0;
    for (ListNode* node = cut; node; node = node->next, ++count) BindNodeMembers(target, node, makePublic);
    ShowListItem(target, cut);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_lcopy() {
    StackEntry destinationCell = TakeOperand();
    StackEntry sourceCell = TakeOperand();
    CopyListRange(ListArgument(sourceCell), ListArgument(destinationCell), -1, -1);
    ReleaseOperand(destinationCell);
    ReleaseOperand(sourceCell);
}

// Positions are clamped to the source's items (-1: the first, or the last for
// the end); an end before the start copies nothing. The copy's current item
// stands where the source's stands, clamped to the copy.
void Builtin_lcopyex() {
    StackEntry endCell = TakeOperand();
    StackEntry startCell = TakeOperand();
    StackEntry destinationCell = TakeOperand();
    StackEntry sourceCell = TakeOperand();
    int64_t end = IntegerOperand(endCell);
    int64_t start = IntegerOperand(startCell);
    VariableRecord* source = ListArgument(sourceCell);
    VariableRecord* destination = ListArgument(destinationCell);
    ReleaseOperand(endCell);
    ReleaseOperand(startCell);
    ReleaseOperand(destinationCell);
    ReleaseOperand(sourceCell);
    if (!source || !destination || source == destination) return;
    const int64_t items = HasCurrentItem(source) ? ListCount(source->currentNode) : 0;
    if (items == 0) {
        CopyListRange(source, destination, -1, -1);
        return;
    }
    start = start == -1 ? 0 : std::clamp<int64_t>(start, 0, items - 1);
    end = end == -1 ? items - 1 : std::clamp<int64_t>(end, 0, items - 1);
    CopyListRange(source, destination, start, end < start ? 0 : end - start + 1);
    if (destination->currentNode)
        ShowListItem(destination, ListNodeAt(destination->currentNode, ListIndexOf(source->currentNode)));
}

// The destination's current item becomes a copy of the source's (a fresh item
// in its place); an empty source changes nothing.
void Builtin_copy() {
    StackEntry destinationCell = TakeOperand();
    StackEntry sourceCell = TakeOperand();
    VariableRecord* source = ListArgument(sourceCell);
    VariableRecord* destination = ListArgument(destinationCell);
    ReleaseOperand(destinationCell);
    ReleaseOperand(sourceCell);
    if (!HasCurrentItem(source) || !destination || destination == source) return;
    if (!IsList(destination)) {
        ReleaseVariable(CurrentContext, destination, false, false);
        destination->flags |= kVarList;
        destination->currentNode = nullptr;
    }
    ListNode* old = destination->currentNode;
    ListNode* fresh = ListInsertBefore(old);
    if (!fresh) return;
    CopyNodeValue(fresh, source->currentNode);
    BindNodeMembers(destination, fresh, (destination->flags & kVarPublic) != 0);
    if (old) ListDeleteNode(old);
    ShowListItem(destination, fresh);
}

}  // namespace qob
