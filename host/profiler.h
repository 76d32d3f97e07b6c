// host/profiler.h
// The profiler: each __profile step charges the time since the context's
// previous step to a (file, line) record; shut-down writes the reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qob {

struct ProgramContext;

// Set by the start-up switch "P": profile.txt is written at shut-down.
extern bool Profiling;

// Times are raw performance-counter counts: nanoseconds on this host, where
// the device counted in its own units. Nothing converts them to seconds.
struct ProfileRecord {
    std::string name;                     // the source file given to __profile
    std::optional<std::string> procedure; // the procedure running when the record was made
    uint32_t nameHash;                    // HashName of name: with line, the record's key
    uint32_t count;                       // stamps charged
    int32_t line;
    uint64_t total;                       // counts charged
    ProfileRecord* next;                  // older record
    ProfileRecord* previous;              // newer record
};

// The context's last stamp lives in this slot of its timing counters, which
// the driver clears when the program starts. A context whose last stamp is 0
// has not been stamped since: its first interval starts when the program
// starts, so that stamp charges nothing.
constexpr int kProfileStampSlot = 0;

// Finds the record of the name's hash and the line (the name text itself is
// not compared), making it when there is none, and charges it with the time
// from the current context's last stamp to now.
ProfileRecord* AddProfileTime(const char* name, int32_t line, int64_t now);

// The stamp of __profile, for native code produced by the inline assembler.
void ProfileStamp(int32_t line, const char* name);

// The newest record, or null (follow next for older ones).
[[nodiscard]] ProfileRecord* NewestProfileRecord();

// __profile (file name, line): pushes nothing.
void Builtin___profile();

// Shut-down: releases the process-wide tables, writes "profile.txt" (with
// profiling on) and "memory.txt" (with memory tracking on) into the
// application directory, empties the record list and the memory-block
// registry, and frees the interned file names. Runs once, from shut-down.
void WriteProfileReports();

}  // namespace qob
