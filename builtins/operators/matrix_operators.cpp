// builtins/operators/matrix_operators.cpp
// Element-wise operators on matrix cell runs: element reading, the operator
// table, the walks over one or two runs, and the operator dispatch.

#include "builtins/operators/matrix_operators.h"

#include <algorithm>
#include <cstring>

#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/typed_fields.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

// One element as an operator sees it. An ended side is the number 0.
struct Element {
    uint8_t kind;              // kCellNumber, kCellBlock or kCellMatrix
    double number;             // kCellNumber
    const char* text;          // kCellBlock: never null
    const MatrixCell* cells;   // kCellMatrix: may be null (empty)
};

constexpr Element kEndedElement{kCellNumber, 0.0, nullptr, nullptr};

// The run a result stands for when no memory is left: an empty matrix.
const MatrixCell kEmptyMatrix[1] = {{{0, 0, 0, 0, 0, 0, 0, 0}, kCellEnd}};

Element ReadElement(const MatrixCell* cell) {
    switch (cell->kind) {
    case kCellBlock: {
        const auto* text = static_cast<const char*>(CellPointer(cell));
        return {kCellBlock, 0.0, text ? text : "", nullptr};
    }
    case kCellMatrix:
        return {kCellMatrix, 0.0, nullptr, static_cast<const MatrixCell*>(CellPointer(cell))};
    default:
        return {kCellNumber, CellValue(cell), nullptr, nullptr};
    }
}

// The scalar side of an operation: a number text counts as its number.
Element ScalarElement(const char* text, double number) {
    if (text && !IsNumberString(text)) return {kCellBlock, 0.0, text, nullptr};
    return {kCellNumber, text ? StringToNumber(text) : number, nullptr, nullptr};
}

bool IsNumberLike(const Element& e) { return e.kind == kCellNumber || IsNumberString(e.text); }

double NumberOf(const Element& e) { return e.kind == kCellBlock ? StringToNumber(e.text) : e.number; }

// The text an element joins with: its own, or its number formatted into buffer.
const char* JoinTextOf(const Element& e, char (&buffer)[kNumberTextSize]) {
    if (e.kind == kCellBlock) return e.text;
    FormatNumber(e.number, buffer);
    return buffer;
}

bool IsKnownOperator(char op) {
    return std::strchr("+-*/=!<>,.ao&|^LRlr", op) != nullptr && op != 0;
}

int32_t Int32Of(double value) { return platform::TruncateToInteger<int32_t>(value); }

// Shift count: the low 8 bits of the right element.
uint32_t ShiftCount(double value) { return static_cast<uint32_t>(Int32Of(value)) & 0xFF; }

double ApplyNumberOperator(char op, double a, double b) {
    const auto truth = [](bool value) { return value ? 1.0 : 0.0; };
    switch (op) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    case '/': return a / b;
    case '=': return truth(a == b);
    case '!': return truth(a != b);
    case '<': return truth(a < b);
    case '>': return truth(a > b);
    case ',': return truth(a <= b);
    case '.': return truth(a >= b);
    case 'a': return truth(a != 0.0 && b != 0.0);
    case 'o': return truth(a != 0.0 || b != 0.0);
    case '&': return Int32Of(a) & Int32Of(b);
    case '|': return Int32Of(a) | Int32Of(b);
    case '^': return Int32Of(a) ^ Int32Of(b);
    default: break;
    }
    const uint32_t n = ShiftCount(b);
    const auto bits = static_cast<uint32_t>(Int32Of(a));
    switch (op) {
    case 'L': return n >= 32 ? 0.0 : static_cast<double>(static_cast<int32_t>(bits << n));
    case 'R': return n >= 32 ? (Int32Of(a) < 0 ? -1.0 : 0.0) : static_cast<double>(Int32Of(a) >> n);
    case 'l': return n >= 32 ? 0.0 : static_cast<double>(bits << n);
    case 'r': return n >= 32 ? 0.0 : static_cast<double>(bits >> n);
    default: return a;
    }
}

void WriteNumber(MatrixCell* out, double value) {
    SetCellValue(out, value);
    out->kind = kCellNumber;
}

// A value block the cell owns through the links.
void AttachBlock(MatrixCell* out, void* block, uint8_t kind, MemoryLink** links) {
    if (!block) {
        WriteNumber(out, 0.0);
        return;
    }
    RegisterValueBlock(block);
    SetCellPointer(out, block);
    out->kind = kind;
    PushMemoryLink(links, block, out, kTypeDouble);
}

void WriteText(MatrixCell* out, const char* left, const char* right, MemoryLink** links) {
    const size_t leftLength = std::strlen(left);
    const size_t rightLength = right ? std::strlen(right) : 0;
    auto* block = static_cast<char*>(AllocateValueBlock(leftLength + rightLength + 1));
    if (block) {
        std::memcpy(block, left, leftLength);
        if (rightLength) std::memcpy(block + leftLength, right, rightLength);
    }
    AttachBlock(out, block, kCellBlock, links);
}

void FillOpScalar(char op, const MatrixCell* m, const Element& scalar, MatrixCell* out, MemoryLink** links);
void FillOpMatrix(char op, const MatrixCell* a, const MatrixCell* b, MatrixCell* out, MemoryLink** links);

// A nested run of count cells for the out cell, or null (the cell then holds 0).
MatrixCell* NewNestedRun(uint32_t count, MatrixCell* out, MemoryLink** links) {
    auto* run = static_cast<MatrixCell*>(AllocateValueBlock((static_cast<size_t>(count) + 1) * sizeof(MatrixCell)));
    AttachBlock(out, run, kCellMatrix, links);
    return run;
}

void NestedOpScalar(char op, const MatrixCell* nested, const Element& scalar, MatrixCell* out, MemoryLink** links) {
    if (MatrixCell* run = NewNestedRun(MatrixLength(nested, false), out, links))
        FillOpScalar(op, nested, scalar, run, links);
}

void ApplyElements(char op, const Element& a, const Element& b, MatrixCell* out, MemoryLink** links) {
    if (a.kind == kCellMatrix && b.kind == kCellMatrix) {
        const uint32_t count = std::max(MatrixLength(a.cells, false), MatrixLength(b.cells, false));
        if (MatrixCell* run = NewNestedRun(count, out, links)) FillOpMatrix(op, a.cells, b.cells, run, links);
        return;
    }
    if (a.kind == kCellMatrix) return NestedOpScalar(op, a.cells, b, out, links);
    if (b.kind == kCellMatrix) return NestedOpScalar(op, b.cells, a, out, links);
    if (!IsKnownOperator(op)) {
        if (a.kind == kCellBlock) return WriteText(out, a.text, nullptr, links);
        return WriteNumber(out, a.number);
    }
    if (op == '+' && (a.kind == kCellBlock || b.kind == kCellBlock)) {
        if (IsNumberLike(a) && IsNumberLike(b)) return WriteNumber(out, NumberOf(a) + NumberOf(b));
        char leftBuffer[kNumberTextSize];
        char rightBuffer[kNumberTextSize];
        return WriteText(out, JoinTextOf(a, leftBuffer), JoinTextOf(b, rightBuffer), links);
    }
    WriteNumber(out, ApplyNumberOperator(op, NumberOf(a), NumberOf(b)));
}

void WriteEnd(MatrixCell* out) {
    SetCellValue(out, 0.0);
    out->kind = kCellEnd;
}

void FillOpScalar(char op, const MatrixCell* m, const Element& scalar, MatrixCell* out, MemoryLink** links) {
    const uint32_t length = MatrixLength(m, false);
    for (uint32_t i = 0; i < length; ++i) ApplyElements(op, ReadElement(&m[i]), scalar, &out[i], links);
    WriteEnd(&out[length]);
}

void FillOpMatrix(char op, const MatrixCell* a, const MatrixCell* b, MatrixCell* out, MemoryLink** links) {
    const uint32_t lengthA = MatrixLength(a, false);
    const uint32_t lengthB = MatrixLength(b, false);
    const uint32_t length = std::max(lengthA, lengthB);
    for (uint32_t i = 0; i < length; ++i) {
        const Element left = i < lengthA ? ReadElement(&a[i]) : kEndedElement;
        const Element right = i < lengthB ? ReadElement(&b[i]) : kEndedElement;
        ApplyElements(op, left, right, &out[i], links);
    }
    WriteEnd(&out[length]);
}

// A top-level run of count cells and its end, tracked at the current depth.
MatrixCell* NewTrackedRun(uint32_t count) {
    auto* run = static_cast<MatrixCell*>(platform::AllocateZeroedBlock((static_cast<size_t>(count) + 1) * sizeof(MatrixCell)));
    if (run) TrackAllocation(CurrentContext, run, 0, kTrackedBlock);
    return run;
}

const MatrixCell* CellsOf(const StackEntry& entry) { return reinterpret_cast<const MatrixCell*>(entry.text); }

}  // namespace

MatrixCell* MatrixOpMatrix(char op, const MatrixCell* a, const MatrixCell* b, MemoryLink** links) {
    MatrixCell* run = NewTrackedRun(std::max(MatrixLength(a, false), MatrixLength(b, false)));
    if (run) FillOpMatrix(op, a, b, run, links);
    return run;
}

MatrixCell* MatrixOpScalar(char op, const MatrixCell* m, const char* scalarText, double scalar, MemoryLink** links) {
    MatrixCell* run = NewTrackedRun(MatrixLength(m, false));
    if (run) FillOpScalar(op, m, ScalarElement(scalarText, scalar), run, links);
    return run;
}

MatrixCell* ComputeMatrixOperation(char op, const StackEntry& left, const StackEntry& right, MemoryLink** links) {
    if (IsMatrix(left) && IsMatrix(right)) return MatrixOpMatrix(op, CellsOf(left), CellsOf(right), links);
    if (IsMatrix(left)) return MatrixOpScalar(op, CellsOf(left), NarrowOperandText(right), OperandNumber(right), links);
    if (IsMatrix(right)) return MatrixOpScalar(op, CellsOf(right), NarrowOperandText(left), OperandNumber(left), links);
    return nullptr;
}

void PushMatrixResult(MatrixCell* cells, MemoryLink* links) {
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = 0.0;
    cell->text = reinterpret_cast<const char*>(cells ? cells : kEmptyMatrix);
    cell->variable = nullptr;
    cell->extra = 0;
    cell->flags = kEntryMatrix;
    cell->ownedLinks = links;
}

bool MatrixOperator(char op, const StackEntry& left, const StackEntry& right) {
    if (!IsMatrix(left) && !IsMatrix(right)) return false;
    MemoryLink* links = nullptr;
    MatrixCell* result = ComputeMatrixOperation(op, left, right, &links);
    PushMatrixResult(result, links);
    return true;
}

void MatrixOperatorNumConst(char op, const StackEntry& entry, double number) {
    MemoryLink* links = nullptr;
    MatrixCell* result = MatrixOpScalar(op, CellsOf(entry), nullptr, number, &links);
    PushMatrixResult(result, links);
}

void MatrixOperatorTextConst(char op, const StackEntry& entry, const char* text) {
    MemoryLink* links = nullptr;
    MatrixCell* result = MatrixOpScalar(op, CellsOf(entry), text ? text : "", 0.0, &links);
    PushMatrixResult(result, links);
}

}  // namespace qob
