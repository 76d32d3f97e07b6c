// tests/compiler/program_run_test.cpp
// Whole units compiled from source and run through MAIN on the virtual
// machine, with and without the optimiser: the values a program traces.
#include "codegen_support.h"

#include <vector>

#include "runtime/registry/function_table.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

std::vector<double> traced;

// trace(x): appends a number to traced.
void Builtin_trace() { traced.push_back(PopNumber()); }
// failnow(): a run-time error.
void Builtin_failnow() { RaiseRuntimeError("test failure", 0); }
// faultnow(): an access violation. The address is read from a volatile, so
// the optimiser cannot see (and warn about) the deliberate bad store.
__attribute__((no_sanitize("address", "undefined"), noinline)) void Builtin_faultnow() {
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
}

class ProgramRunTest : public CodegenTest {
protected:
    void SetUp() override {
        CodegenTest::SetUp();
        ASSERT_GE(RegisterBuiltin("trace", Builtin_trace, 1, false), 0);
        ASSERT_GE(RegisterBuiltin("failnow", Builtin_failnow, 0, false), 0);
        ASSERT_GE(RegisterBuiltin("faultnow", Builtin_faultnow, 0, false), 0);
    }

    // Compiles and runs source, optimised or not; the values it traced.
    std::vector<double> Run(const std::string& source, bool optimize) {
        traced.clear();
        CompileSource(source, optimize);
        EXPECT_EQ(Errors(), "") << source;
        EXPECT_TRUE(RunEntry()) << source;
        EXPECT_EQ(TryStack.depth, 0) << source;
        EXPECT_EQ(context->callDepth, 0) << source;
        return traced;
    }

    // The same trace with and without the optimiser.
    void ExpectTrace(const std::string& source, const std::vector<double>& expected) {
        EXPECT_EQ(Run(source, false), expected) << "not optimised:\n" << source;
        EXPECT_EQ(Run(source, true), expected) << "optimised:\n" << source;
    }
};

std::string Main(const std::string& body) { return "PROC MAIN\n" + body + "\nEND;\n"; }

TEST_F(ProgramRunTest, ArithmeticFollowsTheLanguagesPrecedence) {
    ExpectTrace(Main("trace(1 + 2 * 3);\n"
                     "trace(7 * 5 DIV 2);\n"    // DIV binds tighter than "*": 7 * 2
                     "trace(0 AND 1 OR 1);\n"   // AND and OR take the rest: 0 AND (1 OR 1)
                     "trace(2 - 3 - 4);\n"
                     "trace(-2 * 3);\n"
                     "trace(1 + 1 == 2);\n"
                     "trace(10 / 4);\n"
                     "trace(2 * 3 + 4 * 5);\n"
                     "a$ = 5;\n"
                     "trace(a$ + 1);\n"
                     "trace(10 - a$);\n"
                     "trace(a$ * a$ / 5);\n"),
                {7, 14, 0, -5, -6, 1, 2.5, 26, 6, 5, 5});
}

TEST_F(ProgramRunTest, AssignmentForms) {
    ExpectTrace(Main("a$ = 5;\n"
                     "a$ += 3; trace(a$);\n"
                     "a$ -= 1; trace(a$);\n"
                     "a$ *= 2; trace(a$);\n"
                     "a$ += 1; trace(a$);\n"
                     "a$++; trace(a$);\n"
                     "a$--; a$--; trace(a$);\n"
                     "b$ = (a$ = 3) + 1; trace(a$); trace(b$);\n"
                     "c$ = \"x\"; d$ = c$ % \"y\";\n"
                     "trace(d$ == \"xy\");\n"),
                {8, 7, 14, 15, 16, 14, 3, 4, 1});
}

TEST_F(ProgramRunTest, IfElseIfElse) {
    ExpectTrace(Main("FOR (i$, 1, 4)\n"
                     " IF (i$ == 1) trace(10);\n"
                     " ELSE IF (i$ == 2) trace(20);\n"
                     " ELSE IF (i$ == 3) trace(30);\n"
                     " ELSE trace(40);\n"
                     " END;\n"
                     " IF (i$ > 2) trace(i$); END;\n"
                     "END;"),
                {10, 20, 30, 3, 40, 4});
}

TEST_F(ProgramRunTest, WhileWithContinueAndBreak) {
    ExpectTrace(Main("i$ = 0;\n"
                     "WHILE (i$ < 10)\n"
                     " i$++;\n"
                     " IF (i$ == 3) CONTINUE; END;\n"
                     " IF (i$ == 6) BREAK; END;\n"
                     " trace(i$);\n"
                     "END;\n"
                     "trace(99);"),
                {1, 2, 4, 5, 99});
}

TEST_F(ProgramRunTest, ForCountsUpDownAndBySteps) {
    ExpectTrace(Main("FOR (i$, 5, 1) trace(i$); END;\n"
                     "FOR (i$, 1, 10, 3) trace(i$); END;\n"
                     "FOR (i$, 1, 3)\n FOR (j$, 1, 2) trace(i$ * 10 + j$); END;\nEND;"),
                {5, 4, 3, 2, 1, 1, 4, 7, 10, 11, 12, 21, 22, 31, 32});
}

// CONTINUE in a REPEAT starts its body again; BREAK leaves it.
TEST_F(ProgramRunTest, RepeatUntil) {
    ExpectTrace(Main("i$ = 0;\n"
                     "REPEAT\n"
                     " i$++;\n"
                     " IF (i$ == 2) CONTINUE; END;\n"
                     " trace(i$);\n"
                     " IF (i$ == 4) BREAK; END;\n"
                     "UNTIL (i$ >= 10);\n"
                     "REPEAT\n i$++;\nUNTIL (i$ > 6);\n"
                     "trace(i$);"),
                {1, 3, 4, 7});
}

// CONTINUE inside an IF inside a WHILE inside a REPEAT goes on with the WHILE.
TEST_F(ProgramRunTest, ContinueGoesToTheInnermostLoop) {
    ExpectTrace(Main("n$ = 0;\n"
                     "REPEAT\n"
                     " n$++;\n"
                     " j$ = 0;\n"
                     " WHILE (j$ < 3)\n"
                     "  j$++;\n"
                     "  IF (j$ == 2) CONTINUE; END;\n"
                     "  trace(n$ * 10 + j$);\n"
                     " END;\n"
                     "UNTIL (n$ == 2);"),
                {11, 13, 21, 23});
}

// BREAK in a CASE leaves the loop around it, not the CASE.
TEST_F(ProgramRunTest, CaseBranchesAndBreakInsideACase) {
    ExpectTrace(Main("FOR (i$, 1, 5)\n"
                     " CASE (i$)\n"
                     "  1, 2: trace(12);\n"
                     "  4: trace(4);\n"
                     "  DEFAULT: trace(0);\n"
                     " END;\n"
                     "END;\n"
                     "FOR (i$, 1, 5)\n"
                     " CASE (i$)\n"
                     "  2: trace(20);\n"
                     "  3: BREAK;\n"
                     "  DEFAULT: trace(i$);\n"
                     " END;\n"
                     "END;\n"
                     "trace(99);"),
                {12, 12, 0, 4, 0, 1, 20, 99});
}

TEST_F(ProgramRunTest, TryWithAnErrorAndAFault) {
    ExpectTrace(Main("TRY\n trace(1);\n failnow();\n trace(2);\nEXCEPT\n trace(3);\nEND;\n"
                     "TRY\n trace(4);\n faultnow();\n trace(5);\nEXCEPT\n trace(6);\nEND;\n"
                     "TRY\n trace(7);\nEXCEPT\n trace(8);\nFINALLY\n trace(9);\nEND;\n"
                     "trace(10);"),
                {1, 2, 4, 6, 7, 9, 10});
}

// Leaving a TRY part with BREAK pops its TRY entry: a later error outside
// any TRY is reported and ends the program instead of going to ERROR%.
TEST_F(ProgramRunTest, BreakOutOfATryPopsItsEntry) {
    const std::string source = Main("FOR (i$, 1, 3)\n"
                                    " TRY\n"
                                    "  TRY\n"
                                    "   IF (i$ == 2) BREAK; END;\n"
                                    "   trace(i$);\n"
                                    "  EXCEPT\n"
                                    "  END;\n"
                                    " EXCEPT\n"
                                    " END;\n"
                                    "END;\n"
                                    "trace(i$);\n"
                                    "failnow();\n"
                                    "trace(99);");
    EXPECT_EQ(Run(source, false), (std::vector<double>{1, 2}));
    StopFlag = false;
    EXPECT_EQ(Run(source, true), (std::vector<double>{1, 2}));
    StopFlag = false;
}

TEST_F(ProgramRunTest, FunctionsWithSeveralResultsAndRecursion) {
    ExpectTrace("FUNC two(a$) : 2\n RETURN(a$ + 1, a$ * 2);\nEND;\n"
                "FUNC fact(n$)\n IF (n$ <= 1) RETURN(1); END;\n RETURN(n$ * fact(n$ - 1));\nEND;\n"
                "PROC show(a$, b$)\n trace(a$ - b$);\nEND;\n"
                "PROC MAIN\n"
                " LOCAL(p$, q$);\n"
                " p$, q$ = two(5);\n"
                " trace(p$); trace(q$);\n"
                " trace(fact(6));\n"
                " fact(3);\n"
                " show(10, 4);\n"
                "END;\n",
                {6, 10, 720, 6});
}

// A key is found by its whole name: MAIN, defined after MAINLOOP, does not
// answer a call of MAINLOOP (a text compare of MAIN as a prefix would).
TEST_F(ProgramRunTest, ACallFindsItsOwnProcedureNotAPrefixOfIt) {
    ExpectTrace("PROC mainloop\n trace(1);\nEND;\nPROC MAIN\n mainloop();\n trace(2);\nEND;\n", {1, 2});
}

// NPARMS takes the frame its caller opened: calls of an N-form procedure in
// a loop leave no frame open (1,500 calls would exhaust the 1,024 frames).
TEST_F(ProgramRunTest, NFormCallsInALoopLeaveNoFrameOpen) {
    ExpectTrace("NPROC add\n FOREACH (ARGS$, x$) s$ += x$; END;\nEND;\n"
                "PROC MAIN\n"
                " GLOBAL(s$);\n"
                " s$ = 0;\n"
                " FOR (i$, 1, 1500) add(i$, 1); END;\n"
                " trace(s$);\n"
                "END;\n",
                {1500 * 1501 / 2 + 1500});
}

TEST_F(ProgramRunTest, ProceduresOfNamespaces) {
    ExpectTrace("FUNC h(x$)\n RETURN(x$ + 1);\nEND;\n"
                "#NAMESPACE A\nFUNC f(x$)\n RETURN(x$ + 100);\nEND;\nFUNC g(x$)\n RETURN(f(h(x$)) * 2);\nEND;\n"
                "#ENDNAMESPACE\n"
                "PROC MAIN\n trace(::A f(1));\n trace(h(1));\n trace(::A g(1));\nEND;\n",
                {101, 2, 204});
}

}  // namespace
}  // namespace qob::testing
