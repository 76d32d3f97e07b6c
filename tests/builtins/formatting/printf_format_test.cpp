// tests/builtins/formatting/printf_format_test.cpp
// The format engine against the C library's snprintf where the two agree,
// and its own rules where they must differ: kinds converted, "*", "%n",
// "%p", "%%" using an argument, missing arguments, long pieces.

#include "builtins/formatting/printf_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace qob {
namespace {

FormatArgument Number(double value) { return {nullptr, value, 0}; }
FormatArgument Text(const char* text) { return {text, 0.0, 0x1234}; }

std::string Format(std::string_view format, std::vector<FormatArgument> arguments) {
    const std::optional<std::string> result = FormatPrintf(format, arguments, 1 << 20);
    EXPECT_TRUE(result.has_value()) << format;
    return result.value_or("<none>");
}

template <typename Value>
std::string Reference(const char* format, Value value) {
    const int length = std::snprintf(nullptr, 0, format, value);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, value);
    return text;
}

TEST(PrintfFormatTest, IntegerConversionsAgreeWithSnprintf) {
    const char* formats[] = {"%d", "%i", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%8.3d", "%-+8.3d|",
                             "%o", "%#o", "%u", "%x", "%X", "%#x", "%#10.4X", "%c", "%-3c|", "%hd", "%hhu",
                             "[%0*d]"};
    const int32_t values[] = {0, 1, -1, 7, 42, 255, -255, 65, 32767, 65535, 2147483647, -2147483647 - 1};
    for (const char* format : formats) {
        for (int32_t value : values) {
            if (std::string_view(format).find('*') != std::string_view::npos) continue;
            EXPECT_EQ(Format(format, {Number(value)}), Reference(format, value)) << format << " " << value;
        }
    }
}

TEST(PrintfFormatTest, FloatingConversionsAgreeWithSnprintf) {
    const char* formats[] = {"%f", "%.0f", "%#.0f", "%10.3f", "%-10.3f|", "%+f", "% f", "%010.2f", "%e",
                             "%E", "%.2e", "%12.4E", "%g", "%G", "%.3g", "%#g", "%-12g|", "%.10g", "%.500f",
                             "%.17g"};
    const double values[] = {0.0, -0.0, 1.0, -1.5, 3.14159, 2.5, 1e-7, 123456789.125, -9.87654321e20, 1e300,
                             5e-324, 0.1};
    for (const char* format : formats)
        for (double value : values)
            EXPECT_EQ(Format(format, {Number(value)}), Reference(format, value)) << format << " " << value;
}

TEST(PrintfFormatTest, TextConversionsAgreeWithSnprintf) {
    const char* formats[] = {"%s", "%10s|", "%-10s|", "%.2s", "%8.3s|", "%-8.1s|"};
    const char* values[] = {"", "ab", "hello world", "caf\xc3\xa9"};
    for (const char* format : formats)
        for (const char* value : values)
            EXPECT_EQ(Format(format, {Text(value)}), Reference(format, value)) << format << " " << value;
}

TEST(PrintfFormatTest, StarsTakeTheirOwnArguments) {
    struct Case {
        const char* format;
        std::vector<double> values;
        std::string expected;
    };
    const Case cases[] = {
        {"%*d|", {5, 42}, "   42|"},
        {"%-*d|", {4, 7}, "7   |"},
        {"%*d|", {-4, 7}, "7   |"},  // a negative width left-justifies
        {"%.*f", {2, 3.14159}, "3.14"},
        {"%.*f", {-1, 2.5}, "2.500000"},  // a negative precision is none
        {"%*.*f|", {8, 1, 2.25}, "     2.2|"},
        {"%*.*s|", {4.9, 1, 0}, "   0|"},
        {"%*d", {}, "0"},  // nothing left: width 0, value 0
        {"%*d%d", {3, 1, 2}, "  12"},
    };
    for (const Case& c : cases) {
        std::vector<FormatArgument> arguments;
        for (double value : c.values) arguments.push_back(Number(value));
        EXPECT_EQ(Format(c.format, arguments), c.expected) << c.format;
    }
}

TEST(PrintfFormatTest, DifferencesFromTheCLibrary) {
    struct Case {
        const char* format;
        std::vector<FormatArgument> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {"%5.1f|%s|%d", {Number(3.14159), Text("ab"), Number(7.9)}, "  3.1|ab|7"},
        {"%x", {Number(255)}, "ff"},
        {"%c", {Number(65)}, "A"},
        {"plain", {Number(1), Number(2)}, "plain"},
        // "%%d" is one piece: it gives "%d" and uses an argument up.
        {"%%d %d", {Number(1), Number(2)}, "%d 2"},
        {"%%%d", {Number(5)}, "%5"},
        {"%-6s|", {Text("ab")}, "ab    |"},
        // Kinds are converted, never handed over as they are.
        {"%d", {Text("12.9")}, "12"},
        {"%d", {Text("abc")}, "0"},
        {"%x", {Text("0x1F")}, "1f"},
        {"%f", {Text("2.5")}, "2.500000"},
        {"%s", {Number(3.5)}, "3.5"},
        {"%s|%5s", {Number(-2), Number(1e-7)}, "-2|    0"},
        // Integers are 32-bit: the unsigned range keeps its bits, beyond saturates.
        {"%u %d", {Number(4294967295.0), Number(4294967295.0)}, "4294967295 -1"},
        {"%d %d", {Number(1e20), Number(-1e20)}, "2147483647 -2147483648"},
        {"%d", {Number(std::nan(""))}, "0"},
        // Length letters are dropped: no 64-bit or long double read.
        {"%ld %lld %I64d %I32x %qd %zd %jd %td %Lf %lf", {Number(-1), Number(2), Number(3), Number(255), Number(4),
                                                          Number(5), Number(6), Number(7), Number(1.5), Number(2.5)},
         "-1 2 3 ff 4 5 6 7 1.500000 2.500000"},
        {"%ls", {Text("wide")}, "wide"},
        // "%n" writes nothing and outputs nothing, but takes its argument.
        {"a%nb%d", {Number(1234), Number(9)}, "ab9"},
        // "%p": eight upper-case hex digits of the 32-bit value; a text's address.
        {"%p", {Number(255)}, "000000FF"},
        {"%p|%12p|%-12p|", {Text("x"), Number(-1), Number(16)}, "00001234|    FFFFFFFF|00000010    |"},
        // Missing arguments: 0, or the empty text.
        {"%d|%s|%f|%p|%c", {}, std::string("0||0.000000|00000000|\0", 22)},
        {"%s and %s", {Text("one")}, "one and "},
        // No conversion letter: the rest is output as it is.
        {"50%", {Number(1)}, "50%"},
        {"%5", {}, "%5"},
        {"x %-08.3", {}, "x %-08.3"},
        // Infinities and NaN as number texts spell them.
        {"%f %e %G|%8f|%-6g|", {Number(INFINITY), Number(-INFINITY), Number(NAN), Number(INFINITY), Number(NAN)},
         "inf -inf nan|     inf|nan   |"},
        // An unknown piece is output as it stands.
        {"%yd|%d", {Number(1), Number(2)}, "%yd|2"},
    };
    for (const Case& c : cases) EXPECT_EQ(Format(c.format, c.arguments), c.expected) << c.format;
}

TEST(PrintfFormatTest, LongPiecesAreAppendedWhole) {
    const std::string huge = Format("%f", {Number(1e300)});
    EXPECT_EQ(huge, Reference("%f", 1e300));
    EXPECT_EQ(huge.size(), 308u);
    const std::string precise = Format("%.500f", {Number(1.0 / 3.0)});
    EXPECT_EQ(precise.size(), 502u);
    EXPECT_EQ(precise, Reference("%.500f", 1.0 / 3.0));
    EXPECT_EQ(Format("%3.400d", {Number(1)}).size(), 400u);
    // Beyond the limit there is no result at all, never a cut one.
    EXPECT_FALSE(FormatPrintf("%2000d", std::vector{Number(1)}, 1000).has_value());
    EXPECT_FALSE(FormatPrintf("0123456789", {}, 5).has_value());
    EXPECT_EQ(FormatPrintf("%1000d", std::vector{Number(1)}, 1000).value_or("").size(), 1000u);
    // "%g" with a vast precision gives what 800 significant digits give.
    EXPECT_EQ(Format("%.2000000000g|%.*G", {Number(2.5), Number(2147483647), Number(0.1)}),
              "2.5|" + Reference("%.800G", 0.1));
    EXPECT_FALSE(FormatPrintf("%#.2000000000g", std::vector{Number(2.5)}, 1 << 20).has_value());
    // A width beyond the C library's range adds nothing.
    EXPECT_EQ(FormatPrintf("a%2147483648db", std::vector{Number(1)}, 1ull << 32).value_or(""), "ab");
}

TEST(PrintfFormatTest, TwoHundredArguments) {
    std::vector<FormatArgument> arguments;
    std::string format;
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        arguments.push_back(Number(i));
        format += "%d,";
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ(Format(format, arguments), expected);
}

// Random formats built from the pieces the engine knows and does not know,
// with random kinds of argument: nothing may read or write out of bounds
// (AddressSanitizer watches), and every result stays within its limit.
TEST(PrintfFormatTest, RandomFormatsRunClean) {
    std::mt19937 random(2026);
    const std::string alphabet = "%%%%-+ #0123456789.*hlLqjztI64cdieEfgGosuxXpnab";
    const char* texts[] = {"", "x", "long text here", "12.5"};
    for (int round = 0; round < 3000; ++round) {
        std::string format;
        const size_t length = random() % 24;
        for (size_t i = 0; i < length; ++i) format += alphabet[random() % alphabet.size()];
        std::vector<FormatArgument> arguments;
        const size_t count = random() % 6;
        for (size_t i = 0; i < count; ++i) {
            if (random() % 2) arguments.push_back(Text(texts[random() % 4]));
            else arguments.push_back(Number(std::ldexp(static_cast<double>(random()) - 2147483648.0, random() % 80 - 40)));
        }
        const std::optional<std::string> result = FormatPrintf(format, arguments, 4096);
        EXPECT_LE(result.value_or("").size(), 4096u) << format;
    }
}

}  // namespace
}  // namespace qob
