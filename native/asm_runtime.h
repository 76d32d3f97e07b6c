// native/asm_runtime.h
// The run-time routines that generated code calls through the stub page,
// the services of higher layers they reach through hooks, and running a
// code block with the routines installed.
#pragma once

#include <cstdint>

#include "native/arm_cpu.h"

namespace qob {

struct ProgramContext;

// What the routines need from the layers above: the debugger and profiler
// (host) and the game engine's canvases (engine). Each has a safe default:
// no debugger, no profiler, and no canvas (the pixel routines then report an
// access violation at the calling instruction, as the device faults on its
// null canvas).
struct AsmServiceHooks {
    void (*debugLineHook)(int32_t line, const char* file);
    void (*profileStamp)(int32_t line, const char* file);
    // The debugger's step state, kept in a debug frame record: taken (and the
    // pending step cleared) at a function's entry, put back at its return.
    int32_t (*takeStepState)();
    void (*restoreStepState)(int32_t state);
    // False: there is no canvas.
    bool (*setPixel)(int32_t x, int32_t y, uint16_t colour);
    bool (*getPixel)(int32_t x, int32_t y, uint32_t& colour);
    bool (*beginScene)(uint32_t& surface);
    bool (*update)();
    // Runs a program file as a new top-level program ("ShowError.qob"); false
    // when it could not run.
    bool (*runProgramFile)(const char* path);
};
extern AsmServiceHooks AsmHooks;
void ResetAsmHooks();

// The routine behind a stub slot (the dispatcher of the emulated CPU).
void DispatchAsmRoutine(ArmCall& call);

// The pure routines, shared with their tests.
[[nodiscard]] uint32_t AsmShiftLeftValue(uint32_t value, uint32_t count);
[[nodiscard]] uint32_t AsmShiftRightValue(uint32_t value, uint32_t count);
// Signed division truncated toward zero; -2^31 / -1 wraps to -2^31. The
// divisor must not be 0.
[[nodiscard]] int32_t AsmSignedQuotient(int32_t dividend, int32_t divisor);
// A double to 32 bits modulo 2^32 (NaN and infinities give 0).
[[nodiscard]] int32_t AsmDoubleToInt32(double value);

// A debug frame record (debug mode): one per active assembler function.
struct AsmDebugFrame {
    char* name;
    uint32_t localCount;
    uint32_t values[128];
    char* names[128];
    int32_t stepState;
    AsmDebugFrame* previous;
};
// The context's innermost record, or null.
[[nodiscard]] AsmDebugFrame* AsmDebugFrameTop(const ProgramContext* context);

// Runs a code block with the routines installed.
[[nodiscard]] ArmOutcome RunAsmBlock(uint32_t base);
// Reports what stopped a run through the runtime: a fault as the hardware
// fault it stands for (a TRY goes on at its EXCEPT part), the time limit as
// a run-time error. Returns normally, or by the fault guard's jump, so the
// caller keeps nothing that needs a destructor.
void ReportAsmOutcome(const ArmOutcome& outcome);

}  // namespace qob
