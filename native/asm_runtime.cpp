// native/asm_runtime.cpp
// The host side of every stub slot: value-stack routines, division and
// shifts, logging, maths, the pixel routines, debug frames, the per-line
// hooks, QOB procedures and built-in handlers named by "qob" statements.
#include "native/asm_runtime.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "native/asm_routines.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/values/declarations.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/switches.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

namespace {

void NoLine(int32_t, const char*) {}
int32_t NoStepState() { return 0; }
void NoRestore(int32_t) {}
bool NoCanvasSet(int32_t, int32_t, uint16_t) { return false; }
bool NoCanvasGet(int32_t, int32_t, uint32_t&) { return false; }
bool NoCanvasScene(uint32_t&) { return false; }
bool NoCanvasUpdate() { return false; }
bool NoProgram(const char*) { return false; }

constexpr AsmServiceHooks kDefaultHooks = {NoLine, NoLine, NoStepState, NoRestore, NoCanvasSet,
                                           NoCanvasGet, NoCanvasScene, NoCanvasUpdate, NoProgram};

double DoubleOf(uint32_t low, uint32_t high) {
    const uint64_t bits = uint64_t{high} << 32 | low;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void ReturnDouble(ArmCall& call, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    call.result[0] = static_cast<uint32_t>(bits);
    call.result[1] = static_cast<uint32_t>(bits >> 32);
    call.setsR0 = call.setsR1 = true;
}

void ReturnWord(ArmCall& call, uint32_t value) {
    call.result[0] = value;
    call.setsR0 = true;
}

ProgramContext* ContextOf(uint32_t word) {
    (void)word;  // the context is the one running now, not the one that assembled the block
    return CurrentContext;
}

// The device faults on its null canvas; here the run stops with the same report.
void NoCanvas(const ArmCall& call) {
    StopArmRunWithFault(platform::FaultKind::AccessViolation, call.callerAddress);
}

std::unordered_map<const ProgramContext*, AsmDebugFrame*>& DebugFrames() {
    static std::unordered_map<const ProgramContext*, AsmDebugFrame*> frames;
    return frames;
}

char* CopyText(const char* text) {
    if (text == nullptr) return nullptr;
    const size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(platform::AllocateBlock(length + 1));
    if (copy) std::memcpy(copy, text, length + 1);
    return copy;
}

const char* TextAt(uint32_t address) { return reinterpret_cast<const char*>(uintptr_t{address}); }

// debug frame push: a record of the function's locals from the register block.
uint32_t PushDebugFrame(ProgramContext* context, const char* name) {
    auto* frame = static_cast<AsmDebugFrame*>(platform::AllocateZeroedBlock(sizeof(AsmDebugFrame)));
    if (!frame || !context) {
        platform::FreeBlock(frame);
        return 0;
    }
    const uint32_t* block = AsmRegisterBlock();
    frame->name = CopyText(name);
    frame->localCount = std::min(block[kAsmRegisterBlockCount], kAsmMaxDebugLocals);
    for (uint32_t i = 0; i < frame->localCount; ++i) {
        frame->values[i] = block[kAsmRegisterBlockValues + i];
        frame->names[i] = CopyText(TextAt(block[kAsmRegisterBlockNames + i]));
    }
    const int32_t state = AsmHooks.takeStepState();
    frame->stepState = state;
    AsmDebugFrame*& top = DebugFrames()[context];
    frame->previous = top;
    top = frame;
    return state == 1 ? 0 : static_cast<uint32_t>(state);
}

void FreeDebugFrame(AsmDebugFrame* frame) {
    platform::FreeBlock(frame->name);
    for (uint32_t i = 0; i < frame->localCount; ++i) platform::FreeBlock(frame->names[i]);
    platform::FreeBlock(frame);
}

// debug frame pop: nothing on an empty stack.
void PopDebugFrame(ProgramContext* context) {
    auto& frames = DebugFrames();
    auto found = frames.find(context);
    if (found == frames.end() || found->second == nullptr) return;
    AsmDebugFrame* frame = found->second;
    found->second = frame->previous;
    if (found->second == nullptr) frames.erase(found);
    if (frame->stepState == 1) AsmHooks.restoreStepState(1);
    FreeDebugFrame(frame);
}

// qobpull: the top entry as an integer; the block it names now belongs to
// the generated code, so no call depth frees it.
uint32_t PopIntegerForCode(ProgramContext* context) {
    if (!context) return 0;
    const StackEntry* cell = PopStackEntryFrom(context);
    uint32_t word = 0;
    if (cell->value != 0.0) word = static_cast<uint32_t>(AsmDoubleToInt32(cell->value));
    else if (cell->extra != 0) word = static_cast<uint32_t>(cell->extra);
    else word = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(cell->text));
    if (word != 0) ForgetTrackedObject(context, reinterpret_cast<const void*>(uintptr_t{word}));
    return word;
}

void LogNumber(uint32_t value) {
    char* text = NumberToString(static_cast<double>(value));
    if (!text) return;
    LogRuntimeError(text);
    platform::FreeBlock(text);
}

using Maths1 = double (*)(double);
Maths1 MathsFunction(AsmRoutine routine) {
    switch (routine) {
    case AsmRoutine::Cos: return [](double x) { return std::cos(x); };
    case AsmRoutine::Cosh: return [](double x) { return std::cosh(x); };
    case AsmRoutine::Sin: return [](double x) { return std::sin(x); };
    case AsmRoutine::Sinh: return [](double x) { return std::sinh(x); };
    case AsmRoutine::Sqrt: return [](double x) { return std::sqrt(x); };
    case AsmRoutine::Tan: return [](double x) { return std::tan(x); };
    case AsmRoutine::Tanh: return [](double x) { return std::tanh(x); };
    case AsmRoutine::Atan: return [](double x) { return std::atan(x); };
    case AsmRoutine::Exp: return [](double x) { return std::exp(x); };
    case AsmRoutine::Floor: return [](double x) { return std::floor(x); };
    case AsmRoutine::Ceil: return [](double x) { return std::ceil(x); };
    case AsmRoutine::Log: return [](double x) { return std::log(x); };
    case AsmRoutine::Log10: return [](double x) { return std::log10(x); };
    default: return nullptr;
    }
}

void RunFixedRoutine(AsmRoutine routine, ArmCall& call) {
    const uint32_t* r = call.r;
    switch (routine) {
    case AsmRoutine::AsmSignedDivide:
        if (r[1] == 0) {
            StopArmRunWithFault(platform::FaultKind::IntegerDivideByZero, call.callerAddress);
            return;
        }
        ReturnWord(call, static_cast<uint32_t>(AsmSignedQuotient(static_cast<int32_t>(r[0]), static_cast<int32_t>(r[1]))));
        return;
    case AsmRoutine::AsmShiftLeft: ReturnWord(call, AsmShiftLeftValue(r[0], r[1])); return;
    case AsmRoutine::AsmShiftRight: ReturnWord(call, AsmShiftRightValue(r[0], r[1])); return;
    case AsmRoutine::AsmPushUnsigned:
        if (CurrentContext) PushValueTo(CurrentContext, nullptr, static_cast<double>(r[0]), nullptr, 0);
        return;
    case AsmRoutine::AsmPushDouble:
        if (CurrentContext) PushValueTo(CurrentContext, nullptr, DoubleOf(r[0], r[1]), nullptr, 0);
        return;
    case AsmRoutine::AsmPopInt: ReturnWord(call, PopIntegerForCode(CurrentContext)); return;
    case AsmRoutine::AsmDoubleToInt: ReturnWord(call, static_cast<uint32_t>(AsmDoubleToInt32(DoubleOf(r[0], r[1])))); return;
    case AsmRoutine::AsmLogString:
        // The text belongs to the block (kept with its other texts): logged, not freed.
        if (r[0] != 0) LogRuntimeError(TextAt(r[0]));
        return;
    case AsmRoutine::AsmLogNumber: LogNumber(r[0]); return;
    case AsmRoutine::AsmSetPixel:
        if (!AsmHooks.setPixel(static_cast<int32_t>(r[0]), static_cast<int32_t>(r[1]), static_cast<uint16_t>(r[2])))
            NoCanvas(call);
        return;
    case AsmRoutine::AsmGetPixel: {
        uint32_t colour = 0;
        if (!AsmHooks.getPixel(static_cast<int32_t>(r[0]), static_cast<int32_t>(r[1]), colour)) NoCanvas(call);
        else ReturnWord(call, colour);
        return;
    }
    case AsmRoutine::AsmBeginScene: {
        uint32_t surface = 0;
        if (!AsmHooks.beginScene(surface)) NoCanvas(call);
        else ReturnWord(call, surface);
        return;
    }
    case AsmRoutine::AsmUpdate:
        if (!AsmHooks.update()) NoCanvas(call);
        return;
    case AsmRoutine::AsmDebugFramePush: ReturnWord(call, PushDebugFrame(ContextOf(r[0]), TextAt(r[1]))); return;
    case AsmRoutine::AsmDebugFramePop: PopDebugFrame(ContextOf(r[0])); return;
    case AsmRoutine::DebugLineHook: AsmHooks.debugLineHook(static_cast<int32_t>(r[1]), TextAt(r[2])); return;
    case AsmRoutine::ProfileStamp: AsmHooks.profileStamp(static_cast<int32_t>(r[0]), TextAt(r[1])); return;
    case AsmRoutine::RunProcedure: {
        auto* procedure = static_cast<Instruction*>(const_cast<void*>(AsmProcedureForHandle(r[1])));
        ProgramContext* context = ContextOf(r[0]);
        if (procedure && context) RunProcedureIn(context, procedure);
        return;
    }
    case AsmRoutine::SaveSp: Builtin___savesp(); return;
    case AsmRoutine::Ptr: Builtin_ptr(); return;
    case AsmRoutine::Atan2: ReturnDouble(call, std::atan2(DoubleOf(r[0], r[1]), DoubleOf(r[2], r[3]))); return;
    default:
        if (Maths1 function = MathsFunction(routine)) ReturnDouble(call, function(DoubleOf(r[0], r[1])));
        return;
    }
}

}  // namespace

AsmServiceHooks AsmHooks = kDefaultHooks;

void ResetAsmHooks() { AsmHooks = kDefaultHooks; }

uint32_t AsmShiftLeftValue(uint32_t value, uint32_t count) {
    const uint32_t amount = count & 0xFF;
    return amount < 32 ? value << amount : 0;
}

uint32_t AsmShiftRightValue(uint32_t value, uint32_t count) {
    const uint32_t amount = count & 0xFF;
    return amount < 32 ? value >> amount : 0;
}

int32_t AsmSignedQuotient(int32_t dividend, int32_t divisor) {
    if (divisor == -1) return static_cast<int32_t>(0u - static_cast<uint32_t>(dividend));
    return dividend / divisor;
}

int32_t AsmDoubleToInt32(double value) {
    // Inside the int32 range the conversion truncates toward zero as below,
    // without the library's trunc (NaN fails both tests).
    if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
    if (!std::isfinite(value)) return 0;
    double whole = std::trunc(value);
    if (std::fabs(whole) >= 9223372036854775808.0) whole = std::fmod(whole, 4294967296.0);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(whole))));
}

AsmDebugFrame* AsmDebugFrameTop(const ProgramContext* context) {
    auto& frames = DebugFrames();
    auto found = frames.find(context);
    return found == frames.end() ? nullptr : found->second;
}

void DispatchAsmRoutine(ArmCall& call) {
    const bool stopping = StopFlag;
    if (call.number < static_cast<uint32_t>(AsmRoutine::Count)) {
        RunFixedRoutine(static_cast<AsmRoutine>(call.number), call);
    } else if (BuiltinHandler handler = AsmHandlerForRoutine(call.number)) {
        handler();
    }
    // A routine that ran script code may have stopped the program (an error
    // outside TRY, EXIT): the block stops with it. A stop already pending
    // when the block started (callasm's "Too many parameters") lets it run.
    if (StopFlag && !stopping) StopArmRun();
}

ArmOutcome RunAsmBlock(uint32_t base) {
    SetArmRoutineDispatcher(DispatchAsmRoutine);
    SetArmExactFaultAddresses(Switches.debugMode);
    const uint32_t registers[4] = {0, 0, 0, 0};
    ProgramContext* const context = CurrentContext;
    AsmDebugFrame* const frameTop = AsmDebugFrameTop(context);
    const ArmOutcome outcome = RunArmCode(base, registers);
    // Records a stopped run left behind (its functions never returned) go.
    while (context && AsmDebugFrameTop(context) != frameTop && AsmDebugFrameTop(context) != nullptr)
        PopDebugFrame(context);
    return outcome;
}

void ReportAsmOutcome(const ArmOutcome& outcome) {
    switch (outcome.stop) {
    case ArmStop::Returned:
    case ArmStop::Stopped:
        return;
    case ArmStop::TimeLimit:
    case ArmStop::Fault: {
        char detail[96];
        std::snprintf(detail, sizeof detail, "ARM fault at 0x%08" PRIx32 ", data address 0x%08" PRIx32,
                      outcome.address, outcome.dataAddress);
        LogRuntimeError(detail);
        platform::FaultReport report;
        report.kind = outcome.fault;
        report.instructionAddress = outcome.address;
        report.dataAddress = outcome.dataAddress;
        if (platform::RaiseFault(report)) return;
        const FaultRecord fault{static_cast<uint32_t>(report.kind), report.instructionAddress, report.dataAddress};
        ReportException(CurrentContext, CurrentProcName, fault);
        return;
    }
    }
}

}  // namespace qob
