// runtime/data/number_text.h
// Numbers and the texts that stand for them: the number-text test, text to
// number, number to text, the biased truncation and the random integer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// The decimal and thousands characters of number texts. They never change:
// numbers are read and written in the "C" locale.
constexpr char kDecimalCharacter = '.';
constexpr char kThousandsCharacter = ',';

// Set by every StringToNumber call on the calling thread: 1 when the text was
// not a number (the result is then 0.0), 0 otherwise. Built-ins that must tell
// "0" from a non-number read it right after the conversion.
extern thread_local uint8_t ConversionFailedFlag;

// Whether a text is a number text: digits and decimal characters anywhere, "-"
// only first, "x"/"X" anywhere ("0x" at the start switches to hexadecimal,
// where A-F/a-f are digits), "e"/"E" only directly followed by "+" or "-".
// A null text counts as a number, an empty one does not.
[[nodiscard]] bool IsNumberString(const char* text);

// The number a text stands for (decimal, else 64-bit integer, "0x" hexadecimal
// or octal); 0.0 and ConversionFailedFlag = 1 when it is not a number text.
// A null text gives 0.0.
double StringToNumber(const char* text);

// Room FormatNumber needs: "%f" of -1e308 takes 318 characters.
constexpr size_t kNumberTextSize = 330;

// Writes value as "%f" without trailing zeros and without a trailing point
// (10 -> "10", 0.5 -> "0.5", 1e-7 -> "0", -0.0 -> "-0"); infinities and NaN
// are always spelt "inf", "-inf" and "nan". Returns the text's length.
size_t FormatNumber(double value, char (&buffer)[kNumberTextSize]);

// The same as a new zero-filled block of the process heap that the caller
// frees (FreeBlock); null when no memory is left.
[[nodiscard]] char* NumberToString(double value);

// Biased truncation: 1e-12 is added to a value of 0 or more (subtracted from a
// negative one) before truncating toward zero, so 2.9999999999995 gives 3,
// -2.9999999999995 gives -3 and 2.5 gives 2. The integer forms saturate at
// their type's limits and give 0 for NaN.
[[nodiscard]] double TruncNumber(double value);
[[nodiscard]] int64_t TruncToInt64WithBias(double value);
[[nodiscard]] inline int64_t TruncToInt64(double value) {
    // A whole number (slot numbers, counts, most operands) is its own
    // truncation whatever the bias: only fractions go the long way.
    if (value > -9.0e15 && value < 9.0e15) {
        const auto whole = static_cast<int64_t>(value);
        if (static_cast<double>(whole) == value) return whole;
    }
    return TruncToInt64WithBias(value);
}
[[nodiscard]] int32_t RoundToInt(double value);

// An integer in 0 .. n-1 for positive n (n-1 .. 0 for negative n) from the
// 15-bit random generator: the draw divided by 32768, times n, truncated.
[[nodiscard]] int32_t RandomInt(int32_t n);

}  // namespace qob
