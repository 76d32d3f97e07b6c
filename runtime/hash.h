// runtime/hash.h
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

}  // namespace qob
