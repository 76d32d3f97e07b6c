// compiler/node_emitter.cpp
// Appending generator nodes with positions and opcode handlers.
#include "compiler/node_emitter.h"

#include <new>

#include "compiler/compile_messages.h"
#include "compiler/token_list.h"
#include "runtime/registration.h"
#include "runtime/vm.h"

namespace qob {

Handler OpcodeHandler(Opcode opcode) {
    const Handler handler = OpcodeHandlerTable[static_cast<size_t>(opcode)];
    return handler ? handler : NopHandler;
}

// The pool only fails when memory runs out; nothing sensible can be compiled then.
Instruction* NodeEmitter::Append(Instruction* node) {
    if (!node) throw std::bad_alloc();
    last = node;
    ++nodeCount;
    return node;
}

Instruction* NodeEmitter::Emit(Opcode opcode, const char* text, double operand, Instruction* target) {
    return EmitHandler(OpcodeHandler(opcode), opcode, text, operand, target);
}

Instruction* NodeEmitter::EmitHandler(Handler handler, Opcode opcode, const char* text, double operand,
                                      Instruction* target) {
    const char* file = token ? token->file : nullptr;
    const int32_t line = token ? token->line : 0;
    const uint16_t column = token ? token->column : 0;
    // A token's file is interned already: it goes into the side record as it
    // is, instead of being interned again for every node.
    Instruction* node = Append(EmitInstruction(last, handler, text, operand, target, static_cast<uint32_t>(opcode),
                                               nullptr, line, column));
    if (file) {
        InstructionExtra* extra = RequireInstructionExtra(pool, node);
        if (!extra) throw std::bad_alloc();
        extra->sourceFile = file;
    }
    return node;
}

Instruction* NodeEmitter::EmitPlain(Opcode opcode, const char* text, double operand) {
    return Append(EmitInstruction(last, OpcodeHandler(opcode), text, operand, nullptr,
                                  static_cast<uint32_t>(opcode), nullptr, 0, 0));
}

void NodeEmitter::MarkTarget(Instruction* node) const {
    if (InstructionExtra* extra = RequireInstructionExtra(pool, node)) extra->isJumpTarget = 1;
}

void NodeEmitter::Delete(Instruction* node) {
    DeleteInstruction(pool, &last, node, true);
    --nodeCount;
}

void NodeEmitter::Error(std::string_view message) const { ErrorAt(message, token); }

void NodeEmitter::ErrorAt(std::string_view message, const TokenNode* at) const {
    ReportCompileMessage(fileName, message, at, -1, false);
}

}  // namespace qob
