// runtime/vm/push_instructions.cpp
// The push family with its per-node variable caches, parameter binding and
// the CASE comparisons.

#include "runtime/vm/push_instructions.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/registration.h"
#include "runtime/values/assignment.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/number_rules.h"
#include "runtime/values/objects.h"
#include "runtime/values/plain_numbers.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

bool NoFollowPending = false;

// The bytes a push or CASE node keeps its decisions in fill what was padding
// after the namespace word: a side record's size, which programs see in the
// size of a context's instruction list, stays what it was.
static_assert(sizeof(InstructionExtra) == 12 * sizeof(void*));
static_assert(kCaseSlots < UINT16_MAX);

namespace {

const char* SecondText(const Instruction* node) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(node->operand));
}

double ConstantInText(const Instruction* node) {
    double value = 0.0;
    if (node->text) std::memcpy(&value, node->text, sizeof value);
    return value;
}

// The variable's matrix and UTF-16 marks as a cell's: each bit is moved to
// its place, with no test.
inline uint32_t EntryFlagsOf(const VariableRecord* variable) {
    static_assert(kVarMatrix >> 8 == kEntryMatrix && kVarWideText >> 4 == kEntryWide);
    const uint32_t flags = variable->flags;
    // Most variables hold neither: one test gives their cell's flags.
    if (!(flags & (kVarMatrix | kVarWideText))) [[likely]]
        return 0;
    return ((flags >> 8) & kEntryMatrix) | ((flags >> 4) & kEntryWide);
}

inline void PushVariableValue(VariableRecord* variable) {
    if (!variable) [[unlikely]] {
        PushCellValue(CurrentContext, nullptr, 0.0, nullptr, 0);
        return;
    }
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = value;
    cell->text = text;
    cell->variable = variable;
    cell->extra = 0;
    cell->flags = EntryFlagsOf(variable);
}

// An assignment target: the variable itself, no value or text.
inline void PushVariableItself(VariableRecord* variable) {
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = 0.0;
    cell->text = nullptr;
    cell->variable = variable;
    cell->extra = 0;
    cell->flags = variable ? EntryFlagsOf(variable) : 0;
}

inline void PushText(const char* text) { PushCellValue(CurrentContext, text, 0.0, nullptr, 0); }

inline void PushConstant(double value) { PushCellValue(CurrentContext, nullptr, value, nullptr, 0); }

[[gnu::always_inline]] inline VariableRecord* NodeVariable(bool second, bool noFollow) {
    Instruction* node = CurrentInstruction;
    return LookUpNodeVariable(node, second ? SecondText(node) : node->text, second, noFollow);
}

// The "==" operator, found once in the function table (every CASE label
// asks for it: once found, the answer is one load).
Handler FoundEqualsHandler = nullptr;

Handler FindEqualsHandler() {
    const int index = FindFunctionByName("==");
    const FunctionRecord* record = index >= 0 ? FunctionRecordAt(index) : nullptr;
    FoundEqualsHandler = record ? record->handler : nullptr;
    return FoundEqualsHandler;
}

inline Handler EqualsHandler() { return FoundEqualsHandler ? FoundEqualsHandler : FindEqualsHandler(); }

// Compares the kept selector with the count values on the stack, the top one
// first; on a match the values left are dropped and the body runs, else the
// jump goes to the next CASE.
void CompareCase(int32_t count) {
    ProgramContext* context = CurrentContext;
    Instruction* node = CurrentInstruction;
    const int64_t slot = TruncToInt64(node->operand);
    Handler equals = EqualsHandler();
    if (slot < 0 || slot >= kCaseSlots || !equals) {
        for (int32_t i = 0; i < count; ++i) PopStackEntryFrom(context);
        if (!equals) RaiseRuntimeError("CASE: the == operator is not available", 0);
        CurrentInstruction = JumpTarget(node);
        return;
    }
    const CaseSlot selector = context->caseSlots[slot];
    for (int32_t i = 0; i < count; ++i) {
        // A number selector against a number value: what "==" would answer,
        // without pushing the selector and popping the answer.
        if (const StackEntry* value = context->stackTop; !selector.text && value->below && !value->text &&
                                                          !(value->flags & kEntryMatrix) && !value->ownedLinks) {
            PopCell(context);
            if (value->value != selector.value) continue;
            for (int32_t left = count - i - 1; left > 0; --left) PopStackEntryFrom(context);
            return;
        }
        PushValue(selector.text, selector.text ? 0.0 : selector.value, nullptr);
        equals();
        CurrentInstruction = node;
        if (PopNumber() != 0.0) {
            for (int32_t left = count - i - 1; left > 0; --left) PopStackEntryFrom(context);
            return;
        }
    }
    CurrentInstruction = JumpTarget(node);
}

// A CASE label's constant pushed and compared as CompareCase compares it.
[[gnu::noinline]] void CompareCaseWithConstant(Instruction* node) {
    PushConstant(ConstantInText(node));
    CompareCase(static_cast<int32_t>(node->extraWord));
}

// The same, when the slot a one-label step's operand names is not known yet:
// it is found once (the operand never changes) and kept plus one (none found
// keeps 0).
[[gnu::noinline]] void CompareCaseFindingSlot(Instruction* node, InstructionExtra* extra) {
    ProgramContext* context = CurrentContext;
    if (const CaseSlot* slot = CaseSlotOf(context, node))
        extra->caseSlot = static_cast<uint16_t>(slot - context->caseSlots + 1);
    CompareCaseWithConstant(node);
}

// Binds the top cell to one parameter variable.
void BindParameter(VariableRecord* parameter) {
    ProgramContext* context = CurrentContext;
    StackEntry* popped = PopCell(context);
    // The caller wrote the cell field by field just before: each field is
    // read on its own (a whole-cell copy would wait on those writes).
    const double cellValue = popped->value;
    const char* const cellText = popped->text;
    VariableRecord* const source = popped->variable;
    const int32_t cellExtra = popped->extra;
    const uint32_t cellFlags = popped->flags;
    MemoryLink* const cellLinks = popped->ownedLinks;
    popped->ownedLinks = nullptr;
    if (!parameter) {
        if (cellLinks) FreeLinkChain(cellLinks);
        return;
    }
    if (!source && !cellText) {
        SetVariableValue(parameter, nullptr, cellValue, nullptr, 0);
        if (cellLinks) FreeLinkChain(cellLinks);
    } else if (!source && cellLinks) {
        // A result that owns blocks through its fields (RETURN copies them
        // for the caller): the parameter gets its own copies, as an
        // assignment of that result would give it, and the result's go.
        if (cellFlags & kEntryMatrix) {
            SetMatrixValue(parameter, reinterpret_cast<const MatrixCell*>(cellText));
        } else {
            const size_t size = platform::GetBlockSize(cellText);
            const bool wide = (cellFlags & kEntryWide) != 0;
            SetVariableValue(parameter, cellText, static_cast<double>(cellExtra), nullptr,
                             static_cast<int64_t>(size ? size : CellTextBytes(cellText, wide)));
            if (wide) parameter->flags |= kVarWideText;
            CopyLinkChain(cellLinks, cellText, &MemoryLinkHolder(parameter)->links, parameter->data);
        }
        FreeLinkChain(cellLinks);
    } else if (!source) {
        const size_t size = platform::GetBlockSize(cellText);
        const bool wide = (cellFlags & kEntryWide) != 0;
        SetVariableValue(parameter, cellText, static_cast<double>(cellExtra), nullptr,
                         static_cast<int64_t>(size ? size : CellTextBytes(cellText, wide)));
        if (cellFlags & kEntryMatrix) parameter->flags |= kVarMatrix;
        if (wide) parameter->flags |= kVarWideText;
    } else if (cellFlags & kEntryListItem) {
        // An item of the list read by position: the parameter takes the
        // item's value as its own copy. The list and its current item are
        // left as they are (writing the value into the list variable would
        // overwrite its current item).
        if (!cellText) {
            SetVariableValue(parameter, nullptr, cellValue, nullptr, 0);
        } else if (cellFlags & kEntryMatrix) {
            SetMatrixValue(parameter, reinterpret_cast<const MatrixCell*>(cellText));
        } else {
            const size_t size = platform::GetBlockSize(cellText);
            const bool wide = (cellFlags & kEntryWide) != 0;
            SetVariableValue(parameter, cellText, cellValue, nullptr,
                             static_cast<int64_t>(size ? size : CellTextBytes(cellText, wide)));
            if (wide) parameter->flags |= kVarWideText;
        }
        if (cellLinks) FreeLinkChain(cellLinks);
    } else if (source->flags & kVarObject) {
        ReleaseVariable(context, parameter, false, false);
        char* name = source->data ? CopyCellText(source->data, false) : nullptr;
        for (char* c = name; c && *c; ++c)
            if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
        parameter->data = name;
        parameter->value = source->value;
        parameter->classHash = name ? HashName(name, std::strlen(name)) : 0;
        parameter->flags = (parameter->flags | kVarObject) & ~kVarOwnsData;
    } else if (cellFlags & kEntryByReference) {
        AssignValue(parameter, source, nullptr, 1, 1);
    } else if (!source->data && cellExtra == 0 && !(source->flags & kVarList)) {
        // A list whose current item holds no data is still a list: only a
        // plain variable hands over its value alone.
        SetVariableValue(parameter, nullptr, cellValue, nullptr, 0);
    } else {
        AssignValue(parameter, source, nullptr, 0, 0);
    }
}

// The parameter named by the node's text (or its second text) when neither
// the node's cache nor the frame's record of the first name's hash answers.
VariableRecord* FindParameterVariable(Instruction* node, bool second) {
    InstructionExtra* extra = node->extra;
    VariableRecord* const frame = LocalVariableList;
    const char* name = second ? SecondText(node) : node->text;
    if (!name) return nullptr;
    VariableRecord* parameter = FindItemWithHash(frame, second ? HashVariableName(name) : node->textHash);
    if (!parameter) parameter = CreateVariable(frame, name, false);
    if (!parameter) return nullptr;
    extra = RequireInstructionExtra(CurrentContext->pool, node);
    if (extra) {
        (second ? extra->cachedVariable2 : extra->cachedVariable) = parameter;
        (second ? extra->cachedList2 : extra->cachedList) = LocalVariableList;
    }
    return parameter;
}

// The parameter named by the node's text (or its second text).
inline VariableRecord* ParameterVariable(Instruction* node, bool second) {
    InstructionExtra* extra = node->extra;
    const VariableRecord* cachedList = extra ? (second ? extra->cachedList2 : extra->cachedList) : nullptr;
    if (cachedList && (cachedList == LocalVariableList || cachedList == ConstantList))
        return second ? extra->cachedVariable2 : extra->cachedVariable;
    // Each call of a recursive procedure binds into another frame: the
    // lookup by hash is what most of its bindings take.
    if (!second && extra && node->textHash) {
        VariableRecord* const frame = LocalVariableList;
        if (VariableRecord* parameter = FindItemWithHash(frame, node->textHash)) {
            extra->cachedVariable = parameter;
            extra->cachedList = frame;
            return parameter;
        }
    }
    return FindParameterVariable(node, second);
}

// BindParameter's common cases kept inline: a number alone (a constant, a
// result that owns nothing, or a variable holding a number, see
// BindsNumberOnly) into the parameter.
inline void BindParameterInline(VariableRecord* parameter) {
    ProgramContext* context = CurrentContext;
    StackEntry* top = context->stackTop;
    if (parameter && BindsNumberOnly(top)) {
        context->stackTop = top->below;
        SetVariableValue(parameter, nullptr, top->value, nullptr, 0);
        return;
    }
    BindParameter(parameter);
}

}  // namespace

VariableRecord* CacheNodeVariable(Instruction* node, const char* name, bool second) {
    if (!name) return nullptr;
    uint32_t hash = second ? 0 : node->textHash;
    if (hash == 0) hash = HashVariableName(name);
    VariableRecord* variable = FindInRunningFrame(hash);
    if (variable) {
        MemberLookupInstance = nullptr;  // as FindVariable leaves them
        MemberLookupRefused = 0;
    } else {
        // A refused member gives none (and no cache entry): each access reports it.
        variable = FindOrRequireVariable(name, hash);
    }
    if (!variable) return nullptr;
    InstructionExtra* extra = RequireInstructionExtra(CurrentContext->pool, node);
    if (extra) {
        // The cache names the list the variable really lives in, so a
        // recursive call with another frame never reuses an outer local.
        // A member reached through an object variable depends on the
        // instance that variable holds at the time: it is never cached.
        (second ? extra->cachedVariable2 : extra->cachedVariable) = variable;
        (second ? extra->cachedList2 : extra->cachedList) = MemberLookupInstance ? nullptr : variable->owner;
    }
    return variable;
}

namespace {

// ApplyNumberRule with the sum, by far the most common rule of the fused
// steps, tested before the table jump.
[[gnu::always_inline]] inline double ApplyFusedRule(uint8_t rule, double left, double right) {
    if (rule == kAddRule) [[likely]]
        return AddNumbers(left, right);
    return ApplyNumberRule(rule, left, right);
}

// Where the two operands of an operator that follows a two-value push come from.
enum class Operands {
    VariableAndConstant,  // PUSHVARINT
    ConstantAndVariable,  // PUSHINTVAR
    TwoVariables,         // PUSHVARVAR: the second name, then the first
};

// How the operator after a push runs fused with it, kept in the push's side
// record. The nodes after a push never change once the program runs, so
// what they are is found on the push's first run; each later run tests only
// what can change from one run to the next (caches, the variables' kinds).
enum FusedShape : uint8_t {
    kFusedUndecided,  // zeroed side record: not looked at yet
    kFusedNone,       // no operator with a number rule follows
    kFusedAssign,     // operator, then an "=2" that takes a number as it is
    kFusedPush,       // operator whose result is pushed
    kFusedJump,       // operator with a conditional jump fused in
    kFusedCompound,   // a variable push, then "+=2", "-=2" or "*=2"
    kFusedCase,       // a variable push, then the PULLCASE that pops it as a CASE's selector
};

// What follows the push: a built-in call (the only node an operator can be)
// whose handler, or fused-in own handler under a conditional jump, has a
// number rule, and whether an "=2" of a number comes after it.
[[gnu::noinline]] void DecideFusedShape(const Instruction* push, InstructionExtra* extra) {
    const Instruction* op = push->next;
    extra->fusedShape = kFusedNone;
    if (!op || op->opcode != static_cast<uint32_t>(Opcode::INTERNALCALL)) return;
    const bool jumps = op->secondHandler != nullptr;
    if (jumps && op->handler != ConditionalJumpHandler) return;
    const NumberRuleIndex rule = NumberRuleIndexOf(jumps ? op->secondHandler : op->handler);
    if (rule == kNoNumberRule) return;
    extra->fusedRule = rule;
    if (jumps) extra->fusedShape = kFusedJump;
    else if (op->next && IsNumberAssignOpcode(op->next)) extra->fusedShape = kFusedAssign;
    else extra->fusedShape = kFusedPush;
}

// A variable the push's node cache answers for, holding a plain number: its
// number into value. A first name the cache misses is looked for in the
// running frame and cached, as the push's own lookup does first: each call of
// a recursive procedure has a frame of its own, and the operator stays fused
// with the push there too. False when neither answers (the push then looks
// the name up, which may make or report the variable) or the value is no
// plain number; nothing has been read then, and a cache entry made stays
// what the push's lookup would have made.
[[gnu::always_inline]] inline bool ReadCachedNumber(const Instruction* node, InstructionExtra* extra, bool second,
                                                    double* value) {
    VariableRecord* variable = nullptr;
    if (IsCachedListInForce(second ? extra->cachedList2 : extra->cachedList)) [[likely]]
        variable = second ? extra->cachedVariable2 : extra->cachedVariable;
    else if (!second && node->textHash && (variable = FindInRunningFrame(node->textHash)))
        CacheFrameVariable(extra, variable);
    if (!variable) return false;
    variable = EndOfReferences(variable);
    return ReadPlainNumber(variable, value);
}

template <Operands from>
[[gnu::always_inline]] inline bool ReadOperands(const Instruction* push, InstructionExtra* extra, double* left,
                                                double* right) {
    switch (from) {
        case Operands::VariableAndConstant:
            *right = push->operand;
            return ReadCachedNumber(push, extra, false, left);
        case Operands::ConstantAndVariable:
            *left = push->operand;
            return ReadCachedNumber(push, extra, false, right);
        case Operands::TwoVariables:
            return ReadCachedNumber(push, extra, true, left) && ReadCachedNumber(push, extra, false, right);
    }
    return false;
}

// When the built-in call after a push is an operator whose two-number case
// a rule gives (plain, or with a conditional jump fused in) and both
// operands are plain numbers, runs the push, the operator and (when it
// follows and takes the number) an "=2" as they would run one after the
// other: the result is stored, decides the jump, or is pushed.
// False, with nothing done, otherwise.
template <Operands from>
[[gnu::always_inline]] inline bool RunOperatorAfterPush(Instruction* push) {
    InstructionExtra* extra = push->extra;
    if (!extra) return false;  // first run: the push's lookup makes the record
    if (extra->fusedShape == kFusedUndecided) [[unlikely]]
        DecideFusedShape(push, extra);
    const uint8_t shape = extra->fusedShape;
    if (shape == kFusedNone || NoFollowPending) return false;
    double left = 0.0;
    double right = 0.0;
    if (!ReadOperands<from>(push, extra, &left, &right)) return false;
    const double result = ApplyNumberRule(extra->fusedRule, left, right);
    Instruction* op = push->next;
    if (shape == kFusedJump) {
        FinishConditionalJump(op, result == 0.0);
        return true;
    }
    if (shape == kFusedAssign) {
        Instruction* next = op->next;
        if (AssignNumberToCachedTarget(next, result)) {
            CurrentInstruction = next;
            return true;
        }
    }
    CurrentInstruction = op;
    PushConstant(result);
    return true;
}

// What follows a variable push: the PULLCASE of a CASE on it, a typed
// compound assignment ("+=2", "-=2", "*=2" as such, no step fused into it)
// that the pushed value is the right operand of, or what follows any push.
[[gnu::noinline]] void DecideVariablePushShape(const Instruction* push, InstructionExtra* extra) {
    struct Compound {
        Opcode opcode;
        NumberRuleIndex rule;
    };
    static constexpr Compound kCompounds[] = {
        {Opcode::ADDASSIGN2, kAddRule},
        {Opcode::SUBASSIGN2, kSubtractRule},
        {Opcode::MULASSIGN2, kMultiplyRule},
    };
    if (const Instruction* op = push->next; op && !op->secondHandler) {
        if (op->opcode == static_cast<uint32_t>(Opcode::PULLCASE) && op->handler == Handle_PULLCASE) {
            extra->fusedShape = kFusedCase;
            return;
        }
        for (const Compound& compound : kCompounds) {
            if (op->opcode == static_cast<uint32_t>(compound.opcode) && op->handler == RegisteredHandler(compound.opcode)) {
                extra->fusedRule = compound.rule;
                extra->fusedShape = kFusedCompound;
                return;
            }
        }
    }
    DecideFusedShape(push, extra);
}

// A cached name's record holding a plain number (at the end of its
// reference chain) when its cache is in force, its number read without a
// call on the way; null when anything else holds (the full path decides).
[[gnu::always_inline]] inline VariableRecord* ReadHitNumber(const VariableRecord* list, VariableRecord* variable,
                                                            double* value) {
    return IsCachedListInForce(list) ? PlainNumberAtEnd(variable, value) : nullptr;
}

// A cached name's variable (at the end of its reference chain) when its
// cache is in force; null otherwise. No call on its way.
[[gnu::always_inline]] inline VariableRecord* HitVariable(const VariableRecord* list, VariableRecord* variable) {
    if (!IsCachedListInForce(list) || !variable) return nullptr;
    variable = EndOfReferences(variable);
    return variable;
}

// Whether reading the variable has no effect (no list element to reload,
// typed storage or getter): its cell is then its fields as they stand.
[[gnu::always_inline]] inline bool HasEffectFreeRead(const VariableRecord* variable) {
    return (reinterpret_cast<uintptr_t>(variable->currentNode) | reinterpret_cast<uintptr_t>(variable->getter) |
            static_cast<uint32_t>(variable->type)) == 0;
}

// Writes the cell PushVariableValue pushes for a variable with an
// effect-free read into a free cell above the top, and makes it the top.
[[gnu::always_inline]] inline void FillVariableCell(ProgramContext* context, StackEntry* cell,
                                                    const VariableRecord* variable) {
    FillCellAbove(context, cell, variable->value, variable->data, const_cast<VariableRecord*>(variable),
                  EntryFlagsOf(variable));
}

// The operands' numbers when ReadHitNumber answers for each named one; the
// left one's record (null for a constant) into leftRecord.
template <Operands from>
[[gnu::always_inline]] inline bool ReadHitOperands(const Instruction* push, const InstructionExtra* extra,
                                                   double* left, double* right, VariableRecord** leftRecord) {
    switch (from) {
        case Operands::VariableAndConstant:
            *right = push->operand;
            return (*leftRecord = PlainNumberAtEnd(RunningNodeRecordAtOnce(push), left)) != nullptr;
        case Operands::ConstantAndVariable:
            *left = push->operand;
            return PlainNumberAtEnd(RunningNodeRecordAtOnce(push), right) != nullptr;
        case Operands::TwoVariables:
            return (*leftRecord = ReadHitNumber(extra->cachedList2, extra->cachedVariable2, left)) &&
                   PlainNumberAtEnd(RunningNodeRecordAtOnce(push), right);
    }
    return false;
}

// The "=2" target's variable when its node caches the very record the push
// read its left operand through, from the same list, and follows the chain
// as that read did: then it is that read's record (a plain number), and its
// cache is in force as the push's is. Null when not so proved (the target's
// own tests decide then).
[[gnu::always_inline]] inline VariableRecord* TargetIsLeftOperand(const Instruction* target,
                                                                  const InstructionExtra* extra,
                                                                  VariableRecord* leftRecord) {
    const InstructionExtra* targetExtra = target->extra;
    if (!leftRecord || !targetExtra || targetExtra->cachedVariable != extra->cachedVariable2 ||
        targetExtra->cachedList != extra->cachedList2 || target->extraWord != 0)
        return nullptr;
    return leftRecord;
}

// The fused run as most passes of a loop meet it: the shape decided, every
// cache in force, every variable a plain number, a free cell for a pushed
// result. It reads everything before it writes anything, and each case it
// does not settle goes to full (the push with RunOperatorAfterPush), which
// then runs from the start as if this had not looked; a push that no
// operator follows goes to plain (the push alone).
template <Operands from, void (*full)(Instruction*), void (*plain)(Instruction*)>
[[gnu::always_inline]] inline void RunFusedStep(Instruction* push) {
    const InstructionExtra* extra = push->extra;
    if (extra && extra->fusedShape == kFusedNone) return plain(push);
    double left = 0.0;
    double right = 0.0;
    VariableRecord* leftRecord = nullptr;
    if (!extra || extra->fusedShape < kFusedAssign || NoFollowPending ||
        !ReadHitOperands<from>(push, extra, &left, &right, &leftRecord))
        return full(push);
    const double result = ApplyFusedRule(extra->fusedRule, left, right);
    Instruction* op = push->next;
    if (extra->fusedShape == kFusedAssign) {
        Instruction* target = op->next;
        if (SetPushPending) return full(push);
        if (from == Operands::TwoVariables) {
            // X = X op Y: the record just read is the target; only what a
            // store tests beyond a read is left to test.
            if (VariableRecord* x = TargetIsLeftOperand(target, extra, leftRecord)) {
                if (!TakesPlainNumberAfterRead(x)) return full(push);
                StoreWholeNumber(x, result);
                CurrentInstruction = target;
                return;
            }
        }
        VariableRecord* x = CachedAssignTarget(target);
        if (!x || !TakesPlainNumber(x)) return full(push);
        StoreWholeNumber(x, result);
        CurrentInstruction = target;
        return;
    }
    if (extra->fusedShape == kFusedJump) return FinishConditionalJump(op, result == 0.0);
    ProgramContext* context = CurrentContext;
    StackEntry* cell = context->stackTop->above;
    if (!cell) return full(push);
    FillCellAbove(context, cell, result, nullptr, nullptr, 0);
    CurrentInstruction = op;
}

[[gnu::noinline]] void PushVariableAndConstant(Instruction*) {
    PushVariableValue(NodeVariable(false, false));
    PushConstant(CurrentInstruction->operand);
}

[[gnu::noinline]] void RunPushVariableAndConstant(Instruction* node) {
    if (!RunOperatorAfterPush<Operands::VariableAndConstant>(node)) PushVariableAndConstant(node);
}

[[gnu::noinline]] void PushConstantAndVariable(Instruction*) {
    PushConstant(CurrentInstruction->operand);
    PushVariableValue(NodeVariable(false, false));
}

[[gnu::noinline]] void RunPushConstantAndVariable(Instruction* node) {
    if (!RunOperatorAfterPush<Operands::ConstantAndVariable>(node)) PushConstantAndVariable(node);
}

[[gnu::noinline]] void PushTwoVariables(Instruction*) {
    PushVariableValue(NodeVariable(true, false));
    PushVariableValue(NodeVariable(false, false));
}

[[gnu::noinline]] void RunPushTwoVariables(Instruction* node) {
    if (!RunOperatorAfterPush<Operands::TwoVariables>(node)) PushTwoVariables(node);
}

// A push of one value that an operator follows, with the operator's left
// operand the cell on top of the stack: when that cell is a plain number
// (not the bottom one) and the pushed value (right) is one too, runs the
// operator as it would run after the push -- the result stored by the "=2"
// after it, deciding the jump, or written over the top cell. False, with
// nothing done, for anything else (the push and the operator then run).
[[gnu::always_inline]] inline bool RunOperatorOnTop(Instruction* push, const InstructionExtra* extra, double right) {
    ProgramContext* context = CurrentContext;
    StackEntry* top = context->stackTop;
    if (!top->below || !IsPlainNumberCell(top)) return false;
    const double result = ApplyNumberRule(extra->fusedRule, top->value, right);
    Instruction* op = push->next;
    if (extra->fusedShape == kFusedAssign) {
        Instruction* target = op->next;
        VariableRecord* x = CachedAssignTarget(target);
        if (!x || !TakesPlainNumber(x)) return false;
        StoreWholeNumber(x, result);
        context->stackTop = top->below;
        CurrentInstruction = target;
        return true;
    }
    if (extra->fusedShape == kFusedJump) {
        context->stackTop = top->below;
        FinishConditionalJump(op, result == 0.0);
        return true;
    }
    SetNumberResult(top, result);
    CurrentInstruction = op;
    return true;
}

// A typed compound assignment whose right operand is a plain number: what
// it does with it when the variable its node's cache answers for holds a
// plain number and no push of the result is asked for. False, with nothing
// done, otherwise.
[[gnu::always_inline]] inline bool RunCompoundAtOnce(const Instruction* op, uint8_t rule, double right) {
    const InstructionExtra* extra = op->extra;
    double number = 0.0;
    VariableRecord* target = SetPushPending || op->extraWord != 0 || !extra
                                 ? nullptr
                                 : ReadHitNumber(extra->cachedList, extra->cachedVariable, &number);
    if (!target || !StoresPlainNumberAtOnce(target)) return false;
    StorePlainNumberAtOnce(target, ApplyFusedRule(rule, number, right));
    return true;
}

// The variable push as the lookup and the read make it, deciding first (on
// the first run with a side record) what follows the push.
[[gnu::noinline]] void PushVariableFully(Instruction* node) {
    if (InstructionExtra* extra = node->extra; extra && extra->fusedShape == kFusedUndecided)
        DecideVariablePushShape(node, extra);
    PushVariableValue(NodeVariable(false, false));
}

// A variable push whose PULLCASE follows, the variable holding the number
// selector: the selector goes into the CASE's slot without the cell when the
// loop's table answers for the PULLCASE, else the push runs in full. Out of
// line, so the push's other shapes need no frame for the call.
[[gnu::noinline]] void SelectCaseOrPush(Instruction* node, double selector) {
    if (!SelectCaseAtOnce(node->next, selector)) PushVariableFully(node);
}

// The variable itself pushed as an assignment target, by the full lookup.
[[gnu::noinline]] void PushNodeVariableItself(Instruction*) { PushVariableItself(NodeVariable(false, true)); }

// A constant push that a built-in call follows: an operator runs fused with
// it when it can (the side record that keeps the decision is made here).
[[gnu::noinline]] void PushConstantBeforeCall(Instruction* node) {
    InstructionExtra* extra = RequireInstructionExtra(CurrentContext->pool, node);
    if (extra && extra->fusedShape == kFusedUndecided) DecideFusedShape(node, extra);
    if (extra && extra->fusedShape >= kFusedAssign && RunOperatorOnTop(node, extra, node->operand)) return;
    PushConstant(node->operand);
}

}  // namespace

void Handle_PUSHINT() {
    Instruction* node = CurrentInstruction;
    if (const Instruction* next = node->next; next && next->opcode == static_cast<uint32_t>(Opcode::INTERNALCALL)) {
        if (const InstructionExtra* extra = node->extra;
            extra && extra->fusedShape >= kFusedAssign && RunOperatorOnTop(node, extra, node->operand))
            return;
        return PushConstantBeforeCall(node);
    }
    PushConstant(node->operand);
}

void Handle_PUSHSTR() { PushText(CurrentInstruction->text); }

void Handle_PUSHVAR() {
    Instruction* node = CurrentInstruction;
    const InstructionExtra* extra = node->extra;
    if (!extra || extra->fusedShape == kFusedUndecided || NoFollowPending) return PushVariableFully(node);
    VariableRecord* variable = RunningNodeRecordAtOnce(node);
    if (!variable) return PushVariableFully(node);
    if (double right = 0.0; extra->fusedShape >= kFusedAssign && PlainNumberAtEnd(variable, &right)) {
        // The shapes of a variable push alone come last, told apart by one compare.
        if (extra->fusedShape < kFusedCompound) {
            if (RunOperatorOnTop(node, extra, right)) return;
        } else if (extra->fusedShape == kFusedCompound) {
            if (Instruction* op = node->next; RunCompoundAtOnce(op, extra->fusedRule, right)) {
                CurrentInstruction = op;
                return;
            }
        } else {
            return SelectCaseOrPush(node, right);
        }
    }
    variable = EndOfReferences(variable);
    ProgramContext* context = CurrentContext;
    StackEntry* cell = context->stackTop->above;
    if (!cell || !HasEffectFreeRead(variable)) return PushVariableFully(node);
    FillVariableCell(context, cell, variable);
}

void Handle_NGPUSHVAR() {
    Instruction* node = CurrentInstruction;
    const InstructionExtra* extra = node->extra;
    ProgramContext* context = CurrentContext;
    StackEntry* cell = context->stackTop->above;
    // The variable itself when its cache answers (the reference is not
    // followed), written as PushVariableItself writes it.
    if (!extra || !cell || NoFollowPending || !IsCachedListInForce(extra->cachedList) || !extra->cachedVariable)
        return PushNodeVariableItself(node);
    VariableRecord* variable = extra->cachedVariable;
    FillCellAbove(context, cell, 0.0, nullptr, variable, EntryFlagsOf(variable));
}

void Handle_PUSHPROCADDR() { PushConstant(CurrentInstruction->operand); }

void Handle_PUSHINTINT() {
    PushConstant(ConstantInText(CurrentInstruction));
    PushConstant(CurrentInstruction->operand);
}

void Handle_PUSHINTSTR() {
    PushConstant(CurrentInstruction->operand);
    PushText(CurrentInstruction->text);
}

void Handle_PUSHVARINT() {
    RunFusedStep<Operands::VariableAndConstant, RunPushVariableAndConstant, PushVariableAndConstant>(CurrentInstruction);
}

void Handle_PUSHNGVARINT() {
    PushVariableItself(NodeVariable(false, true));
    PushConstant(CurrentInstruction->operand);
}

void Handle_PUSHINTVAR() {
    RunFusedStep<Operands::ConstantAndVariable, RunPushConstantAndVariable, PushConstantAndVariable>(CurrentInstruction);
}

void Handle_PUSHSTRVAR() {
    PushText(SecondText(CurrentInstruction));
    PushVariableValue(NodeVariable(false, false));
}

void Handle_PUSHSTRSTR() {
    PushText(CurrentInstruction->text);
    PushText(SecondText(CurrentInstruction));
}

void Handle_PUSHVARSTR() {
    PushVariableValue(NodeVariable(true, false));
    PushText(CurrentInstruction->text);
}

void Handle_PUSHNGVARSTR() {
    PushVariableItself(NodeVariable(true, true));
    PushText(CurrentInstruction->text);
}

void Handle_PUSHSTRINT() {
    PushText(CurrentInstruction->text);
    PushConstant(CurrentInstruction->operand);
}

void Handle_PUSHVARVAR() {
    Instruction* node = CurrentInstruction;
    // Two values pushed for what comes later: both read at once when their
    // caches answer and the reads have no effect.
    if (const InstructionExtra* extra = node->extra; extra && extra->fusedShape == kFusedNone) {
        VariableRecord* first = HitVariable(extra->cachedList2, extra->cachedVariable2);
        VariableRecord* second = RunningNodeVariableAtOnce(node);
        ProgramContext* context = CurrentContext;
        StackEntry* firstCell = context->stackTop->above;
        StackEntry* secondCell = firstCell ? firstCell->above : nullptr;
        if (NoFollowPending || !first || !second || !secondCell || !HasEffectFreeRead(first) ||
            !HasEffectFreeRead(second))
            return PushTwoVariables(node);
        FillVariableCell(context, firstCell, first);
        FillVariableCell(context, secondCell, second);
        return;
    }
    RunFusedStep<Operands::TwoVariables, RunPushTwoVariables, PushTwoVariables>(node);
}

void Handle_NGPUSHVARVAR() {
    PushVariableItself(NodeVariable(true, true));
    PushVariableItself(NodeVariable(false, true));
}

void Handle_PARMSPUSHVAR() { BindParameterInline(ParameterVariable(CurrentInstruction, false)); }

void Handle_PARMSPUSHVARVAR() {
    Instruction* node = CurrentInstruction;
    BindParameterInline(ParameterVariable(node, true));
    BindParameterInline(ParameterVariable(node, false));
}

void Handle_PUSHCASE() { CompareCase(static_cast<int32_t>(CurrentInstruction->extraWord)); }

void Handle_PUSHINTCASE() {
    Instruction* node = CurrentInstruction;
    // One number label against a number selector: what CompareCase answers
    // for the pushed constant, without the push (once "==" has been found).
    if (InstructionExtra* extra = node->extra; extra && node->extraWord == 1) {
        ProgramContext* context = CurrentContext;
        if (extra->caseSlot == 0) [[unlikely]]
            return CompareCaseFindingSlot(node, extra);
        const CaseSlot* selector = &context->caseSlots[extra->caseSlot - 1];
        if (!selector->text && FoundEqualsHandler) {
            if (selector->value != ConstantInText(node)) CurrentInstruction = JumpTarget(node);
            return;
        }
    }
    CompareCaseWithConstant(node);
}

}  // namespace qob
