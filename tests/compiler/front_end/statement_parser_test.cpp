// tests/compiler/front_end/statement_parser_test.cpp
// Statements, procedures, declarations, namespaces and classes to the
// postfix stream; the procedure table they fill; the statement messages.
#include "compiler/front_end/statement_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/parser_support.h"
#include "compiler/procedure_table.h"
#include "host/command_line.h"
#include "runtime/vm/program_context.h"

namespace qob::testing {
namespace {

struct Case {
    const char* source;
    const char* stream;
};

using StatementParserTest = ParserTest;

TEST_F(StatementParserTest, ControlStatements) {
    constexpr Case kCases[] = {
        {"IF (a$ > 1)\n b$ = 1;\nELSE\n b$ = 2;\nEND;",
         "FIRST_OP A$ 1 > IF <FB>B$ 1 = ELSE <FB>B$ 2 = END"},
        {"IF (a$)\nELSE IF (b$)\nELSE\nEND;", "FIRST_OP A$ IF ELSE B$ __ELSEIF ELSE END"},
        {"WHILE (a$ < 10)\n a$++;\n IF (a$ == 5) BREAK; END;\n CONTINUE;\nEND;",
         "FIRST_OP __STARTWHILE A$ 10 < WHILE <F9>A$ ++ A$ 5 == IF BREAK END CONTINUE END"},
        {"FOR (i$, 1, 10)\nEND;", "FIRST_OP __STARTFOR __SAVESP I$ 1 10 FOR END"},
        {"FOREACH (x$, l$)\nEND;", "FIRST_OP __STARTFOREACH __SAVESP X$ L$ FOREACH END"},
        {"FOREACHREV (x$, l$)\nEND;", "FIRST_OP __STARTFOREACH __SAVESP X$ L$ FOREACHREV END"},
        {"REPEAT\n a$++;\nUNTIL (a$ > 5);", "FIRST_OP __STARTREPEAT REPEAT <F9>A$ ++ A$ 5 > UNTIL"},
        {"CASE (a$)\n 1: b$ = 1;\n 2, 3: b$ = 2;\n -1: b$ = 4;\n \"x\": b$ = 5;\n DEFAULT: b$ = 3;\nEND;",
         "FIRST_OP A$ CASE __STARTCASE 1 :1 <FB>B$ 1 = __STARTCASE 2 3 :2 <FB>B$ 2 = __STARTCASE 0 1 - :1 "
         "<FB>B$ 4 = __STARTCASE \"x\" :1 <FB>B$ 5 = __STARTCASE DEFAULT :1 <FB>B$ 3 = END"},
        {"TRY\n a$ = 1;\nEXCEPT\n a$ = 2;\nEND;", "FIRST_OP TRY <FB>A$ 1 = EXCEPT <FB>A$ 2 = END"},
        {"TRY\nEXCEPT\nFINALLY\nEND;", "FIRST_OP TRY EXCEPT FINALLY END"},
        {"RETURN(1, 2);", "FIRST_OP __SAVESP 1 2 RETURN"},
        {"RETURN;", "FIRST_OP __SAVESP RETURN"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Parse("PROC MAIN\n" + std::string(c.source) + "\nEND;"),
                  "<E9>-0-MAIN __ENDDECL " + std::string(c.stream) + " END")
            << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
        FreeUnitProcedures();
    }
}

TEST_F(StatementParserTest, ProcedureHeadersCarryTheirKindBytesAndKeys) {
    constexpr Case kCases[] = {
        {"PROC MAIN\nEND;", "<E9>-0-MAIN __ENDDECL FIRST_OP END"},
        {"FUNC WINMAIN\nEND;", "<EC>-1-WINMAIN __ENDDECL FIRST_OP END"},
        {"PROC foo(a$, b$)\nEND;", "<E9>-0-FOO(2,0) B$ A$ __ENDDECL FIRST_OP END"},
        {"PROC empty()\nEND;", "<E9>-0-EMPTY(0,0) __ENDDECL FIRST_OP END"},
        {"FUNC f(x$) : 2\nEND;", "<EC>-2-F(1,2) X$ __ENDDECL FIRST_OP END"},
        {"NPROC np\nEND;", "<EA>-0-NP(0,0) __ENDDECL2 FIRST_OP END"},
        {"NFUNC nf\nEND;", "<C4>-1-NF(0,1) __ENDDECL2 FIRST_OP END"},
        {"NFUNC nf2 : 2\nEND;", "<EC>-2-NF2(0,2) __ENDDECL2 FIRST_OP END"},
        {"FORWARD PROC a(x$);", "<E8>-0-A(1,0)"},
        {"FORWARD FUNC b;", "<E7>-1-B(0,1)"},
        {"FORWARD NPROC c;", "<EB>-0-C(0,0)"},
        {"FORWARD NFUNC d;", "<EF>-1-D(0,1)"},
        {"FORCELINK PRIVATE PROC e\nEND;", "<E9>_0LE(0,0) __ENDDECL FIRST_OP END"},
        {"PRIVATE FORCELINK FUNC g(a$, b$) : 2\nEND;", "<EC>_2LG(2,2) B$ A$ __ENDDECL FIRST_OP END"},
        {"PRIVATE PUBLIC PROC h\nEND;", "<E9>-0-H(0,0) __ENDDECL FIRST_OP END"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Parse(c.source), c.stream) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
        FreeUnitProcedures();
    }
}

TEST_F(StatementParserTest, TheProcedureTableHoldsWhatTheHeadersSay) {
    Parse("FORWARD FUNC later(a$);\n#NAMESPACE NS\nPRIVATE NFUNC nf : 3\nEND;\n#ENDNAMESPACE\n"
          "FUNC later(a$)\nEND;");
    ASSERT_EQ(Errors(), "");
    ASSERT_EQ(UnitProcedureCount(), 2);
    const ProcedureRecord* later = UnitProcedureAt(0);
    EXPECT_STREQ(later->name, "LATER(1,1)");
    EXPECT_EQ(later->countByte, 1);
    EXPECT_EQ(later->undefinedStart, 0);
    EXPECT_FALSE(UnitProcedureFactsAt(0)->forward);  // the definition took the forward record over
    const ProcedureRecord* nf = UnitProcedureAt(1);
    EXPECT_STREQ(nf->name, "NF(0,3)");
    EXPECT_EQ(nf->countByte, 3);
    EXPECT_EQ(nf->undefinedStart, 1);
    EXPECT_EQ(nf->underscore, 1);
    EXPECT_EQ(nf->namespaceHash, HashText("NS"));
}

// FORWARD twice: the second header leaves the stream again, without a message.
TEST_F(StatementParserTest, RepeatedForwardDeclarationLeavesOneHeader) {
    EXPECT_EQ(Parse("FORWARD PROC a;\nFORWARD PROC a;\nPROC a\nEND;"), "<E8>-0-A(0,0) <E9>-0-A(0,0) __ENDDECL FIRST_OP END");
    EXPECT_EQ(Errors(), "");
}

TEST_F(StatementParserTest, CallsSeeProceduresDeclaredForward) {
    EXPECT_EQ(Parse("FORWARD FUNC f(a$);\nPROC MAIN\n x$ = f(1);\nEND;\nFUNC f(a$)\nEND;"),
              "<E7>-1-F(1,1) <E9>-0-MAIN __ENDDECL FIRST_OP <FB>X$ __SAVESP 1 <E0>F(1,1) 1 __DROPFCTSTACK = END "
              "<EC>-1-F(1,1) A$ __ENDDECL FIRST_OP END");
    EXPECT_EQ(Errors(), "");
}

// OVERRIDE covers the one definition that carries it: a later duplicate is
// still reported (it used to stay on until the next NPROC or NFUNC).
TEST_F(StatementParserTest, OverrideCoversOnlyItsOwnDefinition) {
    Parse("PROC a\nEND;\nOVERRIDE PROC a\nEND;\nPROC b\nEND;\nPROC b\nEND;");
    EXPECT_EQ(Errors(), ErrorAt("Duplicate proc or func \"B(0,0)\"", "END", 8, 1));
    EXPECT_EQ(UnitProcedureCount(), 2);
}

TEST_F(StatementParserTest, ForceGlobalIsWrittenAsGlobal) {
    EXPECT_EQ(Parse("PROC MAIN\nFORCEGLOBAL(g$);\nGLOBAL(h$);\nEND;"),
              "<E9>-0-MAIN __ENDDECL __NOEXPLICITCHECK __SAVESP G$ GLOBAL __NOEXPLICITCHECK __SAVESP H$ GLOBAL FIRST_OP "
              "END");
    EXPECT_EQ(Errors(), "");
}

TEST_F(StatementParserTest, Declarations) {
    EXPECT_EQ(Parse("PROC MAIN\nLOCAL(a$, b$ = 2);\nSTRUCT(pt$, \"x\", \"y\");\na$ = 1;\nEND;"),
              "<E9>-0-MAIN __ENDDECL __NOEXPLICITCHECK __SAVESP A$ <FB>B$ 2 __SET_PUSH = LOCAL FIRST_OP __SAVESP PT$ "
              "\"x\" \"y\" STRUCT <FB>A$ 1 = END");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(Warnings(), "");
    // Top level declarations are allowed; deeper in a procedure they are not.
    ResetCompileMessages();
    Parse("GLOBAL(top$);\nPROC p\nIF (1)\n LOCAL(x$);\nEND;\nEND;");
    EXPECT_EQ(Errors(), ErrorAt("Can only declare variables at func/proc/class main code level!", "LOCAL", 4, 2));
}

TEST_F(StatementParserTest, UndeclaredVariablesInProceduresAreWarnedAbout) {
    Parse("PROC p(a$)\nLOCAL(b$);\nc$ = a$ + b$ + obj.x$;\nEND;\nd$ = 1;");
    EXPECT_EQ(Errors(), "");
    // Parameters and declared names are local; a dotted name is exempt, and
    // outside procedures nothing is checked.
    EXPECT_EQ(Warnings(), WarningAt("Variable is not defined as local, it might be used as global", "C$", 3, 1));
    // With "W1" dotted names are checked too.
    Switches.parserWarnings = true;
    FreeUnitProcedures();
    Parse("PROC p\nLOCAL(c$);\nc$ = obj.x$;\nEND;");
    EXPECT_NE(Warnings().find("at 'OBJ.X$' (3,6)"), std::string::npos) << Warnings();
}

// Many local names (more than the name table starts with), names that go
// with their procedure, and a name declared again in the next procedure.
TEST_F(StatementParserTest, LocalNamesLastUntilTheirProcedureEnds) {
    std::string declared;
    std::string used = "x$ = 0";
    for (int i = 0; i < 40; ++i) {
        declared += (i == 0 ? "v" : ", v") + std::to_string(i) + "$";
        used += " + v" + std::to_string(i) + "$";
    }
    Parse("PROC p\nLOCAL(x$, " + declared + ");\n" + used + ";\nEND;\nPROC q\nLOCAL(v7$);\nv7$ = v8$;\nEND;");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(Warnings(), WarningAt("Variable is not defined as local, it might be used as global", "V8$", 7, 7));
}

TEST_F(StatementParserTest, NamespacesAndCodeDirectives) {
    EXPECT_EQ(Parse("#NAMESPACE NS\nPROC p\nEND;\n#ENDNAMESPACE\nPROC MAIN\n::NS p();\nEND;"),
              "#NAMESPACE NS <E9>-0-P(0,0) __ENDDECL FIRST_OP END #ENDNAMESPACE <E9>-0-MAIN __ENDDECL FIRST_OP :: NS "
              "<E0>P(0,0) END");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(UnitProcedureAt(0)->namespaceHash, HashText("NS"));
    // Outside its namespace the procedure's name is unknown.
    ResetCompileMessages();
    Parse("PROC q\n p();\nEND;");
    EXPECT_EQ(Errors(), ErrorAt("Proc or Func \"P\" not found", ";", 2, 5));
    // A forward declaration may name its namespace.
    FreeUnitProcedures();
    ResetCompileMessages();
    Parse("FORWARD PROC ::OTHER r;");
    EXPECT_EQ(UnitProcedureAt(0)->namespaceHash, HashText("OTHER"));
}

TEST_F(StatementParserTest, CodeDirectiveRenamesTheFileOfTheFollowingTokens) {
    EXPECT_EQ(Parse("#CODE \"lib.qob,1\"\nPROC p\nx;\nEND;"), "<E9>-0-P(0,0) __ENDDECL FIRST_OP END");
    EXPECT_EQ(Errors().rfind("error: (lib.qob) [Syntax error at 'X' (3,1)]", 0), 0u) << Errors();
}

TEST_F(StatementParserTest, ClassesWithMainCodeMethodsAndInheritance) {
    const std::string source =
        "#CLASS Animal\n"
        "PUBLIC(name$);\n"
        "PRIVATE NPROC CREATE\nEND;\n"
        "PUBLIC FUNC speak(x$)\n RETURN(x$);\nEND;\n"
        "PROC helper\nEND;\n"
        "#ENDCLASS\n"
        "#CLASS Dog Animal\n"
        "PROC helper2\nEND;\n"
        "PROC bark\n y$ = speak(1);\n helper2();\n #INHERITED speak(2);\nEND;\n"
        "#ENDCLASS\n";
    const std::string stream = Parse(source);
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(stream,
              "#CLASS <empty> ANIMAL <E9>-0-__CLASSCODE_ANIMAL.__INIT(0,0) __ENDDECL __NOEXPLICITCHECK __SAVESP NAME$ "
              "PUBLIC END <EA>_0-__CLASSCODE_ANIMAL.CREATE(0,0) __ENDDECL2 FIRST_OP END "
              "<EC>-1-__CLASSCODE_ANIMAL.SPEAK(1,1) X$ __ENDDECL FIRST_OP __SAVESP X$ RETURN END "
              "<E9>_0-__CLASSCODE_ANIMAL.HELPER(0,0) __ENDDECL FIRST_OP END "
              "#CLASS ANIMAL DOG <E9>-0-__CLASSCODE_DOG.__INIT(0,0) __ENDDECL <E4>__CLASSCODE_ANIMAL.__INIT(0,0) END "
              "<E9>_0-__CLASSCODE_DOG.HELPER2(0,0) __ENDDECL FIRST_OP END "
              "<E9>_0-__CLASSCODE_DOG.BARK(0,0) __ENDDECL FIRST_OP <FB>Y$ __SAVESP 1 <E2>__CLASSCODE_ANIMAL.SPEAK(1,1) "
              "1 __DROPFCTSTACK = <E2>__CLASSCODE_DOG.HELPER2(0,0) __SAVESP 2 <E4>__CLASSCODE_ANIMAL.SPEAK(1,1) 1 "
              "__DROPALLFCTSTACK END");
    ClassRecord* dog = UnitClassList();
    ASSERT_NE(dog, nullptr);
    EXPECT_STREQ(dog->name, "DOG");
    EXPECT_STREQ(dog->baseName, "ANIMAL");
}

TEST_F(StatementParserTest, DottedDefinitionsObjectsAndClassTyping) {
    const std::string stream = Parse(
        "#CLASS Shape\n#ENDCLASS\n"
        "PRIVATE NPROC Shape.CREATE\nEND;\n"
        "PROC MAIN\n"
        " #OBJECT Shape s$(1, 2)\n"
        " Shape(a$, &b$);\n"
        " x$ = Shape(c$).area();\n"
        "END;\n");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(stream,
              "#CLASS <empty> SHAPE <E9>-0-__CLASSCODE_SHAPE.__INIT(0,0) __ENDDECL END "
              "<EA>_0-__CLASSCODE_SHAPE.CREATE(0,0) __ENDDECL2 FIRST_OP END "
              "<E9>-0-MAIN __ENDDECL \"SHAPE\" S$ __CLASS __SAVESP2 1 2 S$ __CLASSCREATE "
              "FIRST_OP \"SHAPE\" A$ __CLASS2 \"SHAPE\" B$ __VARADDR __CLASS2 "
              "<FB>X$ \"SHAPE\" C$ __CLASS3 __SAVESP2 <E5>STACK.AREA(0,1);1 = END");
}

TEST_F(StatementParserTest, DebugAndProfileMarkers) {
    Switches.debugMode = true;
    EXPECT_EQ(Parse("PROC MAIN\na$ = 1;\nWHILE (a$)\nEND;\nREPEAT\nUNTIL (1);\nEND;"),
              "__DEBUG <E9>-0-MAIN __ENDDECL __DEBUG FIRST_OP <FB>A$ 1 = __STARTWHILE __DEBUG A$ WHILE END __DEBUG "
              "__STARTREPEAT __DEBUG REPEAT __DEBUG __DEBUG 1 UNTIL END __DEBUG");
    FreeUnitProcedures();
    Switches = RuntimeSwitches{};
    Switches.profiling = true;
    EXPECT_EQ(Parse("PROC MAIN\na$ = 1;\nEND;"),
              "<E9>-0-MAIN __ENDDECL \"test.qob\" 1 __PROFILE FIRST_OP <FB>A$ 1 = \"test.qob\" 2 __PROFILE END "
              "\"test.qob\" 3 __PROFILE");
    EXPECT_EQ(Errors(), "");
}

TEST_F(StatementParserTest, ChildTextsAreExpressionItems) {
    EXPECT_EQ(Parse("1 + 2; a$ = 3, max(4)", 1), "1 2 + <FB>A$ 3 __SET_PUSH = __SAVESP 4 MAX");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(Parse("", 1), "");
    EXPECT_EQ(Parse(""), "");
    EXPECT_EQ(Errors(), "");
}

TEST_F(StatementParserTest, RangeCheckAndExplicitAreCopied) {
    EXPECT_EQ(Parse("#RANGECHECK\n#EXPLICIT;\nPROC MAIN\nEND"), "#RANGECHECK #EXPLICIT <E9>-0-MAIN __ENDDECL FIRST_OP END");
    EXPECT_EQ(Errors(), "");
}

TEST_F(StatementParserTest, StatementMessagesWithTheirPositions) {
    struct Broken {
        const char* source;
        std::string errors;
    };
    const Broken kCases[] = {
        {"PROC p\n a$ = 1 2;\nEND;", ErrorAt("Syntax error", "2", 2, 9)},
        {"WHILE (1)\nPROC p\nEND;\nEND;", ErrorAt("Func or Proc definition cannot be embedded", "PROC", 2, 1)},
        {"FORWARD x$;", ErrorAt("PROC or FUNC statement expected", "X$", 1, 9)},
        {"NPROC n(a$)\nEND;", ErrorAt("Cannot specify parameters for NPROC or NFUNC", "(", 1, 8)},
        {"PROC p : 2\nEND;", ErrorAt("Cannot assign multiple outputs on a PROC or a NPROC!", "END", 2, 1)},
        {"FUNC f : x\nEND;", ErrorAt("Numeric value expected", "X", 1, 10)},
        {"PROC p(1)\nEND;", ErrorAt("Variable expected", "1", 1, 8)},
        {"PROC p(a$,)\nEND;", ErrorAt("Variable expected", ")", 1, 11)},
        {"PROC p(a$ b$)\nEND;", ErrorAt("Syntax error", "B$", 1, 11)},
        {"PROC p(a$\n", ErrorAt("Closing ) missing", "A$", 1, 8)},
        {"PROC p(a$;\nEND;", ErrorAt("Closing ) missing", ";", 1, 10)},
        {"PROC p\nEND;\nPROC p\nEND;", ErrorAt("Duplicate proc or func \"P(0,0)\"", "END", 4, 1)},
        {"PROC p\nEND;\nFORWARD PROC p;", ErrorAt("Duplicate forward proc or func \"P(0,0)\"", ";", 3, 15)},
        {"FORWARD FUNC f(a$);\nFUNC f\nEND;", ErrorAt("Different proc or func \"F(0,1)\" declaration", "END", 3, 1)},
        {"#CLASS C\nPUBLIC NPROC CREATE\nEND;\n#ENDCLASS", ErrorAt("Create proc definition must be private", "CREATE", 2, 14)},
        {"#CLASS C\nPRIVATE PROC CREATE\nEND;\n#ENDCLASS", ErrorAt("Create proc definition must be NPROC", "CREATE", 2, 14)},
        {"#CLASS C\nPRIVATE FUNC DESTROY\nEND;\n#ENDCLASS", ErrorAt("Destroy proc definition must be PROC", "DESTROY", 2, 14)},
        {"#CLASS C\nPUBLIC PROC DESTROY\nEND;\n#ENDCLASS", ErrorAt("Destroy proc definition must be private", "DESTROY", 2, 13)},
        {"#CLASS C\nOVERRIDE PROC p\nEND;\n#ENDCLASS", ErrorAt("OVERRIDE is not supported in a class definition", "OVERRIDE", 2, 1)},
        {"PROC Nowhere.p\nEND;", ErrorAt("Class \"NOWHERE\" not found", "NOWHERE.P", 1, 6)},
        {"PROC MAIN\n#OBJECT Nowhere o$\nEND;", ErrorAt("Class \"NOWHERE\" not found", "NOWHERE", 2, 9)},
        {"#CLASS C\n#INHERITED p();\n#ENDCLASS",
         ErrorAt("No inheritance defined for class \"C\"", "#INHERITED", 2, 1) +
             ErrorAt("Not inheritance found for class \"C\"", "P", 2, 12) +
             ErrorAt("Proc or Func \"P\" not found", ";", 2, 15)},
        {"#CLASS A\nPROC secret\nEND;\n#ENDCLASS\n#CLASS B A\nPROC m\n secret();\nEND;\n#ENDCLASS",
         ErrorAt("Cannot call a private proc or func outside it's class definition", ";", 7, 10)},
        {"#CLASS C\n#ENDCLASS\nPROC MAIN\nC(a$[1]);\nEND;", ErrorAt("Cannot classtype array here", ";", 4, 9)},
        {"#CLASS C\n#ENDCLASS\nPROC MAIN\nC(1);\nEND;", ErrorAt("Variable expected", "1", 4, 3)},
        {"#CLASS C\n#ENDCLASS\nPROC MAIN\nC;\nEND;", ErrorAt("Expression expected", ";", 4, 2)},
        {"#CLASS C\n#ENDCLASS\nPROC MAIN\nC(a$;\nEND;", ErrorAt("Closing ) missing", ";", 4, 5)},
        {"PROC MAIN\nCASE (1)\n 1 2: a$ = 1;\nEND;\nEND;", ErrorAt(": or , expected", "2", 3, 4)},
        {"PROC MAIN\nIF;\nEND;\nEND;", ErrorAt("Expression expected", ";", 2, 3)},
        {"PROC MAIN\nWHILE\nEND;\nEND;", ErrorAt("Expression expected", "END", 3, 1)},
        {"PROC MAIN\nUNTIL;\nEND;", ErrorAt("Expression expected", ";", 2, 6)},
        // At the end of the input, also when the last token was inside an
        // index list that has been emitted since.
        {"PROC MAIN\nC(a$[1",
         ErrorAt("Closing ] missing", "1", 2, 6) + ErrorAt("Closing ) missing", "1", 2, 6) +
             ErrorAt("Proc or Func \"C\" not found", "1", 2, 6)},
        {"PROC MAIN\nx$ = a$[b$[2", ErrorAt("Closing ] missing", "2", 2, 12) + ErrorAt("Closing ] missing", "2", 2, 12)},
    };
    for (const Broken& c : kCases) {
        FreeUnitProcedures();
        FreeUnitClasses();
        ResetCompileMessages();
        Parse(c.source);
        EXPECT_EQ(Errors(), c.errors) << c.source;
    }
}

TEST_F(StatementParserTest, AFullProcedureTableIsReported) {
    std::string source;
    for (int i = 0; i <= kMaxProcedures; ++i) source += "FORWARD PROC p" + std::to_string(i) + ";\n";
    Parse(source);
    EXPECT_EQ(UnitProcedureCount(), kMaxProcedures);
    EXPECT_EQ(Errors(), ErrorAt("Too many procs or funcs", ";", kMaxProcedures + 1, 19));
}

// Broken sources of every kind end without a crash and with an error.
TEST_F(StatementParserTest, BrokenSourcesNeverCrash) {
    const char* kSources[] = {
        ")", "]", "(", "[", ":", "::", "&", "=", "+", "PROC", "FUNC (", "FORWARD", "OVERRIDE",
        "#CLASS", "#CLASS (", "#OBJECT", "#OBJECT C", "#ENDCLASS", "#INHERITED", "#NAMESPACE", "PROC p(", "PROC p(a$,", "FUNC f :", "a$ =", "a$[", "a$[1", "a$[1,", "x$ = [[[", "f(((",
        "IF (", "CASE (1) 1", "CASE (1) 1,", "a$, b$", "a$, b$ =", "&", "&a$[", "++", "--", "a$ ++ ++",
        "x$ = a$ AND", "x$ = NOT", "x$ = -", "x$ = @", "obj.", ".x(", "a$[1].", "a$[1].(", "STRUCT(", "LOCAL(", "RETURN(",
        "PROC p\nEND;\nPROC p(a$)\nEND;\nx$ = p(p(p(1)));",
    };
    for (const char* source : kSources) {
        FreeUnitProcedures();
        FreeUnitClasses();
        ResetCompileMessages();
        Parse(std::string("PROC MAIN\n") + source);
        EXPECT_GT(GetCompileMessageState().errorCount, 0) << source;
        ResetCompileMessages();
        Parse(source);
    }
}

}  // namespace
}  // namespace qob::testing
