// platform/c_library.h
// Our own versions of the C library services whose results the system's
// formulas depend on: the 15-bit random generator, decimal-only number reading,
// 64-bit integer reading, "C"-locale formatting and saturating integer casts.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace qob::platform {

// Random generator with the classic rand() range 0 .. kRandomMax. Its state is
// process-wide, like rand()'s: a seed set on one thread steers every thread.
constexpr int kRandomMax = 32767;
void SeedRandom(uint32_t seed);
[[nodiscard]] int NextRandom();

// Reads a decimal number the way atof/strtod do (leading white space, sign,
// digits with an optional point, optional exponent), in the "C" locale, but
// never hexadecimal floats nor the words inf/infinity/nan. A value too large
// gives +-inf, one too small +-0 or a denormal. When end is given it receives
// the address after the last character used (text itself when none was).
double ReadDecimal(const char* text, const char** end = nullptr);

// Reads a decimal 64-bit integer as strtoll does (white space, sign, digits);
// out of range values clamp to the int64_t limits; no digits give 0.
[[nodiscard]] int64_t ReadInt64(const char* text);

// Reads an unsigned 64-bit integer in base 8 or 16 as strtoull does (base 16
// accepts a "0x" prefix; a "-" negates modulo 2^64; out of range clamps to
// 2^64 - 1) and returns its bits as a signed value. converted, when given, is
// set to whether any digit was read.
[[nodiscard]] int64_t ReadUnsigned64Bits(const char* text, int base, bool* converted = nullptr);

// snprintf / vsnprintf in the "C" locale whatever the process locale is. 64-bit
// integers use the standard "%lld" / "%llx" conversions.
int FormatText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextV(char* buffer, size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// The one conversion from double to an integer type: truncates toward zero,
// saturates values outside the type's range and maps NaN to 0 (a plain cast of
// such values is undefined behaviour).
template <std::integral Int>
[[nodiscard]] inline Int TruncateToInteger(double value) {
    using Limits = std::numeric_limits<Int>;
    if (std::isnan(value)) return 0;
    // Both limits as doubles: lowest is exact (0 or -2^k); max + 1 is 2^k, exact,
    // whereas max itself may round up to 2^k for 64-bit types.
    constexpr double kLowest = static_cast<double>(Limits::lowest());
    constexpr double kAboveMax = static_cast<double>(Limits::max() / 2 + 1) * 2.0;
    if (value <= kLowest) return Limits::lowest();
    if (value >= kAboveMax) return Limits::max();
    return static_cast<Int>(value);
}

// The 32-bit views of a number, signed and unsigned. A number whose truncation
// lies in the signed or the unsigned 32-bit range keeps its 32 bits: from 2^31
// to 2^32 - 1 the signed view is the two's-complement negative, from -2^31 to
// -1 the unsigned view is the number plus 2^32, so that the unsigned results
// the system makes (checksums, rotations) survive a signed view and back.
// Anything else saturates at the view's own range; NaN gives 0.
template <class Int>
    requires(std::same_as<Int, int32_t> || std::same_as<Int, uint32_t>)
[[nodiscard]] inline Int TruncateTo32Bits(double value) {
    if (value > -2147483649.0 && value < 4294967296.0)
        return static_cast<Int>(static_cast<uint32_t>(static_cast<int64_t>(value)));
    if (std::isnan(value)) return 0;
    return value < 0 ? std::numeric_limits<Int>::lowest() : std::numeric_limits<Int>::max();
}

}  // namespace qob::platform
