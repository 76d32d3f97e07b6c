// compiler/back_end/procedure_index.cpp
// Procedure lookups by name part, with FindProc's matching inside a bucket.
#include "compiler/back_end/procedure_index.h"

#include "runtime/vm/program_context.h"

namespace qob {

std::string_view ProcedureNamePart(std::string_view key) {
    return key.substr(0, key.find('('));
}

// FNV-1a: names are short, and the table keeps the whole hash to compare first.
uint64_t ProcedureIndex::HashOf(std::string_view name) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return hash;
}

size_t ProcedureIndex::SlotOf(std::string_view name, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = static_cast<size_t>(hash) & mask;; at = (at + 1) & mask) {
        const uint32_t slot = slots_[at];
        if (slot == 0) return at;
        const Bucket& bucket = buckets_[slot - 1];
        if (bucket.hash == hash && bucket.name == name) return at;
    }
}

// At most half the slots are taken, so a probe soon meets a free one.
void ProcedureIndex::Grow() {
    slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, 0);
    for (size_t i = 0; i < buckets_.size(); ++i)
        slots_[SlotOf(buckets_[i].name, buckets_[i].hash)] = static_cast<uint32_t>(i + 1);
}

void ProcedureIndex::Add(ProcedureRecord* record, int tableIndex) {
    if ((buckets_.size() + 1) * 2 > slots_.size()) Grow();
    const std::string_view name = ProcedureNamePart(record->name ? record->name : "");
    const uint64_t hash = HashOf(name);
    const size_t at = SlotOf(name, hash);
    if (slots_[at] == 0) {
        buckets_.push_back({name, hash, record, tableIndex, {}, {}});
        slots_[at] = static_cast<uint32_t>(buckets_.size());
        return;
    }
    Bucket& bucket = buckets_[slots_[at] - 1];
    if (bucket.records.empty()) {
        bucket.records.push_back(bucket.first);
        bucket.tableIndices.push_back(bucket.firstIndex);
    }
    bucket.records.push_back(record);
    bucket.tableIndices.push_back(tableIndex);
}

void ProcedureIndex::Clear() {
    slots_.clear();
    buckets_.clear();
}

ProcLookup ProcedureIndex::Find(const char* key, bool keepCount, bool exact) const {
    if (buckets_.empty()) return FindProc(key, nullptr, 0, keepCount, false, exact);
    const std::string_view name = ProcedureNamePart(key);
    const uint32_t slot = slots_[SlotOf(name, HashOf(name))];
    if (slot == 0) return FindProc(key, nullptr, 0, keepCount, false, exact);
    const Bucket& bucket = buckets_[slot - 1];
    if (bucket.records.empty()) {
        ProcLookup lookup = FindProc(key, &bucket.first, 1, keepCount, false, exact);
        if (lookup.index >= 0) lookup.index = bucket.firstIndex;
        return lookup;
    }
    ProcLookup lookup = FindProc(key, bucket.records.data(), static_cast<int>(bucket.records.size()), keepCount,
                                 false, exact);
    if (lookup.index >= 0) lookup.index = bucket.tableIndices[static_cast<size_t>(lookup.index)];
    return lookup;
}

}  // namespace qob
