// builtins/memory/memory_arguments.cpp
// Address and integer arguments of the raw-memory built-ins, and the block
// bounds check.
#include "builtins/memory/memory_arguments.h"

#include <cstring>

#include "platform/c_library.h"
#include "platform/faults.h"
#include "platform/memory.h"
#include "runtime/values/typed_fields.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {

uintptr_t EntryAddress(const StackEntry* cell) {
    if (cell->value != 0.0) return platform::TruncateTo32Bits<uint32_t>(cell->value);
    if (cell->extra != 0) return static_cast<uint32_t>(cell->extra);
    return reinterpret_cast<uintptr_t>(cell->text);
}

int32_t PopSigned32() { return platform::TruncateTo32Bits<int32_t>(StackEntryNumber(PopStackEntry())); }

uint32_t PopUnsigned32() { return platform::TruncateTo32Bits<uint32_t>(StackEntryNumber(PopStackEntry())); }

size_t TypedWidth(int32_t code) {
    switch (code) {
    case kTypeInt64:
    case kTypeDouble: return 8;
    case kTypeUInt32:
    case kTypeInt32:
    case kTypeWideText: return 4;
    case kTypeInt16: return 2;
    case kTypeByte: return 1;
    default: return 0;
    }
}

namespace {
template <typename T>
double LoadNumber(uintptr_t address) {
    T value;
    std::memcpy(&value, AddressPointer(address), sizeof value);
    return static_cast<double>(value);
}
}  // namespace

bool ReadTypedNumberAt(uintptr_t address, int32_t code, double& result) {
    switch (code) {
    case kTypeInt64: result = LoadNumber<int64_t>(address); return true;
    case kTypeDouble: result = LoadNumber<double>(address); return true;
    case kTypeUInt32: result = LoadNumber<uint32_t>(address); return true;
    case kTypeInt32:
    case kTypeWideText: result = LoadNumber<int32_t>(address); return true;
    case kTypeInt16: result = LoadNumber<int16_t>(address); return true;
    case kTypeByte: result = LoadNumber<uint8_t>(address); return true;
    default: return false;
    }
}

bool CheckBlockAccess(uintptr_t address, size_t count) {
    const void* block = platform::GetContainingBlock(AddressPointer(address));
    if (!block) return true;
    const uintptr_t end = reinterpret_cast<uintptr_t>(block) + platform::GetBlockSize(block);
    if (address + count <= end) return true;
    const uintptr_t beyond = address > end ? address : end;
    const FaultRecord fault{static_cast<uint32_t>(platform::FaultKind::AccessViolation), beyond, beyond};
    ReportException(CurrentContext, CurrentProcName, fault);
    return false;
}

}  // namespace qob
