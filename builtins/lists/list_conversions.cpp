// builtins/lists/list_conversions.cpp
// Lists, arrays, matrices and texts converted into one another; fill; the
// application and window lists.
#include "builtins/lists/list_conversions.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "builtins/lists/container_items.h"
#include "builtins/lists/list_builtins.h"
#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/data/text_routines.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/registry/hooks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

int64_t IntegerOperand(const StackEntry& cell) { return TruncToInt64(OperandNumber(cell)); }

size_t TextUnits(const char* text, bool wide) { return TextBytes(text, wide) / (wide ? 2 : 1) - 1; }

// Rebuilds the list that the cell names from the chain (freed when the cell
// names no variable); gives the number of items.
int64_t RebuildListArgument(const StackEntry& listCell, ListNode* chain) {
    VariableRecord* list = ListArgument(listCell);
    if (list) return RebuildList(list, chain);
    ListFree(chain, true);
    return 0;
}

// A chain of one item per element of the array (null for no array).
ListNode* ArrayItems(VariableRecord* array) {
    ListNode* chain = nullptr;
    if (!IsArrayVariable(array)) return nullptr;
    for (uint32_t i = 0; i < array->elementCount; ++i) {
        char* text = nullptr;
        bool wide = false;
        double value = 0.0;
        ReadArrayElement(array, i, &text, &wide, &value);
        ListNode* node = text ? AppendTextItem(chain, text, TextUnits(text, wide), wide) : AppendNumberItem(chain, value);
        FreeValueBlock(text);
        if (node) chain = node;
    }
    return chain;
}

// The block of 32-bit addresses a pointer-array argument names (its text, or
// the address its number holds) and how many slots of it may be read.
const unsigned char* PointerSlots(const StackEntry& cell, int64_t& count) {
    const auto* base = reinterpret_cast<const unsigned char*>(cell.text);
    if (!base) base = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(static_cast<uint32_t>(StackEntryInteger(&cell))));
    if (count < 1 || !base) {
        count = 0;
        return base;
    }
    if (const size_t size = platform::GetBlockSize(base)) count = std::min<int64_t>(count, static_cast<int64_t>(size / 4));
    else if (IsValidPointer(base) != 0) count = 0;
    return base;
}

uint32_t SlotAt(const unsigned char* base, int64_t index) {
    uint32_t address;
    std::memcpy(&address, base + index * 4, sizeof address);
    return address;
}

// An array argument that has elements, or, when it has none, made one of
// count doubles; null when there is neither.
VariableRecord* TargetArray(const StackEntry& cell, uint32_t count) {
    VariableRecord* array = ListArgument(cell);
    if (!array || (array->flags & kVarList)) return nullptr;
    if (IsArrayVariable(array)) return array;
    return MakeDoubleArray(array, count) ? array : nullptr;
}

// The list's items into the array, numbers or texts by the array's type.
void ListIntoArray(bool textsAsNumbers) {
    StackEntry arrayCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    VariableRecord* list = ListArgument(listCell);
    uint32_t written = 0;
    if (HasCurrentItem(list)) {
        ListNode* node = ListFirst(list->currentNode);
        if (VariableRecord* array = TargetArray(arrayCell, ListCount(node))) {
            for (; node && written < array->elementCount; node = node->next, ++written) {
                unsigned char* element = ArrayElement(array, written);
                const bool text = node->data && !(node->flags & kVarMatrix);
                const bool wide = (node->flags & kVarWideText) != 0;
                if (!text) StoreArrayNumber(array, element, node->value);
                else if (textsAsNumbers) StoreArrayNumber(array, element, TextNumber(node->data, wide));
                else StoreArrayText(array, element, node->data, TextUnits(node->data, wide), wide);
            }
        }
    }
    ReleaseOperand(arrayCell);
    ReleaseOperand(listCell);
    PushNumberResult(written);
}

const MatrixCell* MatrixOf(const StackEntry& cell) {
    return IsMatrix(cell) ? reinterpret_cast<const MatrixCell*>(cell.text) : nullptr;
}

// fill into a structure: the values to the members in order.
int64_t FillStructure(VariableRecord* structure, const FrameArguments& arguments) {
    int64_t stored = 0;
    MemberDefinition* d = structure->members;
    StackEntry* cell = arguments.saved->above;
    for (int64_t i = 1; i < arguments.count && d; ++i, d = d->next, ++stored) {
        cell = cell->above;
        if (cell->text && !IsMatrix(*cell)) {
            const bool wide = IsWide(*cell);
            StoreMemberText(d->member, cell->text, TextUnits(cell->text, wide), wide);
        } else {
            SetVariableValue(d->member, nullptr, cell->value, nullptr, 0);
        }
    }
    return stored;
}

// fill into a list: the new items are made while the old ones (which a value
// may still read) live; then the old ones go.
int64_t FillList(VariableRecord* list, const FrameArguments& arguments) {
    ListNode* old = list->currentNode;
    list->currentNode = nullptr;
    AppendValueItems(list, arguments);
    ListNode* fresh = list->currentNode;
    ListFree(old, true);
    ShowListItem(list, fresh ? ListFirst(fresh) : nullptr);
    return fresh ? ListCount(fresh) : 0;
}

// fill into a matrix: each value appended as a cell.
int64_t FillMatrix(VariableRecord* matrix, const FrameArguments& arguments) {
    MemoryLink* links = nullptr;
    MatrixCell* run = CopyMatrixCells(reinterpret_cast<const MatrixCell*>(matrix->data), &links);
    int64_t stored = 0;
    StackEntry* cell = arguments.saved->above;
    for (int64_t i = 1; i < arguments.count && run; ++i) {
        cell = cell->above;
        uint8_t kind = kCellNumber;
        double number = cell->value;
        if (IsMatrix(*cell)) {
            kind = kCellMatrix;
            number = static_cast<double>(reinterpret_cast<uintptr_t>(cell->text));
        } else if (cell->text && !(cell->variable && (cell->variable->flags & kVarObject))) {
            kind = kCellBlock;
            number = static_cast<double>(reinterpret_cast<uintptr_t>(NarrowOperandText(*cell)));
        }
        MemoryLink* nextLinks = nullptr;
        MatrixCell* next = MatrixAdd(run, number, kind, &nextLinks);
        if (!next) break;
        FreeMatrix(run, &links);
        run = next;
        links = nextLinks;
        ++stored;
    }
    if (run) {
        SetMatrixValue(matrix, run);
        FreeMatrix(run, &links);
    }
    return stored;
}

// fill into a typed block: texts as their characters, numbers as one byte
// each, from the block's start and never past its end.
int64_t FillBlock(VariableRecord* target, const FrameArguments& arguments) {
    auto* block = reinterpret_cast<unsigned char*>(target->data);
    if (!block) return 0;
    size_t size = platform::GetBlockSize(block);
    if (size == 0) size = static_cast<size_t>(ElementSize(target->type));
    size_t used = 0;
    int64_t stored = 0;
    StackEntry* cell = arguments.saved->above;
    for (int64_t i = 1; i < arguments.count && used < size; ++i, ++stored) {
        cell = cell->above;
        if (cell->text && !IsMatrix(*cell)) {
            const char* text = NarrowOperandText(*cell);
            const size_t count = std::min(std::strlen(text), size - used);
            std::memcpy(block + used, text, count);
            used += count;
        } else {
            block[used++] = static_cast<unsigned char>(static_cast<int64_t>(TruncToInt64(cell->value)));
        }
    }
    return stored;
}

// fill into an array: the values to the elements in order.
int64_t FillArray(VariableRecord* array, const FrameArguments& arguments) {
    int64_t stored = 0;
    StackEntry* cell = arguments.saved->above;
    for (int64_t i = 1; i < arguments.count && stored < array->elementCount; ++i, ++stored) {
        cell = cell->above;
        unsigned char* element = ArrayElement(array, static_cast<uint32_t>(stored));
        if (cell->text && !IsMatrix(*cell)) {
            const bool wide = IsWide(*cell);
            StoreArrayText(array, element, cell->text, TextUnits(cell->text, wide), wide);
        } else {
            StoreArrayNumber(array, element, cell->value);
        }
    }
    return stored;
}

// The values into the target, by what the target is.
int64_t FillTarget(VariableRecord* target, const FrameArguments& arguments) {
    if ((target->flags & kVarStructure) && target->elementCount == 0) return FillStructure(target, arguments);
    if (target->elementCount > 0 && target->data && !(target->flags & kVarList)) return FillArray(target, arguments);
    if ((target->flags & kVarList) && !(target->flags & kVarMatrix)) return FillList(target, arguments);
    if (target->flags & kVarMatrix) return FillMatrix(target, arguments);
    return FillBlock(target, arguments);
}

void CollectWindow(uintptr_t window, void* user) {
    auto* last = static_cast<ListNode**>(user);
    if (ListNode* node = AppendNumberItem(*last, static_cast<double>(window))) *last = node;
}

}  // namespace

void Builtin_arraytolist() {
    StackEntry listCell = TakeOperand();
    StackEntry arrayCell = TakeOperand();
    ListNode* chain = ArrayItems(ListArgument(arrayCell));
    const int64_t count = RebuildListArgument(listCell, chain);
    ReleaseOperand(listCell);
    ReleaseOperand(arrayCell);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_carraytolist() {
    StackEntry listCell = TakeOperand();
    StackEntry countCell = TakeOperand();
    StackEntry arrayCell = TakeOperand();
    int64_t count = IntegerOperand(countCell);
    const unsigned char* slots = PointerSlots(arrayCell, count);
    ListNode* chain = nullptr;
    for (int64_t i = 0; i < count; ++i) {
        const auto* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(SlotAt(slots, i)));
        ListNode* node = nullptr;
        if (!text || (platform::GetBlockSize(text) == 0 && IsValidPointer(text) != 0)) {
            node = AppendNumberItem(chain, 0.0);
        } else {
            const size_t size = platform::GetBlockSize(text);
            node = AppendTextItem(chain, text, size ? strnlen(text, size) : std::strlen(text), false);
        }
        if (node) chain = node;
    }
    const int64_t items = RebuildListArgument(listCell, chain);
    ReleaseOperand(listCell);
    ReleaseOperand(countCell);
    ReleaseOperand(arrayCell);
    PushNumberResult(static_cast<double>(items));
}

void Builtin_freecarray() {
    StackEntry arrayCell = TakeOperand();
    StackEntry countCell = TakeOperand();
    int64_t count = IntegerOperand(countCell);
    auto* slots = const_cast<unsigned char*>(PointerSlots(arrayCell, count));
    for (int64_t i = 0; i < count; ++i) {
        void* block = reinterpret_cast<void*>(static_cast<uintptr_t>(SlotAt(slots, i)));
        if (!block || platform::GetBlockSize(block) == 0) continue;
        FreeValueBlock(block);
        std::memset(slots + i * 4, 0, 4);
    }
    ReleaseOperand(arrayCell);
    ReleaseOperand(countCell);
}

void Builtin_listtoarray() { ListIntoArray(false); }
void Builtin_tlisttoarray() { ListIntoArray(true); }

void Builtin_arraytostr() {
    StackEntry suffixCell = TakeOperand();
    StackEntry prefixCell = TakeOperand();
    StackEntry separatorCell = TakeOperand();
    StackEntry arrayCell = TakeOperand();
    VariableRecord* array = ListArgument(arrayCell);
    std::string out;
    if (IsArrayVariable(array)) {
        const TextSpan separator = ArgumentText(separatorCell, false);
        const TextSpan prefix = ArgumentText(prefixCell, false);
        const TextSpan suffix = ArgumentText(suffixCell, false);
        for (uint32_t i = 0; i < array->elementCount; ++i) {
            if (i) out.append(static_cast<const char*>(separator.units), separator.length);
            out.append(static_cast<const char*>(prefix.units), prefix.length);
            char* text = nullptr;
            bool wide = false;
            double value = 0.0;
            ReadArrayElement(array, i, &text, &wide, &value);
            StackEntry element{};
            element.value = value;
            element.text = text;
            element.flags = wide ? kEntryWide : 0;
            const TextSpan shown = ArgumentText(element, false);
            out.append(static_cast<const char*>(shown.units), shown.length);
            FreeValueBlock(text);
            out.append(static_cast<const char*>(suffix.units), suffix.length);
        }
    }
    PushTextResult(CopyText({out.data(), out.size()}, false), false);
    ReleaseOperand(suffixCell);
    ReleaseOperand(prefixCell);
    ReleaseOperand(separatorCell);
    ReleaseOperand(arrayCell);
}

void Builtin_matrixtoarray() {
    StackEntry arrayCell = TakeOperand();
    StackEntry matrixCell = TakeOperand();
    const MatrixCell* cells = MatrixOf(matrixCell);
    uint32_t written = 0;
    const uint32_t numbers = cells ? MatrixLength(cells, true) : 0;
    if (numbers > 0) {
        if (VariableRecord* array = TargetArray(arrayCell, numbers)) {
            auto* position = reinterpret_cast<unsigned char*>(array->data);
            written = MatrixToArray(cells, &position, array);
        }
    }
    ReleaseOperand(arrayCell);
    ReleaseOperand(matrixCell);
    PushNumberResult(written);
}

void Builtin_matrixtostr() {
    StackEntry matrixCell = TakeOperand();
    void* result = nullptr;
    if (const MatrixCell* cells = MatrixOf(matrixCell)) {
        result = platform::AllocateBlock(MatrixToStringCount(cells));
        if (result) MatrixToString(cells, static_cast<char*>(result), true);
    }
    PushTextResult(result, false);
    ReleaseOperand(matrixCell);
}

void Builtin_strtomatrix() {
    StackEntry textCell = TakeOperand();
    const char* text = NarrowOperandText(textCell);
    const char* counted = text;
    const uint32_t count = StringToMatrixCount(&counted);
    auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((static_cast<size_t>(count) + 1) * sizeof(MatrixCell)));
    MemoryLink* links = nullptr;
    if (cells) {
        RegisterValueBlock(cells);
        const char* parsed = text;
        StringToMatrix(&parsed, cells, &links);
        PushMemoryLink(&links, cells, nullptr, kTypeDouble);
    }
    PushMatrixResult(cells, links);
    ReleaseOperand(textCell);
}

void Builtin_fill() {
    const FrameArguments arguments = CloseFrameArguments();
    VariableRecord* target = arguments.count > 0 ? ListArgument(*arguments.saved->above) : nullptr;
    const int64_t stored = target ? FillTarget(target, arguments) : 0;
    DropFrameArguments(arguments);
    PushNumberResult(static_cast<double>(stored));
}

void Builtin_applications() {
    StackEntry listCell = TakeOperand();
    ListNode* chain = nullptr;
    for (ProgramContext* context = FirstContext; context; context = context->next)
        if (ListNode* node = AppendNumberItem(chain, static_cast<double>(reinterpret_cast<uintptr_t>(context))))
            chain = node;
    const int64_t count = RebuildListArgument(listCell, chain);
    ReleaseOperand(listCell);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_forms() {
    StackEntry applicationCell = TakeOperand();
    StackEntry listCell = TakeOperand();
    auto* context = reinterpret_cast<ProgramContext*>(static_cast<uintptr_t>(IntegerOperand(applicationCell)));
    ListNode* chain = nullptr;
    if (context && IsLiveContext(context)) Hooks.visitContextWindows(context, CollectWindow, &chain);
    const int64_t count = RebuildListArgument(listCell, chain);
    ReleaseOperand(applicationCell);
    ReleaseOperand(listCell);
    PushNumberResult(static_cast<double>(count));
}

}  // namespace qob
