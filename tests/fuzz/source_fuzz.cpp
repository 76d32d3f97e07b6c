// tests/fuzz/source_fuzz.cpp
// A source text through the whole compiler: the preprocessor (its #INCLUDEs
// find the fixture folder include/), the parser, the linker and the code
// generator with the optimiser, stopping before anything runs.

#include <string>
#include <string_view>
#include <vector>

#include "compiler/back_end/code_generator.h"
#include "compiler/back_end/linker.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/front_end/token_list.h"
#include "fuzz_support.h"
#include "runtime/vm/program_context.h"

namespace qob::fuzz {
namespace {

std::vector<std::string> IncludeFolder() { return {QOB_FUZZ_INCLUDE_DIR}; }

bool HasErrors() { return GetCompileMessageState().errorCount > 0; }

}  // namespace
}  // namespace qob::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qob;
    fuzz::PrepareProcess();
    PreprocessorHooks hooks;
    hooks.readLibraryPath = fuzz::IncludeFolder;
    SetPreprocessorHooks(hooks);
    ResetPreprocessor(1);
    ResetCompileMessages();
    // The compiler reads texts up to their terminator, as it reads a file.
    const std::string source(reinterpret_cast<const char*>(data), size);
    TokenNode* tokens = PreprocessFile("fuzz.qob", std::string_view(source.c_str()), nullptr, true, 0);
    if (tokens && !fuzz::HasErrors()) tokens = ParseSource("fuzz.qob", 0, tokens);
    if (tokens && !fuzz::HasErrors()) tokens = LinkProgram("fuzz.qob", tokens, {});
    ProgramContext* context = fuzz::NewContext();
    if (tokens && !fuzz::HasErrors()) {
        GeneratedEntry entry;
        CodeGenOptions options;
        options.optimize = true;
        context->instructions = GenerateCode("fuzz.qob", context, tokens, context->procedures,
                                             context->procedureCount, entry, options);
    } else {
        FreeTokenList(tokens);
    }
    fuzz::EndContext(context);
    return 0;
}
