// builtins/operators/operator_values.cpp
// Operand access, result pushes, named-variable lookup and the push-result
// step shared by the operator handlers.

#include "builtins/operators/operator_values.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/values/assignment.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// What a result that could not be made stands for. Nobody frees a pushed
// text, so a static empty text is a valid result.
constexpr uint16_t kEmptyText[1] = {0};

void* TrackTemporary(void* block) {
    TrackAllocation(CurrentContext, block, 0, kTrackedBlock);
    return block;
}

// The bracket form of a matrix in a block of the current call depth.
const char* MatrixText(const StackEntry& operand) {
    const auto* cells = reinterpret_cast<const MatrixCell*>(operand.text);
    const uint64_t size = MatrixToStringCount(cells) + 1;
    auto* text = static_cast<char*>(size <= platform::kMaxBlockSize ? platform::AllocateZeroedBlock(size) : nullptr);
    if (!text) return reinterpret_cast<const char*>(kEmptyText);
    MatrixToString(cells, text, true);
    return static_cast<const char*>(TrackTemporary(text));
}

}  // namespace

StackEntry TakeOperand() {
    StackEntry* cell = PopStackEntry();
    StackEntry operand = *cell;
    cell->ownedLinks = nullptr;
    return operand;
}

void ReleaseOperand(StackEntry& operand) {
    MemoryLink* links = operand.ownedLinks;
    operand.ownedLinks = nullptr;
    if (links) FreeLinkChain(links);
}

StackEntry VariableOperand(VariableRecord* variable, void* field) {
    StackEntry operand{};
    if (!variable) return operand;
    char* text = nullptr;
    GetVariableValue(variable, &text, &operand.value, field);
    operand.text = text;
    operand.variable = variable;
    if (!field && (variable->flags & kVarMatrix)) operand.flags |= kEntryMatrix;
    if (!field && (variable->flags & kVarWideText)) operand.flags |= kEntryWide;
    return operand;
}

bool IsNumberText(const char* text, bool wide) {
    if (!text || !wide) return IsNumberString(text);
    char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(text));
    const bool number = narrow && IsNumberString(narrow);
    platform::FreeBlock(narrow);
    return number;
}

double TextNumber(const char* text, bool wide) {
    if (!text || !wide) return StringToNumber(text);
    char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(text));
    const double value = StringToNumber(narrow ? narrow : "");
    platform::FreeBlock(narrow);
    return value;
}

bool IsNumeric(const StackEntry& operand) {
    if (IsMatrix(operand)) return false;
    return IsNumberText(operand.text, IsWide(operand));
}

double OperandNumber(const StackEntry& operand) {
    if (!operand.text || IsMatrix(operand)) return operand.value;
    return TextNumber(operand.text, IsWide(operand));
}

TextSpan OperandText(const StackEntry& operand, bool wide) {
    if (wide) {
        if (IsWide(operand)) {
            const auto* units = reinterpret_cast<const uint16_t*>(operand.text);
            return {units, platform::WideTextLength(units)};
        }
        const char* narrow = IsMatrix(operand) ? MatrixText(operand) : StackEntryString(&operand);
        auto* units = AnsiToWide(narrow);
        if (!units) return {kEmptyText, 0};
        TrackTemporary(units);
        return {units, platform::WideTextLength(units)};
    }
    const char* text = IsMatrix(operand) ? MatrixText(operand) : StackEntryString(&operand);
    if (!text) return {kEmptyText, 0};
    return {text, std::strlen(text)};
}

const char* NarrowOperandText(const StackEntry& operand) {
    if (IsMatrix(operand)) return MatrixText(operand);
    if (!operand.text) return nullptr;
    if (!IsWide(operand)) return operand.text;
    char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(operand.text));
    if (!narrow) return reinterpret_cast<const char*>(kEmptyText);
    return static_cast<const char*>(TrackTemporary(narrow));
}

FrameArguments CloseFrameArguments() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    int64_t count = 0;
    for (const StackEntry* cell = context->stackTop; cell && cell != saved && cell->below; cell = cell->below) ++count;
    return {saved, count};
}

void DropFrameArguments(const FrameArguments& arguments) {
    StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        MemoryLink* links = cell->ownedLinks;
        cell->ownedLinks = nullptr;
        if (links) FreeLinkChain(links);
    }
    if (arguments.count > 0) CurrentContext->stackTop = arguments.saved;
}

bool AnyWideArgument(const FrameArguments& arguments) {
    const StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        if (IsWide(*cell)) return true;
    }
    return false;
}

namespace {

// Calls visit with each argument's text in the order written. A number is
// formatted into a buffer of this frame, so the 8-bit texts of numbers and
// texts need no block at all.
template <typename Visit>
void VisitArgumentTexts(const FrameArguments& arguments, bool wide, Visit&& visit) {
    const StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        if (wide || IsMatrix(*cell) || cell->text) {
            visit(OperandText(*cell, wide));
            continue;
        }
        char number[kNumberTextSize];
        const size_t length = FormatNumber(cell->value, number);
        visit(TextSpan{number, length});
    }
}

}  // namespace

void* JoinFrameArguments(const FrameArguments& arguments, bool wide) {
    const size_t unit = wide ? sizeof(uint16_t) : 1;
    uint64_t total = 0;
    VisitArgumentTexts(arguments, wide, [&total](TextSpan text) { total += text.length; });
    if (total >= platform::kMaxBlockSize / unit) return nullptr;
    auto* joined = static_cast<char*>(platform::AllocateZeroedBlock((total + 1) * unit));
    if (!joined) return nullptr;
    // The second walk reads what the first one read: it cannot fault, and it
    // never writes past the length the first one measured.
    uint64_t left = total;
    char* out = joined;
    VisitArgumentTexts(arguments, wide, [&](TextSpan text) {
        const uint64_t length = text.length < left ? text.length : left;
        if (length) std::memcpy(out, text.units, length * unit);
        out += length * unit;
        left -= length;
    });
    return joined;
}

void AssignTargetOrSetResult(StackEntry* cell, double value, Instruction* next, VariableRecord* target) {
    if (!AssignNumberToTarget(target, value)) return SetNumberResult(cell, value);
    CurrentInstruction = next;
    CurrentContext->stackTop = cell->below;
}

void PushNumberResult(double value) {
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = value;
    cell->text = nullptr;
    cell->variable = nullptr;
    cell->extra = 0;
    cell->flags = 0;
}

void PushTruthResult(bool value) { PushNumberResult(value ? 1.0 : 0.0); }

void PushTextResult(void* block, bool wide) {
    const char* text = block ? static_cast<const char*>(TrackTemporary(block)) : reinterpret_cast<const char*>(kEmptyText);
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = 0.0;
    cell->text = text;
    cell->variable = nullptr;
    cell->extra = 0;
    cell->flags = wide ? kEntryWide : 0;
}

VariableRecord* TargetVariable(const StackEntry& target) {
    if (target.variable) return target.variable;
    if (target.text && !(target.flags & (kEntryWide | kEntryMatrix)))
        return RequireVariable(LocalVariableList, target.text);
    char number[kNumberTextSize];
    FormatNumber(target.value, number);
    return RequireVariable(LocalVariableList, number);
}

void PushRequestedValue(VariableRecord* variable) {
    SetPushPending = 0;
    if (!variable) {
        PushNumberResult(0.0);
        return;
    }
    PushVariableCell(variable);
}

void PushRequestedValueBeforeChange(VariableRecord* variable) {
    PushRequestedValue(variable);
    if (variable) CopyOutOfVariable(*CurrentContext->stackTop);
}

void CopyOutOfVariable(StackEntry& cell) {
    if (!cell.text) return;
    if (cell.flags & kEntryMatrix) {
        MemoryLink* links = nullptr;
        MatrixCell* copy = CopyMatrixCells(reinterpret_cast<const MatrixCell*>(cell.text), &links);
        if (copy) PushMemoryLink(&links, copy, nullptr, kTypeDouble);
        cell.text = copy ? reinterpret_cast<const char*>(copy) : nullptr;
        cell.ownedLinks = links;
        return;
    }
    char* copy = CopyCellText(cell.text, (cell.flags & kEntryWide) != 0);
    cell.text = copy ? static_cast<const char*>(TrackTemporary(copy)) : reinterpret_cast<const char*>(kEmptyText);
}

void StoreText(VariableRecord* variable, const void* block, bool wide, void* field) {
    const size_t units = wide ? platform::WideTextLength(static_cast<const uint16_t*>(block))
                              : std::strlen(static_cast<const char*>(block));
    const size_t bytes = (units + 1) * (wide ? sizeof(uint16_t) : 1);
    SetVariableValue(variable, static_cast<const char*>(block), 0.0, field, static_cast<int64_t>(bytes));
    if (!field) {
        if (wide) variable->flags |= kVarWideText;
        else variable->flags &= ~kVarWideText;
    }
}

}  // namespace qob
