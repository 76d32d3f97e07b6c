// runtime/vm/loop_state.cpp
// A small growable stack of loop activations per context (process heap).

#include "runtime/vm/loop_state.h"

#include <cstdlib>

#include "runtime/vm/program_context.h"

namespace qob {

void OpenLoopActivation(ProgramContext* context) {
    // Depths only grow towards the top; a leftover of this depth is replaced.
    DropLoopActivations(context, context->callDepth);
    if (context->loopActivationCount == context->loopActivationCapacity) {
        const int32_t capacity = context->loopActivationCapacity ? context->loopActivationCapacity * 2 : 16;
        auto* grown = static_cast<LoopActivation*>(
            std::realloc(context->loopActivations, sizeof(LoopActivation) * static_cast<size_t>(capacity)));
        if (!grown) return;
        context->loopActivations = grown;
        context->loopActivationCapacity = capacity;
    }
    // Only the fields read before they are written are set: a proof's details
    // are read only after its head field names the node they were proved
    // for, and a CASE table's labels only after the table was built. Short
    // inner loops open an activation on every pass of the outer one.
    LoopActivation& opened = context->loopActivations[context->loopActivationCount++];
    opened.depth = context->callDepth;
    opened.firstRun = 1;
    opened.position = 0;
    opened.walked = nullptr;
    opened.length = 0;
    opened.sized = nullptr;
    opened.sizedAt = 0;
    opened.blockSize = 0;
    opened.countedHead = nullptr;
    opened.constantHead = nullptr;
    opened.walkedHead = nullptr;
    opened.casePull = nullptr;
}

void FreeLoopActivations(ProgramContext* context) {
    std::free(context->loopActivations);
    context->loopActivations = nullptr;
    context->loopActivationCount = context->loopActivationCapacity = 0;
}

}  // namespace qob
