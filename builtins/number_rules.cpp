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

// The rows spread over a small table by their handler's address, so that
// every push that an operator follows finds its rule (or that it has none)
// in a probe or two. Filled once; rows never move after.
constexpr size_t kSlots = 64;

size_t SlotOf(Handler handler) { return (reinterpret_cast<uintptr_t>(handler) >> 4) % kSlots; }

struct RuleTable {
    RuleRow slots[kSlots] = {};
    RuleTable() {
        for (const RuleRow& row : kRules) {
            size_t slot = SlotOf(row.handler);
            while (slots[slot].handler) slot = (slot + 1) % kSlots;
            slots[slot] = row;
        }
    }
};

const RuleTable kTable;

}  // namespace

NumberRule NumberRuleOf(Handler handler) {
    for (size_t slot = SlotOf(handler);; slot = (slot + 1) % kSlots) {
        const RuleRow& row = kTable.slots[slot];
        if (row.handler == handler) return row.rule;
        if (!row.handler) return nullptr;
    }
}

}  // namespace qob
