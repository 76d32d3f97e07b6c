// tests/runtime/vm/instruction_test.cpp
// Appending, deleting with retargeting, names and listing lines.

#include "runtime/vm/instruction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "builtins/operators/compound_assignment.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

using ::testing::MatchesRegex;

class InstructionTest : public ::testing::Test {
protected:
    void SetUp() override {
        pool = CreatePool(64 * 1024);
        CurrentCompilerPool = pool;
        CurrentNamespaceHash = 0;
        first = EmitInstruction(nullptr, NopHandler, "unit.qob", 0, nullptr, 0, nullptr, 0, 0);
        cursor = first;
    }
    void TearDown() override {
        while (cursor) cursor = DeleteInstruction(pool, nullptr, cursor, false);
        FreeNodeList(pool);
        CurrentCompilerPool = nullptr;
    }
    Instruction* Emit(Opcode opcode, Handler handler, const char* text = nullptr, double operand = 0,
                      Instruction* target = nullptr) {
        cursor = EmitInstruction(cursor, handler, text, operand, target, static_cast<uint32_t>(opcode), nullptr, 0, 0);
        return cursor;
    }
    std::string Listing(const Instruction* node) {
        char* line = FormatInstructionLine(node);
        std::string text = line;
        platform::FreeBlock(line);
        return text;
    }
    Pool* pool = nullptr;
    Instruction* first = nullptr;
    Instruction* cursor = nullptr;
};

TEST_F(InstructionTest, SideRecordOnlyWhenSomethingNeedsIt) {
    Instruction* plain = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 4);
    EXPECT_EQ(plain->extra, nullptr);
    Instruction* jump = Emit(Opcode::BRANCH, Handle_BRANCH, nullptr, 0, plain);
    ASSERT_NE(jump->extra, nullptr);
    EXPECT_EQ(jump->extra->jumpTarget, plain);
    ASSERT_NE(plain->extra, nullptr);
    EXPECT_EQ(plain->extra->isJumpTarget, 1);
    CurrentNamespaceHash = 77;
    Instruction* scoped = Emit(Opcode::PUSHVAR, Handle_PUSHVAR, "X$");
    ASSERT_NE(scoped->extra, nullptr);
    EXPECT_EQ(scoped->extra->namespaceHash, 77u);
    EXPECT_NE(scoped->text, nullptr);
    EXPECT_EQ(scoped->textHash, HashName("X$", 2));
    Instruction* placed = EmitInstruction(cursor, NopHandler, nullptr, 0, nullptr, 1, "a\\b.qob", 3, 9);
    cursor = placed;
    ASSERT_NE(placed->extra, nullptr);
    EXPECT_STREQ(placed->extra->sourceFile, "a\\b.qob");
    EXPECT_EQ(placed->extra->line, 3);
    EXPECT_EQ(placed->extra->column, 9);
}

TEST_F(InstructionTest, DeletingATargetRetargetsEveryJumperToItsPredecessor) {
    Instruction* before = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 1);
    Instruction* target = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 2);
    Instruction* after = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 3);
    Instruction* jumpA = Emit(Opcode::BRANCH, Handle_BRANCH, nullptr, 0, target);
    Instruction* jumpB = Emit(Opcode::IF, ConditionalJumpHandler, nullptr, 0, target);
    Instruction* previous = DeleteInstruction(pool, &cursor, target, true);
    EXPECT_EQ(previous, before);
    EXPECT_EQ(JumpTarget(jumpA), before);
    EXPECT_EQ(JumpTarget(jumpB), before);
    EXPECT_EQ(JumpTarget(jumpA)->next, after) << "the same next node runs";
    EXPECT_EQ(before->extra->isJumpTarget, 1);
    // Deleting a jumper takes it off its target's list.
    DeleteInstruction(pool, &cursor, jumpA, true);
    EXPECT_EQ(before->extra->firstJumper, jumpB);
    EXPECT_EQ(jumpB->extra->nextJumper, nullptr);
}

TEST_F(InstructionTest, DeletingTheCursorMovesItBackAndEmitsAppendThere) {
    Instruction* a = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 1);
    Instruction* b = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 2);
    DeleteInstruction(pool, &cursor, b, true);
    EXPECT_EQ(cursor, a);
    Instruction* c = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 3);
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->previous, a);
}

TEST_F(InstructionTest, DeletingFreesSecondTexts) {
    char* second = static_cast<char*>(platform::AllocateBlock(4));
    std::strcpy(second, "A$");
    Instruction* node = Emit(Opcode::PUSHVARVAR, Handle_PUSHVARVAR, "B$",
                             static_cast<double>(reinterpret_cast<uintptr_t>(second)));
    DeleteInstruction(pool, &cursor, node, true);
    EXPECT_FALSE(platform::IsLiveBlock(second));
}

// A rebuilt node is what EmitInstruction makes of the same text: an exact
// copy with its terminator, its hash, and a side record only for a namespace.
TEST_F(InstructionTest, AppendedNodesMatchEmittedOnes) {
    struct Case {
        const char* bytes;  // the first length bytes are the text
        size_t length;
        uint32_t namespaceHash;
    };
    const Case cases[] = {{"X$ and more", 2, 0}, {"", 0, 0}, {"NAME$", 5, 4321}, {nullptr, 0, 0}, {nullptr, 0, 9}};
    for (const Case& c : cases) {
        CurrentNamespaceHash = c.namespaceHash;
        const std::string text = c.bytes ? std::string(c.bytes, c.length) : std::string();
        Instruction* emitted = Emit(Opcode::PUSHVAR, Handle_PUSHVAR, c.bytes ? text.c_str() : nullptr, 2.5);
        Instruction* appended =
            AppendInstruction(pool, cursor, Handle_PUSHVAR, c.bytes, c.length, 2.5,
                              static_cast<uint32_t>(Opcode::PUSHVAR), c.namespaceHash);
        ASSERT_NE(appended, nullptr);
        EXPECT_EQ(emitted->next, appended);
        EXPECT_EQ(appended->previous, emitted);
        cursor = appended;
        EXPECT_EQ(appended->opcode, emitted->opcode);
        EXPECT_EQ(appended->handler, emitted->handler);
        EXPECT_EQ(appended->operand, emitted->operand);
        EXPECT_EQ(appended->textHash, emitted->textHash) << text;
        if (c.bytes) {
            ASSERT_NE(appended->text, nullptr);
            EXPECT_STREQ(appended->text, text.c_str());
            EXPECT_EQ(platform::GetBlockSize(appended->text), c.length + 1);
        } else {
            EXPECT_EQ(appended->text, nullptr);
        }
        EXPECT_EQ(appended->extra != nullptr, c.namespaceHash != 0);
        EXPECT_EQ(emitted->extra != nullptr, c.namespaceHash != 0);
        if (appended->extra) {
            EXPECT_EQ(appended->extra->namespaceHash, c.namespaceHash);
        }
    }
}

TEST_F(InstructionTest, FreeingAChainsTextsFreesEveryTextBeforeItsEnd) {
    char* second = static_cast<char*>(platform::AllocateBlock(4));
    std::strcpy(second, "A$");
    Instruction* pair = Emit(Opcode::PUSHVARVAR, Handle_PUSHVARVAR, "B$",
                             static_cast<double>(reinterpret_cast<uintptr_t>(second)));
    char* pairText = pair->text;
    Instruction* named = Emit(Opcode::PUSHVAR, Handle_PUSHVAR, "C$");
    char* namedText = named->text;
    char* firstText = first->text;
    Instruction* after = Emit(Opcode::PUSHVAR, Handle_PUSHVAR, "D$");
    FreeChainTexts(named);
    for (const char* text : {second, pairText, namedText, firstText}) EXPECT_FALSE(platform::IsLiveBlock(text));
    EXPECT_TRUE(platform::IsLiveBlock(after->text)) << "a node past the chain's end keeps its text";
    // The pool takes the nodes; only the last one's text is left to free.
    platform::FreeBlock(after->text);
    cursor = nullptr;
}

TEST_F(InstructionTest, ListingLinesShowNamesFusedStepsAndOperands) {
    Instruction* push = Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 2.5);
    EXPECT_THAT(Listing(push), MatchesRegex("0x[0-9a-f]+\\|   PUSHINT              2\\.5"));
    const std::string forty(40, 'x');
    Instruction* text = Emit(Opcode::PUSHSTR, Handle_PUSHSTR, forty.c_str());
    EXPECT_THAT(Listing(text), MatchesRegex(".*PUSHSTR +\"x{29}\""));
    Instruction* fused = Emit(Opcode::PUSHVAR, Builtin___savesp, "N$");
    fused->secondHandler = Handle_PUSHVAR;
    EXPECT_THAT(Listing(fused), MatchesRegex(".*PUSHVAR +\\(savesp\\) N\\$"));
    // "=4" lists the target's name, then the quoted constant held by the operand.
    char* constant = static_cast<char*>(platform::AllocateBlock(6));
    std::strcpy(constant, "hello");
    Instruction* assign = Emit(Opcode::ASSIGN4, Handle_ASSIGN4, "A$",
                               static_cast<double>(reinterpret_cast<uintptr_t>(constant)));
    EXPECT_THAT(Listing(assign), MatchesRegex(".* A\\$, \"hello\""));
    Instruction* branch = Emit(Opcode::BRANCH, Handle_BRANCH, nullptr, 0, push);
    char expected[64];
    std::snprintf(expected, sizeof expected, ".*BRANCH +0x%lx", reinterpret_cast<unsigned long>(push->next));
    EXPECT_THAT(Listing(branch), MatchesRegex(expected));
}

void SomeBuiltin() {}

TEST_F(InstructionTest, InternalCallIsNamedByItsBuiltin) {
    ASSERT_GE(RegisterFunction("somebuiltin", SomeBuiltin), 0);
    Instruction* call = Emit(Opcode::INTERNALCALL, SomeBuiltin);
    EXPECT_STREQ(InstructionName(call), "SOMEBUILTIN");
    Instruction* unknown = Emit(Opcode::INTERNALCALL, NopHandler);
    EXPECT_EQ(InstructionName(unknown), nullptr);
    Instruction* branch = Emit(Opcode::BRANCH, Handle_BRANCH);
    EXPECT_STREQ(InstructionName(branch), "BRANCH");
}

}  // namespace
}  // namespace qob
