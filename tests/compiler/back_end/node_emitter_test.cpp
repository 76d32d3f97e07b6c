// tests/compiler/back_end/node_emitter_test.cpp
// Moving a push to the end of the list as the node that takes it over: the
// list must come out as deleting the push and emitting a new node makes it.
#include "compiler/back_end/node_emitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/front_end/token_list.h"
#include "runtime/memory/pool.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"

namespace qob::testing {
namespace {

// What a list holds, node by node: fields, side record, jumps as list indexes.
std::string Describe(const Instruction* first) {
    std::vector<const Instruction*> nodes;
    for (const Instruction* node = first; node; node = node->next) nodes.push_back(node);
    auto indexOf = [&](const Instruction* node) -> std::string {
        for (size_t i = 0; i < nodes.size(); ++i)
            if (nodes[i] == node) return std::to_string(i);
        return node ? "?" : "-";
    };
    std::string out;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const Instruction* node = nodes[i];
        if (node->previous != (i ? nodes[i - 1] : nullptr)) out += "(bad back link) ";
        out += std::to_string(node->opcode) + " " + (node->text ? node->text : "-") + " #" +
               std::to_string(node->textHash) + " " + std::to_string(node->operand) + " w" +
               std::to_string(node->extraWord) + (node->handler == OpcodeHandler(static_cast<Opcode>(node->opcode)) ? " h" : " H") +
               (node->secondHandler ? " 2" : "");
        if (const InstructionExtra* extra = node->extra) {
            out += std::string(" [") + (extra->sourceFile ? extra->sourceFile : "-") + " " +
                   std::to_string(extra->line) + ":" + std::to_string(extra->column) + " ns" +
                   std::to_string(extra->namespaceHash) + " t" + std::to_string(extra->isJumpTarget) + " ->" +
                   indexOf(extra->jumpTarget) + " <-" + indexOf(extra->firstJumper) + " f" +
                   std::to_string(extra->flagByte) + "]";
        }
        out += "\n";
    }
    return out;
}

// How the push is set up before its take-over.
enum class PushSetup { Plain, Last, InNamespace, MarkedTarget, JumpedTo, NoPosition };

struct Case {
    const char* name;
    PushSetup setup;
    bool moved;  // MoveToEnd does the work itself
};

// One list: a head, the push of A$, a constant, and (but for Last) a call.
struct List {
    Pool* pool = CreatePool(0x10000);
    NodeEmitter emit;
    TokenNode pushToken{};
    TokenNode consumerToken{};
    Instruction* push = nullptr;

    explicit List(PushSetup setup) {
        Pool* const savedPool = CurrentCompilerPool;
        CurrentCompilerPool = pool;
        emit.pool = pool;
        pushToken.file = "a.qob";
        pushToken.line = 3;
        pushToken.column = 5;
        consumerToken.file = "a.qob";
        consumerToken.line = 4;
        consumerToken.column = 9;
        CurrentNamespaceHash = 0;
        emit.EmitPlain(Opcode::None, "a.qob");
        emit.token = &pushToken;
        if (setup == PushSetup::InNamespace) CurrentNamespaceHash = 77;
        if (setup == PushSetup::NoPosition) emit.token = nullptr;
        push = emit.Emit(Opcode::NGPUSHVAR, "A$");
        CurrentNamespaceHash = 0;
        if (setup == PushSetup::MarkedTarget) emit.MarkTarget(push);
        if (setup != PushSetup::Last) {
            emit.Emit(Opcode::PUSHINT, nullptr, 5.0);
            Instruction* jump = emit.Emit(Opcode::BRANCH);
            if (setup == PushSetup::JumpedTo) emit.SetTarget(jump, push);
        }
        emit.token = setup == PushSetup::NoPosition ? nullptr : &consumerToken;
        CurrentCompilerPool = savedPool;
    }
    ~List() {
        FreeChainTexts(emit.last);
        FreeNodeList(pool);
    }
    // The take-over, in the push's namespace as the generator does it.
    bool TakeOver(bool move) {
        Pool* const savedPool = CurrentCompilerPool;
        CurrentCompilerPool = pool;
        CurrentNamespaceHash = push->extra ? push->extra->namespaceHash : 0;
        bool moved = false;
        if (move) {
            moved = emit.MoveToEnd(push, Opcode::ASSIGN2);
        } else {
            const std::string name = push->text;
            emit.Delete(push);
            emit.Emit(Opcode::ASSIGN2, name.c_str());
        }
        CurrentNamespaceHash = 0;
        CurrentCompilerPool = savedPool;
        return moved;
    }
    const Instruction* First() const {
        const Instruction* node = emit.last;
        while (node->previous) node = node->previous;
        return node;
    }
};

TEST(NodeEmitterTest, AMovedPushEndsAsADeletedPushAndANewNodeWould) {
    const Case kCases[] = {
        {"push in the middle", PushSetup::Plain, true},
        {"push is the last node", PushSetup::Last, true},
        {"push in a namespace", PushSetup::InNamespace, true},
        {"push marked as a target", PushSetup::MarkedTarget, false},
        {"a jump to the push", PushSetup::JumpedTo, false},
        {"no position and no namespace", PushSetup::NoPosition, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        List moved(c.setup);
        List remade(c.setup);
        const std::string before = Describe(moved.First());
        const int countBefore = moved.emit.nodeCount;
        ASSERT_EQ(moved.TakeOver(true), c.moved);
        if (!c.moved) {
            EXPECT_EQ(Describe(moved.First()), before);  // nothing done
            continue;
        }
        remade.TakeOver(false);
        EXPECT_EQ(Describe(moved.First()), Describe(remade.First()));
        EXPECT_EQ(moved.emit.last, moved.push);
        EXPECT_EQ(moved.emit.nodeCount, countBefore);
        EXPECT_EQ(moved.emit.nodeCount, remade.emit.nodeCount);
    }
}

}  // namespace
}  // namespace qob::testing
