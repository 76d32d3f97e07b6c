// platform/wide_case.h
// Upper- and lower-case mapping of single UTF-16 units, as the device's wide
// case routines map them: one unit to one unit, letters of every script.
#pragma once

#include <cstdint>

namespace qob::platform {

// The unit's simple case mapping (one unit in, one unit out). Units that are
// not letters, that have no single-unit counterpart, or that are surrogates
// (halves of a pair, and the escape units of 8-bit bytes) stay as they are.
[[nodiscard]] uint16_t WideToUpper(uint16_t unit);
[[nodiscard]] uint16_t WideToLower(uint16_t unit);

}  // namespace qob::platform
