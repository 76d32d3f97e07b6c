// tests/runtime/data/cipher_test.cpp
// The keyed byte cipher: hand-worked vectors, pieces, round trips, empty keys.
#include "runtime/data/cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qob {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(CipherBytes, HandWorkedVectors) {
    struct Case { const char* key; int32_t start; Bytes plain; Bytes cipher; };
    const Case kCases[] = {
        // Key "AB" = 0x41 0x42, repeated; 0xFF + 0x41 wraps to 0x40.
        {"AB", 0, {0x00, 0x01, 0xFF, 0x10}, {0x41, 0x43, 0x40, 0x52}},
        // Start 3 with a 2-byte key begins at key position 1.
        {"AB", 3, {0x00, 0x01, 0xFF, 0x10}, {0x42, 0x42, 0x41, 0x51}},
        // A key byte above 127 adds its signed value: 0x20 - 23 = 0x09.
        {"\xE9", 0, {0x20, 0x00}, {0x09, 0xE9}},
        // A negative start counts as 0.
        {"AB", -5, {0x00}, {0x41}},
    };
    for (const auto& c : kCases) {
        Bytes data = c.plain;
        CipherBytes(data.data(), static_cast<int32_t>(data.size()), c.key, false, c.start);
        EXPECT_EQ(data, c.cipher) << c.key << " start " << c.start;
        CipherBytes(data.data(), static_cast<int32_t>(data.size()), c.key, true, c.start);
        EXPECT_EQ(data, c.plain) << c.key << " start " << c.start;
    }
}

TEST(CipherBytes, PiecesMatchOneCall) {
    Bytes plain(100);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 37);
    const char* key = "secret-key";
    Bytes whole = plain;
    CipherBytes(whole.data(), 100, key, false, 0);
    for (int32_t split : {1, 9, 10, 11, 57}) {
        Bytes pieces = plain;
        CipherBytes(pieces.data(), split, key, false, 0);
        CipherBytes(pieces.data() + split, 100 - split, key, false, split);
        EXPECT_EQ(pieces, whole) << split;
    }
}

TEST(CipherBytes, RoundTripsEveryByteValueWithTheFileKey) {
    Bytes plain(256);
    for (int i = 0; i < 256; ++i) plain[i] = static_cast<uint8_t>(i);
    Bytes data = plain;
    CipherBytes(data.data(), 256, kCompiledFileKey, false, 0);
    EXPECT_NE(data, plain);
    CipherBytes(data.data(), 256, kCompiledFileKey, true, 0);
    EXPECT_EQ(data, plain);
}

// Long buffers take a laid-out key; every length, key and start must give
// what adding the key byte by byte gives.
TEST(CipherBytes, LongBuffersMatchTheByteWalk) {
    const std::string longKey(70, 'k');
    struct Case { const char* key; int32_t length; int32_t start; };
    const Case kCases[] = {
        {kCompiledFileKey, 1000, 0}, {kCompiledFileKey, 512, 0}, {kCompiledFileKey, 4097, 13},
        {"A", 600, 0},               {"\xE9\x80z", 777, 5},     {longKey.c_str(), 900, 3},
        {"key", 511, 2},
    };
    for (const auto& c : kCases) {
        Bytes plain(static_cast<size_t>(c.length));
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 131 + 7);
        const size_t keyLength = std::strlen(c.key);
        for (bool decrypt : {false, true}) {
            Bytes expected = plain;
            for (size_t i = 0; i < expected.size(); ++i) {
                const int k = static_cast<int8_t>(c.key[(static_cast<size_t>(c.start) + i) % keyLength]);
                expected[i] = static_cast<uint8_t>(decrypt ? expected[i] - k : expected[i] + k);
            }
            Bytes data = plain;
            CipherBytes(data.data(), c.length, c.key, decrypt, c.start);
            EXPECT_EQ(data, expected) << c.length << " start " << c.start << (decrypt ? " decrypt" : "");
        }
    }
}

TEST(CipherBytes, NothingChangesForEmptyKeyOrNoLength) {
    const Bytes plain = {1, 2, 3};
    struct Case { const char* key; int32_t length; };
    const Case kCases[] = {{"", 3}, {nullptr, 3}, {"K", 0}, {"K", -1}};
    for (const auto& c : kCases) {
        Bytes data = plain;
        CipherBytes(data.data(), c.length, c.key, false, 7);
        EXPECT_EQ(data, plain);
    }
}

TEST(CipherWords, KeepsTheLowByteSignExtended) {
    struct Case { uint16_t plain; uint16_t cipher; uint16_t back; };
    // Key "\x01": add 1 to the unit, keep its low byte sign-extended.
    const Case kCases[] = {
        {0x0041, 0x0042, 0x0041},
        {0x007F, 0xFF80, 0x007F},   // comes back: the low byte is what counts
        {0x00E9, 0xFFEA, 0xFFE9},   // does not come back
        {0x1234, 0x0035, 0x0034},   // the high byte is lost
        {0xFFFF, 0x0000, 0xFFFF},
    };
    for (const auto& c : kCases) {
        uint16_t unit = c.plain;
        CipherWords(&unit, 1, "\x01", false, 0);
        EXPECT_EQ(unit, c.cipher) << c.plain;
        CipherWords(&unit, 1, "\x01", true, 0);
        EXPECT_EQ(unit, c.back) << c.plain;
    }
}

TEST(CipherWords, UnitsBelow0x80RoundTripWithAnyKeyAndStart) {
    std::vector<uint16_t> plain(0x80);
    for (uint16_t i = 0; i < 0x80; ++i) plain[i] = i;
    for (int32_t start : {0, 1, 5, 1000}) {
        std::vector<uint16_t> data = plain;
        CipherWords(data.data(), 0x80, "K\xF3y!", false, start);
        CipherWords(data.data(), 0x80, "K\xF3y!", true, start);
        EXPECT_EQ(data, plain) << start;
    }
    std::vector<uint16_t> data = plain;
    CipherWords(data.data(), 0x80, "", false, 0);
    EXPECT_EQ(data, plain);
}

}  // namespace
}  // namespace qob
