// builtins/maths/random_builtins.cpp
// rand, random, randomset and srand on the platform's 15-bit generator.
#include "builtins/maths/random_builtins.h"

#include <cstdint>

#include "builtins/maths/number_arguments.h"
#include "platform/c_library.h"
#include "runtime/data/number_text.h"

namespace qob {
namespace {

// 2^-15: a draw times this is a fraction from 0 up to (not including) 1.
constexpr double kDrawScale = 3.0517578125e-5;

}  // namespace

void Builtin_rand() { PushNumberResult(platform::NextRandom()); }

void Builtin_random() { PushNumberResult(RandomInt(platform::TruncateTo32Bits<int32_t>(PopNumberArgument()))); }

// Position 0 is the last argument (the first one a pop would take), position
// count - 1 the first; the draw picks position draw / 32768 * count.
void Builtin_randomset() {
    const FrameArguments arguments = CloseFrameArguments();
    if (arguments.count == 0) return PushNumberResult(0.0);
    const double fraction = platform::NextRandom() * kDrawScale;
    const auto position = platform::TruncateToInteger<int64_t>(fraction * static_cast<double>(arguments.count));
    const StackEntry* cell = CurrentContext->stackTop;
    for (int64_t i = 0; i < position; ++i) cell = cell->below;
    const double value = OperandNumber(*cell);
    DropFrameArguments(arguments);
    PushNumberResult(value);
}

void Builtin_srand() { platform::SeedRandom(platform::TruncateTo32Bits<uint32_t>(PopNumberArgument())); }

}  // namespace qob
