// runtime/vm/interpreter_lock.cpp
// One mutex for all script code, held recursively by the thread that runs it.

#include "runtime/vm/interpreter_lock.h"

#include <mutex>

#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

std::mutex gInterpreterMutex;
thread_local int32_t tHeldCount = 0;

}  // namespace

void AcquireInterpreterLock() {
    if (tHeldCount++ == 0) gInterpreterMutex.lock();
}

void ReleaseInterpreterLock() {
    if (tHeldCount == 0) return;
    if (--tHeldCount == 0) gInterpreterMutex.unlock();
}

bool HoldsInterpreterLock() { return tHeldCount > 0; }

InterpreterUnlockScope::InterpreterUnlockScope()
    : saved{CurrentContext, CurrentInstruction, LocalVariableList, MemberList, CurrentProcName, StopFlag, tHeldCount} {
    if (saved.heldCount == 0) return;
    tHeldCount = 0;
    gInterpreterMutex.unlock();
}

InterpreterUnlockScope::~InterpreterUnlockScope() {
    if (saved.heldCount == 0) return;
    gInterpreterMutex.lock();
    tHeldCount = saved.heldCount;
    CurrentContext = saved.context;
    CurrentInstruction = saved.instruction;
    LocalVariableList = saved.localList;
    MemberList = saved.memberList;
    CurrentProcName = saved.procName;
    StopFlag = saved.stopFlag;
}

}  // namespace qob
