// tests/platform/wide_case_test.cpp
// Unit case mapping: letters of several scripts, units left alone.

#include "platform/wide_case.h"

#include <gtest/gtest.h>

namespace qob::platform {
namespace {

TEST(WideCase, MapsLettersOneUnitToOne) {
    struct Case {
        uint16_t lower, upper;
    };
    constexpr Case kPairs[] = {
        {'a', 'A'}, {'z', 'Z'}, {0x00E9, 0x00C9} /* e acute */, {0x03B1, 0x0391} /* alpha */,
        {0x0436, 0x0416} /* zhe */, {0x0101, 0x0100} /* a macron */,
    };
    for (const Case c : kPairs) {
        EXPECT_EQ(WideToUpper(c.lower), c.upper) << c.lower;
        EXPECT_EQ(WideToLower(c.upper), c.lower) << c.upper;
        EXPECT_EQ(WideToUpper(c.upper), c.upper) << c.upper;
        EXPECT_EQ(WideToLower(c.lower), c.lower) << c.lower;
    }
}

TEST(WideCase, LeavesOtherUnitsAlone) {
    // Digits and signs, a letter whose upper case is two letters (sharp s),
    // surrogate halves and the escape units of 8-bit bytes.
    constexpr uint16_t kUnits[] = {'0', '@', '[', '`', '{', 0x00DF, 0xD83D, 0xDE00, 0xDC80, 0xDCFF, 0x4E2D};
    for (const uint16_t unit : kUnits) {
        EXPECT_EQ(WideToUpper(unit), unit) << unit;
        EXPECT_EQ(WideToLower(unit), unit) << unit;
    }
}

}  // namespace
}  // namespace qob::platform
