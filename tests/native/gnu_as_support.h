// tests/native/gnu_as_support.h
// GNU as for ARM as an independent oracle: assembles GNU-syntax lines
// (ARMv4, little-endian) and gives back the words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qob::testing {

// Why the oracle cannot run (empty when it can): the tools are missing.
[[nodiscard]] std::string GnuAsUnavailableReason();

// The words of the lines assembled as one ".arm" section, or nullopt with
// the assembler's messages in errors.
[[nodiscard]] std::optional<std::vector<uint32_t>> AssembleWithGnuAs(const std::string& lines, std::string* errors);

}  // namespace qob::testing
