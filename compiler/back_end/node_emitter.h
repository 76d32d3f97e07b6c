// compiler/back_end/node_emitter.h
// How the code generator appends nodes: the list's cursor, the position of the
// token being compiled, opcode handlers from the opcode table, and messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"

namespace qob {

struct TokenNode;

struct NodeEmitter {
    Pool* pool = nullptr;                 // the unit's instruction pool (CurrentCompilerPool)
    const char* fileName = nullptr;       // the unit's name, for messages
    Instruction* last = nullptr;          // the list's last node: where nodes are appended
    const TokenNode* token = nullptr;     // the token being compiled: position of new nodes
    int nodeCount = 0;                    // nodes in the list: every node is appended and deleted here

    // Appends a node (std::bad_alloc when memory runs out) of the opcode with the handler the opcode table pairs
    // with it (NopHandler for the opcodes without one: data and marker nodes
    // must never call a null handler), at the token's position.
    Instruction* Emit(Opcode opcode, const char* text = nullptr, double operand = 0.0,
                      Instruction* target = nullptr);
    // The same with a handler of its own (built-in calls, CallOwnMethod).
    Instruction* EmitHandler(Handler handler, Opcode opcode, const char* text = nullptr, double operand = 0.0,
                             Instruction* target = nullptr);
    // Emit with a text whose length is known (no terminator needed).
    Instruction* EmitText(Opcode opcode, std::string_view text);
    // A node without a source position (the list's first node, data nodes).
    Instruction* EmitPlain(Opcode opcode, const char* text, double operand = 0.0);

    void SetTarget(Instruction* node, Instruction* target) const { SetJumpTarget(pool, node, target); }
    // Marks a node as a jump target without a jump to it yet.
    void MarkTarget(Instruction* node) const;
    // Deletes a node, retargeting jumps to it; keeps the cursor on the last node.
    void Delete(Instruction* node);
    // Does what Delete(node) and then Emit(opcode, its text) do, keeping the
    // node's memory and text: it moves to the end of the list as a node of
    // the opcode at the token's position. False, with nothing done, when the
    // result would differ: nodes jump to it or from it, it is marked as a
    // target, it has no text, or one of the two would have a side record and
    // the other not.
    bool MoveToEnd(Instruction* node, Opcode opcode);

    // Deletes a node the optimiser took out of the list, keeping its memory
    // and its side record's for the next nodes to be made.
    void Recycle(Instruction* node);
    static void RecycleNode(void* emitter, Instruction* node) { static_cast<NodeEmitter*>(emitter)->Recycle(node); }

    // An error at the token being compiled, or at the given one (null: none).
    void Error(std::string_view message) const;
    void ErrorAt(std::string_view message, const TokenNode* at) const;

private:
    // Zeroed memory for a node and a side record: recycled, or new from the
    // pool. Taken into Append, which makes one of each for nearly every node.
    [[gnu::always_inline]] inline Instruction* NewNode();
    [[gnu::always_inline]] inline InstructionExtra* NewExtra();

    std::vector<Instruction*> freeNodes_;
    std::vector<InstructionExtra*> freeExtras_;

    // Makes the node, its side record when it has a position (the token's),
    // a target or a namespace, and links it after the last node. The text
    // (null: none) has length characters, or is measured when length is
    // kMeasureText. (Few enough arguments to travel in registers: the
    // callers' calls are jumps.)
    static constexpr size_t kMeasureText = SIZE_MAX;
    Instruction* Append(Handler handler, Opcode opcode, const char* text, size_t length, double operand,
                        Instruction* target);
};

// The handler the opcode table pairs with an opcode; NopHandler when none.
[[nodiscard]] Handler OpcodeHandler(Opcode opcode);

}  // namespace qob
