// tests/fuzz/asm_source_fuzz.cpp
// libFuzzer entry: any bytes as assembler source. The assembly must not
// crash, write past its block or leak, whatever the source.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "compiler/compile_messages.h"
#include "compiler/front_end/preprocessor.h"
#include "native/assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qob;
    ResetCompileMessages();
    ResetPreprocessor(1);
    // The first byte picks the block size (small blocks reach the overflow
    // paths) and the hooks; the rest is the source.
    const int32_t blockSize = size > 0 ? 48 + 64 * static_cast<int32_t>(data[0]) : 4096;
    AsmOptions options;
    options.debugMode = size > 0 && (data[0] & 1) != 0;
    options.profiling = size > 0 && (data[0] & 2) != 0;
    options.listingSink = [](const char*) {};
    const std::string_view source(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
    const AsmResult result = AssembleSource(blockSize, source, options);
    if (result.base != 0) FreeAsmBlock(result.base);
    return 0;
}
