// native/asm_symbols.h
// The process-wide symbol list of the assembler: every local-variable or
// QOB-variable name used as an operand, with its frame offset or address.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qob {

// Enters name once; a name already present keeps its first value.
void EnterAsmSymbol(std::string_view name, uint32_t value);
[[nodiscard]] std::optional<uint32_t> FindAsmSymbol(std::string_view name);

}  // namespace qob
