// runtime/values/typed_fields.cpp
// Typed storage by type code: numbers in place, texts as blocks the variable
// owns through memory links, matrix cells of a matrix variable.
#include "runtime/values/typed_fields.h"

#include "platform/c_library.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"

#include <algorithm>
#include <cstring>

namespace qob {

namespace {

template <typename T>
void WriteField(void* address, T number) {
    std::memcpy(address, &number, sizeof number);
}

template <typename T>
T ReadField(const void* address) {
    T number;
    std::memcpy(&number, address, sizeof number);
    return number;
}

uint32_t Low32(double value) {
    return static_cast<uint32_t>(platform::TruncateToInteger<int64_t>(value));
}

bool HoldsPointer(int32_t type) {
    return type == -9 || type == -8 || type == -5 || type == -4 || type == -3;
}

// The address a pointer-holding field keeps (the block it points at).
void* FieldBlock(const void* address, int32_t type) {
    uintptr_t held = 0;
    switch (type) {
    case -9:
        held = static_cast<uintptr_t>(ReadField<int64_t>(address));
        break;
    case -8:
        held = static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(ReadField<double>(address)));
        break;
    default:
        held = ReadField<uint32_t>(address);
        break;
    }
    return reinterpret_cast<void*>(held);
}

// A UTF-16 copy of the text: duplicated when it already is UTF-16.
char* CopyAsWide(const char* text, bool alreadyWide) {
    if (alreadyWide)
        return CopyValueBlockOrText(text, true);
    std::string_view source(text);
    size_t units = platform::DecodeAnsi(source, {});
    auto* wide = static_cast<uint16_t*>(AllocateValueBlock((units + 1) * sizeof(uint16_t)));
    if (wide)
        platform::DecodeAnsi(source, std::span<uint16_t>(wide, units));
    return reinterpret_cast<char*>(wide);
}

// A text into a matrix cell of a matrix variable: the cell gets its own copy.
void StoreCellText(VariableRecord* variable, MatrixCell* cell, const char* text) {
    MatrixCellSet(cell, text, 0.0, &MemoryLinkHolder(variable)->links);
    cell->kind = kCellBlock;
}

}  // namespace

void StoreTypedValue(VariableRecord* variable, void* address, int32_t type, const char* text, double value) {
    // In a matrix variable the field is a cell; a text given here (as for
    // byte fields) is a block the call hands over.
    if (variable->flags & kVarMatrix) {
        auto* cell = static_cast<MatrixCell*>(address);
        MemoryLink** links = &MemoryLinkHolder(variable)->links;
        MatrixCellSet(cell, nullptr, value, links);
        cell->kind = kCellNumber;
        if (text) {
            SetCellPointer(cell, text);
            cell->kind = kCellBlock;
            PushMemoryLink(links, const_cast<char*>(text), cell, kTypeDouble);
        }
        return;
    }
    if (HoldsPointer(type))
        FreeMemoryLinkByField(variable, address, false);
    switch (type) {
    case -9:
        WriteField(address, platform::TruncateToInteger<int64_t>(value));
        return;
    case -8:
        WriteField(address, value);
        return;
    case -5:
    case -4:
    case -3:
        WriteField(address, Low32(value));
        return;
    case -2:
        WriteField(address, static_cast<uint16_t>(Low32(value)));
        return;
    case -1:
        WriteField(address, static_cast<uint8_t>(Low32(value)));
        return;
    default:
        break;
    }
    size_t width = ElementSize(type);
    if (text) {
        // The block may be shorter than the field: the rest reads as zeros.
        size_t available = platform::GetBlockSize(text);
        if (available == 0)
            available = std::strlen(text) + 1;
        size_t count = std::min(width, available);
        std::memcpy(address, text, count);
        std::memset(static_cast<char*>(address) + count, 0, width - count);
        FreeValueBlock(const_cast<char*>(text));
        return;
    }
    std::memcpy(address, &value, std::min<size_t>(width, sizeof value));
}

namespace {

// The bytes a text given to one element of a byte array may fill: the
// elements from that one to the array's end when the elements lie side by
// side (a plain array, a column of a column-major array of structures), else
// the one element.
size_t ByteRunRoom(const VariableRecord* variable, const void* address) {
    const VariableRecord* structure = variable->parent;
    const bool sideBySide = !structure || !structure->elementCount || variable->arrayOrder;
    const auto* first = reinterpret_cast<const unsigned char*>(variable->data);
    const auto* at = static_cast<const unsigned char*>(address);
    if (!sideBySide || !first || at < first || at >= first + variable->elementCount) return 1;
    return static_cast<size_t>(first + variable->elementCount - at);
}

}  // namespace

void AssignTypedField(void* address, VariableRecord* variable, const char* text, double value, int64_t size) {
    if (!text) {
        int32_t type = variable->type;
        if (variable->flags & kVarHandedOver)
            type = static_cast<int32_t>(size);
        else if (type == 0)
            type = -1;
        StoreTypedValue(variable, address, type, nullptr, value);
        return;
    }
    if (variable->flags & kVarMatrix) {
        StoreCellText(variable, static_cast<MatrixCell*>(address), text);
        return;
    }
    int32_t type = variable->type;
    size_t textBytes = size > 0 ? static_cast<size_t>(size) : TextBytes(text, false);
    switch (type) {
    case -9:
    case -8:
    case -5:
    case -4:
    case -3: {
        FreeMemoryLinkByBlock(variable, FieldBlock(address, type), address);
        char* copy = type == -3 ? CopyAsWide(text, variable->flags & kVarWideText)
                                : CopyValueBlock(text, textBytes);
        if (!copy)
            return;
        RegisterValueBlock(copy);
        StoreTypedValue(variable, address, type, nullptr,
                        static_cast<double>(reinterpret_cast<uintptr_t>(copy)));
        AddMemoryLink(variable, copy, address, type);
        return;
    }
    case -2:
        // A text in a 16-bit field stores its number.
        StoreTypedValue(variable, address, type, nullptr, StringToNumber(text));
        return;
    case -1:
        if (variable->elementCount) {
            const size_t room = ByteRunRoom(variable, address);
            size_t count = std::min(room, textBytes);
            std::memcpy(address, text, count);
            std::memset(static_cast<char*>(address) + count, 0, room - count);
            return;
        }
        WriteField(address, static_cast<int8_t>(text[0]));
        return;
    default: {
        size_t width = ElementSize(type);
        size_t count = std::min(width, textBytes);
        std::memcpy(address, text, count);
        std::memset(static_cast<char*>(address) + count, 0, width - count);
        return;
    }
    }
}

void ReadTypedField(VariableRecord* variable, const void* address, int32_t type, char** text, double* value) {
    *text = nullptr;
    if (variable->flags & kVarMatrix) {
        *value = ReadField<double>(address);
        return;
    }
    switch (type) {
    case -9:
        *value = static_cast<double>(ReadField<int64_t>(address));
        return;
    case -8:
        *value = ReadField<double>(address);
        return;
    case -5:
        *value = ReadField<uint32_t>(address);
        return;
    case -4:
    case -3:
        *value = ReadField<int32_t>(address);
        return;
    case -2:
        *value = ReadField<int16_t>(address);
        return;
    case -1:
        *value = ReadField<uint8_t>(address);
        return;
    default:
        break;
    }
    *value = 0;
    if (variable->flags & kVarHandedOver) {
        *text = const_cast<char*>(static_cast<const char*>(address));
        return;
    }
    // One byte longer than the field, so the copy is a terminated text.
    size_t width = ElementSize(type);
    auto* copy = static_cast<char*>(platform::AllocateZeroedBlock(width + 1));
    if (!copy)
        return;
    std::memcpy(copy, address, width);
    TrackAllocation(CurrentContext, copy, 0, kTrackedBlock);
    *text = copy;
}

}  // namespace qob
