// tests/runtime/data/hash_test.cpp
// Name and text hashes, CRC-16 and MD5.
#include "runtime/data/hash.h"

#include "platform/memory.h"

#include <gtest/gtest.h>

#include <string>
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


TEST(TextHashes, KnownValues) {
    // Values from the step rules, worked out independently of this code.
    struct Case { std::string_view text; uint32_t rs, js, pjw, elf, bkdr, djb, ap; };
    const Case kCases[] = {
        {"", 0, 1315423911u, 0, 0, 0, 5381, 0},
        {"A", 0x41, 0x2ef5006d, 0x41, 0x41, 0x41, 0x2b5e6, 0x41},
        {"hello world", 0x418e10d4, 0x3c6be306, 0x114ac14, 0x114ac14, 0x4e195644, 0x3551c8c1, 0x53a33c09},
        {"caf\xE9\xFF\x80", 0x77ef4894, 0x3e6135ab, 0x6974870, 0x6974870, 0x7880271a, 0x75e09017, 0x186a6e95},
        {"The quick brown fox jumps over the lazy dog",
         0x29a4500b, 0x5feffe38, 0x4280c57, 0x4280c57, 0x45181667, 0x34cc38de, 0x45deb1cf},
    };
    for (const auto& c : kCases) {
        const char* p = c.text.data();
        const size_t n = c.text.size();
        EXPECT_EQ(HashRS(p, n), c.rs) << c.text;
        EXPECT_EQ(HashJS(p, n), c.js) << c.text;
        EXPECT_EQ(HashPJW(p, n), c.pjw) << c.text;
        EXPECT_EQ(HashELF(p, n), c.elf) << c.text;
        EXPECT_EQ(HashBKDR(p, n), c.bkdr) << c.text;
        EXPECT_EQ(HashDJB(p, n), c.djb) << c.text;
        EXPECT_EQ(HashAP(p, n), c.ap) << c.text;
    }
}

TEST(TextHashes, HighBytesEnterAsNegativeValues) {
    const char kByte = '\x80';  // -128
    EXPECT_EQ(HashBKDR(&kByte, 1), 0x7FFFFF80u);
    EXPECT_EQ(HashDJB(&kByte, 1), 5381u * 33u - 128u);
    EXPECT_EQ(HashName(&kByte, 1), 0x7FFFFF80u);
    EXPECT_EQ(HashRS(&kByte, 1), 0x7FFFFF80u);
}

TEST(TextHashes, EmptyInputIsNotRead) {
    // A null pointer with count 0 must not be dereferenced.
    for (HashFunction hash : kHashMethods)
        EXPECT_EQ(hash(nullptr, 0), hash("x", 0));
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFFFFFFu);
}

TEST(TextHashes, MethodTable) {
    ASSERT_EQ(std::size(kHashMethods), 9u);
    const std::string text = "Method\xC4" "Check";
    const HashFunction kExpected[] = {HashName, HashRS, HashJS, HashPJW, HashELF,
                                      HashBKDR, HashName, HashDJB, HashAP};
    for (size_t m = 0; m < std::size(kExpected); ++m)
        EXPECT_EQ(kHashMethods[m](text.data(), text.size()), kExpected[m](text.data(), text.size())) << m;
    EXPECT_EQ(kMd5HashMethod, 9);
}

TEST(Crc16, KnownValues) {
    struct Case { std::string_view text; uint32_t crc; };
    const Case kCases[] = {
        {"", 0xFFFFFFFFu},
        {"123456789", 0x4B37},  // the standard check value of these parameters
        {std::string_view("\0", 1), 0x40BF},
        {"A", 0x707F},
        {"\xFF\xFF", 0x0000},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Crc16(c.text.data(), c.text.size()), c.crc) << c.text;
}

std::string Md5Hex(const Md5Context& context) {
    std::string hex;
    for (uint8_t byte : context.digest) {
        const char kDigits[] = "0123456789abcdef";
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string Md5Of(std::string_view text) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, text.data(), text.size());
    Md5Final(context);
    return Md5Hex(context);
}

TEST(Md5, TestSuiteOfTheRfc) {
    struct Case { std::string_view text; std::string_view digest; };
    const Case kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Md5Of(c.text), c.digest) << c.text;
}

TEST(Md5, PiecewiseUpdatesMatchOneUpdate) {
    // Lengths around the 56- and 64-byte boundaries of the padding.
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
        std::string text(length, '\0');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(i * 7 + 3);
        const std::string whole = Md5Of(text);
        for (size_t piece : {1u, 3u, 17u, 63u, 64u}) {
            Md5Context context;
            Md5Init(context);
            for (size_t at = 0; at < length; at += piece)
                Md5Update(context, text.data() + at, std::min(piece, length - at));
            Md5Final(context);
            EXPECT_EQ(Md5Hex(context), whole) << length << " in pieces of " << piece;
        }
    }
}

TEST(Md5, DigestToHexGivesThe34CharacterText) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, "abc", 3);
    Md5Final(context);
    char* text = DigestToHex(context);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "0x900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(platform::GetBlockSize(text), 35u);
    EXPECT_TRUE(platform::FreeBlock(text));
}

TEST(Md5, MillionAs) {
    const std::string chunk(1000, 'a');
    Md5Context context;
    Md5Init(context);
    for (int i = 0; i < 1000; ++i) Md5Update(context, chunk.data(), chunk.size());
    Md5Final(context);
    EXPECT_EQ(Md5Hex(context), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
}  // namespace qob
