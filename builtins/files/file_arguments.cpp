// builtins/files/file_arguments.cpp
// Argument readers and result writers shared by the file-like built-ins.
#include "builtins/files/file_arguments.h"

#include <cstring>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"

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

void StoreTextList(const StackEntry& argument, const std::vector<std::string>& texts, bool lastCurrent) {
    VariableRecord* list = TargetVariable(argument);
    if (!list) return;
    ReleaseVariable(CurrentContext, list, false, false);
    list->flags |= kVarList;
    ListNode* first = nullptr;
    ListNode* last = nullptr;
    for (const std::string& text : texts) {
        ListNode* node = ListAppend(last);
        if (!node) break;
        node->data = CopyValueText(text.c_str());
        RegisterValueBlock(node->data);
        node->flags = kVarOwnsData;
        StampListNode(node);
        if (!first) first = node;
        last = node;
    }
    list->currentNode = lastCurrent ? last : first;
    if (list->currentNode) LoadListElement(list);
}

void* AddressArgument(const StackEntry& argument) {
    const auto address = static_cast<uint32_t>(StackEntryInteger(&argument));
    return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

size_t KnownBlockRoom(const void* address) { return address ? platform::GetBlockSize(address) : 0; }

}  // namespace qob
