// builtins/maths/maths_builtins.cpp
// The library functions over libm, the rounding built-ins, min and max over
// an argument frame, and the 32-bit rotations.
#include "builtins/maths/maths_builtins.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "builtins/maths/number_arguments.h"
#include "platform/c_library.h"
#include "runtime/data/number_text.h"

namespace qob {
namespace {

// --- library functions ---------------------------------------------------------

// One argument in, one number out; a plain number cell takes its result in place.
template <typename Function>
inline void ApplyToArgument(Function function) {
    if (StackEntry* cell = TopNumberCell()) return SetNumberResult(cell, function(cell->value));
    PushNumberResult(function(PopNumberArgument()));
}

// Two arguments: the first pop is the second argument.
template <typename Function>
inline void ApplyToArguments(Function function) {
    const double second = PopNumberArgument();
    const double first = PopNumberArgument();
    PushNumberResult(function(first, second));
}

// --- rounding ------------------------------------------------------------------

// Halves upward from the biased integer part d: a value of 0 or more goes
// up when x - d is 0.5 or more, a negative one goes down when d - x is more
// than 0.5. Worked in doubles, so a value beyond 2^63 (already whole), an
// infinity or NaN stays as it is; a zero result is +0.
double RoundHalfUp(double x) {
    const double whole = TruncNumber(x);
    if (x >= 0) return x - whole >= 0.5 ? whole + 1 : whole + 0.0;
    return whole - x > 0.5 ? whole - 1 : whole + 0.0;
}

// floor(x * 10^digits + offset) / 10^digits, the digits being the signed
// 32-bit view of the number. When 10^digits overflows, or x scaled by it
// does, x has no decimal that fine to lose and stays as it is; when
// 10^digits underflows to 0, x lies far below the unit and gives 0.
double ScaleToDecimals(double x, double digitsNumber, double offset) {
    const double factor = std::pow(10.0, platform::TruncateTo32Bits<int32_t>(digitsNumber));
    if (std::isinf(factor)) return x;
    if (factor == 0.0) return 0.0;
    const double scaled = x * factor;
    if (std::isinf(scaled) && std::isfinite(x)) return x;
    return std::floor(scaled + offset) / factor;
}

// --- min and max ---------------------------------------------------------------

// Walks the closed frame's arguments from start, keeping each number that
// keeps(number, kept) prefers; without arguments the result is none.
template <typename Keep>
void PushFrameExtreme(double start, double none, Keep keeps) {
    const FrameArguments arguments = CloseFrameArguments();
    double result = arguments.count > 0 ? start : none;
    const StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) {
        cell = cell->above;
        const double value = OperandNumber(*cell);
        if (keeps(value, result)) result = value;
    }
    DropFrameArguments(arguments);
    PushNumberResult(result);
}

// --- rotations -------------------------------------------------------------------

template <bool kLeft>
void Rotate() {
    const int32_t count = platform::TruncateTo32Bits<int32_t>(PopNumberArgument());
    const uint32_t value = platform::TruncateTo32Bits<uint32_t>(PopNumberArgument());
    PushNumberResult(kLeft ? std::rotl(value, count) : std::rotr(value, count));
}

}  // namespace

void Builtin_abs() { ApplyToArgument([](double x) { return std::fabs(x); }); }
void Builtin_chgsign() { ApplyToArgument([](double x) { return -x; }); }
void Builtin_acos() { ApplyToArgument([](double x) { return std::acos(x); }); }
void Builtin_asin() { ApplyToArgument([](double x) { return std::asin(x); }); }
void Builtin_atan() { ApplyToArgument([](double x) { return std::atan(x); }); }
void Builtin_atan2() { ApplyToArguments([](double y, double x) { return std::atan2(y, x); }); }
void Builtin_cos() { ApplyToArgument([](double x) { return std::cos(x); }); }
void Builtin_sin() { ApplyToArgument([](double x) { return std::sin(x); }); }
void Builtin_tan() { ApplyToArgument([](double x) { return std::tan(x); }); }
void Builtin_cosh() { ApplyToArgument([](double x) { return std::cosh(x); }); }
void Builtin_sinh() { ApplyToArgument([](double x) { return std::sinh(x); }); }
void Builtin_tanh() { ApplyToArgument([](double x) { return std::tanh(x); }); }
void Builtin_exp() { ApplyToArgument([](double x) { return std::exp(x); }); }
void Builtin_log() { ApplyToArgument([](double x) { return std::log(x); }); }
void Builtin_log10() { ApplyToArgument([](double x) { return std::log10(x); }); }
void Builtin_pow() { ApplyToArguments([](double a, double b) { return std::pow(a, b); }); }
void Builtin_sqrt() { ApplyToArgument([](double x) { return std::sqrt(x); }); }
void Builtin_hypot() { ApplyToArguments([](double a, double b) { return std::hypot(a, b); }); }
void Builtin_floor() { ApplyToArgument([](double x) { return std::floor(x); }); }
void Builtin_ceil() { ApplyToArgument([](double x) { return std::ceil(x); }); }

void Builtin_trunc() { ApplyToArgument(TruncNumber); }
void Builtin_round() { ApplyToArgument(RoundHalfUp); }

void Builtin_roundex() {
    ApplyToArguments([](double x, double digits) { return ScaleToDecimals(x, digits, 0.5); });
}

void Builtin_truncex() {
    ApplyToArguments([](double x, double digits) { return ScaleToDecimals(x, digits, 0.0); });
}

void Builtin_min() {
    PushFrameExtreme(DBL_MAX, DBL_MAX, [](double value, double least) { return value < least; });
}

void Builtin_max() {
    constexpr double kBelowAll = -std::numeric_limits<double>::infinity();
    PushFrameExtreme(kBelowAll, 0.0, [](double value, double most) { return value > most; });
}

void Builtin_lrotl() { Rotate<true>(); }
void Builtin_lrotr() { Rotate<false>(); }

}  // namespace qob
