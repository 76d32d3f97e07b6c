// tests/fuzz/fuzz_support.h
// What every fuzz target shares: the process set up once (registration, quiet
// boxes and logs), and a program context made and ended around each input so
// that nothing of one input is left for the next.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {
struct ProgramContext;
}

namespace qob::fuzz {

// Registers the built-ins and quiets the message boxes and logs. Runs once;
// every target calls it before its first input.
void PrepareProcess();

// A fresh independent context, current, with its instruction pool: what the
// compiler and the loader build into.
[[nodiscard]] ProgramContext* NewContext();

// Ends the context and every process-wide table the input may have filled
// (the unit's procedures and classes, the constants, the defines of the
// program, the compile messages).
void EndContext(ProgramContext* context);

}  // namespace qob::fuzz

// The entry every target defines, as libFuzzer calls it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
