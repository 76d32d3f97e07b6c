// compiler/procedure_index.h
// An index from procedure names to the records of a procedure table, so that
// the linker and the code generator look up a key without walking the table.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/procedure_lookup.h"

namespace qob {

struct ProcedureRecord;

// FindProc compares keys as texts, record by record. A key "NAME(i,o)" can
// only ever match a record whose name part (the text before "(") is the same,
// so the index keeps one bucket of records per name part and runs FindProc
// over that bucket alone: the same answer, latest record first, at the cost
// of the few records that share a name. (A record without "(" such as MAIN
// matches only the very same name, not every key it is a prefix of.)
class ProcedureIndex {
public:
    // Adds a table record; its name must stay valid and unchanged while indexed.
    void Add(ProcedureRecord* record, int tableIndex);
    void Clear();

    // FindProc(key, ...) over the bucket of key's name part. The index in the
    // result is the record's table index; a procedure of a parent context
    // comes back as its start node, as FindProc gives it.
    [[nodiscard]] ProcLookup Find(const char* key, bool keepCount, bool exact) const;

private:
    struct Bucket {
        std::vector<ProcedureRecord*> records;  // table order
        std::vector<int> tableIndices;
    };
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    std::unordered_map<std::string, Bucket, NameHash, std::equal_to<>> buckets_;
};

// The part of a procedure key before its "(" (the whole key when it has none).
[[nodiscard]] std::string_view ProcedureNamePart(std::string_view key);

}  // namespace qob
