// runtime/data/hash.cpp
// The text hashes, CRC-16 and MD5. Bytes enter every hash as signed values.
#include "runtime/data/hash.h"

#include "platform/memory.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qob {
namespace {

// A byte as the hashes read it: signed, widened to 32 bits with wrap-around.
uint32_t SignedByte(const int8_t* p, size_t i) {
    return static_cast<uint32_t>(static_cast<int32_t>(p[i]));
}

const int8_t* AsSigned(const void* bytes) { return static_cast<const int8_t*>(bytes); }

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
        table[i] = static_cast<uint16_t>(r);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();

}  // namespace

uint32_t HashRS(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 0;
    uint32_t a = 63689;
    for (size_t i = 0; i < count; ++i) {
        h = h * a + SignedByte(p, i);
        a *= 378551u;
    }
    return h & 0x7FFFFFFFu;
}

uint32_t HashJS(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 1315423911u;
    for (size_t i = 0; i < count; ++i)
        h ^= (h << 5) + (h >> 2) + SignedByte(p, i);
    return h & 0x7FFFFFFFu;
}

uint32_t HashPJW(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 0;
    for (size_t i = 0; i < count; ++i) {
        h = (h << 4) + SignedByte(p, i);
        const uint32_t top = h & 0xF0000000u;
        if (top != 0) h = (h ^ (top >> 24)) & 0x0FFFFFFFu;
    }
    return h & 0x7FFFFFFFu;
}

uint32_t HashELF(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 0;
    for (size_t i = 0; i < count; ++i) {
        h = (h << 4) + SignedByte(p, i);
        const uint32_t top = h & 0xF0000000u;
        if (top != 0) h ^= top >> 24;
        h &= ~top;
    }
    return h & 0x7FFFFFFFu;
}

uint32_t HashBKDR(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 0;
    for (size_t i = 0; i < count; ++i)
        h = h * 131u + SignedByte(p, i);
    return h & 0x7FFFFFFFu;
}

uint32_t HashDJB(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 5381;
    for (size_t i = 0; i < count; ++i)
        h = h * 33u + SignedByte(p, i);
    return h & 0x7FFFFFFFu;
}

uint32_t HashAP(const void* bytes, size_t count) {
    const int8_t* p = AsSigned(bytes);
    uint32_t h = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t c = SignedByte(p, i);
        if (i % 2 == 0)
            h ^= (h << 7) ^ c ^ (h >> 3);
        else
            h ^= ~((h << 11) ^ c ^ (h >> 5));
    }
    return h & 0x7FFFFFFFu;
}

uint32_t Crc16(const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t r = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i)
        r = kCrc16Table[(p[i] ^ r) & 0xFF] ^ ((r >> 8) & 0xFF);
    return r;
}

namespace {

// Per-step shift amounts of the four rounds.
constexpr int kMd5Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// floor(|sin(i + 1)| * 2^32) for the 64 steps.
constexpr uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Md5Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t words[16];
    for (int i = 0; i < 16; ++i)
        words[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 |
                   uint32_t(block[4 * i + 2]) << 16 | uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int step = 0; step < 64; ++step) {
        const int round = step / 16;
        uint32_t mix;
        int word;
        switch (round) {
        case 0: mix = (b & c) | (~b & d); word = step; break;
        case 1: mix = (d & b) | (~d & c); word = (5 * step + 1) % 16; break;
        case 2: mix = b ^ c ^ d; word = (3 * step + 5) % 16; break;
        default: mix = c ^ (b | ~d); word = (7 * step) % 16; break;
        }
        const uint32_t rotated = RotateLeft(a + mix + kMd5Sines[step] + words[word],
                                            kMd5Shifts[round][step % 4]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void Md5Init(Md5Context& context) {
    std::memset(&context, 0, sizeof context);
    context.state[0] = 0x67452301u;
    context.state[1] = 0xEFCDAB89u;
    context.state[2] = 0x98BADCFEu;
    context.state[3] = 0x10325476u;
}

void Md5Update(Md5Context& context, const void* bytes, size_t count) {
    const auto* input = static_cast<const uint8_t*>(bytes);
    // The buffer position comes from the count before this call's bytes.
    size_t index = (context.bitCountLow >> 3) & 63;
    const uint64_t bits = (uint64_t(context.bitCountHigh) << 32 | context.bitCountLow) + uint64_t(count) * 8;
    context.bitCountLow = static_cast<uint32_t>(bits);
    context.bitCountHigh = static_cast<uint32_t>(bits >> 32);
    while (count > 0) {
        const size_t take = std::min(count, size_t{64} - index);
        std::memcpy(context.buffer + index, input, take);
        input += take;
        count -= take;
        index += take;
        if (index == 64) {
            Md5Transform(context.state, context.buffer);
            index = 0;
        }
    }
}

void Md5Final(Md5Context& context) {
    uint8_t length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = static_cast<uint8_t>(context.bitCountLow >> (8 * i));
        length[4 + i] = static_cast<uint8_t>(context.bitCountHigh >> (8 * i));
    }
    static const uint8_t kPadding[64] = {0x80};
    const size_t used = (context.bitCountLow >> 3) & 63;
    Md5Update(context, kPadding, used < 56 ? 56 - used : 120 - used);
    Md5Update(context, length, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            context.digest[4 * i + k] = static_cast<uint8_t>(context.state[i] >> (8 * k));
}

char* DigestToHex(const Md5Context& context) {
    constexpr char kDigits[] = "0123456789abcdef";
    auto* text = static_cast<char*>(platform::AllocateZeroedBlock(35));
    if (!text) return nullptr;
    text[0] = '0';
    text[1] = 'x';
    for (int i = 0; i < 16; ++i) {
        text[2 + 2 * i] = kDigits[context.digest[i] >> 4];
        text[3 + 2 * i] = kDigits[context.digest[i] & 15];
    }
    return text;
}

}  // namespace qob
