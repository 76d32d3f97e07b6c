// tests/fuzz/compiled_file_fuzz.cpp
// A compiled file's bytes as they stand on disk: deciphered, decoded and
// rebuilt into a program context, or refused.

#include <span>

#include "compiler/compiled_file/compiled_file.h"
#include "fuzz_support.h"
#include "runtime/vm/program_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qob;
    fuzz::PrepareProcess();
    ProgramContext* context = fuzz::NewContext();
    bool isWinMain = false;
    context->instructions = LoadCompiledImage(std::span(data, size), "fuzz.qoc", context, context->procedures,
                                              context->procedureCount, isWinMain);
    fuzz::EndContext(context);
    return 0;
}
