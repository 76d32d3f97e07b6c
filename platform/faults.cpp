// platform/faults.cpp
// Fault signals caught on an alternate stack and turned into a long jump back
// to the innermost guard of the faulting thread.
#include "platform/faults.h"

#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace qob::platform {

const char* GetFaultName(uint32_t exceptionCode) {
    switch (static_cast<FaultKind>(exceptionCode)) {
        case FaultKind::Misaligned: return "Address misaligned";
        case FaultKind::Breakpoint: return "Breakpoint";
        case FaultKind::SingleStep: return "Single step";
        case FaultKind::AccessViolation: return "Access violation";
        case FaultKind::IllegalInstruction: return "Illegal instruction";
        case FaultKind::IntegerDivideByZero: return "Integer divide by 0";
        case FaultKind::IntegerOverflow: return "Integer overflow";
        case FaultKind::PrivilegedInstruction: return "Priviledged instruction";
        case FaultKind::TimeLimitExceeded: return "Time limit exceeded";
        case FaultKind::Other: break;
    }
    return "Floating point, or software exception";
}

const char* GetFaultName(FaultKind kind) { return GetFaultName(static_cast<uint32_t>(kind)); }

FaultKind ClassifyFault(int signal, int code) {
    switch (signal) {
        case SIGSEGV: return FaultKind::AccessViolation;
        case SIGBUS: return code == BUS_ADRALN ? FaultKind::Misaligned : FaultKind::AccessViolation;
        case SIGILL:
            return code == ILL_PRVOPC || code == ILL_PRVREG ? FaultKind::PrivilegedInstruction
                                                            : FaultKind::IllegalInstruction;
        case SIGFPE:
            if (code == FPE_INTDIV) return FaultKind::IntegerDivideByZero;
            if (code == FPE_INTOVF) return FaultKind::IntegerOverflow;
            return FaultKind::Other;
        case SIGTRAP: return code == TRAP_TRACE ? FaultKind::SingleStep : FaultKind::Breakpoint;
        default: return FaultKind::Other;
    }
}

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};

struct Guard {
    // The compiler's own jump buffer (frame, stack and resume address): every
    // procedure run takes a guard, and the library's sigsetjmp costs several
    // times more. The guarded function saves whatever else the jump loses.
    void* jump[5];
    Guard* outer;
    FaultReport* report;
};

thread_local Guard* tInnermostGuard = nullptr;

// The actions in force before ours, put back when a fault finds no guard.
struct sigaction gPreviousActions[NSIG];

uintptr_t InstructionAddressOf(const void* machineContext) {
    const auto* context = static_cast<const ucontext_t*>(machineContext);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(context->uc_mcontext.pc);
#else
#error "the fault guard knows the instruction pointer of x86-64 and AArch64 only"
#endif
}

void HandleFault(int signal, siginfo_t* info, void* machineContext) {
    Guard* guard = tInnermostGuard;
    if (guard == nullptr) {
        // Not ours: let the previous action (normally the default, which ends
        // the process) take the fault. A hardware fault repeats when the
        // handler returns; a signal sent by someone is sent again.
        sigaction(signal, &gPreviousActions[signal], nullptr);
        if (info->si_code <= 0) raise(signal);
        return;
    }
    FaultReport& report = *guard->report;
    report.signal = signal;
    report.code = info->si_code;
    report.kind = ClassifyFault(signal, info->si_code);
    report.instructionAddress = InstructionAddressOf(machineContext);
    const bool fromHardware = info->si_code > 0;
    report.dataAddress = fromHardware && (signal == SIGSEGV || signal == SIGBUS)
                             ? reinterpret_cast<uintptr_t>(info->si_addr)
                             : report.instructionAddress;
    // The guard is spent: a fault met while the caller deals with this one
    // goes to the next guard out.
    tInnermostGuard = guard->outer;
#if defined(__SANITIZE_ADDRESS__)
    // The frames jumped over are dead: their poisoned stack goes with them
    // (the sanitizer does this itself for the library's long jumps).
    __asan_handle_no_return();
#endif
    __builtin_longjmp(guard->jump, 1);
}

void InstallFaultHandlers() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action = {};
        action.sa_sigaction = HandleFault;
        sigemptyset(&action.sa_mask);
        // The jump back does not restore the signal mask (the guard saves
        // none, to spare a system call per guard), so the signal
        // must not be blocked while the handler runs, or the next fault of
        // that kind would kill the process.
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
        for (int signal : kFaultSignals) sigaction(signal, &action, &gPreviousActions[signal]);
    });
}

// Each thread needs its own alternate stack, so that a fault caused by
// running out of stack can still be handled.
class AlternateStack {
public:
    // Whether the thread has an alternate stack (ours or someone else's).
    bool Ensure() {
        if (memory != nullptr || foreign) return true;
        stack_t current = {};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) {
            foreign = true;  // someone else's stack serves this thread already
            return true;
        }
        size = std::max<size_t>(static_cast<size_t>(sysconf(_SC_SIGSTKSZ)), 64 * 1024);
        void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mapped == MAP_FAILED) return false;
        stack_t stack = {};
        stack.ss_sp = mapped;
        stack.ss_size = size;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(mapped, size);
            return false;
        }
        memory = mapped;
        return true;
    }

    ~AlternateStack() {
        if (memory == nullptr) return;
        stack_t disable = {};
        disable.ss_flags = SS_DISABLE;
        sigaltstack(&disable, nullptr);
        munmap(memory, size);
    }

private:
    void* memory = nullptr;
    size_t size = 0;
    bool foreign = false;
};

thread_local AlternateStack tAlternateStack;

// Set once the handlers are installed and the thread has its alternate stack:
// every procedure run takes a guard, and a plain flag is all it then tests
// (the stack object above has a destructor, so each touch of it checks its
// thread-local initialisation). A thread whose stack could not be made tries
// again at its next guard.
thread_local bool tThreadPrepared = false;

void PrepareThread() {
    InstallFaultHandlers();
    tThreadPrepared = tAlternateStack.Ensure();
}

// Leaves the guard however the guarded call ends: normally, by a C++
// exception, or (already left by the handler) after a fault.
struct GuardScope {
    Guard* outer;
    ~GuardScope() { tInnermostGuard = outer; }
};

}  // namespace

bool RunGuarded(void (*body)(void* context), void* context, FaultReport& report) {
    Guard guard;
    guard.outer = tInnermostGuard;
    // Inside another guard the thread is prepared already.
    if (!guard.outer && !tThreadPrepared) [[unlikely]]
        PrepareThread();
    guard.report = &report;
    GuardScope scope{guard.outer};
    if (__builtin_setjmp(guard.jump) != 0) return false;
    tInnermostGuard = &guard;
    body(context);
    return true;
}

bool RaiseFault(const FaultReport& report) {
    Guard* guard = tInnermostGuard;
    if (guard == nullptr) return false;
    *guard->report = report;
    tInnermostGuard = guard->outer;
#if defined(__SANITIZE_ADDRESS__)
    __asan_handle_no_return();
#endif
    __builtin_longjmp(guard->jump, 1);
}

bool IsGuarded() { return tInnermostGuard != nullptr; }

}  // namespace qob::platform
