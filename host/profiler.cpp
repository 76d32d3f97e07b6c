// host/profiler.cpp
// The profile records, the __profile step and the shut-down reports
// "profile.txt" and "memory.txt".

#include "host/profiler.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/data/interned_names.h"
#include "runtime/data/number_text.h"
#include "runtime/data/text_routines.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/event_table.h"

namespace qob {

bool Profiling = false;

namespace {

// Newest first; the reports walk it from the oldest record.
ProfileRecord* gNewest = nullptr;
ProfileRecord* gOldest = nullptr;

ProfileRecord* FindProfileRecord(uint32_t hash, int32_t line) {
    for (ProfileRecord* record = gNewest; record; record = record->next)
        if (record->nameHash == hash && record->line == line) return record;
    return nullptr;
}

ProfileRecord* MakeProfileRecord(const char* name, uint32_t hash, int32_t line) {
    auto* record = new ProfileRecord{};
    record->name = name;
    if (CurrentProcName) record->procedure = CurrentProcName;
    record->nameHash = hash;
    record->line = line;
    record->next = gNewest;
    if (gNewest) gNewest->previous = record;
    else gOldest = record;
    gNewest = record;
    return record;
}

// The number as NumberToString writes it, with thousands separators.
std::string FormatThousands(double value) {
    char digits[kNumberTextSize];
    FormatNumber(value, digits);
    char* grouped = InsertThousandsSeparators(digits);
    std::string text = grouped ? grouped : digits;
    platform::FreeBlock(grouped);
    return text;
}

// The first line of both reports: the local date and time, in the fixed
// forms the run-time log uses.
void WriteReportHeader(std::FILE* file) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[32];
    char time[32];
    std::strftime(date, sizeof date, "%m/%d/%Y", &local);
    std::strftime(time, sizeof time, "%I:%M:%S %p", &local);
    std::fprintf(file, "%s %s\n", date, time);
}

std::FILE* OpenReport(const char* fileName) {
    const std::string path = platform::GetApplicationDirectory() + fileName;
    return platform::OpenFile(path, "w");
}

// One row per record, oldest first, each record freed after its row; then
// the totals line. The list is empty afterwards, whether or not a file was
// written.
void WriteProfileReport(bool write) {
    std::FILE* file = write ? OpenReport("profile.txt") : nullptr;
    uint64_t grandTotal = 0;
    for (const ProfileRecord* record = gNewest; record; record = record->next) grandTotal += record->total;
    if (file) WriteReportHeader(file);

    uint32_t rows = 0;
    uint64_t counts = 0;
    uint64_t averages = 0;
    double shares = 0.0;
    ProfileRecord* record = gOldest;
    while (record) {
        ProfileRecord* newer = record->previous;
        const uint64_t average = record->count ? record->total / record->count : 0;
        // An empty profile (every interval 0) has no shares rather than NaN ones.
        const double share =
            grandTotal ? static_cast<double>(record->total) / static_cast<double>(grandTotal) * 100.0 : 0.0;
        if (file)
            std::fprintf(file, "%s\t%s\t%d\t%s\t%s\t%s\t%3.2f%%\n", record->name.c_str(),
                         record->procedure ? record->procedure->c_str() : "", record->line,
                         FormatThousands(record->count).c_str(),
                         FormatThousands(static_cast<double>(record->total)).c_str(),
                         FormatThousands(static_cast<double>(average)).c_str(), share);
        ++rows;
        counts += record->count;
        averages += average;
        shares += share;
        delete record;
        record = newer;
    }
    gNewest = gOldest = nullptr;
    if (!file) return;
    std::fprintf(file, "totals\t\t%s\t%s\t%s\t%s\t%3.2f%%\n", FormatThousands(rows).c_str(),
                 FormatThousands(static_cast<double>(counts)).c_str(),
                 FormatThousands(static_cast<double>(grandTotal)).c_str(),
                 FormatThousands(static_cast<double>(averages)).c_str(), shares);
    std::fclose(file);
}

// The blocks still registered, oldest first, then the sum of their sizes.
// Addresses are printed whole. The registry is empty afterwards, whether or
// not a file was written.
void WriteMemoryReport(bool write) {
    std::FILE* file = write ? OpenReport("memory.txt") : nullptr;
    if (file) {
        WriteReportHeader(file);
        const MemoryBlockRecord* oldest = GetNewestMemoryBlock();
        while (oldest && oldest->older) oldest = oldest->older;
        uint64_t sizes = 0;
        for (const MemoryBlockRecord* entry = oldest; entry; entry = entry->newer) {
            std::fprintf(file, "%s\t%s\t%" PRIu32 "\t0x%" PRIxPTR "\t%s\n", entry->sourceName.c_str(),
                         entry->routineName ? entry->routineName->c_str() : "", entry->line,
                         reinterpret_cast<uintptr_t>(entry->block), FormatThousands(entry->size).c_str());
            sizes += entry->size;
        }
        std::fprintf(file, "totals\t\t\t\t%s\n", FormatThousands(static_cast<double>(sizes)).c_str());
        std::fclose(file);
    }
    // Unregistering a block removes its newest record, which is the newest of all.
    while (MemoryBlockRecord* newest = GetNewestMemoryBlock()) UnregisterMemoryBlock(newest->block);
}

// The process-wide tables that live until shut-down.
void ReleaseProcessTables() {
    RemoveDefinesByOwner(kDefineOwnerGlobal);
    FreeFunctionTable();
    RemoveOwnerEvents(nullptr);
    CloseCompileLog();
}

}  // namespace

ProfileRecord* AddProfileTime(const char* name, int32_t line, int64_t now) {
    if (!name) name = "";
    const uint32_t hash = HashName(name, std::strlen(name));
    ProfileRecord* record = FindProfileRecord(hash, line);
    if (!record) record = MakeProfileRecord(name, hash, line);
    record->count += 1;
    const uint64_t last = CurrentContext ? CurrentContext->timingCounters[kProfileStampSlot] : 0;
    if (last != 0) record->total += static_cast<uint64_t>(now) - last;
    return record;
}

void ProfileStamp(int32_t line, const char* name) {
    const int64_t now = platform::QueryPerformanceCounter();
    AddProfileTime(name, line, now);
    if (CurrentContext) CurrentContext->timingCounters[kProfileStampSlot] = static_cast<uint64_t>(now);
}

ProfileRecord* NewestProfileRecord() { return gNewest; }

void Builtin___profile() {
    // Taken before the arguments are popped: the step's own work belongs to
    // the next interval.
    const int64_t now = platform::QueryPerformanceCounter();
    const auto line = static_cast<int32_t>(TruncToInt64(StackEntryNumber(PopStackEntry())));
    const StackEntry* nameCell = PopStackEntry();
    // A number given as the name is used as its text; the record keeps a copy.
    char number[kNumberTextSize];
    const char* name = nameCell->text;
    if (!name) {
        FormatNumber(nameCell->value, number);
        name = number;
    }
    AddProfileTime(name, line, now);
    if (CurrentContext) CurrentContext->timingCounters[kProfileStampSlot] = static_cast<uint64_t>(now);
}

void WriteProfileReports() {
    ReleaseProcessTables();
    WriteProfileReport(Profiling);
    WriteMemoryReport(MemoryTracking);
    // The current procedure name points into a procedure header, which is
    // no block of ours: it is left alone.
    FreeInternedNames();
}

}  // namespace qob
