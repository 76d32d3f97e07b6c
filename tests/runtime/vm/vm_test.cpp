// tests/runtime/vm/vm_test.cpp
// Hand-built programs through RunProcedure: calls and recursion, loops, CASE,
// BREAK and CONTINUE, TRY with errors and faults, EXIT, and the depths a run
// must leave as it found them however it ends.

#include "runtime/vm/vm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "platform/memory.h"
#include "platform/message_box.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/pool.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/declarations.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "vm_fixture.h"

namespace qob::testing {
namespace {

using ::testing::HasSubstr;

// The CALL handler compiled programs run, which takes the common call on in
// the running loop, and the one that always runs a nested loop: a program
// must behave the same under both.
struct CallWay {
    const char* name;
    Handler handler;
};
const CallWay kCallWays[] = {{"nested loop", RunProcedure}, {"in place", Handle_CALL}};

// Empties ERROR% (when an error made it), so that a check of the next run
// sees only what that run reported.
void ClearErrorText(ProgramContext* context) {
    if (VariableRecord* error = ConstantList ? FindNamedItem(ConstantList, "ERROR%") : nullptr)
        ReleaseVariable(context, error, false, false);
}


class VmRunTest : public VmTest {
protected:
    // A function of one parameter N$ computing rec(N$) = N$ < 2 ? base : N$ op rec(N$ - 1)
    // (op = multiply: factorial), or fib(N$ - 1) + fib(N$ - 2) when twoCalls.
    Instruction* RecursiveFunction(const char* name, bool twoCalls, Handler call = RunProcedure) {
        Instruction* start = StartProc(name, true);
        Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "N$");
        PushVar("N$");
        PushInt(2);
        Call(TestLess);
        Instruction* test = Emit(Opcode::IF, ConditionalJumpHandler);
        Emit(Opcode::SAVESP, Builtin___savesp);
        if (twoCalls) PushVar("N$");
        else PushInt(1);
        Instruction* early = Emit(Opcode::RETURN, Handle_RETURN);
        Target(test, early);
        Emit(Opcode::SAVESP, Builtin___savesp);
        if (twoCalls) {
            for (double minus : {1.0, 2.0}) {
                Emit(Opcode::SAVESP, Builtin___savesp);
                PushVar("N$");
                PushInt(minus);
                Call(TestSubtract);
                Emit(Opcode::CALL, call, name, 0.0, start);
                Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, 1.0);
            }
            Call(TestAdd);
        } else {
            PushVar("N$");
            Emit(Opcode::SAVESP, Builtin___savesp);
            PushVar("N$");
            PushInt(1);
            Call(TestSubtract);
            Emit(Opcode::CALL, call, name, 0.0, start);
            Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, 1.0);
            Call(TestMultiply);
        }
        Emit(Opcode::RETURN, Handle_RETURN);
        EndProc();
        return start;
    }
};

TEST_F(VmRunTest, FactorialAndFibonacciRecurse) {
    for (const CallWay& way : kCallWays) {
        SCOPED_TRACE(way.name);
        Instruction* factorial = RecursiveFunction("FACT(1,1)", false, way.handler);
        Instruction* fibonacci = RecursiveFunction("FIB(1,1)", true, way.handler);
        struct Case { Instruction* procedure; double argument, expected; };
        // Each procedure's first run makes its frames; the runs after take them from the cache.
        const Case cases[] = {{factorial, 1, 1}, {factorial, 5, 120}, {factorial, 10, 3628800}, {factorial, 10, 3628800},
                              {fibonacci, 1, 1}, {fibonacci, 2, 1},   {fibonacci, 15, 610},     {fibonacci, 15, 610}};
        for (const Case& c : cases) {
            EXPECT_EQ(CallFunction(c.procedure, {c.argument}), c.expected) << c.argument;
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(context->argumentFrame.count, 0);
            EXPECT_EQ(RunNesting(), 0);
            EXPECT_EQ(CountStackEntries(context->stackTop), 1) << "the stack is back to its bottom cell";
        }
    }
}

// A node whose cache names another call's frame looks again in the running
// frame, whose own parameter hides a global of the same name.
TEST_F(VmRunTest, RecursiveCallsReadTheirOwnParameterBeforeAGlobal) {
    Global("N$")->value = 100;
    Instruction* fibonacci = RecursiveFunction("FIB(1,1)", true);
    Instruction* factorial = RecursiveFunction("FACT(1,1)", false);
    EXPECT_EQ(CallFunction(fibonacci, {12}), 144);
    EXPECT_EQ(CallFunction(factorial, {7}), 5040);
    EXPECT_EQ(NumberOf("N$"), 100);
}

TEST_F(VmRunTest, RecursionReusesCachedFrames) {
    for (const CallWay& way : kCallWays) {
        SCOPED_TRACE(way.name);
        Instruction* factorial = RecursiveFunction(way.handler == RunProcedure ? "FACT(1,1)" : "FACT2(1,1)", false,
                                                   way.handler);
        const auto countFrames = [&] {
            int frames = 0;
            for (FrameCacheRecord* r = context->frameCache; r; r = r->next) {
                if (r->procedure != factorial) continue;
                ++frames;
                EXPECT_EQ(r->inUse, 0);
            }
            return frames;
        };
        EXPECT_EQ(CallFunction(factorial, {6}), 720);
        EXPECT_EQ(countFrames(), 6) << "one frame per active call";
        EXPECT_EQ(CallFunction(factorial, {6}), 720);
        EXPECT_EQ(countFrames(), 6) << "a second run takes its frames from the cache";
    }
}

// What a function's call site keeps of its results (the DROPFCTSTACK after
// the CALL), taken the same way whichever way the call runs: every value
// left on the stack, top first, then the number of open argument frames,
// recorded by a node that runs after it.
void RecordStackAndFrames() {
    ProgramContext* context = CurrentContext;
    while (context->stackTop->below) Recorded.push_back(PopNumber());
    Recorded.push_back(context->argumentFrame.count);
}

TEST_F(VmTest, CallSiteKeepsAFunctionsResultsAlikeInPlaceAndNested) {
    struct Case {
        int results;      // values the function returns
        double keep;      // what the call site's DROPFCTSTACK keeps
        bool textResult;  // the last result is a text (RETURN copies it)
        bool exits;       // the function runs EXIT before it returns
    };
    const Case cases[] = {{1, 1.0, false, false}, {1, 0.0, false, false}, {1, 2.0, false, false},
                          {2, 1.0, false, false}, {2, 2.0, false, false}, {0, 1.0, false, false},
                          {1, 1.0, true, false},  {1, 1.0, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.results << " result(s), keep " << c.keep
                                          << (c.textResult ? ", text" : "") << (c.exits ? ", EXIT" : ""));
        std::vector<double> seen[2];
        for (int way = 0; way < 2; ++way) {
            const std::string name = "GIVE" + std::to_string(way) + "(0,1)";
            Instruction* give = StartProc(name.c_str(), true);
            if (c.exits) Call(Builtin_EXIT);
            Emit(Opcode::SAVESP, Builtin___savesp);
            for (int i = 0; i < c.results; ++i)
                if (c.textResult && i == c.results - 1) Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "9");
                else PushInt(7 + i);
            Emit(Opcode::RETURN, Handle_RETURN);
            EndProc();
            Instruction* main = StartProc("MAIN", false);
            PushInt(100);
            Emit(Opcode::SAVESP, Builtin___savesp);
            Emit(Opcode::CALL, kCallWays[way].handler, name.c_str(), 0.0, give);
            Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, c.keep);
            Call(RecordStackAndFrames);
            EndProc();
            // The second run takes the function's frame from the cache, which a
            // call in place needs.
            for (int run = 0; run < 2; ++run) {
                Recorded.clear();
                RunMain(main);
                EndingContext = nullptr;
                context->endPending = 0;
                StopFlag = false;
                while (context->stackTop->below) PopNumber();
                context->argumentFrame.count = 0;
            }
            seen[way] = Recorded;
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(RunNesting(), 0);
        }
        EXPECT_EQ(seen[0], seen[1]) << "nested loop and in place differ";
        if (c.exits) EXPECT_TRUE(seen[1].empty()) << "EXIT stops the caller before the next node";
        if (c.results == 1 && c.keep == 1.0 && !c.exits)
            EXPECT_EQ(seen[1], (std::vector<double>{c.textResult ? 9.0 : 7.0, 100.0, 0.0}));
    }
}

// FOR I$ = start TO end [STEP step]: records I$ each pass.
class ForLoopTest : public VmTest {
protected:
    Instruction* ForProgram(double start, double end, const double* step) {
        Global("I$");
        Instruction* main = StartProc("MAIN", false);
        Instruction* init = Emit(Opcode::INITFOR, Handle_INITFOR);
        Emit(Opcode::SAVESP, Builtin___savesp);
        PushVar("I$");
        PushInt(start);
        PushInt(end);
        if (step) PushInt(*step);
        Instruction* test = Emit(Opcode::FOR, Handle_FOR);
        PushVar("I$");
        Call(RecordTop);
        Instruction* back = Branch(init);
        Target(test, back);
        Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
        EndProc();
        return main;
    }
};

TEST_F(ForLoopTest, CountsUpAndDownWithAndWithoutStep) {
    struct Case { double start, end; bool hasStep; double step; std::vector<double> expected; };
    const Case cases[] = {
        {1, 5, false, 0, {1, 2, 3, 4, 5}},
        {5, 1, false, 0, {5, 4, 3, 2, 1}},
        {1, 10, true, 3, {1, 4, 7, 10}},
        {10, 1, true, -4, {10, 6, 2}},
        {1, 5, true, 0, {}},
        {3, 3, false, 0, {3}},
    };
    for (const Case& c : cases) {
        Recorded.clear();
        RunMain(ForProgram(c.start, c.end, c.hasStep ? &c.step : nullptr));
        EXPECT_EQ(Recorded, c.expected) << c.start << ".." << c.end << " step " << c.step;
        EXPECT_EQ(context->callDepth, 0);
        EXPECT_EQ(context->loopActivationCount, 0);
    }
}

// The end expression calls a function whose own FOR runs first: the outer
// loop must still start at its start value on its first pass.
TEST_F(ForLoopTest, FunctionWithItsOwnLoopInTheEndExpressionLeavesTheOuterFirstPass) {
    Global("I$");
    Global("J$");
    Instruction* inner = StartProc("THREE(0,1)", true);
    Instruction* innerInit = Emit(Opcode::INITFOR, Handle_INITFOR);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("J$");
    PushInt(1);
    PushInt(2);
    Instruction* innerTest = Emit(Opcode::FOR, Handle_FOR);
    Instruction* innerBack = Branch(innerInit);
    Target(innerTest, innerBack);
    Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(3);
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();

    Instruction* main = StartProc("MAIN", false);
    Instruction* init = Emit(Opcode::INITFOR, Handle_INITFOR);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("I$");
    PushInt(1);
    Emit(Opcode::SAVESP, Builtin___savesp);
    Emit(Opcode::CALL, RunProcedure, "THREE(0,1)", 0.0, inner);
    Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, 1.0);
    Instruction* test = Emit(Opcode::FOR, Handle_FOR);
    PushVar("I$");
    Call(RecordTop);
    Instruction* back = Branch(init);
    Target(test, back);
    Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    EndProc();

    Global("I$")->value = 40;  // a loop that skipped its start would go on from here
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{1, 2, 3}));
}

TEST_F(VmTest, ForeachWalksAListBothWays) {
    VariableRecord* list = Global("L$");
    Global("X$");
    ListNode* last = nullptr;
    for (double value : {10.0, 20.0, 30.0}) {
        last = ListAppend(last);
        last->value = value;
        StampListNode(last);
    }
    list->flags |= kVarList;
    list->currentNode = ListFirst(last);
    LoadListElement(list);
    for (double direction : {0.0, 1.0}) {
        Recorded.clear();
        Instruction* main = StartProc("MAIN", false);
        Instruction* init = Emit(Opcode::INITFOREACH, Handle_INITFOREACH);
        Emit(Opcode::SAVESP, Builtin___savesp);
        PushVar("L$");
        PushVar("X$");
        Instruction* test = Emit(Opcode::FOREACH, Handle_FOREACH, nullptr, direction);
        PushVar("X$");
        Call(RecordTop);
        Instruction* back = Branch(init);
        Target(test, back);
        Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
        EndProc();
        RunMain(main);
        const std::vector<double> expected =
            direction == 0.0 ? std::vector<double>{10, 20, 30} : std::vector<double>{30, 20, 10};
        EXPECT_EQ(Recorded, expected);
    }
    ListFree(list->currentNode, true);
    list->currentNode = nullptr;
    list->flags = 0;
}

TEST_F(VmTest, ForeachWithoutResultVariableReportsIt) {
    Global("L$");
    TryStack.entries[0] = {nullptr, nullptr, context, 0, context->stackTop, 0};
    TryStack.depth = 1;  // inside a TRY: the report goes to ERROR%
    Instruction* main = StartProc("MAIN", false);
    Instruction* init = Emit(Opcode::INITFOREACH, Handle_INITFOREACH);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("L$");
    Instruction* test = Emit(Opcode::FOREACH, Handle_FOREACH);
    PushInt(1);
    Call(RecordTop);
    Instruction* back = Branch(init);
    Target(test, back);
    Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    EndProc();
    RunMain(main);
    EXPECT_TRUE(Recorded.empty());
    EXPECT_THAT(ErrorText(), HasSubstr("Result variable is missing"));
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

// I$ = 0; WHILE I$ < 10: I$ += 1; IF I$ == 3 CONTINUE; IF I$ == 6 BREAK; record I$.
TEST_F(VmTest, WhileWithContinueAndBreak) {
    Global("I$");
    Instruction* main = StartProc("MAIN", false);
    PushInt(0);
    Assign("I$");
    Instruction* init = Emit(Opcode::INITWHILE, Handle_INITWHILE);
    PushVar("I$");
    PushInt(10);
    Call(TestLess);
    Instruction* test = Emit(Opcode::WHILE, ConditionalJumpHandler);
    PushVar("I$");
    PushInt(1);
    Call(TestAdd);
    Assign("I$");
    PushVar("I$");
    PushInt(3);
    Call(TestEquals);
    Instruction* ifContinue = Emit(Opcode::IF, ConditionalJumpHandler);
    Branch(init);
    Instruction* afterContinue = Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    Target(ifContinue, afterContinue);
    PushVar("I$");
    PushInt(6);
    Call(TestEquals);
    Instruction* ifBreak = Emit(Opcode::IF, ConditionalJumpHandler);
    Instruction* breakJump = Branch(nullptr);
    Instruction* afterBreak = Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    Target(ifBreak, afterBreak);
    PushVar("I$");
    Call(RecordTop);
    Instruction* back = Branch(init);
    Target(test, back);
    Target(breakJump, back);
    Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{1, 2, 4, 5}));
    EXPECT_EQ(NumberOf("I$"), 6);
    EXPECT_EQ(context->callDepth, 0);
}

// The machine goes on after the node a handler leaves it at: after the jump's
// target, and after the running node itself when that is the target.
TEST_F(VmTest, RunGoesOnAfterTheNodeAJumpLeavesItAt) {
    Instruction* main = StartProc("MAIN", false);
    PushInt(1);
    Call(RecordTop);
    Instruction* toItself = Branch(nullptr);
    Target(toItself, toItself);
    PushInt(2);
    Call(RecordTop);
    PushInt(4);
    Instruction* forward = Branch(nullptr);
    PushInt(3);
    Call(RecordTop);
    Instruction* landing = PushInt(30);
    Target(forward, landing);
    Call(RecordTop);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{1, 2, 4}));
}

// A built-in that leaves a temporary block to the current depth, as a text
// result does, and records how many temporaries the context holds.
void MakeTemporary() {
    void* block = platform::AllocateBlock(64);
    TrackAllocation(CurrentContext, block, 0, kTrackedBlock);
    Recorded.push_back(CountTrackedAllocations(CurrentContext));
}

// Each pass of a loop frees the temporaries of the pass before: WHILE through
// its closing jump, REPEAT through UNTIL's jump back. A loop of many passes
// then holds one pass's temporaries, not all of them.
TEST_F(VmTest, LoopPassesFreeThePreviousPassTemporaries) {
    for (bool repeat : {false, true}) {
        Recorded.clear();
        Global("I$");
        Instruction* main = StartProc("MAIN", false);
        PushInt(0);
        Assign("I$");
        Instruction* init = Emit(Opcode::INITWHILE, Handle_INITWHILE);
        Instruction* test = nullptr;
        if (!repeat) {
            PushVar("I$");
            PushInt(50);
            Call(TestLess);
            test = Emit(Opcode::WHILE, ConditionalJumpHandler);
        }
        Call(MakeTemporary);
        Call(MakeTemporary);
        PushVar("I$");
        PushInt(1);
        Call(TestAdd);
        Assign("I$");
        if (repeat) {
            PushVar("I$");
            PushInt(50);
            Call(TestEquals);
            Emit(Opcode::UNTIL, ConditionalJumpHandler, nullptr, 0.0, init);
        } else {
            Instruction* back = Branch(init);
            Target(test, back);
        }
        Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
        EndProc();
        const int32_t before = CountTrackedAllocations(context);
        RunMain(main);
        ASSERT_EQ(Recorded.size(), 100u) << repeat;
        EXPECT_LE(*std::max_element(Recorded.begin(), Recorded.end()), before + 2) << repeat;
        EXPECT_EQ(CountTrackedAllocations(context), before) << repeat;
        EXPECT_EQ(context->callDepth, 0);
    }
}

// REPEAT: record I$; I$ += 1; UNTIL I$ == 3.
TEST_F(VmTest, RepeatRunsUntilTheConditionHolds) {
    Global("I$");
    Instruction* main = StartProc("MAIN", false);
    Instruction* init = Emit(Opcode::INITWHILE, Handle_INITWHILE);
    PushVar("I$");
    Call(RecordTop);
    PushVar("I$");
    PushInt(1);
    Call(TestAdd);
    Assign("I$");
    PushVar("I$");
    PushInt(3);
    Call(TestEquals);
    Emit(Opcode::UNTIL, ConditionalJumpHandler, nullptr, 0.0, init);
    Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(context->callDepth, 0);
}

// CASE S$: 1, 2 -> 100; 3, 4, 5 (last value by PUSHINTCASE) -> 300; DEFAULT -> 999.
TEST_F(VmTest, CaseWithSeveralLabelsAndADefault) {
    ASSERT_GE(RegisterFunction("==", TestEquals), 0);
    Global("S$");
    Instruction* main = StartProc("MAIN", false);
    PushVar("S$");
    Emit(Opcode::PULLCASE, Handle_PULLCASE, nullptr, 0.0);
    PushInt(1);
    PushInt(2);
    Instruction* label1 = Emit(Opcode::PUSHCASE, Handle_PUSHCASE, nullptr, 0.0);
    label1->extraWord = 2;
    PushInt(100);
    Call(RecordTop);
    Instruction* end1 = Branch(nullptr);
    Target(label1, end1);
    PushInt(3);
    PushInt(4);
    const double five = 5.0;
    Instruction* label2 = Emit(Opcode::PUSHINTCASE, Handle_PUSHINTCASE, nullptr, 0.0);
    label2->text = static_cast<char*>(platform::AllocateBlock(sizeof five));
    std::memcpy(label2->text, &five, sizeof five);
    label2->extraWord = 3;
    PushInt(300);
    Call(RecordTop);
    Instruction* end2 = Branch(nullptr);
    Target(label2, end2);
    PushInt(999);
    Instruction* last = Call(RecordTop);
    Target(end1, last);
    Target(end2, last);
    EndProc();
    for (double selector : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}) {
        Global("S$")->value = selector;
        RunMain(main);
        EXPECT_EQ(CountStackEntries(context->stackTop), 1) << selector;
    }
    EXPECT_EQ(Recorded, (std::vector<double>{100, 100, 300, 300, 300, 999}));
}

// TRY: raise an error; record 1; EXCEPT record 2; END; record 3.
class TryTest : public VmTest {
protected:
    Instruction* TryProgram(const char* name, Handler failing, Instruction* callee = nullptr,
                            Handler call = RunProcedure) {
        Instruction* main = StartProc(name, false);
        Instruction* tryNode = Emit(Opcode::TRY, Handle_TRY);
        if (callee) Emit(Opcode::CALL, call, "CALLEE", 0.0, callee);
        else Call(failing);
        PushInt(1);
        Call(RecordTop);
        Instruction* skip = Branch(nullptr);
        Target(tryNode, skip);
        PushInt(2);
        Instruction* lastExcept = Call(RecordTop);
        Target(skip, lastExcept);
        Emit(Opcode::EXCEPT, PopTryHandler);
        PushInt(3);
        Call(RecordTop);
        EndProc();
        return main;
    }
};

TEST_F(TryTest, RuntimeErrorInsideTryGoesToErrorAndTheBlockGoesOn) {
    RunMain(TryProgram("MAIN", RaiseTestError));
    EXPECT_EQ(Recorded, (std::vector<double>{1, 3}));
    const std::string error = ErrorText();
    EXPECT_THAT(error, HasSubstr("App: "));
    EXPECT_THAT(error, HasSubstr("Proc: MAIN"));
    EXPECT_THAT(error, HasSubstr("Opcode: "));
    EXPECT_THAT(error, HasSubstr("\n\ntest error"));
    EXPECT_EQ(TryStack.depth, 0);
}

TEST_F(TryTest, HardwareFaultResumesAtExcept) {
    RunMain(TryProgram("MAIN", CauseAccessViolation));
    EXPECT_EQ(Recorded, (std::vector<double>{2, 3}));
    EXPECT_THAT(ErrorText(), HasSubstr("Access violation at 0x"));
    EXPECT_EQ(TryStack.depth, 0);
    EXPECT_EQ(context->callDepth, 0);
}

TEST_F(TryTest, FaultInACalleeResumesAtTheCallersExcept) {
    Instruction* callee = StartProc("CALLEE", false);
    Instruction* init = Emit(Opcode::INITWHILE, Handle_INITWHILE);  // a loop left open by the fault
    (void)init;
    Call(CauseAccessViolation);
    PushInt(7);
    Call(RecordTop);
    EndProc();
    Instruction* main = TryProgram("MAIN", nullptr, callee);
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{2, 3}));
    EXPECT_EQ(TryStack.depth, 0);
    EXPECT_EQ(context->callDepth, 0);
    EXPECT_EQ(RunNesting(), 0);
    EXPECT_FALSE(StopFlag);
}

// A fault two calls deep resumes at the innermost TRY, whichever run it
// belongs to; every run between ends, and the depths, frames and nesting
// come back to where they were.
TEST_F(TryTest, FaultsInNestedCallsReachTheInnermostTry) {
    struct Case {
        const char* name;
        bool tryInMiddle;  // else the TRY is MAIN's
        std::vector<double> recorded;
    };
    const Case cases[] = {
        // MIDDLE's own TRY catches INNER's fault; MIDDLE and MAIN go on.
        {"try in the middle", true, {2, 3, 9}},
        // MAIN's TRY catches it: MIDDLE ends without recording 8.
        {"try in main", false, {2, 3}},
    };
    // Each of the two calls runs in a nested loop or in place, in every mix.
    for (const Case& c : cases)
    for (const CallWay& outerWay : kCallWays)
    for (const CallWay& innerWay : kCallWays) {
        SCOPED_TRACE(std::string(c.name) + ", middle call " + outerWay.name + ", inner call " + innerWay.name);
        Recorded.clear();
        Instruction* inner = StartProc("INNER", false);
        Call(CauseAccessViolation);
        PushInt(7);
        Call(RecordTop);
        EndProc();
        Instruction* middle = nullptr;
        if (c.tryInMiddle) {
            middle = TryProgram("CALLEE", nullptr, inner, innerWay.handler);
        } else {
            middle = StartProc("CALLEE", false);
            Emit(Opcode::CALL, innerWay.handler, "INNER", 0.0, inner);
            PushInt(8);
            Call(RecordTop);
            EndProc();
        }
        Instruction* main = nullptr;
        if (c.tryInMiddle) {
            main = StartProc("MAIN", false);
            Emit(Opcode::CALL, outerWay.handler, "CALLEE", 0.0, middle);
            PushInt(9);
            Call(RecordTop);
            EndProc();
        } else {
            main = TryProgram("MAIN", nullptr, middle, outerWay.handler);
        }
        // The second run's calls take the frames the first one left in the cache.
        for (const char* run : {"first run", "second run"}) {
            SCOPED_TRACE(run);
            Recorded.clear();
            ClearErrorText(context);
            ASSERT_EQ(ErrorText(), "");
            RunMain(main);
            EXPECT_EQ(Recorded, c.recorded);
            EXPECT_THAT(ErrorText(), HasSubstr("Access violation at 0x"));
            EXPECT_EQ(TryStack.depth, 0);
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(context->argumentFrame.count, 0);
            EXPECT_EQ(RunNesting(), 0);
            EXPECT_FALSE(StopFlag);
            EXPECT_EQ(CountStackEntries(context->stackTop), 1);
        }
    }
}

TEST_F(VmTest, ExitInANestedCallStopsEveryRunOfTheContext) {
    for (const CallWay& way : kCallWays) {
        SCOPED_TRACE(way.name);
        Instruction* deepest = StartProc("DEEPEST", false);
        Call(Builtin_EXIT);
        PushInt(1);
        Call(RecordTop);
        EndProc();
        Instruction* middle = StartProc("MIDDLE", false);
        Emit(Opcode::CALL, way.handler, "DEEPEST", 0.0, deepest);
        PushInt(2);
        Call(RecordTop);
        EndProc();
        Instruction* main = StartProc("MAIN", false);
        Emit(Opcode::CALL, way.handler, "MIDDLE", 0.0, middle);
        PushInt(3);
        Call(RecordTop);
        EndProc();
        // The second run's calls take cached frames.
        for (int run = 0; run < 2; ++run) {
            RunMain(main);
            EXPECT_TRUE(Recorded.empty());
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(RunNesting(), 0);
            EndingContext = nullptr;
            context->endPending = 0;
            StopFlag = false;
        }
    }

    // A run of another context ends with the stop flag cleared.
    ProgramContext* other = CreateProgramContext();
    other->kind = kContextIndependent;
    other->quietEnd = 1;
    other->pool = CreatePool(4096);
    CreateBottomStackEntry(other);
    other->globalHead = AllocateVariableRecord(other, false);
    CurrentCompilerPool = other->pool;
    Instruction* first = EmitInstruction(nullptr, NopHandler, "other", 0, nullptr, 0, nullptr, 0, 0);
    other->instructions = first;
    Instruction* start = EmitInstruction(first, NopHandler, "0000OTHER", 0, nullptr, 1, nullptr, 0, 0);
    EmitInstruction(start, Handle_ENDPROC, nullptr, 0, nullptr, 2, nullptr, 0, 0);
    RunProcedureIn(other, start);
    EXPECT_FALSE(StopFlag);
    CurrentCompilerPool = context->pool;
    EndProgramContext(other);
}

// A procedure whose TRY part returns early leaves no stale TRY entry: a later
// error outside TRY is reported, not silenced into ERROR%.
TEST_F(VmTest, ReturnInsideTryLeavesNoStaleEntry) {
    Instruction* leaver = StartProc("LEAVER(0,1)", true);
    Instruction* tryNode = Emit(Opcode::TRY, Handle_TRY);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(5);
    Emit(Opcode::RETURN, Handle_RETURN);
    Instruction* skip = Branch(nullptr);
    Target(tryNode, skip);
    Instruction* except = Emit(Opcode::EXCEPT, PopTryHandler);
    Target(skip, except);
    EndProc();
    EXPECT_EQ(CallFunction(leaver, {}), 5);
    EXPECT_EQ(TryStack.depth, 0);
    EXPECT_FALSE(IsInsideTry(context));
}

// Errors outside TRY: the report goes to the log and the box (standard error
// when headless), and the procedure stops.
class ErrorReportTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        boxOutput = std::tmpfile();
        platform::SetMessageBoxOutput(boxOutput, boxOutput);
        logPath = ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_log.txt";
        OpenDebugLog(logPath.c_str());
    }
    void TearDown() override {
        platform::SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(boxOutput);
        RuntimeLogSwitch = 0;
        std::remove(logPath.c_str());
        VmTest::TearDown();
    }
    static std::string ReadAll(std::FILE* file) {
        std::string text;
        std::rewind(file);
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
        return text;
    }
    std::string LogText() const {
        std::FILE* file = std::fopen(logPath.c_str(), "rb");
        if (!file) return {};
        std::string text = ReadAll(file);
        std::fclose(file);
        return text;
    }
    // Where the next report goes, and what has been written there since.
    long EndOfBox() const {
        std::fseek(boxOutput, 0, SEEK_END);
        return std::ftell(boxOutput);
    }
    std::string BoxSince(long start) const {
        std::string text;
        std::fseek(boxOutput, start, SEEK_SET);
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, boxOutput)) text.append(buffer, n);
        return text;
    }
    std::FILE* boxOutput = nullptr;
    std::string logPath;
};

TEST_F(ErrorReportTest, ErrorOutsideTryIsLoggedShownAndStopsTheProcedure) {
    context->appName = static_cast<char*>(platform::AllocateBlock(8));
    std::strcpy(context->appName, "DEMO");
    Instruction* main = StartProc("MAIN", false);
    cursor = EmitInstruction(cursor, RaiseTestError, nullptr, 0, nullptr, 34, "c:\\progs\\demo.qob", 12, 7);
    PushInt(1);
    Call(RecordTop);
    EndProc();
    RunMain(main);
    EXPECT_TRUE(Recorded.empty()) << "the procedure stops after the error";
    const std::string box = ReadAll(boxOutput);
    EXPECT_THAT(box, HasSubstr("QOB Runtime Error: App: DEMO\nFile:demo.qob\nProc: MAIN\n"));
    EXPECT_THAT(box, HasSubstr("Char/Line/Offset: 7, 12, 0x"));
    EXPECT_THAT(box, HasSubstr("\n\ntest error"));
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("Generated by the QOB interpreter v.1.32.0"));
    EXPECT_THAT(log, HasSubstr(" : ** runtime error ** (demo.qob) test error (12,7)\n"));
    EXPECT_TRUE(ErrorText().empty());
}

TEST_F(ErrorReportTest, FaultOutsideTryEndsOnlyTheFaultingProcedure) {
    for (const CallWay& way : kCallWays) {
        SCOPED_TRACE(way.name);
        Recorded.clear();
        Instruction* faulting = StartProc("FAULTING", false);
        Call(CauseAccessViolation);
        EndProc();
        Instruction* main = StartProc("MAIN", false);
        Emit(Opcode::CALL, way.handler, "FAULTING", 0.0, faulting);
        PushInt(1);
        Call(RecordTop);
        EndProc();
        // The second time with the frame the first call left in the cache.
        for (int run = 1; run <= 2; ++run) {
            const long start = EndOfBox();
            RunMain(main);
            EXPECT_EQ(Recorded.size(), static_cast<size_t>(run)) << "the caller goes on";
            EXPECT_THAT(BoxSince(start), HasSubstr("(FAULTING)\nAccess violation at 0x"));
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(RunNesting(), 0);
        }
    }
}

// A run-time error outside TRY stops the procedure it is raised in; its
// caller goes on.
TEST_F(ErrorReportTest, ErrorInACalledProcedureStopsOnlyThatProcedure) {
    for (const CallWay& way : kCallWays) {
        SCOPED_TRACE(way.name);
        Recorded.clear();
        Instruction* failing = StartProc("FAILING", false);
        Call(RaiseTestError);
        PushInt(7);
        Call(RecordTop);
        EndProc();
        Instruction* main = StartProc("MAIN", false);
        Emit(Opcode::CALL, way.handler, "FAILING", 0.0, failing);
        PushInt(1);
        Call(RecordTop);
        EndProc();
        for (int run = 1; run <= 2; ++run) {
            const long start = EndOfBox();
            RunMain(main);
            EXPECT_EQ(Recorded, std::vector<double>(static_cast<size_t>(run), 1.0));
            EXPECT_THAT(BoxSince(start), HasSubstr("Proc: FAILING\n"));
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(RunNesting(), 0);
        }
    }
}

TEST_F(ErrorReportTest, ErrorWithoutCurrentInstructionHasNoPosition) {
    CurrentInstruction = nullptr;
    RaiseRuntimeError("lonely", 1);
    EXPECT_FALSE(StopFlag) << "continue flag set";
    EXPECT_THAT(ReadAll(boxOutput), HasSubstr("Char/Line/Offset: 0, 0, 0x00000000\n"));
    EXPECT_THAT(LogText(), HasSubstr("** runtime error ** () lonely\n"));
}

TEST_F(TryTest, FaultInsideAnOpenArgumentFrameRestoresFramesAndStack) {
    Instruction* main = StartProc("MAIN", false);
    Instruction* tryNode = Emit(Opcode::TRY, Handle_TRY);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(1);
    PushInt(2);
    Emit(Opcode::INITFOR, Handle_INITFOR);
    Call(CauseAccessViolation);
    Instruction* skip = Branch(nullptr);
    Target(tryNode, skip);
    Call([] { Recorded.push_back(CurrentContext->argumentFrame.count); });
    Call([] { Recorded.push_back(CountStackEntries(CurrentContext->stackTop)); });
    Instruction* last = Call([] { Recorded.push_back(CurrentContext->callDepth); });
    Target(skip, last);
    Emit(Opcode::EXCEPT, PopTryHandler);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{0, 1, 1})) << "frames, stack cells and the run's own depth";
}

TEST_F(VmTest, TryLimitRaisesInsteadOfWriting) {
    StartProc("MAIN", false);
    Instruction* tryNode = Emit(Opcode::TRY, Handle_TRY);
    Target(tryNode, tryNode);
    EndProc();
    TryStack.depth = kMaxTryEntries;
    for (int i = 0; i < kMaxTryEntries; ++i) TryStack.entries[i] = {nullptr, nullptr, context, 0, nullptr, 0};
    CurrentInstruction = tryNode;
    Handle_TRY();
    EXPECT_EQ(TryStack.depth, kMaxTryEntries);
    EXPECT_NE(ErrorText().find("Too many nested TRY blocks"), std::string::npos);
    TryStack.depth = 0;
}

TEST_F(VmTest, ForeachWalksATypedArrayBothWays) {
    VariableRecord* array = Global("A$");
    Global("X$");
    const double values[] = {1.5, 2.5, 3.5};
    array->type = -8;
    array->elementCount = 3;
    array->data = static_cast<char*>(platform::AllocateBlock(sizeof values));
    std::memcpy(array->data, values, sizeof values);
    array->flags |= kVarOwnsData;
    for (double direction : {0.0, 1.0}) {
        Recorded.clear();
        Instruction* main = StartProc("MAIN", false);
        Instruction* init = Emit(Opcode::INITFOREACH, Handle_INITFOREACH);
        Emit(Opcode::SAVESP, Builtin___savesp);
        PushVar("A$");
        PushVar("X$");
        Instruction* test = Emit(Opcode::FOREACH, Handle_FOREACH, nullptr, direction);
        PushVar("X$");
        Call(RecordTop);
        Instruction* back = Branch(init);
        Target(test, back);
        Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
        EndProc();
        RunMain(main);
        const std::vector<double> expected =
            direction == 0.0 ? std::vector<double>{1.5, 2.5, 3.5} : std::vector<double>{3.5, 2.5, 1.5};
        EXPECT_EQ(Recorded, expected);
    }
}

TEST_F(VmTest, PatchPendingJumpTargetsTheSuccessor) {
    Instruction* pending = Emit(Opcode::BRANCH, Handle_BRANCH);
    Instruction* patch = Emit(Opcode::FIRST_OP, PatchPendingJump);
    Instruction* next = PushInt(1);
    PendingJumpNode = pending;
    CurrentInstruction = patch;
    PatchPendingJump();
    EXPECT_EQ(JumpTarget(pending), next);
    EXPECT_EQ(PendingJumpNode, nullptr);
    PatchPendingJump();  // nothing pending: nothing happens
    EXPECT_EQ(JumpTarget(pending), next);
}

TEST_F(VmTest, EntryModesSkipStoredParameterNodes) {
    Global("P$");
    Instruction* procedure = StartProc("P(4,0)", false);
    for (int i = 0; i < 4; ++i) Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "P$");
    PushInt(5);
    Call(RecordTop);
    EndProc();
    EntryMode = 1;
    RunMain(procedure);
    EXPECT_EQ(Recorded, std::vector<double>{5});
    EXPECT_EQ(EntryMode, 0);
    EXPECT_EQ(CountStackEntries(context->stackTop), 1) << "no parameter was popped";
}

// RETURN from inside a loop: the returned copy belongs to the caller's depth,
// not to a depth that ends with the callee.
TEST_F(VmTest, TextReturnedFromInsideALoopOutlivesTheCallee) {
    Global("I$");
    Instruction* text = StartProc("TEXT(0,1)", true);
    Emit(Opcode::INITFOR, Handle_INITFOR);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("I$");
    PushInt(1);
    PushInt(3);
    Emit(Opcode::FOR, Handle_FOR);
    Emit(Opcode::SAVESP, Builtin___savesp);
    Instruction* literal = Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "hello");
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    OpenArgumentFrame(context);
    RunProcedureIn(context, text);
    DropFunctionStack(1);
    const char* result = context->stackTop->text;
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(platform::IsLiveBlock(result));
    EXPECT_STREQ(result, "hello");
    EXPECT_NE(result, literal->text) << "a copy, not the node's text";
    EXPECT_EQ(context->callDepth, 0);
}

TEST_F(VmTest, BreakLeavesAForeachWalk) {
    VariableRecord* list = Global("L$");
    Global("X$");
    ListNode* last = nullptr;
    for (double value : {1.0, 2.0, 3.0, 4.0}) {
        last = ListAppend(last);
        last->value = value;
        StampListNode(last);
    }
    list->flags |= kVarList;
    list->currentNode = ListFirst(last);
    LoadListElement(list);
    Instruction* main = StartProc("MAIN", false);
    Instruction* init = Emit(Opcode::INITFOREACH, Handle_INITFOREACH);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushVar("L$");
    PushVar("X$");
    Instruction* test = Emit(Opcode::FOREACH, Handle_FOREACH);
    PushVar("X$");
    PushInt(3);
    Call(TestEquals);
    Instruction* ifBreak = Emit(Opcode::IF, ConditionalJumpHandler);
    Emit(Opcode::BREAK, Handle_BREAK, nullptr, 0.0, test);
    Instruction* leave = Branch(nullptr);
    Instruction* dead = Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    Target(ifBreak, dead);
    PushVar("X$");
    Call(RecordTop);
    Instruction* back = Branch(init);
    Target(test, back);
    Target(leave, back);
    Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{1, 2}));
    EXPECT_EQ(context->loopActivationCount, 0);
    EXPECT_EQ(context->callDepth, 0);
    ListFree(list->currentNode, true);
    list->currentNode = nullptr;
    list->flags = 0;
}

TEST_F(ErrorReportTest, TryOfAnotherContextDoesNotSilenceAnError) {
    ProgramContext other{};
    TryStack.entries[0] = {nullptr, nullptr, &other, 0, nullptr, 0};
    TryStack.depth = 1;
    EXPECT_FALSE(IsInsideTry(context));
    CurrentInstruction = nullptr;
    RaiseRuntimeError("seen", 1);
    TryStack.depth = 0;
    EXPECT_THAT(ReadAll(boxOutput), HasSubstr("seen"));
    EXPECT_TRUE(ErrorText().empty());
}

// Unbounded recursion is stopped with an error before the native stack runs out.
TEST_F(VmTest, RunawayRecursionIsReportedNotCrashed) {
    TryStack.entries[0] = {nullptr, nullptr, context, 0, context->stackTop, 0};
    TryStack.depth = 1;
    for (const CallWay& way : kCallWays) {
        Instruction* forever = StartProc("FOREVER", false);
        Emit(Opcode::CALL, way.handler, "FOREVER", 0.0, forever);
        EndProc();
        // The second time every call but the deepest takes a cached frame.
        for (const char* run : {"first run", "second run"}) {
            SCOPED_TRACE(std::string(way.name) + ", " + run);
            ClearErrorText(context);
            ASSERT_EQ(ErrorText(), "");
            RunMain(forever);
            EXPECT_THAT(ErrorText(), HasSubstr("Procedure calls nested too deeply"));
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(RunNesting(), 0);
        }
    }
    TryStack.depth = 0;
}

// The limit each thread finds is the one the thread library's bounds of its
// stack give: on the main thread, which finds it without reading the
// process's memory map, with the resource limit the process has and with
// smaller ones (the main thread's stack is bounded by it), and on a thread
// of its own.
TEST(StackLimitTest, EachThreadFindsTheLimitOfItsOwnStack) {
    auto libraryLimit = [] {
        pthread_attr_t attributes;
        void* base = nullptr;
        size_t size = 0;
        EXPECT_EQ(pthread_getattr_np(pthread_self(), &attributes), 0);
        pthread_attr_getstack(&attributes, &base, &size);
        pthread_attr_destroy(&attributes);
        const auto low = reinterpret_cast<uintptr_t>(base);
        return size > 512 * 1024 ? low + 256 * 1024 : low + size / 2;
    };
    char local;
    EXPECT_EQ(FindStackLimit(), libraryLimit());
    EXPECT_LT(FindStackLimit(), reinterpret_cast<uintptr_t>(&local));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
    for (rlim_t bytes : {rlim_t{4} << 20, rlim_t{1} << 20, rlim_t{768} << 10, rlim_t{384} << 10}) {
        if (saved.rlim_max != RLIM_INFINITY && bytes > saved.rlim_max) continue;
        rlimit smaller = saved;
        smaller.rlim_cur = bytes;
        ASSERT_EQ(setrlimit(RLIMIT_STACK, &smaller), 0);
        EXPECT_EQ(FindStackLimit(), libraryLimit()) << bytes;
        ASSERT_EQ(setrlimit(RLIMIT_STACK, &saved), 0);
    }

    uintptr_t threadLimit = 0;
    uintptr_t threadExpected = 0;
    std::thread([&] {
        threadLimit = FindStackLimit();
        threadExpected = libraryLimit();
    }).join();
    EXPECT_EQ(threadLimit, threadExpected);
    EXPECT_GT(threadLimit, 1u);
}

// --- FOREACH over structures, matrices and objects ---------------------------------

std::vector<std::string> gViews;

std::string MatrixText(const MatrixCell* cells) {
    std::string out(MatrixToStringCount(cells), '\0');
    char* end = MatrixToString(cells, out.data(), true);
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

// Records what R$ holds now: a matrix as its text, a text, or a number.
void RecordResultView() {
    VariableRecord* result = FindVariable("R$", 0);
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(result, &text, &value, nullptr);
    if (result->flags & kVarMatrix) gViews.push_back(MatrixText(reinterpret_cast<const MatrixCell*>(text)));
    else if (text) gViews.push_back(text);
    else gViews.push_back(std::to_string(static_cast<int>(value)));
}

// A matrix value built from its text form, owned by the variable.
void GiveMatrix(VariableRecord* variable, const char* text) {
    MemoryLink* links = nullptr;
    const char* p = text;
    const uint32_t count = StringToMatrixCount(&p);
    auto* cells = static_cast<MatrixCell*>(AllocateValueBlock((count + 1) * sizeof(MatrixCell)));
    StringToMatrix(&p, cells, &links);
    SetMatrixValue(variable, cells);
    FreeMatrix(cells, &links);
    FreeLinkChain(links);
}

class ForeachTest : public VmTest {
protected:
    // MAIN: FOREACH R$ IN source (backwards when reverse) with the body the
    // callback emits.
    Instruction* WalkProgram(const char* source, bool reverse, const std::function<void()>& body) {
        Instruction* main = StartProc("MAIN", false);
        Instruction* init = Emit(Opcode::INITFOREACH, Handle_INITFOREACH);
        Emit(Opcode::SAVESP, Builtin___savesp);
        PushVar(source);
        PushVar("R$");
        Instruction* test = Emit(Opcode::FOREACH, Handle_FOREACH, nullptr, reverse ? 1.0 : 0.0);
        body();
        Instruction* back = Branch(init);
        Target(test, back);
        Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
        EndProc();
        return main;
    }
    void SetUp() override {
        VmTest::SetUp();
        gViews.clear();
        Global("R$");
    }
};

// S$: three 8-byte structures, each with S.A$ (-4 at 0) and S.B$ (-4 at 4).
VariableRecord* MakeStructureArray(ProgramContext* context) {
    VariableRecord* array = CreateVariable(context->globalHead, "S$", true);
    array->type = 8;
    array->elementCount = 3;
    array->dimensionCount = 1;
    array->dimensions[0] = 3;
    array->data = static_cast<char*>(AllocateValueBlock(24));
    array->flags = kVarStructure | kVarOwnsData;
    const int32_t fields[] = {1, 10, 2, 20, 3, 30};
    std::memcpy(array->data, fields, sizeof fields);
    const char* names[] = {"S.A$", "S.B$"};
    for (uint32_t i = 0; i < 2; ++i) {
        VariableRecord* member = CreateVariable(context->globalHead, names[i], true);
        member->type = -4;
        member->offset = 4 * i;
        member->parent = array;
        AddMemberDefinition(array, member);
    }
    RebaseStructMembers(array);
    return array;
}

TEST_F(ForeachTest, ArrayOfStructuresGivesMembersPointingIntoEachElement) {
    VariableRecord* array = MakeStructureArray(context);
    for (bool reverse : {false, true}) {
        Recorded.clear();
        Instruction* main = WalkProgram("S$", reverse, [&] {
            PushVar("R.A$");
            Call(RecordTop);
            PushVar("R.B$");
            Call(RecordTop);
            PushVar("R.A$");
            PushInt(100);
            Call(TestAdd);
            Assign("R.A$");  // writes into the element itself
        });
        RunMain(main);
        const std::vector<double> forwards{1, 10, 2, 20, 3, 30};
        const std::vector<double> backwards{103, 30, 102, 20, 101, 10};
        EXPECT_EQ(Recorded, reverse ? backwards : forwards);
    }
    int32_t fields[6];
    std::memcpy(fields, array->data, sizeof fields);
    EXPECT_EQ(std::vector<int32_t>(fields, fields + 6), (std::vector<int32_t>{201, 10, 202, 20, 203, 30}));
    VariableRecord* result = FindVariable("R$", 0);
    EXPECT_EQ(result->flags & kVarOwnsData, 0u) << "the result never owns the array's storage";
}

TEST_F(ForeachTest, MatrixGivesEachCellNestedMatricesWhole) {
    GiveMatrix(Global("M$"), "[1,{ab},[3,4]]");
    for (bool reverse : {false, true}) {
        gViews.clear();
        RunMain(WalkProgram("M$", reverse, [&] { Call(RecordResultView); }));
        const std::vector<std::string> forwards{"1", "ab", "[3,4]"};
        const std::vector<std::string> backwards{"[3,4]", "ab", "1"};
        EXPECT_EQ(gViews, reverse ? backwards : forwards);
    }
    EXPECT_EQ(MatrixText(reinterpret_cast<const MatrixCell*>(FindVariable("M$", 0)->data)), "[1,{ab},[3,4]]");
}

// The body shrinks the walked run's block where it stands to 42 cells (same
// address, so the walk keeps the length of 47 it counted): the walk stops at
// the block's new end instead of reading past it.
constexpr int kShrunkCells = 42;

void ShrinkWalkedBlockOnce() {
    RecordResultView();
    if (gViews.size() != 1) return;
    VariableRecord* matrix = FindVariable("M$", 0);
    EXPECT_EQ(platform::ReallocateBlock(matrix->data, kShrunkCells * sizeof(MatrixCell)), matrix->data);
}

TEST_F(ForeachTest, MatrixWalkStopsAtTheEndOfABlockShrunkInPlace) {
    // 47 numbers and the end cell fill their block's slot to the last byte,
    // so the shrink stays in that slot.
    std::string text = "[";
    for (int i = 1; i <= 47; ++i) text += std::to_string(i) + (i < 47 ? "," : "]");
    GiveMatrix(Global("M$"), text.c_str());
    RunMain(WalkProgram("M$", false, [&] { Call(ShrinkWalkedBlockOnce); }));
    std::vector<std::string> expected;
    for (int i = 1; i <= kShrunkCells; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(gViews, expected);
    // The last cell left becomes the end, so the variable can be freed.
    reinterpret_cast<MatrixCell*>(FindVariable("M$", 0)->data)[kShrunkCells - 1].kind = kCellEnd;
}

TEST_F(ForeachTest, ObjectGivesItsPublicMembersOrAllInsideItsOwnMethods) {
    VariableRecord* head = AllocateVariableRecord(context, false);
    const struct { const char* name; const char* text; double value; bool isPublic; } members[] = {
        {"A$", nullptr, 1, true}, {"B$", "two", 0, true}, {"C$", nullptr, 3, false}};
    for (const auto& m : members) {
        VariableRecord* member = CreateVariable(head, m.name, false);
        SetVariableValue(member, m.text, m.value, nullptr, m.text ? 4 : 0);
        if (m.isPublic) member->flags |= kVarPublic;
    }
    VariableRecord* object = Global("O$");
    object->flags = kVarObject;
    object->value = static_cast<double>(reinterpret_cast<uintptr_t>(head));
    struct Case { bool reverse, insideMethod; std::vector<std::string> expected; };
    const Case cases[] = {
        {false, false, {"1", "two"}},
        {true, false, {"two", "1"}},
        {false, true, {"1", "two", "3"}},
    };
    for (const Case& c : cases) {
        gViews.clear();
        Instruction* main = WalkProgram("O$", c.reverse, [&] { Call(RecordResultView); });
        if (c.insideMethod) ObjectToBind = head;
        RunMain(main);
        EXPECT_EQ(gViews, c.expected) << "reverse " << c.reverse << " inside " << c.insideMethod;
    }
    ReleaseVariable(context, FindVariable("R$", 0), false, false);
    object->flags = 0;
    FreeVariableChain(context, head, true);
    FreeVariableList(context, head);
}

// A built-in handing its temporaries to an array and a matrix variable.
void HandTemporariesOver() {
    auto* text = static_cast<char*>(platform::AllocateBlock(6));
    std::memcpy(text, "hello", 6);
    TrackAllocation(CurrentContext, text, 0, kTrackedBlock);
    SetVariableString(FindVariable("A$", 0), text, -1, false);
    auto* cells = static_cast<MatrixCell*>(platform::AllocateBlock(2 * sizeof(MatrixCell)));
    SetCellValue(&cells[0], 5.0);
    cells[0].kind = kCellNumber;
    SetCellValue(&cells[1], 0.0);
    cells[1].kind = kCellEnd;
    TrackAllocation(CurrentContext, cells, 0, kTrackedBlock);
    SetVariableMatrix(FindVariable("M$", 0), cells, -1, false);
}

TEST_F(VmTest, BlockHandedToAVariableOutlivesTheDepthThatMadeIt) {
    VariableRecord* array = Global("A$");
    VariableRecord* matrix = Global("M$");
    Instruction* main = StartProc("MAIN", false);
    Call(HandTemporariesOver);
    EndProc();
    RunMain(main);
    ASSERT_TRUE(platform::IsLiveBlock(array->data));
    EXPECT_STREQ(array->data, "hello");
    ASSERT_TRUE(platform::IsLiveBlock(matrix->data));
    EXPECT_EQ(CellValue(reinterpret_cast<const MatrixCell*>(matrix->data)), 5.0);
    EXPECT_EQ(CountTrackedAllocations(context), 0);
    platform::FreeBlock(array->data);
    platform::FreeBlock(matrix->data);
    array->data = matrix->data = nullptr;
    array->flags = matrix->flags = 0;
}

// --- the list-copy switch of parameter binding ----------------------------------------

void PushListItemCell() {
    StackEntry* cell = PushStackEntry(CurrentContext, true);
    cell->value = 7;
    cell->text = nullptr;
    cell->variable = FindVariable("L$", 0);
    cell->extra = 0;
    cell->flags = kEntryListItem;
}

// Records whether P$ is a list (1 or 0), then its value.
void RecordParameterShape() {
    VariableRecord* parameter = FindVariable("P$", 0);
    Recorded.push_back((parameter->flags & kVarList) ? 1 : 0);
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(parameter, &text, &value, nullptr);
    Recorded.push_back(value);
}

VariableRecord* MakeNumberList(VariableRecord* list, std::initializer_list<double> values) {
    ListNode* last = nullptr;
    for (double value : values) {
        last = ListAppend(last);
        last->value = value;
        StampListNode(last);
    }
    list->flags |= kVarList;
    list->currentNode = ListFirst(last);
    LoadListElement(list);
    return list;
}

// A list item read by position and passed to a procedure: the parameter
// takes the item's value, and the list (its current item included) stays.
TEST_F(VmTest, ListItemArgumentBindsItsValueAndLeavesTheList) {
    VariableRecord* list = MakeNumberList(Global("L$"), {10, 20});
    Instruction* procedure = StartProc("P(1,0)", false);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "P$");
    Call(RecordParameterShape);
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    Call(PushListItemCell);
    Emit(Opcode::CALL, RunProcedure, "P", 0.0, procedure);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{0, 7})) << "a plain value, the item's";
    EXPECT_EQ(ListFirst(list->currentNode)->value, 10) << "the current item is not overwritten";
    EXPECT_EQ(list->value, 10);
    EXPECT_EQ(ListCount(list->currentNode), 2u);
    EXPECT_EQ(NoListCopy, 0);
}

// Records whether P$ is a list (1 or 0), then its number (a text's as a number).
void RecordParameterNumber() {
    VariableRecord* parameter = FindVariable("P$", 0);
    Recorded.push_back((parameter->flags & kVarList) ? 1 : 0);
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(parameter, &text, &value, nullptr);
    Recorded.push_back(text ? std::atof(text) : value);
}

void OverwriteParameter() { SetVariableValue(FindVariable("P$", 0), nullptr, 99.0, nullptr, 0); }

// A variable passed by value, however the call binds it: the parameter gets
// what the variable holds (a number, a copy of a text, a list of its own),
// and what the procedure then writes into its parameter leaves the caller's
// variable as it was. Each way runs twice: the second run binds into a frame
// taken from the cache.
TEST_F(VmTest, VariablePassedByValueIsCopiedIntoTheParameter) {
    VariableRecord* number = Global("N$");
    number->value = 5;
    VariableRecord* text = Global("T$");
    SetVariableValue(text, "12", 0.0, nullptr, 3);
    VariableRecord* list = MakeNumberList(Global("L$"), {10, 20});
    for (const CallWay& way : kCallWays) {
        SCOPED_TRACE(way.name);
        Instruction* procedure = StartProc(way.handler == RunProcedure ? "P(1,0)" : "Q(1,0)", false);
        Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "P$");
        Call(RecordParameterNumber);
        Call(OverwriteParameter);
        EndProc();
        Instruction* main = StartProc(way.handler == RunProcedure ? "MAIN" : "MAIN2", false);
        for (const char* name : {"N$", "T$", "L$"}) {
            PushVar(name);
            Emit(Opcode::CALL, way.handler, "P", 0.0, procedure);
        }
        EndProc();
        for (int run = 0; run < 2; ++run) {
            Recorded.clear();
            RunMain(main);
            EXPECT_EQ(Recorded, (std::vector<double>{0, 5, 0, 12, 1, 10})) << "run " << run;
            EXPECT_EQ(number->value, 5);
            ASSERT_NE(text->data, nullptr);
            EXPECT_STREQ(text->data, "12");
            EXPECT_EQ(list->value, 10);
            EXPECT_EQ(ListFirst(list->currentNode)->value, 10);
            EXPECT_EQ(ListCount(list->currentNode), 2u);
            EXPECT_EQ(context->callDepth, 0);
            EXPECT_EQ(CountStackEntries(context->stackTop), 1) << "every argument was taken";
        }
    }
}

// Closes the innermost frame and records the values above it, bottom first.
void RecordFrame() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    std::vector<double> values;
    for (StackEntry* cell = context->stackTop; cell && cell != saved && cell->below; cell = cell->below)
        values.insert(values.begin(), cell->value);
    for (size_t i = 0; i < values.size(); ++i) DropStackEntry();
    Recorded.insert(Recorded.end(), values.begin(), values.end());
}

// A function taking its arguments as a list closes the frame its caller
// opened around them; when it returns, that frame stays closed, so the
// frames of the caller's expression still pair up: f(7, sum(1, 2)).
TEST_F(VmTest, FunctionTakingItsArgumentsAsAListLeavesTheCallersFramesPaired) {
    Instruction* sum = StartProc("SUM(0,1)", true);
    Emit(Opcode::NPARMS, Handle_NPARMS);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(3);
    Emit(Opcode::RETURN, Handle_RETURN);
    EndProc();
    Instruction* main = StartProc("MAIN", false);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(7);
    Emit(Opcode::SAVESP, Builtin___savesp);
    Emit(Opcode::SAVESP, Builtin___savesp);
    PushInt(1);
    PushInt(2);
    Emit(Opcode::CALL, RunProcedure, "SUM", 0.0, sum);
    Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, 1.0);
    Call(RecordFrame);
    EndProc();
    RunMain(main);
    EXPECT_EQ(Recorded, (std::vector<double>{7, 3}));
    EXPECT_EQ(context->argumentFrame.count, 0);
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

void CopyListGIntoH() {
    VariableRecord* copy = FindVariable("H$", 0);
    AssignValue(copy, FindVariable("G$", 0), nullptr, kCopyDeep, 0);
    Recorded.push_back((copy->flags & kVarList) ? 1 : 0);
}

TEST_F(VmTest, ProcedureRunWhileTheSwitchIsHeldCopiesListsWhole) {
    MakeNumberList(Global("G$"), {1, 2, 3});
    VariableRecord* copy = Global("H$");
    Instruction* procedure = StartProc("COPYING", false);
    Call(CopyListGIntoH);
    EndProc();
    NoListCopy = 1;
    RunMain(procedure);
    EXPECT_EQ(NoListCopy, 1) << "the holder's switch is put back";
    NoListCopy = 0;
    EXPECT_EQ(Recorded, std::vector<double>{1});
    EXPECT_EQ(ListCount(copy->currentNode), 3u);
}

}  // namespace
}  // namespace qob::testing
