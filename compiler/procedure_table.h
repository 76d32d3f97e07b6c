// compiler/procedure_table.h
// The procedure table of the unit being compiled: one ProcedureRecord per
// procedure key in source order, filled by the parser and read by the later
// stages, with the key lookup the compiler uses, indexed by base name.
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

struct ProcedureRecord;

// What the parser knows of a procedure beyond its ProcedureRecord.
struct ProcedureFacts {
    int inputs = 0;          // parameters written (ignored for the N forms)
    bool forward = false;    // only FORWARD-declared so far
    bool forceLink = false;  // FORCELINK: the linker keeps it unreferenced
};

// Appends a record for key ("%s(%d,%d)", or MAIN / WINMAIN bare) and returns
// its index. nForm (NPROC, NFUNC) sets the undefined-start flag, under which
// the record matches any argument count; isPrivate sets the underscore flag,
// the header's "_". -1 when the table is full (kMaxProcedures).
[[nodiscard]] int AddUnitProcedure(std::string_view key, int outputs, bool nForm, bool isPrivate,
                                   uint32_t namespaceHash, const ProcedureFacts& facts);

// The key lookup of the compiler. name is a key "%s(%d,%d)" or, with
// byBaseName, a bare name. The latest record wins. A record matches when:
//   - byBaseName: its name cut at "(" equals name;
//   - exact: its name (for an N form, with the searched argument count put in)
//     equals name;
//   - otherwise its name, so built, is a prefix of name; and when name expects
//     a result (the digit after its "," is not 0), keepCount is false and the
//     record returns values, only the part before the digit that precedes the
//     record's "," is compared, so such a call finds the function whatever
//     its single-digit argument count, and the caller reports the mismatch;
// and its namespace hash is 0 or currentNamespace. -1 when none matches.
[[nodiscard]] int FindUnitProcedure(std::string_view name, uint32_t currentNamespace, bool keepCount,
                                    bool byBaseName, bool exact);

[[nodiscard]] int UnitProcedureCount();
// The record and the facts at index (null outside the table).
[[nodiscard]] ProcedureRecord* UnitProcedureAt(int index);
[[nodiscard]] ProcedureFacts* UnitProcedureFactsAt(int index);
// The table as the array of record pointers the later stages walk.
[[nodiscard]] ProcedureRecord** UnitProcedureRecords();

// Frees every record and its name; the table is empty afterwards. The
// compile driver calls it once the unit's procedures have been copied.
void FreeUnitProcedures();

// The number of inputs and outputs written in a key "%s(%d,%d)" (0 and 0 for
// a bare name).
struct KeyCounts {
    int inputs = 0;
    int outputs = 0;
};
[[nodiscard]] KeyCounts ParseKeyCounts(std::string_view key);

}  // namespace qob
