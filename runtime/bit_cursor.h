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
        // Long inputs: a table of the codes of every two bytes halves the
        // steps (it pays for itself there), and while the output has room
        // for all that eight bytes can make, the words are stored without a
        // test each. Two codes of more than 32 bits together are marked by
        // length 0 in the table and go one at a time; no byte of the input
        // has a code of length 0.
        if (input.size() >= kPairTableWorth && !full) {
            // Indexed by the two bytes as a little-endian load reads them:
            // the first byte low.
            static_assert(std::endian::native == std::endian::little, "the first byte of a pair is its low one");
            std::vector<uint32_t> pairCodes(65536);
            std::vector<uint8_t> pairLengths(65536);
            for (unsigned first = 0; first < 256; ++first)
                for (unsigned second = 0; second < 256; ++second) {
                    const unsigned length = lengths[first] + lengths[second];
                    if (length > 32) continue;
                    pairCodes[second << 8 | first] =
                        static_cast<uint32_t>(uint64_t{codes[first]} << lengths[second]) | codes[second];
                    pairLengths[second << 8 | first] = static_cast<uint8_t>(length);
                }
            const uint32_t* const pairCode = pairCodes.data();
            const uint8_t* const pairLength = pairLengths.data();
            uint8_t* const out = output.data();
            size_t at = written;
            constexpr size_t kMostPerEight = 8 * 4;  // eight codes of at most 32 bits
            for (; i + 8 <= input.size() && output.size() - at >= kMostPerEight; i += 8) {
                uint64_t eight;
                std::memcpy(&eight, input.data() + i, sizeof eight);
                // Written out: a loop over the shifts is not unrolled by an -O2 build.
                const PairTable table{pairCode, pairLength, codes, lengths};
                AppendPairWithRoom(bits, count, table, static_cast<unsigned>(eight & 0xFFFF), out, at);
                AppendPairWithRoom(bits, count, table, static_cast<unsigned>((eight >> 16) & 0xFFFF), out, at);
                AppendPairWithRoom(bits, count, table, static_cast<unsigned>((eight >> 32) & 0xFFFF), out, at);
                AppendPairWithRoom(bits, count, table, static_cast<unsigned>(eight >> 48), out, at);
            }
            written = at;
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

    struct PairTable {
        const uint32_t* pairCode;
        const uint8_t* pairLength;  // 0: the two codes go one at a time
        const uint32_t* codes;
        const uint8_t* lengths;
    };

    [[gnu::always_inline]] static void AppendPairWithRoom(uint64_t& bits, int& count, const PairTable& table,
                                                          unsigned pair, uint8_t* out, size_t& at) {
        const int length = table.pairLength[pair];
        if (length != 0) [[likely]] {
            AppendWithRoom(bits, count, table.pairCode[pair], length, out, at);
            return;
        }
        const unsigned first = pair & 0xFF;
        const unsigned second = pair >> 8;
        AppendWithRoom(bits, count, table.codes[first], table.lengths[first], out, at);
        AppendWithRoom(bits, count, table.codes[second], table.lengths[second], out, at);
    }

    // Append for a caller that made sure of room for the word, stored most
    // significant byte first on this little-endian machine.
    [[gnu::always_inline]] static void AppendWithRoom(uint64_t& bits, int& count, uint32_t code, int length, uint8_t* out, size_t& at) {
        bits = (bits << length) | code;
        count += length;
        if (count >= 32) {
            count -= 32;
            const uint32_t word = __builtin_bswap32(static_cast<uint32_t>(bits >> count));
            std::memcpy(out + at, &word, sizeof word);
            at += 4;
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
