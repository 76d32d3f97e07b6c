// compiler/class_list.h
// The classes the unit declares with #CLASS (newest first, as the runtime
// keeps them) and the lookup of class code through a class's bases.
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

struct ClassRecord;

// Puts a new class at the head of the list and returns it (null when memory
// runs out). An empty baseName means no base class.
ClassRecord* AddUnitClass(std::string_view name, std::string_view baseName);

// The newest class with this name hash, or null.
[[nodiscard]] ClassRecord* FindUnitClass(uint32_t nameHash);

// The head of the list (the newest class).
[[nodiscard]] ClassRecord* UnitClassList();

// Frees every class record; the list is empty afterwards.
void FreeUnitClasses();

// Looks "__CLASSCODE_<class>.<methodName>" up in the unit's procedure table
// (keepCount and exact off, byBaseName passed on) for the class, then for
// its base, the base's base and so on; from the first base on only public
// procedures count. methodName is a key "%s(%d,%d)", or a bare name with
// byBaseName. Returns the procedure's index and stores in foundClass the
// class whose code it is; -1 when none. privateSkipped (may be null) tells
// whether a private procedure of that name was passed over. The walk stops
// after as many steps as there are classes, so a chain of bases that leads
// back to itself ends.
[[nodiscard]] int FindClassCodeInBases(ClassRecord* classRecord, ClassRecord** foundClass,
                                       std::string_view methodName, uint32_t currentNamespace,
                                       bool byBaseName, bool publicOnly, bool* privateSkipped = nullptr);

}  // namespace qob
