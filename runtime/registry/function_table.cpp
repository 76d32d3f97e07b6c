// runtime/registry/function_table.cpp
// The function table: ordered slots for listings and native-call indexes, and
// a hash index beside them so that the compiler's lookups cost O(1).
#include "runtime/registry/function_table.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <ostream>

#include "runtime/registry/hooks.h"
#include "runtime/registry/native_libraries.h"

namespace qob {
namespace {

// The hash index: open addressing with linear probing in a fixed power-of-two
// table at most half full, so a look-up is a multiply, a shift and a probe or
// two, and no division. It never grows: script threads that only read it
// never see its entries move. An entry is 4 bytes: its slot plus 1 (so that
// the empty index is all zero bytes and the process starts with it made) and
// some bits of the hash, which rule out other names without reading their
// records; the record's own hash (hashOf(slot), the hash the entry was set
// with) settles a match. Start-up registers some 800 names spread over the
// whole index, so its size is what every start pays in pages.
class HashIndex {
public:
    template <typename HashOf>
    [[nodiscard]] int Find(uint32_t hash, const HashOf& hashOf) const {
        for (uint32_t at = HomeOf(hash);; at = (at + 1) & kMask) {
            const uint32_t entry = entries_[at];
            if (entry == 0) return -1;
            if (Holds(entry, hash, hashOf)) return SlotOf(entry);
        }
    }

    template <typename HashOf>
    void Set(uint32_t hash, int slot, const HashOf& hashOf) {
        uint32_t at = HomeOf(hash);
        while (entries_[at] != 0 && !Holds(entries_[at], hash, hashOf)) at = (at + 1) & kMask;
        entries_[at] = (TagOf(hash) << kSlotBits) | (static_cast<uint32_t>(slot) + 1);
    }

    // Removes the entry when it maps hash to slot. The entries after it in the
    // same run move back into the gap where their probe passes it, so a run
    // never has a hole that would end a later look-up early.
    template <typename HashOf>
    void Erase(uint32_t hash, int slot, const HashOf& hashOf) {
        uint32_t at = HomeOf(hash);
        while (true) {
            if (entries_[at] == 0) return;
            if (Holds(entries_[at], hash, hashOf)) break;
            at = (at + 1) & kMask;
        }
        if (SlotOf(entries_[at]) != slot) return;
        uint32_t gap = at;
        for (uint32_t next = (gap + 1) & kMask; entries_[next] != 0; next = (next + 1) & kMask) {
            const uint32_t home = HomeOf(hashOf(SlotOf(entries_[next])));
            // The entry may fill the gap when its home is not in (gap, next].
            const bool homeAfterGap = ((next - home) & kMask) < ((next - gap) & kMask);
            if (homeAfterGap) continue;
            entries_[gap] = entries_[next];
            gap = next;
        }
        entries_[gap] = 0;
    }

    // Empties the run of entries that starts at hash's home. Called for the
    // hash of every record in use, in any order, it empties the whole index:
    // an entry lies in the unbroken run from its home, and the first of that
    // run's places to be emptied was emptied with all that followed it up to
    // the run's end. Far fewer entries are touched than the index holds.
    void ClearRunAt(uint32_t hash) {
        for (uint32_t at = HomeOf(hash); entries_[at] != 0; at = (at + 1) & kMask) entries_[at] = 0;
    }

private:
    static constexpr int kBits = 14;
    static constexpr uint32_t kMask = (uint32_t{1} << kBits) - 1;
    static_assert((kMask + 1) / 2 >= kFunctionTableCapacity, "the index stays at most half full");
    static constexpr int kSlotBits = 13;
    static constexpr uint32_t kSlotMask = (uint32_t{1} << kSlotBits) - 1;
    static_assert(kFunctionTableCapacity + 1 <= kSlotMask, "a slot plus 1 fits its bits");

    // Names hash with a simple text hash; the multiply spreads its low bits.
    static uint32_t HomeOf(uint32_t hash) { return (hash * 0x9E3779B1u) >> (32 - kBits); }
    static uint32_t TagOf(uint32_t hash) { return hash & (~uint32_t{0} >> kSlotBits); }
    static int SlotOf(uint32_t entry) { return static_cast<int>(entry & kSlotMask) - 1; }
    template <typename HashOf>
    static bool Holds(uint32_t entry, uint32_t hash, const HashOf& hashOf) {
        return (entry >> kSlotBits) == TagOf(hash) && hashOf(SlotOf(entry)) == hash;
    }

    std::array<uint32_t, kMask + 1> entries_{};
};

// The records live in blocks that are made when their first slot is taken
// and never move, so a record's address holds until the table is freed. One
// block holds every built-in: start-up makes one allocation, not one per
// record, and the table's release frees no record singly.
constexpr int kBlockBits = 10;
constexpr int kBlockRecords = 1 << kBlockBits;
constexpr int kBlockCount = (kFunctionTableCapacity + kBlockRecords - 1) / kBlockRecords;
struct RecordBlock {
    alignas(FunctionRecord) unsigned char bytes[kBlockRecords * sizeof(FunctionRecord)];
};

struct TableState {
    // Invariant: the records of slots 0 to count - 1 are made, no other is.
    std::array<std::unique_ptr<RecordBlock>, kBlockCount> blocks;
    int count = 0;
    // Invariant: maps the hash of every record in use to its slot, and nothing else.
    HashIndex indexByHash;
    // Set by the first native declaration, cleared with the table only.
    bool nativeDeclared = false;

    // The name hash of a slot the index holds (see HashIndex).
    uint32_t HashOfSlot(int index) const { return Slot(index)->nameHash; }
    auto SlotHashes() const {
        return [this](int index) { return HashOfSlot(index); };
    }

    FunctionRecord* Slot(int index) const {
        return reinterpret_cast<FunctionRecord*>(blocks[static_cast<size_t>(index >> kBlockBits)]->bytes) +
               (index & (kBlockRecords - 1));
    }

    // Makes the record of the next slot; count < kFunctionTableCapacity.
    int AddSlot() {
        const int index = count;
        std::unique_ptr<RecordBlock>& block = blocks[static_cast<size_t>(index >> kBlockBits)];
        if (!block) block = std::make_unique_for_overwrite<RecordBlock>();
        new (Slot(index)) FunctionRecord();
        ++count;
        return index;
    }

    void Free() {
        for (int i = 0; i < count; ++i) {
            FunctionRecord* record = Slot(i);
            indexByHash.ClearRunAt(record->nameHash);
            record->~FunctionRecord();
        }
        count = 0;
        for (std::unique_ptr<RecordBlock>& block : blocks) block.reset();
        nativeDeclared = false;
    }

    ~TableState() { Free(); }
};

// Made before any code runs (all zero bytes), so a look-up tests no guard and
// saves no registers for a one-time construction; it goes after every object
// made at run time, so none of their releases finds it gone.
constinit TableState gTable;

inline TableState& Table() { return gTable; }

// A declaration or a link has no source position of its own to report.
void ReportDeclarationError(const std::string& text) {
    Hooks.reportCompileMessage(text, false);
}

void ReportLinkWarning(const std::string& text) {
    if (!CompileOnly) Hooks.reportCompileMessage(text, true);
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

DeclaredText& DeclaredText::operator=(std::string_view text) {
    if (text.empty()) text_.reset();
    else if (text_) text_->assign(text);
    else text_ = std::make_unique<std::string>(text);
    return *this;
}

std::ostream& operator<<(std::ostream& out, const DeclaredText& text) {
    return out << text.view();
}

bool ImmediateLinking = false;
bool CompileOnly = false;

std::string UpperCaseName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper) c = UpperCaseNameByte(c);
    return upper;
}

int RegisterFunction(std::string_view name, BuiltinHandler handler) {
    return RegisterFunctionHashed(name, HashUpperCaseName(name), handler);
}

int RegisterFunctionHashed(std::string_view name, uint32_t hash, BuiltinHandler handler) {
    TableState& table = Table();
    int index = FindFunctionByHash(hash);
    if (index >= 0) {
        ClearFunctionRecord(index);
    } else {
        if (table.count >= kFunctionTableCapacity) return -1;
        index = table.AddSlot();
    }
    FunctionRecord& record = *table.Slot(index);
    record.name.assign(name);
    for (char& c : record.name) c = UpperCaseNameByte(c);
    record.nameHash = hash;
    record.handler = handler;
    table.indexByHash.Set(hash, index, table.SlotHashes());
    return index;
}

int RegisterFunctionFlags(std::string_view name, BuiltinHandler handler, bool anyArity, bool argumentFrame) {
    int index = RegisterFunction(name, handler);
    if (index < 0) return index;
    FunctionRecord& record = *Table().Slot(index);
    record.anyArity = anyArity;
    record.argumentFrame = argumentFrame;
    return index;
}

int RegisterFunctionFlagsEx(std::string_view name, BuiltinHandler handler, bool anyArity, bool argumentFrame,
                            bool returnsValue) {
    int index = RegisterFunctionFlags(name, handler, anyArity, argumentFrame);
    if (index < 0) return index;
    Table().Slot(index)->returnsValue = returnsValue;
    return index;
}

int RegisterBuiltin(std::string_view name, BuiltinHandler handler, uint8_t argumentCount, bool returnsValue) {
    int index = RegisterFunction(name, handler);
    if (index < 0) return index;
    FunctionRecord& record = *Table().Slot(index);
    record.argumentCount = argumentCount;
    record.returnsValue = returnsValue;
    return index;
}

void ClearFunctionRecord(int index) {
    FunctionRecord* record = FunctionRecordAt(index);
    if (!record) return;
    TableState& table = Table();
    table.indexByHash.Erase(record->nameHash, index, table.SlotHashes());
    *record = FunctionRecord{};
}

void FreeFunctionTable() {
    Table().Free();
}

bool AnyNativeDeclared() { return Table().nativeDeclared; }

int FindFunctionByHash(uint32_t hash) {
    const TableState& table = Table();
    return table.indexByHash.Find(hash, table.SlotHashes());
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
    return table.Slot(index);
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
        ReportLinkWarning("Library " + std::string(record->libraryName.view()) + " not found");
        return LinkStatus::LibraryNotFound;
    }
    if (record->wideText) {
        std::string wideName = std::string(record->exportName.view()) + "W";
        if (ResolveDllEntry(library, index, wideName)) {
            record->exportName = wideName;
            return LinkStatus::Linked;
        }
    }
    if (ResolveDllEntry(library, index, record->exportName)) return LinkStatus::Linked;
    ReportLinkWarning("Error linking function " + record->name + " from library " +
                      std::string(record->libraryName.view()));
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
