// compiler/class_list.cpp
// The unit's class list, indexed by name hash, and the class-code lookup.
#include "compiler/class_list.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "compiler/procedure_table.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

struct ClassList {
    ClassRecord* head = nullptr;
    int count = 0;
    std::unordered_map<uint32_t, ClassRecord*> newestByHash;
};

ClassList& List() {
    static ClassList list;
    return list;
}

char* CopyText(std::string_view text) {
    auto* copy = static_cast<char*>(platform::AllocateZeroedBlock(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.data(), text.size());
    return copy;
}

}  // namespace

ClassRecord* AddUnitClass(std::string_view name, std::string_view baseName) {
    auto* record = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
    char* nameCopy = CopyText(name);
    char* baseCopy = CopyText(baseName);
    if (record == nullptr || nameCopy == nullptr || baseCopy == nullptr) {
        platform::FreeBlock(record);
        platform::FreeBlock(nameCopy);
        platform::FreeBlock(baseCopy);
        return nullptr;
    }
    ClassList& list = List();
    record->name = nameCopy;
    record->nameHash = HashName(name.data(), name.size());
    record->baseName = baseCopy;
    record->baseHash = baseName.empty() ? 0 : HashName(baseName.data(), baseName.size());
    record->next = list.head;
    list.head = record;
    ++list.count;
    list.newestByHash[record->nameHash] = record;
    return record;
}

ClassRecord* FindUnitClass(uint32_t nameHash) {
    ClassList& list = List();
    auto found = list.newestByHash.find(nameHash);
    return found == list.newestByHash.end() ? nullptr : found->second;
}

ClassRecord* UnitClassList() { return List().head; }

void FreeUnitClasses() {
    ClassList& list = List();
    for (ClassRecord* record = list.head; record != nullptr;) {
        ClassRecord* next = record->next;
        platform::FreeBlock(record->name);
        platform::FreeBlock(record->baseName);
        platform::FreeBlock(record);
        record = next;
    }
    list.head = nullptr;
    list.count = 0;
    list.newestByHash.clear();
}

int FindClassCodeInBases(ClassRecord* classRecord, ClassRecord** foundClass, std::string_view methodName,
                         uint32_t currentNamespace, bool byBaseName, bool publicOnly, bool* privateSkipped) {
    if (privateSkipped != nullptr) *privateSkipped = false;
    int steps = List().count;
    for (ClassRecord* record = classRecord; record != nullptr && steps-- > 0;) {
        if (foundClass != nullptr) *foundClass = record;
        std::string name = "__CLASSCODE_";
        name += record->name;
        name += '.';
        name += methodName;
        int index = FindUnitProcedure(name, currentNamespace, false, byBaseName, false);
        // The record's underscore flag marks a private procedure.
        if (index >= 0) {
            if (!publicOnly || UnitProcedureAt(index)->underscore == 0) return index;
            if (privateSkipped != nullptr) *privateSkipped = true;
        }
        if (record->baseHash == 0) break;
        record = FindUnitClass(record->baseHash);
        publicOnly = true;
    }
    return -1;
}

}  // namespace qob
