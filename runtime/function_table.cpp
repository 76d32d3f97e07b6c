// runtime/function_table.cpp
// The function table: ordered slots for listings and native-call indexes, and
// a hash index beside them so that the compiler's lookups cost O(1).
#include "runtime/function_table.h"

#include <array>
#include <cstdint>
#include <memory>

#include "compiler/compile_messages.h"
#include "runtime/hash.h"
#include "runtime/native_libraries.h"

namespace qob {
namespace {

// The hash index: open addressing with linear probing in a fixed power-of-two
// table at most half full, so a look-up is a multiply, a shift and a probe or
// two, and no division. It never grows: script threads that only read it
// never see its entries move.
class HashIndex {
public:
    HashIndex() { Clear(); }

    [[nodiscard]] int Find(uint32_t hash) const {
        for (uint32_t at = HomeOf(hash);; at = (at + 1) & kMask) {
            const Entry& entry = entries_[at];
            if (entry.slot < 0) return -1;
            if (entry.hash == hash) return entry.slot;
        }
    }

    void Set(uint32_t hash, int slot) {
        uint32_t at = HomeOf(hash);
        while (entries_[at].slot >= 0 && entries_[at].hash != hash) at = (at + 1) & kMask;
        entries_[at] = {hash, slot};
    }

    // Removes the entry when it maps hash to slot. The entries after it in the
    // same run move back into the gap where their probe passes it, so a run
    // never has a hole that would end a later look-up early.
    void Erase(uint32_t hash, int slot) {
        uint32_t at = HomeOf(hash);
        while (true) {
            if (entries_[at].slot < 0) return;
            if (entries_[at].hash == hash) break;
            at = (at + 1) & kMask;
        }
        if (entries_[at].slot != slot) return;
        uint32_t gap = at;
        for (uint32_t next = (gap + 1) & kMask; entries_[next].slot >= 0; next = (next + 1) & kMask) {
            const uint32_t home = HomeOf(entries_[next].hash);
            // The entry may fill the gap when its home is not in (gap, next].
            const bool homeAfterGap = ((next - home) & kMask) < ((next - gap) & kMask);
            if (homeAfterGap) continue;
            entries_[gap] = entries_[next];
            gap = next;
        }
        entries_[gap] = {0, -1};
    }

    void Clear() { entries_.fill({0, -1}); }

private:
    struct Entry {
        uint32_t hash;
        int32_t slot;  // -1: empty
    };
    static constexpr int kBits = 14;
    static constexpr uint32_t kMask = (uint32_t{1} << kBits) - 1;
    static_assert((kMask + 1) / 2 >= kFunctionTableCapacity, "the index stays at most half full");

    // Names hash with a simple text hash; the multiply spreads its low bits.
    static uint32_t HomeOf(uint32_t hash) { return (hash * 0x9E3779B1u) >> (32 - kBits); }

    std::array<Entry, kMask + 1> entries_;
};

struct TableState {
    std::array<std::unique_ptr<FunctionRecord>, kFunctionTableCapacity> slots;
    int count = 0;
    // Invariant: maps the hash of every record in use to its slot, and nothing else.
    HashIndex indexByHash;
    // Set by the first native declaration, cleared with the table only.
    bool nativeDeclared = false;
};

// Inlined: as a call of its own it saved the registers its one-time
// construction needs on every look-up, several times per compiled token.
[[gnu::always_inline]] inline TableState& Table() {
    static TableState table;
    return table;
}

// A declaration or a link has no source position of its own to report.
void ReportDeclarationError(const std::string& text) {
    ReportCompileMessage(nullptr, text, nullptr, -1, false);
}

void ReportLinkWarning(const std::string& text) {
    if (!CompileOnly) ReportCompileMessage(nullptr, text, nullptr, -1, true);
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

}  // namespace

bool ImmediateLinking = false;
bool CompileOnly = false;

std::string UpperCaseName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

uint32_t HashUpperCaseName(std::string_view name) {
    std::string upper = UpperCaseName(name);
    return HashName(upper.data(), upper.size());
}

int RegisterFunction(std::string_view name, BuiltinHandler handler) {
    TableState& table = Table();
    std::string upper = UpperCaseName(name);
    uint32_t hash = HashName(upper.data(), upper.size());
    int index = FindFunctionByHash(hash);
    if (index >= 0) {
        ClearFunctionRecord(index);
    } else {
        if (table.count >= kFunctionTableCapacity) return -1;
        index = table.count++;
        if (!table.slots[index]) table.slots[index] = std::make_unique<FunctionRecord>();
    }
    FunctionRecord& record = *table.slots[index];
    record.name = std::move(upper);
    record.nameHash = hash;
    record.handler = handler;
    table.indexByHash.Set(hash, index);
    return index;
}

int RegisterFunctionFlags(std::string_view name, BuiltinHandler handler, bool anyArity, bool argumentFrame) {
    int index = RegisterFunction(name, handler);
    if (index < 0) return index;
    FunctionRecord& record = *Table().slots[index];
    record.anyArity = anyArity;
    record.argumentFrame = argumentFrame;
    return index;
}

int RegisterFunctionFlagsEx(std::string_view name, BuiltinHandler handler, bool anyArity, bool argumentFrame,
                            bool returnsValue) {
    int index = RegisterFunctionFlags(name, handler, anyArity, argumentFrame);
    if (index < 0) return index;
    Table().slots[index]->returnsValue = returnsValue;
    return index;
}

int RegisterBuiltin(std::string_view name, BuiltinHandler handler, uint8_t argumentCount, bool returnsValue) {
    int index = RegisterFunction(name, handler);
    if (index < 0) return index;
    FunctionRecord& record = *Table().slots[index];
    record.argumentCount = argumentCount;
    record.returnsValue = returnsValue;
    return index;
}

void ClearFunctionRecord(int index) {
    FunctionRecord* record = FunctionRecordAt(index);
    if (!record) return;
    TableState& table = Table();
    table.indexByHash.Erase(record->nameHash, index);
    *record = FunctionRecord{};
}

void FreeFunctionTable() {
    TableState& table = Table();
    for (int i = 0; i < table.count; ++i) table.slots[i].reset();
    table.count = 0;
    table.indexByHash.Clear();
    table.nativeDeclared = false;
}

bool AnyNativeDeclared() { return Table().nativeDeclared; }

int FindFunctionByHash(uint32_t hash) {
    return Table().indexByHash.Find(hash);
}

int FindFunctionByName(std::string_view name) {
    return FindFunctionByHash(HashUpperCaseName(name));
}

int FunctionCount() {
    return Table().count;
}

FunctionRecord* FunctionRecordAt(int index) {
    TableState& table = Table();
    if (index < 0 || index >= table.count) return nullptr;
    return table.slots[index].get();
}

int DeclareDllFunction(std::string_view name, std::string_view exportName, std::string_view libraryName,
                       uint8_t argumentCount, bool returnsValue, bool wideText, bool sForm) {
    int existing = FindFunctionByHash(HashUpperCaseName(name));
    if (existing >= 0 && !FunctionRecordAt(existing)->declaredNative) {
        ReportDeclarationError("Cannot declare " + Quoted(name) + ": the name is a built-in or keyword");
        return -1;
    }
    int index = RegisterFunction(name, nullptr);
    if (index < 0) {
        ReportDeclarationError("Cannot declare " + Quoted(name) + ": the function table is full");
        return -1;
    }
    FunctionRecord& record = *FunctionRecordAt(index);
    record.declaredNative = true;
    Table().nativeDeclared = true;
    record.libraryName = libraryName;
    record.exportName = exportName;
    record.argumentCount = argumentCount;
    record.returnsValue = returnsValue;
    record.wideText = wideText;
    record.sForm = sForm;
    if (ImmediateLinking) LinkDllFunction(index);
    return index;
}

LinkStatus LinkDllFunction(int index) {
    FunctionRecord* record = FunctionRecordAt(index);
    if (!record || !record->declaredNative) return LinkStatus::NotDeclared;
    void* library = LoadNativeLibrary(record->libraryName);
    if (!library) {
        ReportLinkWarning("Library " + record->libraryName + " not found");
        return LinkStatus::LibraryNotFound;
    }
    if (record->wideText) {
        std::string wideName = record->exportName + "W";
        if (ResolveDllEntry(library, index, wideName)) {
            record->exportName = std::move(wideName);
            return LinkStatus::Linked;
        }
    }
    if (ResolveDllEntry(library, index, record->exportName)) return LinkStatus::Linked;
    ReportLinkWarning("Error linking function " + record->name + " from library " + record->libraryName);
    return LinkStatus::ExportNotFound;
}

bool ResolveDllEntry(void* library, int index, std::string_view entryName) {
    FunctionRecord* record = FunctionRecordAt(index);
    if (!record) return false;
    void* entry = ResolveNativeExport(library, entryName);
    (record->returnsValue ? record->functionEntry : record->procedureEntry) = entry;
    return entry != nullptr;
}

}  // namespace qob
