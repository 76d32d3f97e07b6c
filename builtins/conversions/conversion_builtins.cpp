// builtins/conversions/conversion_builtins.cpp
// int, str, wstr, ToFloat and ToInt, and the 64-bit integers in memory of
// LargeInt and ToLargeInt.
#include "builtins/conversions/conversion_builtins.h"

#include <cstdint>
#include <cstring>

#include "builtins/maths/number_arguments.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/faults.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// 2^-52: ToFloat moves a number off an exact integer by this much.
constexpr double kToFloatOffset = 2.220446049250313e-16;

// The top cell when it holds an 8-bit text of its own kind (no matrix, no
// UTF-16) and is not the bottom cell.
StackEntry* TopNarrowTextCell() {
    StackEntry* top = CurrentContext->stackTop;
    if (!top->below || !top->text || (top->flags & (kEntryWide | kEntryMatrix))) return nullptr;
    return top;
}

// Addresses reach the built-ins as 32-bit integers; every block a program
// sees lies below 2 GiB.
void* AddressFrom(int32_t address) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
}

// Whether the address starts a block of the allocator that holds fewer than
// the 8 bytes of a 64-bit integer (a short text passed as its own buffer):
// such an access would run past the block without any signal.
bool StartsShortBlock(const void* address) {
    return platform::IsLiveBlock(address) && platform::GetBlockSize(address) < sizeof(int64_t);
}

// The access violation the 8-byte access at the address would be: under the
// machine's guard it is delivered as a hardware fault is (reported with the
// address, a TRY goes on at its EXCEPT part); without a guard it is reported
// at once and the handler returns.
void ReportShortBlockAccess(const void* address) {
    const auto where = reinterpret_cast<uintptr_t>(address);
    platform::FaultReport report;
    report.kind = platform::FaultKind::AccessViolation;
    report.instructionAddress = where;
    report.dataAddress = where;
    if (platform::RaiseFault(report)) return;
    const FaultRecord fault{static_cast<uint32_t>(report.kind), where, where};
    ReportException(CurrentContext, CurrentProcName, fault);
}

}  // namespace

void Builtin_int() { PushNumberResult(PopNumberArgument()); }

// A text argument is the result itself (its owner keeps it alive as it did
// the argument); a UTF-16 text is narrowed first, since read as 8-bit text
// it would end at its first zero byte.
void Builtin_str() {
    if (StackEntry* cell = TopNarrowTextCell()) {
        cell->value = 0.0;
        cell->variable = nullptr;
        cell->extra = 0;
        cell->flags = 0;
        return;
    }
    StackEntry argument = TakeOperand();
    if (IsText(argument)) {
        const char* text = NarrowOperandText(argument);
        ReleaseOperand(argument);
        PushValue(text, 0.0, nullptr, 0);
        return;
    }
    PushTextResult(NumberToString(argument.value), false);
}

void Builtin_wstr() {
    StackEntry argument = TakeOperand();
    const TextSpan text = OperandText(argument, true);
    ReleaseOperand(argument);
    PushValue(static_cast<const char*>(text.units), 0.0, nullptr, 0);
    CurrentContext->stackTop->flags = kEntryWide;
}

void Builtin_ToFloat() { PushNumberResult(PopNumberArgument() + kToFloatOffset); }

void Builtin_ToInt() { PushNumberResult(platform::TruncateTo32Bits<int32_t>(PopNumberArgument())); }

void Builtin_LargeInt() {
    const void* address = AddressFrom(PopInteger());
    if (StartsShortBlock(address)) {
        ReportShortBlockAccess(address);
        PushNumberResult(0.0);
        return;
    }
    int64_t value;
    std::memcpy(&value, address, sizeof value);
    PushNumberResult(static_cast<double>(value));
}

void Builtin_ToLargeInt() {
    void* address = AddressFrom(PopInteger());
    const int64_t value = platform::TruncateToInteger<int64_t>(PopNumberArgument());
    if (StartsShortBlock(address)) return ReportShortBlockAccess(address);
    std::memcpy(address, &value, sizeof value);
}

}  // namespace qob
