// tests/builtins/operators/number_rules_test.cpp
// Each operator's number rule gives what its handler leaves for two plain
// numbers, and handlers without such a rule have none, once the built-ins
// have installed their rules.

#include "runtime/values/number_rules.h"

#include <limits>

#include "builtins/builtin_registrations.h"
#include "builtins/operators/arithmetic_operators.h"
#include "builtins/operators/bitwise_operators.h"
#include "builtins/operators/comparison_operators.h"
#include "builtins/operators/increment_operators.h"
#include "builtins/operators/operator_fixture.h"

namespace qob::testing {
namespace {

class NumberRulesTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        InstallOperatorNumberRules();
    }
};

TEST_F(NumberRulesTest, RuleGivesWhatTheHandlerLeaves) {
    struct Operator {
        void (*handler)();
        const char* name;
    };
    const Operator kOperators[] = {
        {Builtin_add, "+"},         {Builtin_subtract, "-"},  {Builtin_multiply, "*"},
        {Builtin_divide, "/"},      {Builtin_mod, "mod"},     {Builtin_div, "div"},
        {Builtin_equal, "=="},      {Builtin_notequal, "<>"}, {Builtin_less, "<"},
        {Builtin_greater, ">"},     {Builtin_lessequal, "<="}, {Builtin_greaterequal, ">="},
    };
    const double kInfinity = std::numeric_limits<double>::infinity();
    struct Pair {
        double left, right;
    };
    const Pair kPairs[] = {
        {7, 3},    {-7, 3},  {7, -3},      {3, 7},          {5, 5},           {1, 0},
        {0, 0},    {-5, -1}, {-2147483648.0, -1}, {2.5, 0.5}, {1e10, 3},       {-1e300, 7},
        {kInfinity, 2}, {4, kInfinity},
    };
    for (const Operator& op : kOperators) {
        const NumberRule rule = NumberRuleOf(op.handler);
        ASSERT_NE(rule, nullptr) << op.name;
        EXPECT_EQ(FindNumberRule(op.handler), rule) << op.name;
        // Every row is found by the inline first probe.
        EXPECT_EQ(NumberRuleTable[NumberRuleSlotOf(op.handler)].handler, op.handler) << op.name;
        for (const Pair& p : kPairs) {
            const std::string expected = "n:" + FormatValue(rule(p.left, p.right));
            // The rule by its number (what a fused push keeps) gives the same.
            EXPECT_EQ("n:" + FormatValue(ApplyNumberRule(NumberRuleIndexOf(op.handler), p.left, p.right)), expected)
                << p.left << " " << op.name << " " << p.right;
            EXPECT_EQ(RunBinary(op.handler, "n:" + FormatValue(p.left), "n:" + FormatValue(p.right)), expected)
                << p.left << " " << op.name << " " << p.right;
        }
    }
}

TEST_F(NumberRulesTest, OtherHandlersHaveNone) {
    void (*const kOthers[])() = {Builtin_join, Builtin_and, Builtin_or, Builtin_bitand, Builtin_not, nullptr};
    for (void (*handler)() : kOthers) {
        EXPECT_EQ(NumberRuleOf(handler), nullptr);
        EXPECT_EQ(FindNumberRule(handler), nullptr);
        EXPECT_EQ(NumberRuleIndexOf(handler), kNoNumberRule);
    }
}

// The in-range shortcut truncates every number as the saturating
// conversion does, at the edges of the range and outside it.
TEST(NumberRulesTruncation, ShortcutAgreesWithTheSaturatingConversion) {
    const double kInfinity = std::numeric_limits<double>::infinity();
    const double kValues[] = {0.0,           -0.0,          0.5,           -0.5,          -1.5,
                              2147483647.0,  2147483647.9,  2147483648.0,  2147483648.5,  -2147483648.0,
                              -2147483648.5, -2147483649.0, -2147483649.5, 1e300,         -1e300,
                              kInfinity,     -kInfinity,    std::numeric_limits<double>::quiet_NaN()};
    for (double value : kValues)
        EXPECT_EQ(TruncateToInt32(value), platform::TruncateToInteger<int32_t>(value)) << value;
}

}  // namespace
}  // namespace qob::testing
