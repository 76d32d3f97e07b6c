// runtime/vm/loop_state.h
// The state of each open loop activation: whether its test node has run yet and
// where a FOREACH walk stands. Kept per context and call depth, and dropped
// when that depth ends, so nested calls and early exits cannot disturb it.
#pragma once

#include <cstdint>

#include "runtime/vm/program_context.h"

namespace qob {

struct Instruction;
struct InstructionExtra;
struct VariableRecord;

// Values a CASE table answers for directly: 0 up to this, exclusive.
constexpr int kCaseTableSize = 16;

struct LoopActivation {
    int32_t depth;       // call depth the loop opened (INITFOR/INITFOREACH/INITWHILE)
    uint8_t firstRun;    // the test node has not run yet
    int64_t position;    // FOREACH over an array, a matrix or an object: index of the current element
    const void* walked;  // FOREACH over a matrix: the cell run length was counted for
    int64_t length;      // its number of cells
    const void* sized;   // the run blockSize was asked for ...
    uint64_t sizedAt;    // ... at this count of block releases
    size_t blockSize;    // its block's size (0: no block starts there)
    // What the back jump of a counting loop proved about the loop's head on
    // an earlier pass: nodes do not change while they run, so later passes
    // check only what the body can change (the variable and its cache).
    const Instruction* countedHead;    // the opening node proved (null: nothing proved)
    const Instruction* constantHead;   // the same when the end is a constant, else null
    const Instruction* countedPushes;  // the pushes of the variable and the start
    const InstructionExtra* countedExtra;  // their side record (for constantHead)
    VariableRecord* countedVariable;       // the variable its cache answered with (for constantHead)
    const Instruction* countedEndNode; // the end's push when it reads a variable, else null
    Instruction* countedTest;          // the FOR node
    double countedEnd;                 // a constant end ...
    double countedStep;                // ... and the step it gives (or the step given)
    uint8_t countedFromVariable;       // the start is a variable (the loop's variable is the pushes' second name)
    uint8_t countedStepGiven;          // the head gives a constant step
    uint8_t wholeTries;                // times constantHead's back jump has tried to run the loop whole ...
    uint16_t wholeWait;                // ... and passes before it tries again (kNeverWhole: no more tries)
    // The same for a walk: its head proved on an earlier pass.
    const Instruction* walkedHead;     // the opening node proved (null: nothing proved)
    const Instruction* walkedPushes;   // the pushes of the source and the result
    Instruction* walkedTest;           // the FOREACH node
    // The first CASE on a number the body runs keeps here which of its
    // one-number labels each small whole selector goes to (the body's nodes
    // stay as they are while the loop runs, and a CASE at the loop's depth
    // is one of them).
    const Instruction* casePull;                 // its PULLCASE (null: no table)
    CaseSlot* caseSlot;                          // the context's slot that PULLCASE fills
    Instruction* caseNoMatch;                    // the node after which none of those labels matched
    Instruction* caseLabels[kCaseTableSize];     // the first label of each value, or null
};

// Opens an activation at the context's current depth (the loop's own depth).
void OpenLoopActivation(ProgramContext* context);

// The activation of the loop at the context's current depth, or null.
[[nodiscard]] inline LoopActivation* CurrentLoopActivation(ProgramContext* context) {
    if (context->loopActivationCount == 0) return nullptr;
    LoopActivation* top = &context->loopActivations[context->loopActivationCount - 1];
    return top->depth == context->callDepth ? top : nullptr;
}

// Drops the activations of every depth at or above the given one.
inline void DropLoopActivations(ProgramContext* context, int32_t depth) {
    while (context->loopActivationCount > 0 &&
           context->loopActivations[context->loopActivationCount - 1].depth >= depth)
        --context->loopActivationCount;
}

// Frees the context's activation stack.
void FreeLoopActivations(ProgramContext* context);

}  // namespace qob
