// runtime/vm/instruction.h
// The doubly linked instruction list the virtual machine runs: nodes, their
// side records, appending, deleting with jump retargeting, names and listings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/memory/pool.h"

namespace qob {

struct Instruction;
struct Pool;
struct ProgramContext;
struct VariableRecord;
struct FrameCacheRecord;

// Every handler of the machine: no parameters, works on the current context.
using Handler = void (*)();

// Side record of a node, allocated zeroed from the program's pool when the
// node needs one (a jump target, a source position, a namespace, a cache).
// jumpTarget is set only through SetJumpTarget, which keeps the list of the
// nodes jumping to each target, so deleting a target retargets its jumpers
// without walking the whole program.
struct InstructionExtra {
    Instruction* jumpTarget;          // execution goes on at its successor
    const char* sourceFile;           // interned file name, or null
    int32_t line;
    uint16_t column;
    uint8_t flagByte;                 // STARTPROC: private method; OBJRUN: result dropped
    uint8_t isJumpTarget;             // 1 when some node jumps here
    uint32_t namespaceHash;           // scope id of the node's variable lookups
    uint8_t fusedShape;               // push nodes: how the operator after them runs fused (0: not decided yet);
                                      // a WHILE's BRANCH: 1 once its loop was refused a run whole for good
    uint8_t fusedRule;                // ... and the number rule it follows; the BRANCH: its refusals so far
    uint16_t caseSlot;                // PUSHINTCASE: the CASE slot its operand names, plus one (0: not found yet)
    VariableRecord* cachedVariable;   // last lookup of the text's name; STARTPROC: frame a callback bound
    VariableRecord* cachedList;       // list (or object) it was found in; valid while that list is in force
    // The second pair serves the second name of two-name forms; the nodes of
    // getproc, getprocex and call, which name no variable, keep their last
    // lookup there instead: valid while the application searched has that id
    // and the name (key) has that hash and, for call, the argument count.
    union {
        VariableRecord* cachedVariable2;
        uint64_t cachedApplicationId;
    };
    union {
        VariableRecord* cachedList2;
        uint64_t cachedProcedureKey;  // HashName of the name << 32 | argument count
    };
    union {
        FrameCacheRecord* freeFrames;  // STARTPROC: this procedure's cached frames not in use
        Instruction* cachedProcedure;  // getproc, getprocex, call: the start node found (null: none cached)
    };
    Instruction* firstJumper;         // nodes whose jump target is this node ...
    Instruction* nextJumper;          // ... chained through their own side records
    Instruction* previousJumper;
};

struct Instruction {
    double operand;            // number; address of a second text; native-call table index
    uintptr_t extraWord;       // PUSHCASE/PUSHINTCASE: count; OBJRUN: kept results; STARTPROC: undefined start
    char* text;                // owned copy of the text operand (or 8 bytes of a double)
    uint32_t textHash;         // HashName of the text
    uint32_t opcode;
    Handler handler;           // what the machine calls
    Handler secondHandler;     // the node's own handler when a step is fused into the first slot
    InstructionExtra* extra;   // side record or null
    Instruction* next;
    Instruction* previous;
};

// The pool EmitInstruction allocates from (set by whoever builds a list) and
// the namespace hash copied into new side records.
extern Pool* CurrentCompilerPool;
extern uint32_t CurrentNamespaceHash;

// Appends a node after cursor (the list's last node; may be null for a new
// list) and returns it. A side record is made when a jump target, a namespace,
// a file, a line or a column is given; the target gets one marking it as a target.
Instruction* EmitInstruction(Instruction* cursor, Handler handler, const char* text, double operand,
                             Instruction* jumpTarget, uint32_t opcode, const char* file, int32_t line,
                             uint16_t column);

// The side record of a node, made from the pool when it has none.
InstructionExtra* AllocateInstructionExtra(Pool* pool, Instruction* node);
// Side records made so far in the process: a loader sizes what it built by
// the difference.
extern uint64_t InstructionExtrasMade;
inline InstructionExtra* RequireInstructionExtra(Pool* pool, Instruction* node) {
    return node->extra ? node->extra : AllocateInstructionExtra(pool, node);
}

// Gives a new node its own block holding the length bytes of text and a
// terminator (the text stays null when no block can be made), and their hash.
void SetNodeText(Instruction* node, const char* text, size_t length);

// A new node of the pool with its own copy of the text (null: none), linked
// to nothing yet.
inline Instruction* NewInstructionNode(Pool* pool, Handler handler, const char* text, size_t length,
                                       double operand, uint32_t opcode) {
    auto* node = static_cast<Instruction*>(PoolAllocZeroed(pool, sizeof(Instruction)));
    if (!node) return nullptr;
    if (text) SetNodeText(node, text, length);
    node->handler = handler;
    node->operand = operand;
    node->opcode = opcode;
    return node;
}

// EmitInstruction for a rebuilt node: the text comes as length bytes that
// need no terminator (null: no text), there is no jump target, file or
// position, and a side record is made when namespaceHash is not 0. Inline:
// a loader makes its nodes by the hundred thousand.
inline Instruction* AppendInstruction(Pool* pool, Instruction* cursor, Handler handler, const char* text,
                                      size_t length, double operand, uint32_t opcode, uint32_t namespaceHash) {
    Instruction* node = NewInstructionNode(pool, handler, text, length, operand, opcode);
    if (!node) return nullptr;
    if (namespaceHash)
        if (InstructionExtra* extra = RequireInstructionExtra(pool, node)) extra->namespaceHash = namespaceHash;
    if (cursor) {
        node->previous = cursor;
        node->next = cursor->next;
        if (cursor->next) cursor->next->previous = node;
        cursor->next = node;
    }
    return node;
}

// Makes node jump to target (null: no target), marking the target. The one way
// to change a jump target.
void SetJumpTarget(Pool* pool, Instruction* node, Instruction* target);

// SetJumpTarget for a node that jumps nowhere yet, as a list being built
// from a file has them: there is no old target to leave.
void SetFirstJumpTarget(Pool* pool, Instruction* node, Instruction* target);

// The node's jump target, or null.
[[nodiscard]] inline Instruction* JumpTarget(const Instruction* node) {
    return node->extra ? node->extra->jumpTarget : nullptr;
}

// Unlinks and frees a node; returns its predecessor. When it was *cursor, the
// predecessor becomes the cursor. With retarget, nodes jumping to it jump to its
// predecessor instead (the first node of a list is never deleted this way).
Instruction* DeleteInstruction(Pool* pool, Instruction** cursor, Instruction* node, bool retarget);
// DeleteInstruction but for the memory: the node and its side record stay
// allocated (jumpers retargeted, texts freed), for the caller to reuse.
Instruction* UnlinkInstruction(Pool* pool, Instruction** cursor, Instruction* node, bool retarget);

// Deletes the node and every node before it, without retargeting.
void DeleteInstructionChain(ProgramContext* context, Instruction* node);

// Frees the texts the node and every node before it own, and nothing else:
// for a list whose pool is freed whole next, which takes the nodes and side
// records with it far faster than deleting them one by one.
void FreeChainTexts(Instruction* node);

// Whether the node's number operand holds the address of a second text it owns.
[[nodiscard]] bool HasSecondText(uint32_t opcode);

// The name a listing shows for the node (null when it has none).
[[nodiscard]] const char* InstructionName(const Instruction* node);

// One listing line "0x...|   name fused-step operands", a new block the caller frees.
[[nodiscard]] char* FormatInstructionLine(const Instruction* node);

}  // namespace qob
