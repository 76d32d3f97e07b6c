// compiler/back_end/node_emitter.cpp
// Appending generator nodes with positions and opcode handlers.
#include "compiler/back_end/node_emitter.h"

#include <cstring>
#include <new>

#include "compiler/compile_messages.h"
#include "compiler/front_end/token_list.h"
#include "runtime/registry/registration.h"
#include "runtime/vm/vm.h"

namespace qob {

Handler OpcodeHandler(Opcode opcode) {
    const Handler handler = OpcodeHandlerTable[static_cast<size_t>(opcode)];
    return handler ? handler : NopHandler;
}

// The pool only fails when memory runs out; nothing sensible can be compiled then.
inline Instruction* NodeEmitter::NewNode() {
    if (freeNodes_.empty()) {
        auto* node = static_cast<Instruction*>(PoolAllocZeroed(pool, sizeof(Instruction)));
        if (!node) throw std::bad_alloc();
        return node;
    }
    Instruction* node = freeNodes_.back();
    freeNodes_.pop_back();
    *node = Instruction{};
    return node;
}

inline InstructionExtra* NodeEmitter::NewExtra() {
    if (freeExtras_.empty()) {
        auto* extra = static_cast<InstructionExtra*>(PoolAllocZeroed(pool, sizeof(InstructionExtra)));
        if (!extra) throw std::bad_alloc();
        return extra;
    }
    InstructionExtra* extra = freeExtras_.back();
    freeExtras_.pop_back();
    *extra = InstructionExtra{};
    return extra;
}

// The memory stays counted in its pool block as a live allocation, so the
// block is never given back while a recycled node lies in it.
void NodeEmitter::Recycle(Instruction* node) {
    InstructionExtra* extra = node->extra;
    UnlinkInstruction(pool, &last, node, true);
    freeNodes_.push_back(node);
    if (extra) freeExtras_.push_back(extra);
}

Instruction* NodeEmitter::Append(Handler handler, Opcode opcode, const char* text, size_t length, double operand,
                                 Instruction* target) {
    const TokenNode* at = token;
    Instruction* node = NewNode();
    if (text) SetNodeText(node, text, length == kMeasureText ? std::strlen(text) : length);
    node->handler = handler;
    node->operand = operand;
    node->opcode = static_cast<uint32_t>(opcode);
    // A token's file is interned already: it goes into the side record as it
    // is. Nearly every node has a position, so the record is made here at
    // once, filled in one go, instead of through the general appending.
    const char* file = at ? at->file : nullptr;
    const int32_t line = at ? at->line : 0;
    const uint16_t column = at ? at->column : 0;
    if (target || CurrentNamespaceHash || file || line || column) {
        InstructionExtra* extra = NewExtra();
        node->extra = extra;
        ++InstructionExtrasMade;
        extra->sourceFile = file;
        extra->line = line;
        extra->column = column;
        extra->namespaceHash = CurrentNamespaceHash;
        if (target) SetJumpTarget(pool, node, target);  // a new node jumps nowhere yet
    }
    if (last) {
        node->previous = last;
        node->next = last->next;
        if (last->next) last->next->previous = node;
        last->next = node;
    }
    last = node;
    ++nodeCount;
    return node;
}

Instruction* NodeEmitter::Emit(Opcode opcode, const char* text, double operand, Instruction* target) {
    return Append(OpcodeHandler(opcode), opcode, text, kMeasureText, operand, target);
}

Instruction* NodeEmitter::EmitText(Opcode opcode, std::string_view text) {
    return Append(OpcodeHandler(opcode), opcode, text.data(), text.size(), 0.0, nullptr);
}

Instruction* NodeEmitter::EmitHandler(Handler handler, Opcode opcode, const char* text, double operand,
                                      Instruction* target) {
    return Append(handler, opcode, text, kMeasureText, operand, target);
}

Instruction* NodeEmitter::EmitPlain(Opcode opcode, const char* text, double operand) {
    const TokenNode* const saved = token;
    token = nullptr;
    Instruction* node = Append(OpcodeHandler(opcode), opcode, text, kMeasureText, operand, nullptr);
    token = saved;
    return node;
}

void NodeEmitter::MarkTarget(Instruction* node) const {
    if (InstructionExtra* extra = RequireInstructionExtra(pool, node)) extra->isJumpTarget = 1;
}

void NodeEmitter::Delete(Instruction* node) {
    DeleteInstruction(pool, &last, node, true);
    --nodeCount;
}

bool NodeEmitter::MoveToEnd(Instruction* node, Opcode opcode) {
    InstructionExtra* extra = node->extra;
    const char* file = token ? token->file : nullptr;
    const int32_t line = token ? token->line : 0;
    const uint16_t column = token ? token->column : 0;
    if (!node->text || !node->previous || !extra || extra->jumpTarget || extra->firstJumper || extra->isJumpTarget ||
        !(CurrentNamespaceHash || file || line || column))
        return false;
    if (node != last) {
        node->previous->next = node->next;
        node->next->previous = node->previous;
        node->previous = last;
        node->next = last->next;
        if (last->next) last->next->previous = node;
        last->next = node;
        last = node;
    }
    // As a new node's: nothing cached, found or fused yet.
    *extra = InstructionExtra{};
    extra->sourceFile = file;
    extra->line = line;
    extra->column = column;
    extra->namespaceHash = CurrentNamespaceHash;
    node->operand = 0.0;
    node->extraWord = 0;
    node->opcode = static_cast<uint32_t>(opcode);
    node->handler = OpcodeHandler(opcode);
    node->secondHandler = nullptr;
    return true;
}

void NodeEmitter::Error(std::string_view message) const { ErrorAt(message, token); }

void NodeEmitter::ErrorAt(std::string_view message, const TokenNode* at) const {
    ReportCompileMessage(fileName, message, at, -1, false);
}

}  // namespace qob
