// runtime/data/bit_cursor.h
// Bit cursors for the prefix coder: writing and reading bits over caller
// buffers, most significant bit of each byte first, never past the buffer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace qob {

namespace coder_internal {
// Whether the coding loops take their BMI2 builds: set where the processor
// has BMI2. Tests clear it to run the builds for any x86-64 as well.
extern bool useBmi2;
}  // namespace coder_internal

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
        // a length no code has, and go one at a time.
        if (input.size() >= kPairTableWorth && !full) {
            // Indexed by the two bytes as a little-endian load reads them:
            // the first byte low.
            static_assert(std::endian::native == std::endian::little, "the first byte of a pair is its low one");
            // A row per second byte, written straight through without a
            // branch (a split pair's code is never read).
            const auto pairCodes = std::make_unique_for_overwrite<uint32_t[]>(65536);
            const auto pairLengths = std::make_unique_for_overwrite<uint8_t[]>(65536);
            for (unsigned second = 0; second < 256; ++second) {
                const unsigned secondLength = lengths[second];
                const uint32_t secondCode = codes[second];
                uint32_t* const rowCodes = pairCodes.get() + (second << 8);
                uint8_t* const rowLengths = pairLengths.get() + (second << 8);
                for (unsigned first = 0; first < 256; ++first) {
                    const unsigned length = lengths[first] + secondLength;
                    rowCodes[first] = static_cast<uint32_t>(uint64_t{codes[first]} << secondLength) | secondCode;
                    rowLengths[first] = static_cast<uint8_t>(length > 32 ? kSplitPair : length);
                }
            }
            const PairTable table{pairCodes.get(), pairLengths.get(), codes, lengths};
            PairState state{bits, count, written};
            i = HasBmi2() ? WritePairsBmi2(input, table, output, state) : WritePairs(input, table, output, state);
            bits = state.bits;
            count = state.count;
            written = state.at;
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

    // A pair's length when its two codes together take more than 32 bits.
    static constexpr uint8_t kSplitPair = 64;

    struct PairTable {
        const uint32_t* pairCode;
        const uint8_t* pairLength;  // kSplitPair: the two codes go one at a time
        const uint32_t* codes;
        const uint8_t* lengths;
    };
    struct PairState {
        uint64_t bits;
        int count;
        size_t at;
    };

    static bool HasBmi2() { return coder_internal::useBmi2; }

    // The pair loop built for any x86-64, and again for a processor with
    // BMI2, whose shifts by a register take any register for the count.
    // Both give the index of the first byte left for the loop after them.
    static size_t WritePairs(std::span<const uint8_t> input, const PairTable& table, std::span<uint8_t> output,
                             PairState& state) {
        return WritePairsWithRoom(input, table, output, state);
    }
    [[gnu::target("bmi2")]] static size_t WritePairsBmi2(std::span<const uint8_t> input, const PairTable& table,
                                                         std::span<uint8_t> output, PairState& state) {
        return WritePairsWithRoom(input, table, output, state);
    }

    [[gnu::always_inline]] static size_t WritePairsWithRoom(std::span<const uint8_t> input, const PairTable& tables,
                                                            std::span<uint8_t> output, PairState& state) {
        // A copy of its own: the stores of output words could otherwise
        // change the table pointers as far as the compiler knows.
        const PairTable table = tables;
        uint64_t bits = state.bits;
        int count = state.count;
        size_t at = state.at;
        uint8_t* const out = output.data();
        constexpr size_t kMostPerEight = 8 * 4;  // eight codes of at most 32 bits
        size_t i = 0;
        for (; i + 8 <= input.size() && output.size() - at >= kMostPerEight; i += 8) {
            // Written out: a loop over the pairs is not unrolled by an -O2
            // build. A pair loaded on its own is one instruction, where
            // taking it out of a word read once is two or three.
            const uint8_t* const eight = input.data() + i;
            AppendPairWithRoom(bits, count, table, LoadPair(eight), out, at);
            AppendPairWithRoom(bits, count, table, LoadPair(eight + 2), out, at);
            AppendPairWithRoom(bits, count, table, LoadPair(eight + 4), out, at);
            AppendPairWithRoom(bits, count, table, LoadPair(eight + 6), out, at);
        }
        state = {bits, count, at};
        return i;
    }

    static unsigned LoadPair(const uint8_t* at) {
        uint16_t pair;
        std::memcpy(&pair, at, sizeof pair);
        return pair;
    }

    // One test per pair: a split pair's length takes the count past 32 as
    // a word to store does, and is told apart only there.
    [[gnu::always_inline]] static void AppendPairWithRoom(uint64_t& bits, int& count, const PairTable& table,
                                                          unsigned pair, uint8_t* out, size_t& at) {
        const int length = table.pairLength[pair];
        const int total = count + length;
        if (total < 32) [[likely]] {
            bits = (bits << length) | table.pairCode[pair];
            count = total;
            return;
        }
        if (length == kSplitPair) [[unlikely]] {
            const unsigned first = pair & 0xFF;
            const unsigned second = pair >> 8;
            AppendWithRoom(bits, count, table.codes[first], table.lengths[first], out, at);
            AppendWithRoom(bits, count, table.codes[second], table.lengths[second], out, at);
            return;
        }
        bits = (bits << length) | table.pairCode[pair];
        count = total - 32;
        const uint32_t word = __builtin_bswap32(static_cast<uint32_t>(bits >> count));
        std::memcpy(out + at, &word, sizeof word);
        at += 4;
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
