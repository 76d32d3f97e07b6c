// runtime/data/coder_result.h
// What a call of one of the byte coders reports: how it ended and how many
// bytes it wrote.
#pragma once

#include <cstddef>

namespace qob {

enum class CoderStatus {
    Ok,
    OutputFull,      // the output buffer cannot hold what the call has to write
    InputTruncated,  // an item, a code or the code tree runs past the end of the input
    BadOffset,       // a copy reaches back before the first byte of the output
    BadTree,         // a code tree with more than 256 leaves or deeper than 32 levels
    UnknownCode,     // bits that lead to no leaf of the code tree
    CodeTooLong,     // compressing: a prefix code would need more than 32 bits
    UnknownMethod,   // a method number that names no coder: nothing was done
};

// On failure `length` still counts the bytes written before the coder
// stopped; their content is not meant to be used.
struct [[nodiscard]] CoderResult {
    CoderStatus status = CoderStatus::Ok;
    size_t length = 0;

    bool Ok() const { return status == CoderStatus::Ok; }
};

}  // namespace qob
