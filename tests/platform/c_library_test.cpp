// tests/platform/c_library_test.cpp
// The C library stand-ins: random generator, number readers, formatting and
// the saturating integer cast.
#include "platform/c_library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace qob::platform {
namespace {

TEST(Random, SeedOneGivesTheStandardSequence) {
    SeedRandom(1);
    // The C standard's example generator: 16838, 5758, 10113 ...
    EXPECT_EQ(NextRandom(), 16838);
    EXPECT_EQ(NextRandom(), 5758);
    EXPECT_EQ(NextRandom(), 10113);
}

TEST(Random, SameSeedSameSequence) {
    SeedRandom(4711);
    std::vector<int> first;
    for (int i = 0; i < 50; ++i) first.push_back(NextRandom());
    SeedRandom(4711);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(NextRandom(), first[i]) << i;
}

TEST(Random, StaysWithinFifteenBitsAndUsesThemAll) {
    SeedRandom(99);
    int low = kRandomMax, high = 0;
    for (int i = 0; i < 100000; ++i) {
        const int value = NextRandom();
        ASSERT_GE(value, 0);
        ASSERT_LE(value, kRandomMax);
        low = std::min(low, value);
        high = std::max(high, value);
    }
    EXPECT_LT(low, 64);
    EXPECT_GT(high, kRandomMax - 64);
}

TEST(ReadDecimal, ReadsDecimalOnly) {
    struct Case { const char* text; double value; size_t used; };
    const double kInf = std::numeric_limits<double>::infinity();
    const Case kCases[] = {
        {"1.5", 1.5, 3},
        {"  -2e3xyz", -2000.0, 6},
        {"+.5e-1", 0.05, 6},
        {".5", 0.5, 2},
        {"7.", 7.0, 2},
        {"1e", 1.0, 1},
        {"1e+", 1.0, 1},
        {"1,5", 1.0, 1},            // the "C" decimal point only
        {"0x1p3", 0.0, 1},          // no hexadecimal floats
        {"0X10", 0.0, 1},
        {"00x1", 0.0, 2},
        {"inf", 0.0, 0},            // no words
        {"-infinity", 0.0, 0},
        {"nan", 0.0, 0},
        {".", 0.0, 0},
        {"-", 0.0, 0},
        {"", 0.0, 0},
        {"1e400", kInf, 5},
        {"-1e400", -kInf, 6},
        {"1e-400", 0.0, 6},
        {"4.9e-324", 4.9e-324, 8},
        {"12345678901234567890", 12345678901234567890.0, 20},
    };
    for (const auto& c : kCases) {
        const char* end = nullptr;
        EXPECT_EQ(ReadDecimal(c.text, &end), c.value) << c.text;
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.used) << c.text;
    }
}

TEST(ReadDecimal, KeepsTheSignOfZero) {
    EXPECT_TRUE(std::signbit(ReadDecimal("-0")));
    EXPECT_TRUE(std::signbit(ReadDecimal("-1e-400")));
    EXPECT_TRUE(std::signbit(ReadDecimal("-0x5")));
    EXPECT_FALSE(std::signbit(ReadDecimal("0x5")));
}

TEST(ReadInt64, ClampsAndStopsAtTheFirstNonDigit) {
    struct Case { const char* text; int64_t value; };
    const Case kCases[] = {
        {"123abc", 123},
        {"  -42", -42},
        {"+7", 7},
        {"1e5", 1},
        {"abc", 0},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"99999999999999999999", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"-99999999999999999999", std::numeric_limits<int64_t>::min()},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ReadInt64(c.text), c.value) << c.text;
}

TEST(ReadUnsigned64Bits, HexAndOctalAsSignedBits) {
    struct Case { const char* text; int base; int64_t value; bool converted; };
    const Case kCases[] = {
        {"0x1F", 16, 31, true},
        {"1f", 16, 31, true},
        {"0xFFFFFFFFFFFFFFFF", 16, -1, true},
        {"0x8000000000000000", 16, std::numeric_limits<int64_t>::min(), true},
        {"0x10000000000000000", 16, -1, true},   // clamps to 2^64 - 1
        {"0x", 16, 0, true},                      // the "0" is read
        {"g", 16, 0, false},
        {"17", 8, 15, true},
        {"0777", 8, 511, true},
        {"-1", 8, -1, true},
        {"8", 8, 0, false},
        {"", 8, 0, false},
    };
    for (const auto& c : kCases) {
        bool converted = !c.converted;
        EXPECT_EQ(ReadUnsigned64Bits(c.text, c.base, &converted), c.value) << c.text;
        EXPECT_EQ(converted, c.converted) << c.text;
    }
}

TEST(FormatText, FormatsDoublesAnd64BitIntegers) {
    char buffer[64];
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%f", 1.5), 8);
    EXPECT_STREQ(buffer, "1.500000");
    FormatText(buffer, sizeof buffer, "%lld|%llx|%llo", static_cast<long long>(INT64_MIN),
               0x123456789ABCDEFULL, 8ULL);
    EXPECT_STREQ(buffer, "-9223372036854775808|123456789abcdef|10");
    // Truncates like snprintf and reports the full length.
    EXPECT_EQ(FormatText(buffer, 4, "%d", 123456), 6);
    EXPECT_STREQ(buffer, "123");
}

TEST(TruncateToInteger, TruncatesSaturatesAndMapsNanToZero) {
    const double kNan = std::numeric_limits<double>::quiet_NaN();
    const double kInf = std::numeric_limits<double>::infinity();
    struct Case { double value; int32_t i32; int64_t i64; uint32_t u32; uint8_t u8; };
    const Case kCases[] = {
        {0.0, 0, 0, 0, 0},
        {2.9, 2, 2, 2, 2},
        {-2.9, -2, -2, 0, 0},
        {-0.5, 0, 0, 0, 0},
        {255.9, 255, 255, 255, 255},
        {256.0, 256, 256, 256, 255},
        {2147483647.9, 2147483647, 2147483647, 2147483647u, 255},
        {2147483648.0, INT32_MAX, 2147483648LL, 2147483648u, 255},
        {-2147483648.9, INT32_MIN, -2147483648LL, 0, 0},
        {-2147483649.0, INT32_MIN, -2147483649LL, 0, 0},
        {4294967296.0, INT32_MAX, 4294967296LL, UINT32_MAX, 255},
        {9223372036854775807.0, INT32_MAX, INT64_MAX, UINT32_MAX, 255},  // = 2^63
        {9223372036854774784.0, INT32_MAX, 9223372036854774784LL, UINT32_MAX, 255},
        {-9223372036854775808.0, INT32_MIN, INT64_MIN, 0, 0},
        {-1e300, INT32_MIN, INT64_MIN, 0, 0},
        {kInf, INT32_MAX, INT64_MAX, UINT32_MAX, 255},
        {-kInf, INT32_MIN, INT64_MIN, 0, 0},
        {kNan, 0, 0, 0, 0},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(TruncateToInteger<int32_t>(c.value), c.i32) << c.value;
        EXPECT_EQ(TruncateToInteger<int64_t>(c.value), c.i64) << c.value;
        EXPECT_EQ(TruncateToInteger<uint32_t>(c.value), c.u32) << c.value;
        EXPECT_EQ(TruncateToInteger<uint8_t>(c.value), c.u8) << c.value;
    }
    EXPECT_EQ(TruncateToInteger<uint64_t>(1.8446744073709552e19), UINT64_MAX);
    EXPECT_EQ(TruncateToInteger<uint64_t>(1.8446744073709550e19), 18446744073709549568ULL);
}

// The 32-bit views keep the 32 bits of anything in the signed or the unsigned
// range, so that an unsigned result seen signed and back is unchanged.
TEST(TruncateTo32Bits, KeepsThe32BitsOfEitherRangeAndSaturatesBeyond) {
    const double kNan = std::numeric_limits<double>::quiet_NaN();
    const double kInf = std::numeric_limits<double>::infinity();
    struct Case { double value; int32_t i32; uint32_t u32; };
    const Case kCases[] = {
        {0.0, 0, 0},
        {-0.5, 0, 0},
        {2.9, 2, 2},
        {-2.9, -2, 4294967294u},
        {-1.0, -1, UINT32_MAX},
        {2147483647.9, INT32_MAX, 2147483647u},
        {2147483648.0, INT32_MIN, 2147483648u},
        {4294967295.0, -1, UINT32_MAX},
        {4294967295.9, -1, UINT32_MAX},
        {4294967296.0, INT32_MAX, UINT32_MAX},
        {-2147483648.0, INT32_MIN, 2147483648u},
        {-2147483648.9, INT32_MIN, 2147483648u},
        {-2147483649.0, INT32_MIN, 0},
        {9007199254740992.0, INT32_MAX, UINT32_MAX},
        {1e300, INT32_MAX, UINT32_MAX},
        {-1e300, INT32_MIN, 0},
        {kInf, INT32_MAX, UINT32_MAX},
        {-kInf, INT32_MIN, 0},
        {kNan, 0, 0},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(TruncateTo32Bits<int32_t>(c.value), c.i32) << c.value;
        EXPECT_EQ(TruncateTo32Bits<uint32_t>(c.value), c.u32) << c.value;
    }
}

}  // namespace
}  // namespace qob::platform
