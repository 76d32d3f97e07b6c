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
};

const RuleRow kRules[] = {
    {Builtin_add, AddNumbers},
    {Builtin_subtract, SubtractNumbers},
    {Builtin_multiply, MultiplyNumbers},
    {Builtin_divide, DivideNumbers},
    {Builtin_mod, RemainderOfNumbers},
    {Builtin_div, QuotientOfNumbers},
    {Builtin_equal, EqualNumbers},
    {Builtin_notequal, NotEqualNumbers},
    {Builtin_less, LessNumbers},
    {Builtin_greater, GreaterNumbers},
    {Builtin_lessequal, LessEqualNumbers},
    {Builtin_greaterequal, GreaterEqualNumbers},
};

// Fills the table once, before any program runs; rows never move after.
struct TableFiller {
    TableFiller() {
        for (const RuleRow& row : kRules) {
            size_t slot = NumberRuleSlotOf(row.handler);
            while (NumberRuleTable[slot].handler) slot = (slot + 1) % kNumberRuleSlots;
            NumberRuleTable[slot] = {row.handler, row.rule};
        }
    }
};

const TableFiller kFiller;

}  // namespace

// The rows spread over the table by their handler's address, so that every
// push that an operator follows finds its rule (or that it has none) in a
// probe or two.
NumberRuleSlot NumberRuleTable[kNumberRuleSlots];

NumberRule NumberRuleOf(Handler handler) {
    for (size_t slot = NumberRuleSlotOf(handler);; slot = (slot + 1) % kNumberRuleSlots) {
        const NumberRuleSlot& row = NumberRuleTable[slot];
        if (row.handler == handler) return row.rule;
        if (!row.handler) return nullptr;
    }
}

}  // namespace qob
