// compiler/back_end/procedure_index.h
// An index from procedure names to the records of a procedure table, so that
// the linker and the code generator look up a key without walking the table.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/vm/procedure_lookup.h"

namespace qob {

struct ProcedureRecord;

// FindProc compares keys as texts, record by record. A key "NAME(i,o)" can
// only ever match a record whose name part (the text before "(") is the same,
// so the index keeps one bucket of records per name part and runs FindProc
// over that bucket alone: the same answer, latest record first, at the cost
// of the few records that share a name. (A record without "(" such as MAIN
// matches only the very same name, not every key it is a prefix of.)
//
// A unit indexes each of its procedures, nearly all of them under a name of
// their own: the buckets lie in one array, found through an open-addressed
// table of their numbers, and a bucket of one record keeps it in place.
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
        std::string_view name;                  // the name part, in the first record's name
        uint64_t hash;
        ProcedureRecord* first;                 // the bucket's record while it has one
        int firstIndex;
        std::vector<ProcedureRecord*> records;  // table order, once it has more than one
        std::vector<int> tableIndices;
    };
    static uint64_t HashOf(std::string_view name);
    // The slot that holds name's bucket, or the free slot where it would go.
    [[nodiscard]] size_t SlotOf(std::string_view name, uint64_t hash) const;
    void Grow();

    std::vector<uint32_t> slots_;  // bucket number + 1, 0 when free; a power of two long
    std::vector<Bucket> buckets_;
};

// The part of a procedure key before its "(" (the whole key when it has none).
[[nodiscard]] std::string_view ProcedureNamePart(std::string_view key);

}  // namespace qob
