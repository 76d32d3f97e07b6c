// compiler/optimizer.h
// The peephole optimiser, the last step of code generation: fused pushes,
// folded constants, typed operator nodes and fused statement steps.
#pragma once

#include "compiler/compile_progress.h"

namespace qob {

struct Instruction;
struct Pool;

// Rewrites the list that starts at first (nodes of pool) in two linear
// passes. Pass 1 folds each node with the one or two nodes before it (a push
// into the next push, a constant operand into its operator, a dropstack or
// a conditional jump into the node that computes its operand); pass 2 folds
// every __savesp step into the node after it. Generic operators are
// recognised by the handlers of their function-table records, whatever
// those handlers are. A node that some jump lands after is never absorbed,
// so a jump never starts to run another node's operands. nodeCount is the
// number of nodes in the list (the progress total), or -1 to have them counted.
void OptimizeInstructionList(Instruction* first, Pool* pool, const char* fileName, CompileProgress progress = nullptr,
                             int nodeCount = -1);

}  // namespace qob
