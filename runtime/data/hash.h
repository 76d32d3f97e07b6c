// runtime/data/hash.h
// The 31-bit name hash behind every symbol lookup, the text hashes offered to
// programs, CRC-16 and the MD5 digest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// All hashes read their bytes as signed 8-bit characters (0xE9 adds -23):
// stored hashes and lookups must agree on texts with bytes above 127.

// h = h * 65599 + c over the bytes, masked to 31 bits. Callers upper-case names.
[[nodiscard]] inline uint32_t HashName(const void* bytes, size_t count) {
    const auto* p = static_cast<const int8_t*>(bytes);
    uint32_t h = 0;
    for (size_t i = 0; i < count; ++i)
        h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(p[i]));
    return h & 0x7FFFFFFFu;
}

// Text hashes offered to programs; each returns a 31-bit value.
[[nodiscard]] uint32_t HashRS(const void* bytes, size_t count);
[[nodiscard]] uint32_t HashJS(const void* bytes, size_t count);
[[nodiscard]] uint32_t HashPJW(const void* bytes, size_t count);
[[nodiscard]] uint32_t HashELF(const void* bytes, size_t count);
[[nodiscard]] uint32_t HashBKDR(const void* bytes, size_t count);
[[nodiscard]] uint32_t HashDJB(const void* bytes, size_t count);
[[nodiscard]] uint32_t HashAP(const void* bytes, size_t count);

// The hash functions by the method numbers programs pass; method 6 repeats
// method 0. kMd5HashMethod asks for the MD5 digest text instead.
using HashFunction = uint32_t (*)(const void* bytes, size_t count);
inline constexpr HashFunction kHashMethods[] = {
    HashName, HashRS, HashJS, HashPJW, HashELF, HashBKDR, HashName, HashDJB, HashAP,
};
constexpr int kMd5HashMethod = 9;

// Reflected CRC with polynomial 0xA001, register starting as all ones, no final
// XOR. The register starts as the 32-bit 0xFFFFFFFF, so empty input answers
// 0xFFFFFFFF; after any byte only the low 16 bits can be set.
[[nodiscard]] uint32_t Crc16(const void* bytes, size_t count);

// MD5 working record, in this order.
struct Md5Context {
    uint32_t bitCountLow;   // bits hashed so far, low word
    uint32_t bitCountHigh;  // and high word
    uint32_t state[4];      // chaining words A, B, C, D
    uint8_t buffer[64];     // input not yet transformed
    uint8_t digest[16];     // filled by Md5Final
};

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const void* bytes, size_t count);
void Md5Final(Md5Context& context);

// "0x" and the 16 digest bytes as lower-case hexadecimal pairs: a new 35-byte
// block of the process heap (34 characters and the terminator) that the
// caller frees (FreeBlock); null when no memory is left.
[[nodiscard]] char* DigestToHex(const Md5Context& context);

}  // namespace qob
