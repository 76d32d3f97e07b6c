// tests/compiler/back_end/control_statements_test.cpp
// Block statements: listings with their jumps (a listed target is the node
// execution goes on at), the pairing messages, BREAK and CONTINUE across
// nested blocks, and the bounds of the block bookkeeping.
#include "compiler/codegen_support.h"

#include "compiler/back_end/control_statements.h"
#include "compiler/back_end/node_emitter.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/token_list.h"
#include "runtime/data/hash.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"

namespace qob::testing {
namespace {

using ControlStatementsTest = CodegenTest;

struct Case {
    const char* body;
    const char* listing;
};

void ExpectListings(CodegenTest& test, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(test.GenerateBody(c.body), c.listing) << c.body;
        EXPECT_EQ(CodegenTest::Errors(), "") << c.body;
        ResetCompileMessages();
    }
}

TEST_F(ControlStatementsTest, IfElseIfElse) {
    ExpectListings(*this, {
        {"A$ IF 1 DROPSTACK ELSE 2 DROPSTACK END",
         "2 PUSHVAR A$\n3 IF @7\n4 PUSHINT 1\n5 DROPSTACK\n6 BRANCH @9\n7 PUSHINT 2\n8 DROPSTACK\n"},
        // ELSE IF: one END resolves the IF, the ELSEIF and both ELSE jumps.
        {"A$ IF 1 DROPSTACK ELSE B$ __ELSEIF 2 DROPSTACK ELSE 3 DROPSTACK END",
         "2 PUSHVAR A$\n3 IF @7\n4 PUSHINT 1\n5 DROPSTACK\n6 BRANCH @14\n7 PUSHVAR B$\n8 IF @12\n9 PUSHINT 2\n"
         "10 DROPSTACK\n11 BRANCH @14\n12 PUSHINT 3\n13 DROPSTACK\n"},
        // An empty body: the IF jumps to the node after itself.
        {"A$ IF END", "2 PUSHVAR A$\n3 IF @4\n"},
        {"A$ IF B$ IF END END", "2 PUSHVAR A$\n3 IF @6\n4 PUSHVAR B$\n5 IF @6\n"},
    });
}

TEST_F(ControlStatementsTest, Loops) {
    ExpectListings(*this, {
        // The test leaves the loop after the END's BRANCH; END and CONTINUE
        // jump back after INITWHILE; BREAK goes after the END's BRANCH.
        {"__STARTWHILE A$ WHILE CONTINUE BREAK END",
         "2 INITWHILE\n3 PUSHVAR A$\n4 WHILE @10\n5 BRANCH @3\n6 ENDLOOP\n7 BRANCH @10\n8 ENDLOOP\n9 BRANCH @3\n"
         "10 ENDLOOP\n"},
        {"__STARTFOR __SAVESP I$ 1 10 FOR BREAK END",
         "2 INITFOR\n3 __SAVESP\n4 PUSHVAR I$\n5 PUSHINT 1\n6 PUSHINT 10\n7 FOR\n8 BRANCH @11\n9 ENDLOOP\n"
         "10 BRANCH @3\n11 ENDLOOP\n"},
        // BREAK in a FOREACH first ends the walk of its loop.
        {"__STARTFOREACH __SAVESP X$ L$ FOREACHREV BREAK END",
         "2 INITFOREACH\n3 __SAVESP\n4 PUSHVAR X$\n5 PUSHVAR L$\n6 FOREACH\n7 BREAK\n8 BRANCH @11\n9 ENDLOOP\n"
         "10 BRANCH @3\n11 ENDLOOP\n"},
        // UNTIL and CONTINUE go back to the body; BREAK after the UNTIL.
        {"__STARTREPEAT REPEAT CONTINUE BREAK A$ UNTIL",
         "2 INITWHILE\n3 BRANCH @3\n4 ENDLOOP\n5 BRANCH @9\n6 ENDLOOP\n7 PUSHVAR A$\n8 UNTIL @3\n9 ENDLOOP\n"},
    });
}

TEST_F(ControlStatementsTest, ForEachNodesCarryTheirDirection) {
    GenerateBody("__STARTFOREACH __SAVESP X$ L$ FOREACH BREAK END __STARTFOREACH __SAVESP X$ L$ FOREACHREV BREAK END");
    const double kDirections[] = {0.0, 1.0};
    const Instruction* node = program;
    for (double direction : kDirections) {
        while (node->opcode != static_cast<uint32_t>(Opcode::FOREACH)) node = node->next;
        const Instruction* test = node;
        EXPECT_EQ(test->operand, direction);
        node = node->next;
        ASSERT_EQ(node->opcode, static_cast<uint32_t>(Opcode::BREAK));
        EXPECT_EQ(node->operand, direction);
        EXPECT_EQ(JumpTarget(node), test);
        node = node->next;
    }
}

TEST_F(ControlStatementsTest, TryExceptFinally) {
    ExpectListings(*this, {
        {"TRY 1 DROPSTACK EXCEPT 2 DROPSTACK END",
         "2 TRY\n3 PUSHINT 1\n4 DROPSTACK\n5 BRANCH @8\n6 PUSHINT 2\n7 DROPSTACK\n8 EXCEPT\n"},
        {"TRY EXCEPT 2 DROPSTACK FINALLY 3 DROPSTACK END",
         "2 TRY\n3 BRANCH @6\n4 PUSHINT 2\n5 DROPSTACK\n6 EXCEPT\n7 PUSHINT 3\n8 DROPSTACK\n"},
    });
    GenerateBody("TRY 1 DROPSTACK EXCEPT END");
    const Instruction* tryNode = program->next->next;
    ASSERT_EQ(tryNode->opcode, static_cast<uint32_t>(Opcode::TRY));
    const Instruction* branch = JumpTarget(tryNode);
    ASSERT_NE(branch, nullptr);
    EXPECT_EQ(branch->opcode, static_cast<uint32_t>(Opcode::BRANCH));
}

TEST_F(ControlStatementsTest, CaseLabelsAndBranches) {
    ExpectListings(*this, {
        {"A$ CASE __STARTCASE 1 :1 B$ DROPSTACK __STARTCASE 2 3 :2 C$ DROPSTACK __STARTCASE DEFAULT :1 D$ DROPSTACK END",
         "2 PUSHVAR A$\n3 PULLCASE 1\n4 PUSHINT 1\n5 PUSHCASE 1\n6 PUSHVAR B$\n7 DROPSTACK\n8 BRANCH @17\n"
         "9 PUSHINT 2\n10 PUSHINT 3\n11 PUSHCASE 1\n12 PUSHVAR C$\n13 DROPSTACK\n14 BRANCH @17\n15 PUSHVAR D$\n"
         "16 DROPSTACK\n"},
    });
    // Each label goes on after its branch's BRANCH when no value matches; the
    // last one after the END.
    GenerateBody("A$ CASE __STARTCASE 1 :1 __STARTCASE 2 3 :2 B$ DROPSTACK END");
    const Instruction* first = program->next->next->next->next->next;
    ASSERT_EQ(first->opcode, static_cast<uint32_t>(Opcode::PUSHCASE));
    EXPECT_EQ(first->extraWord, 1u);
    EXPECT_EQ(first->operand, 1.0);
    ASSERT_EQ(JumpTarget(first), first->next);
    EXPECT_EQ(JumpTarget(first)->opcode, static_cast<uint32_t>(Opcode::BRANCH));
    const Instruction* second = first->next->next->next->next;
    ASSERT_EQ(second->opcode, static_cast<uint32_t>(Opcode::PUSHCASE));
    EXPECT_EQ(second->extraWord, 2u);
    EXPECT_EQ(JumpTarget(second), second->next->next);
    // Nested CASEs keep their selectors in slots of their own.
    EXPECT_EQ(GenerateBody("A$ CASE __STARTCASE 1 :1 B$ CASE __STARTCASE 2 :1 END END"),
              "2 PUSHVAR A$\n3 PULLCASE 1\n4 PUSHINT 1\n5 PUSHCASE 1\n6 PUSHVAR B$\n7 PULLCASE 2\n8 PUSHINT 2\n"
              "9 PUSHCASE 2\n");
}

// CONTINUE inside an IF inside a WHILE inside a REPEAT continues the WHILE.
TEST_F(ControlStatementsTest, ContinueTakesTheInnermostLoop) {
    EXPECT_EQ(GenerateBody("__STARTREPEAT REPEAT __STARTWHILE A$ WHILE B$ IF CONTINUE END END C$ UNTIL"),
              "2 INITWHILE\n3 INITWHILE\n4 PUSHVAR A$\n5 WHILE @11\n6 PUSHVAR B$\n7 IF @10\n8 BRANCH @4\n"
              "9 ENDLOOP\n10 BRANCH @4\n11 ENDLOOP\n12 PUSHVAR C$\n13 UNTIL @3\n14 ENDLOOP\n");
    EXPECT_EQ(Errors(), "");
}

// BREAK in a CASE inside a FOREACH ends the FOREACH's walk and leaves the
// FOREACH: the CASE's END does not take its jump.
TEST_F(ControlStatementsTest, BreakInACaseLeavesTheLoopAroundIt) {
    EXPECT_EQ(GenerateBody("__STARTFOREACH __SAVESP X$ L$ FOREACH A$ CASE __STARTCASE 1 :1 BREAK END END"),
              "2 INITFOREACH\n3 __SAVESP\n4 PUSHVAR X$\n5 PUSHVAR L$\n6 FOREACH\n7 PUSHVAR A$\n8 PULLCASE 2\n"
              "9 PUSHINT 1\n10 PUSHCASE 2\n11 BREAK\n12 BRANCH @15\n13 ENDLOOP\n14 BRANCH @3\n15 ENDLOOP\n");
}

// BREAK in a REPEAT inside a FOREACH leaves the REPEAT only, and leaves the
// FOREACH's walk alone.
TEST_F(ControlStatementsTest, BreakInARepeatLeavesTheRepeat) {
    EXPECT_EQ(GenerateBody("__STARTFOREACH __SAVESP X$ L$ FOREACH __STARTREPEAT REPEAT BREAK A$ UNTIL END"),
              "2 INITFOREACH\n3 __SAVESP\n4 PUSHVAR X$\n5 PUSHVAR L$\n6 FOREACH\n7 INITWHILE\n8 BRANCH @12\n"
              "9 ENDLOOP\n10 PUSHVAR A$\n11 UNTIL @8\n12 ENDLOOP\n13 BRANCH @3\n14 ENDLOOP\n");
}

// In an EXCEPT part inside a loop, BREAK and CONTINUE reach the loop (never
// a jump without target), and pop the TRY entry still pushed there.
TEST_F(ControlStatementsTest, BreakAndContinueInAnExceptPart) {
    EXPECT_EQ(GenerateBody("__STARTWHILE A$ WHILE TRY EXCEPT BREAK CONTINUE END END"),
              "2 INITWHILE\n3 PUSHVAR A$\n4 WHILE @15\n5 TRY\n6 BRANCH @13\n7 EXPECT\n8 BRANCH @15\n9 ENDLOOP\n"
              "10 EXPECT\n11 BRANCH @3\n12 ENDLOOP\n13 EXCEPT\n14 BRANCH @3\n15 ENDLOOP\n");
}

// One EXPECT per TRY left; none once FINALLY has popped the entry.
TEST_F(ControlStatementsTest, LeavingTriesPopsTheirEntries) {
    ExpectListings(*this, {
        {"__STARTWHILE A$ WHILE TRY TRY BREAK EXCEPT END EXCEPT END END",
         "2 INITWHILE\n3 PUSHVAR A$\n4 WHILE @16\n5 TRY\n6 TRY\n7 EXPECT\n8 EXPECT\n9 BRANCH @16\n10 ENDLOOP\n"
         "11 BRANCH @12\n12 EXCEPT\n13 BRANCH @14\n14 EXCEPT\n15 BRANCH @3\n16 ENDLOOP\n"},
        {"__STARTWHILE A$ WHILE TRY EXCEPT FINALLY CONTINUE END END",
         "2 INITWHILE\n3 PUSHVAR A$\n4 WHILE @11\n5 TRY\n6 BRANCH @7\n7 EXCEPT\n8 BRANCH @3\n9 ENDLOOP\n"
         "10 BRANCH @3\n11 ENDLOOP\n"},
        // A TRY around the loop stays: BREAK leaves the loop, not the TRY.
        {"TRY __STARTWHILE A$ WHILE BREAK END EXCEPT END",
         "2 TRY\n3 INITWHILE\n4 PUSHVAR A$\n5 WHILE @9\n6 BRANCH @9\n7 ENDLOOP\n8 BRANCH @4\n9 ENDLOOP\n"
         "10 BRANCH @11\n11 EXCEPT\n"},
    });
}

// Each message at its token (line 2 of the unit, column = the token's place
// in the body); the unit is still finished.
TEST_F(ControlStatementsTest, UnpairedKeywordsAreReported) {
    struct ErrorCase {
        const char* body;
        const char* message;
        const char* token;
        int column;
    };
    const ErrorCase kCases[] = {
        {"END END", "END statement not linked with any statement", "END", 2},
        {"ELSE", "ELSE statement found without an IF statement '%s'", "ELSE", 1},
        {"A$ IF ELSE ELSE END", "ELSE statement found without an IF statement '%s'", "ELSE", 4},
        {"__STARTWHILE A$ WHILE ELSE END", "ELSE statement found without an IF statement '%s'", "ELSE", 4},
        {"A$ UNTIL", "UNTIL found without a REPEAT statement", "UNTIL", 2},
        {"TRY A$ UNTIL EXCEPT END", "UNTIL found without a REPEAT statement", "UNTIL", 3},
        {"EXCEPT", "EXCEPT found without a TRY statement", "EXCEPT", 1},
        {"__STARTREPEAT REPEAT EXCEPT A$ UNTIL", "EXCEPT found without a TRY statement", "EXCEPT", 3},
        {"BREAK", "BREAK statement found outside a loop", "BREAK", 1},
        {"TRY BREAK EXCEPT END", "BREAK statement found outside a loop", "BREAK", 2},
        {"CONTINUE", "CONTINUE statement found outside a loop", "CONTINUE", 1},
        {"__STARTREPEAT REPEAT END", "Syntax error", "END", 3},
        {"FINALLY", "Syntax error", "FINALLY", 1},
        {"__STARTCASE 1 :1", "Syntax error", "__STARTCASE", 1},
        {"1 :1", "Syntax error", ":1", 2},
    };
    for (const ErrorCase& c : kCases) {
        ResetCompileMessages();
        GenerateBody(c.body);
        const std::string errors = Errors();
        EXPECT_EQ(errors.substr(0, errors.find('\n') + 1), ErrorAt(c.message, c.token, 2, c.column)) << c.body;
        const Instruction* last = program;
        while (last->next) last = last->next;
        EXPECT_EQ(last->opcode, static_cast<uint32_t>(Opcode::ENDPROC)) << c.body;
    }
}

TEST_F(ControlStatementsTest, BlocksLeftOpenAtTheEndOfTheUnit) {
    struct OpenCase {
        const char* notation;
        std::string errors;
    };
    const OpenCase kCases[] = {
        {"PROC:MAIN __ENDDECL\nA$ IF",
         ErrorWithout("An IF statement has not been closed with an END statement") +
             ErrorAt("An END statement is missing", "IF", 2, 2)},
        {"PROC:MAIN __ENDDECL\n__STARTREPEAT REPEAT",
         ErrorWithout("A REPEAT, FOREACH or a FOR statement has not been closed with an UNTIL statement!") +
             ErrorAt("An END statement is missing", "REPEAT", 2, 2)},
        // An END meant as UNTIL closes the REPEAT with a message; the procedure stays open.
        {"PROC:MAIN __ENDDECL\n__STARTREPEAT REPEAT\nEND",
         ErrorAt("Syntax error", "END", 3, 1) +
             ErrorWithout("A REPEAT, FOREACH or a FOR statement has not been closed with an UNTIL statement!") +
             ErrorAt("An END statement is missing", "MAIN", 1, 1)},
        {"PROC:MAIN __ENDDECL\n__STARTWHILE A$ WHILE",
         ErrorWithout("A WHILE statement has not been closed with an END statement!") +
             ErrorAt("An END statement is missing", "WHILE", 2, 3)},
        {"PROC:MAIN __ENDDECL\n__STARTWHILE A$ WHILE\nEND", ErrorAt("An END statement is missing", "MAIN", 1, 1)},
        {"PROC:MAIN __ENDDECL\nTRY EXCEPT",
         ErrorWithout("A WHILE statement has not been closed with an END statement!") +
             ErrorAt("An END statement is missing", "EXCEPT", 2, 2)},
        {"PROC:MAIN __ENDDECL\nTRY",
         ErrorWithout("A REPEAT, FOREACH or a FOR statement has not been closed with an UNTIL statement!") +
             ErrorAt("An END statement is missing", "TRY", 2, 1)},
    };
    for (const OpenCase& c : kCases) {
        ResetCompileMessages();
        Generate(c.notation);
        EXPECT_EQ(Errors(), c.errors) << c.notation;
    }
}

// Bounds of the bookkeeping: a compile error at the statement that would
// pass one, and nothing written past it.
TEST_F(ControlStatementsTest, NestingBeyondTheBoundsIsAnError) {
    struct BoundCase {
        std::string body;
        std::string message;
    };
    auto repeat = [](const std::string& text, int times) {
        std::string out;
        for (int i = 0; i < times; ++i) out += text;
        return out;
    };
    const BoundCase kCases[] = {
        {repeat("__STARTWHILE A$ WHILE ", kMaxOpenLoops + 1), "Loops nested too deeply (more than 128)"},
        {repeat("A$ IF ", kMaxIfParts + 1), "Too many open IF and ELSEIF parts (more than 128)"},
        {"A$ IF " + repeat("ELSE A$ __ELSEIF ", kMaxIfParts), "Too many open IF and ELSEIF parts (more than 128)"},
        {repeat("__STARTREPEAT REPEAT ", kMaxRepeatTry + 1), "REPEAT and TRY statements nested too deeply (more than 128)"},
        {repeat("TRY ", kMaxRepeatTry + 1), "REPEAT and TRY statements nested too deeply (more than 128)"},
        {repeat("TRY EXCEPT ", kMaxOpenBlocks), "Statements nested too deeply (more than 4096)"},
        {repeat("TRY EXCEPT ", kMaxCaseDepth - 1) + "A$ CASE", "CASE nested too deeply (more than 1024)"},
        {repeat("A$ CASE __STARTCASE 1 :1 ", kMaxCaseLabels + 1), "Too many open CASE labels (more than 128)"},
        {"__STARTWHILE A$ WHILE " + repeat("BREAK ", kMaxPendingJumps), "Too many pending jumps (more than 512)"},
        {"A$ CASE " + repeat("__STARTCASE 1 :1 ", kMaxPendingJumps + 1), "Too many pending jumps (more than 512)"},
    };
    for (const BoundCase& c : kCases) {
        ResetCompileMessages();
        GenerateBody(c.body);
        const std::string errors = Errors();
        EXPECT_EQ(errors.substr(errors.find('[') + 1, c.message.size()), c.message) << c.message;
    }
}

// The generator asks MayCompile before it calls Compile: a word that Compile
// takes but MayCompile turns away would be compiled as a name instead.
TEST_F(ControlStatementsTest, MayCompileAdmitsEveryTokenCompileTakes) {
    NodeEmitter emitter;
    emitter.pool = context->pool;
    CurrentCompilerPool = context->pool;
    emitter.last = emitter.EmitPlain(Opcode::None, "test.qob");
    int taken = 0;
    for (size_t i = 0; i < kKeywordCount; ++i) {
        std::string text(kKeywordTexts[i]);
        TokenNode token{};
        token.text = text.data();
        token.hash = KeywordHashes.hashes[i];
        emitter.token = &token;
        // A fresh bookkeeping per word: each one meets the same empty state.
        ControlStatements control(emitter);
        const bool mayCompile = ControlStatements::MayCompile(token.hash, token.text);
        const bool compiled = control.Compile(&token);
        EXPECT_TRUE(mayCompile || !compiled) << text;
        taken += compiled ? 1 : 0;
        control.CheckAllClosed();
        ResetCompileMessages();
    }
    EXPECT_GT(taken, 0);
    // Case labels go by their text.
    char label[] = ":2";
    TokenNode token{};
    token.text = label;
    token.hash = HashName(label, 2);
    EXPECT_TRUE(ControlStatements::MayCompile(token.hash, token.text));
}

}  // namespace
}  // namespace qob::testing
