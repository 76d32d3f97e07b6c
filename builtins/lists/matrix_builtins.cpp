// builtins/lists/matrix_builtins.cpp
// Counting, inspecting, appending, deleting and cutting matrix cells.

#include "builtins/lists/matrix_builtins.h"

#include <cstdint>

#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "runtime/data/text_routines.h"
#include "runtime/memory/memory_links.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"

namespace qob {
namespace {

const MatrixCell* CellsOf(const StackEntry& operand) {
    return IsMatrix(operand) ? reinterpret_cast<const MatrixCell*>(operand.text) : nullptr;
}

int64_t IntegerArgument(const StackEntry& operand) {
    return platform::TruncateToInteger<int64_t>(OperandNumber(operand));
}

// Pushes a run made by the matrix routines: the new value owns the run too.
void PushNewMatrix(MatrixCell* run, MemoryLink* links) {
    if (run) PushMemoryLink(&links, run, nullptr, kTypeDouble);
    PushMatrixResult(run, links);
}

// The kind byte of the cell at an address, 0 when no cell can be there.
double KindAt(uintptr_t address) {
    const auto* cell = reinterpret_cast<const MatrixCell*>(address);
    if (!cell || IsValidPointer(&cell->kind) != 0) return 0.0;
    return cell->kind;
}

using RangeRoutine = MatrixCell* (*)(const MatrixCell*, int64_t, int64_t, MemoryLink**);

template <RangeRoutine routine>
void RunRangeBuiltin() {
    StackEntry count = TakeOperand();
    StackEntry position = TakeOperand();
    StackEntry matrix = TakeOperand();
    MemoryLink* links = nullptr;
    MatrixCell* run = routine(CellsOf(matrix), IntegerArgument(position), IntegerArgument(count), &links);
    PushNewMatrix(run, links);
    ReleaseOperand(matrix);
    ReleaseOperand(position);
    ReleaseOperand(count);
}

}  // namespace

void Builtin_mcount() {
    StackEntry deep = TakeOperand();
    StackEntry matrix = TakeOperand();
    PushNumberResult(MatrixLength(CellsOf(matrix), IntegerArgument(deep) != 0));
    ReleaseOperand(matrix);
    ReleaseOperand(deep);
}

void Builtin_mtype() {
    StackEntry element = TakeOperand();
    double kind = 0.0;
    if (element.extra != 0) {
        kind = KindAt(static_cast<uint32_t>(element.extra));
    } else if (element.variable && (element.variable->flags & kVarMatrix) && element.variable->data) {
        kind = reinterpret_cast<const MatrixCell*>(element.variable->data)->kind;
    } else {
        kind = KindAt(platform::TruncateToInteger<uint32_t>(element.value));
    }
    PushNumberResult(kind);
    ReleaseOperand(element);
}

namespace {

// An object stays a number cell holding its instance address (its text is
// only the class name); the matrix refers to it and never frees it.
bool IsObjectValue(const StackEntry& value) { return value.variable && (value.variable->flags & kVarObject); }

}  // namespace

void Builtin_madd() {
    StackEntry value = TakeOperand();
    StackEntry matrix = TakeOperand();
    uint8_t kind = kCellNumber;
    double number = value.value;
    if (IsMatrix(value)) {
        kind = kCellMatrix;
        number = static_cast<double>(reinterpret_cast<uintptr_t>(value.text));
    } else if (value.text && !IsObjectValue(value)) {
        kind = kCellBlock;
        number = static_cast<double>(reinterpret_cast<uintptr_t>(value.text));
    }
    MemoryLink* links = nullptr;
    MatrixCell* run = MatrixAdd(CellsOf(matrix), number, kind, &links);
    PushNewMatrix(run, links);
    ReleaseOperand(matrix);
    ReleaseOperand(value);
}

void Builtin_mdel() { RunRangeBuiltin<MatrixDelete>(); }
void Builtin_mmid() { RunRangeBuiltin<MatrixMid>(); }

}  // namespace qob
