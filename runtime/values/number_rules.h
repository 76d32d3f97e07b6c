// runtime/values/number_rules.h
// What the arithmetic, integer and comparison operators give for two plain
// numbers, and the rule each operator handler follows for them. The rules are
// shared by the operator built-ins and the machine's fused fast paths; the
// built-ins install which handler follows which rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/c_library.h"
#include "runtime/vm/instruction.h"

namespace qob {

using NumberRule = double (*)(double, double);

inline double AddNumbers(double a, double b) { return a + b; }
inline double SubtractNumbers(double a, double b) { return a - b; }
inline double MultiplyNumbers(double a, double b) { return a * b; }
// IEEE: a zero divisor gives an infinity or NaN.
inline double DivideNumbers(double a, double b) { return a / b; }

// TruncateToInteger<int32_t> with its common case first: a number strictly
// between -2^31 - 1 and 2^31 truncates to an int32_t as it is; NaN and every
// other number take the saturating way.
inline int32_t TruncateToInt32(double value) {
    if (value > -2147483649.0 && value < 2147483648.0) [[likely]]
        return static_cast<int32_t>(value);
    return platform::TruncateToInteger<int32_t>(value);
}

// div: the quotient truncated to 32 bits; 0 for a zero divisor.
inline double QuotientOfNumbers(double dividend, double divisor) {
    return divisor == 0.0 ? 0.0 : TruncateToInt32(dividend / divisor);
}

// mod: the remainder of the two truncated to 32 bits.
inline double RemainderOfNumbers(double dividendValue, double divisorValue) {
    const int32_t divisor = TruncateToInt32(divisorValue);
    const int32_t dividend = TruncateToInt32(dividendValue);
    // Any number modulo -1 is 0; the 32-bit division would trap on the most
    // negative number, so that divisor never reaches it.
    if (divisor == 0 || divisor == -1) return 0.0;
    return static_cast<double>(dividend % divisor);
}

// The comparisons give 1 for true and 0 for false.
inline double EqualNumbers(double a, double b) { return a == b ? 1.0 : 0.0; }
inline double NotEqualNumbers(double a, double b) { return a != b ? 1.0 : 0.0; }
inline double LessNumbers(double a, double b) { return a < b ? 1.0 : 0.0; }
inline double GreaterNumbers(double a, double b) { return a > b ? 1.0 : 0.0; }
inline double LessEqualNumbers(double a, double b) { return a <= b ? 1.0 : 0.0; }
inline double GreaterEqualNumbers(double a, double b) { return a >= b ? 1.0 : 0.0; }

// The rules by a small number, for a node that keeps in a byte which rule the
// operator after it follows (0: none).
enum NumberRuleIndex : uint8_t {
    kNoNumberRule,
    kAddRule,
    kSubtractRule,
    kMultiplyRule,
    kDivideRule,
    kRemainderRule,
    kQuotientRule,
    kEqualRule,
    kNotEqualRule,
    kLessRule,
    kGreaterRule,
    kLessEqualRule,
    kGreaterEqualRule,
};

// One operator handler and the rule it follows for two plain numbers.
struct NumberRuleRow {
    Handler handler;
    NumberRule rule;
    NumberRuleIndex index;
};

// Makes the rows the ones NumberRuleOf, FindNumberRule and NumberRuleIndexOf
// answer from (the rows must outlive their use). Until the first install
// every handler has no rule.
void InstallNumberRules(std::span<const NumberRuleRow> rows);

// The number of the rule of the operator whose handler this is (kNoNumberRule
// for any other handler).
[[nodiscard]] NumberRuleIndex NumberRuleIndexOf(Handler handler);

// The rule of that number applied to two numbers (the index is one
// NumberRuleIndexOf gave, not kNoNumberRule).
[[nodiscard, gnu::always_inline]] inline double ApplyNumberRule(uint8_t index, double a, double b) {
    switch (index) {
        case kAddRule: return AddNumbers(a, b);
        case kSubtractRule: return SubtractNumbers(a, b);
        case kMultiplyRule: return MultiplyNumbers(a, b);
        case kDivideRule: return DivideNumbers(a, b);
        case kRemainderRule: return RemainderOfNumbers(a, b);
        case kQuotientRule: return QuotientOfNumbers(a, b);
        case kEqualRule: return EqualNumbers(a, b);
        case kNotEqualRule: return NotEqualNumbers(a, b);
        case kLessRule: return LessNumbers(a, b);
        case kGreaterRule: return GreaterNumbers(a, b);
        case kLessEqualRule: return LessEqualNumbers(a, b);
        default: return GreaterEqualNumbers(a, b);
    }
}

// The rule of the generic operator whose handler this is ("+", "-", "*",
// "/", div, mod and the six comparisons), or null for any other handler.
[[nodiscard]] NumberRule NumberRuleOf(Handler handler);

// The rows by handler address, as NumberRuleOf looks them up; its first
// probe is made inline, where most look-ups end. The slot is the top bits of
// the address times a multiplier picked when the table is filled, so that
// every row sits in its first probe's slot (handler addresses share their
// low bits and would crowd a few slots otherwise).
struct NumberRuleSlot {
    Handler handler;
    NumberRule rule;
};
constexpr size_t kNumberRuleSlotBits = 8;
constexpr size_t kNumberRuleSlots = size_t{1} << kNumberRuleSlotBits;
extern NumberRuleSlot NumberRuleTable[kNumberRuleSlots];
extern uint64_t NumberRuleMultiplier;
[[nodiscard]] inline size_t NumberRuleSlotFor(Handler handler, uint64_t multiplier) {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(handler) * multiplier) >> (64 - kNumberRuleSlotBits));
}
[[nodiscard]] inline size_t NumberRuleSlotOf(Handler handler) {
    return NumberRuleSlotFor(handler, NumberRuleMultiplier);
}
[[nodiscard]] inline NumberRule FindNumberRule(Handler handler) {
    const NumberRuleSlot& slot = NumberRuleTable[NumberRuleSlotOf(handler)];
    if (slot.handler == handler) return slot.rule;
    return slot.handler ? NumberRuleOf(handler) : nullptr;
}

}  // namespace qob
