// windows/script_arguments.cpp
#include "windows/script_arguments.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/program_context.h"
#include "windows/event_calls.h"

namespace qob {

std::u16string WideFromAnsi(const char* text) {
    const std::vector<uint16_t> units = platform::DecodeAnsi(text ? std::string_view(text) : std::string_view());
    return std::u16string(units.begin(), units.end());
}

char* CopyTextToBlock(const char* text) {
    const size_t length = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(platform::AllocateBlock(length));
    if (copy) std::memcpy(copy, text, length);
    return copy;
}

char16_t* CopyWideToBlock(const std::u16string& text) {
    auto* copy = static_cast<char16_t*>(platform::AllocateBlock((text.size() + 1) * sizeof(char16_t)));
    if (!copy) return nullptr;
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return copy;
}

Instruction* ProcedureArgument(double value) {
    const auto address = static_cast<uint32_t>(TruncToInt64(value));
    auto* start = reinterpret_cast<Instruction*>(static_cast<uintptr_t>(address));
    return IsProcedureStartOf(CurrentContext, start) ? start : nullptr;
}

}  // namespace qob
