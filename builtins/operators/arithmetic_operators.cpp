// builtins/operators/arithmetic_operators.cpp
// Sum, difference, product, quotient and joining of numbers, texts and
// matrices, and the framed built-ins concat and validint.

#include "builtins/operators/arithmetic_operators.h"

#include <cstring>

#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/values/assignment.h"
#include "runtime/values/number_rules.h"
#include "runtime/vm/fresh_text.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

int64_t CountOf(double value) { return platform::TruncateToInteger<int64_t>(value); }

// Runs a binary operator's rule on the two topmost cells (out of line: the
// number case before it then needs no frame of its own).
template <void (*Rule)(const StackEntry&, const StackEntry&)>
[[gnu::noinline]] void RunGeneralOperator() {
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    Rule(left, right);
    ReleaseOperand(left);
    ReleaseOperand(right);
}

// The same for an operator whose handler is self, with Numbers what its rule
// does with two plain numbers.
template <void (*Rule)(const StackEntry&, const StackEntry&), double (*Numbers)(double, double), Handler self>
void RunBinaryOperator() {
    if (StackEntry* left = PopNumberPair()) {
        SetNumberResultOrAssign(left, Numbers(left->value, left->above->value), self);
        return;
    }
    RunGeneralOperator<Rule>();
}

// The text the last "%" pushed, while it may still be extended where it
// lies. It is a fresh block that only its cell shows; the next "%" may take
// it as its left operand and append to it instead of copying it, when the
// one instruction run between the two pushed a constant (a constant push runs
// no code of the program that could have seen or kept the cell) and no block
// was released or resized since (so the block is still the one made). Neither
// that push nor the second "%" may be a jump target: then the only way to the
// second "%" is straight on from the first.
struct JoinedTemporary {
    const Instruction* join;  // the "%" that pushed it
    const StackEntry* cell;
    char* text;                // null: nothing to extend
    size_t length;             // its exact length, the block holding one more byte
    uint64_t releases;         // CountBlockReleases() when it was pushed
};
JoinedTemporary LastJoined{};

void NoteJoinedTemporary(const StackEntry* cell) {
    LastJoined.text = nullptr;
    if (!cell || cell->variable || cell->flags || cell->extra || cell->ownedLinks || !cell->text) return;
    const size_t size = platform::GetBlockSize(cell->text);
    if (size == 0) return;  // the empty result of a failed join: no block
    LastJoined = {CurrentInstruction, cell, const_cast<char*>(cell->text), size - 1, platform::CountBlockReleases()};
}

// A push of a constant and nothing else (no step fused into the node).
bool IsConstantPush(const Instruction* node) {
    return node && !node->secondHandler &&
           (node->opcode == static_cast<uint32_t>(Opcode::PUSHSTR) ||
            node->opcode == static_cast<uint32_t>(Opcode::PUSHINT));
}

bool IsJumpedTo(const Instruction* node) { return node->extra && node->extra->isJumpTarget; }

// Appends the right operand to the left one's block where it lies, when the
// left operand is the text the previous "%" pushed (see JoinedTemporary) and
// its block has the room. False, with nothing changed, otherwise.
bool ExtendJoinedTemporary() {
    const JoinedTemporary last = LastJoined;
    LastJoined.text = nullptr;
    if (!last.text || last.releases != platform::CountBlockReleases()) return false;
    const Instruction* between = CurrentInstruction ? CurrentInstruction->previous : nullptr;
    if (!IsConstantPush(between) || between->previous != last.join || IsJumpedTo(between) ||
        IsJumpedTo(CurrentInstruction))
        return false;
    ProgramContext* context = CurrentContext;
    const StackEntry* right = context->stackTop;
    StackEntry* left = right ? right->below : nullptr;
    if (left != last.cell || left->text != last.text || left->variable || left->flags || left->extra ||
        left->ownedLinks || right->variable || right->flags || right->ownedLinks)
        return false;
    const TextSpan tail = OperandText(*right, false);
    if (tail.length >= platform::kMaxBlockSize - last.length) return false;
    const size_t length = last.length + tail.length;
    if (!platform::ResizeBlockInPlace(last.text, length + 1)) return false;
    if (tail.length) std::memcpy(last.text + last.length, tail.units, tail.length);
    last.text[length] = '\0';
    DropStackEntry();
    LastJoined = {CurrentInstruction, left, last.text, length, platform::CountBlockReleases()};
    NoteFreshText(left);
    return true;
}

// The variable of "X$ = X$ % a % "b"" when the running "%" is the first of
// that statement and X$ holds a text of its own that nothing else is known to
// see: a plain untyped variable owning its block, with no links, reference,
// list node, accessor, structure or protection. Null otherwise.
VariableRecord* AppendTarget(const StackEntry* left) {
    const Instruction* join = CurrentInstruction;
    if (!join || join->handler != Builtin_join || join->secondHandler || MemoryTracking) return nullptr;
    const Instruction* constant = join->next;
    if (!constant || constant->opcode != static_cast<uint32_t>(Opcode::PUSHSTR) || constant->secondHandler ||
        !constant->text)
        return nullptr;
    const Instruction* second = constant->next;
    if (!second || second->handler != Builtin_join || second->secondHandler) return nullptr;
    const Instruction* assign = second->next;
    if (!assign || !IsNumberAssignOpcode(assign)) return nullptr;
    VariableRecord* x = CachedAssignTarget(assign);
    if (!x || left->variable != x || left->text != x->data || !x->data || left->flags || left->extra ||
        left->ownedLinks)
        return nullptr;
    if (x->type != 0 || x->elementCount || x->currentNode || x->reference || x->links || x->linkOwner ||
        x->getter || x->setter || x->parent || x->protect == 1 || !(x->flags & kVarOwnsData) ||
        (x->flags & (kVarStructure | kVarMatrix | kVarObject | kVarHandedOver | kVarWideText | kVarList)))
        return nullptr;
    return x;
}

bool Overlaps(const TextSpan& text, const char* block, size_t size) {
    const auto* units = static_cast<const char*>(text.units);
    return text.length && units < block + size && block < units + text.length;
}

// Runs "X$ = X$ % a % "b"" at once (see AppendTarget): a and "b" are
// appended to X$'s own block where it lies, when the block has the room, and
// the machine goes on after the "=2" -- what the three steps would leave,
// without the two copies of the whole text. False, with nothing changed,
// when the statement is not of that form or the block would have to move.
bool AppendToOwnText() {
    ProgramContext* context = CurrentContext;
    StackEntry* right = context->stackTop;
    StackEntry* left = right ? right->below : nullptr;
    if (!left || !left->below || right->flags || right->ownedLinks) return false;
    VariableRecord* x = AppendTarget(left);
    if (!x) return false;
    Instruction* constant = CurrentInstruction->next;
    char* block = x->data;
    const size_t size = platform::GetBlockSize(block);
    if (size == 0) return false;
    const TextSpan tail = OperandText(*right, false);
    const TextSpan last = {constant->text, std::strlen(constant->text)};
    if (Overlaps(tail, block, size) || Overlaps(last, block, size)) return false;
    // The text ends at its first zero, which a program may have written
    // anywhere into the block.
    const size_t length = strnlen(block, size);
    if (length == size || tail.length + last.length >= platform::kMaxBlockSize - length) return false;
    const size_t joined = length + tail.length + last.length;
    if (!platform::ResizeBlockInPlace(block, joined + 1)) return false;
    if (tail.length) std::memcpy(block + length, tail.units, tail.length);
    if (last.length) std::memcpy(block + length + tail.length, last.units, last.length);
    block[joined] = '\0';
    // What the "=2" does with a text result kept as the variable's own block.
    x->value = 0.0;
    context->stackTop = left->below;
    LastJoined.text = nullptr;
    NoteFreshText(nullptr);
    CurrentInstruction = constant->next->next;
    return true;
}

}  // namespace

void PushJoined(const StackEntry& left, const StackEntry& right) {
    const bool wide = IsWide(left) || IsWide(right);
    PushTextResult(JoinTexts(OperandText(left, wide), OperandText(right, wide), wide), wide);
}

void PushSum(const StackEntry& left, const StackEntry& right) {
    if (!IsText(left) && !IsText(right)) return PushNumberResult(left.value + right.value);
    if (MatrixOperator('+', left, right)) return;
    if (IsNumeric(left) && IsNumeric(right)) return PushNumberResult(OperandNumber(left) + OperandNumber(right));
    PushJoined(left, right);
}

void PushDifference(const StackEntry& left, const StackEntry& right) {
    if (!IsText(left) && !IsText(right)) return PushNumberResult(left.value - right.value);
    if (MatrixOperator('-', left, right)) return;
    if (!IsText(left)) return PushNumberResult(left.value - OperandNumber(right));
    if (!IsText(right)) {
        const bool wide = IsWide(left);
        return PushTextResult(CutTextTail(OperandText(left, wide), CountOf(right.value), wide), wide);
    }
    const bool wide = IsWide(left) || IsWide(right);
    PushTextResult(RemoveTextOccurrences(OperandText(left, wide), OperandText(right, wide), wide), wide);
}

void PushProduct(const StackEntry& left, const StackEntry& right) {
    if (!IsText(left) && !IsText(right)) return PushNumberResult(left.value * right.value);
    if (MatrixOperator('*', left, right)) return;
    if (IsText(left) && IsText(right)) return PushNumberResult(OperandNumber(left) * OperandNumber(right));
    const StackEntry& text = IsText(left) ? left : right;
    const StackEntry& count = IsText(left) ? right : left;
    const bool wide = IsWide(text);
    PushTextResult(RepeatText(OperandText(text, wide), CountOf(count.value), wide), wide);
}

void PushQuotient(const StackEntry& left, const StackEntry& right) {
    if (!IsText(left) && !IsText(right)) return PushNumberResult(left.value / right.value);
    if (MatrixOperator('/', left, right)) return;
    if (IsText(left) && !IsText(right)) return PushTextPieces(left, CountOf(right.value));
    PushNumberResult(OperandNumber(left) / OperandNumber(right));
}

void PushTextPieces(const StackEntry& text, int64_t count) {
    if (count < 1) return;
    const bool wide = IsWide(text);
    const TextSpan span = OperandText(text, wide);
    const size_t pieceLength = PieceLength(span.length, count);
    ProgramContext* context = CurrentContext;
    for (int64_t i = 0; i < count; ++i) {
        const StackEntry* before = context->stackTop;
        PushTextResult(TextPiece(span, pieceLength, i, wide), wide);
        if (context->stackTop == before) return;  // the stack could not grow: reported already
    }
}

void Builtin_add() { RunBinaryOperator<PushSum, AddNumbers, Builtin_add>(); }
void Builtin_subtract() { RunBinaryOperator<PushDifference, SubtractNumbers, Builtin_subtract>(); }
void Builtin_multiply() { RunBinaryOperator<PushProduct, MultiplyNumbers, Builtin_multiply>(); }
void Builtin_divide() { RunBinaryOperator<PushQuotient, DivideNumbers, Builtin_divide>(); }
void Builtin_join() {
    if (ExtendJoinedTemporary() || AppendToOwnText()) return;
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    const StackEntry* below = CurrentContext->stackTop;
    PushJoined(left, right);
    ReleaseOperand(left);
    ReleaseOperand(right);
    const StackEntry* pushed = CurrentContext->stackTop != below ? CurrentContext->stackTop : nullptr;
    NoteJoinedTemporary(pushed);
    if (LastJoined.text) NoteFreshText(pushed);
}

void Builtin_concat() {
    const FrameArguments arguments = CloseFrameArguments();
    const bool wide = AnyWideArgument(arguments);
    void* joined = JoinFrameArguments(arguments, wide);
    DropFrameArguments(arguments);
    PushTextResult(joined, wide);
}

void Builtin_validint() {
    const FrameArguments arguments = CloseFrameArguments();
    bool valid = arguments.count > 0;
    const StackEntry* cell = arguments.saved;
    for (int64_t i = 0; valid && i < arguments.count; ++i) {
        cell = cell->above;
        if (IsMatrix(*cell)) {
            valid = false;
        } else if (!cell->text) {
            char number[kNumberTextSize];
            FormatNumber(cell->value, number);
            valid = IsNumberString(number);
        } else {
            valid = IsNumberText(cell->text, IsWide(*cell));
        }
    }
    DropFrameArguments(arguments);
    PushTruthResult(valid);
}

}  // namespace qob
