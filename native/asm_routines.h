// native/asm_routines.h
// The one table of routines that generated code calls: each has a number,
// and the code reaches it through the 32-bit address of its slot on the
// emulator's stub page. Also the debugger register block.
#pragma once

#include <cstdint>

#include "runtime/registry/function_table.h"

namespace qob {

// The fixed routines, numbered from 0 in this order; built-in handlers that
// a "qob" statement names are numbered after them, in order of first use.
#define QOB_ASM_ROUTINES(X) \
    X(AsmSignedDivide)      \
    X(AsmShiftLeft)         \
    X(AsmShiftRight)        \
    X(AsmPushUnsigned)      \
    X(AsmPushDouble)        \
    X(AsmPopInt)            \
    X(AsmDoubleToInt)       \
    X(AsmLogString)         \
    X(AsmLogNumber)         \
    X(AsmSetPixel)          \
    X(AsmGetPixel)          \
    X(AsmBeginScene)        \
    X(AsmUpdate)            \
    X(AsmDebugFramePush)    \
    X(AsmDebugFramePop)     \
    X(DebugLineHook)        \
    X(ProfileStamp)         \
    X(RunProcedure)         \
    X(SaveSp)               \
    X(Ptr)                  \
    X(Cos)                  \
    X(Cosh)                 \
    X(Sin)                  \
    X(Sinh)                 \
    X(Sqrt)                 \
    X(Tan)                  \
    X(Tanh)                 \
    X(Atan)                 \
    X(Atan2)                \
    X(Exp)                  \
    X(Floor)                \
    X(Ceil)                 \
    X(Log)                  \
    X(Log10)

enum class AsmRoutine : uint32_t {
#define QOB_ASM_ROUTINE_ENUM(name) name,
    QOB_ASM_ROUTINES(QOB_ASM_ROUTINE_ENUM)
#undef QOB_ASM_ROUTINE_ENUM
    Count
};

// The stub page: one 4-byte slot per routine number, below 0x10000 so that
// no low-memory block can lie there.
constexpr uint32_t kAsmStubPageBase = 0x1000;
constexpr uint32_t kAsmStubSlotCount = 2048;

[[nodiscard]] constexpr uint32_t AsmRoutineSlotAddress(uint32_t number) { return kAsmStubPageBase + 4 * number; }
[[nodiscard]] constexpr uint32_t AsmRoutineSlotAddress(AsmRoutine routine) {
    return AsmRoutineSlotAddress(static_cast<uint32_t>(routine));
}

// The routine number of a built-in handler (given one on first use), or -1
// when the stub page has no slot left.
[[nodiscard]] int32_t AsmHandlerRoutineNumber(BuiltinHandler handler);
// The handler behind a routine number, null for a fixed routine or an
// unknown number.
[[nodiscard]] BuiltinHandler AsmHandlerForRoutine(uint32_t number);

// The handle (a small number, never 0) under which generated code names a
// QOB procedure's start node, given on first use.
[[nodiscard]] uint32_t AsmProcedureHandle(const void* procedureNode);
[[nodiscard]] const void* AsmProcedureForHandle(uint32_t handle);

// The debugger register block: r0, r1, r2, r3, sf, sp, 128 local values,
// 128 local names (text addresses) and the count of locals stored.
constexpr uint32_t kAsmMaxDebugLocals = 128;
constexpr uint32_t kAsmRegisterBlockWords = 6 + 2 * kAsmMaxDebugLocals + 1;
constexpr uint32_t kAsmRegisterBlockValues = 6;
constexpr uint32_t kAsmRegisterBlockNames = kAsmRegisterBlockValues + kAsmMaxDebugLocals;
constexpr uint32_t kAsmRegisterBlockCount = kAsmRegisterBlockNames + kAsmMaxDebugLocals;

// The process-wide block (low memory, made on first use), and its address
// as generated code holds it.
[[nodiscard]] uint32_t* AsmRegisterBlock();
[[nodiscard]] uint32_t AsmRegisterBlockAddress();

}  // namespace qob
