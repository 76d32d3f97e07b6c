// builtins/lists/container_items.cpp
// New list items, lists rebuilt from chains, and typed array elements.
#include "builtins/lists/container_items.h"

#include <algorithm>
#include <cstring>

#include "builtins/lists/list_builtins.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/data/wide_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

// A terminated copy of length units, from the low-memory allocator.
char* CopyUnits(const void* text, size_t length, bool wide) {
    const size_t unit = wide ? 2 : 1;
    auto* copy = static_cast<char*>(AllocateValueBlock((length + 1) * unit));
    if (!copy) return nullptr;
    if (length) std::memcpy(copy, text, length * unit);
    RegisterValueBlock(copy);
    return copy;
}

bool HoldsAddress(int32_t type) { return type == -9 || type == -8 || type == -5 || type == -4 || type == -3; }

// The number a text of either width stands for.
double UnitsNumber(const void* text, size_t length, bool wide) {
    if (!wide) {
        char* copy = CopyUnits(text, length, false);
        const double number = copy ? StringToNumber(copy) : 0.0;
        FreeValueBlock(copy);
        return number;
    }
    char* wideCopy = CopyUnits(text, length, true);
    if (!wideCopy) return 0.0;
    char* narrow = WideToAnsi(reinterpret_cast<const uint16_t*>(wideCopy));
    FreeValueBlock(wideCopy);
    const double number = narrow ? StringToNumber(narrow) : 0.0;
    platform::FreeBlock(narrow);
    return number;
}

}  // namespace

ListNode* AppendTextItem(ListNode* last, const void* text, size_t length, bool wide) {
    ListNode* node = ListAppend(last);
    if (!node) return nullptr;
    node->data = CopyUnits(text, length, wide);
    if (node->data) node->flags = kVarOwnsData | (wide ? kVarWideText : 0);
    StampListNode(node);
    return node;
}

ListNode* AppendNumberItem(ListNode* last, double value) {
    ListNode* node = ListAppend(last);
    if (!node) return nullptr;
    node->value = value;
    StampListNode(node);
    return node;
}

int64_t RebuildList(VariableRecord* list, ListNode* chain) {
    ReleaseVariable(CurrentContext, list, false, false);
    list->flags |= kVarList;
    list->currentNode = nullptr;
    ShowListItem(list, chain ? ListFirst(chain) : nullptr);
    return chain ? ListCount(chain) : 0;
}

bool IsArrayVariable(const VariableRecord* variable) {
    return variable && variable->elementCount > 0 && !variable->parent && variable->data &&
           !(variable->flags & kVarList);
}

bool MakeDoubleArray(VariableRecord* array, uint32_t count) {
    ReleaseVariable(CurrentContext, array, false, false);
    if (count == 0) return false;
    auto* storage = static_cast<char*>(AllocateValueBlock(static_cast<size_t>(count) * sizeof(double)));
    if (!storage) return false;
    RegisterValueBlock(storage);
    array->data = storage;
    array->type = kTypeDouble;
    array->elementCount = count;
    array->dimensionCount = 1;
    array->dimensions[0] = static_cast<int32_t>(count);
    array->flags |= kVarOwnsData;
    return true;
}

unsigned char* ArrayElement(VariableRecord* array, uint32_t index) {
    return reinterpret_cast<unsigned char*>(array->data) + static_cast<size_t>(index) * ElementSize(array->type);
}

void ReadArrayElement(VariableRecord* array, uint32_t index, char** text, bool* wide, double* value) {
    char* read = nullptr;
    *value = 0.0;
    GetVariableValue(array, &read, value, ArrayElement(array, index));
    *wide = read && (array->type == kTypeWideText || (array->flags & kVarWideText));
    *text = read ? CopyValueBlockOrText(read, *wide) : nullptr;
}

void StoreArrayText(VariableRecord* array, unsigned char* element, const void* text, size_t length, bool wide) {
    const int32_t type = array->type;
    if (type == -2 || type == -1) {
        StoreTypedValue(array, element, type, nullptr, UnitsNumber(text, length, wide));
        return;
    }
    if (!HoldsAddress(type)) {
        // A fixed-width field: the characters, cut to the field (the typed
        // store takes the block over).
        char* copy = wide ? nullptr : CopyUnits(text, length, false);
        if (wide) {
            char* wideCopy = CopyUnits(text, length, true);
            char* narrow = wideCopy ? WideToAnsi(reinterpret_cast<const uint16_t*>(wideCopy)) : nullptr;
            FreeValueBlock(wideCopy);
            copy = narrow ? CopyValueText(narrow) : nullptr;
            platform::FreeBlock(narrow);
        }
        if (copy) StoreTypedValue(array, element, type, copy, 0.0);
        return;
    }
    char* copy = nullptr;
    if (type == kTypeWideText && !wide) {
        char* narrow = CopyUnits(text, length, false);
        uint16_t* widened = narrow ? AnsiToWide(narrow) : nullptr;
        FreeValueBlock(narrow);
        if (widened) copy = CopyValueBlockOrText(widened, true);
        platform::FreeBlock(widened);
        RegisterValueBlock(copy);
    } else {
        copy = CopyUnits(text, length, wide);
    }
    if (!copy) return;
    StoreTypedValue(array, element, type, nullptr, static_cast<double>(reinterpret_cast<uintptr_t>(copy)));
    AddMemoryLink(array, copy, element, type);
}

void StoreMemberText(VariableRecord* member, const void* text, size_t length, bool wide) {
    if (member->type == kTypeWideText) {
        // The store copies the text as UTF-16 when the member says it is one,
        // and widens it otherwise.
        char* copy = CopyUnits(text, length, wide);
        if (!copy) return;
        if (wide) member->flags |= kVarWideText;
        else member->flags &= ~kVarWideText;
        SetVariableValue(member, copy, 0.0, nullptr, static_cast<int64_t>((length + 1) * (wide ? 2 : 1)));
        member->flags |= kVarWideText;
        FreeValueBlock(copy);
        return;
    }
    if (!wide) {
        char* copy = CopyUnits(text, length, false);
        if (copy) SetVariableValue(member, copy, 0.0, nullptr, static_cast<int64_t>(length + 1));
        FreeValueBlock(copy);
        return;
    }
    char* wideCopy = CopyUnits(text, length, true);
    char* narrow = wideCopy ? WideToAnsi(reinterpret_cast<const uint16_t*>(wideCopy)) : nullptr;
    FreeValueBlock(wideCopy);
    if (narrow) SetVariableValue(member, narrow, 0.0, nullptr, static_cast<int64_t>(std::strlen(narrow) + 1));
    platform::FreeBlock(narrow);
}

void StoreArrayNumber(VariableRecord* array, unsigned char* element, double value) {
    StoreTypedValue(array, element, array->type, nullptr, value);
}

}  // namespace qob
