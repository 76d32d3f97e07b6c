// builtins/files/file_arguments.cpp
// Argument readers and result writers shared by the file-like built-ins.
#include "builtins/files/file_arguments.h"

#include <cstring>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"

namespace qob {

std::string StringArgument(const StackEntry& argument) {
    const TextSpan text = ArgumentText(argument, false);
    return std::string(static_cast<const char*>(text.units), text.length);
}

void PushStringResult(std::string_view text) {
    auto* block = static_cast<char*>(platform::AllocateBlock(text.size() + 1));
    if (block) {
        std::memcpy(block, text.data(), text.size());
        block[text.size()] = '\0';
    }
    PushTextResult(block, false);
}

void StoreOutputNumber(const StackEntry& argument, double value) {
    if (VariableRecord* variable = TargetVariable(argument)) StoreNumber(variable, value, nullptr);
}

void* AddressArgument(const StackEntry& argument) {
    const auto address = static_cast<uint32_t>(StackEntryInteger(&argument));
    return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

size_t KnownBlockRoom(const void* address) { return address ? platform::GetBlockSize(address) : 0; }

}  // namespace qob
