// tests/compiler/codegen_support.h
// A fixture for the back end: postfix streams written in a short notation or
// compiled from source, linked, generated and listed, and run through MAIN.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "compiler/back_end/code_generator.h"
#include "compiler/back_end/linker.h"
#include "parser_support.h"

namespace qob {
struct Instruction;
struct ProgramContext;
struct ProcedureRecord;
struct TokenNode;
}  // namespace qob

namespace qob::testing {

// A postfix stream from a notation of blank-separated tokens (a token in
// double quotes may hold blanks). Each line of the notation is a source line,
// each token's column its position in the line (1, 2, ...). Prefixes stand
// for the kind bytes:
//   T:A$  target of "=" (0xFB)      M:A$  modified variable (0xF9)
//   C:KEY call (0xE0)   S:KEY SELF call (0xE2)   I:KEY inherited (0xE4)   O:TEXT object call (0xE5)
//   PROC:KEY FUNC:KEY NPROC:KEY NFUNC:KEY  definitions; FPROC: FFUNC: FNPROC: FNFUNC: FORWARD
//     headers; the output count comes from the key's "(i,o)" (FUNC without one: 1);
//     "/_" after the kind word makes it private, "/L" FORCELINK: PROC/_L:KEY
//   <empty>  a token with an empty text
[[nodiscard]] TokenNode* BuildStream(std::string_view notation, const char* fileName = "test.qob");

// The stream as texts joined by blanks, in the notation above.
[[nodiscard]] std::string DescribeNotation(const TokenNode* last);

// The listing of an instruction list: one line per node, FormatInstructionLine
// with each node address replaced by the node's index in the list ("-" for
// none) and runs of blanks shortened to one.
[[nodiscard]] std::string ListInstructions(const Instruction* first);

// The short form of an error without a position as the message sink writes
// it for test.qob (ErrorAt of parser_support.h gives one with a position).
[[nodiscard]] std::string ErrorWithout(std::string_view text);

class CodegenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

public:
    // Generates code for a stream (consumed) and lists it.
    std::string Generate(TokenNode* stream, CodeGenOptions options = {});
    std::string Generate(std::string_view notation, bool optimize = false);
    // The listing lines of a body compiled inside "PROC MAIN": the lines
    // after its STARTPROC (index 1) and before its ENDPROC; indexes as in
    // the whole list (the body starts at 2).
    std::string GenerateBody(std::string_view body, bool optimize = false);
    // Tokenizes, parses, links and generates a source text as test.qob.
    std::string CompileSource(std::string_view source, bool optimize = false, int linkPasses = 1);
    // The listing lines of source statements compiled as the body of PROC
    // MAIN (the only procedure), as GenerateBody gives them.
    std::string CompileBody(std::string_view body, bool optimize = false);

    // Runs the entry of the last generated program; false when it has none.
    bool RunEntry();
    // A global variable's number (NaN when it does not exist) and text.
    [[nodiscard]] double NumberOf(const char* name) const;
    [[nodiscard]] std::string TextOf(const char* name) const;

    // The short forms of the errors reported so far.
    [[nodiscard]] static std::string Errors();
    [[nodiscard]] static int ErrorCount();

    ProgramContext* context = nullptr;
    Instruction* program = nullptr;
    GeneratedEntry entry;
    ProcedureRecord* procedures[4096] = {};
    int32_t procedureCount = 0;

private:
    void FreeProgram();
};

}  // namespace qob::testing
