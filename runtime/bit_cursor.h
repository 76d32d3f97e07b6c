// runtime/bit_cursor.h
// Bit cursors for the prefix coder: writing and reading bits over caller
// buffers, most significant bit of each byte first, never past the buffer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

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
    // a WriteBits per byte, with the pending bits kept in a register. Once
    // the buffer is full the words after are dropped as they come: the loop
    // needs no test of its own per byte.
    void WriteCodes(std::span<const uint8_t> input, const uint32_t* codes, const uint8_t* lengths) {
        uint64_t bits = pending;
        int count = pendingBits;
        size_t i = 0;
        // Codes of at most 16 bits: a table of the codes of every two bytes
        // (at most 32 bits) halves the steps; it pays for itself on long inputs.
        if (input.size() >= kPairTableWorth && MaxLength(lengths) <= 16) {
            std::vector<uint32_t> pairCodes(65536);
            std::vector<uint8_t> pairLengths(65536);
            for (unsigned first = 0; first < 256; ++first)
                for (unsigned second = 0; second < 256; ++second) {
                    pairCodes[first << 8 | second] = codes[first] << lengths[second] | codes[second];
                    pairLengths[first << 8 | second] = static_cast<uint8_t>(lengths[first] + lengths[second]);
                }
            for (; i + 2 <= input.size(); i += 2) {
                const unsigned pair = unsigned{input[i]} << 8 | input[i + 1];
                Append(bits, count, pairCodes[pair], pairLengths[pair]);
            }
        }
        for (; i < input.size(); ++i) Append(bits, count, codes[input[i]], lengths[input[i]]);
        pending = bits & ((uint64_t{1} << count) - 1);
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
    static constexpr size_t kPairTableWorth = size_t{1} << 20;

    static int MaxLength(const uint8_t* lengths) {
        int longest = 0;
        for (int b = 0; b < 256; ++b) longest = lengths[b] > longest ? lengths[b] : longest;
        return longest;
    }

    // Adds length (at most 32) bits to the count (under 32) held in bits and
    // stores a word once 32 are there. Bits above the count are left as they
    // are: a word takes only its own 32, and the rest shift out of the top.
    void Append(uint64_t& bits, int& count, uint32_t code, int length) {
        bits = (bits << length) | code;
        count += length;
        if (count >= 32) {
            count -= 32;
            PutWord(static_cast<uint32_t>(bits >> count));
        }
    }

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
