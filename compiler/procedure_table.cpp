// compiler/procedure_table.cpp
// The unit's procedure table and its key lookup by base name.
#include "compiler/procedure_table.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

struct ProcedureTable {
    std::vector<ProcedureRecord*> records;
    std::vector<ProcedureFacts> facts;
    // HashName of the base name (the key cut at "(") -> indices, oldest
    // first. Every record a key can match shares the key's base name, so a
    // lookup only walks its bucket.
    std::unordered_map<uint32_t, std::vector<int>> byBaseName;
};

ProcedureTable& Table() {
    static ProcedureTable table;
    return table;
}

std::string_view BaseName(std::string_view name) {
    size_t open = name.find('(');
    return open == std::string_view::npos ? name : name.substr(0, open);
}

uint32_t BaseNameHash(std::string_view name) {
    std::string_view base = BaseName(name);
    return HashName(base.data(), base.size());
}

char* CopyName(std::string_view name) {
    auto* copy = static_cast<char*>(platform::AllocateZeroedBlock(name.size() + 1));
    if (copy != nullptr) std::memcpy(copy, name.data(), name.size());
    return copy;
}

// strncmp over views: equal when the first `length` characters agree, a
// shorter text counting as ended by a NUL.
bool EqualUpTo(std::string_view a, std::string_view b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char ca = i < a.size() ? a[i] : '\0';
        char cb = i < b.size() ? b[i] : '\0';
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
    return true;
}

// The text a record is compared as (see FindUnitProcedure).
std::string CandidateText(const ProcedureRecord& record, std::string_view name, bool byBaseName) {
    std::string_view own = record.name;
    if (byBaseName) return std::string(BaseName(own));
    if (record.undefinedStart == 0) return std::string(own);
    size_t ownOpen = own.find('(');
    size_t ownComma = own.find(',');
    size_t nameOpen = name.find('(');
    if (ownOpen == std::string_view::npos || ownComma == std::string_view::npos ||
        nameOpen == std::string_view::npos)
        return std::string(own);
    size_t nameComma = name.find(',', nameOpen);
    if (nameComma == std::string_view::npos) nameComma = name.size();
    std::string candidate(own.substr(0, ownOpen));
    candidate += name.substr(nameOpen, nameComma - nameOpen);
    candidate += own.substr(ownComma);
    return candidate;
}

bool ExpectsResult(std::string_view name) {
    size_t comma = name.find(',');
    return comma != std::string_view::npos && comma + 1 < name.size() && name[comma + 1] != '0';
}

}  // namespace

int AddUnitProcedure(std::string_view key, int outputs, bool nForm, bool isPrivate, uint32_t namespaceHash,
                     const ProcedureFacts& facts) {
    ProcedureTable& table = Table();
    if (table.records.size() >= static_cast<size_t>(kMaxProcedures)) return -1;
    auto* record = static_cast<ProcedureRecord*>(platform::AllocateZeroedBlock(sizeof(ProcedureRecord)));
    char* name = CopyName(key);
    if (record == nullptr || name == nullptr) {
        platform::FreeBlock(name);
        platform::FreeBlock(record);
        return -1;
    }
    record->name = name;
    record->countByte = static_cast<uint8_t>(outputs);
    record->undefinedStart = nForm ? 1 : 0;
    record->underscore = isPrivate ? 1 : 0;
    record->namespaceHash = namespaceHash;
    int index = static_cast<int>(table.records.size());
    table.records.push_back(record);
    table.facts.push_back(facts);
    table.byBaseName[BaseNameHash(key)].push_back(index);
    return index;
}

int FindUnitProcedure(std::string_view name, uint32_t currentNamespace, bool keepCount, bool byBaseName, bool exact) {
    ProcedureTable& table = Table();
    auto bucket = table.byBaseName.find(BaseNameHash(name));
    if (bucket == table.byBaseName.end()) return -1;
    const bool expectsResult = ExpectsResult(name);
    const std::vector<int>& indices = bucket->second;
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
        const ProcedureRecord& record = *table.records[*it];
        std::string candidate = CandidateText(record, name, byBaseName);
        size_t length = candidate.size();
        if (!keepCount && !byBaseName && expectsResult && record.countByte != 0) {
            size_t comma = candidate.find(',');
            length = comma == std::string::npos ? std::string::npos : (comma == 0 ? 0 : comma - 1);
        }
        bool equal = exact ? candidate == name
                           : (length == std::string::npos ? candidate == name : EqualUpTo(candidate, name, length));
        if (!equal) continue;
        if (record.namespaceHash != 0 && record.namespaceHash != currentNamespace) continue;
        if (byBaseName && length < name.size()) continue;
        return *it;
    }
    return -1;
}

int UnitProcedureCount() { return static_cast<int>(Table().records.size()); }

ProcedureRecord* UnitProcedureAt(int index) {
    ProcedureTable& table = Table();
    if (index < 0 || static_cast<size_t>(index) >= table.records.size()) return nullptr;
    return table.records[index];
}

ProcedureFacts* UnitProcedureFactsAt(int index) {
    ProcedureTable& table = Table();
    if (index < 0 || static_cast<size_t>(index) >= table.facts.size()) return nullptr;
    return &table.facts[index];
}

ProcedureRecord** UnitProcedureRecords() { return Table().records.data(); }

void FreeUnitProcedures() {
    ProcedureTable& table = Table();
    for (ProcedureRecord* record : table.records) {
        platform::FreeBlock(record->name);
        platform::FreeBlock(record);
    }
    table.records.clear();
    table.facts.clear();
    table.byBaseName.clear();
}

KeyCounts ParseKeyCounts(std::string_view key) {
    KeyCounts counts;
    size_t open = key.find('(');
    if (open == std::string_view::npos) return counts;
    size_t i = open + 1;
    auto readNumber = [&](int& out) {
        out = 0;
        while (i < key.size() && key[i] >= '0' && key[i] <= '9') out = out * 10 + (key[i++] - '0');
    };
    readNumber(counts.inputs);
    if (i < key.size() && key[i] == ',') {
        ++i;
        readNumber(counts.outputs);
    }
    return counts;
}

}  // namespace qob
