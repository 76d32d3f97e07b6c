// compiler/back_end/optimizer.h
// The peephole optimiser, the last step of code generation: fused pushes,
// folded constants, typed operator nodes and fused statement steps.
#pragma once

#include <memory>
#include <vector>

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

// The same optimiser for a list while it is made. A procedure that nothing
// but the optimiser will change any more, and that ends the list so far, may
// be given to Procedure: pass 1 runs over it at once, and the nodes it
// deletes go to recycle (when given) for the list's next nodes. Finish then
// does what OptimizeInstructionList does, stepping over those procedures:
// the list and the progress reports come out the same.
class ListOptimizer {
public:
    using Recycle = void (*)(void* owner, Instruction* node);
    explicit ListOptimizer(Pool* pool, Recycle recycle = nullptr, void* owner = nullptr);
    ~ListOptimizer();
    ListOptimizer(const ListOptimizer&) = delete;
    ListOptimizer& operator=(const ListOptimizer&) = delete;

    // start: the procedure's STARTPROC; end: its ENDPROC, the list's last node.
    void Procedure(Instruction* start, Instruction* end);
    void Finish(Instruction* first, const char* fileName, CompileProgress progress = nullptr, int nodeCount = -1);
    // After Finish: the list's nodes in list order, found on the way (empty for an empty list).
    std::vector<Instruction*> TakeOrder();

private:
    class Optimizer;
    std::unique_ptr<Optimizer> optimizer_;
};

}  // namespace qob
