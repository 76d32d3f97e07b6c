// builtins/memory/raw_memory.cpp
// Typed memory access, byte ranges, malloc blocks and word packing. Typed
// data is little-endian and packed: every value moves with memcpy, so no
// address needs alignment.
#include "builtins/memory/raw_memory.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "builtins/memory/memory_arguments.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/values/typed_fields.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

// The blocks malloc handed out and free has not taken back.
std::unordered_set<uintptr_t>& MallocBlocks() {
    static std::unordered_set<uintptr_t> blocks;
    return blocks;
}

template <typename T>
T LoadAt(uintptr_t address) {
    T value;
    std::memcpy(&value, AddressPointer(address), sizeof value);
    return value;
}

template <typename T>
void StoreAt(uintptr_t address, T value) {
    std::memcpy(AddressPointer(address), &value, sizeof value);
}

size_t RunLength(int32_t code) { return static_cast<size_t>(std::abs(static_cast<int64_t>(code))); }

// Pushes count bytes from address as a new terminated text of the call depth.
void PushByteRun(uintptr_t address, size_t count) {
    auto* block = static_cast<char*>(platform::AllocateBlock(count + 1));
    if (block) {
        std::memcpy(block, AddressPointer(address), count);
        block[count] = '\0';
    }
    PushTextResult(block, false);
}

// Writes the number as the typed value of a numeric code.
void WriteTypedNumber(uintptr_t address, int32_t code, double value) {
    switch (code) {
    case kTypeInt64: StoreAt(address, platform::TruncateToInteger<int64_t>(value)); break;
    case kTypeDouble: StoreAt(address, value); break;
    case kTypeUInt32: StoreAt(address, platform::TruncateTo32Bits<uint32_t>(value)); break;
    case kTypeInt16: StoreAt(address, static_cast<uint16_t>(platform::TruncateTo32Bits<uint32_t>(value))); break;
    case kTypeByte: StoreAt(address, static_cast<uint8_t>(platform::TruncateTo32Bits<uint32_t>(value))); break;
    default: StoreAt(address, platform::TruncateTo32Bits<int32_t>(value)); break;
    }
}

// Reads one fixed-width value at the popped address and pushes it.
void PushLoaded(int32_t code) {
    const uintptr_t address = PopAddress();
    double value = 0.0;
    if (CheckBlockAccess(address, TypedWidth(code))) ReadTypedNumberAt(address, code, value);
    PushNumberResult(value);
}

// Pops (address, value) and stores the value with a numeric code.
void StoreLoaded(int32_t code) {
    const double value = StackEntryNumber(PopStackEntry());
    const uintptr_t address = PopAddress();
    if (CheckBlockAccess(address, TypedWidth(code))) WriteTypedNumber(address, code, value);
}

// Pops the count, the byte value and the address of a ranged operation.
struct Range {
    uintptr_t address;
    uint8_t byte;
    int32_t count;
};
Range PopByteRange() {
    Range range{};
    range.count = PopSigned32();
    range.byte = static_cast<uint8_t>(PopUnsigned32());
    range.address = PopAddress();
    return range;
}

// Pops (first, second, count) of a two-address operation.
struct TwoRanges {
    uintptr_t first;
    uintptr_t second;
    int32_t count;
};
TwoRanges PopTwoRanges() {
    TwoRanges ranges{};
    ranges.count = PopSigned32();
    ranges.second = PopAddress();
    ranges.first = PopAddress();
    return ranges;
}

// The overlap-safe copy shared by memmove and memcpy.
void MoveBytes(uintptr_t source, uintptr_t destination, int32_t count) {
    if (count > 0 && CheckBlockAccess(source, static_cast<size_t>(count)) &&
        CheckBlockAccess(destination, static_cast<size_t>(count)))
        std::memmove(AddressPointer(destination), AddressPointer(source), static_cast<size_t>(count));
    PushNumberResult(static_cast<double>(destination));
}

void PushSigned32(uint32_t bits) { PushNumberResult(static_cast<int32_t>(bits)); }

}  // namespace

bool IsMallocBlock(const void* address) { return MallocBlocks().contains(reinterpret_cast<uintptr_t>(address)); }

void ForgetMallocBlock(const void* address) { MallocBlocks().erase(reinterpret_cast<uintptr_t>(address)); }

void Builtin_peek() {
    const int32_t code = PopSigned32();
    const uintptr_t address = PopAddress();
    if (const size_t width = TypedWidth(code)) {
        double value = 0.0;
        if (CheckBlockAccess(address, width)) ReadTypedNumberAt(address, code, value);
        PushNumberResult(value);
        return;
    }
    const size_t count = RunLength(code);
    if (!CheckBlockAccess(address, count)) {
        PushTextResult(nullptr, false);
        return;
    }
    PushByteRun(address, count);
}

void Builtin_poke() {
    const int32_t code = PopSigned32();
    const StackEntry* cell = PopStackEntry();
    const double number = StackEntryNumber(cell);
    const char* text = cell->text;
    const bool wide = (cell->flags & kEntryWide) != 0;
    const uintptr_t address = PopAddress();
    if (const size_t width = TypedWidth(code)) {
        if (CheckBlockAccess(address, width)) WriteTypedNumber(address, code, number);
        return;
    }
    const size_t count = RunLength(code);
    if (!CheckBlockAccess(address, count)) return;
    // The source gives at most its own bytes; the rest of the run is zeroed.
    const void* source = text ? static_cast<const void*>(text) : static_cast<const void*>(&number);
    const size_t available = text ? CellTextBytes(text, wide) : sizeof number;
    const size_t copied = count < available ? count : available;
    std::memmove(AddressPointer(address), source, copied);
    std::memset(AddressPointer(address + copied), 0, count - copied);
}

void Builtin_getint() { PushLoaded(kTypeInt32); }
void Builtin_getshort() { PushLoaded(kTypeInt16); }
void Builtin_getbyte() { PushLoaded(kTypeByte); }
void Builtin_getdouble() { PushLoaded(kTypeDouble); }
void Builtin_setint() { StoreLoaded(kTypeInt32); }
void Builtin_setshort() { StoreLoaded(kTypeInt16); }
void Builtin_setbyte() { StoreLoaded(kTypeByte); }
void Builtin_setdouble() { StoreLoaded(kTypeDouble); }

void Builtin_memset() {
    const Range range = PopByteRange();
    if (range.count > 0 && CheckBlockAccess(range.address, static_cast<size_t>(range.count)))
        std::memset(AddressPointer(range.address), range.byte, static_cast<size_t>(range.count));
    PushValue(static_cast<const char*>(AddressPointer(range.address)), 0.0, nullptr);
}

void Builtin_memchr() {
    const Range range = PopByteRange();
    const void* found = nullptr;
    if (range.count > 0 && CheckBlockAccess(range.address, static_cast<size_t>(range.count)))
        found = std::memchr(AddressPointer(range.address), range.byte, static_cast<size_t>(range.count));
    PushNumberResult(AddressNumber(found));
}

void Builtin_memcmp() {
    const TwoRanges ranges = PopTwoRanges();
    int difference = 0;
    if (ranges.count > 0 && CheckBlockAccess(ranges.first, static_cast<size_t>(ranges.count)) &&
        CheckBlockAccess(ranges.second, static_cast<size_t>(ranges.count))) {
        const auto* a = static_cast<const uint8_t*>(AddressPointer(ranges.first));
        const auto* b = static_cast<const uint8_t*>(AddressPointer(ranges.second));
        for (int32_t i = 0; i < ranges.count && difference == 0; ++i) difference = a[i] - b[i];
    }
    PushNumberResult(difference);
}

void Builtin_memmove() {
    const TwoRanges ranges = PopTwoRanges();
    MoveBytes(ranges.first, ranges.second, ranges.count);
}

void Builtin_memcpy() {
    const TwoRanges ranges = PopTwoRanges();
    MoveBytes(ranges.second, ranges.first, ranges.count);
}

void Builtin_malloc() {
    const int32_t size = PopSigned32();
    void* block = size >= 0 ? platform::AllocateZeroedBlock(static_cast<size_t>(size)) : nullptr;
    if (block) MallocBlocks().insert(reinterpret_cast<uintptr_t>(block));
    PushNumberResult(AddressNumber(block));
}

void Builtin_memsize() { PushNumberResult(static_cast<double>(platform::GetBlockSize(AddressPointer(PopAddress())))); }

void Builtin_hiword() { PushNumberResult((PopUnsigned32() >> 16) & 0xFFFFu); }
void Builtin_loword() { PushNumberResult(PopUnsigned32() & 0xFFFFu); }
void Builtin_hibyte() { PushNumberResult((PopUnsigned32() & 0xFF00u) >> 8); }
void Builtin_lobyte() { PushNumberResult(PopUnsigned32() & 0xFFu); }
void Builtin_hi() { PushNumberResult(static_cast<uint32_t>(std::bit_cast<uint64_t>(PopNumber()) >> 32)); }
void Builtin_lo() { PushNumberResult(static_cast<uint32_t>(std::bit_cast<uint64_t>(PopNumber()))); }

void Builtin_makelong() {
    const uint32_t high = PopUnsigned32();
    const uint32_t low = PopUnsigned32();
    PushSigned32((high << 16) | (low & 0xFFFFu));
}

void Builtin_makeword() {
    const uint32_t high = PopUnsigned32();
    const uint32_t low = PopUnsigned32();
    PushNumberResult((low & 0xFFu) | ((high & 0xFFu) << 8));
}

void Builtin_makelcid() {
    const uint32_t sort = PopUnsigned32();
    const uint32_t language = PopUnsigned32();
    PushSigned32((sort << 16) | (language & 0xFFFFu));
}

void Builtin_makelangid() {
    const uint32_t sub = PopUnsigned32();
    const uint32_t primary = PopUnsigned32();
    PushNumberResult(((sub << 10) | primary) & 0xFFFFu);
}

void Builtin_ptinrect() {
    const uintptr_t point = PopAddress();
    const uintptr_t rectangle = PopAddress();
    if (!CheckBlockAccess(rectangle, 16) || !CheckBlockAccess(point, 8)) {
        PushNumberResult(0.0);
        return;
    }
    const int32_t left = LoadAt<int32_t>(rectangle), top = LoadAt<int32_t>(rectangle + 4);
    const int32_t right = LoadAt<int32_t>(rectangle + 8), bottom = LoadAt<int32_t>(rectangle + 12);
    const int32_t x = LoadAt<int32_t>(point), y = LoadAt<int32_t>(point + 4);
    PushTruthResult(left <= x && x < right && top <= y && y < bottom);
}

void Builtin_RGB() {
    const uint32_t blue = PopUnsigned32();
    const uint32_t green = PopUnsigned32();
    const uint32_t red = PopUnsigned32();
    PushNumberResult((red & 0xFFu) | ((green & 0xFFu) << 8) | ((blue & 0xFFu) << 16));
}

}  // namespace qob
