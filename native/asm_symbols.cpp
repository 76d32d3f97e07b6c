// native/asm_symbols.cpp
#include "native/asm_symbols.h"

#include <string>
#include <unordered_map>

namespace qob {
namespace {

std::unordered_map<std::string, uint32_t>& Symbols() {
    static std::unordered_map<std::string, uint32_t> symbols;
    return symbols;
}

}  // namespace

void EnterAsmSymbol(std::string_view name, uint32_t value) { Symbols().try_emplace(std::string(name), value); }

std::optional<uint32_t> FindAsmSymbol(std::string_view name) {
    const auto& symbols = Symbols();
    auto found = symbols.find(std::string(name));
    if (found == symbols.end()) return std::nullopt;
    return found->second;
}

}  // namespace qob
