// compiler/front_end/define_table.cpp
// Define slots with a hash index, owners, and the type-library import.
#include "compiler/front_end/define_table.h"

#include <memory>
#include <unordered_map>

#include "compiler/compile_messages.h"
#include "runtime/data/hash.h"

namespace qob {
namespace {

struct DefineTable {
    std::vector<std::unique_ptr<DefineEntry>> slots;  // size() is the used count
    // SetDefine never stores one hash twice, so hash -> index is exact.
    std::unordered_map<uint32_t, int> indexByHash;
    size_t emptySlots = 0;  // empty slots below the used count
    bool globalMark = false;
};

DefineTable gDefines;
TypeLibraryReader gTypeLibraryReader = nullptr;

uint32_t HashUpperName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return HashName(upper.data(), upper.size());
}

}  // namespace

void SetDefineGlobalMark(bool global) { gDefines.globalMark = global; }
bool IsDefineGlobalMark() { return gDefines.globalMark; }

int SetDefine(std::string_view name, std::string value) {
    const uint32_t hash = HashUpperName(name);
    const uint8_t owner = gDefines.globalMark ? kDefineOwnerGlobal : kDefineOwnerProgram;
    if (int index = FindDefineByHash(hash); index >= 0) {
        DefineEntry& entry = *gDefines.slots[static_cast<size_t>(index)];
        if (entry.value == value) return index;
        entry.value = std::move(value);
        entry.owner = owner;
        return index;
    }
    int index = FindFreeDefineSlot();
    if (index < 0) {
        if (gDefines.slots.size() >= static_cast<size_t>(kMaxDefines)) return -1;
        index = static_cast<int>(gDefines.slots.size());
        gDefines.slots.emplace_back();
    } else {
        --gDefines.emptySlots;
    }
    gDefines.slots[static_cast<size_t>(index)] =
        std::make_unique<DefineEntry>(DefineEntry{hash, std::move(value), owner});
    gDefines.indexByHash[hash] = index;
    return index;
}

int FindDefineByHash(uint32_t hash) {
    auto found = gDefines.indexByHash.find(hash);
    return found == gDefines.indexByHash.end() ? -1 : found->second;
}

int FindFreeDefineSlot() {
    if (gDefines.emptySlots == 0) return -1;
    for (size_t i = 0; i < gDefines.slots.size(); ++i)
        if (gDefines.slots[i] == nullptr) return static_cast<int>(i);
    return -1;
}

DefineEntry* GetDefine(int index) {
    if (index < 0 || static_cast<size_t>(index) >= gDefines.slots.size()) return nullptr;
    return gDefines.slots[static_cast<size_t>(index)].get();
}

void RemoveDefine(int index) {
    DefineEntry* entry = GetDefine(index);
    if (entry == nullptr) return;
    gDefines.indexByHash.erase(entry->hash);
    gDefines.slots[static_cast<size_t>(index)].reset();
    ++gDefines.emptySlots;
    while (!gDefines.slots.empty() && gDefines.slots.back() == nullptr) {
        gDefines.slots.pop_back();
        --gDefines.emptySlots;
    }
}

void RemoveDefinesByOwner(uint8_t owner) {
    for (size_t i = 0; i < gDefines.slots.size(); ++i)
        if (gDefines.slots[i] != nullptr && gDefines.slots[i]->owner == owner)
            RemoveDefine(static_cast<int>(i));
}

void SetTypeLibraryReader(TypeLibraryReader reader) { gTypeLibraryReader = reader; }

void ImportTypeLibrary(const char* fileName, std::string_view libraryPath) {
    std::optional<TypeLibraryContents> library;
    if (gTypeLibraryReader != nullptr) library = gTypeLibraryReader(libraryPath);
    if (!library) {
        std::string message = "Error importing \"" + std::string(libraryPath) + "\"";
        ReportCompileMessage(fileName, message, nullptr, 0, false);
        return;
    }
    // The outer braces make a use of the name read as a brace string whose
    // content is the braced GUID.
    std::vector<std::pair<std::string, std::string>> defines;
    defines.emplace_back(library->name, "{" + library->guid + "}");
    for (auto& constant : library->constants) defines.push_back(std::move(constant));
    for (auto& [name, guid] : library->interfaces)
        defines.emplace_back("IID_" + name, "{" + guid + "}");
    for (auto& [name, value] : defines) {
        if (SetDefine(name, std::move(value)) < 0) {
            ReportCompileMessage(fileName, kDefineTableFullMessage, nullptr, 0, false);
            return;
        }
    }
}

}  // namespace qob
