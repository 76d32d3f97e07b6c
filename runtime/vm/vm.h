// runtime/vm/vm.h
// The threaded-code virtual machine: its process-wide state, RunProcedure, the
// control instructions, loops, TRY and the method calls.
#pragma once

#include <cstdint>

namespace qob {

struct Instruction;
struct ProgramContext;
struct StackEntry;
struct VariableRecord;
struct RunRecord;

// --- process-wide state (guarded by the interpreter lock, see interpreter_lock.h) ---

extern Instruction* CurrentInstruction;   // node being run; a jump stores its target here
extern bool StopFlag;                     // ends the innermost run at the next node boundary
extern ProgramContext* EndingContext;     // context EXIT is ending: its runs all stop
extern VariableRecord* LocalVariableList; // head record of the running procedure's frame
extern VariableRecord* MemberList;        // instance head of the object whose method runs (current object)
extern const char* CurrentProcName;       // running procedure's name, for reports

// Set by a caller right before RunProcedure; procedure, frame, entry mode and
// object are consumed by the call.
extern ProgramContext* CallInContext;
extern Instruction* CallInProcedure;      // STARTPROC node
extern VariableRecord* CallInFrame;       // a local frame to use instead of a cached one
extern int32_t EntryMode;                 // 1: four parameter nodes stored already; 2: two double ones
extern VariableRecord* ObjectToBind;      // bound as SELF$ for a method call

// Node whose jump target PatchPendingJump fills in (null: nothing pending).
extern Instruction* PendingJumpNode;

// --- TRY ---------------------------------------------------------------------------

constexpr int kMaxTryEntries = 1024;

// A TRY in force. A fault resumes at the successor of node in the run that
// pushed it, with the frame index, stack top and call depth put back.
struct TryEntry {
    Instruction* node;          // the BRANCH that ends the TRY part
    RunRecord* run;             // the run that executed TRY
    ProgramContext* context;
    int32_t frameIndex;
    StackEntry* stackTop;
    int32_t callDepth;
};

// The kMaxTryEntries entries of a thread's TRY stack. They are made with the
// thread's first run or first entry, not with the thread: a thread that runs
// no script code, and the process until its first run, keep no pages for them.
class TryEntries {
public:
    TryEntry& operator[](int32_t index) { return (entries_ ? entries_ : Make())[index]; }
    // The thread ends and its entries with it.
    void Forget() { entries_ = nullptr; }

private:
    TryEntry* Make();
    TryEntry* entries_ = nullptr;
};

// TRY entries belong to the runs of one thread, so each thread has its own stack.
struct TryStackState {
    TryEntries entries;
    int32_t depth;
};
extern thread_local TryStackState TryStack;

// Whether an error raised now is inside a TRY of the current context.
[[nodiscard]] bool IsInsideTry(const ProgramContext* context);

// --- running -------------------------------------------------------------------------

// The CALL handler (procedure = the current node's jump target), and the one
// entry through which the rest of the system runs a procedure (set CallInContext
// and CallInProcedure first). Arguments are pushed before, inside an open
// argument frame; a function leaves its result on top of the value stack.
void RunProcedure();

// The CALL handler of compiled programs: RunProcedure's work, with the
// common call run in place by the dispatch loop that meets the node instead
// of by a nested loop (what the call does and reports is the same).
void Handle_CALL();

// Runs a procedure of a context the way other subsystems call back into scripts.
void RunProcedureIn(ProgramContext* context, Instruction* procedure);

// The lowest address of the calling thread's native stack that a run may
// reach: 256 KiB above the stack's low end, or half of a smaller stack. Each
// thread finds it on its first run and keeps it; a call below it is
// reported as nested too deeply. 1 when the stack's bounds are not known.
[[nodiscard]] uintptr_t FindStackLimit();

// Number of runs active on this thread (the native nesting of RunProcedure).
[[nodiscard]] int32_t RunNesting();

// A procedure that takes its arguments as a list (NPARMS) closes the frame its
// caller opened around them. The running procedure then leaves that frame
// closed when it ends, instead of putting back the frame index it started with.
void KeepCallerFrameClosed(const ProgramContext* context);

// --- control handlers ------------------------------------------------------------------

void NopHandler();
void Handle_ENDPROC();
void Handle_BRANCH();
void ConditionalJumpHandler();
// What a conditional jump node does once its condition is known: the
// machine goes on after the node, or after its target when jump is set.
void FinishConditionalJump(Instruction* node, bool jump);
void Handle_INITFOR();
void Handle_INITFOREACH();
void Handle_INITWHILE();
void Handle_ENDLOOP();
void Handle_FOR();
void Handle_FOREACH();
void Handle_BREAK();
void Handle_TRY();
void PopTryHandler();
void Handle_PULLCASE();
// What the PULLCASE node pull does with a number selector it would pop, when
// the table of the loop it runs in was built for it: the selector kept in its
// slot, the machine on at the label the number goes to. False, with nothing
// done, when there is no such table (the node then runs as it is).
bool SelectCaseAtOnce(Instruction* pull, double selector);
void PatchPendingJump();
void Handle_RETURN();
void Handle_SELFCALL();
void Handle_OBJRUN();
void CallOwnMethod();

// Frees the tracked allocations of the context's current depth and closes it
// (the work of ENDLOOP, also used when a run ends).
void EndCallDepth(ProgramContext* context);

}  // namespace qob
