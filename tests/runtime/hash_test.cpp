// tests/runtime/hash_test.cpp
// Name and text hashes, CRC-16 and MD5.
#include "runtime/hash.h"

#include <gtest/gtest.h>

#include <string_view>

namespace qob {
namespace {

TEST(HashName, KnownValues) {
    struct Case { std::string_view text; uint32_t expected; };
    const Case kCases[] = {
        {"", 0},
        {"A", 65},
        {"AB", 65u * 65599u + 66u},
        {"\xE9", 0x7FFFFFE9u},          // -23, bit 31 cleared
        {"A\xE9", (65u * 65599u - 23u) & 0x7FFFFFFFu},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(HashName(c.text.data(), c.text.size()), c.expected) << c.text;
}

TEST(HashName, WrapsAndMasksBit31) {
    // Long enough for the multiply to wrap many times; the result must stay
    // below 2^31 and match the step rule computed here with 64-bit arithmetic.
    const std::string_view text = "THE_QUICK_BROWN_FOX_JUMPS_OVER_\x80\xFF";
    uint64_t h = 0;
    for (char ch : text)
        h = (h * 65599u + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(ch)))) & 0xFFFFFFFFu;
    EXPECT_EQ(HashName(text.data(), text.size()), static_cast<uint32_t>(h & 0x7FFFFFFFu));
}

}  // namespace
}  // namespace qob
