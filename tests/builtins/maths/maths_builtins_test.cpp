// tests/builtins/maths/maths_builtins_test.cpp
// The mathematics built-ins against libm (expected values from Python's math,
// compared as str spells them), domain errors, the rounding built-ins with
// their bias and their limits, min and max over frames, and the rotations with
// their alias names.

#include "builtins/maths/maths_builtins.h"

#include <string>
#include <string_view>
#include <vector>

#include "builtins/builtin_registrations.h"
#include "builtins/conversions/conversion_builtins.h"
#include "builtins/operators/operator_fixture.h"
#include "runtime/data/number_text.h"

namespace qob::testing {
namespace {

// One call: the handler, its described arguments (as Push takes them) and
// the result as str spells it ("%f" without trailing zeros; "nan", "inf").
struct Case {
    void (*handler)();
    std::vector<std::string> arguments;
    std::string expected;
};

std::string Spelled(double value) {
    char text[kNumberTextSize];
    FormatNumber(value, text);
    return text;
}

class MathsBuiltinsTest : public OperatorTest {
protected:
    // Runs the case and gives its number result as str spells it.
    std::string RunSpelled(const Case& c) { return Spelled(RunNumber(c)); }

    // Runs the case and gives its number result exactly.
    double RunNumber(const Case& c) {
        for (const std::string& argument : c.arguments) Push(argument);
        c.handler();
        EXPECT_EQ(StackDepth(), 1) << Label(c);
        EXPECT_EQ(context->stackTop->text, nullptr) << Label(c) << ": the result is a number";
        return PopValue();
    }

    // Runs a framed built-in on the arguments, as a call with __savesp would.
    std::string RunFramed(void (*handler)(), const std::vector<std::string>& arguments) {
        OpenFrame();
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(context->argumentFrame.count, 0) << "the frame is closed";
        return Spelled(PopValue());
    }

    static std::string Label(const Case& c) {
        std::string label;
        for (const std::string& argument : c.arguments) label += "(" + argument + ")";
        return label;
    }

    void ExpectCases(const std::vector<Case>& cases) {
        for (const Case& c : cases) EXPECT_EQ(RunSpelled(c), c.expected) << Label(c);
    }
};

// Expected values: Python's math on the same arguments, "%f" of the result
// with trailing zeros removed.
TEST_F(MathsBuiltinsTest, OneArgumentFunctionsAgreeWithPythonsMath) {
    ExpectCases({
        {Builtin_acos, {"n:-1"}, "3.141593"},      {Builtin_acos, {"n:-0.5"}, "2.094395"},
        {Builtin_acos, {"n:0"}, "1.570796"},       {Builtin_acos, {"n:0.3"}, "1.266104"},
        {Builtin_acos, {"n:1"}, "0"},
        {Builtin_asin, {"n:-1"}, "-1.570796"},     {Builtin_asin, {"n:-0.5"}, "-0.523599"},
        {Builtin_asin, {"n:0.3"}, "0.304693"},     {Builtin_asin, {"n:1"}, "1.570796"},
        {Builtin_atan, {"n:-1e300"}, "-1.570796"}, {Builtin_atan, {"n:-1"}, "-0.785398"},
        {Builtin_atan, {"n:0.5"}, "0.463648"},     {Builtin_atan, {"n:1e300"}, "1.570796"},
        {Builtin_cos, {"n:0"}, "1"},               {Builtin_cos, {"n:0.5"}, "0.877583"},
        {Builtin_cos, {"n:-1"}, "0.540302"},       {Builtin_cos, {"n:3.141592653589793"}, "-1"},
        {Builtin_cos, {"n:100"}, "0.862319"},
        {Builtin_sin, {"n:0"}, "0"},               {Builtin_sin, {"n:0.5"}, "0.479426"},
        {Builtin_sin, {"n:-1"}, "-0.841471"},      {Builtin_sin, {"n:1.5707963267948966"}, "1"},
        {Builtin_sin, {"n:100"}, "-0.506366"},
        {Builtin_tan, {"n:0.5"}, "0.546302"},      {Builtin_tan, {"n:-1"}, "-1.557408"},
        {Builtin_tan, {"n:1.4"}, "5.797884"},      {Builtin_tan, {"n:100"}, "-0.587214"},
        {Builtin_cosh, {"n:0"}, "1"},              {Builtin_cosh, {"n:0.5"}, "1.127626"},
        {Builtin_cosh, {"n:-1"}, "1.543081"},      {Builtin_cosh, {"n:10"}, "11013.23292"},
        {Builtin_cosh, {"n:-20"}, "242582597.704895"},
        {Builtin_sinh, {"n:0.5"}, "0.521095"},     {Builtin_sinh, {"n:-1"}, "-1.175201"},
        {Builtin_sinh, {"n:10"}, "11013.232875"},  {Builtin_sinh, {"n:-20"}, "-242582597.704895"},
        {Builtin_tanh, {"n:0.5"}, "0.462117"},     {Builtin_tanh, {"n:-1"}, "-0.761594"},
        {Builtin_tanh, {"n:10"}, "1"},             {Builtin_tanh, {"n:-20"}, "-1"},
        {Builtin_exp, {"n:0"}, "1"},               {Builtin_exp, {"n:1"}, "2.718282"},
        {Builtin_exp, {"n:-1"}, "0.367879"},       {Builtin_exp, {"n:0.5"}, "1.648721"},
        {Builtin_exp, {"n:20"}, "485165195.40979"}, {Builtin_exp, {"n:-745.2"}, "0"},
        {Builtin_log, {"n:1"}, "0"},               {Builtin_log, {"n:2.718281828459045"}, "1"},
        {Builtin_log, {"n:0.5"}, "-0.693147"},     {Builtin_log, {"n:10"}, "2.302585"},
        {Builtin_log, {"n:1e300"}, "690.775528"},  {Builtin_log, {"n:2147483648"}, "21.487563"},
        {Builtin_log10, {"n:1"}, "0"},             {Builtin_log10, {"n:10"}, "1"},
        {Builtin_log10, {"n:0.5"}, "-0.30103"},    {Builtin_log10, {"n:1e300"}, "300"},
        {Builtin_log10, {"n:4294967295"}, "9.63296"},
        {Builtin_sqrt, {"n:0"}, "0"},              {Builtin_sqrt, {"n:2"}, "1.414214"},
        {Builtin_sqrt, {"n:0.25"}, "0.5"},         {Builtin_sqrt, {"n:2147483648"}, "46340.950012"},
        {Builtin_sqrt, {"n:4294967295"}, "65535.999992"},
        {Builtin_floor, {"n:2.5"}, "2"},           {Builtin_floor, {"n:-2.5"}, "-3"},
        {Builtin_floor, {"n:-0.5"}, "-1"},         {Builtin_floor, {"n:9007199254740993"}, "9007199254740992"},
        {Builtin_ceil, {"n:2.5"}, "3"},            {Builtin_ceil, {"n:-2.5"}, "-2"},
        {Builtin_ceil, {"n:0.5"}, "1"},            {Builtin_ceil, {"n:9007199254740992"}, "9007199254740992"},
        {Builtin_abs, {"n:-2.5"}, "2.5"},          {Builtin_abs, {"n:2147483648"}, "2147483648"},
        {Builtin_abs, {"n:-0"}, "0"},              {Builtin_abs, {"n:-inf"}, "inf"},
        {Builtin_chgsign, {"n:2.5"}, "-2.5"},      {Builtin_chgsign, {"n:-4294967295"}, "4294967295"},
        {Builtin_chgsign, {"n:0"}, "-0"},          {Builtin_chgsign, {"n:-inf"}, "inf"},
    });
}

TEST_F(MathsBuiltinsTest, TwoArgumentFunctionsTakeTheArgumentsInTheWrittenOrder) {
    ExpectCases({
        {Builtin_atan2, {"n:1", "n:0"}, "1.570796"},         {Builtin_atan2, {"n:-1", "n:0"}, "-1.570796"},
        {Builtin_atan2, {"n:0", "n:-1"}, "3.141593"},        {Builtin_atan2, {"n:-0.5", "n:-0.5"}, "-2.356194"},
        {Builtin_atan2, {"n:1e300", "n:1"}, "1.570796"},     {Builtin_atan2, {"n:2147483648", "n:-1"}, "1.570796"},
        {Builtin_pow, {"n:2", "n:10"}, "1024"},              {Builtin_pow, {"n:2", "n:0.5"}, "1.414214"},
        {Builtin_pow, {"n:-2", "n:3"}, "-8"},                {Builtin_pow, {"n:10", "n:-2"}, "0.01"},
        {Builtin_pow, {"n:2", "n:-1074"}, "0"},              {Builtin_pow, {"n:0.5", "n:2"}, "0.25"},
        {Builtin_pow, {"n:4294967295", "n:2"}, "18446744065119617024"},
        {Builtin_hypot, {"n:3", "n:4"}, "5"},                {Builtin_hypot, {"n:-5", "n:12"}, "13"},
        {Builtin_hypot, {"n:0", "n:0"}, "0"},                {Builtin_hypot, {"n:2147483648", "n:1"}, "2147483648"},
    });
}

// Outside a function's domain the result is NaN or an infinity, spelled as
// str spells it ("-nan" of glibc included), and no error is raised.
TEST_F(MathsBuiltinsTest, DomainErrorsGiveNanOrInfinityWithoutAnError) {
    ExpectCases({
        {Builtin_sqrt, {"n:-1"}, "nan"},         {Builtin_acos, {"n:2"}, "nan"},
        {Builtin_asin, {"n:-1.5"}, "nan"},       {Builtin_log, {"n:0"}, "-inf"},
        {Builtin_log, {"n:-1"}, "nan"},          {Builtin_log10, {"n:0"}, "-inf"},
        {Builtin_log10, {"n:-10"}, "nan"},       {Builtin_pow, {"n:0", "n:-1"}, "inf"},
        {Builtin_pow, {"n:-8", "n:0.5"}, "nan"}, {Builtin_exp, {"n:1000"}, "inf"},
        {Builtin_cosh, {"n:-1000"}, "inf"},      {Builtin_sinh, {"n:-1000"}, "-inf"},
        {Builtin_cos, {"n:inf"}, "nan"},         {Builtin_tan, {"n:-inf"}, "nan"},
        {Builtin_atan, {"n:inf"}, "1.570796"},   {Builtin_tanh, {"n:-inf"}, "-1"},
        {Builtin_sin, {"n:nan"}, "nan"},         {Builtin_hypot, {"n:nan", "n:inf"}, "inf"},
        {Builtin_exp, {"n:-inf"}, "0"},          {Builtin_floor, {"n:-inf"}, "-inf"},
    });
    EXPECT_EQ(LastError(), "");
}

// A text counts as the number it stands for, one that is none as 0.
TEST_F(MathsBuiltinsTest, TextArgumentsCountAsTheirNumbers) {
    ExpectCases({
        {Builtin_sqrt, {"t:16"}, "4"},           {Builtin_sqrt, {"w:2.25"}, "1.5"},
        {Builtin_abs, {"t:0x10"}, "16"}  ,        {Builtin_cos, {"t:abc"}, "1"},
        {Builtin_pow, {"t:2", "w:3"}, "8"},      {Builtin_floor, {"w:héllo"}, "0"},
        {Builtin_atan2, {"t:1", "t:x"}, "1.570796"},
    });
}

TEST_F(MathsBuiltinsTest, TruncMovesAValueAHairAwayFromZeroFirst) {
    ExpectCases({
        {Builtin_trunc, {"n:2.9999999999995"}, "3"}, {Builtin_trunc, {"n:2.7"}, "2"},
        {Builtin_trunc, {"n:-2.7"}, "-2"},            {Builtin_trunc, {"n:-2.9999999999995"}, "-3"},
        {Builtin_trunc, {"n:0.5"}, "0"},              {Builtin_trunc, {"n:2147483648.5"}, "2147483648"},
        {Builtin_trunc, {"n:4294967295.9"}, "4294967295"}, {Builtin_trunc, {"n:1e300"}, Spelled(1e300)},
        {Builtin_trunc, {"n:inf"}, "inf"},            {Builtin_trunc, {"n:nan"}, "nan"},
        {Builtin_trunc, {"t:-12.75"}, "-12"},
    });
}

// Halves go upward for either sign; a negative value past -x.5 goes down
// (the biased integer part alone would leave -2.7 at -2).
TEST_F(MathsBuiltinsTest, RoundGoesHalvesUpwardForEitherSign) {
    ExpectCases({
        {Builtin_round, {"n:2.5"}, "3"},        {Builtin_round, {"n:2.4"}, "2"},
        {Builtin_round, {"n:0.9999999999995"}, "1"},
        {Builtin_round, {"n:0.5"}, "1"},        {Builtin_round, {"n:-0.5"}, "0"},
        {Builtin_round, {"n:-2.5"}, "-2"},      {Builtin_round, {"n:-2.7"}, "-3"},
        {Builtin_round, {"n:-2.4"}, "-2"},      {Builtin_round, {"n:-0.4"}, "0"},
        {Builtin_round, {"n:-2.51"}, "-3"},     {Builtin_round, {"n:-0"}, "0"},
        {Builtin_round, {"n:2147483647.5"}, "2147483648"},
        {Builtin_round, {"n:-2147483648.5"}, "-2147483648"},
        {Builtin_round, {"n:4294967295.5"}, "4294967296"},
        {Builtin_round, {"n:9007199254740992"}, "9007199254740992"},
        {Builtin_round, {"t:7.5"}, "8"},        {Builtin_round, {"w:-7.5"}, "-7"},
    });
}

// Beyond 2^63 a double is whole already: it stays itself instead of
// stopping at the 64-bit integer limit; infinities and NaN stay too.
TEST_F(MathsBuiltinsTest, RoundKeepsValuesBeyondTheIntegerRange) {
    ExpectCases({
        {Builtin_round, {"n:1e300"}, Spelled(1e300)},   {Builtin_round, {"n:-1e300"}, Spelled(-1e300)},
        {Builtin_round, {"n:1e19"}, "10000000000000000000"},
        {Builtin_round, {"n:inf"}, "inf"},               {Builtin_round, {"n:-inf"}, "-inf"},
        {Builtin_round, {"n:nan"}, "nan"},
    });
}

// Expected values: floor(x * 10^d + 0.5) / 10^d and floor(x * 10^d) / 10^d
// worked by Python; neither has a bias (1.005 is a hair below 1.005).
TEST_F(MathsBuiltinsTest, RoundexAndTruncexWorkOnDecimalsWithoutBias) {
    const struct {
        void (*handler)();
        double x;
        double digits;
        double expected;
    } cases[] = {
        {Builtin_roundex, 2.375, 2, 2.38},          {Builtin_roundex, 1234, -2, 1200.0},
        {Builtin_roundex, -2.5, 0, -2.0},           {Builtin_roundex, 2.5, 0, 3.0},
        {Builtin_roundex, -0.5, 0, 0.0},            {Builtin_roundex, 0.5, 0, 1.0},
        {Builtin_roundex, -2.45, 1, -2.4},          {Builtin_roundex, 1.005, 2, 1.0},
        {Builtin_roundex, -1234.5, -1, -1230.0},    {Builtin_roundex, 2147483648.5, 0, 2147483649.0},
        {Builtin_roundex, 123.456, -3, 0.0},
        {Builtin_truncex, 2.789, 1, 2.7},           {Builtin_truncex, -1.25, 1, -1.3},
        {Builtin_truncex, 1234, -2, 1200.0},        {Builtin_truncex, -1234, -2, -1300.0},
        {Builtin_truncex, 0.5, 0, 0.0},             {Builtin_truncex, -0.5, 0, -1.0},
        {Builtin_truncex, 2147483647.9, 0, 2147483647.0}, {Builtin_truncex, 9.99, 1, 9.9},
        // The digits are the signed 32-bit view: 2.7 digits are 2, and
        // 4294967295 digits are -1.
        {Builtin_roundex, 2.375, 2.7, 2.38},        {Builtin_roundex, 1234, 4294967295.0, 1230.0},
        {Builtin_truncex, 1239, 4294967295.0, 1230.0},
    };
    for (const auto& c : cases) {
        PushNumber(c.x);
        PushNumber(c.digits);
        c.handler();
        ASSERT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopValue(), c.expected) << c.x << " " << c.digits;
    }
}

// 10^400 is infinite and 10^-400 is 0: a literal formula gives NaN for every
// finite x. Too many digits leave x as it is, too few give 0. So does a
// product that overflows although 10^digits does not (1e300 with 10 digits
// would give inf).
TEST_F(MathsBuiltinsTest, RoundexAndTruncexBeyondTheScaleOfADouble) {
    ExpectCases({
        {Builtin_roundex, {"n:2.375", "n:400"}, "2.375"},   {Builtin_truncex, {"n:-2.375", "n:400"}, "-2.375"},
        {Builtin_roundex, {"n:2.375", "n:-400"}, "0"},      {Builtin_truncex, {"n:-2.375", "n:-400"}, "0"},
        {Builtin_roundex, {"n:1e300", "n:-400"}, "0"},      {Builtin_roundex, {"n:2.375", "n:2147483648"}, "0"},
        {Builtin_roundex, {"n:1e300", "n:10"}, Spelled(1e300)},
        {Builtin_truncex, {"n:-1e300", "n:10"}, Spelled(-1e300)},
        {Builtin_roundex, {"n:1e-300", "n:310"}, "0"},
        {Builtin_roundex, {"n:inf", "n:2"}, "inf"},         {Builtin_roundex, {"n:nan", "n:2"}, "nan"},
        {Builtin_roundex, {"n:2.5", "n:nan"}, "3"},
    });
}

TEST_F(MathsBuiltinsTest, MinAndMaxTakeEveryArgumentOfTheFrame) {
    EXPECT_EQ(RunFramed(Builtin_min, {"n:3", "t:1", "n:2"}), "1");
    EXPECT_EQ(RunFramed(Builtin_min, {"n:-5"}), "-5");
    EXPECT_EQ(RunFramed(Builtin_min, {"n:2", "w:-7.5", "t:abc"}), "-7.5");
    EXPECT_EQ(RunFramed(Builtin_min, {"n:nan", "n:4"}), "4");
    EXPECT_EQ(RunFramed(Builtin_min, {"n:-inf", "n:4"}), "-inf");
    EXPECT_EQ(RunFramed(Builtin_max, {"n:-5", "n:-3"}), "-3");
    EXPECT_EQ(RunFramed(Builtin_max, {"n:-5"}), "-5");
    EXPECT_EQ(RunFramed(Builtin_max, {"t:4294967295", "n:2147483648", "n:1e300"}), Spelled(1e300));
    EXPECT_EQ(RunFramed(Builtin_max, {"n:4", "n:nan"}), "4");
    EXPECT_EQ(RunFramed(Builtin_max, {"n:-inf"}), "-inf");
    // A matrix argument counts as its value word and its blocks are freed.
    EXPECT_EQ(RunFramed(Builtin_max, {"m:[1,{a}]", "n:-2"}), "0");
    // The two defaults differ.
    EXPECT_EQ(RunFramed(Builtin_min, {}), Spelled(1.7976931348623157e308));
    EXPECT_EQ(RunFramed(Builtin_max, {}), "0");
}

TEST_F(MathsBuiltinsTest, MinAndMaxLeaveTheCellsBelowTheirFrame) {
    PushNumber(-100);
    OpenFrame();
    PushNumber(5);
    PushNumber(7);
    Builtin_min();
    ASSERT_EQ(StackDepth(), 2);
    EXPECT_EQ(PopValue(), 5);
    EXPECT_EQ(PopValue(), -100);
}

TEST_F(MathsBuiltinsTest, RotationsTurnThe32BitsByTheCountModulo32) {
    ExpectCases({
        {Builtin_lrotl, {"n:1", "n:31"}, "2147483648"}, {Builtin_lrotl, {"n:2147483648", "n:1"}, "1"},
        {Builtin_lrotr, {"n:1", "n:1"}, "2147483648"},  {Builtin_lrotl, {"n:1", "n:33"}, "2"},
        {Builtin_lrotl, {"n:1", "n:-1"}, "2147483648"}, {Builtin_lrotr, {"n:1", "n:-1"}, "2"},
        {Builtin_lrotl, {"n:305419896", "n:8"}, "878082066"},   // 0x12345678 -> 0x34567812
        {Builtin_lrotr, {"n:305419896", "n:4"}, "2166572391"},  // -> 0x81234567
        // Values: the unsigned 32-bit view (-1 is 0xFFFFFFFF, 2^32 and more
        // saturate, fractions truncate toward zero, NaN is 0).
        {Builtin_lrotl, {"n:-1", "n:5"}, "4294967295"},          {Builtin_lrotl, {"n:-2147483648", "n:1"}, "1"},
        {Builtin_lrotr, {"n:4294967296", "n:4"}, "4294967295"},  {Builtin_lrotl, {"n:-2147483649", "n:1"}, "0"},
        {Builtin_lrotl, {"n:1e300", "n:3"}, "4294967295"},       {Builtin_lrotl, {"n:2.9", "n:1"}, "4"},
        {Builtin_lrotl, {"n:nan", "n:1"}, "0"},                  {Builtin_lrotl, {"t:0x80000000", "w:1"}, "1"},
        // Counts: the signed 32-bit view (2^32 - 1 is -1, 2^31 is -2^31, a
        // multiple of 32), truncated toward zero.
        {Builtin_lrotl, {"n:1", "n:4294967295"}, "2147483648"}, {Builtin_lrotl, {"n:3", "n:2147483648"}, "3"},
        {Builtin_lrotl, {"n:1", "n:1.9"}, "2"},                 {Builtin_lrotl, {"n:1", "n:-1.9"}, "2147483648"},
        {Builtin_lrotl, {"n:1", "n:nan"}, "1"},
    });
}

// Every count from -33 to 64 against a rotation worked bit by bit.
TEST_F(MathsBuiltinsTest, RotationCountsFromMinus33To64) {
    const uint32_t value = 0x80000001u ^ 0x00F0F000u;
    for (int count = -33; count <= 64; ++count) {
        const int left = ((count % 32) + 32) % 32;
        uint32_t expected = value;
        for (int i = 0; i < left; ++i) expected = (expected << 1) | (expected >> 31);
        PushNumber(value);
        PushNumber(count);
        Builtin_lrotl();
        EXPECT_EQ(PopValue(), expected) << count;
        PushNumber(value);
        PushNumber(-count);
        Builtin_lrotr();
        EXPECT_EQ(PopValue(), expected) << count;
    }
}

// The second names are the same built-ins as the first.
TEST(MathsRegistrationTest, AliasesShareTheirHandlers) {
    const struct {
        std::string_view name;
        BuiltinHandler handler;
    } cases[] = {
        {"lrotl", Builtin_lrotl}, {"rotl", Builtin_lrotl},          {"lrotr", Builtin_lrotr},
        {"rotr", Builtin_lrotr},  {"LargeInt", Builtin_LargeInt},   {"Int64", Builtin_LargeInt},
        {"ToLargeInt", Builtin_ToLargeInt}, {"ToInt64", Builtin_ToLargeInt},
    };
    for (const auto& c : cases) {
        int found = 0;
        for (const BuiltinRegistration& row : LanguageBuiltinRegistrations()) {
            if (row.name != c.name) continue;
            ++found;
            EXPECT_EQ(row.handler, c.handler) << c.name;
        }
        EXPECT_EQ(found, 1) << c.name;
    }
}

}  // namespace
}  // namespace qob::testing
