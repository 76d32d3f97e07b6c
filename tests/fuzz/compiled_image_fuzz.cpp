// tests/fuzz/compiled_image_fuzz.cpp
// A compiled file's plain record stream: coded and enciphered here as a save
// would, so that every mutation passes the cipher's check and reaches the
// records, the prefix code and the node links behind it.

#include <optional>
#include <span>
#include <vector>

#include "compiler/compiled_file/compiled_file.h"
#include "fuzz_support.h"
#include "runtime/vm/program_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qob;
    fuzz::PrepareProcess();
    const std::optional<std::vector<uint8_t>> file = EncodeCompiledImage(std::span(data, size));
    if (!file) return 0;
    ProgramContext* context = fuzz::NewContext();
    bool isWinMain = false;
    context->instructions = LoadCompiledImage(*file, "fuzz.qoc", context, context->procedures,
                                              context->procedureCount, isWinMain);
    fuzz::EndContext(context);
    return 0;
}
