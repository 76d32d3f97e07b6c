// tests/runtime/data/number_text_test.cpp
// Number texts: the test, both conversions, biased truncation, random integers.
#include "runtime/data/number_text.h"

#include "platform/c_library.h"
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

namespace qob {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

TEST(IsNumberString, AcceptsAndRejects) {
    struct Case { const char* text; bool number; };
    const Case kCases[] = {
        {"12", true}, {"-12", true}, {"1e+5", true}, {"1E-3", true}, {"0x1F", true},
        {"0Xab", true}, {"-", true}, {".", true}, {"1.2.3", true}, {"007", true},
        {"1e+", true},       // the sign after "e" is taken without digits
        {"x", true},         // "x" is accepted anywhere
        {"12x", true}, {"1x2", true},
        {"0x1e", true},      // a hexadecimal digit, not an exponent
        {"1-2", false}, {"+5", false}, {"1e5", false}, {"1F", false}, {"ABC", false},
        {"", false}, {" 1", false}, {"1 ", false}, {"1,5", false},
        {"0x1e+5", false},   // no exponent in hexadecimal
        {"10x1F", false},    // hexadecimal only after a leading "0x"
        {"1e", false}, {"\xE9", false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(IsNumberString(c.text), c.number) << c.text;
    EXPECT_TRUE(IsNumberString(nullptr));
}

TEST(StringToNumber, ConvertsNumberTexts) {
    struct Case { const char* text; double value; uint8_t failed; };
    const Case kCases[] = {
        {"0x1F", 31, 0},
        {"0X1f", 31, 0},
        {"0x1e", 30, 0},
        {"abc", 0, 1},
        {"0", 0, 0},
        {"0x", 0, 0},                 // too short for the hexadecimal reading
        {"1e+3", 1000, 0},
        {"1E-3", 0.001, 0},
        {"12x", 12, 0},
        {"-12", -12, 0},
        {"007", 7, 0},                // decimal, not octal
        {"1.2.3", 1.2, 0},
        {"-", 0, 0},
        {".", 0, 0},
        {"x", 0, 0},
        {"", 0, 1},
        {"+5", 0, 1},
        {"1e5", 0, 1},
        {"1e+400", kInf, 0},
        {"-1e+400", -kInf, 0},
        {"99999999999999999999", 1e20, 0},
        // Around the short reading of up to 15 digits: both sides give the decimal reading's value.
        {"999999999999999", 999999999999999.0, 0},
        {"1234567890123456", 1234567890123456.0, 0},
        {"9007199254740993", 9007199254740992.0, 0},  // rounded to the nearest double
        {"000000000000000000001", 1, 0},
        {"12 ", 0, 1},                 // a digit run followed by anything else is no short number
        {"0xFFFFFFFFFFFFFFFF", -1, 0},   // 64 bits read as a signed value
        {"0x7FFFFFFFFFFFFFFF", 9223372036854775807.0, 0},
        {"0x10000000000000000", -1, 0},  // clamps to all ones
        {"1e-400x", 1, 0},               // decimal reading stopped early: integer prefix
        {"-1e-400x", -1, 0},             // ... which stays negative
    };
    for (const auto& c : kCases) {
        ConversionFailedFlag = c.failed ? 0 : 1;
        EXPECT_EQ(StringToNumber(c.text), c.value) << c.text;
        EXPECT_EQ(ConversionFailedFlag, c.failed) << c.text;
    }
    ConversionFailedFlag = 1;
    EXPECT_EQ(StringToNumber(nullptr), 0.0);
    EXPECT_EQ(ConversionFailedFlag, 0);
}

TEST(StringToNumber, UnderflowGivesZeroNotTheIntegerPrefix) {
    struct Case { const char* text; bool negative; };
    const Case kCases[] = {{"1e-400", false}, {"-1e-400", true}, {"-0", true}, {"-0.0", true}, {"0.0", false}};
    for (const auto& c : kCases) {
        ConversionFailedFlag = 1;
        const double value = StringToNumber(c.text);
        EXPECT_EQ(value, 0.0) << c.text;
        EXPECT_EQ(std::signbit(value), c.negative) << c.text;
        EXPECT_EQ(ConversionFailedFlag, 0) << c.text;
    }
}

TEST(StringToNumber, FlagBelongsToTheCallingThread) {
    StringToNumber("abc");
    ASSERT_EQ(ConversionFailedFlag, 1);
    std::thread other([] {
        StringToNumber("12");
        EXPECT_EQ(ConversionFailedFlag, 0);
    });
    other.join();
    EXPECT_EQ(ConversionFailedFlag, 1);
}

std::string Format(double value) {
    char buffer[kNumberTextSize];
    const size_t length = FormatNumber(value, buffer);
    EXPECT_EQ(length, std::strlen(buffer));
    return buffer;
}

TEST(FormatNumber, RemovesTrailingZerosAndPoint) {
    struct Case { double value; const char* text; };
    const Case kCases[] = {
        {10, "10"}, {100, "100"}, {0.5, "0.5"}, {120.5, "120.5"}, {0.1 + 0.2, "0.3"},
        {-1.25, "-1.25"}, {0, "0"}, {-0.0, "-0"}, {1e-7, "0"}, {-1e-7, "-0"},
        {0.000001, "0.000001"}, {1234567.0000001, "1234567"}, {1e15, "1000000000000000"},
        {4294967295.0, "4294967295"}, {-4294967296.0, "-4294967296"},
        {8999999999999999.0, "8999999999999999"}, {-8999999999999999.0, "-8999999999999999"},
        {9e15, "9000000000000000"}, {1e20, "100000000000000000000"}, {-3.0, "-3"},
        {kInf, "inf"}, {-kInf, "-inf"}, {kNan, "nan"}, {-kNan, "nan"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Format(c.value), c.text) << c.text;
}

// Whole numbers print their digits exactly as the general rule prints them.
TEST(FormatNumber, WholeNumbersAgreeWithTheGeneralRule) {
    for (double value = -5000.0; value <= 5000.0; value += 1.0) {
        char general[64];
        std::snprintf(general, sizeof general, "%.0f", value);
        EXPECT_EQ(Format(value), value == 0.0 ? "0" : general) << value;
    }
}

TEST(FormatNumber, LargestValuesFit) {
    for (double value : {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()}) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%.0f", value);
        EXPECT_EQ(Format(value), expected);
        EXPECT_LT(std::strlen(expected), kNumberTextSize);
    }
}

TEST(NumberToString, ReturnsAnExactBlockOfTheProcessHeap) {
    char* text = NumberToString(120.5);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "120.5");
    EXPECT_EQ(platform::GetBlockSize(text), 6u);
    EXPECT_TRUE(platform::FreeBlock(text));
}

TEST(NumberText, TextsRoundTripThroughNumbers) {
    for (const char* text : {"0", "1", "-1", "0.5", "123456.789", "-0.000001", "4294967296"}) {
        char buffer[kNumberTextSize];
        FormatNumber(StringToNumber(text), buffer);
        EXPECT_STREQ(buffer, text);
    }
}

TEST(BiasedTruncation, LandsOnTheNearIntegerAndSaturates) {
    struct Case { double value; double trunc; int64_t i64; int32_t i32; };
    const Case kCases[] = {
        {2.9999999999995, 3, 3, 3},
        {-2.9999999999995, -3, -3, -3},
        {2.5, 2, 2, 2},
        {-2.5, -2, -2, -2},
        {2.999, 2, 2, 2},
        {0, 0, 0, 0},
        {-1e-13, -0.0, 0, 0},
        {3e9, 3e9, 3000000000LL, INT32_MAX},
        {-3e9, -3e9, -3000000000LL, INT32_MIN},
        {1e300, 1e300, INT64_MAX, INT32_MAX},
        {-kInf, -kInf, INT64_MIN, INT32_MIN},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(TruncNumber(c.value), c.trunc) << c.value;
        EXPECT_EQ(TruncToInt64(c.value), c.i64) << c.value;
        EXPECT_EQ(RoundToInt(c.value), c.i32) << c.value;
    }
    EXPECT_TRUE(std::isnan(TruncNumber(kNan)));
    EXPECT_EQ(TruncToInt64(kNan), 0);
    EXPECT_EQ(RoundToInt(kNan), 0);
}

TEST(RandomInt, StaysInRange) {
    platform::SeedRandom(1);
    EXPECT_EQ(RandomInt(100), 51);  // first draw 16838: 16838 / 32768 * 100 = 51.38
    bool sawLow = false, sawHigh = false;
    for (int i = 0; i < 10000; ++i) {
        EXPECT_EQ(RandomInt(1), 0);
        const int32_t value = RandomInt(10);
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 9);
        sawLow |= value == 0;
        sawHigh |= value == 9;
        const int32_t negative = RandomInt(-10);
        ASSERT_LE(negative, 0);
        ASSERT_GE(negative, -9);
    }
    EXPECT_TRUE(sawLow);
    EXPECT_TRUE(sawHigh);
    EXPECT_EQ(RandomInt(0), 0);
}

}  // namespace
}  // namespace qob
