// runtime/vm/push_instructions.h
// The push family (constants, texts, variables, fused pairs), parameter binding
// and the CASE steps.
#pragma once

#include "runtime/data/number_text.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {

// Set by the NG pushes: the next variable read does not follow the variable's
// reference link, and clears the byte.
extern bool NoFollowPending;

// A cache entry is used only while the list it was found in is in force.
[[nodiscard]] inline bool IsCachedListInForce(const VariableRecord* list) {
    return list && (list == LocalVariableList || list == CurrentContext->globalHead || list == ConstantList ||
                    list == MemberList);
}

// The record at the end of the variable's reference chain: the variable
// itself for nearly every record, found with one test.
[[nodiscard, gnu::always_inline]] inline VariableRecord* EndOfReferences(VariableRecord* variable) {
    if (variable->reference) [[unlikely]]
        do variable = variable->reference;
        while (variable->reference);
    return variable;
}

// A record of the running frame with that hash and the running node's scope:
// what FindVariable answers first when no object's members come before the
// frame. Recursive calls run in frames of their own and miss the node caches
// on nearly every call; this is their way back to the variable.
[[nodiscard]] inline VariableRecord* FindInRunningFrame(uint32_t hash) {
    if (MemberList) return nullptr;
    const Instruction* running = CurrentInstruction;
    const uint32_t scope = running && running->extra ? running->extra->namespaceHash : 0;
    for (VariableRecord* r = LocalVariableList; r; r = r->next)
        if (r->hash == hash && r->scope == scope) return r;
    return nullptr;
}

// Caches a variable FindInRunningFrame found, as CacheNodeVariable would.
// (The member-lookup bytes are left as a cache hit leaves them: they are
// read only right after the FindVariable that sets them.)
inline void CacheFrameVariable(InstructionExtra* extra, VariableRecord* variable) {
    extra->cachedVariable = variable;
    extra->cachedList = variable->owner;
}

// The record LookUpNodeVariable starts from for the running node's first
// name (node is CurrentInstruction) when its cache answers or the running
// frame holds the name (then cached, as the lookup caches it), its reference
// chain not followed yet: found without a call on the way, or null with
// nothing done (the lookup then runs in full). A no-follow read pending
// gives null.
[[nodiscard, gnu::always_inline]] inline VariableRecord* RunningNodeRecordAtOnce(const Instruction* node) {
    InstructionExtra* extra = node->extra;
    if (!extra || NoFollowPending) return nullptr;
    VariableRecord* variable = nullptr;
    if (IsCachedListInForce(extra->cachedList)) [[likely]]
        variable = extra->cachedVariable;
    else if (node->textHash && (variable = FindInRunningFrame(node->textHash)))
        CacheFrameVariable(extra, variable);
    return variable;
}
// The same with the reference chain followed.
[[nodiscard, gnu::always_inline]] inline VariableRecord* RunningNodeVariableAtOnce(const Instruction* node) {
    VariableRecord* variable = RunningNodeRecordAtOnce(node);
    return variable ? EndOfReferences(variable) : nullptr;
}

// The node's variable when its cache misses: found, else required, by name,
// and stored in the first (second == false) or second pair of the side
// record. The reference is not followed here.
[[nodiscard]] VariableRecord* CacheNodeVariable(Instruction* node, const char* name, bool second);

// The node's variable by name, through the side-record cache of the first
// (second == false) or second name pair; finds, else requires, it and follows
// its reference unless noFollow. Other handlers that name a variable use it.
[[nodiscard, gnu::always_inline]] inline VariableRecord* LookUpNodeVariable(Instruction* node, const char* name,
                                                                           bool second, bool noFollow) {
    InstructionExtra* extra = node->extra;
    VariableRecord* variable = nullptr;
    if (extra && IsCachedListInForce(second ? extra->cachedList2 : extra->cachedList))
        variable = second ? extra->cachedVariable2 : extra->cachedVariable;
    else if (!second && extra && node->textHash && (variable = FindInRunningFrame(node->textHash)))
        CacheFrameVariable(extra, variable);
    else if (!(variable = CacheNodeVariable(node, name, second)))
        return nullptr;
    if (noFollow || NoFollowPending) [[unlikely]] {
        NoFollowPending = false;
        return variable;
    }
    return EndOfReferences(variable);
}

// The CASE slot the node's operand names, or null when it names none. A
// whole number in range (what the compiler writes) is its own slot.
[[nodiscard]] inline CaseSlot* CaseSlotOf(ProgramContext* context, const Instruction* node) {
    const double operand = node->operand;
    if (operand >= 0.0 && operand < kCaseSlots) {
        const auto whole = static_cast<int64_t>(operand);
        if (static_cast<double>(whole) == operand) return &context->caseSlots[whole];
    }
    const int64_t slot = TruncToInt64(operand);
    return slot >= 0 && slot < kCaseSlots ? &context->caseSlots[slot] : nullptr;
}

void Handle_PUSHINT();
void Handle_PUSHSTR();
void Handle_PUSHVAR();
void Handle_NGPUSHVAR();
void Handle_PUSHPROCADDR();
void Handle_PUSHINTINT();
void Handle_PUSHINTSTR();
void Handle_PUSHVARINT();
void Handle_PUSHNGVARINT();
void Handle_PUSHINTVAR();
void Handle_PUSHSTRVAR();
void Handle_PUSHSTRSTR();
void Handle_PUSHVARSTR();
void Handle_PUSHNGVARSTR();
void Handle_PUSHSTRINT();
void Handle_PUSHVARVAR();
void Handle_NGPUSHVARVAR();
void Handle_PARMSPUSHVAR();

// Whether binding the cell (not the bottom one) to a parameter gives the
// parameter the cell's number and nothing else: a number that names no
// variable and holds no text (a constant or a result that owns nothing), or
// the value of a variable that holds a number alone -- no data, not a list
// or an object -- pushed as a value (no by-reference or list-item mark, no
// extra word). Those are the two cases the full binding settles with the
// number; owned links always go the full way.
[[nodiscard, gnu::always_inline]] inline bool BindsNumberOnly(const StackEntry* top) {
    if (!top->below || top->ownedLinks) return false;
    const VariableRecord* source = top->variable;
    if (!source) return !top->text;
    return top->flags == 0 && top->extra == 0 && !source->data && !(source->flags & (kVarObject | kVarList));
}

// What a PARMSPUSHVAR node does when its procedure has just started in the
// frame and the value on top binds as a number alone (see BindsNumberOnly):
// the frame's parameter record of the node's name, the one the node would
// find, takes the number. False, with nothing done, when the node would look
// further (no side record or name hash, a cache naming a constant, no such
// record in the frame) or the value is anything else.
[[nodiscard, gnu::always_inline]] inline bool BindPlainParameter(const Instruction* node, VariableRecord* frame,
                                                              ProgramContext* context) {
    const InstructionExtra* extra = node->extra;
    if (!extra || !node->textHash || extra->cachedList == ConstantList) return false;
    VariableRecord* parameter =
        extra->cachedList == frame ? extra->cachedVariable : FindItemWithHash(frame, node->textHash);
    StackEntry* top = context->stackTop;
    if (!parameter || !BindsNumberOnly(top)) return false;
    // Only a record SetVariableValue writes the short way: the rest is left
    // to the node, so the call's start calls nothing.
    if (parameter->currentNode || parameter->type != 0 || parameter->setter || parameter->protect == 1 ||
        (parameter->flags & (kVarOwnsData | kVarObject)))
        return false;
    context->stackTop = top->below;
    parameter->value = top->value;
    parameter->flags &= ~(kVarMatrix | kVarHandedOver);
    parameter->data = nullptr;
    return true;
}
void Handle_PARMSPUSHVARVAR();
void Handle_PUSHCASE();
void Handle_PUSHINTCASE();

}  // namespace qob
