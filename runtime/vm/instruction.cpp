// runtime/vm/instruction.cpp
// Appending and deleting instruction nodes, jump targets with their reverse
// index, instruction names and listing lines.

#include "runtime/vm/instruction.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/data/interned_names.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

Pool* CurrentCompilerPool = nullptr;
uint32_t CurrentNamespaceHash = 0;
uint64_t InstructionExtrasMade = 0;

bool HasSecondText(uint32_t opcode) {
    switch (static_cast<Opcode>(opcode)) {
        case Opcode::PUSHSTRVAR:
        case Opcode::PUSHSTRSTR:
        case Opcode::PUSHVARVAR:
        case Opcode::PARMSPUSHVARVAR:
        case Opcode::NGPUSHVARVAR:
        case Opcode::PUSHVARSTR:
        case Opcode::PUSHNGVARSTR:
        case Opcode::ASSIGN4: return true;
        default: return false;
    }
}

namespace {

static_assert(sizeof(Instruction) % 8 == 0 && sizeof(InstructionExtra) % 8 == 0, "pool sizes need no rounding");

// Copies length bytes and answers their HashName. Most texts are names of a
// few characters: one pass over the bytes does both, without a library call.
uint32_t CopyAndHashText(char* to, const char* from, size_t length) {
    if (length > 32) {
        std::memcpy(to, from, length);
        return HashName(from, length);
    }
    uint32_t h = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = from[i];
        to[i] = c;
        h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
    }
    return h & 0x7FFFFFFFu;
}

void LinkAfter(Instruction* cursor, Instruction* node) {
    if (!cursor) return;
    node->previous = cursor;
    node->next = cursor->next;
    if (cursor->next) cursor->next->previous = node;
    cursor->next = node;
}

// Removes node from the jumper list of its current target.
void UnlinkJumper(Instruction* node) {
    InstructionExtra* extra = node->extra;
    Instruction* target = extra->jumpTarget;
    if (!target) return;
    if (extra->previousJumper) extra->previousJumper->extra->nextJumper = extra->nextJumper;
    else target->extra->firstJumper = extra->nextJumper;
    if (extra->nextJumper) extra->nextJumper->extra->previousJumper = extra->previousJumper;
    extra->nextJumper = extra->previousJumper = nullptr;
    extra->jumpTarget = nullptr;
}

void FreeOperands(Instruction* node) {
    // Most nodes a list loses have no text (or gave theirs to another node).
    if (node->text && !IsNativeCallOpcode(node->opcode)) platform::FreeBlock(node->text);
    if (HasSecondText(node->opcode))
        platform::FreeBlock(reinterpret_cast<void*>(static_cast<uintptr_t>(node->operand)));
    node->text = nullptr;
}

}  // namespace

void SetNodeText(Instruction* node, const char* text, size_t length) {
    char* copy = static_cast<char*>(platform::AllocateBlock(length + 1));
    node->text = copy;
    if (copy) {
        node->textHash = CopyAndHashText(copy, text, length);
        copy[length] = '\0';
    } else {
        node->textHash = HashName(text, length);
    }
}

InstructionExtra* AllocateInstructionExtra(Pool* pool, Instruction* node) {
    if (!node->extra) {
        node->extra = static_cast<InstructionExtra*>(PoolAllocZeroed(pool, sizeof(InstructionExtra)));
        if (node->extra) ++InstructionExtrasMade;
    }
    return node->extra;
}

namespace {

// Makes node (which jumps nowhere) the first jumper to target.
inline void LinkJumper(Instruction* node, InstructionExtra* extra, Instruction* target,
                       InstructionExtra* targetExtra) {
    targetExtra->isJumpTarget = 1;
    extra->jumpTarget = target;
    extra->nextJumper = targetExtra->firstJumper;
    if (targetExtra->firstJumper) targetExtra->firstJumper->extra->previousJumper = node;
    targetExtra->firstJumper = node;
}

}  // namespace

void SetJumpTarget(Pool* pool, Instruction* node, Instruction* target) {
    InstructionExtra* extra = target || node->extra ? RequireInstructionExtra(pool, node) : nullptr;
    if (!extra || extra->jumpTarget == target) return;
    UnlinkJumper(node);
    if (!target) return;
    if (InstructionExtra* targetExtra = RequireInstructionExtra(pool, target))
        LinkJumper(node, extra, target, targetExtra);
}

void SetFirstJumpTarget(Pool* pool, Instruction* node, Instruction* target) {
    if (!target) return;
    InstructionExtra* extra = RequireInstructionExtra(pool, node);
    InstructionExtra* targetExtra = extra ? RequireInstructionExtra(pool, target) : nullptr;
    if (targetExtra) LinkJumper(node, extra, target, targetExtra);
}

Instruction* EmitInstruction(Instruction* cursor, Handler handler, const char* text, double operand,
                             Instruction* jumpTarget, uint32_t opcode, const char* file, int32_t line,
                             uint16_t column) {
    Pool* pool = CurrentCompilerPool;
    Instruction* node = NewInstructionNode(pool, handler, text, text ? std::strlen(text) : 0, operand, opcode);
    if (!node) return nullptr;
    if (jumpTarget || CurrentNamespaceHash || file || line || column) {
        InstructionExtra* extra = RequireInstructionExtra(pool, node);
        if (extra) {
            extra->sourceFile = file ? InternName(file) : nullptr;
            extra->line = line;
            extra->column = column;
            extra->namespaceHash = CurrentNamespaceHash;
            if (jumpTarget) SetJumpTarget(pool, node, jumpTarget);  // a new node jumps nowhere yet
        }
    }
    LinkAfter(cursor, node);
    return node;
}

Instruction* UnlinkInstruction(Pool* pool, Instruction** cursor, Instruction* node, bool retarget) {
    Instruction* previous = node->previous;
    if (previous) previous->next = node->next;
    if (node->next) node->next->previous = previous;
    if (cursor && *cursor == node) *cursor = previous;
    if (InstructionExtra* extra = node->extra) {
        // Nodes that jump here go to the predecessor instead (or lose their
        // target when nothing is retargeted: the whole chain is going).
        while (Instruction* jumper = extra->firstJumper)
            SetJumpTarget(pool, jumper, retarget ? previous : nullptr);
        UnlinkJumper(node);
    }
    FreeOperands(node);
    return previous;
}

Instruction* DeleteInstruction(Pool* pool, Instruction** cursor, Instruction* node, bool retarget) {
    Instruction* previous = UnlinkInstruction(pool, cursor, node, retarget);
    if (node->extra) PoolFree(pool, node->extra);
    PoolFree(pool, node);
    return previous;
}

void DeleteInstructionChain(ProgramContext* context, Instruction* node) {
    while (node) node = DeleteInstruction(context->pool, nullptr, node, false);
}

void FreeChainTexts(Instruction* node) {
    for (; node; node = node->previous) FreeOperands(node);
}

const char* InstructionName(const Instruction* node) {
    if (node->opcode == static_cast<uint32_t>(Opcode::INTERNALCALL)) {
        const Handler own = node->secondHandler ? node->secondHandler : node->handler;
        for (int i = 0, count = FunctionCount(); i < count; ++i) {
            const FunctionRecord* record = FunctionRecordAt(i);
            if (record && record->handler == own) return record->name.c_str();
        }
        return nullptr;
    }
    if (IsNativeCallOpcode(node->opcode)) {
        const FunctionRecord* record = FunctionRecordAt(static_cast<int>(node->operand));
        return record ? record->name.c_str() : nullptr;
    }
    return OpcodeName(node->opcode);
}

namespace {

constexpr size_t kListingTextLimit = 29;

// A text as the listing shows it: cut to 29 characters.
void CutText(const char* text, char (&out)[kListingTextLimit + 1]) {
    const size_t length = text ? strnlen(text, kListingTextLimit) : 0;
    if (length) std::memcpy(out, text, length);
    out[length] = '\0';
}

const char* SecondText(const Instruction* node) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(node->operand));
}

uintptr_t TargetSuccessor(const Instruction* node) {
    const Instruction* target = JumpTarget(node);
    return reinterpret_cast<uintptr_t>(target ? target->next : nullptr);
}

void FormatFusedStep(const Instruction* node, char* out, size_t size) {
    out[0] = '\0';
    if (!node->secondHandler) return;
    const Handler step = node->handler;
    if (step == Builtin___savesp) std::snprintf(out, size, "(savesp) ");
    else if (step == Builtin___savesp2) std::snprintf(out, size, "(savesp2) ");
    else if (step == ConditionalJumpHandler) std::snprintf(out, size, "(jeq 0X%" PRIxPTR ") ", TargetSuccessor(node));
    else if (step == Handle_BRANCH) std::snprintf(out, size, "(jmp 0X%" PRIxPTR ") ", TargetSuccessor(node));
    else if (step == Builtin_dropstack) std::snprintf(out, size, "(dropstack) ");
}

void FormatOperands(const Instruction* node, char* out, size_t size) {
    char text[kListingTextLimit + 1];
    char second[kListingTextLimit + 1];
    char number[kNumberTextSize];
    CutText(node->text, text);
    FormatNumber(node->operand, number);
    auto secondText = [&]() -> const char* {
        CutText(SecondText(node), second);
        return second;
    };
    out[0] = '\0';
    switch (static_cast<Opcode>(node->opcode)) {
        case Opcode::PUSHINT:
        case Opcode::PUSHCASE:
            std::snprintf(out, size, "%s", number);
            break;
        case Opcode::PUSHSTR:
        case Opcode::ADD4:
        case Opcode::SUB4: std::snprintf(out, size, "\"%s\"", text); break;
        case Opcode::PUSHVARSTR:
        case Opcode::PUSHNGVARSTR: std::snprintf(out, size, "%s, \"%s\"", secondText(), text); break;
        case Opcode::ASSIGN4: std::snprintf(out, size, "%s, \"%s\"", text, secondText()); break;
        case Opcode::PUSHSTRVAR: std::snprintf(out, size, "\"%s\", %s", secondText(), text); break;
        case Opcode::PUSHINTSTR: std::snprintf(out, size, "%s, \"%s\"", number, text); break;
        case Opcode::PUSHSTRINT: std::snprintf(out, size, "\"%s\", %s", text, number); break;
        case Opcode::PUSHINTVAR: std::snprintf(out, size, "%s, %s", number, text); break;
        case Opcode::PUSHVARINT:
        case Opcode::PUSHNGVARINT:
        case Opcode::ASSIGN3:
        case Opcode::ADD5: case Opcode::ADD6: case Opcode::SUB5: case Opcode::SUB6:
        case Opcode::MUL5: case Opcode::MUL6: case Opcode::DIV5: case Opcode::DIV6:
            std::snprintf(out, size, "%s, %s", text, number);
            break;
        case Opcode::PUSHSTRSTR: std::snprintf(out, size, "\"%s\", \"%s\"", text, secondText()); break;
        case Opcode::PUSHVARVAR:
        case Opcode::PARMSPUSHVARVAR:
        case Opcode::NGPUSHVARVAR: std::snprintf(out, size, "%s, %s", secondText(), text); break;
        case Opcode::PUSHINTINT:
        case Opcode::PUSHINTCASE: {
            double constant = 0.0;
            if (node->text) std::memcpy(&constant, node->text, sizeof constant);
            char first[kNumberTextSize];
            FormatNumber(constant, first);
            if (node->opcode == static_cast<uint32_t>(Opcode::PUSHINTINT))
                std::snprintf(out, size, "%s, %s", first, number);
            else
                std::snprintf(out, size, "%s, %s, 0x%" PRIxPTR, first, number, TargetSuccessor(node));
            break;
        }
        case Opcode::PULLCASE: std::snprintf(out, size, "%d", static_cast<int>(TruncToInt64(node->operand))); break;
        case Opcode::CALL:
        case Opcode::SELFCALL: std::snprintf(out, size, "%s, 0x%" PRIxPTR, text, TargetSuccessor(node)); break;
        case Opcode::BRANCH:
        case Opcode::IF:
        case Opcode::ELSE:
        case Opcode::WHILE:
        case Opcode::UNTIL: std::snprintf(out, size, "0x%" PRIxPTR, TargetSuccessor(node)); break;
        case Opcode::EQ2: case Opcode::LT2: case Opcode::GT2: case Opcode::LE2: case Opcode::GE2:
        case Opcode::ADD2: case Opcode::SUB2: case Opcode::MUL2: case Opcode::DIV2: case Opcode::NE2:
            std::snprintf(out, size, "%s", number);
            break;
        default:
            if (IsNativeCallOpcode(node->opcode)) {
                const FunctionRecord* record = FunctionRecordAt(static_cast<int>(node->operand));
                CutText(record ? record->name.c_str() : nullptr, text);
            }
            std::snprintf(out, size, "%s", text);
            break;
    }
}

}  // namespace

char* FormatInstructionLine(const Instruction* node) {
    const char* name = IsNativeCallOpcode(node->opcode) ? OpcodeName(node->opcode) : InstructionName(node);
    char step[64];
    char operands[800];
    FormatFusedStep(node, step, sizeof step);
    FormatOperands(node, operands, sizeof operands);
    char line[1024];
    const int length = std::snprintf(line, sizeof line, "0x%" PRIxPTR "|   %-20s %s%s",
                                     reinterpret_cast<uintptr_t>(node), name ? name : "", step, operands);
    auto* result = static_cast<char*>(platform::AllocateBlock(static_cast<size_t>(length) + 1));
    if (result) std::memcpy(result, line, static_cast<size_t>(length) + 1);
    return result;
}

}  // namespace qob
