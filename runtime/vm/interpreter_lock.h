// runtime/vm/interpreter_lock.h
// The interpreter lock: a thread runs script code only while it holds it. The
// machine's process-wide state is shared by all script threads under it.
#pragma once

#include <cstdint>

namespace qob {

struct Instruction;
struct ProgramContext;
struct VariableRecord;

// Takes / gives back the lock; nested takes by the holding thread count.
void AcquireInterpreterLock();
void ReleaseInterpreterLock();
[[nodiscard]] bool HoldsInterpreterLock();

// Held for a scope: what a thread entering script code from outside (a script
// thread, a callback from a device thread) wraps around RunProcedure.
class InterpreterLockGuard {
public:
    InterpreterLockGuard() { AcquireInterpreterLock(); }
    ~InterpreterLockGuard() { ReleaseInterpreterLock(); }
    InterpreterLockGuard(const InterpreterLockGuard&) = delete;
    InterpreterLockGuard& operator=(const InterpreterLockGuard&) = delete;
};

// The machine state another thread may change while this one waits.
struct SavedMachineState {
    ProgramContext* context;
    Instruction* instruction;
    VariableRecord* localList;
    VariableRecord* memberList;
    const char* procName;
    bool stopFlag;
    int32_t heldCount;
};

// Released for a scope by a built-in that blocks (sleeping, waiting for a
// message): saves the machine state, lets other script threads run, and puts
// the state back once the lock is held again. Does nothing when not held.
class InterpreterUnlockScope {
public:
    InterpreterUnlockScope();
    ~InterpreterUnlockScope();
    InterpreterUnlockScope(const InterpreterUnlockScope&) = delete;
    InterpreterUnlockScope& operator=(const InterpreterUnlockScope&) = delete;

private:
    SavedMachineState saved;
};

}  // namespace qob
