// builtins/texts/text_builtins.cpp
// The text built-ins that give a new value: length, cutting, searching, case,
// reversal, copies, trimming, padding, and wrap.
#include "builtins/texts/text_builtins.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "builtins/texts/text_search.h"
#include "platform/memory.h"
#include "platform/wide_case.h"
#include "runtime/data/number_text.h"

namespace qob {
namespace {

// --- searching ----------------------------------------------------------------------

// The operands of a search: the text searched decides the width, and the
// search text is read in that width.
struct SearchOperands {
    TextSpan find;
    TextSpan text;
    bool wide;
};

SearchOperands ReadSearchOperands(const StackEntry& find, const StackEntry& text) {
    const bool wide = IsWide(text);
    return {ArgumentText(find, wide), ArgumentText(text, wide), wide};
}

template <typename Search>
void RunSearch(Search search) {
    StackEntry text = TakeOperand();
    StackEntry find = TakeOperand();
    const SearchOperands operands = ReadSearchOperands(find, text);
    const int64_t result = search(operands.text, operands.find, operands.wide);
    ReleaseOperand(find);
    ReleaseOperand(text);
    PushNumberResult(static_cast<double>(result));
}

// The units from position on (a position past the end gives the empty rest).
TextSpan RestOf(TextSpan text, size_t position, bool wide) {
    const size_t from = std::min(position, text.length);
    const auto* units = static_cast<const char*>(text.units) + from * (wide ? sizeof(uint16_t) : 1);
    return {units, text.length - from};
}

// --- copies that are changed unit by unit ---------------------------------------------

// Pops the text argument and pushes a copy of it in its own width, changed
// by edit (units, length) before it is pushed.
template <typename Edit8, typename Edit16>
void PushEditedCopy(Edit8 edit8, Edit16 edit16) {
    StackEntry argument = TakeOperand();
    const bool wide = IsWide(argument);
    const TextSpan text = ArgumentText(argument, wide);
    void* copy = CopyText(text, wide);
    ReleaseOperand(argument);
    if (copy) {
        if (wide) edit16(static_cast<uint16_t*>(copy), text.length);
        else edit8(static_cast<char*>(copy), text.length);
    }
    PushTextResult(copy, wide);
}

template <typename Unit>
void SwapAsciiCase(Unit* units, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const Unit unit = units[i];
        if ((unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z')) units[i] = static_cast<Unit>(unit ^ 0x20);
    }
}

// 8-bit case mapping covers the ASCII letters only: other bytes are parts of
// multi-byte characters and must stay as they are.
void UpperAscii(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 32);
}
void LowerAscii(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 32);
}
void UpperWide(uint16_t* units, size_t length) {
    for (size_t i = 0; i < length; ++i) units[i] = platform::WideToUpper(units[i]);
}
void LowerWide(uint16_t* units, size_t length) {
    for (size_t i = 0; i < length; ++i) units[i] = platform::WideToLower(units[i]);
}

// Only a first character in "a" to "z" is raised, in either width.
template <typename Unit>
void RaiseFirstAscii(Unit* units, size_t length) {
    if (length > 0 && units[0] >= 'a' && units[0] <= 'z') units[0] = static_cast<Unit>(units[0] - 32);
}

template <typename Unit>
void ReverseUnits(Unit* units, size_t length) {
    std::reverse(units, units + length);
}

void KeepUnits(void*, size_t) {}

// --- trimming and padding ----------------------------------------------------------
// A UTF-16 argument is worked in 16-bit units and gives a UTF-16 result; an
// 8-bit one is worked in bytes.

// The units of the text without leading (left) and trailing (right) blanks
// (the space character only).
template <typename Unit>
TextSpan TrimUnits(TextSpan text, bool left, bool right) {
    const auto* units = static_cast<const Unit*>(text.units);
    size_t from = 0;
    size_t to = text.length;
    if (left)
        while (from < to && units[from] == ' ') ++from;
    if (right)
        while (to > from && units[to - 1] == ' ') --to;
    return {units + from, to - from};
}

void PushTrimmed(bool left, bool right) {
    StackEntry argument = TakeOperand();
    const bool wide = IsWide(argument);
    const TextSpan text = ArgumentText(argument, wide);
    void* result = CopyText(wide ? TrimUnits<uint16_t>(text, left, right) : TrimUnits<char>(text, left, right), wide);
    ReleaseOperand(argument);
    PushTextResult(result, wide);
}

// The fill unit: the first unit of a text (in the width of the work), or the
// character code a number rounds to.
uint16_t FillUnit(const StackEntry& fill, bool wide) {
    if (IsText(fill)) {
        const TextSpan text = ArgumentText(fill, wide);
        if (text.length == 0) return 0;
        return wide ? *static_cast<const uint16_t*>(text.units)
                    : static_cast<unsigned char>(*static_cast<const char*>(text.units));
    }
    const int64_t code = RoundToInt(fill.value);
    return wide ? static_cast<uint16_t>(code) : static_cast<unsigned char>(code);
}

// count fill units before (left) or after the text. A count below 1 adds
// nothing; a size beyond a block gives null (pushed as the empty text).
template <typename Unit>
void* PadUnits(TextSpan text, Unit fill, int64_t count, bool left) {
    if (count < 1) count = 0;
    const uint64_t units = static_cast<uint64_t>(text.length) + static_cast<uint64_t>(count) + 1;
    if (units > platform::kMaxBlockSize / sizeof(Unit)) return nullptr;
    auto* result = static_cast<Unit*>(platform::AllocateBlock(units * sizeof(Unit)));
    if (!result) return nullptr;
    const auto* source = static_cast<const Unit*>(text.units);
    Unit* at = result;
    if (left) at = std::fill_n(at, count, fill);
    at = std::copy_n(source, text.length, at);
    if (!left) at = std::fill_n(at, count, fill);
    *at = 0;
    return result;
}

// A zero fill character would end the text in front of what it pads, so it
// adds nothing.
void PushPadded(bool left) {
    StackEntry count = TakeOperand();
    StackEntry fill = TakeOperand();
    StackEntry argument = TakeOperand();
    const bool wide = IsWide(argument);
    const TextSpan text = ArgumentText(argument, wide);
    const uint16_t unit = FillUnit(fill, wide);
    const int64_t added = unit == 0 ? 0 : ArgumentInteger(count);
    void* result = wide ? PadUnits<uint16_t>(text, unit, added, left)
                        : PadUnits<char>(text, static_cast<char>(unit), added, left);
    ReleaseOperand(argument);
    ReleaseOperand(fill);
    ReleaseOperand(count);
    PushTextResult(result, wide);
}

// --- wrap -------------------------------------------------------------------------------

// Mode 0 clamps into [low, high]. Any other mode wraps: a value below low
// first becomes high - value; a value above high then comes back in from
// low, a whole number of periods (high - low) at once, so the result lies in
// (low, high] (high itself when the excess is a whole number of periods).
// An empty or inverted range has no period: a value above high then takes
// the one step (value - high) + low. NaN and infinities give NaN, never a loop.
double WrapValue(double value, double low, double high, int32_t mode) {
    if (mode == 0) {
        if (value < low) value = low;
        if (value > high) value = high;
        return value;
    }
    if (value < low) value = high - value;
    if (!(value > high)) return value;
    const double period = high - low;
    if (!(period > 0)) return (value - high) + low;
    const double excess = std::fmod(value - high, period);
    return excess == 0 ? high : low + excess;
}

}  // namespace

void Builtin_length() {
    StackEntry argument = TakeOperand();
    const size_t length = ArgumentText(argument, IsWide(argument)).length;
    ReleaseOperand(argument);
    PushNumberResult(static_cast<double>(length));
}

// A negative start counts as 0; a count of -1 is the rest; a start + count
// past the end (the sum taken as an unsigned 32-bit number, so a start + count
// below 0 counts as past the end) is cut back to the rest; a count that is
// still negative gives the empty text.
void Builtin_mid() {
    StackEntry countArgument = TakeOperand();
    StackEntry startArgument = TakeOperand();
    StackEntry argument = TakeOperand();
    const bool wide = IsWide(argument);
    const TextSpan text = ArgumentText(argument, wide);
    const int64_t length = static_cast<int64_t>(text.length);
    const int64_t start = std::max<int32_t>(ArgumentInteger(startArgument), 0);
    int64_t count = ArgumentInteger(countArgument);
    if (count == -1) count = length - start;
    if (static_cast<uint32_t>(start + count) > length) count = length - start;
    const TextSpan cut = count < 0 ? TextSpan{nullptr, 0}
                                   : TextSpan{RestOf(text, static_cast<size_t>(start), wide).units,
                                              static_cast<size_t>(count)};
    void* result = CopyText(cut, wide);
    ReleaseOperand(argument);
    ReleaseOperand(startArgument);
    ReleaseOperand(countArgument);
    PushTextResult(result, wide);
}

void Builtin_pos() { RunSearch(FindFirstText); }
void Builtin_rpos() { RunSearch(FindLastText); }
void Builtin_cpos() { RunSearch(CountTextOccurrences); }

// A start below 0 searches from the beginning; one past the end finds nothing.
void Builtin_npos() {
    StackEntry startArgument = TakeOperand();
    const int32_t start = std::max<int32_t>(ArgumentInteger(startArgument), 0);
    ReleaseOperand(startArgument);
    RunSearch([start](TextSpan text, TextSpan find, bool wide) -> int64_t {
        if (static_cast<size_t>(start) > text.length) return -1;
        const int64_t found = FindFirstText(RestOf(text, static_cast<size_t>(start), wide), find, wide);
        return found < 0 ? -1 : found + start;
    });
}

void Builtin_upper() { PushEditedCopy(UpperAscii, UpperWide); }
void Builtin_lower() { PushEditedCopy(LowerAscii, LowerWide); }

void Builtin_capitalize() {
    PushEditedCopy(
        [](char* text, size_t length) {
            LowerAscii(text, length);
            RaiseFirstAscii(text, length);
        },
        [](uint16_t* units, size_t length) {
            LowerWide(units, length);
            RaiseFirstAscii(units, length);
        });
}

void Builtin_swapcase() { PushEditedCopy(SwapAsciiCase<char>, SwapAsciiCase<uint16_t>); }
void Builtin_reverse() { PushEditedCopy(ReverseUnits<char>, ReverseUnits<uint16_t>); }
void Builtin_dup() { PushEditedCopy(KeepUnits, KeepUnits); }

void Builtin_rtrim() { PushTrimmed(false, true); }
void Builtin_ltrim() { PushTrimmed(true, false); }
void Builtin_trim() { PushTrimmed(true, true); }

void Builtin_lpad() { PushPadded(true); }
void Builtin_rpad() { PushPadded(false); }

void Builtin_wrap() {
    StackEntry modeArgument = TakeOperand();
    StackEntry highArgument = TakeOperand();
    StackEntry lowArgument = TakeOperand();
    StackEntry valueArgument = TakeOperand();
    const double result = WrapValue(OperandNumber(valueArgument), OperandNumber(lowArgument),
                                    OperandNumber(highArgument), ArgumentInteger(modeArgument));
    ReleaseOperand(valueArgument);
    ReleaseOperand(lowArgument);
    ReleaseOperand(highArgument);
    ReleaseOperand(modeArgument);
    PushNumberResult(result);
}

}  // namespace qob
