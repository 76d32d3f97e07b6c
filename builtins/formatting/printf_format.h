// builtins/formatting/printf_format.h
// The formatted-output engine behind printf and sprintf: a format and its
// value arguments become one text, each conversion rebuilt for the C library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qob {

// One value argument: a text (8-bit), or a number when text is null.
struct FormatArgument {
    const char* text;
    double number;
    // The address a text argument stands for under "%p" (its block's
    // 32-bit address); unused for a number.
    uint32_t address;
};

// Formats the format with the arguments in order. A conversion piece runs
// from "%" to the first of the letters c d i e E f g G o s u x X p n and
// takes exactly one argument ("%%d" too: it gives "%d"); each "*" in it takes
// one more, before it, as the width or precision. Length letters are dropped:
// integer conversions receive a signed 32-bit value, floating ones a double.
// Mismatched kinds are converted: a text under a numeric conversion passes
// its number, a number under "%s" its text. "%n" outputs nothing and "%p" is
// eight upper-case hex digits of the 32-bit value. A piece with no argument
// left formats 0 or the empty text; a "%" with no conversion letter after it
// outputs the rest of the format unchanged. Infinities and NaN are spelt
// "inf", "-inf" and "nan". Null when the result would exceed maxLength bytes.
[[nodiscard]] std::optional<std::string> FormatPrintf(std::string_view format,
                                                      std::span<const FormatArgument> arguments,
                                                      size_t maxLength);

// The same into output (cleared first, its room kept for the next call);
// false when the result would exceed maxLength bytes.
[[nodiscard]] bool FormatPrintfInto(std::string& output, std::string_view format,
                                    std::span<const FormatArgument> arguments, size_t maxLength);

// The conversion letters that end a piece.
constexpr std::string_view kConversionLetters = "cdieEfgGosuxXpn";

}  // namespace qob
