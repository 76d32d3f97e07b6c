// runtime/loop_state.cpp
// A small growable stack of loop activations per context (process heap).

#include "runtime/loop_state.h"

#include <cstdlib>

#include "runtime/program_context.h"

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
    LoopActivation& opened = context->loopActivations[context->loopActivationCount++];
    opened = LoopActivation{};
    opened.depth = context->callDepth;
    opened.firstRun = 1;
}

void FreeLoopActivations(ProgramContext* context) {
    std::free(context->loopActivations);
    context->loopActivations = nullptr;
    context->loopActivationCount = context->loopActivationCapacity = 0;
}

}  // namespace qob
