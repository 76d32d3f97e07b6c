// compiler/procedure_index.cpp
// Procedure lookups by name part, with FindProc's matching inside a bucket.
#include "compiler/procedure_index.h"

#include "runtime/program_context.h"

namespace qob {

std::string_view ProcedureNamePart(std::string_view key) {
    return key.substr(0, key.find('('));
}

void ProcedureIndex::Add(ProcedureRecord* record, int tableIndex) {
    Bucket& bucket = buckets_[std::string(ProcedureNamePart(record->name ? record->name : ""))];
    bucket.records.push_back(record);
    bucket.tableIndices.push_back(tableIndex);
}

void ProcedureIndex::Clear() { buckets_.clear(); }

ProcLookup ProcedureIndex::Find(const char* key, bool keepCount, bool exact) const {
    const auto found = buckets_.find(ProcedureNamePart(key));
    if (found == buckets_.end()) return FindProc(key, nullptr, 0, keepCount, false, exact);
    const Bucket& bucket = found->second;
    ProcLookup lookup = FindProc(key, bucket.records.data(), static_cast<int>(bucket.records.size()), keepCount,
                                 false, exact);
    if (lookup.index >= 0) lookup.index = bucket.tableIndices[static_cast<size_t>(lookup.index)];
    return lookup;
}

}  // namespace qob
