// platform/faults.h
// The fault guard: hardware faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP) inside a
// guarded call come back to the caller as a report instead of ending the process.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

namespace qob::platform {

// The kinds of fault the system names. The values are the exception codes
// that compiled programs and fault records carry.
enum class FaultKind : uint32_t {
    Misaligned = 0x80000002u,
    Breakpoint = 0x80000003u,
    SingleStep = 0x80000004u,
    AccessViolation = 0xC0000005u,
    IllegalInstruction = 0xC000001Du,
    IntegerDivideByZero = 0xC0000094u,
    IntegerOverflow = 0xC0000095u,
    PrivilegedInstruction = 0xC0000096u,
    Other = 0xC0000090u,  // a floating-point fault; stands for every fault not named above
    // This system's own code, with no hardware fault behind it: assembled code
    // ran longer than QOB_ASM_TIME_LIMIT allows, and was stopped like a fault.
    TimeLimitExceeded = 0xE0000001u,
};

// "Access violation", "Integer divide by 0", "Time limit exceeded", ...; any
// code not in the list above reads "Floating point, or software exception".
const char* GetFaultName(FaultKind kind);
const char* GetFaultName(uint32_t exceptionCode);

// The kind of fault a signal stands for, from its number and si_code.
FaultKind ClassifyFault(int signal, int code);

struct FaultReport {
    FaultKind kind = FaultKind::Other;
    uintptr_t instructionAddress = 0;  // where the faulting instruction lies
    uintptr_t dataAddress = 0;         // the address accessed (SIGSEGV, SIGBUS), else the instruction's
    int signal = 0;
    int code = 0;  // si_code
};

// Runs body(context) under a guard. Returns true when it returned normally;
// false when a hardware fault stopped it, with the fault in report. Guards
// nest: a fault goes to the innermost guard of the faulting thread. A fault
// on a thread with no guard ends the process as it would without us.
//
// A fault leaves body's frames by a long jump: no destructor between the
// guard and the fault runs, so code run under a guard must not keep objects
// that need one (strings, vectors, locks) alive across code that may fault.
bool RunGuarded(void (*body)(void* context), void* context, FaultReport& report);

// The same for any callable; the callable itself lives in the caller's frame.
template <typename Body>
std::optional<FaultReport> RunGuarded(Body&& body) {
    using Callable = std::remove_reference_t<Body>;
    FaultReport report;
    void* context = const_cast<void*>(static_cast<const void*>(&body));
    if (RunGuarded([](void* self) { (*static_cast<Callable*>(self))(); }, context, report)) return std::nullopt;
    return report;
}

// Delivers a fault that a check found before the access was made (an access
// refused on purpose) to the innermost guard of the calling thread, exactly
// as a signal would: the guarded call leaves by the same long jump, with
// report as its fault. Returns false, doing nothing, when the thread has no
// guard; otherwise it does not return.
bool RaiseFault(const FaultReport& report);

// Whether the calling thread is inside a guard.
bool IsGuarded();

}  // namespace qob::platform
