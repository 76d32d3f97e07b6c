// builtins/structures/element_access.cpp
// Indexes to elements: array elements (checked against the element count),
// matrix cells, list items, structure fields by position, typed reads of a
// variable's block, and object members. An entry that names an element
// carries its variable and the element's address, so that an assignment
// through it writes there; an index outside gives an empty value that names
// nothing.
#include "builtins/structures/element_access.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "builtins/memory/memory_arguments.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// The indexes of one access; more than the array can have are counted but
// not kept (such an access never matches the dimension count).
struct Indexes {
    int64_t values[kMaxDimensions];
    int32_t count;
};

void AddIndex(Indexes& indexes, const StackEntry* cell) {
    if (indexes.count < kMaxDimensions)
        indexes.values[indexes.count] = platform::TruncateToInteger<int64_t>(StackEntryNumber(cell));
    ++indexes.count;
}

int32_t AddressWord(const void* address) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
}

void PushEmpty() { PushValue(nullptr, 0.0, nullptr, 0); }

// An index outside the variable's elements: reported in range mode, and an
// empty value either way.
void PushOutOfRange(const VariableRecord* variable) {
    if (CurrentContext->rangeCheck) {
        char message[512];
        std::snprintf(message, sizeof message, "Index out of range for array [%s]!",
                      variable->name ? variable->name : "");
        RaiseRuntimeError(message, 0);
    }
    PushEmpty();
}

void PushElement(VariableRecord* variable, void* address) {
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, address);
    PushValue(text, value, variable, AddressWord(address));
}

// The element position of the indexes: one index is the position itself;
// as many as the dimensions combine row- or column-major; any other number
// gives 0.
int64_t LinearIndex(const VariableRecord* variable, const Indexes& indexes) {
    if (indexes.count == 1) return indexes.values[0];
    if (indexes.count != variable->dimensionCount) return 0;
    int64_t position = 0;
    if (variable->arrayOrder) {
        int64_t stride = 1;
        for (int32_t i = 0; i < indexes.count; ++i) {
            position += indexes.values[i] * stride;
            stride *= static_cast<uint32_t>(variable->dimensions[i]);
        }
    } else {
        for (int32_t i = 0; i < indexes.count; ++i)
            position = position * static_cast<uint32_t>(variable->dimensions[i]) + indexes.values[i];
    }
    return position;
}

// The address of an element whose position is within the array.
char* ArrayElementAddress(const VariableRecord* variable, uint64_t position) {
    const VariableRecord* structure = variable->parent;
    if (!structure || !structure->elementCount || variable->arrayOrder)
        return variable->data + static_cast<uint64_t>(ElementSize(variable->type)) * position;
    // A field of a row-major array of structures: the element of the
    // outermost array, plus the offsets down to the field.
    uint64_t offset = variable->offset;
    while (structure->parent && structure->parent->elementCount) {
        offset += structure->offset;
        structure = structure->parent;
    }
    return structure->data + static_cast<uint64_t>(static_cast<uint32_t>(structure->type)) * position + offset;
}

void PushArrayElement(VariableRecord* variable, const Indexes& indexes) {
    const int64_t position = LinearIndex(variable, indexes);
    if (position < 0 || position >= static_cast<int64_t>(variable->elementCount) || !variable->data)
        return PushOutOfRange(variable);
    PushElement(variable, ArrayElementAddress(variable, static_cast<uint64_t>(position)));
}

void PushMatrixCell(VariableRecord* variable, MatrixCell* cells, const Indexes& indexes) {
    const int64_t position = LinearIndex(variable, indexes);
    if (!cells || position < 0 || position >= static_cast<int64_t>(MatrixLength(cells, false)))
        return PushOutOfRange(variable);
    PushElement(variable, reinterpret_cast<char*>(cells) + 9 * position);
}

// A list item read through the list variable, its current item kept.
void PushListItem(VariableRecord* variable, int64_t index) {
    ListNode* current = variable->currentNode;
    if (!current || index < 0 || index >= static_cast<int64_t>(ListCount(current))) return PushOutOfRange(variable);
    StoreListElement(variable);
    variable->currentNode = ListNodeAt(current, index);
    LoadListElement(variable);
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    PushValue(text, value, variable, 0);
    CurrentContext->stackTop->flags |= kEntryListItem;
    variable->currentNode = current;
    LoadListElement(variable);
}

void PushFieldAt(VariableRecord* structure, int64_t position) {
    MemberDefinition* definition = structure->members;
    for (int64_t i = 0; definition && i < position; ++i) definition = definition->next;
    if (position < 0 || !definition || !definition->member) return PushEmpty();
    PushVariableCell(definition->member);
}

// A number read from a plain variable's block, pushed with the variable and
// its address; a number that is one of the blocks the variable (or its
// structure) owns through its fields comes as that block's text instead.
void PushReadNumber(VariableRecord* variable, double value, const void* address) {
    const auto block = static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(value));
    if (block != 0)
        if (MemoryLink* link = FindMemoryLinkByBlock(variable, reinterpret_cast<void*>(block)))
            return PushValue(static_cast<char*>(link->block), 0.0, variable, AddressWord(address));
    PushValue(nullptr, value, variable, AddressWord(address));
}

// Two indexes on a plain variable: an element of a type code in its block.
void PushTypedRead(VariableRecord* variable, int64_t index, int32_t code) {
    char* block = variable->data;
    if (!block) return PushEmpty();
    if (const size_t width = TypedWidth(code)) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(block) + static_cast<uintptr_t>(index * static_cast<int64_t>(width));
        double value = 0.0;
        if (!CheckBlockAccess(address, width)) return PushEmpty();
        ReadTypedNumberAt(address, code, value);
        return PushReadNumber(variable, value, AddressPointer(address));
    }
    const char* source = nullptr;
    size_t count = 0;
    if (code > 0) {
        source = block + index;
        count = static_cast<size_t>(code);
        if (!CheckBlockAccess(reinterpret_cast<uintptr_t>(source), count)) return PushEmpty();
    } else if (code == 0) {
        // The last index bytes of the block's text, the count kept within it.
        const size_t length = std::strlen(block);
        count = index < 0 ? 0 : static_cast<size_t>(index) > length ? length : static_cast<size_t>(index);
        source = block + length - count;
    } else {
        return PushEmpty();
    }
    auto* copy = static_cast<char*>(platform::AllocateBlock(count + 1));
    if (!copy) return PushEmpty();
    std::memcpy(copy, source, count);
    copy[count] = '\0';
    TrackAllocation(CurrentContext, copy, 0, kTrackedBlock);
    PushValue(copy, 0.0, variable, AddressWord(source));
}

// One index on a plain variable: the byte at its block (or at the address
// its number holds) plus the index.
void PushByteRead(VariableRecord* variable, int64_t index) {
    const uintptr_t base = variable->data ? reinterpret_cast<uintptr_t>(variable->data)
                                          : platform::TruncateTo32Bits<uint32_t>(variable->value);
    const uintptr_t address = base + static_cast<uintptr_t>(index);
    if (!CheckBlockAccess(address, 1)) return PushEmpty();
    uint8_t byte = 0;
    std::memcpy(&byte, AddressPointer(address), 1);
    PushReadNumber(variable, byte, AddressPointer(address));
}

// The access of every form; nestedMatrix, when not null, replaces a matrix
// variable's cells. twoIndexForm: two indexes on a plain variable are an
// element index and a type code.
void PushAccess(VariableRecord* variable, const Indexes& indexes, MatrixCell* nestedMatrix, bool twoIndexForm) {
    if (!variable) return PushEmpty();
    const int64_t first = indexes.count > 0 ? indexes.values[0] : 0;
    if (variable->flags & kVarList) return PushListItem(variable, first);
    if (variable->elementCount) return PushArrayElement(variable, indexes);
    if (variable->flags & kVarMatrix)
        return PushMatrixCell(variable, nestedMatrix ? nestedMatrix : reinterpret_cast<MatrixCell*>(variable->data),
                              indexes);
    if (variable->flags & kVarStructure) return PushFieldAt(variable, first);
    if (twoIndexForm && indexes.count == 2)
        return PushTypedRead(variable, first, static_cast<int32_t>(platform::TruncateTo32Bits<int32_t>(
                                                  static_cast<double>(indexes.values[1]))));
    PushByteRead(variable, first);
}

// The nested matrix an element entry of a matrix names (its cell holds the
// nested run's address), or null.
MatrixCell* NestedMatrixOf(const StackEntry& cell) {
    if (cell.extra == 0 || !cell.variable || !(cell.variable->flags & kVarMatrix)) return nullptr;
    double address = 0.0;
    std::memcpy(&address, EntryField(cell), sizeof address);
    return reinterpret_cast<MatrixCell*>(static_cast<uintptr_t>(platform::TruncateTo32Bits<uint32_t>(address)));
}

Indexes FrameIndexes(const FrameArguments& arguments) {
    Indexes indexes{};
    const StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) AddIndex(indexes, cell = cell->above);
    return indexes;
}

Indexes OneIndex(int64_t index) {
    Indexes indexes{};
    indexes.values[0] = index;
    indexes.count = 1;
    return indexes;
}

// An instance head that an object value names, or null: only a live record.
VariableRecord* LiveInstance(double value) {
    auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(platform::TruncateTo32Bits<uint32_t>(value)));
    if (!head || platform::GetBlockSize(head) != sizeof(VariableRecord)) return nullptr;
    return head;
}

std::string UpperName(const StackEntry& cell) {
    const char* text = NarrowOperandText(cell);
    std::string name = text ? text : StackEntryString(&cell);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

}  // namespace

void Builtin___offset() {
    const FrameArguments arguments = CloseFrameArguments();
    const Indexes indexes = FrameIndexes(arguments);
    DropFrameArguments(arguments);
    const StackEntry cell = *PopStackEntry();
    PushAccess(TargetVariable(cell), indexes, NestedMatrixOf(cell), true);
}

void Builtin___offset1() {
    Indexes indexes{};
    AddIndex(indexes, PopStackEntry());
    const StackEntry cell = *PopStackEntry();
    PushAccess(TargetVariable(cell), indexes, NestedMatrixOf(cell), false);
}

void Builtin___offsetvar() {
    const StackEntry member = *PopStackEntry();
    const StackEntry object = *PopStackEntry();
    VariableRecord* head = LiveInstance(object.value != 0.0 || !object.variable ? object.value : object.variable->value);
    if (!head) {
        RaiseRuntimeError("Invalid object variable!", 0);
        return PushEmpty();
    }
    const std::string name = UpperName(member);
    VariableRecord* saved = MemberList;
    MemberList = head;
    VariableRecord* field = FindVariable(name.c_str(), 0);
    MemberList = saved;
    // Only a member of this instance: a global of the same name is not one.
    if (!field || field->owner != head) return PushEmpty();
    char* text = nullptr;
    double value = 0.0;
    void* address = EntryField(member);
    GetVariableValue(field, &text, &value, address);
    PushValue(text, value, field, member.extra);
}

void Handle_OFFSET2() {
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    const FrameArguments arguments = CloseFrameArguments();
    const Indexes indexes = FrameIndexes(arguments);
    DropFrameArguments(arguments);
    PushAccess(variable, indexes, nullptr, true);
}

void Handle_OFFSET2_1() {
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    Indexes indexes{};
    AddIndex(indexes, PopStackEntry());
    PushAccess(variable, indexes, nullptr, false);
}

void Handle_OFFSET2_2() {
    Instruction* node = CurrentInstruction;
    PushAccess(NodeVariable(node), OneIndex(platform::TruncateToInteger<int64_t>(node->operand)), nullptr, false);
}

}  // namespace qob
