// runtime/bit_cursor.h
// Bit cursors for the prefix coder: writing and reading bits over caller
// buffers, most significant bit of each byte first, never past the buffer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qob {

class BitCursorWriter {
public:
    explicit BitCursorWriter(std::span<uint8_t> output) : output(output) {}

    // Appends the low `count` (0 to 32) bits of `value`, most significant
    // first. Once the buffer is full the rest is dropped and IsFull() says so
    // (at the latest when Flush stores the last bits).
    void WriteBits(uint32_t value, int count) {
        pending = (pending << count) | (value & ((uint64_t{1} << count) - 1));
        pendingBits += count;
        if (pendingBits >= 32) {
            pendingBits -= 32;
            PutWord(static_cast<uint32_t>(pending >> pendingBits));
            pending &= (uint64_t{1} << pendingBits) - 1;
        }
    }

    // Appends the code of every input byte: codes[b], right-aligned, its low
    // lengths[b] bits (at most 32, the rest of it clear). The same stream as
    // a WriteBits per byte, with the pending bits kept in a register.
    void WriteCodes(std::span<const uint8_t> input, const uint32_t* codes, const uint8_t* lengths) {
        uint64_t bits = pending;
        int count = pendingBits;
        for (const uint8_t b : input) {
            if (full)
                break;
            bits = (bits << lengths[b]) | codes[b];
            count += lengths[b];
            if (count >= 32) {
                count -= 32;
                PutWord(static_cast<uint32_t>(bits >> count));
                bits &= (uint64_t{1} << count) - 1;
            }
        }
        pending = bits;
        pendingBits = count;
    }

    // Writes the bits still held, a partly filled last byte with its unused
    // low bits cleared, so the same input always gives the same bytes.
    void Flush() {
        while (pendingBits >= 8) {
            pendingBits -= 8;
            PutByte(static_cast<uint8_t>(pending >> pendingBits));
        }
        if (pendingBits > 0)
            PutByte(static_cast<uint8_t>(pending << (8 - pendingBits)));
        pending = 0;
        pendingBits = 0;
    }

    bool IsFull() const { return full; }
    size_t Written() const { return written; }

private:
    void PutByte(uint8_t value) {
        if (written == output.size()) {
            full = true;
            return;
        }
        output[written++] = value;
    }

    // Four bytes, most significant first.
    void PutWord(uint32_t value) {
        if (output.size() - written >= 4) {
            const uint32_t stored = std::endian::native == std::endian::little ? __builtin_bswap32(value) : value;
            std::memcpy(output.data() + written, &stored, 4);
            written += 4;
            return;
        }
        for (int shift = 24; shift >= 0; shift -= 8)
            PutByte(static_cast<uint8_t>(value >> shift));
    }

    std::span<uint8_t> output;
    size_t written = 0;
    uint64_t pending = 0;  // bits not yet stored, right-aligned
    int pendingBits = 0;   // fewer than 32 between calls
    bool full = false;
};

class BitCursorReader {
public:
    explicit BitCursorReader(std::span<const uint8_t> input) : input(input) {}

    // Reads `count` (0 to 32) bits, most significant first, into the low bits
    // of `value`; false, with nothing consumed, when fewer bits are left.
    [[nodiscard]] bool ReadBits(int count, uint32_t& value) {
        if (static_cast<size_t>(count) > BitsLeft())
            return false;
        value = count == 0 ? 0 : static_cast<uint32_t>(Peek64() >> (64 - count));
        position += count;
        return true;
    }

    // The next 64 bits, left-aligned, without consuming them; bits past the
    // end of the input read as 0 (callers check BitsLeft before consuming).
    // At least 57 bits are exact, which covers any 32-bit code.
    uint64_t Peek64() const {
        const size_t byteIndex = position >> 3;
        const int shift = static_cast<int>(position & 7);
        uint64_t word = 0;
        if (byteIndex + 8 <= input.size()) {
            std::memcpy(&word, input.data() + byteIndex, 8);
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
        } else {
            for (size_t i = 0; byteIndex + i < input.size(); ++i)
                word |= uint64_t{input[byteIndex + i]} << (56 - 8 * i);
        }
        return word << shift;
    }

    void Skip(size_t count) { position += count; }
    size_t BitsLeft() const { return input.size() * 8 - position; }

private:
    std::span<const uint8_t> input;
    size_t position = 0;  // in bits from the start of the input
};

}  // namespace qob
