// builtins/number_rules.cpp
// The operator handlers whose two-number case a single rule gives, so that
// a push followed by one of them can run it without the stack.

#include "builtins/number_rules.h"

#include <cstddef>
#include <cstdint>

#include "builtins/arithmetic_operators.h"
#include "builtins/comparison_operators.h"
#include "builtins/increment_operators.h"

namespace qob {
namespace {

struct RuleRow {
    Handler handler;
    NumberRule rule;
    NumberRuleIndex index;
};

const RuleRow kRules[] = {
    {Builtin_add, AddNumbers, kAddRule},
    {Builtin_subtract, SubtractNumbers, kSubtractRule},
    {Builtin_multiply, MultiplyNumbers, kMultiplyRule},
    {Builtin_divide, DivideNumbers, kDivideRule},
    {Builtin_mod, RemainderOfNumbers, kRemainderRule},
    {Builtin_div, QuotientOfNumbers, kQuotientRule},
    {Builtin_equal, EqualNumbers, kEqualRule},
    {Builtin_notequal, NotEqualNumbers, kNotEqualRule},
    {Builtin_less, LessNumbers, kLessRule},
    {Builtin_greater, GreaterNumbers, kGreaterRule},
    {Builtin_lessequal, LessEqualNumbers, kLessEqualRule},
    {Builtin_greaterequal, GreaterEqualNumbers, kGreaterEqualRule},
};

// How many rows the multiplier would keep out of their first probe's slot.
size_t CountDisplacedRows(uint64_t multiplier) {
    bool used[kNumberRuleSlots] = {};
    size_t displaced = 0;
    for (const RuleRow& row : kRules) {
        const size_t slot = NumberRuleSlotFor(row.handler, multiplier);
        displaced += used[slot] ? 1 : 0;
        used[slot] = true;
    }
    return displaced;
}

// The candidate after x: a full mix of it. Multipliers a small step apart
// would move the top bits of every product by almost nothing, and so place
// the rows the same way; mixed ones place them independently.
uint64_t NextMultiplier(uint64_t x) {
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return (x ^ (x >> 31)) | 1;
}

// Fills the table once, before any program runs; rows never move after. Of up
// to 256 odd multipliers the first that displaces no row is kept (the best one
// when none does: the probe then goes on to the next slots). Twelve rows in
// 256 slots sit apart for about three multipliers in four, so one is found
// within the first few whatever addresses the linker gave the handlers.
struct TableFiller {
    TableFiller() {
        uint64_t candidate = NumberRuleMultiplier;
        uint64_t best = candidate;
        size_t bestDisplaced = CountDisplacedRows(best);
        for (int tried = 1; bestDisplaced > 0 && tried < 256; ++tried) {
            candidate = NextMultiplier(candidate);
            const size_t displaced = CountDisplacedRows(candidate);
            if (displaced < bestDisplaced) {
                best = candidate;
                bestDisplaced = displaced;
            }
        }
        NumberRuleMultiplier = best;
        for (const RuleRow& row : kRules) {
            size_t slot = NumberRuleSlotOf(row.handler);
            while (NumberRuleTable[slot].handler) slot = (slot + 1) % kNumberRuleSlots;
            NumberRuleTable[slot] = {row.handler, row.rule};
        }
    }
};

}  // namespace

// The rows spread over the table by their handler's address, so that every
// push that an operator follows finds its rule (or that it has none) in one
// probe. Both are set before the filler runs (constant initialisation).
NumberRuleSlot NumberRuleTable[kNumberRuleSlots];
uint64_t NumberRuleMultiplier = 0x9E3779B97F4A7C15u;

namespace {

const TableFiller kFiller;

}  // namespace

NumberRule NumberRuleOf(Handler handler) {
    for (size_t slot = NumberRuleSlotOf(handler);; slot = (slot + 1) % kNumberRuleSlots) {
        const NumberRuleSlot& row = NumberRuleTable[slot];
        if (row.handler == handler) return row.rule;
        if (!row.handler) return nullptr;
    }
}

NumberRuleIndex NumberRuleIndexOf(Handler handler) {
    for (const RuleRow& row : kRules)
        if (row.handler == handler) return row.index;
    return kNoNumberRule;
}

}  // namespace qob
