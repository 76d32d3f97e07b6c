// tests/compiler/back_end/code_generator_test.cpp
// The code generator without the optimiser: listings of small postfix
// streams, procedure records and entries, declarations, classes, calls
// resolved after the walk, and the generator's messages.
#include "compiler/codegen_support.h"

#include <cstring>

#include "compiler/compile_messages.h"
#include "runtime/data/number_text.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

using CodeGeneratorTest = CodegenTest;

struct Case {
    const char* body;
    const char* listing;
};

TEST_F(CodeGeneratorTest, ValuesAssignmentsAndCalls) {
    const Case kCases[] = {
        {"1 \"hi\" A$", "2 PUSHINT 1\n3 PUSHSTR \"hi\"\n4 PUSHVAR A$\n"},
        {"T:A$ 5 =", "2 PUSHINT 5\n3 =2 A$\n"},
        {"T:A$ B$ 1 + =", "2 PUSHVAR B$\n3 PUSHINT 1\n4 +\n5 =2 A$\n"},
        {"M:A$ 2 += M:A$ 2 -= M:A$ 2 *= M:A$ 2 |= M:A$ 2 &= M:A$ 2 ^=",
         "2 PUSHINT 2\n3 +=2 A$\n4 PUSHINT 2\n5 -=2 A$\n6 PUSHINT 2\n7 *=2 A$\n8 PUSHINT 2\n9 |=2 A$\n"
         "10 PUSHINT 2\n11 &=2 A$\n12 PUSHINT 2\n13 ^=2 A$\n"},
        // "/=" has no form of its own: the variable is pushed for the generic step.
        {"M:A$ 2 /=", "2 PUSHVAR A$\n3 PUSHINT 2\n4 /=\n"},
        {"M:A$ ++ M:A$ -- M:A$ ++2 M:A$ --2", "2 ++2 A$\n3 --2 A$\n4 ++4 A$\n5 --4 A$\n"},
        {"M:A$ I$ __OFFSET1", "2 PUSHVAR I$\n3 OFFSET2_1 A$\n"},
        {"M:A$ __SAVESP I$ J$ __OFFSET", "2 __SAVESP\n3 PUSHVAR I$\n4 PUSHVAR J$\n5 OFFSET2 A$\n"},
        {"T:X$ M:Y$ I$ __OFFSET1 =", "2 PUSHVAR I$\n3 OFFSET2_1 Y$\n4 =2 X$\n"},
        {"T:A$ __VARADDR 5 =", "2 NGPUSHVAR A$\n3 ADDR\n4 PUSHINT 5\n5 =\n"},
        {"__SAVESP \"x\" SHOWMESSAGE RAND DROPSTACK", "2 __SAVESP\n3 PUSHSTR \"x\"\n4 SHOWMESSAGE\n5 RAND\n6 DROPSTACK\n"},
        {"T:A$ T:B$ __SAVESP 1 2 2 M=",
         "2 NGPUSHVAR A$\n3 NGPUSHVAR B$\n4 __SAVESP\n5 PUSHINT 1\n6 PUSHINT 2\n7 PUSHINT 2\n8 M=\n"},
        {"__SAVESP2 O:OBJ$.M(1,0);0", "2 __SAVESP2\n3 NGPUSHVAR OBJ$\n4 OBJRUN M(1,0)\n"},
        // A call on the value on the stack: the class step before it makes it a temporary object.
        {"\"CLS\" X$ __CLASS3 __SAVESP2 O:STACK.AREA(0,1);1",
         "2 PUSHSTR \"CLS\"\n3 PUSHVAR X$\n4 CLASS4\n5 __SAVESP2\n6 NGPUSHVAR __STACKTEMPOBJECT$\n7 OBJRUN AREA(0,1)\n"},
        {".OTHER #RANGECHECK #EXPLICIT FIRST_OP __NOOP", "2 RUNFILE OTHER\n3 RANGEMODE\n4 EXPLICITMODE\n"},
        {"__SAVESP 1 2 RETURN", "2 __SAVESP\n3 PUSHINT 1\n4 PUSHINT 2\n5 RETURN <E9> MAIN\n"},
        // FORCEGLOBAL declares as GLOBAL does.
        {"__NOEXPLICITCHECK __SAVESP A$ FORCEGLOBAL", "2 __NOEXPLICITCHECK\n3 __SAVESP\n4 PUSHVAR A$\n5 GLOBAL\n"},
        {"a$ b$", "2 PUSHVAR A$\n3 PUSHVAR B$\n"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(GenerateBody(c.body), c.listing) << c.body;
        EXPECT_EQ(Errors(), "") << c.body;
        ResetCompileMessages();
    }
}

// Whole numbers of up to 15 digits are read by the generator itself: each
// number form gives exactly the value (and conversion flag) of the general reading.
TEST_F(CodeGeneratorTest, NumberTokensHaveTheValueOfTheGeneralReading) {
    constexpr const char* kNumbers[] = {"0",       "7",        "007",     "123456789012345", "999999999999999",
                                        "1234567890123456", "99999999999999999999", "0x1F", "1.5", "1e3",
                                        "12e-2",   "1E400"};
    for (const char* number : kNumbers) {
        const double expected = StringToNumber(number);
        const uint8_t expectedFlag = ConversionFailedFlag;
        ConversionFailedFlag = 2;
        (void)GenerateBody(number);
        const Instruction* node = program;
        while (node && node->opcode != static_cast<uint32_t>(Opcode::PUSHINT)) node = node->next;
        ASSERT_NE(node, nullptr) << number;
        EXPECT_EQ(std::memcmp(&node->operand, &expected, sizeof expected), 0)
            << number << ": " << node->operand << " != " << expected;
        EXPECT_EQ(ConversionFailedFlag, expectedFlag) << number;
    }
}

// Sources through the whole front end, listed without and with the optimiser.
TEST_F(CodeGeneratorTest, SourcesCompileToTheseListings) {
    struct SourceCase {
        const char* body;
        const char* plain;
        const char* optimised;
    };
    const SourceCase kCases[] = {
        {"a$ = b$ * 2 + 1;",
         "2 PUSHVAR B$\n3 PUSHINT 2\n4 *\n5 PUSHINT 1\n6 +\n7 =2 A$\n",
         "2 *5 B$, 2\n3 +2 1\n4 =2 A$\n"},
        {"a$ = -b$;",
         "2 PUSHINT 0\n3 PUSHVAR B$\n4 -\n5 =2 A$\n",
         "2 -6 B$, 0\n3 =2 A$\n"},
        {"a$ = NOT b$;",
         "2 PUSHVAR B$\n3 NOT\n4 =2 A$\n",
         "2 PUSHVAR B$\n3 NOT\n4 =2 A$\n"},
        {"a$[i$] = 5;",
         "2 PUSHVAR I$\n3 OFFSET2_1 A$\n4 PUSHINT 5\n5 =\n",
         "2 PUSHVAR I$\n3 OFFSET2_1 A$\n4 =5\n"},
        {"a$[i$, j$] += 1;",
         "2 __SAVESP\n3 PUSHVAR I$\n4 PUSHVAR J$\n5 OFFSET2 A$\n6 PUSHINT 1\n7 +=\n",
         "2 PUSHVARVAR (savesp) I$, J$\n3 OFFSET2 A$\n4 PUSHINT 1\n5 +=\n"},
        {"a$ += 1; b$ -= 2; c$++;",
         "2 PUSHINT 1\n3 +=2 A$\n4 PUSHINT 2\n5 -=2 B$\n6 ++2 C$\n",
         "2 ++2 A$\n3 --3 B$\n4 ++2 C$\n"},
        {"x$ = (y$ = 3);",
         "2 NGPUSHVAR X$\n3 PUSHINT 3\n4 __SET_PUSH\n5 =2 Y$\n6 =\n",
         "2 PUSHNGVARINT X$, 3\n3 __SET_PUSH\n4 =2 Y$\n5 =\n"},
        {"showmessage(\"hi\", a$);",
         "2 __SAVESP\n3 PUSHSTR \"hi\"\n4 PUSHVAR A$\n5 SHOWMESSAGE\n",
         "2 PUSHSTRVAR (savesp) \"hi\", A$\n3 SHOWMESSAGE\n"},
        {"x$ = max(1, 2, 3);",
         "2 __SAVESP\n3 PUSHINT 1\n4 PUSHINT 2\n5 PUSHINT 3\n6 MAX\n7 =2 X$\n",
         "2 PUSHINTINT (savesp) 1, 2\n3 PUSHINT 3\n4 MAX\n5 =2 X$\n"},
        {"IF (a$ > 1) b$ = 1; ELSE b$ = 2; END;",
         "2 PUSHVAR A$\n3 PUSHINT 1\n4 >\n5 IF @9\n6 PUSHINT 1\n7 =2 B$\n8 BRANCH @11\n9 PUSHINT 2\n10 =2 B$\n",
         "2 PUSHVARINT A$, 1\n3 > (jeq @6)\n4 =3 B$, 1\n5 BRANCH @7\n6 =3 B$, 2\n"},
        {"WHILE (i$ < 10) i$++; END;",
         "2 INITWHILE\n3 PUSHVAR I$\n4 PUSHINT 10\n5 <\n6 WHILE @9\n7 ++2 I$\n8 BRANCH @3\n9 ENDLOOP\n",
         "2 INITWHILE\n3 PUSHVARINT I$, 10\n4 < (jeq @7)\n5 ++2 I$\n6 BRANCH @3\n7 ENDLOOP\n"},
        {"FOR (i$, 1, 10) s$ += i$; END;",
         "2 INITFOR\n3 __SAVESP\n4 PUSHVAR I$\n5 PUSHINT 1\n6 PUSHINT 10\n7 FOR\n8 PUSHVAR I$\n9 +=2 S$\n10 BRANCH @3\n11 ENDLOOP\n",
         "2 INITFOR\n3 PUSHVARINT (savesp) I$, 1\n4 PUSHINT 10\n5 FOR\n6 PUSHVAR I$\n7 +=2 S$\n8 BRANCH @3\n9 ENDLOOP\n"},
        {"REPEAT i$++; UNTIL (i$ == 5);",
         "2 INITWHILE\n3 ++2 I$\n4 PUSHVAR I$\n5 PUSHINT 5\n6 ==\n7 UNTIL @3\n8 ENDLOOP\n",
         "2 INITWHILE\n3 ++2 I$\n4 PUSHVARINT I$, 5\n5 == (jeq @3)\n6 ENDLOOP\n"},
        {"CASE (a$)\n 1: b$ = 1;\n DEFAULT: b$ = 0;\nEND;",
         "2 PUSHVAR A$\n3 PULLCASE 1\n4 PUSHINT 1\n5 PUSHCASE 1\n6 PUSHINT 1\n7 =2 B$\n8 BRANCH @11\n9 PUSHINT 0\n10 =2 B$\n",
         "2 PUSHVAR A$\n3 PULLCASE 1\n4 PUSHINTCASE 1, 1, @7\n5 =3 B$, 1\n6 BRANCH @8\n7 =3 B$, 0\n"},
        {"TRY a$ = 1; EXCEPT a$ = 2; END;",
         "2 TRY\n3 PUSHINT 1\n4 =2 A$\n5 BRANCH @8\n6 PUSHINT 2\n7 =2 A$\n8 EXCEPT\n",
         "2 TRY\n3 =3 A$, 1\n4 BRANCH @6\n5 =3 A$, 2\n6 EXCEPT\n"},
        {"p$ = &MAIN;",
         "2 PUSHPROCADDR &MAIN\n3 =2 P$\n",
         "2 PUSHPROCADDR &MAIN\n3 =2 P$\n"},
        {"x$ = \"a\" % \"b\";",
         "2 PUSHSTR \"a\"\n3 PUSHSTR \"b\"\n4 %\n5 =2 X$\n",
         "2 PUSHSTRSTR \"a\", \"b\"\n3 %\n4 =2 X$\n"},
    };
    for (const SourceCase& c : kCases) {
        EXPECT_EQ(CompileBody(c.body, false), c.plain) << c.body;
        EXPECT_EQ(CompileBody(c.body, true), c.optimised) << c.body;
        EXPECT_EQ(Errors(), "") << c.body;
    }
}

TEST_F(CodeGeneratorTest, RangeCheckAndExplicitSetTheContextsBytes) {
    Generate("#RANGECHECK #EXPLICIT PROC:MAIN __ENDDECL END");
    EXPECT_EQ(context->rangeCheck, 1);
    EXPECT_EQ(context->explicitDeclarations, 1);
}

// A remembered assignment target is consumed once: the outer "=" of a$ = (b$ = 1)
// is the generic one, which takes A$'s push from the stack.
TEST_F(CodeGeneratorTest, AnAssignmentTargetIsTakenOverOnlyOnce) {
    EXPECT_EQ(GenerateBody("T:A$ T:B$ 1 __SET_PUSH = ="),
              "2 NGPUSHVAR A$\n3 PUSHINT 1\n4 __SET_PUSH\n5 =2 B$\n6 =\n");
    EXPECT_EQ(Errors(), "");
}

// An indexed compound assignment: OFFSET2_1 takes over A$'s push, and the
// "+=" after it works on the element it leaves, through the generic step.
TEST_F(CodeGeneratorTest, AnIndexedCompoundAssignmentKeepsItsElement) {
    EXPECT_EQ(GenerateBody("M:A$ I$ __OFFSET1 2 +="), "2 PUSHVAR I$\n3 OFFSET2_1 A$\n4 PUSHINT 2\n5 +=\n");
}

// A target consumed by M= (several targets) is forgotten: a later indexed
// assignment must not take it over.
TEST_F(CodeGeneratorTest, ATargetConsumedByAnotherStepIsForgotten) {
    EXPECT_EQ(GenerateBody("T:A$ T:B$ __SAVESP 1 2 2 M= M:C$ 1 __OFFSET1 5 ="),
              "2 NGPUSHVAR A$\n3 NGPUSHVAR B$\n4 __SAVESP\n5 PUSHINT 1\n6 PUSHINT 2\n7 PUSHINT 2\n8 M=\n"
              "9 PUSHINT 1\n10 OFFSET2_1 C$\n11 PUSHINT 5\n12 =\n");
    // The variable of a compound assignment taken as an argument of a call.
    EXPECT_EQ(GenerateBody("M:A$ SQRT 2 +="), "2 PUSHVAR A$\n3 SQRT\n4 PUSHINT 2\n5 +=\n");
    // "=" whose right side leaves two values is not the target's own.
    EXPECT_EQ(GenerateBody("T:A$ 1 2 ="), "2 NGPUSHVAR A$\n3 PUSHINT 1\n4 PUSHINT 2\n5 =\n");
}

TEST_F(CodeGeneratorTest, ProcedureHeadersMakeRecordsAndStartNodes) {
    const std::string listing = Generate(
        "FUNC/_:F(2,1) B$ A$ __ENDDECL FIRST_OP __SAVESP A$ B$ + RETURN END\n"
        "NPROC:N(0,0) __ENDDECL2 END\n"
        "NFUNC:M(0,1) __ENDDECL2 END\n"
        "PROC:MAIN __ENDDECL END");
    EXPECT_EQ(listing,
              "0 test.qob\n1 STARTPROC <EC>_! F(2,1)\n2 PARMSPUSHVAR B$\n3 PARMSPUSHVAR A$\n4 __SAVESP\n"
              "5 PUSHVAR A$\n6 PUSHVAR B$\n7 +\n8 RETURN <EC>_! F(2,1)\n9 ENDPROC <EC>_! F(2,1)\n"
              "10 STARTPROCUNDEF <EA> N(0,0)\n11 NPARMS\n12 ENDPROC <EA> N(0,0)\n"
              "13 STARTPROCUNDEF <C4> ! M(0,1)\n14 NPARMS\n15 ENDPROC <C4> ! M(0,1)\n"
              "16 STARTPROC <E9> MAIN\n17 ENDPROC <E9> MAIN\n18 ENDPROC test.qob\n");
    EXPECT_EQ(Errors(), "");
    ASSERT_EQ(procedureCount, 4);
    struct Expected {
        const char* name;
        uint8_t count, undefinedStart, underscore;
    };
    const Expected kRecords[] = {{"F(2,1)", 1, 0, 1}, {"N(0,0)", 0, 1, 0}, {"M(0,1)", 1, 1, 0}, {"MAIN", 0, 0, 0}};
    Instruction* start = program->next;
    for (int i = 0; i < 4; ++i) {
        const ProcedureRecord* record = procedures[i];
        EXPECT_STREQ(record->name, kRecords[i].name);
        EXPECT_EQ(record->countByte, kRecords[i].count) << record->name;
        EXPECT_EQ(record->undefinedStart, kRecords[i].undefinedStart) << record->name;
        EXPECT_EQ(record->underscore, kRecords[i].underscore) << record->name;
        ASSERT_NE(record->start, nullptr);
        EXPECT_EQ(record->start->operand, kRecords[i].count) << record->name;
        EXPECT_EQ(record->start->extraWord, kRecords[i].undefinedStart) << record->name;
        ASSERT_NE(record->start->extra, nullptr);
        EXPECT_EQ(record->start->extra->isJumpTarget, 1) << record->name;
        EXPECT_EQ(record->start->extra->flagByte, kRecords[i].underscore) << record->name;
    }
    EXPECT_EQ(procedures[0]->start, start);
    EXPECT_EQ(entry.entry, procedures[3]->start);
    EXPECT_FALSE(entry.isWinMain);
    EXPECT_EQ(context->entry, procedures[3]->start);
}

TEST_F(CodeGeneratorTest, TheEntryIsTheLaterOfMainAndWinMain) {
    Generate("FUNC:WINMAIN __ENDDECL END PROC:MAIN __ENDDECL END");
    ASSERT_EQ(procedureCount, 2);
    EXPECT_EQ(entry.entry, procedures[1]->start);
    EXPECT_FALSE(entry.isWinMain);
    Generate("PROC:MAIN __ENDDECL END FUNC:WINMAIN __ENDDECL END");
    EXPECT_EQ(entry.entry, procedures[1]->start);
    EXPECT_TRUE(entry.isWinMain);
    EXPECT_EQ(context->entryIsWinMain, 1);
    // MAIN with a result and WINMAIN without one are no entries.
    Generate("FUNC:MAIN __ENDDECL END PROC:WINMAIN __ENDDECL END");
    EXPECT_EQ(entry.entry, nullptr);
}

// A top-level program without MAIN or WINMAIN has no entry; only a child or an
// eval text without procedures runs from its first node.
TEST_F(CodeGeneratorTest, OnlyUnitsAllowedToRunFromTheirFirstNodeDoSo) {
    Generate("T:A$ 1 =");
    EXPECT_EQ(entry.entry, nullptr);
    CodeGenOptions child;
    child.optimize = false;
    child.firstNodeEntry = true;
    Generate(BuildStream("T:A$ 1 ="), child);
    EXPECT_EQ(entry.entry, program);
    Generate(BuildStream("PROC:P(0,0) __ENDDECL END"), child);
    EXPECT_EQ(entry.entry, nullptr);
}

TEST_F(CodeGeneratorTest, CallsOfLaterAndForwardProceduresAreResolvedAfterTheWalk) {
    const std::string listing = Generate(
        "FPROC:LATER(0,0)\n"
        "PROC:MAIN __ENDDECL C:LATER(0,0) C:AFTER(0,0) &LATER(0,0) END\n"
        "PROC:LATER(0,0) __ENDDECL END\n"
        "PROC:AFTER(0,0) __ENDDECL END");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(listing,
              "0 test.qob\n1 FORWARDPROC <E8> LATER(0,0)\n2 STARTPROC <E9> MAIN\n3 CALL LATER(0,0), @8\n"
              "4 CALL AFTER(0,0), @10\n5 PUSHPROCADDR &LATER(0,0)\n6 ENDPROC <E9> MAIN\n"
              "7 STARTPROC <E9> LATER(0,0)\n8 ENDPROC <E9> LATER(0,0)\n9 STARTPROC <E9> AFTER(0,0)\n"
              "10 ENDPROC <E9> AFTER(0,0)\n11 ENDPROC test.qob\n");
    ASSERT_EQ(procedureCount, 3);
    EXPECT_EQ(procedures[0]->start->opcode, static_cast<uint32_t>(Opcode::STARTPROC));
    const Instruction* address = program->next->next->next->next->next;
    EXPECT_EQ(address->operand, static_cast<double>(reinterpret_cast<uintptr_t>(procedures[0]->start)));
    EXPECT_EQ(procedures[0]->start, address->next->next);
}

TEST_F(CodeGeneratorTest, ACallOfAProcedureNoUnitDefinesCannotBeResolved) {
    Generate("PROC:MAIN __ENDDECL\nC:MISSING(0,0) &GONE(0,0)\nEND");
    EXPECT_EQ(Errors(), ErrorAt("Proc or Func \"GONE(0,0)\" not found", "&GONE(0,0)", 2, 2) +
                            ErrorAt("Cannot resolve [MISSING(0,0)] address", "MISSING(0,0)", 2, 1));
}

TEST_F(CodeGeneratorTest, ProceduresInANamespaceAreFoundFromItOnly) {
    const std::string listing = Generate(
        "#NAMESPACE NS PROC:P(0,0) __ENDDECL C:Q(0,0) END PROC:Q(0,0) __ENDDECL END #ENDNAMESPACE\n"
        "PROC:MAIN __ENDDECL :: NS C:P(0,0) C:Q(0,0) END");
    // Q is called before its definition inside NS: resolved in NS after the
    // walk. From MAIN, Q without "::" is not found.
    EXPECT_EQ(listing,
              "0 test.qob\n1 STARTPROC <E9> P(0,0)\n2 CALL Q(0,0), @5\n3 ENDPROC <E9> P(0,0)\n"
              "4 STARTPROC <E9> Q(0,0)\n5 ENDPROC <E9> Q(0,0)\n6 STARTPROC <E9> MAIN\n7 CALL P(0,0), @2\n"
              "8 CALL Q(0,0), -\n9 ENDPROC <E9> MAIN\n10 ENDPROC test.qob\n");
    EXPECT_EQ(Errors(), ErrorAt("Cannot resolve [Q(0,0)] address", "Q(0,0)", 2, 6));
    ASSERT_EQ(procedureCount, 3);
    EXPECT_EQ(procedures[0]->namespaceHash, HashNameConstant("NS"));
    EXPECT_EQ(procedures[2]->namespaceHash, 0u);
}

TEST_F(CodeGeneratorTest, SelfAndInheritedCallsBindTheObject) {
    Generate(
        "#CLASS <empty> BASE PROC:__CLASSCODE_BASE.__INIT(0,0) __ENDDECL END\n"
        "#CLASS BASE KID PROC:__CLASSCODE_KID.__INIT(0,0) __ENDDECL I:__CLASSCODE_BASE.__INIT(0,0) END\n"
        "PROC/_:__CLASSCODE_KID.RUN(0,0) __ENDDECL S:__CLASSCODE_KID.RUN(0,0) END");
    EXPECT_EQ(Errors(), "");
    const Instruction* inherited = procedures[1]->start->next;
    EXPECT_EQ(inherited->opcode, static_cast<uint32_t>(Opcode::SELFCALL));
    EXPECT_EQ(inherited->handler, CallOwnMethod);
    EXPECT_EQ(JumpTarget(inherited), procedures[0]->start);
    const Instruction* self = procedures[2]->start->next;
    EXPECT_EQ(self->opcode, static_cast<uint32_t>(Opcode::SELFCALL));
    EXPECT_NE(self->handler, CallOwnMethod);
    EXPECT_EQ(JumpTarget(self), procedures[2]->start);
    // The classes head the context's list, newest first.
    ASSERT_NE(context->classRecords, nullptr);
    EXPECT_STREQ(context->classRecords->name, "KID");
    EXPECT_STREQ(context->classRecords->baseName, "BASE");
    EXPECT_EQ(context->classRecords->baseHash, HashNameConstant("BASE"));
    ASSERT_NE(context->classRecords->next, nullptr);
    EXPECT_STREQ(context->classRecords->next->name, "BASE");
    EXPECT_EQ(context->classRecords->next->baseName, nullptr);
}

TEST_F(CodeGeneratorTest, AClassThatInheritsFromItselfIsRefused) {
    Generate("#CLASS A B\n#CLASS B A\n#CLASS C C");
    // B (base A) is made first; A with base B would close a circle.
    EXPECT_EQ(Errors(), ErrorAt("Class \"A\" cannot inherit from itself", "A", 2, 3) +
                            ErrorAt("Class \"C\" cannot inherit from itself", "C", 3, 3));
    ASSERT_NE(context->classRecords, nullptr);
    EXPECT_STREQ(context->classRecords->name, "B");
    EXPECT_EQ(context->classRecords->next, nullptr);
}

TEST_F(CodeGeneratorTest, DeclarationsLeaveSevenDataNodesAndCallsUseTheNativeOpcodes) {
    const std::string listing = Generate(
        "#DECLARE BEEP beep libsound.so 3 0\n"
        "#C_DECLAREAPI TONE tone libsound.so 1 1\n"
        "PROC:MAIN __ENDDECL 1 2 3 BEEP 4 TONE DROPSTACK END");
    EXPECT_EQ(listing,
              "0 test.qob\n1 DECLARE BEEP\n2 beep\n3 libsound.so\n4\n5\n6\n7\n"
              "8 C_DECLAREAPI TONE\n9 tone\n10 libsound.so\n11\n12\n13\n14\n"
              "15 STARTPROC <E9> MAIN\n16 PUSHINT 1\n17 PUSHINT 2\n18 PUSHINT 3\n19 SCALLP3 BEEP\n20 PUSHINT 4\n"
              "21 CALLF1 TONE\n22 DROPSTACK\n23 ENDPROC <E9> MAIN\n24 ENDPROC test.qob\n");
    // The data nodes: argument count, result kind, wide texts, direct call.
    const Instruction* node = program->next;
    const double kData[2][4] = {{3, 0, 0, 1}, {1, 1, 1, 0}};
    for (const auto& data : kData) {
        for (int i = 0; i < 3; ++i) node = node->next;
        for (double value : data) {
            EXPECT_EQ(node->opcode, 0u);
            EXPECT_EQ(node->operand, value);
            node = node->next;
        }
    }
    const FunctionRecord* beep = FunctionRecordAt(FindFunctionByName("BEEP"));
    ASSERT_NE(beep, nullptr);
    EXPECT_TRUE(beep->declaredNative);
    EXPECT_EQ(beep->exportName, "beep");
    EXPECT_EQ(beep->libraryName, "libsound.so");
    EXPECT_EQ(beep->argumentCount, 3);
    EXPECT_EQ(beep->sForm, 1);
    const FunctionRecord* tone = FunctionRecordAt(FindFunctionByName("TONE"));
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->wideText, 1);
    EXPECT_EQ(tone->sForm, 0);
    EXPECT_EQ(tone->returnsValue, 1);
}

// A native function with more than 16 arguments, or a result kind other than
// 0 or 1, has no call opcode: an error at the declaration and at each call,
// and no node for the call.
TEST_F(CodeGeneratorTest, NativeFunctionsWithoutACallOpcodeAreRefused) {
    const std::string listing = Generate(
        "#DECLARE MANYARGS many libx.so 17 0\n"
        "#DECLARE ODDRESULT odd libx.so 1 2\n"
        "PROC:MAIN __ENDDECL\nMANYARGS ODDRESULT\nEND");
    EXPECT_EQ(Errors(),
              ErrorAt("Native function \"MANYARGS\" takes 17 arguments: at most 16 can be passed", "#DECLARE", 1, 1) +
                  ErrorAt("Native function \"ODDRESULT\" has result kind 2: only 0 (none) and 1 (a value) can be called",
                          "#DECLARE", 2, 1) +
                  ErrorAt("Native function \"MANYARGS\" takes 17 arguments: at most 16 can be passed", "MANYARGS", 4, 1) +
                  ErrorAt("Native function \"ODDRESULT\" has result kind 2: only 0 (none) and 1 (a value) can be called",
                          "ODDRESULT", 4, 2));
    EXPECT_EQ(listing.find("CALL"), std::string::npos) << listing;
}

// Nodes outside procedure bodies carry a handler that does nothing, so that a
// unit run from its first node passes over declarations and classes.
TEST_F(CodeGeneratorTest, DataAndDeclarationNodesCarryAHandler) {
    CodeGenOptions child;
    child.optimize = false;
    child.firstNodeEntry = true;
    Generate(BuildStream("#DECLARE BEEP beep libsound.so 3 0 #CLASS <empty> SHAPE 1 DROPSTACK"), child);
    int checked = 0;
    for (const Instruction* node = program; node; node = node->next, ++checked) {
        ASSERT_NE(node->handler, nullptr) << checked;
        const auto opcode = static_cast<Opcode>(node->opcode);
        if (opcode == Opcode::None || opcode == Opcode::DECLARE || node->opcode == 183) {
            EXPECT_EQ(node->handler, NopHandler) << checked;
        }
    }
    EXPECT_EQ(checked, 13);
    ASSERT_EQ(entry.entry, program);
    EXPECT_TRUE(RunEntry());
    EXPECT_EQ(context->stackTop->below, nullptr);
    // A FORWARD header keeps the handler that patches a pending jump.
    Generate(BuildStream("FPROC:P(0,0)"), child);
    EXPECT_EQ(program->next->handler, PatchPendingJump);
}

TEST_F(CodeGeneratorTest, TokensTheGeneratorCannotPlaceAreSyntaxErrors) {
    Generate("PROC:MAIN __ENDDECL\n1 UNKNOWNWORD ?X O:NODOT 2 __DROPFCTSTACK\nEND");
    EXPECT_EQ(Errors(), ErrorAt("Syntax error", "UNKNOWNWORD", 2, 2) + ErrorAt("Syntax error", "?X", 2, 3) +
                            ErrorAt("Invalid object call", "\xE5" "NODOT", 2, 4));
    // __DROPFCTSTACK turned the count before it into its own step.
    const Instruction* drop = procedures[0]->start->next->next;
    EXPECT_EQ(drop->opcode, static_cast<uint32_t>(Opcode::DROPFCTSTACK));
    EXPECT_EQ(drop->operand, 2.0);
}

TEST_F(CodeGeneratorTest, TooManyProceduresIsAnError) {
    std::string notation;
    for (int i = 0; i <= 4096; ++i) notation += "PROC:P" + std::to_string(i) + "(0,0) __ENDDECL END\n";
    Generate(notation);
    EXPECT_EQ(procedureCount, 4096);
    EXPECT_EQ(Errors(), ErrorAt("Too many procs or funcs (more than 4096)", "\xE9   P4096(0,0)", 4097, 1));
}

TEST_F(CodeGeneratorTest, ProgressIsReportedOncePerToken) {
    static std::vector<std::string> texts;
    static int last = 0;
    texts.clear();
    last = 0;
    CodeGenOptions options;
    options.optimize = false;
    options.progress = [](const char* text, int position, int total) -> int64_t {
        if (text) texts.push_back(text);
        EXPECT_EQ(total, 5);
        last = position;
        return position + 1;
    };
    Generate(BuildStream("PROC:MAIN __ENDDECL 1 DROPSTACK END"), options);
    EXPECT_EQ(texts, std::vector<std::string>{"Compiling (test.qob)..."});
    EXPECT_EQ(last, 5);
}

}  // namespace
}  // namespace qob::testing
