// native/arm_cpu.h
// The emulated ARM CPU that runs generated code: StrongARM engines over the
// low memory of this process (mapped at the same addresses), a stub page
// whose slots stand for the host routines, code blocks read and execute
// only, and a private ARM stack per thread with a guard page below it.
#pragma once

#include <cstdint>

#include "platform/faults.h"

namespace qob {

// The stub page: slot i at kArmStubBase + 4 i is routine i; a run returns to
// kArmStopAddress, on a page of its own one unmapped page past the slots.
constexpr uint32_t kArmStubBase = 0x1000;
constexpr uint32_t kArmStubBytes = 0x2000;
constexpr uint32_t kArmStopAddress = kArmStubBase + kArmStubBytes + 0x1000;

// The registers a routine is called with and the results it gives back.
struct ArmCall {
    uint32_t number;             // the routine's slot number
    uint32_t r[4];               // r0-r3 on entry
    uint32_t result[2];          // r0, r1 on return
    bool setsR0 = false;         // which result registers the routine wrote
    bool setsR1 = false;
    uint32_t callerAddress = 0;  // the calling instruction (lr - 4)
};

// The host side of the stub page; the routines' owner installs it.
using ArmRoutineDispatcher = void (*)(ArmCall& call);
void SetArmRoutineDispatcher(ArmRoutineDispatcher dispatcher);

// What ended a run.
enum class ArmStop : uint8_t {
    Returned,      // the code returned to the stop address
    Fault,         // a bad access, an undefined instruction, or a routine's fault
    Stopped,       // a routine stopped the run (the program is stopping)
    TimeLimit,     // QOB_ASM_TIME_LIMIT milliseconds of ARM time passed
};

struct ArmOutcome {
    ArmStop stop = ArmStop::Returned;
    platform::FaultKind fault = platform::FaultKind::AccessViolation;
    uint32_t address = 0;      // the faulting instruction, or the run's last known place
    uint32_t dataAddress = 0;  // the address a bad access touched
};

// Runs code from entry on the calling thread's engine for its current
// nesting depth (a routine that runs script code which runs ARM code again
// uses the next engine, on the same stack below the caller's sp). lr is the
// stop address; r0-r3 are given. Never throws or jumps: every fault comes
// back in the outcome.
[[nodiscard]] ArmOutcome RunArmCode(uint32_t entry, const uint32_t (&registers)[4]);

// Code blocks: read and execute only in every engine, with the translation
// caches of their range flushed; unmarking makes the range read-write again.
// Engines catch up before each run and after each routine.
void MarkArmCodeBlock(uint32_t base, uint32_t length);
void UnmarkArmCodeBlock(uint32_t base);

// From inside a routine: stop the run now. With a fault, the run's outcome
// is that fault at the given instruction; without, it is ArmStop::Stopped.
void StopArmRunWithFault(platform::FaultKind kind, uint32_t address);
void StopArmRun();

// The current nesting depth of runs on this thread (0 outside any run).
[[nodiscard]] int ArmRunDepth();

// Debug mode: the code hook that makes fault addresses exact (each
// instruction's own) is installed while this is on.
void SetArmExactFaultAddresses(bool exact);

// The ARM time limit of one run in milliseconds (0: none); read from
// QOB_ASM_TIME_LIMIT at first use, changed here by tests.
void SetArmTimeLimit(uint32_t milliseconds);

}  // namespace qob
