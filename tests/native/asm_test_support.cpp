// tests/native/asm_test_support.cpp
#include "asm_test_support.h"

#include <cstring>

#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "compiler/front_end/preprocessor.h"

namespace qob::testing {

void AsmTest::SetUp() {
    ResetCompileMessages();
    ResetPreprocessor(1);
    SetPreprocessorHooks({});
}

void AsmTest::TearDown() {
    for (uint32_t base : blocks) FreeAsmBlock(base);
    ResetPreprocessor(1);
    ResetCompileMessages();
}

Assembled AsmTest::Assemble(std::string_view source, int32_t size, const AsmOptions& options) {
    ResetCompileMessages();
    Assembled assembled;
    assembled.result = AssembleSource(size, source, options);
    assembled.errors = GetCompileMessageState().compileErrors;
    if (assembled.result.base != 0) {
        blocks.push_back(assembled.result.base);
        assembled.words.resize(assembled.result.totalBytes / 4);
        std::memcpy(assembled.words.data(), reinterpret_cast<const void*>(uintptr_t{assembled.result.base}),
                    assembled.words.size() * 4);
    }
    return assembled;
}

}  // namespace qob::testing
