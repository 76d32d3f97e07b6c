// native/native_calls.cpp
// Marshalling of a declared native function's arguments into host words
// (per call: nested calls through script callbacks stay apart), the call
// through one of 17 fixed-arity function types, and the signed result.
#include "native/native_calls.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "native/asm_runtime.h"
#include "platform/memory.h"
#include "runtime/data/wide_text.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// Words as the host passes them: numbers sign-extended from 32 bits,
// pointers whole.
using Word = intptr_t;

// Nothing is cleared up front (clearing all slots on every call cost more
// than the call itself): the words the record's arguments fill are written,
// the rest up to the handler's count are set to 0 before the call, and the
// copies are counted.
struct Marshalled {
    Word words[kMaxNativeWords];
    void* copies[kMaxNativeWords];
    int copyCount = 0;
};

// Whether a text entry is passed as it is to a UTF-16 function.
bool PassesAsItIs(const StackEntry* cell) {
    if (cell->flags & kEntryWide) return true;
    const VariableRecord* variable = cell->variable;
    if (variable && ((variable->flags & kVarStructure) || variable->members || variable->elementCount != 0)) return true;
    const size_t size = platform::GetBlockSize(cell->text);
    return size > 0 && IsWideString(cell->text, static_cast<int32_t>(std::min<size_t>(size, INT32_MAX))) != 0;
}

// MarshalDllArguments: pops count entries (the last argument first); words
// and copies are kept for the first kMaxNativeWords arguments only.
void MarshalArguments(ProgramContext* context, int count, bool wide, Marshalled& out) {
    for (int k = count; k >= 1; --k) {
        const StackEntry* cell = PopStackEntryFrom(context);
        if (k > kMaxNativeWords) continue;
        Word& word = out.words[k - 1];
        if (cell->text == nullptr) {
            word = static_cast<Word>(AsmDoubleToInt32(cell->value));
        } else if (!wide || PassesAsItIs(cell)) {
            word = reinterpret_cast<Word>(cell->text);
        } else {
            uint16_t* copy = AnsiToWide(cell->text);
            out.copies[out.copyCount++] = copy;
            word = reinterpret_cast<Word>(copy);
        }
    }
}

void ReleaseArguments(Marshalled& marshalled) {
    while (marshalled.copyCount > 0) platform::FreeBlock(marshalled.copies[--marshalled.copyCount]);
}

template <size_t... I>
Word CallWith(void* entry, const Word* words, std::index_sequence<I...>) {
    using Function = Word (*)(decltype(I, Word{})...);
    return reinterpret_cast<Function>(entry)(words[I]...);
}

template <size_t N>
Word CallFixed(void* entry, const Word* words) {
    return CallWith(entry, words, std::make_index_sequence<N>{});
}

using Caller = Word (*)(void*, const Word*);
template <size_t... N>
constexpr std::array<Caller, sizeof...(N)> MakeCallers(std::index_sequence<N...>) {
    return {CallFixed<N>...};
}
constexpr auto kCallers = MakeCallers(std::make_index_sequence<kMaxNativeWords + 1>{});

// One handler per opcode: its word count and form are fixed.
template <int N, bool Result>
void Handle_NativeCall() {
    CallNativeFunction(static_cast<int>(CurrentInstruction->operand), N, Result);
}

constexpr int kForms = 4;  // SCALLP, SCALLF, CALLP, CALLF
constexpr int kPerForm = kMaxNativeWords + 1;

template <int Form, int... N>
constexpr void FillForm(std::array<OpcodeRegistration, kForms * kPerForm>& rows, std::integer_sequence<int, N...>) {
    constexpr bool result = Form == 1 || Form == 3;
    ((rows[Form * kPerForm + N] = {static_cast<Opcode>(static_cast<int>(Opcode::SCALLP0) + Form * kPerForm + N),
                                   static_cast<Opcode>(static_cast<int>(Opcode::SCALLP0) + Form * kPerForm + N),
                                   Handle_NativeCall<N, result>}),
     ...);
}

constexpr std::array<OpcodeRegistration, kForms * kPerForm> kRows = [] {
    std::array<OpcodeRegistration, kForms * kPerForm> rows{};
    FillForm<0>(rows, std::make_integer_sequence<int, kPerForm>{});
    FillForm<1>(rows, std::make_integer_sequence<int, kPerForm>{});
    FillForm<2>(rows, std::make_integer_sequence<int, kPerForm>{});
    FillForm<3>(rows, std::make_integer_sequence<int, kPerForm>{});
    return rows;
}();
static_assert(static_cast<int>(Opcode::CALLF16) - static_cast<int>(Opcode::SCALLP0) + 1 == kForms * kPerForm);

}  // namespace

std::span<const OpcodeRegistration> NativeCallOpcodeRows() { return kRows; }

void CallNativeFunction(int index, int n, bool withResult) {
    ProgramContext* context = CurrentContext;
    const FunctionRecord* record = FunctionRecordAt(index);
    Marshalled marshalled;
    void* entry = nullptr;
    int filled = 0;
    if (record) {
        entry = withResult ? record->functionEntry : record->procedureEntry;
        MarshalArguments(context, record->argumentCount, record->wideText != 0, marshalled);
        filled = std::min<int>(record->argumentCount, kMaxNativeWords);
    }
    for (int k = filled; k < n; ++k) marshalled.words[k] = 0;
    Word result = 0;
    if (entry) result = kCallers[static_cast<size_t>(n)](entry, marshalled.words);
    if (withResult) PushValueTo(context, nullptr, static_cast<double>(static_cast<int32_t>(result)), nullptr, 0);
    ReleaseArguments(marshalled);
}

}  // namespace qob
