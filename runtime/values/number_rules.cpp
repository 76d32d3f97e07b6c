// runtime/values/number_rules.cpp
// The table of the operator handlers whose two-number case a single rule
// gives, so that a push followed by one of them can run it without the stack.

#include "runtime/values/number_rules.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace qob {
namespace {

// The rows installed last; NumberRuleIndexOf walks them.
std::span<const NumberRuleRow> gRules;

// How many rows the multiplier would keep out of their first probe's slot.
size_t CountDisplacedRows(std::span<const NumberRuleRow> rows, uint64_t multiplier) {
    bool used[kNumberRuleSlots] = {};
    size_t displaced = 0;
    for (const NumberRuleRow& row : rows) {
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

}  // namespace

// The rows spread over the table by their handler's address, so that every
// push that an operator follows finds its rule (or that it has none) in one
// probe. Both are set before any install (constant initialisation).
NumberRuleSlot NumberRuleTable[kNumberRuleSlots];
uint64_t NumberRuleMultiplier = 0x9E3779B97F4A7C15u;

NumberRule NumberRuleOf(Handler handler) {
    for (size_t slot = NumberRuleSlotOf(handler);; slot = (slot + 1) % kNumberRuleSlots) {
        const NumberRuleSlot& row = NumberRuleTable[slot];
        if (row.handler == handler) return row.rule;
        if (!row.handler) return nullptr;
    }
}

NumberRuleIndex NumberRuleIndexOf(Handler handler) {
    for (const NumberRuleRow& row : gRules)
        if (row.handler == handler) return row.index;
    return kNoNumberRule;
}

// Of up to 256 odd multipliers the first that displaces no row is kept (the
// best one when none does: the probe then goes on to the next slots). Twelve
// rows in 256 slots sit apart for about three multipliers in four, so one is
// found within the first few whatever addresses the linker gave the handlers.
// Installing again starts from an empty table, so the rows of the last
// install are the ones in force.
void InstallNumberRules(std::span<const NumberRuleRow> rows) {
    uint64_t candidate = NumberRuleMultiplier;
    uint64_t best = candidate;
    size_t bestDisplaced = CountDisplacedRows(rows, best);
    for (int tried = 1; bestDisplaced > 0 && tried < 256; ++tried) {
        candidate = NextMultiplier(candidate);
        const size_t displaced = CountDisplacedRows(rows, candidate);
        if (displaced < bestDisplaced) {
            best = candidate;
            bestDisplaced = displaced;
        }
    }
    for (NumberRuleSlot& slot : NumberRuleTable) slot = {};
    NumberRuleMultiplier = best;
    for (const NumberRuleRow& row : rows) {
        size_t slot = NumberRuleSlotOf(row.handler);
        while (NumberRuleTable[slot].handler) slot = (slot + 1) % kNumberRuleSlots;
        NumberRuleTable[slot] = {row.handler, row.rule};
    }
    gRules = rows;
}

}  // namespace qob
