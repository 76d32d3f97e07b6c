// builtins/operators/operator_texts.cpp
// Join, cut, remove, repeat and split for the operators, written once over
// the unit type and instantiated for 8-bit and UTF-16 texts.

#include "builtins/operators/operator_texts.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/memory.h"

namespace qob {
namespace {

// A zeroed block for length units and the terminator; null when it would not fit.
template <typename Unit>
Unit* NewUnits(uint64_t length) {
    if (length >= platform::kMaxBlockSize / sizeof(Unit)) return nullptr;
    return static_cast<Unit*>(platform::AllocateZeroedBlock((length + 1) * sizeof(Unit)));
}

// The same for a caller that writes all length units: only the terminator is
// set here (zeroing a long text first would write it twice).
template <typename Unit>
Unit* NewFilledUnits(uint64_t length) {
    if (length >= platform::kMaxBlockSize / sizeof(Unit)) return nullptr;
    auto* units = static_cast<Unit*>(platform::AllocateBlock((length + 1) * sizeof(Unit)));
    if (units) units[length] = 0;
    return units;
}

template <typename Unit>
const Unit* UnitsOf(TextSpan text) {
    return static_cast<const Unit*>(text.units);
}

template <typename Unit>
Unit* CopyUnits(const Unit* units, size_t length) {
    Unit* copy = NewFilledUnits<Unit>(length);
    if (copy && length) std::memcpy(copy, units, length * sizeof(Unit));
    return copy;
}

template <typename Unit>
Unit* JoinAll(std::span<const TextSpan> texts) {
    uint64_t total = 0;
    for (const TextSpan& text : texts) total += text.length;
    Unit* joined = NewFilledUnits<Unit>(total);
    if (!joined) return nullptr;
    Unit* out = joined;
    for (const TextSpan& text : texts) {
        if (text.length) std::memcpy(out, text.units, text.length * sizeof(Unit));
        out += text.length;
    }
    return joined;
}

// One left-to-right pass gives what removing the leftmost occurrence and
// searching again from the start gives: the kept units never hold a whole
// occurrence, so the next leftmost one is the first to end. The pattern
// state after each kept unit is remembered, so a removal resumes matching
// where the units before it left off.
template <typename Unit>
Unit* RemoveAll(TextSpan text, TextSpan find) {
    const Unit* source = UnitsOf<Unit>(text);
    const Unit* pattern = UnitsOf<Unit>(find);
    const size_t m = find.length;
    if (m == 0) return CopyUnits(source, text.length);
    std::vector<size_t> fallback(m, 0);  // longest proper border of each pattern prefix
    for (size_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && pattern[i] != pattern[k]) k = fallback[k - 1];
        if (pattern[i] == pattern[k]) ++k;
        fallback[i] = k;
    }
    Unit* out = NewUnits<Unit>(text.length);
    if (!out) return nullptr;
    std::vector<size_t> state(text.length + 1, 0);  // state[j]: matched length after j kept units
    size_t kept = 0;
    for (size_t i = 0; i < text.length; ++i) {
        const Unit unit = source[i];
        size_t k = state[kept];
        while (k > 0 && pattern[k] != unit) k = fallback[k - 1];
        if (pattern[k] == unit) ++k;
        out[kept++] = unit;
        state[kept] = k;
        if (k == m) kept -= m;
    }
    out[kept] = 0;
    return out;
}

template <typename Unit>
Unit* Repeat(TextSpan text, int64_t count) {
    if (count <= 0 || text.length == 0) return NewUnits<Unit>(0);
    const uint64_t limit = platform::kMaxBlockSize / sizeof(Unit);
    if (static_cast<uint64_t>(count) >= limit / text.length) return nullptr;
    const uint64_t length = text.length * static_cast<uint64_t>(count);
    Unit* repeated = NewFilledUnits<Unit>(length);
    if (!repeated) return nullptr;
    for (int64_t i = 0; i < count; ++i)
        std::memcpy(repeated + i * text.length, text.units, text.length * sizeof(Unit));
    return repeated;
}

template <typename Unit>
Unit* Piece(TextSpan text, size_t pieceLength, int64_t index) {
    if (index < 0 || pieceLength == 0) return NewUnits<Unit>(0);
    const uint64_t start = static_cast<uint64_t>(index);
    if (start >= text.length / pieceLength + 1) return NewUnits<Unit>(0);
    const uint64_t from = start * pieceLength;
    if (from >= text.length) return NewUnits<Unit>(0);
    const size_t length = static_cast<size_t>(std::min<uint64_t>(pieceLength, text.length - from));
    return CopyUnits(UnitsOf<Unit>(text) + from, length);
}

}  // namespace

void* JoinTexts(TextSpan left, TextSpan right, bool wide) {
    const TextSpan pair[] = {left, right};
    return JoinAllTexts(pair, wide);
}

void* JoinAllTexts(std::span<const TextSpan> texts, bool wide) {
    return wide ? static_cast<void*>(JoinAll<uint16_t>(texts)) : JoinAll<char>(texts);
}

void* CutTextTail(TextSpan text, int64_t count, bool wide) {
    const int64_t length = static_cast<int64_t>(text.length);
    const size_t kept = static_cast<size_t>(length - std::clamp<int64_t>(count, 0, length));
    return wide ? static_cast<void*>(CopyUnits(UnitsOf<uint16_t>(text), kept)) : CopyUnits(UnitsOf<char>(text), kept);
}

void* RemoveTextOccurrences(TextSpan text, TextSpan find, bool wide) {
    return wide ? static_cast<void*>(RemoveAll<uint16_t>(text, find)) : RemoveAll<char>(text, find);
}

void* RepeatText(TextSpan text, int64_t count, bool wide) {
    return wide ? static_cast<void*>(Repeat<uint16_t>(text, count)) : Repeat<char>(text, count);
}

size_t PieceLength(size_t length, int64_t count) {
    if (count < 1) return 0;
    const float quotient = static_cast<float>(length) / static_cast<float>(count);
    const auto truncated = static_cast<size_t>(quotient);
    return quotient > static_cast<float>(truncated) ? truncated + 1 : truncated;
}

void* TextPiece(TextSpan text, size_t pieceLength, int64_t index, bool wide) {
    return wide ? static_cast<void*>(Piece<uint16_t>(text, pieceLength, index)) : Piece<char>(text, pieceLength, index);
}

}  // namespace qob
