// tests/runtime/vm/value_stack_test.cpp
// Cells, pops, argument frames, the unwinders and the stack built-ins.

#include "runtime/vm/value_stack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/vm/push_instructions.h"
#include "vm_fixture.h"

namespace qob::testing {
namespace {

class ValueStackTest : public VmTest {
protected:
    int32_t Depth() const { return CountStackEntries(context->stackTop); }
    // Runs a handler as the current instruction with the given number operand.
    void RunStep(Handler handler, double operand = 0.0) {
        Instruction* node = Emit(Opcode::None, handler, nullptr, operand);
        CurrentInstruction = node;
        handler();
    }
    // Inside a TRY of the context: errors land in ERROR%.
    void EnterTry() {
        TryStack.entries[0] = {nullptr, nullptr, context, 0, context->stackTop, 0};
        TryStack.depth = 1;
    }
};

TEST_F(ValueStackTest, PopIntegerPrefersValueThenExtraThenTextAddress) {
    const char* text = "123";
    PushValue(text, 0.0, nullptr, 0);
    EXPECT_EQ(PopInteger(), static_cast<int32_t>(reinterpret_cast<uintptr_t>(text)));
    PushValue(nullptr, 0.0, nullptr, 7);
    EXPECT_EQ(PopInteger(), 7);
    PushValue(nullptr, -2.7, nullptr, 7);
    EXPECT_EQ(PopInteger(), -2);
}

TEST_F(ValueStackTest, PushesReuseCellsAboveTheTop) {
    PushNumber(1);
    StackEntry* first = context->stackTop;
    PopStackEntry();
    PushNumber(2);
    EXPECT_EQ(context->stackTop, first);
    EXPECT_EQ(context->stackTop->value, 2);
}

TEST_F(ValueStackTest, DropFunctionStackKeepsExactlyKeepCells) {
    struct Case { int pushed, keep, left; double topValue; };
    const Case cases[] = {{0, 1, 1, 0.0}, {3, 1, 1, 1.0}, {3, 3, 3, 3.0}, {2, 0, 0, 0.0}, {1, 2, 1, 1.0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(OpenArgumentFrame(context));
        for (int i = 1; i <= c.pushed; ++i) PushNumber(i);
        DropFunctionStack(c.keep);
        EXPECT_EQ(Depth(), 1 + c.left) << c.pushed << " keep " << c.keep;
        if (c.left) {
            EXPECT_EQ(context->stackTop->value, c.topValue) << c.pushed << " keep " << c.keep;
        }
        while (Depth() > 1) PopStackEntry();
        EXPECT_EQ(context->argumentFrame.count, 0);
    }
}

TEST_F(ValueStackTest, DropAllFunctionStackPopsOnlyWhenEnoughCells) {
    struct Case { int pushed; double n; int left; };
    const Case cases[] = {{2, 3, 2}, {3, 3, 0}, {3, 1, 2}, {2, 0, 2}};
    for (const Case& c : cases) {
        ASSERT_TRUE(OpenArgumentFrame(context));
        for (int i = 1; i <= c.pushed; ++i) PushNumber(i);
        RunStep(Builtin___dropallfctstack, c.n);
        EXPECT_EQ(Depth(), 1 + c.left) << c.pushed << " n " << c.n;
        while (Depth() > 1) PopStackEntry();
    }
}

TEST_F(ValueStackTest, SaveSp2OpensTwoFramesAtOneTop) {
    PushNumber(1);
    RunStep(Builtin___savesp2);
    ASSERT_EQ(context->argumentFrame.count, 2);
    EXPECT_EQ(context->argumentFrame.slots[0], context->argumentFrame.slots[1]);
    PushNumber(2);
    EXPECT_EQ(CloseArgumentFrame(context), CloseArgumentFrame(context));
}

TEST_F(ValueStackTest, CountstackCountsTheBottomCell) {
    Global("C$");
    PushVar("C$");
    CurrentInstruction = cursor;
    Handle_PUSHVAR();
    RunStep(Builtin_countstack);
    EXPECT_EQ(NumberOf("C$"), 1);
    PushNumber(5);
    PushNumber(6);
    PushValue("C$", 0.0, nullptr);  // by name
    RunStep(Builtin_countstack);
    EXPECT_EQ(NumberOf("C$"), 3);
}

TEST_F(ValueStackTest, PoppingTheBottomCellYieldsAnEmptyValueAndKeepsTheStack) {
    StackEntry* bottom = context->stackTop;
    RunStep(Builtin_dropstack);
    RunStep(Builtin_dropstack);
    EXPECT_EQ(context->stackTop, bottom);
    StackEntry* empty = PopStackEntry();
    EXPECT_EQ(empty->value, 0.0);
    EXPECT_EQ(empty->text, nullptr);
    PushNumber(4);
    EXPECT_EQ(context->stackTop->below, bottom);
    EXPECT_EQ(context->stackTop->value, 4);
}

TEST_F(ValueStackTest, PullWithMoreVariablesThanValuesAssignsEmptyValues) {
    for (const char* name : {"A$", "B$", "C$"}) Global(name)->value = 9;
    PushNumber(1);
    ASSERT_TRUE(OpenArgumentFrame(context));
    for (const char* name : {"A$", "B$", "C$"}) {
        CurrentInstruction = PushVar(name);
        Handle_PUSHVAR();
    }
    RunStep(Builtin_pull);
    EXPECT_EQ(NumberOf("A$"), 1);
    EXPECT_EQ(NumberOf("B$"), 0);
    EXPECT_EQ(NumberOf("C$"), 0);
    EXPECT_EQ(Depth(), 1);
    PushNumber(8);
    EXPECT_EQ(Depth(), 2);
}

TEST_F(ValueStackTest, PushThenPullReversesTheOrder) {
    for (const char* name : {"A$", "B$", "C$"}) Global(name);
    ASSERT_TRUE(OpenArgumentFrame(context));
    for (double value : {1.0, 2.0, 3.0}) PushNumber(value);
    RunStep(Builtin_push);
    ASSERT_TRUE(OpenArgumentFrame(context));
    for (const char* name : {"A$", "B$", "C$"}) {
        CurrentInstruction = PushVar(name);
        Handle_PUSHVAR();
    }
    RunStep(Builtin_pull);
    EXPECT_EQ(NumberOf("A$"), 3);
    EXPECT_EQ(NumberOf("B$"), 2);
    EXPECT_EQ(NumberOf("C$"), 1);
}

TEST_F(ValueStackTest, ClearstackResetsOpenFramesAndKeepsCells) {
    PushNumber(1);
    ASSERT_TRUE(OpenArgumentFrame(context));
    PushNumber(2);
    PushNumber(3);
    StackEntry* highest = context->stackTop;
    RunStep(Builtin_clearstack);
    EXPECT_EQ(Depth(), 1);
    EXPECT_EQ(context->argumentFrame.slots[0], context->stackTop) << "the open frame's saved top is the bottom";
    PushNumber(7);
    PushNumber(8);
    PushNumber(9);
    EXPECT_EQ(context->stackTop, highest) << "cells are kept and reused";
    DropFunctionStack(1);
    EXPECT_EQ(Depth(), 2);
    EXPECT_EQ(context->stackTop->value, 7);
}

TEST_F(ValueStackTest, DupstackKeepsWideAndMatrixFlagsAndDropsByReference) {
    PushValue("x", 0.0, nullptr);
    context->stackTop->flags = kEntryByReference | kEntryWide | kEntryMatrix;
    RunStep(Builtin_dupstack);
    EXPECT_EQ(context->stackTop->flags, kEntryWide | kEntryMatrix);
    EXPECT_STREQ(context->stackTop->text, "x");
}

// A cell's owned links are freed once when it is dropped; reusing the cell
// must not free them again (AddressSanitizer reports a second free).
TEST_F(ValueStackTest, OwnedLinksAreFreedOnceAndClearedOnReuse) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(OpenArgumentFrame(context));
        for (int i = 0; i < 3; ++i) {
            PushNumber(i);
            PushMemoryLink(&context->stackTop->ownedLinks, platform::AllocateBlock(16), nullptr, 0);
        }
        if (round == 0) RunStep(Builtin___dropallfctstack, 3);
        else if (round == 1) DropFunctionStack(0);
        else {
            CloseArgumentFrame(context);
            for (int i = 0; i < 3; ++i) RunStep(Builtin_dropstack);
        }
        EXPECT_EQ(Depth(), 1);
        for (StackEntry* cell = context->stackTop->above; cell; cell = cell->above)
            EXPECT_EQ(cell->ownedLinks, nullptr);
        PushNumber(1);
        PushNumber(2);
        PushNumber(3);
        while (Depth() > 1) RunStep(Builtin_dropstack);
    }
}

TEST_F(ValueStackTest, ArgumentFrameLimitRaisesInsteadOfWriting) {
    EnterTry();
    for (int i = 0; i < kMaxArgumentFrames; ++i) ASSERT_TRUE(OpenArgumentFrame(context));
    EXPECT_FALSE(OpenArgumentFrame(context));
    EXPECT_EQ(context->argumentFrame.count, kMaxArgumentFrames);
    EXPECT_NE(ErrorText().find("argument frames exhausted"), std::string::npos);
    context->argumentFrame.count = 0;
}

TEST_F(ValueStackTest, NparmsMakesArgsAListInPushOrderWithCopiedTexts) {
    char text[] = "two";
    ASSERT_TRUE(OpenArgumentFrame(context));
    PushNumber(1);
    PushValue(text, 0.0, nullptr);
    PushNumber(3);
    RunStep(Handle_NPARMS);
    EXPECT_EQ(Depth(), 1);
    VariableRecord* args = FindVariable("ARGS$", 0);
    ASSERT_NE(args, nullptr);
    ASSERT_TRUE(args->flags & kVarList);
    ListNode* node = ListFirst(args->currentNode);
    ASSERT_EQ(ListCount(node), 3u);
    EXPECT_EQ(node->value, 1);
    ASSERT_NE(node->next->data, nullptr);
    EXPECT_STREQ(node->next->data, "two");
    EXPECT_NE(node->next->data, text) << "the text is copied";
    EXPECT_EQ(node->next->next->value, 3);
}

TEST_F(ValueStackTest, StackEntryStringFormatsNumbersIntoTrackedBlocks) {
    PushNumber(2.5);
    const char* text = StackEntryString(context->stackTop);
    EXPECT_STREQ(text, "2.5");
    EXPECT_EQ(context->tracking ? context->tracking->object : nullptr, text);
    PushValue("abc", 0.0, nullptr);
    EXPECT_STREQ(StackEntryString(context->stackTop), "abc");
    EXPECT_EQ(StackEntryNumber(context->stackTop), 0.0);
    PushValue("42", 0.0, nullptr);
    EXPECT_EQ(StackEntryNumber(context->stackTop), 42.0);
}

// --- NPARMS in running programs --------------------------------------------------------

// Pushes X$ itself, passed by reference.
void PushXByReference() {
    StackEntry* cell = PushStackEntry(CurrentContext, true);
    cell->value = 0.0;
    cell->text = nullptr;
    cell->variable = FindVariable("X$", 0);
    cell->extra = 0;
    cell->flags = kEntryByReference;
}

void SetXTo7() { SetVariableValue(FindVariable("X$", 0), nullptr, 7, nullptr, 0); }

// V(...): ARGS$ from the arguments; reads the first one (X$ was set to 7 in
// the meantime), then assigns 42 to it.
TEST_F(ValueStackTest, ByReferenceArgumentsReachTheirVariable) {
    VariableRecord* x = Global("X$");
    x->value = 1;
    Instruction* variadic = StartProc("V", false);
    Emit(Opcode::NPARMS, Handle_NPARMS);
    Call(SetXTo7);
    PushVar("ARGS$");
    Call(RecordTop);
    PushInt(42);
    Assign("ARGS$");
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    Emit(Opcode::SAVESP, Builtin___savesp);
    Call(PushXByReference);
    PushInt(5);
    Emit(Opcode::CALL, RunProcedure, "V", 0.0, variadic);
    PushVar("X$");
    Call(RecordTop);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{7, 42}));
    EXPECT_EQ(Depth(), 1);
}

struct SeenArguments {
    uint32_t flags = 0;
    std::string text;
    const void* data = nullptr;
    const void* block = nullptr;  // the text block of the second cell
    std::string registeredFile;
    uint32_t registeredLine = 0;
} gSeen;

std::string MatrixText(const MatrixCell* cells) {
    std::string out(MatrixToStringCount(cells), '\0');
    char* end = MatrixToString(cells, out.data(), true);
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

void InspectArguments() {
    VariableRecord* args = FindVariable("ARGS$", 0);
    gSeen.flags = args->flags;
    gSeen.data = args->data;
    if (args->flags & kVarMatrix) {
        const auto* cells = reinterpret_cast<const MatrixCell*>(args->data);
        gSeen.text = MatrixText(cells);
        gSeen.block = CellPointer(&cells[1]);
    } else if (args->data) {
        gSeen.text = args->data;
    }
    if (const MemoryBlockRecord* record = GetNewestMemoryBlock()) {
        gSeen.registeredFile = record->block == args->data ? record->sourceName : "";
        gSeen.registeredLine = record->line;
    }
}

TEST_F(ValueStackTest, MatrixArgumentIsCopiedAsAMatrix) {
    VariableRecord* matrix = Global("M$");
    {
        MemoryLink* links = nullptr;
        const char* p = "[1,{ab},[3,4]]";
        const uint32_t count = StringToMatrixCount(&p);
        auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
        StringToMatrix(&p, cells, &links);
        SetMatrixValue(matrix, cells);
        FreeMatrix(cells, &links);
        FreeLinkChain(links);
    }
    const auto* source = reinterpret_cast<const MatrixCell*>(matrix->data);
    Instruction* variadic = StartProc("V", false);
    Emit(Opcode::NPARMS, Handle_NPARMS);
    Call(InspectArguments);
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("M$");
    Emit(Opcode::CALL, RunProcedure, "V", 0.0, variadic);
    EndProc();
    gSeen = {};
    const int64_t live = LiveValueBlocks();
    RunMain(main);
    EXPECT_EQ(gSeen.flags & (kVarMatrix | kVarOwnsData), kVarMatrix | kVarOwnsData);
    EXPECT_EQ(gSeen.text, "[1,{ab},[3,4]]");
    EXPECT_NE(gSeen.data, matrix->data);
    EXPECT_NE(gSeen.block, CellPointer(&source[1])) << "the text inside is copied too";
    EXPECT_EQ(LiveValueBlocks(), live) << "the copy goes with ARGS$";
    EXPECT_EQ(MatrixText(source), "[1,{ab},[3,4]]");
}

TEST_F(ValueStackTest, CopiedArgumentsAreRegisteredWhereNparmsStands) {
    Instruction* variadic = StartProc("V", false);
    cursor = EmitInstruction(cursor, Handle_NPARMS, nullptr, 0, nullptr, static_cast<uint32_t>(Opcode::NPARMS),
                             "args.qob", 12, 3);
    Call(InspectArguments);
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    Emit(Opcode::SAVESP, Builtin___savesp);
    Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "hello");
    Emit(Opcode::CALL, RunProcedure, "V", 0.0, variadic);
    EndProc();
    gSeen = {};
    MemoryTracking = true;
    RunMain(main);
    const MemoryBlockRecord* newest = GetNewestMemoryBlock();
    MemoryTracking = false;
    EXPECT_EQ(gSeen.text, "hello");
    EXPECT_EQ(gSeen.registeredFile, "args.qob");
    EXPECT_EQ(gSeen.registeredLine, 12u);
    EXPECT_TRUE(newest == nullptr || newest->block != gSeen.data) << "unregistered when ARGS$ went";
}

}  // namespace
}  // namespace qob::testing
