// runtime/values/scope_moves.cpp
// Relinking a variable into another list, and releasing cached local frames.

#include "runtime/values/scope_moves.h"

#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {

void MoveVariableToScope(VariableRecord* targetHead, VariableRecord* variable, bool keepHead) {
    if (!variable) return;
    if (variable->owner != targetHead || !targetHead) {
        if (variable->previous) {
            variable->previous->next = variable->next;
        } else if (variable == LocalVariableList) {
            LocalVariableList = variable->next;
        } else if (variable == ConstantList) {
            ConstantList = variable->next;
        }
        if (variable->next) variable->next->previous = variable->previous;
        variable->next = nullptr;
        if (targetHead) {
            VariableRecord* last = targetHead;
            while (last->next) last = last->next;
            last->next = variable;
            variable->previous = last;
            variable->owner = targetHead;
        } else {
            // An empty target: the variable heads it. A record never heads a
            // list it is not linked into.
            variable->previous = nullptr;
            variable->owner = variable;
            if (!LocalVariableList && !keepHead) LocalVariableList = variable;
        }
    }
    if (variable->flags & kVarStructure)
        for (MemberDefinition* member = variable->members; member; member = member->next)
            MoveVariableToScope(targetHead, member->member, keepHead);
}

void FreeContextVariables(ProgramContext* context) {
    FrameCacheRecord* record = context->frameCache;
    context->frameCache = nullptr;
    while (record) {
        FrameCacheRecord* next = record->next;
        if (record->frame) {
            FreeVariableChain(context, record->frame, false);
            FreeVariableChain(context, record->frame, true);
            record->frame = nullptr;
        }
        if (record->procedure && record->procedure->extra) record->procedure->extra->freeFrames = nullptr;
        FreeContextBlock(context, record);
        record = next;
    }
}

}  // namespace qob
