// tests/platform/text_codec_test.cpp
// UTF-8 <-> UTF-16 conversion and its lossless escape of invalid bytes.
#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qob::platform {
namespace {

using Units = std::vector<uint16_t>;

TEST(TextCodec, DecodesValidText) {
    struct Case { std::string text; Units units; };
    const Case kCases[] = {
        {"", {}},
        {"abc", {'a', 'b', 'c'}},
        {"\r\n\t\x01\x1F\x7F", {0x0D, 0x0A, 0x09, 0x01, 0x1F, 0x7F}},  // controls as themselves
        {std::string("a\0b", 3), {'a', 0, 'b'}},
        {"\xC3\xA9", {0x00E9}},                                         // 2 bytes
        {"\xE2\x82\xAC", {0x20AC}},                                     // 3 bytes
        {"\xEF\xBF\xBF", {0xFFFF}},
        {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},                         // U+1F600 as a pair
        {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},                         // U+10FFFF
        {"\xF0\x90\x84\x80", {0xD800, 0xDD00}},                         // low half in the escape range
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(DecodeAnsi(c.text), c.units) << c.text;
        EXPECT_EQ(EncodeAnsi(c.units), c.text) << c.text;
    }
}

TEST(TextCodec, EscapesBytesThatAreNotValidUtf8) {
    struct Case { std::string text; Units units; };
    const Case kCases[] = {
        {"\x80", {0xDD00}},                                  // stray continuation
        {"\xFF", {0xDD7F}},
        {"a\xE9z", {'a', 0xDD69, 'z'}},                     // lone Latin-1 byte
        {"\xC0\x80", {0xDD40, 0xDD00}},                      // overlong NUL
        {"\xE0\x80\xAF", {0xDD60, 0xDD00, 0xDD2F}},          // overlong 3-byte form
        {"\xED\xA0\x80", {0xDD6D, 0xDD20, 0xDD00}},          // encoded surrogate
        {"\xF4\x90\x80\x80", {0xDD74, 0xDD10, 0xDD00, 0xDD00}},  // above U+10FFFF
        {"\xF5\x80", {0xDD75, 0xDD00}},
        {"\xE2\x82", {0xDD62, 0xDD02}},                      // truncated at the end
        {"\xE2\x82" "A", {0xDD62, 0xDD02, 'A'}},             // truncated before ASCII
        {"\xC3\xC3\xA9", {0xDD43, 0x00E9}},                  // bad lead, then a valid pair
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(DecodeAnsi(c.text), c.units) << c.text;
        EXPECT_EQ(EncodeAnsi(c.units), c.text) << c.text;
    }
}

TEST(TextCodec, UnpairedSurrogatesEncodeAsReplacement) {
    struct Case { Units units; std::string text; };
    const Case kCases[] = {
        {{0xD800}, "?"},                 // high at the end
        {{0xD800, 'a'}, "?a"},           // high before a non-surrogate
        {{0xDC00}, "?"},                 // low outside the escape range
        {{0xDCFF, 0xDD80}, "??"},        // just around the escape range
        {{0xDBFF, 0xD800, 0xDC00}, "?\xF0\x90\x80\x80"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(EncodeAnsi(c.units), c.text);
}

TEST(TextCodec, EveryByteStringSurvivesARoundTrip) {
    std::mt19937 random(12345);
    // Biased towards lead and continuation bytes so that valid and broken
    // sequences both occur often.
    const unsigned char kAlphabet[] = {0x00, 0x0A, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                       0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 12, '\0');
        for (char& ch : text)
            ch = static_cast<char>(kAlphabet[random() % std::size(kAlphabet)]);
        const Units units = DecodeAnsi(text);
        EXPECT_LE(units.size(), text.size());
        const std::string back = EncodeAnsi(units);
        ASSERT_EQ(back, text) << "round " << round;
    }
}

TEST(TextCodec, SpanFormsCountEverythingButWriteOnlyWhatFits) {
    const std::string text = "a\xE2\x82\xAC\xFF";  // a, euro sign, escaped byte
    uint16_t units[2] = {0xAAAA, 0xAAAA};
    EXPECT_EQ(DecodeAnsi(text, units), 3u);
    EXPECT_EQ(units[0], 'a');
    EXPECT_EQ(units[1], 0x20AC);

    const uint16_t wide[] = {'a', 0x20AC, 0xDD7F};
    char bytes[3] = {'#', '#', '#'};
    EXPECT_EQ(EncodeAnsi(wide, bytes), 5u);
    EXPECT_EQ(std::string(bytes, 3), "a\xE2\x82");
    EXPECT_EQ(EncodeAnsi(wide, std::span<char>()), 5u);
}

TEST(TextCodec, WideTextLengthStopsAtTheTerminator) {
    const uint16_t text[] = {'a', 0xDD00, 'b', 0, 'c', 0};
    EXPECT_EQ(WideTextLength(text), 3u);
    EXPECT_EQ(WideTextLength(text + 3), 0u);
}

}  // namespace
}  // namespace qob::platform
