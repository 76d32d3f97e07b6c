// tests/compiler/back_end/optimizer_test.cpp
// The peephole optimiser: listings of small bodies compiled with it, the
// nodes it must leave alone, and jumps to the nodes it deletes.
#include "compiler/codegen_support.h"

#include "compiler/back_end/node_emitter.h"
#include "compiler/back_end/optimizer.h"
#include "compiler/compile_messages.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

using OptimizerTest = CodegenTest;

struct Case {
    const char* body;
    const char* listing;
};

TEST_F(OptimizerTest, FusedPushes) {
    const Case kCases[] = {
        {"1 2 DROPSTACK DROPSTACK", "2 PUSHINTINT (dropstack) 1, 2\n3 DROPSTACK\n"},
        {"A$ 1 B$ 2 \"s\" 3", "2 PUSHVARINT A$, 1\n3 PUSHVARINT B$, 2\n4 PUSHSTRINT \"s\", 3\n"},
        {"1 \"s\" A$ \"s\" \"t\" \"u\"", "2 PUSHINTSTR 1, \"s\"\n3 PUSHVARSTR A$, \"s\"\n4 PUSHSTRSTR \"t\", \"u\"\n"},
        {"T:X$ T:Y$ 1 A$ \"s\" B$ C$ D$", "2 NGPUSHVARVAR X$, Y$\n3 PUSHINTVAR 1, A$\n4 PUSHSTRVAR \"s\", B$\n"
                                          "5 PUSHVARVAR C$, D$\n"},
        // A push fused with the one before it is not tested again.
        {"1 2 3", "2 PUSHINTINT 1, 2\n3 PUSHINT 3\n"},
        // Each push keeps the namespace of the variable it names.
        {":: NS A$ B$ 1 :: NS C$", "2 PUSHVAR A$\n3 PUSHVARINT B$, 1\n4 PUSHVAR C$\n"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(GenerateBody(c.body, true), c.listing) << c.body;
        EXPECT_EQ(Errors(), "") << c.body;
    }
    GenerateBody("1 :: NS C$", true);
    const Instruction* fused = program->next->next;
    ASSERT_EQ(fused->opcode, static_cast<uint32_t>(Opcode::PUSHINTVAR));
    EXPECT_EQ(fused->extra->namespaceHash, HashNameConstant("NS"));
}

TEST_F(OptimizerTest, ParametersAreBoundInPairs) {
    EXPECT_EQ(Generate("PROC:F(3,0) C$ B$ A$ __ENDDECL END", true),
              "0 test.qob\n1 STARTPROC <E9> F(3,0)\n2 PARMSPUSHVARVAR C$, B$\n3 PARMSPUSHVAR A$\n"
              "4 ENDPROC <E9> F(3,0)\n5 ENDPROC test.qob\n");
}

TEST_F(OptimizerTest, ConstantsAreFoldedAndTakenByTypedOperators) {
    const Case kCases[] = {
        {"T:A$ 2 3 + = T:A$ 2 3 - = T:A$ 2 3 * = T:A$ 3 2 / =",
         "2 =3 A$, 5\n3 =3 A$, -1\n4 =3 A$, 6\n5 =3 A$, 1.5\n"},
        // Dividing by the constant 0 folds to the IEEE result, silently.
        {"T:A$ 1 0 / =", "2 =3 A$, inf\n"},
        {"A$ 1 + DROPSTACK 1 A$ + DROPSTACK A$ 1 - DROPSTACK 1 A$ - DROPSTACK",
         "2 +5 (dropstack) A$, 1\n3 +6 (dropstack) A$, 1\n4 -5 (dropstack) A$, 1\n5 -6 (dropstack) A$, 1\n"},
        {"A$ 2 * DROPSTACK 2 A$ * DROPSTACK A$ 2 / DROPSTACK 2 A$ / DROPSTACK",
         "2 *5 (dropstack) A$, 2\n3 *6 (dropstack) A$, 2\n4 /5 (dropstack) A$, 2\n5 /6 (dropstack) A$, 2\n"},
        {"A$ B$ 1 + A$ B$ 2 - A$ B$ 3 * A$ B$ 4 /",
         "2 PUSHVARVAR A$, B$\n3 +2 1\n4 PUSHVARVAR A$, B$\n5 -2 2\n6 PUSHVARVAR A$, B$\n7 *2 3\n"
         "8 PUSHVARVAR A$, B$\n9 /2 4\n"},
        {"RAND \"s\" + RAND \"s\" - RAND \"s\" *", "2 RAND\n3 +4 \"s\"\n4 RAND\n5 -4 \"s\"\n6 RAND\n7 PUSHSTR \"s\"\n8 *\n"},
        {"RAND 1 == RAND 1 <> RAND 1 < RAND 1 > RAND 1 <= RAND 1 >=",
         "2 RAND\n3 ==2 1\n4 RAND\n5 <>2 1\n6 RAND\n7 <2 1\n8 RAND\n9 >2 1\n10 RAND\n11 <=2 1\n12 RAND\n13 >=2 1\n"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(GenerateBody(c.body, true), c.listing) << c.body;
        EXPECT_EQ(Errors(), "") << c.body;
    }
}

TEST_F(OptimizerTest, AssignmentsIndexesAndAddresses) {
    const Case kCases[] = {
        {"T:A$ 5 =", "2 =3 A$, 5\n"},
        {"T:A$ __VARADDR 5 =", "2 NGPUSHVAR A$\n3 ADDR\n4 =5\n"},
        {"T:A$ __VARADDR \"s\" =", "2 NGPUSHVAR A$\n3 ADDR\n4 =5 s\n"},
        {"M:A$ 1 += M:A$ 5 += M:A$ 1 -= M:A$ 5 -=", "2 ++2 A$\n3 ++3 A$\n4 --2 A$\n5 --3 A$\n"},
        {"M:A$ 1 __OFFSET1 A$ __VARADDR", "2 OFFSET2_2 A$\n3 ADDR2 A$\n"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(GenerateBody(c.body, true), c.listing) << c.body;
        EXPECT_EQ(Errors(), "") << c.body;
    }
    // "=4" keeps the variable's name as its text and the constant in its operand.
    GenerateBody("T:A$ \"some text\" =", true);
    const Instruction* assign = program->next->next;
    ASSERT_EQ(assign->opcode, static_cast<uint32_t>(Opcode::ASSIGN4));
    EXPECT_STREQ(assign->text, "A$");
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(assign->operand)), "some text");
    GenerateBody("M:A$ 5 +=", true);
    EXPECT_EQ(program->next->next->operand, 5.0);
}

TEST_F(OptimizerTest, StepsRunAsTheFirstHalfOfANode) {
    const Case kCases[] = {
        // A built-in called with one text constant: one push carrying the
        // argument-frame step, then the call.
        {"__SAVESP \"x\" SHOWMESSAGE", "2 PUSHSTR (savesp) \"x\"\n3 SHOWMESSAGE\n"},
        {"__SAVESP __SAVESP 1 SHOWMESSAGE", "2 PUSHINT (savesp2) 1\n3 SHOWMESSAGE\n"},
        {"A$ IF 1 DROPSTACK END", "2 PUSHVAR (jeq @4) A$\n3 PUSHINT (dropstack) 1\n"},
        {"__STARTWHILE A$ 3 < WHILE END", "2 INITWHILE\n3 PUSHVARINT A$, 3\n4 < (jeq @6)\n5 BRANCH @3\n6 ENDLOOP\n"},
        {"__STARTREPEAT REPEAT A$ UNTIL", "2 INITWHILE\n3 PUSHVAR (jeq @3) A$\n4 ENDLOOP\n"},
        // CASE labels: the last value goes into the label's own node.
        {"A$ CASE __STARTCASE 1 :1 __STARTCASE 2 3 4 :3 END",
         "2 PUSHVAR A$\n3 PULLCASE 1\n4 PUSHINTCASE 1, 1, @6\n5 BRANCH @8\n6 PUSHINTINT 2, 3\n7 PUSHINTCASE 4, 1, @8\n"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(GenerateBody(c.body, true), c.listing) << c.body;
        EXPECT_EQ(Errors(), "") << c.body;
    }
}

TEST_F(OptimizerTest, WithoutTheOptimiserEveryNodeStays) {
    EXPECT_EQ(GenerateBody("__SAVESP \"x\" SHOWMESSAGE T:A$ 2 3 + =", false),
              "2 __SAVESP\n3 PUSHSTR \"x\"\n4 SHOWMESSAGE\n5 PUSHINT 2\n6 PUSHINT 3\n7 +\n8 =2 A$\n");
}

TEST_F(OptimizerTest, ProcedureAddressesAreNeverMerged) {
    EXPECT_EQ(GenerateBody("&MAIN 1 1 &MAIN 2 DROPSTACK DROPSTACK DROPSTACK DROPSTACK", true),
              "2 PUSHPROCADDR &MAIN\n3 PUSHINTINT 1, 1\n4 PUSHPROCADDR &MAIN\n5 PUSHINT (dropstack) 2\n"
              "6 DROPSTACK\n7 DROPSTACK\n8 DROPSTACK\n");
}

// Generic operators are known by the handler of their function-table
// record: a new handler for "+" is recognised, and two operators behind one
// handler are left alone rather than taken for each other.
TEST_F(OptimizerTest, OperatorsAreRecognisedThroughTheirRecords) {
    static bool called = false;
    const BuiltinHandler replacement = [] { called = true; };
    ASSERT_GE(RegisterFunction("+", replacement), 0);
    EXPECT_EQ(GenerateBody("T:A$ 2 3 + =", true), "2 =3 A$, 5\n");
    ASSERT_GE(RegisterFunction("-", replacement), 0);
    EXPECT_EQ(GenerateBody("T:A$ 2 3 + =", true), "2 PUSHINTINT 2, 3\n3 +\n4 =2 A$\n");
    EXPECT_FALSE(called);
}

// A push that some jump lands after is not absorbed into the next node: the
// jump would run it (or skip the node it became part of).
TEST_F(OptimizerTest, ANodeAJumpLandsAfterKeepsItsPlace) {
    NodeEmitter emit;
    emit.pool = context->pool;
    Instruction* first = emit.EmitPlain(Opcode::None, "t");
    Instruction* one = emit.Emit(Opcode::PUSHINT, nullptr, 1.0);
    Instruction* two = emit.Emit(Opcode::PUSHINT, nullptr, 2.0);
    Instruction* jump = emit.Emit(Opcode::BRANCH, nullptr, 0.0, one);
    emit.EmitPlain(Opcode::ENDPROC, "t");
    program = first;
    OptimizeInstructionList(first, context->pool, "t");
    EXPECT_EQ(one->next, two);
    EXPECT_EQ(JumpTarget(jump), one);
    EXPECT_EQ(two->opcode, static_cast<uint32_t>(Opcode::PUSHINT));
}

// A conditional jump is not fused into a node that jumps on its own (here a
// call, whose target is the procedure it calls): one of the two targets
// would be lost.
TEST_F(OptimizerTest, AConditionalJumpKeepsItsOwnNodeAfterANodeWithATarget) {
    EXPECT_EQ(Generate("PROC:P(0,0) __ENDDECL END PROC:MAIN __ENDDECL C:P(0,0) IF A$ DROPSTACK END END", true),
              "0 test.qob\n1 STARTPROC <E9> P(0,0)\n2 ENDPROC <E9> P(0,0)\n3 STARTPROC <E9> MAIN\n"
              "4 CALL P(0,0), @2\n5 IF @7\n6 PUSHVAR (dropstack) A$\n7 ENDPROC <E9> MAIN\n8 ENDPROC test.qob\n");
}

// Nodes deleted by the optimiser may be targets of jumps anywhere in the
// list, after them too: every such jump moves to the node before.
TEST_F(OptimizerTest, JumpsToDeletedNodesMoveToTheirPredecessors) {
    NodeEmitter emit;
    emit.pool = context->pool;
    Instruction* first = emit.EmitPlain(Opcode::None, "t");
    Instruction* push = emit.Emit(Opcode::PUSHVAR, "A$");
    Instruction* test = emit.Emit(Opcode::IF);
    Instruction* body = emit.Emit(Opcode::PUSHINT, nullptr, 1.0);
    Instruction* drop = emit.EmitHandler(Builtin_dropstack, Opcode::INTERNALCALL);
    Instruction* back = emit.Emit(Opcode::BRANCH, nullptr, 0.0, test);
    Instruction* back2 = emit.Emit(Opcode::BRANCH, nullptr, 0.0, drop);
    emit.SetTarget(test, back2);
    emit.EmitPlain(Opcode::ENDPROC, "t");
    program = first;
    OptimizeInstructionList(first, context->pool, "t");
    EXPECT_EQ(ListInstructions(first),
              "0 t\n1 PUSHVAR (jeq @5) A$\n2 PUSHINT (dropstack) 1\n3 BRANCH @2\n4 BRANCH @3\n5 ENDPROC t\n");
    EXPECT_EQ(JumpTarget(back), push);
    EXPECT_EQ(JumpTarget(back2), body);
    EXPECT_EQ(JumpTarget(push), back2);
}

// The generator optimises each procedure as soon as its END is compiled,
// when nothing else will change it, and makes its next nodes in the memory of
// the nodes deleted; procedures it cannot do then (a call of a procedure
// further on gets its target after the walk, and a conditional jump must not
// be fused into it) are left to the end. The list must come out as the
// optimiser makes it from the whole unoptimised list.
TEST_F(OptimizerTest, ProceduresOptimisedOnTheWayComeOutAsTheWholeListWould) {
    const char* const kSources[] = {
        // Arithmetic, loops, CASE, REPEAT and jumps, procedure after procedure.
        "FUNC F0(A$, B$)\n  LOCAL(X$, Y$, I$);\n  X$ = (A$ * 3 + B$) MOD 1000;\n  Y$ = (B$ + 11) MOD 997;\n"
        "  IF(X$ > Y$)\n    X$ = X$ - Y$;\n  ELSE\n    X$ = Y$ - X$ + 7;\n  END;\n"
        "  FOR(I$, 1, 3)\n    Y$ = (Y$ * 7 + I$ + X$) MOD 1009;\n  END;\n"
        "  WHILE(X$ > 100)\n    X$ = X$ - 100;\n    IF(X$ == 5) BREAK; END;\n  END;\n"
        "  CASE(X$ MOD 4)\n    0: Y$ = Y$ + 1;\n    1: Y$ = Y$ + 2;\n    DEFAULT: Y$ = Y$ + 3;\n  END;\n"
        "  REPEAT\n    Y$ = Y$ + 5;\n  UNTIL(Y$ MOD 2 == 0);\n  RETURN((X$ + Y$ * 2) MOD 10007);\nEND;\n"
        "PROC MAIN\n  S$ = F0(1, 2);\n  IF(F0(S$, 3)) S$ = S$ + 1; END;\n  S$ = 1 + 2 * 3;\nEND;\n",
        // MAIN first: its calls are resolved after the walk, so it is left to the end.
        "FORWARD FUNC G(A$);\nPROC MAIN\n  IF(G(1)) S$ = 1; END;\n  T$ = G(2) + 4;\nEND;\n"
        "FUNC G(A$)\n  B$ = A$ + 1;\n  RETURN(B$ * 2);\nEND;\n",
    };
    for (const char* source : kSources) {
        SCOPED_TRACE(source);
        const std::string onTheWay = CompileSource(source, true);
        EXPECT_EQ(Errors(), "");
        CompileSource(source, false);
        OptimizeInstructionList(program, context->pool, "test.qob");
        EXPECT_EQ(onTheWay, ListInstructions(program));
    }
}

// Progress is reported as one walk over the whole list would report it.
TEST_F(OptimizerTest, ProceduresOptimisedOnTheWayReportProgressAsOneWalk) {
    static std::vector<std::string> calls;
    const CompileProgress record = [](const char* text, int position, int total) -> int64_t {
        calls.push_back((text ? text : "") + std::string(" ") + std::to_string(position) + "/" + std::to_string(total));
        return position + 1;
    };
    const char* kStream =
        "PROC:P(0,0) __ENDDECL A$ 1 + DROPSTACK __SAVESP 1 __SAVESP 2 M= END "
        "PROC:MAIN __ENDDECL C:P(0,0) C:Q(0,0) IF A$ DROPSTACK END 1 2 + DROPSTACK END "
        "PROC:Q(0,0) __ENDDECL B$ 2 * DROPSTACK END";
    calls.clear();
    CodeGenOptions options;
    options.progress = record;
    const std::string onTheWay = Generate(BuildStream(kStream), options);
    const std::vector<std::string> onTheWayCalls = calls;

    calls.clear();
    options.optimize = false;
    Generate(BuildStream(kStream), options);
    OptimizeInstructionList(program, context->pool, "test.qob", record);
    EXPECT_EQ(onTheWay, ListInstructions(program));
    EXPECT_EQ(onTheWayCalls, calls);
}

// The order the optimiser hands on to the writer is the list's: with a
// procedure done on the way, nodes deleted by the last walk and save steps
// folded by pass 2 left out.
TEST_F(OptimizerTest, TheOrderFoundOnTheWayIsTheList) {
    NodeEmitter emit;
    emit.pool = context->pool;
    CurrentCompilerPool = context->pool;
    ListOptimizer optimizer(context->pool, &NodeEmitter::RecycleNode, &emit);
    Instruction* first = emit.EmitPlain(Opcode::None, "t");
    Instruction* start = emit.Emit(Opcode::STARTPROC, "\xE9   P");
    emit.Emit(Opcode::PUSHVAR, "A$");
    emit.Emit(Opcode::PUSHINT, nullptr, 1.0);
    emit.EmitHandler(Builtin___savesp, Opcode::INTERNALCALL);
    emit.Emit(Opcode::PUSHVAR, "B$");
    Instruction* end = emit.Emit(Opcode::ENDPROC, "\xE9   P");
    optimizer.Procedure(start, end);
    emit.Emit(Opcode::PUSHINT, nullptr, 2.0);
    emit.Emit(Opcode::PUSHINT, nullptr, 3.0);
    emit.EmitHandler(Builtin___savesp, Opcode::INTERNALCALL);
    emit.Emit(Opcode::PUSHVAR, "C$");
    emit.EmitPlain(Opcode::ENDPROC, "t");
    program = first;
    optimizer.Finish(first, "t");
    std::vector<Instruction*> list;
    for (Instruction* node = first; node; node = node->next) list.push_back(node);
    EXPECT_EQ(optimizer.TakeOrder(), list);
    EXPECT_EQ(ListInstructions(first), "0 t\n1 STARTPROC <E9> P\n2 PUSHVARINT A$, 1\n3 PUSHVAR (savesp) B$\n"
                                       "4 ENDPROC <E9> P\n5 PUSHINTINT 2, 3\n6 PUSHVAR (savesp) C$\n7 ENDPROC t\n");
}

TEST_F(OptimizerTest, ProgressIsReportedOncePerNode) {
    static std::vector<std::string> texts;
    static int last = 0;
    texts.clear();
    last = 0;
    CodeGenOptions options;
    options.progress = [](const char* text, int position, int) -> int64_t {
        if (text) texts.push_back(text);
        last = position;
        return position + 1;
    };
    Generate(BuildStream("PROC:MAIN __ENDDECL 1 DROPSTACK END"), options);
    EXPECT_EQ(texts, (std::vector<std::string>{"Compiling (test.qob)...", "Optimizing (test.qob)..."}));
    EXPECT_EQ(last, 6);
}

}  // namespace
}  // namespace qob::testing
