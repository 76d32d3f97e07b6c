// tests/builtins/maths/random_builtins_test.cpp
// rand, random, randomset and srand: repeatable sequences after one seed,
// the ranges of the draws, the 32-bit views of n and of the seed, and
// randomset without arguments and with more than 1,024.

#include "builtins/maths/random_builtins.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"
#include "platform/c_library.h"

namespace qob::testing {
namespace {

class RandomBuiltinsTest : public OperatorTest {
protected:
    void Seed(double seed) {
        const int before = StackDepth();
        PushNumber(seed);
        Builtin_srand();
        EXPECT_EQ(StackDepth(), before) << "srand pushes nothing";
    }

    double Rand() {
        Builtin_rand();
        return PopValue();
    }

    double Random(double n) {
        PushNumber(n);
        Builtin_random();
        EXPECT_EQ(StackDepth(), 1);
        return PopValue();
    }

    double RandomSet(const std::vector<std::string>& arguments) {
        const int before = StackDepth();
        OpenFrame();
        for (const std::string& argument : arguments) Push(argument);
        Builtin_randomset();
        EXPECT_EQ(StackDepth(), before + 1);
        EXPECT_EQ(context->argumentFrame.count, 0) << "the frame is closed";
        return PopValue();
    }

    // A mixed run of draws after the seed.
    std::vector<double> Draws(double seed) {
        Seed(seed);
        std::vector<double> draws;
        for (int i = 0; i < 20; ++i) {
            draws.push_back(Rand());
            draws.push_back(Random(1000));
            draws.push_back(RandomSet({"n:1", "t:2", "w:3", "n:4", "n:5"}));
        }
        return draws;
    }

    // The first draws after a seed, as rand gives them.
    std::vector<double> FirstDraws(double seed) {
        Seed(seed);
        std::vector<double> draws;
        for (int i = 0; i < 8; ++i) draws.push_back(Rand());
        return draws;
    }
};

TEST_F(RandomBuiltinsTest, TheSameSeedGivesTheSameSequence) {
    const std::vector<double> first = Draws(4711);
    EXPECT_EQ(Draws(4711), first);
    EXPECT_NE(Draws(4712), first);
    // The sequence is not stuck on one value.
    EXPECT_GT(std::set<double>(first.begin(), first.end()).size(), 10u);
}

// The seed is the number's unsigned 32-bit view: -1 is 2^32 - 1, anything
// beyond saturates, fractions truncate, NaN and texts that are no number are 0.
TEST_F(RandomBuiltinsTest, TheSeedIsTheUnsigned32BitView) {
    EXPECT_EQ(FirstDraws(-1), FirstDraws(4294967295.0));
    EXPECT_EQ(FirstDraws(1e300), FirstDraws(4294967295.0));
    EXPECT_EQ(FirstDraws(-2147483648.0), FirstDraws(2147483648.0));
    EXPECT_EQ(FirstDraws(-1e300), FirstDraws(0));
    EXPECT_EQ(FirstDraws(7.9), FirstDraws(7));
    EXPECT_EQ(FirstDraws(std::nan("")), FirstDraws(0));
    Push("t:12");
    Builtin_srand();
    const std::vector<double> afterText = {Rand(), Rand()};
    const std::vector<double> afterNumber = FirstDraws(12);
    EXPECT_EQ(afterText, std::vector<double>(afterNumber.begin(), afterNumber.begin() + 2));
    EXPECT_NE(FirstDraws(1), FirstDraws(2));
}

TEST_F(RandomBuiltinsTest, DrawsStayInTheirRanges) {
    Seed(99);
    std::set<double> dice;
    for (int i = 0; i < 2000; ++i) {
        const double draw = Rand();
        EXPECT_TRUE(draw >= 0 && draw <= 32767 && draw == static_cast<int>(draw)) << draw;
        EXPECT_EQ(Random(1), 0);
        const double die = Random(6);
        EXPECT_TRUE(die >= 0 && die <= 5 && die == static_cast<int>(die)) << die;
        dice.insert(die);
        const double negative = Random(-6);
        EXPECT_TRUE(negative <= 0 && negative >= -5 && negative == static_cast<int>(negative)) << negative;
        // n is the signed 32-bit view: 2^31 is -2^31, so the draws run from
        // 0 down to -2^31 + 1; beyond 2^32 it saturates at 2^31 - 1.
        const double wide = Random(2147483648.0);
        EXPECT_TRUE(wide <= 0 && wide > -2147483648.0) << wide;
        const double huge = Random(1e300);
        EXPECT_TRUE(huge >= 0 && huge < 2147483647.0) << huge;
    }
    EXPECT_EQ(dice.size(), 6u);
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(std::nan("")), 0);
}

TEST_F(RandomBuiltinsTest, RandomsetPicksThePositionTheDrawNames) {
    // Position 0 is the last argument; the draw picks draw / 32768 * count.
    for (int i = 0; i < 50; ++i) {
        platform::SeedRandom(static_cast<uint32_t>(i));
        const int draw = platform::NextRandom();
        const int position = draw * 5 / 32768;
        Seed(i);
        EXPECT_EQ(RandomSet({"n:10", "t:20", "w:30", "n:40", "t:50"}), 50 - 10 * position) << i;
    }
    Seed(3);
    EXPECT_EQ(RandomSet({"t:abc"}), 0) << "a text that is no number counts as 0";
    EXPECT_EQ(RandomSet({"t:2.5"}), 2.5);
}

// With no argument there is no entry to pick: the result is 0 and the
// generator is not drawn from.
TEST_F(RandomBuiltinsTest, RandomsetWithoutArgumentsGivesZeroWithoutADraw) {
    const std::vector<double> expected = FirstDraws(321);
    Seed(321);
    EXPECT_EQ(RandomSet({}), 0);
    std::vector<double> after;
    for (int i = 0; i < 8; ++i) after.push_back(Rand());
    EXPECT_EQ(after, expected);
}

// No fixed table: every argument takes part, however many there are.
TEST_F(RandomBuiltinsTest, RandomsetTakesMoreThan1024Arguments) {
    constexpr int kCount = 3000;
    std::vector<std::string> arguments;
    for (int i = 0; i < kCount; ++i) arguments.push_back("n:" + std::to_string(i));
    PushNumber(-1);  // below the frame, left alone
    double highest = -1;
    for (uint32_t seed = 0; seed < 40; ++seed) {
        platform::SeedRandom(seed);
        const int position = platform::NextRandom() * kCount / 32768;
        Seed(seed);
        const double picked = RandomSet(arguments);
        EXPECT_EQ(picked, kCount - 1 - position) << seed;
        highest = std::max(highest, static_cast<double>(position));
    }
    EXPECT_GT(highest, 1024) << "some draws reach past the 1,024th position";
    EXPECT_EQ(PopValue(), -1);
}

}  // namespace
}  // namespace qob::testing
