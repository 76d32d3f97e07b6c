// runtime/data/rle_coder.cpp
// Run-length compression and its decoder.
#include "runtime/data/rle_coder.h"

#include <algorithm>

#include "runtime/data/byte_counts.h"
#include "runtime/data/byte_writer.h"

namespace qob {

namespace {

constexpr size_t kMaxRun = 32768;  // the longest run one item can carry

// One run of `count` (1 to kMaxRun) bytes of `value`.
[[nodiscard]] bool RleEmitRun(ByteWriter& out, uint8_t marker, uint8_t value, size_t count) {
    if (count > 3) {
        const size_t stored = count - 1;
        if (!out.Put(marker))
            return false;
        if (stored <= 127) {
            if (!out.Put(static_cast<uint8_t>(stored)))
                return false;
        } else if (!out.Put(static_cast<uint8_t>(0x80 | (stored >> 8))) ||
                   !out.Put(static_cast<uint8_t>(stored & 0xFF))) {
            return false;
        }
        return out.Put(value);
    }
    if (value == marker)
        return out.Put(marker) && out.Put(static_cast<uint8_t>(count - 1));
    return out.PutRepeated(value, count);
}

}  // namespace

CoderResult RleCompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.empty())
        return {};
    const uint8_t marker = PickMarkerByte(CountByteValues(input));
    ByteWriter out(output);
    if (!out.Put(marker))
        return {CoderStatus::OutputFull, out.Written()};
    for (size_t start = 0; start < input.size();) {
        const uint8_t value = input[start];
        const size_t limit = std::min(input.size(), start + kMaxRun);
        size_t end = start + 1;
        while (end < limit && input[end] == value)
            ++end;
        if (!RleEmitRun(out, marker, value, end - start))
            return {CoderStatus::OutputFull, out.Written()};
        start = end;
    }
    return {CoderStatus::Ok, out.Written()};
}

CoderResult RleUncompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.empty())
        return {};
    const uint8_t marker = input[0];
    ByteWriter out(output);
    size_t pos = 1;
    auto fail = [&](CoderStatus status) { return CoderResult{status, out.Written()}; };
    while (pos < input.size()) {
        const uint8_t item = input[pos++];
        if (item != marker) {
            if (!out.Put(item))
                return fail(CoderStatus::OutputFull);
            continue;
        }
        if (pos == input.size())
            return fail(CoderStatus::InputTruncated);
        size_t stored = input[pos++];
        const bool longRun = stored >= 0x80;
        uint8_t value = marker;
        if (longRun) {
            if (pos == input.size())
                return fail(CoderStatus::InputTruncated);
            stored = (stored & 0x7F) * 256 + input[pos++];
        }
        // Only the short forms 0, 1, 2 stand for the marker byte itself;
        // every other run names its byte.
        if (longRun || stored >= 3) {
            if (pos == input.size())
                return fail(CoderStatus::InputTruncated);
            value = input[pos++];
        }
        if (!out.PutRepeated(value, stored + 1))
            return fail(CoderStatus::OutputFull);
    }
    return {CoderStatus::Ok, out.Written()};
}

}  // namespace qob
