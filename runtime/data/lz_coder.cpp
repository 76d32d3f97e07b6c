// runtime/data/lz_coder.cpp
// LZ77 compression with an exhaustive match search sped up by hash chains,
// and its decoder.
#include "runtime/data/lz_coder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

#include "runtime/data/byte_counts.h"
#include "runtime/data/byte_writer.h"

namespace qob {

namespace {

constexpr size_t kMaxOffset = 100000;
constexpr size_t kMinMatch = 4;       // a match must beat 3 bytes to be considered
constexpr size_t kChainSpan = 131072;  // power of two above kMaxOffset
constexpr size_t kNone = SIZE_MAX;

struct Match {
    size_t length;
    size_t offset;
};

// Finds, for a position, the longest match among ALL earlier positions
// within kMaxOffset, exactly as a scan of every offset would, the nearest
// one among equally long matches. Candidates share the position's first
// four bytes (a shorter match never counts), so chains of positions with
// equal 4-byte hashes hold every one of them, and a chain walked from its
// newest entry visits offsets in increasing order.
class MatchFinder {
public:
    explicit MatchFinder(std::span<const uint8_t> input) : input(input) {
        const size_t n = input.size();
        hashBits = std::clamp(static_cast<int>(std::bit_width(n)), 8, 16);
        head.assign(size_t{1} << hashBits, kNone);
        // With no more positions than slots the chains never wrap; otherwise
        // a slot is reused only kChainSpan positions later, beyond any offset.
        previous.assign(std::bit_ceil(std::min(n, kChainSpan)), kNone);
        previousMask = previous.size() - 1;
    }

    // Enters every position before `end` that has four bytes to hash.
    void InsertUpTo(size_t end) {
        if (input.size() < kMinMatch)
            return;
        end = std::min(end, input.size() - (kMinMatch - 1));
        for (; inserted < end; ++inserted) {
            const uint32_t h = Hash(inserted);
            previous[inserted & previousMask] = head[h];
            head[h] = inserted;
        }
    }

    // The best match for `pos` (which has at least four bytes left) among
    // the inserted positions. A match is capped by the bytes left and by its
    // offset, so a copy never reads the bytes it writes. Length 3 means none.
    Match FindLongest(size_t pos) {
        const size_t remaining = input.size() - pos;
        const size_t maxOffset = std::min(pos, kMaxOffset);
        Match best{kMinMatch - 1, 0};
        for (size_t q = head[Hash(pos)]; q != kNone; q = previous[q & previousMask]) {
            const size_t offset = pos - q;
            if (offset > maxOffset)
                break;
            const size_t limit = std::min(remaining, offset);
            // Only a candidate that also matches the byte past the best
            // length can beat it.
            if (limit <= best.length || input[q + best.length] != input[pos + best.length])
                continue;
            const size_t length = MatchLength(q, pos, limit);
            if (length <= best.length)
                continue;
            if (length == offset && offset < remaining)
                return FindLongestInRepeats(pos);
            best = {length, offset};
            if (length == remaining)
                break;
        }
        return best;
    }

private:
    // The same search where the bytes before `pos` repeat right after it.
    // Nearest first, each farther offset would match a little longer and be
    // compared again in full: the square of the run's length. Here the
    // greatest length is found from the farthest offset down, where the cap
    // by the offset soon ends the search, then the nearest offset reaching it.
    Match FindLongestInRepeats(size_t pos) {
        const size_t remaining = input.size() - pos;
        const size_t maxOffset = std::min(pos, kMaxOffset);
        candidates.clear();  // nearest first
        for (size_t q = head[Hash(pos)]; q != kNone && pos - q <= maxOffset;
             q = previous[q & previousMask])
            candidates.push_back(q);

        size_t best = kMinMatch - 1;
        for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
            const size_t offset = pos - *it;
            if (offset <= best || best == remaining)
                break;  // nothing nearer can be longer
            if (input[*it + best] == input[pos + best])
                best = std::max(best, MatchLength(*it, pos, std::min(remaining, offset)));
        }
        for (size_t q : candidates) {
            const size_t offset = pos - q;
            if (offset >= best && input[q + best - 1] == input[pos + best - 1] &&
                MatchLength(q, pos, best) == best)
                return {best, offset};
        }
        return {kMinMatch - 1, 0};  // not reached: the caller found a match
    }

    uint32_t Hash(size_t pos) const {
        uint32_t word;
        std::memcpy(&word, input.data() + pos, sizeof word);
        return (word * 2654435761u) >> (32 - hashBits);
    }

    // How many bytes from `from` equal those from `pos`, at most `limit`.
    size_t MatchLength(size_t from, size_t pos, size_t limit) const {
        const uint8_t* a = input.data() + from;
        const uint8_t* b = input.data() + pos;
        size_t length = 0;
        for (; length + 8 <= limit; length += 8) {
            uint64_t x, y;
            std::memcpy(&x, a + length, 8);
            std::memcpy(&y, b + length, 8);
            if (x != y) {
                if constexpr (std::endian::native == std::endian::little)
                    return length + std::countr_zero(x ^ y) / 8;
                else
                    return length + std::countl_zero(x ^ y) / 8;
            }
        }
        while (length < limit && a[length] == b[length])
            ++length;
        return length;
    }

    std::span<const uint8_t> input;
    int hashBits;
    std::vector<size_t> head;        // newest position per hash
    std::vector<size_t> previous;    // next older position with the same hash
    std::vector<size_t> candidates;  // of the position being searched
    size_t previousMask;
    size_t inserted = 0;
};

// Longer offsets need longer numbers, so a short match pays only when near.
bool IsMatchWorthCoding(Match match) {
    switch (match.length) {
    case 0: case 1: case 2: case 3: return false;
    case 4: return match.offset <= 127;
    case 5: return match.offset <= 16383;
    case 6: return match.offset <= 0x1FFFFF;
    case 7: return match.offset <= 0xFFFFFFF;
    default: return true;
    }
}

// 7 bits per byte, most significant group first; every byte but the last
// has 0x80 set.
[[nodiscard]] bool WriteVarSize(ByteWriter& out, size_t value) {
    int groups = 1;
    while (groups < 10 && (value >> (7 * groups)) != 0)
        ++groups;
    for (int g = groups - 1; g > 0; --g)
        if (!out.Put(static_cast<uint8_t>(0x80 | ((value >> (7 * g)) & 0x7F))))
            return false;
    return out.Put(static_cast<uint8_t>(value & 0x7F));
}

[[nodiscard]] bool WriteLiteral(ByteWriter& out, uint8_t marker, uint8_t value) {
    if (value == marker)
        return out.Put(marker) && out.Put(0);
    return out.Put(value);
}

// Reads a number at `pos`; nothing when it runs past the input. A value too
// large for 64 bits saturates, which every later check then refuses.
std::optional<uint64_t> ReadVarSize(std::span<const uint8_t> input, size_t& pos) {
    uint64_t value = 0;
    while (pos < input.size()) {
        const uint8_t b = input[pos++];
        value = value > (UINT64_MAX >> 7) ? UINT64_MAX : (value << 7) | (b & 0x7F);
        if ((b & 0x80) == 0)
            return value;
    }
    return std::nullopt;
}

// Reads the length and offset of a copy at `pos` and appends the copied
// bytes to the `written` bytes of `output`.
CoderStatus CopyFromOutput(std::span<const uint8_t> input, size_t& pos,
                           std::span<uint8_t> output, size_t& written) {
    const std::optional<uint64_t> length = ReadVarSize(input, pos);
    if (!length)
        return CoderStatus::InputTruncated;
    const std::optional<uint64_t> offset = ReadVarSize(input, pos);
    if (!offset)
        return CoderStatus::InputTruncated;
    if (*offset == 0 || *offset > written)
        return CoderStatus::BadOffset;
    if (*length > output.size() - written)
        return CoderStatus::OutputFull;
    uint8_t* to = output.data() + written;
    const uint8_t* from = to - *offset;
    if (*offset >= *length)
        std::memcpy(to, from, *length);
    else
        for (uint64_t i = 0; i < *length; ++i)  // overlapping: repeats the last bytes
            to[i] = from[i];
    written += *length;
    return CoderStatus::Ok;
}

}  // namespace

CoderResult LzCompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.empty())
        return {};
    const uint8_t marker = PickMarkerByte(CountByteValues(input));
    ByteWriter out(output);
    auto full = [&] { return CoderResult{CoderStatus::OutputFull, out.Written()}; };
    if (!out.Put(marker))
        return full();
    MatchFinder finder(input);
    const size_t n = input.size();
    size_t pos = 0;
    while (n - pos >= kMinMatch) {
        Match match{0, 0};
        if (pos >= 3) {
            finder.InsertUpTo(pos);
            match = finder.FindLongest(pos);
        }
        if (IsMatchWorthCoding(match)) {
            if (!out.Put(marker) || !WriteVarSize(out, match.length) ||
                !WriteVarSize(out, match.offset))
                return full();
            pos += match.length;
        } else {
            if (!WriteLiteral(out, marker, input[pos]))
                return full();
            ++pos;
        }
    }
    for (; pos < n; ++pos)
        if (!WriteLiteral(out, marker, input[pos]))
            return full();
    return {CoderStatus::Ok, out.Written()};
}

CoderResult LzUncompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.empty())
        return {};
    const uint8_t marker = input[0];
    size_t written = 0;
    for (size_t pos = 1; pos < input.size();) {
        const uint8_t item = input[pos++];
        if (item == marker && pos < input.size() && input[pos] == 0) {
            ++pos;  // marker, 0: the marker byte itself
        } else if (item == marker) {
            const CoderStatus status = CopyFromOutput(input, pos, output, written);
            if (status != CoderStatus::Ok)
                return {status, written};
            continue;
        }
        if (written == output.size())
            return {CoderStatus::OutputFull, written};
        output[written++] = item;
    }
    return {CoderStatus::Ok, written};
}

}  // namespace qob
