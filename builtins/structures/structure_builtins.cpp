// builtins/structures/structure_builtins.cpp
// struct, restruct, type, the array keywords and their shared extent rule,
// clear and the element-order keywords. Structures are packed; field
// variables are named P.X$ after their structure P$ and point into its block.
#include "builtins/structures/structure_builtins.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/typed_fields.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

// The cells of the innermost frame, first argument first.
std::vector<StackEntry*> FrameCells(const FrameArguments& arguments) {
    std::vector<StackEntry*> cells;
    cells.reserve(static_cast<size_t>(arguments.count));
    StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) cells.push_back(cell = cell->above);
    return cells;
}

int32_t CellInteger(const StackEntry* cell) { return platform::TruncateTo32Bits<int32_t>(StackEntryNumber(cell)); }

void WriteBackListItem(VariableRecord* variable) {
    if (variable->currentNode) StoreListElement(variable);
}

void ReportWithName(const char* format, const char* name) {
    char message[512];
    std::snprintf(message, sizeof message, format, name ? name : "");
    RaiseRuntimeError(message, 0);
}

std::string UpperCase(const char* text) {
    std::string result(text ? text : "");
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

// A structure variable's name split before its last character ("P" and "$").
std::string NameStem(const VariableRecord* variable) {
    const std::string name = variable->name ? variable->name : "";
    return name.empty() ? name : name.substr(0, name.size() - 1);
}
char NameSuffix(const VariableRecord* variable) {
    const size_t length = variable->name ? std::strlen(variable->name) : 0;
    return length ? variable->name[length - 1] : '$';
}

// A zeroed value block of size bytes, recorded when memory tracking is on.
char* NewDataBlock(uint64_t size) {
    if (size > platform::kMaxBlockSize) return nullptr;
    void* block = AllocateValueBlock(static_cast<size_t>(size));
    if (block) RegisterValueBlock(block);
    return static_cast<char*>(block);
}

void FreeDataBlock(char* block) {
    UnregisterValueBlock(block);
    FreeValueBlock(block);
}

// --- structures ------------------------------------------------------------------

struct PendingField {
    std::string name;  // as given
    int32_t type = kTypeInt32;  // a field without a type is a signed 32-bit integer
    VariableRecord* nested = nullptr;
};

// Bytes of a field of the type (a nested structure's type is its size).
uint32_t FieldSize(int32_t type) { return static_cast<uint32_t>(ElementSize(type)); }

// Reads the field list: a name opens a field (a signed 32-bit integer unless
// a type follows), a number right after it is its type code, a structure
// variable after it makes it a nested structure. Duplicate names are reported
// and kept.
std::vector<PendingField> ReadFieldList(const std::vector<StackEntry*>& cells) {
    std::vector<PendingField> fields;
    bool typed = false;
    for (size_t i = 1; i < cells.size(); ++i) {
        const StackEntry* cell = cells[i];
        VariableRecord* variable = cell->variable;
        if (variable && (variable->flags & kVarStructure)) {
            if (!fields.empty() && !typed) {
                fields.back().nested = variable;
                fields.back().type = variable->type;
                typed = true;
            }
        } else if (cell->text && !(cell->flags & kEntryMatrix)) {
            PendingField field;
            field.name = NarrowOperandText(*cell) ? NarrowOperandText(*cell) : "";
            const std::string upper = UpperCase(field.name.c_str());
            for (const PendingField& other : fields)
                if (UpperCase(other.name.c_str()) == upper)
                    ReportWithName("Duplicate field name [%s] in structure", field.name.c_str());
            fields.push_back(field);
            typed = false;
        } else {
            const int32_t code = CellInteger(cell);
            if (code != 0 && !fields.empty() && !typed) {
                fields.back().type = code;
                typed = true;
            }
        }
    }
    return fields;
}

// Makes (or finds again) the field variable of a structure and links it.
VariableRecord* MakeField(VariableRecord* structure, VariableRecord* list, const std::string& name, int32_t type,
                          uint32_t offset) {
    VariableRecord* field = CreateVariable(list, name.c_str(), true);
    if (!field) return nullptr;
    field->offset = offset;
    field->parent = structure;
    field->data = structure->data ? structure->data + offset : nullptr;
    field->elementCount = 0;
    field->type = type;
    field->flags |= structure->flags & kVarPublic;
    return field;
}

// Expands a nested structure field from its definition's members.
void ExpandNested(VariableRecord* field, const VariableRecord* definition, const std::string& prefix, char suffix) {
    uint32_t offset = 0;
    for (const MemberDefinition* d = definition->members; d; d = d->next) {
        const VariableRecord* member = d->member;
        if (!member || !member->name) continue;
        const char* dot = std::strchr(member->name, '.');
        std::string tail = dot ? dot + 1 : member->name;
        if (!tail.empty()) tail.pop_back();
        VariableRecord* made = MakeField(field, definition->owner ? definition->owner : field->owner,
                                         prefix + "." + tail + suffix, d->type, offset);
        if (!made) continue;
        if (member->flags & kVarStructure) {
            made->flags |= kVarStructure;
            ExpandNested(made, member, prefix + "." + tail, suffix);
        }
        AddMemberDefinition(field, made);
        offset += FieldSize(d->type);
    }
    field->type = static_cast<int32_t>(offset);
    field->flags |= kVarStructure;
}

void DefineStructure(bool keepBlock) {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    VariableRecord* structure = cells.empty() ? nullptr : TargetVariable(*cells[0]);
    if (!structure) {
        DropFrameArguments(arguments);
        return;
    }
    const std::vector<PendingField> fields = ReadFieldList(cells);
    uint64_t total = 0;
    for (const PendingField& field : fields) total += FieldSize(field.type);

    char* block = nullptr;
    bool owned = true;
    if (keepBlock) {
        // The present block is taken out first, so that the release leaves it.
        block = structure->data;
        owned = (structure->flags & kVarOwnsData) != 0;
        structure->data = nullptr;
        structure->flags &= ~kVarOwnsData;
        ReleaseVariable(CurrentContext, structure, true, false);
        const size_t known = block ? platform::GetBlockSize(block) : 0;
        if (!block || (known < total && platform::IsLiveBlock(block))) {
            // No block, or one too small for the layout: the fields get room.
            char* grown = NewDataBlock(total);
            if (grown && block) std::memcpy(grown, block, known);
            if (block && owned) FreeDataBlock(block);
            block = grown;
            owned = true;
        }
    } else {
        ClearVariable(CurrentContext, structure, true, false);
        ReleaseVariable(CurrentContext, structure, true, false);
        block = NewDataBlock(total);
    }
    if (!block) {
        DropFrameArguments(arguments);
        return;
    }
    structure->data = block;
    structure->value = 0.0;
    structure->type = static_cast<int32_t>(total);
    structure->flags |= kVarStructure | (owned ? kVarOwnsData : 0);

    const std::string stem = NameStem(structure);
    const char suffix = NameSuffix(structure);
    VariableRecord* list = structure->owner;
    uint32_t offset = 0;
    for (const PendingField& pending : fields) {
        VariableRecord* field =
            MakeField(structure, list, stem + "." + UpperCase(pending.name.c_str()) + suffix, pending.type, offset);
        if (!field) continue;
        if (pending.nested) {
            field->flags |= kVarStructure;
            ExpandNested(field, pending.nested, stem + "." + UpperCase(pending.name.c_str()), suffix);
        }
        AddMemberDefinition(structure, field);
        offset += FieldSize(pending.type);
    }
    WriteBackListItem(structure);
    DropFrameArguments(arguments);
}

// --- arrays -----------------------------------------------------------------------

struct Extents {
    uint32_t values[kMaxDimensions] = {};
    uint8_t count = 0;
    uint64_t elements = 0;  // product as the extent rule forms it (0: no valid count)
};

// Reads the extents from cells[first..]; false (reported, nothing changed)
// for more than the variable can hold.
bool ReadExtents(const std::vector<StackEntry*>& cells, size_t first, VariableRecord* variable, Extents& extents) {
    const size_t count = cells.size() > first ? cells.size() - first : 0;
    if (count > static_cast<size_t>(kMaxDimensions)) {
        ReportWithName("Variable [%s] has more than 8 dimensions!", variable->name);
        return false;
    }
    extents.count = static_cast<uint8_t>(count);
    for (size_t i = 0; i < count; ++i)
        extents.values[i] = platform::TruncateTo32Bits<uint32_t>(StackEntryNumber(cells[first + i]));
    // From the last extent to the first; a running product of 0 starts afresh
    // at the next one. Counted in 64 bits: a product past 32 bits is no count.
    uint64_t product = 0;
    for (size_t i = count; i-- > 0;) {
        product = product == 0 ? extents.values[i] : product * extents.values[i];
        if (product > UINT32_MAX) {
            extents.elements = 0;
            extents.count = 0xFF;
            return true;
        }
    }
    extents.elements = product;
    return true;
}

bool IsCountValid(const Extents& extents) { return extents.count != 0xFF; }

void StoreExtents(VariableRecord* variable, const Extents& extents, uint32_t count) {
    for (int i = 0; i < kMaxDimensions; ++i)
        variable->dimensions[i] = static_cast<int32_t>(i < extents.count ? extents.values[i] : 0);
    variable->dimensionCount = extents.count;
    variable->elementCount = count;
}

// Lays the fields of an array of structures over its block: row-major, each
// field at its offset inside one element; column-major, each field's column
// after the previous one. Nested structure fields are laid out likewise.
void LayOutFields(VariableRecord* structure, char* block, bool columnMajor, uint32_t count, uint64_t& running,
                  uint32_t elementOffset, const VariableRecord* array) {
    for (MemberDefinition* d = structure->members; d; d = d->next) {
        VariableRecord* field = d->member;
        if (!field) continue;
        const uint32_t offset = elementOffset + d->offset;
        if (columnMajor) {
            field->offset = static_cast<uint32_t>(running);
            field->data = block + running;
        } else {
            field->offset = d->offset;
            field->data = block + offset;
        }
        field->elementCount = count;
        field->dimensionCount = array->dimensionCount;
        std::memcpy(field->dimensions, array->dimensions, sizeof field->dimensions);
        field->arrayOrder = array->arrayOrder;
        if (field->flags & kVarStructure)
            LayOutFields(field, block, columnMajor, count, running, offset, array);
        else if (columnMajor)
            running += static_cast<uint64_t>(FieldSize(d->type)) * count;
    }
}

void LayOutArrayOfStructures(VariableRecord* structure) {
    uint64_t running = 0;
    LayOutFields(structure, structure->data, structure->arrayOrder != 0, structure->elementCount, running, 0,
                 structure);
}

// The leaf fields' sizes of a structure, in column order.
void CollectColumnSizes(const VariableRecord* structure, std::vector<uint32_t>& sizes) {
    for (const MemberDefinition* d = structure->members; d; d = d->next) {
        if (d->member && (d->member->flags & kVarStructure))
            CollectColumnSizes(d->member, sizes);
        else
            sizes.push_back(FieldSize(d->type));
    }
}

// Releases the variable and gives it count elements of elementSize zeroed
// bytes (no elements at all count as one unless noneIsOne is false); false
// (the variable released) when the block cannot be made.
bool GiveArrayBlock(VariableRecord* variable, const Extents& extents, uint32_t elementSize, int32_t type,
                    bool keepDefinitions, bool noneIsOne = true) {
    ReleaseVariable(CurrentContext, variable, true, keepDefinitions);
    if (!IsCountValid(extents)) return false;
    const uint32_t count = extents.elements == 0 && noneIsOne ? 1 : static_cast<uint32_t>(extents.elements);
    char* block = NewDataBlock(static_cast<uint64_t>(count) * elementSize);
    if (!block) return false;
    variable->data = block;
    variable->type = type;
    variable->flags |= kVarOwnsData;
    StoreExtents(variable, extents, count);
    return true;
}

// dim and sdim: the variable, an optional type code, then the extents.
void DimensionArray(bool typed) {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    VariableRecord* variable = cells.empty() ? nullptr : TargetVariable(*cells[0]);
    if (variable) {
        const int32_t type = typed && cells.size() > 1 ? CellInteger(cells[1]) : kTypeDouble;
        Extents extents;
        if (ReadExtents(cells, typed ? 2 : 1, variable, extents)) {
            GiveArrayBlock(variable, extents, FieldSize(type), type, variable->parent != nullptr);
            WriteBackListItem(variable);
        }
    }
    DropFrameArguments(arguments);
}

// Moves the columns of a column-major array of structures from their places
// for oldCount elements to those for newCount (block holds both layouts) and
// zeroes what each column gains.
void MoveColumns(const VariableRecord* structure, char* block, uint32_t oldCount, uint32_t newCount) {
    std::vector<uint32_t> sizes;
    CollectColumnSizes(structure, sizes);
    std::vector<uint64_t> before(sizes.size());
    uint64_t prefix = 0;
    for (size_t k = 0; k < sizes.size(); ++k) {
        before[k] = prefix;
        prefix += sizes[k];
    }
    const uint64_t kept = oldCount < newCount ? oldCount : newCount;
    auto move = [&](size_t k) {
        std::memmove(block + before[k] * newCount, block + before[k] * oldCount, kept * sizes[k]);
    };
    if (newCount < oldCount) {
        for (size_t k = 0; k < sizes.size(); ++k) move(k);
    } else {
        for (size_t k = sizes.size(); k-- > 0;) move(k);
        for (size_t k = 0; k < sizes.size(); ++k)
            std::memset(block + before[k] * newCount + kept * sizes[k], 0, (newCount - kept) * sizes[k]);
    }
}

void ResizeArray(VariableRecord* variable, const Extents& extents, uint32_t newCount) {
    const bool structures = (variable->flags & kVarStructure) != 0;
    const uint32_t elementSize = structures ? static_cast<uint32_t>(variable->type) : FieldSize(variable->type);
    const uint32_t oldCount = variable->elementCount;
    const bool columns = structures && variable->arrayOrder;
    const uint64_t newBytes = static_cast<uint64_t>(newCount) * elementSize;
    const uint64_t oldBytes = static_cast<uint64_t>(oldCount) * elementSize;
    if (columns && newCount < oldCount) MoveColumns(variable, variable->data, oldCount, newCount);
    char* block = NewDataBlock(newBytes);
    if (!block) return;
    if (variable->data) std::memcpy(block, variable->data, newBytes < oldBytes ? newBytes : oldBytes);
    if (columns && newCount > oldCount) MoveColumns(variable, block, oldCount, newCount);
    if (variable->data && (variable->flags & kVarOwnsData)) FreeDataBlock(variable->data);
    variable->data = block;
    variable->flags |= kVarOwnsData;
    StoreExtents(variable, extents, newCount);
    if (structures) LayOutArrayOfStructures(variable);
}

}  // namespace

void Builtin_struct() { DefineStructure(false); }

void Builtin_restruct() { DefineStructure(true); }

void Builtin_type() {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    if (!cells.empty()) {
        const int32_t code = CellInteger(cells.back());
        for (size_t i = 0; i + 1 < cells.size(); ++i) {
            VariableRecord* variable = TargetVariable(*cells[i]);
            if (!variable) continue;
            ReleaseVariable(CurrentContext, variable, true, false);
            char* block = NewDataBlock(FieldSize(code));
            if (!block) continue;
            variable->data = block;
            variable->type = code;
            variable->flags |= kVarOwnsData;
            WriteBackListItem(variable);
        }
    }
    DropFrameArguments(arguments);
}

void Builtin_dim() { DimensionArray(false); }

void Builtin_sdim() { DimensionArray(true); }

void Builtin_tdim() {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    VariableRecord* structure = cells.empty() ? nullptr : TargetVariable(*cells[0]);
    Extents extents;
    if (structure && ReadExtents(cells, 1, structure, extents)) {
        if (!(structure->flags & kVarStructure) || (structure->flags & kVarStructShared) || structure->elementCount)
            ReportWithName("Variable [%s] type must be simple struct!", structure->name);
        const uint32_t elementSize = structure->type > 0 ? static_cast<uint32_t>(structure->type)
                                                         : static_cast<uint32_t>(platform::GetBlockSize(structure->data));
        const uint32_t keptFlags = structure->flags & kVarStructure;
        if (GiveArrayBlock(structure, extents, elementSize, static_cast<int32_t>(elementSize), true)) {
            structure->flags |= keptFlags | kVarStructShared;
            if (keptFlags) LayOutArrayOfStructures(structure);
        }
        WriteBackListItem(structure);
    }
    DropFrameArguments(arguments);
}

void Builtin_redim() {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    VariableRecord* variable = cells.empty() ? nullptr : TargetVariable(*cells[0]);
    Extents extents;
    if (variable && ReadExtents(cells, 1, variable, extents) && IsCountValid(extents) &&
        extents.elements != variable->elementCount) {
        const uint32_t count = static_cast<uint32_t>(extents.elements);
        if (variable->elementCount == 0) {
            // Not an array yet: doubles, unless a type was given.
            const int32_t type = variable->type != 0 ? variable->type : kTypeDouble;
            const uint32_t size = FieldSize(type);
            ReleaseVariable(CurrentContext, variable, true, false);
            if (char* block = NewDataBlock(static_cast<uint64_t>(count) * size)) {
                variable->data = block;
                variable->type = type;
                variable->flags |= kVarOwnsData;
                StoreExtents(variable, extents, count);
            }
        } else {
            ResizeArray(variable, extents, count);
        }
        WriteBackListItem(variable);
    }
    DropFrameArguments(arguments);
}

void Builtin_clear() {
    const FrameArguments arguments = CloseFrameArguments();
    for (StackEntry* cell : FrameCells(arguments))
        if (VariableRecord* variable = TargetVariable(*cell)) ReleaseVariable(CurrentContext, variable, false, false);
    DropFrameArguments(arguments);
}

void Builtin_columnmajor() {
    const FrameArguments arguments = CloseFrameArguments();
    for (StackEntry* cell : FrameCells(arguments))
        if (VariableRecord* variable = TargetVariable(*cell)) variable->arrayOrder = 1;
    DropFrameArguments(arguments);
}

void Builtin_rowmajor() {
    const FrameArguments arguments = CloseFrameArguments();
    for (StackEntry* cell : FrameCells(arguments))
        if (VariableRecord* variable = TargetVariable(*cell)) variable->arrayOrder = 0;
    DropFrameArguments(arguments);
}

bool AllocNumericArray(VariableRecord* variable, uint32_t count) {
    Extents extents;
    extents.count = 1;
    extents.values[0] = count;
    extents.elements = count;
    const bool made = GiveArrayBlock(variable, extents, 8, kTypeDouble, variable->parent != nullptr, false);
    WriteBackListItem(variable);
    return made;
}

}  // namespace qob
