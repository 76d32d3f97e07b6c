// tests/runtime/data/wide_text_test.cpp
// AnsiToWide, WideToAnsi and IsWideString, with their block sizes.
#include "runtime/data/wide_text.h"

#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qob {
namespace {

std::vector<uint16_t> UnitsOf(const uint16_t* block) {
    const size_t count = platform::GetBlockSize(block) / sizeof(uint16_t);
    return std::vector<uint16_t>(block, block + count);
}

TEST(AnsiToWide, ConvertsIntoStrlenPlusOneUnits) {
    struct Case { const char* text; std::vector<uint16_t> block; };
    const Case kCases[] = {
        {"abc", {'a', 'b', 'c', 0}},
        {"", {0}},
        {nullptr, {0}},
        {"line\r\n\t", {'l', 'i', 'n', 'e', '\r', '\n', '\t', 0}},
        {"\xC3\xA9t\xC3\xA9", {0xE9, 't', 0xE9, 0, 0, 0}},    // UTF-8 takes fewer units
        {"a\xFF", {'a', 0xDD7F, 0}},                           // invalid byte escaped
    };
    for (const auto& c : kCases) {
        uint16_t* wide = AnsiToWide(c.text);
        ASSERT_NE(wide, nullptr);
        EXPECT_EQ(UnitsOf(wide), c.block) << (c.text ? c.text : "(null)");
        EXPECT_TRUE(platform::FreeBlock(wide));
    }
}

TEST(WideToAnsi, ConvertsIntoAnExactBlock) {
    struct Case { std::vector<uint16_t> text; std::string ansi; };
    const Case kCases[] = {
        {{'a', 0}, "a"},
        {{0}, ""},
        {{0x20AC, 0}, "\xE2\x82\xAC"},       // one unit, three bytes
        {{0xD83D, 0xDE00, 'x', 0}, "\xF0\x9F\x98\x80x"},
        {{'a', 0xDD7F, 0}, "a\xFF"},
        {{0xD800, 0}, "?"},                  // an unpaired surrogate
        {{'a', 0, 'b', 0}, "a"},             // stops at the terminator
    };
    for (const auto& c : kCases) {
        char* ansi = WideToAnsi(c.text.data());
        ASSERT_NE(ansi, nullptr);
        EXPECT_EQ(std::string(ansi), c.ansi);
        EXPECT_EQ(platform::GetBlockSize(ansi), c.ansi.size() + 1);
        EXPECT_TRUE(platform::FreeBlock(ansi));
    }
    char* empty = WideToAnsi(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_TRUE(platform::FreeBlock(empty));
}

TEST(WideText, AnyTextSurvivesTheRoundTrip) {
    std::string text;
    for (int byte = 1; byte < 256; ++byte) text += static_cast<char>(byte);
    text += "\xE2\x82\xAC\xF0\x9F\x98\x80\xC3";
    uint16_t* wide = AnsiToWide(text.c_str());
    char* back = WideToAnsi(wide);
    EXPECT_EQ(std::string(back), text);
    EXPECT_TRUE(platform::FreeBlock(wide));
    EXPECT_TRUE(platform::FreeBlock(back));
}

TEST(IsWideString, TellsTextFromOtherData) {
    struct Case { std::string bytes; int32_t length; int wide; };
    const Case kCases[] = {
        {"hello\r\n", 7, 0},
        {"ab\xFFz\x80", 5, 0},                         // invalid UTF-8 still survives
        {"\xC3\xA9t\xC3\xA9", 5, 0},
        {std::string("A\0B\0", 4), 4, 1},             // UTF-16 "AB"
        {std::string("abc\0\0\0", 6), 6, 0},          // zero padding is fine
        {std::string("abc\0d", 5), 5, 1},
        {std::string("abc\0d", 5), 4, 0},             // the byte after the length is not read
        {"abcdef", 3, 0},
        {"abc", 0, 0},
        {"abc", -2, 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(IsWideString(c.bytes.data(), c.length), c.wide) << c.bytes << " " << c.length;
    EXPECT_EQ(IsWideString(nullptr, 5), 0);
}

TEST(IsWideString, MinusOneTakesTheBlockSize) {
    auto* text = static_cast<char*>(platform::AllocateZeroedBlock(8));
    std::memcpy(text, "plain", 5);
    EXPECT_EQ(IsWideString(text, -1), 0);
    std::memcpy(text, "W\0i\0d\0e", 7);
    EXPECT_EQ(IsWideString(text, -1), 1);
    EXPECT_TRUE(platform::FreeBlock(text));

    const char notABlock[] = "W\0i";
    EXPECT_EQ(IsWideString(notABlock, -1), 0);  // size 0
}

}  // namespace
}  // namespace qob
