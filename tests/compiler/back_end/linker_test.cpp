// tests/compiler/back_end/linker_test.cpp
// Link passes on postfix streams: which procedures survive, the pass modes,
// namespaces, the native-function declarations put in front, and the
// stream's last token.
#include "compiler/codegen_support.h"

#include "compiler/front_end/token_list.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"

namespace qob::testing {
namespace {

using LinkerTest = CodegenTest;

std::string Link(std::string_view notation, LinkOptions options = {}, const char* fileName = "test.qob") {
    TokenNode* last = LinkProgram(fileName, BuildStream(notation, fileName), options);
    std::string description = DescribeNotation(last);
    FreeTokenList(last);
    return description;
}

LinkOptions Passes(int limit) {
    LinkOptions options;
    options.passLimit = limit;
    return options;
}

constexpr const char* kMain = "PROC:MAIN __ENDDECL C:USED(0,0) END";

TEST_F(LinkerTest, UnreferencedProceduresGoWithTheirBodies) {
    const std::string stream = std::string(kMain) +
                               " PROC:USED(0,0) __ENDDECL A$ IF B$ WHILE END ELSE END END"
                               " PROC:UNUSED(0,0) __ENDDECL __STARTREPEAT REPEAT 1 UNTIL C:USED(0,0) END"
                               " FUNC:WINMAIN __ENDDECL END";
    EXPECT_EQ(Link(stream),
              "PROC:MAIN __ENDDECL C:USED(0,0) END PROC:USED(0,0) __ENDDECL A$ IF B$ WHILE END ELSE END END"
              " FUNC:WINMAIN __ENDDECL END");
}

TEST_F(LinkerTest, KeptWithoutAReference) {
    // FORCELINK, class code (a "." in the name) and the two entry forms.
    EXPECT_EQ(Link("PROC/L:BYNAME(1,0) __ENDDECL END PROC:__CLASSCODE_A.M(0,0) __ENDDECL END PROC:MAIN __ENDDECL END"),
              "PROC/L:BYNAME(1,0) __ENDDECL END PROC:__CLASSCODE_A.M(0,0) __ENDDECL END PROC:MAIN __ENDDECL END");
    // MAIN with a result and WINMAIN without one are ordinary procedures.
    EXPECT_EQ(Link("FUNC:MAIN __ENDDECL END PROC:WINMAIN __ENDDECL END"), "");
}

TEST_F(LinkerTest, AProcedureAddressIsAReference) {
    EXPECT_EQ(Link("PROC:CB(0,0) __ENDDECL END PROC:MAIN __ENDDECL &CB(0,0) DROPSTACK END"),
              "PROC:CB(0,0) __ENDDECL END PROC:MAIN __ENDDECL &CB(0,0) DROPSTACK END");
}

TEST_F(LinkerTest, PassLimitsDecideHowFarUnusedCallsAreFollowed) {
    // B is called only from A, which nothing calls: gone after the second pass.
    const char* stream = "PROC:MAIN __ENDDECL END PROC:B(0,0) __ENDDECL END PROC:A(0,0) __ENDDECL C:B(0,0) END";
    EXPECT_EQ(Link(stream, Passes(0)), "PROC:MAIN __ENDDECL END PROC:B(0,0) __ENDDECL END PROC:A(0,0) __ENDDECL C:B(0,0) END");
    EXPECT_EQ(Link(stream, Passes(1)), "PROC:MAIN __ENDDECL END PROC:B(0,0) __ENDDECL END");
    EXPECT_EQ(Link(stream, Passes(999)), "PROC:MAIN __ENDDECL END");
}

TEST_F(LinkerTest, AReferenceCountsInItsOwnNamespace) {
    // (Procedures are defined before their callers, as the parser requires.)
    // R (no namespace) called from NS stays; P of NS called with "::" from
    // MAIN stays; Q of NS called from MAIN without "::" is not found there
    // and goes; X of OTHER, called from nowhere, goes.
    EXPECT_EQ(Link("PROC:R(0,0) __ENDDECL END"
                   " #NAMESPACE NS PROC:P(0,0) __ENDDECL C:R(0,0) END PROC:Q(0,0) __ENDDECL END #ENDNAMESPACE"
                   " #NAMESPACE OTHER PROC:X(0,0) __ENDDECL END #ENDNAMESPACE"
                   " PROC:MAIN __ENDDECL :: NS C:P(0,0) C:Q(0,0) END"),
              "PROC:R(0,0) __ENDDECL END #NAMESPACE NS PROC:P(0,0) __ENDDECL C:R(0,0) END #ENDNAMESPACE"
              " #NAMESPACE OTHER #ENDNAMESPACE PROC:MAIN __ENDDECL :: NS C:P(0,0) C:Q(0,0) END");
    // A procedure of NS referenced from OTHER only goes.
    EXPECT_EQ(Link("#NAMESPACE NS PROC:Y(0,0) __ENDDECL END #ENDNAMESPACE"
                   " #NAMESPACE OTHER PROC:MAIN __ENDDECL C:Y(0,0) END #ENDNAMESPACE"),
              "#NAMESPACE NS #ENDNAMESPACE #NAMESPACE OTHER PROC:MAIN __ENDDECL C:Y(0,0) END #ENDNAMESPACE");
}

TEST_F(LinkerTest, AForwardDeclarationSharesItsDefinitionsRecord) {
    EXPECT_EQ(Link("FPROC:LATER(0,0) PROC:MAIN __ENDDECL C:LATER(0,0) END PROC:LATER(0,0) __ENDDECL END"
                   " FNFUNC:N(0,1) NFUNC:N(0,1) __ENDDECL2 END"),
              "FPROC:LATER(0,0) PROC:MAIN __ENDDECL C:LATER(0,0) END PROC:LATER(0,0) __ENDDECL END FNFUNC:N(0,1)");
}

// An N form takes any number of arguments: a call with three finds it.
TEST_F(LinkerTest, NFormsAreFoundWhateverTheArgumentCount) {
    EXPECT_EQ(Link("NPROC:N(0,0) __ENDDECL2 END PROC:MAIN __ENDDECL C:N(3,0) END"),
              "NPROC:N(0,0) __ENDDECL2 END PROC:MAIN __ENDDECL C:N(3,0) END");
}

// A procedure at the end of the stream that goes takes the last token with
// it: the linker returns the last token that is left, with the declarations
// still in front.
TEST_F(LinkerTest, DeletingTheLastProcedureKeepsTheRestOfTheStream) {
    ASSERT_GE(DeclareDllFunction("BEEPER", "beep", "libsound.so", 2, false, false, true), 0);
    TokenNode* last = LinkProgram("test.qob", BuildStream("PROC:MAIN __ENDDECL 1 2 BEEPER END PROC:GONE(0,0) __ENDDECL END"), {});
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->next, nullptr);
    EXPECT_EQ(DescribeNotation(last), "#DECLARE BEEPER beep libsound.so 2 0 PROC:MAIN __ENDDECL 1 2 BEEPER END");
    FreeTokenList(last);
    // A stream of one deleted procedure leaves nothing.
    EXPECT_EQ(LinkProgram("test.qob", BuildStream("PROC:GONE(0,0) __ENDDECL END"), {}), nullptr);
    // A body without its END runs to the end of the stream.
    EXPECT_EQ(Link("PROC:MAIN __ENDDECL END PROC:OPEN(0,0) __ENDDECL A$ IF"), "PROC:MAIN __ENDDECL END");
}

TEST_F(LinkerTest, OnlyNativeFunctionsInUseAreDeclared) {
    struct Declaration {
        const char* name;
        bool wide, sForm, returns;
    };
    const Declaration kDeclarations[] = {{"NATIVEA", false, true, false},
                                         {"NATIVEB", true, true, true},
                                         {"NATIVEC", false, false, true},
                                         {"NATIVED", true, false, false},
                                         {"NATIVEUNUSED", false, true, false}};
    for (const Declaration& d : kDeclarations) ASSERT_GE(DeclareDllFunction(d.name, "entry", "lib.so", 1, d.returns, d.wide, d.sForm), 0);
    // Declared in reference order, even with the "NL" switch.
    EXPECT_EQ(Link("PROC:MAIN __ENDDECL 1 NATIVED 1 NATIVEC DROPSTACK 1 NATIVEB DROPSTACK 1 NATIVEA 1 NATIVED END",
                   Passes(0)),
              "#C_DECLAREAPI NATIVED entry lib.so 1 0 #C_DECLARE NATIVEC entry lib.so 1 1"
              " #DECLAREAPI NATIVEB entry lib.so 1 1 #DECLARE NATIVEA entry lib.so 1 0"
              " PROC:MAIN __ENDDECL 1 NATIVED 1 NATIVEC DROPSTACK 1 NATIVEB DROPSTACK 1 NATIVEA 1 NATIVED END");
}

TEST_F(LinkerTest, DeclarationTokensHaveNoPosition) {
    ASSERT_GE(DeclareDllFunction("NATIVEA", "entry", "lib.so", 0, false, false, true), 0);
    TokenNode* last = LinkProgram("test.qob", BuildStream("PROC:MAIN __ENDDECL NATIVEA END"), {});
    const TokenNode* head = TokenListFirst(last);
    EXPECT_EQ(head->hash, KeywordHashes[Keyword::DirectiveDeclare]);
    for (const TokenNode* node = head; node && node->line == 0; node = node->next) EXPECT_EQ(node->column, 0);
    EXPECT_EQ(TokenListNth(const_cast<TokenNode*>(head), 6)->line, 1);
    FreeTokenList(last);
}

// UPDATE of the loader program is called by name by the driver.
TEST_F(LinkerTest, TheLoaderProgramKeepsItsUpdateProcedure) {
    const char* stream = "PROC:MAIN __ENDDECL END PROC:UPDATE(4,0) D$ C$ B$ A$ __ENDDECL END";
    EXPECT_EQ(Link(stream, {}, "/apps/qob/load.qob"),
              "PROC:MAIN __ENDDECL END PROC:UPDATE(4,0) D$ C$ B$ A$ __ENDDECL END");
    EXPECT_EQ(Link(stream, {}, "/apps/qob/LOAD.QOB"),
              "PROC:MAIN __ENDDECL END PROC:UPDATE(4,0) D$ C$ B$ A$ __ENDDECL END");
    EXPECT_EQ(Link(stream, {}, "/apps/qob/other.qob"), "PROC:MAIN __ENDDECL END");
}

TEST_F(LinkerTest, InDebugModeTheHookAfterADeletedBodyGoesToo) {
    LinkOptions debug;
    debug.debugMode = true;
    const char* stream = "PROC:MAIN __ENDDECL END __DEBUG PROC:GONE(0,0) __ENDDECL END __DEBUG __DEBUG";
    EXPECT_EQ(Link(stream, debug), "PROC:MAIN __ENDDECL END __DEBUG __DEBUG");
    EXPECT_EQ(Link(stream), "PROC:MAIN __ENDDECL END __DEBUG __DEBUG __DEBUG");
}

TEST_F(LinkerTest, HeadersKeepTheirPassRecordIndex) {
    TokenNode* last = LinkProgram("test.qob", BuildStream("FPROC:A(0,0) PROC:MAIN __ENDDECL C:A(0,0) END PROC:A(0,0) __ENDDECL END"), Passes(0));
    TokenNode* head = TokenListFirst(last);
    EXPECT_EQ(head->procedureIndex, 1);
    EXPECT_EQ(head->next->procedureIndex, 2);
    EXPECT_EQ(TokenListNth(head, 5)->procedureIndex, 1);
    FreeTokenList(last);
}

}  // namespace
}  // namespace qob::testing
