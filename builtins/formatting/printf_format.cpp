// builtins/formatting/printf_format.cpp
// Rebuilding each conversion piece for the C library's snprintf, measuring
// its output and appending it whole.
#include "builtins/formatting/printf_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/c_library.h"
#include "runtime/data/number_text.h"

namespace qob {
namespace {

// A piece taken apart: the parts the C library understands, with length
// letters dropped and each "*" still to be resolved.
struct PieceParts {
    std::string flags;           // any of "-+ #0"
    std::string_view width;      // digits, or "*"
    bool hasPrecision = false;
    std::string_view precision;  // digits (empty: 0), or "*"
    std::string_view shortness;  // "h" or "hh", kept for the integer conversions
    char conversion = 0;
    std::string starWidth;       // the digits a "*" stands for
    std::string starPrecision;
};

bool IsIntegerConversion(char letter) { return std::string_view("diouxXc").find(letter) != std::string_view::npos; }
bool IsFloatingConversion(char letter) { return std::string_view("eEfgG").find(letter) != std::string_view::npos; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Digits(std::string_view piece, size_t& at) {
    const size_t from = at;
    while (at < piece.size() && IsDigit(piece[at])) ++at;
    return piece.substr(from, at - from);
}

// Takes a piece ("%" through its conversion letter) apart; false when it holds
// anything the conversions do not know.
bool SplitPiece(std::string_view piece, PieceParts& parts) {
    size_t at = 1;
    while (at < piece.size() && std::string_view("-+ #0").find(piece[at]) != std::string_view::npos)
        parts.flags += piece[at++];
    if (at < piece.size() && piece[at] == '*') parts.width = piece.substr(at++, 1);
    else parts.width = Digits(piece, at);
    if (at < piece.size() && piece[at] == '.') {
        parts.hasPrecision = true;
        ++at;
        if (at < piece.size() && piece[at] == '*') parts.precision = piece.substr(at++, 1);
        else parts.precision = Digits(piece, at);
    }
    // Length letters: every integer is 32-bit and every floating value a
    // double here, so they are dropped ("h" and "hh" narrow as C does).
    size_t shortLetters = 0;
    while (at + 1 < piece.size()) {
        const char c = piece[at];
        if (c == 'h') {
            ++shortLetters;
            ++at;
        } else if (c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't') {
            ++at;
        } else if (c == 'I' && (piece.substr(at + 1, 2) == "64" || piece.substr(at + 1, 2) == "32")) {
            at += 3;
        } else {
            break;
        }
    }
    if (shortLetters > 2 || at + 1 != piece.size()) return false;
    parts.shortness = std::string_view("hh").substr(0, shortLetters);
    parts.conversion = piece[at];
    return kConversionLetters.find(parts.conversion) != std::string_view::npos;
}

// The output under construction and the arguments not used yet.
class Formatter {
public:
    Formatter(std::string& output, std::span<const FormatArgument> arguments, size_t maxLength)
        : output(output), arguments_(arguments), maxLength_(maxLength) {}

    std::string& output;

    // Whether count more bytes still fit.
    bool HasRoomFor(uint64_t count) const { return count <= maxLength_ - output.size(); }

    bool Append(std::string_view text) {
        if (text.size() > maxLength_ - output.size()) return false;
        output.append(text);
        return true;
    }

    // A missing argument reads as the empty text: the number 0 under a
    // numeric conversion.
    FormatArgument Next() {
        if (next_ < arguments_.size()) return arguments_[next_++];
        return {"", 0.0, 0};
    }

    // Measures the rebuilt piece with its one value and appends its output;
    // a piece the C library refuses (a width beyond its range) adds nothing.
    template <typename Value>
    bool AppendFormatted(const std::string& spec, Value value) {
        const int length = std::snprintf(nullptr, 0, spec.c_str(), value);
        if (length <= 0) return true;
        if (static_cast<size_t>(length) > maxLength_ - output.size()) return false;
        const size_t start = output.size();
        output.resize(start + static_cast<size_t>(length) + 1);
        std::snprintf(output.data() + start, static_cast<size_t>(length) + 1, spec.c_str(), value);
        output.resize(start + static_cast<size_t>(length));
        return true;
    }

private:
    std::span<const FormatArgument> arguments_;
    size_t next_ = 0;
    size_t maxLength_;
};

double NumberOf(const FormatArgument& argument) {
    return argument.text ? StringToNumber(argument.text) : argument.number;
}

// Resolves each "*" with the next argument, in the order C reads them: a
// negative width becomes the "-" flag, a negative precision none at all.
void ResolveStars(PieceParts& parts, Formatter& formatter) {
    if (parts.width == "*") {
        const int64_t width = platform::TruncateTo32Bits<int32_t>(NumberOf(formatter.Next()));
        if (width < 0) parts.flags += '-';
        parts.starWidth = std::to_string(width < 0 ? -width : width);
        parts.width = parts.starWidth;
    }
    if (parts.precision == "*") {
        const int32_t precision = platform::TruncateTo32Bits<int32_t>(NumberOf(formatter.Next()));
        parts.hasPrecision = precision >= 0;
        parts.starPrecision = parts.hasPrecision ? std::to_string(precision) : std::string();
        parts.precision = parts.starPrecision;
    }
}

std::string Spec(const PieceParts& parts, std::string_view flags, bool precision, std::string_view length,
                 char conversion) {
    std::string spec = "%";
    spec += flags;
    spec += parts.width;
    if (precision) {
        spec += '.';
        spec += parts.precision;
    }
    spec += length;
    spec += conversion;
    return spec;
}

std::string WithoutFlags(std::string_view flags, std::string_view drop) {
    std::string kept;
    for (char c : flags)
        if (drop.find(c) == std::string_view::npos) kept += c;
    return kept;
}

// A figure of a piece (its digits, saturated).
uint64_t FigureOf(std::string_view digits) {
    if (digits.size() > 18) return UINT64_MAX;
    uint64_t value = 0;
    for (char digit : digits) value = value * 10 + static_cast<uint64_t>(digit - '0');
    return value;
}

// The least a piece's output takes: its width, and its precision for the
// conversions that give at least that many digits. A piece that cannot fit
// is refused before the C library spends its time on it.
uint64_t LeastLength(const PieceParts& parts) {
    uint64_t least = FigureOf(parts.width);
    const bool keepsZeros = parts.flags.find('#') != std::string::npos;
    if (parts.hasPrecision && (std::string_view("diouxXfeE").find(parts.conversion) != std::string_view::npos ||
                               (keepsZeros && (parts.conversion == 'g' || parts.conversion == 'G'))))
        least = std::max(least, FigureOf(parts.precision));
    return least;
}

// "%g" drops trailing zeros, and no double has more than 767 significant
// digits, so a larger precision gives the same text; the C library would
// still take working room for all of it.
constexpr std::string_view kLargestSignificantPrecision = "800";

void LimitSignificantPrecision(PieceParts& parts) {
    const bool significant = parts.conversion == 'g' || parts.conversion == 'G';
    if (significant && parts.hasPrecision && parts.flags.find('#') == std::string::npos &&
        FigureOf(parts.precision) > FigureOf(kLargestSignificantPrecision))
        parts.precision = kLargestSignificantPrecision;
}

// Formats one well-formed piece with its argument.
bool AppendConversion(PieceParts& parts, Formatter& formatter) {
    ResolveStars(parts, formatter);
    LimitSignificantPrecision(parts);
    const FormatArgument argument = formatter.Next();
    const char conversion = parts.conversion;
    if (conversion == 'n') return true;
    if (!formatter.HasRoomFor(LeastLength(parts))) return false;
    if (conversion == 'p') {
        const uint32_t value = argument.text ? argument.address : platform::TruncateTo32Bits<uint32_t>(argument.number);
        parts.precision = "8";
        return formatter.AppendFormatted(Spec(parts, WithoutFlags(parts.flags, "#+ "), true, "", 'X'), value);
    }
    if (IsIntegerConversion(conversion)) {
        const int32_t value = platform::TruncateTo32Bits<int32_t>(NumberOf(argument));
        const std::string_view length = conversion == 'c' ? "" : std::string_view(parts.shortness);
        return formatter.AppendFormatted(Spec(parts, parts.flags, parts.hasPrecision, length, conversion), value);
    }
    if (IsFloatingConversion(conversion)) {
        const double value = NumberOf(argument);
        if (std::isfinite(value))
            return formatter.AppendFormatted(Spec(parts, parts.flags, parts.hasPrecision, "", conversion), value);
        char text[kNumberTextSize];
        FormatNumber(value, text);
        return formatter.AppendFormatted(Spec(parts, WithoutFlags(parts.flags, "+ #0"), false, "", 's'),
                                         static_cast<const char*>(text));
    }
    char number[kNumberTextSize];
    const char* text = argument.text;
    if (!text) {
        FormatNumber(argument.number, number);
        text = number;
    }
    // A plain "%s" is the text itself.
    if (parts.flags.empty() && parts.width.empty() && !parts.hasPrecision) return formatter.Append(text);
    return formatter.AppendFormatted(Spec(parts, WithoutFlags(parts.flags, "+ #0"), parts.hasPrecision, "", 's'),
                                     text);
}

// One piece and its argument. A piece the conversions do not know is output
// as C would: each leading "%%" gives "%", and what follows is a conversion
// again when it is one, else text.
bool AppendPiece(std::string_view piece, Formatter& formatter) {
    while (piece.starts_with("%%")) {
        if (!formatter.Append("%")) return false;
        piece.remove_prefix(2);
    }
    PieceParts parts;
    if (piece.starts_with('%') && SplitPiece(piece, parts)) return AppendConversion(parts, formatter);
    (void)formatter.Next();
    return formatter.Append(piece);
}

}  // namespace

bool FormatPrintfInto(std::string& output, std::string_view format, std::span<const FormatArgument> arguments,
                      size_t maxLength) {
    output.clear();
    // Room for the format and every argument's text (255 for a number), so
    // that most outputs never grow.
    size_t estimate = format.size();
    for (const FormatArgument& argument : arguments) estimate += argument.text ? std::strlen(argument.text) : 255;
    output.reserve(std::min(maxLength, estimate));
    Formatter formatter(output, arguments, maxLength);
    size_t at = 0;
    while (at < format.size()) {
        const size_t percent = format.find('%', at);
        if (!formatter.Append(format.substr(at, percent - at))) return false;
        if (percent == std::string_view::npos) break;
        const size_t letter = format.find_first_of(kConversionLetters, percent + 1);
        if (letter == std::string_view::npos) {
            // No conversion letter: the rest is output unchanged and uses an argument.
            (void)formatter.Next();
            return formatter.Append(format.substr(percent));
        }
        if (!AppendPiece(format.substr(percent, letter + 1 - percent), formatter)) return false;
        at = letter + 1;
    }
    return true;
}

std::optional<std::string> FormatPrintf(std::string_view format, std::span<const FormatArgument> arguments,
                                        size_t maxLength) {
    std::string output;
    if (!FormatPrintfInto(output, format, arguments, maxLength)) return std::nullopt;
    return output;
}

}  // namespace qob
