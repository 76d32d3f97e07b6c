// tests/compiler/front_end/expression_parser_test.cpp
// Expressions to the postfix stream: precedence and associativity, operands,
// variables, assignments inside expressions, calls, index and matrix lists,
// and the expression messages.
#include "compiler/front_end/expression_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "compiler/compile_messages.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/parser_support.h"
#include "runtime/registry/function_table.h"

namespace qob::testing {
namespace {

struct Case {
    const char* source;
    const char* stream;
};

class ExpressionParserTest : public ParserTest {
protected:
    // A child's text is a list of expression items: the stream of the
    // expression alone, with no statement around it.
    std::string Expression(std::string_view source) { return Parse(source, 1); }
    // The body of PROC MAIN (between __ENDDECL and its END). OVERRIDE lets
    // one test define MAIN more than once.
    std::string Body(std::string_view source) {
        std::string text = Parse("OVERRIDE PROC MAIN\n" + std::string(source) + "\nEND;");
        const std::string head = "<E9>-0-MAIN __ENDDECL ";
        const std::string tail = " END";
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
        EXPECT_GE(text.size(), head.size() + tail.size()) << text;
        if (text.size() < head.size() + tail.size()) return text;
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
        return text.substr(head.size(), text.size() - head.size() - tail.size());
    }
};

TEST_F(ExpressionParserTest, PrecedenceAndAssociativityAreTheLanguagesOwn) {
    constexpr Case kCases[] = {
        {"a$ + b$ * c$", "A$ B$ C$ * +"},
        // "/" binds tighter than "*": a quotient times a factor, and a
        // product whose right operand is a quotient.
        {"a$ / b$ * c$", "A$ B$ / C$ *"},
        {"a$ * b$ / c$", "A$ B$ C$ / *"},
        {"a$ MOD b$ DIV c$", "A$ B$ C$ DIV MOD"},
        {"a$ % b$ + c$", "A$ B$ % C$ +"},
        {"a$ + b$ % c$", "A$ B$ C$ % +"},
        {"a$ - b$ - c$", "A$ B$ - C$ -"},
        {"a$ / b$ / c$", "A$ B$ / C$ /"},
        {"a$ & b$ | c$ ^ d$", "A$ B$ & C$ | D$ ^"},
        // Shifts share the comparisons' level, below "+".
        {"a$ << 2 + 1", "A$ 2 1 + <<"},
        {"a$ SHL 1 < b$ >> 2", "A$ 1 SHL B$ < 2 >>"},
        {"a$ < b$ + 1", "A$ B$ 1 + <"},
        {"a$ == b$ <> c$", "A$ B$ == C$ <>"},
        {"a$ <= 1 >= 0", "A$ 1 <= 0 >="},
        // AND, OR and XOR take the whole rest of the expression.
        {"a$ AND b$ OR c$", "A$ B$ C$ OR AND"},
        {"a$ OR b$ AND c$", "A$ B$ C$ AND OR"},
        {"a$ XOR b$ XOR c$", "A$ B$ C$ XOR XOR"},
        {"a$ == 1 AND b$ + 1 > 2", "A$ 1 == B$ 1 + 2 > AND"},
        {"(a$ OR b$) AND c$", "A$ B$ OR C$ AND"},
        {"(a$ + b$) * c$", "A$ B$ + C$ *"},
        {"-a$ * b$", "0 A$ - B$ *"},
        {"+a$", "0 A$ +"},
        {"a$ - -1", "A$ 0 1 - -"},
        {"NOT a$", "A$ NOT"},
        {"NOT a$ + 1", "A$ NOT 1 +"},
        {"~a$ * 2", "A$ ~ 2 *"},
        {"@a$ + 1", "A$ @ 1 +"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Expression(c.source), c.stream) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

TEST_F(ExpressionParserTest, OperandsCallsAndLists) {
    constexpr Case kCases[] = {
        {"12", "12"},
        {"\"text\"", "\"text\""},
        {"'A'", "65"},
        {"DEFAULT", "DEFAULT"},
        {"1, 2", "1 2"},
        {"(1, 2)", "1 2"},
        {"sqrt(a$ + 1)", "__NOOP A$ 1 + SQRT"},
        {"rand", "__NOOP RAND"},
        {"rand()", "__NOOP RAND"},
        {"mid(s$, 1, 2)", "__NOOP S$ 1 2 MID"},
        // A built-in with an argument frame: __SAVESP before its arguments.
        {"max(1, 2, 3)", "__NOOP __SAVESP 1 2 3 MAX"},
        {"max(sqrt(4), max(5))", "__NOOP __SAVESP 4 SQRT __SAVESP 5 MAX MAX"},
        {"[1, 2]", "__SAVESP 1 2 __MAKEMATRIX"},
        {"[1, [2, 3]]", "__SAVESP 1 __SAVESP 2 3 __MAKEMATRIX __MAKEMATRIX"},
        {"[]", "__SAVESP __MAKEMATRIX"},
        {"a$[1]", "<F9>A$ 1 __OFFSET1"},
        {"a$[1, i$ + 1]", "<F9>A$ __SAVESP 1 I$ 1 + __OFFSET"},
        {"a$[1][2]", "<F9>A$ 1 __OFFSET1 2 __OFFSET1"},
        {"a$[b$[1]]", "<F9>A$ <F9>B$ 1 __OFFSET1 __OFFSET1"},
        {"a$[1].x$", "<F9>A$ 1 __OFFSET1 \"X$\" __OFFSETVAR"},
        {"&a$", "A$ __VARADDR"},
        {"&a$[1]", "<F9>A$ 1 __OFFSET1 __VARADDR"},
        {"obj.x$", "OBJ.X$"},
        // Methods bound at run time: the object variable is the part before
        // the "." with "$".
        {"obj.area(1, 2)", "__NOOP __SAVESP2 1 2 <E5>OBJ$.AREA(2,1);1"},
        {"a$[2].area()", "__NOOP __SAVESP2 <F9>A$ 2 __OFFSET1 <E5>STACK.AREA(0,1);1"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Expression(c.source), c.stream) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

TEST_F(ExpressionParserTest, AssignmentsAndStepsInsideExpressionsLeaveTheirValue) {
    constexpr Case kCases[] = {
        {"a$ = 5", "<FB>A$ 5 __SET_PUSH ="},
        {"x$ + (a$ = 1)", "X$ <FB>A$ 1 __SET_PUSH = +"},
        {"a$ = b$ = 2", "<FB>A$ <FB>B$ 2 __SET_PUSH = __SET_PUSH ="},
        {"a$ += 2", "<F9>A$ 2 __SET_PUSH +="},
        {"a$[1] = 2", "<F9>A$ 1 __OFFSET1 2 __SET_PUSH ="},
        {"a$++", "<F9>A$ __SET_PUSH ++"},
        {"a$-- * 2", "<F9>A$ __SET_PUSH -- 2 *"},
        {"++a$", "__SET_PUSH <F9>A$ ++2"},
        {"&a$ = 1", "<FB>A$ __VARADDR 1 __SET_PUSH ="},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Expression(c.source), c.stream) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

// The right side of an assignment inside an expression must leave exactly
// one value; the count test used to be inverted and refused exactly that.
TEST_F(ExpressionParserTest, AssignmentInsideAnExpressionNeedsExactlyOneValue) {
    Parse("PROC none\nEND;\nFUNC two : 2\nEND;");
    EXPECT_EQ(Errors(), "");
    Expression("x$ + (a$ = 1)");
    EXPECT_EQ(Errors(), "");
    Expression("x$ + (a$ = two())");
    EXPECT_EQ(Errors(), "");
    Expression("x$ + (a$ = (1, 2))");
    EXPECT_EQ(Errors(), ErrorAt("Invalid number of output arguments (2)", ")", 1, 18));
    ResetCompileMessages();
    Expression("x$ + (a$ = none())");
    EXPECT_EQ(Errors(), ErrorAt("Invalid number of output arguments (0)", ")", 1, 18));
}

TEST_F(ExpressionParserTest, StatementFormsOfVariables) {
    constexpr Case kCases[] = {
        {"a$ = -b$;", "FIRST_OP <FB>A$ 0 B$ - ="},
        {"a$ = sqrt(2);", "FIRST_OP <FB>A$ 2 SQRT ="},
        {"a$ += 1;", "FIRST_OP <F9>A$ 1 +="},
        {"a$ &= 1;", "FIRST_OP <F9>A$ 1 &="},
        {"a$++;", "FIRST_OP <F9>A$ ++"},
        {"a$--;", "FIRST_OP <F9>A$ --"},
        {"a$[2] = 1;", "FIRST_OP <F9>A$ 2 __OFFSET1 1 ="},
        {"a$[2] += 1;", "FIRST_OP <F9>A$ 2 __OFFSET1 1 +="},
        {"a$[1].x$ = 3;", "FIRST_OP <F9>A$ 1 __OFFSET1 \"X$\" __OFFSETVAR 3 ="},
        {"a$, b$ = 1, 2;", "FIRST_OP <FB>A$ <FB>B$ __SAVESP 1 2 2 M="},
        {"a$, b$, c$ = 1;", "FIRST_OP <FB>A$ <FB>B$ <FB>C$ __SAVESP 1 3 M="},
        {"a$ = b$ = 1;", "FIRST_OP <FB>A$ <FB>B$ 1 __SET_PUSH = ="},
        {"rand();", "FIRST_OP RAND DROPSTACK"},
        {"showmessage(\"hi\", 2);", "FIRST_OP __SAVESP \"hi\" 2 SHOWMESSAGE"},
        {"obj.draw();", "FIRST_OP __SAVESP2 <E5>OBJ$.DRAW(0,0);1"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Body(c.source), c.stream) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

TEST_F(ExpressionParserTest, ProcedureCallsAndTheirResults) {
    Parse("PROC p(a$)\nEND;\nFUNC f(a$)\nEND;\nFUNC g : 2\nEND;\nNPROC n\nEND;\nNFUNC nf\nEND;");
    ASSERT_EQ(Errors(), "");
    constexpr Case kCases[] = {
        {"p(1);", "FIRST_OP 1 <E0>P(1,0)"},
        {"x$ = f(1);", "FIRST_OP <FB>X$ __SAVESP 1 <E0>F(1,1) 1 __DROPFCTSTACK ="},
        {"f(2);", "FIRST_OP __SAVESP 2 <E0>F(1,1) 1 __DROPALLFCTSTACK"},
        {"x$ = g();", "FIRST_OP <FB>X$ __SAVESP <E0>G(0,2) 1 __DROPFCTSTACK ="},
        {"a$, b$ = g();", "FIRST_OP <FB>A$ <FB>B$ __SAVESP __SAVESP <E0>G(0,2) 2 __DROPFCTSTACK 2 M="},
        {"a$, b$ = f(1), f(2);",
         "FIRST_OP <FB>A$ <FB>B$ __SAVESP __SAVESP 1 <E0>F(1,1) 1 __DROPFCTSTACK __SAVESP 2 <E0>F(1,1) 1 "
         "__DROPFCTSTACK 2 M="},
        {"showmessage(g() : 2);", "FIRST_OP __SAVESP __SAVESP <E0>G(0,2) 2 __DROPFCTSTACK SHOWMESSAGE"},
        {"n(1, 2);", "FIRST_OP __SAVESP 1 2 <E0>N(0,0)"},
        {"x$ = nf(1);", "FIRST_OP <FB>X$ __SAVESP __SAVESP 1 <E0>NF(0,1) 1 __DROPFCTSTACK ="},
        {"x$ = max(f(1), 2);", "FIRST_OP <FB>X$ __SAVESP __SAVESP 1 <E0>F(1,1) 1 __DROPFCTSTACK 2 MAX ="},
        {"x$ = &p;", "FIRST_OP <FB>X$ &P(1,0) ="},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Body(c.source), c.stream) << c.source;
        EXPECT_EQ(Errors(), "") << c.source;
    }
}

// A function a program declares from a native library is called like a
// built-in of fixed arity.
TEST_F(ExpressionParserTest, DeclaredNativeFunctions) {
    ASSERT_GE(DeclareDllFunction("NATIVEADD", "native_add", "libsample.so", 2, true, false, true), 0);
    EXPECT_EQ(Body("x$ = nativeadd(1, 2);"), "FIRST_OP <FB>X$ 1 2 NATIVEADD =");
    EXPECT_EQ(Errors(), "");
    Body("x$ = nativeadd(1);");
    EXPECT_EQ(Errors(), ErrorAt("Invalid number of input parameters", ";", 2, 18));
}

TEST_F(ExpressionParserTest, NamespaceQualifiesTheOperandItPrecedes) {
    Parse("#NAMESPACE A\nPROC p(x$)\nEND;\n#ENDNAMESPACE");
    ASSERT_EQ(Errors(), "");
    // Outside the namespace the procedure is not seen; with "::" it is, and
    // the "::" travels with the call token, after the arguments.
    EXPECT_EQ(Body("::A p(v$);"), "FIRST_OP V$ :: A <E0>P(1,0)");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(Body("x$ = ::A v$ + 1;"), "FIRST_OP <FB>X$ :: A V$ 1 + =");
    EXPECT_EQ(Errors(), "");
}

TEST_F(ExpressionParserTest, MessagesWithTheirPositions) {
    Parse("PROC p(a$)\nEND;\nFUNC f\nEND;");
    ASSERT_EQ(Errors(), "");
    struct Broken {
        const char* body;
        std::string errors;
    };
    const Broken kCases[] = {
        {"x$ = (1 + 2;", ErrorAt("Closing ) missing", ";", 2, 12)},
        {"x$ = 1 + 2);", ErrorAt("Syntax error", ")", 2, 11)},
        {"x$ = ];", ErrorAt("Opening [ is missing", "]", 2, 6)},
        {"x$ = );", ErrorAt("Opening ( is missing", ")", 2, 6)},
        {"x$ = [1, 2;", ErrorAt("Closing ] missing", ";", 2, 11)},
        {"x$ = a$[];", ErrorAt("Offset value missing", "]", 2, 9)},
        {"x$ = a$[1;", ErrorAt("Closing ] missing", ";", 2, 10)},
        {"x$ = sqrt;", ErrorAt("Expression expected", ";", 2, 10)},
        {"x$ = sqrt(1, 2);", ErrorAt("Invalid number of input parameters", ";", 2, 16)},
        {"showmessage(1,, 2);", ErrorAt("Expression expected", ",", 2, 15)},
        {"showmessage(1,);", ErrorAt("Expression expected", ")", 2, 15)},
        {"showmessage(;", ErrorAt("Syntax error", ";", 2, 13)},
        {"p(1, 2);", ErrorAt("Invalid number of input parameters", ";", 2, 8)},
        {"x$ = f(1);", ErrorAt("Invalid number of input parameters", ";", 2, 10)},
        {"p(&a$[1]);", ErrorAt("Cannot pass offset pointers to proc or func!", ";", 2, 10)},
        {"x$ = f() : x$;", ErrorAt("Numeric value expected", "X$", 2, 12)},
        {"x$ = &nothing;", ErrorAt("Proc or Func \"NOTHING\" not defined", "&NOTHING", 2, 6)},
        {"nothing(1);", ErrorAt("Proc or Func \"NOTHING\" not found", ";", 2, 11)},
        {"x$;", ErrorAt("Missing = [ ++ -- statement", ";", 2, 3)},
        {"x%;", ErrorAt("Missing = ++ -- statement", ";", 2, 3)},
        {"x$ = ;", ErrorAt("Expression expected", ";", 2, 6)},
        {"x$ = 1, 2;", ErrorAt("Invalid number of output arguments (2)", ";", 2, 10)},
        {"x$ = p(1);", ErrorAt("Invalid number of output arguments (0)", ";", 2, 10)},
        {"a$, b$ = 1, 2, 3;", ErrorAt("Invalid number of output arguments (3)", ";", 2, 17)},
        {"x$ = ++1;", ErrorAt("Variable expected", "1", 2, 8)},
        // A procedure has at most 255 results: a larger count is refused, not
        // turned into as many dropped values.
        {"a.x : 410582249;", ErrorAt("Invalid number of output arguments (410582249)", ";", 2, 16)},
        {"a.x : 99999999999;", ErrorAt("Invalid number of output arguments (2147483647)", ";", 2, 18)},
        {"x$ = f() : 256;", ErrorAt("Invalid number of output arguments (256)", ";", 2, 15)},
    };
    for (const Broken& c : kCases) {
        ResetCompileMessages();
        Body(c.body);
        EXPECT_EQ(Errors(), c.errors) << c.body;
    }
}

TEST_F(ExpressionParserTest, TooDeepANestingIsReportedAndTheUnitGoesOn) {
    std::string deep = "x$ = " + std::string(70, '(') + "1" + std::string(70, ')') + ";\n";
    std::string body = Body(deep + "y$ = 2;");
    EXPECT_NE(body.find("<FB>Y$ 2 ="), std::string::npos) << body;
    EXPECT_NE(Errors().find("Expression nested too deeply"), std::string::npos) << Errors();
    // Nesting well below the limit parses normally.
    ResetCompileMessages();
    std::string nested = "x$ = " + std::string(20, '(') + "1" + std::string(20, ')') + ";";
    EXPECT_EQ(Body(nested), "FIRST_OP <FB>X$ 1 =");
    EXPECT_EQ(Errors(), "");
    // A long run of prefix signs is a nesting as well.
    ResetCompileMessages();
    std::string signs;
    for (int i = 0; i < 200; ++i) signs += "- ";
    Body("x$ = " + signs + "1;");
    EXPECT_NE(Errors().find("Expression nested too deeply"), std::string::npos);
}

TEST_F(ExpressionParserTest, ProgressIsReportedPerTokenRead) {
    static int lastPosition = 0;
    static int total = 0;
    static std::string text;
    ParserProgressHooks hooks;
    hooks.showText = [](std::string_view shown) { text = shown; };
    hooks.showPosition = [](const char*, int current, int all) -> int64_t {
        lastPosition = current;
        total = all;
        return current + 1;
    };
    SetParserProgressHooks(hooks);
    Parse("x$ = 1 + 2;", 0);
    EXPECT_EQ(text, "Parsing (test.qob)...");
    EXPECT_EQ(total, 6);
    EXPECT_EQ(lastPosition, 6);
}

}  // namespace
}  // namespace qob::testing
