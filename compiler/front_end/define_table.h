// compiler/front_end/define_table.h
// The process-wide define table of the preprocessor (name hash -> value
// text, with an owner) and the import of type-library symbols into it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qob {

// Owners: a program's own defines are removed after each compilation, those
// made under #GLOBALS at shut-down, and start-up's platform symbols never.
constexpr uint8_t kDefineOwnerProgram = 0;
constexpr uint8_t kDefineOwnerGlobal = 1;
constexpr uint8_t kDefineOwnerPredefined = 2;

constexpr int kMaxDefines = 16384;
constexpr const char* kDefineTableFullMessage = "Too many defines";

struct DefineEntry {
    uint32_t hash;      // HashName of the upper-cased name (the name itself is not kept)
    std::string value;
    uint8_t owner;
};

// The global mark of #GLOBALS / #LOCALS: while it is set, new and changed
// defines are owned by kDefineOwnerGlobal.
void SetDefineGlobalMark(bool global);
[[nodiscard]] bool IsDefineGlobalMark();

// Sets name (upper-cased, as a copy) to value and returns the entry's index:
// an equal value keeps the entry as it is, another value replaces it in
// place, a new name takes the lowest empty slot. -1 when the table is full.
int SetDefine(std::string_view name, std::string value);

// Index of the entry with that hash, or -1.
[[nodiscard]] int FindDefineByHash(uint32_t hash);
// Index of the first empty slot below the used count, or -1.
[[nodiscard]] int FindFreeDefineSlot();
// The entry at index, or null for an empty or out-of-range slot.
[[nodiscard]] DefineEntry* GetDefine(int index);

void RemoveDefine(int index);
void RemoveDefinesByOwner(uint8_t owner);

// What a type library offers to #IMPORT: its name and GUID text (with its
// braces), its enumeration constants (name, value as text) and its
// interfaces (name, GUID text).
struct TypeLibraryContents {
    std::string name;
    std::string guid;
    std::vector<std::pair<std::string, std::string>> constants;
    std::vector<std::pair<std::string, std::string>> interfaces;
};

// Reads a type library; installed by the COM layer. Without one (nullptr),
// or when it gives nullopt, the import fails.
using TypeLibraryReader = std::optional<TypeLibraryContents> (*)(std::string_view path);
void SetTypeLibraryReader(TypeLibraryReader reader);

// Defines the library's name as "{guid}", every enumeration constant with its
// value and "IID_name" of every interface as "{guid}". A library that cannot
// be read gives the error "Error importing \"path\"" and defines nothing; a
// full table stops the import with kDefineTableFullMessage.
void ImportTypeLibrary(const char* fileName, std::string_view libraryPath);

}  // namespace qob
