// runtime/vm/script_threads.h
// Script procedures on threads of their own, and the end of an application
// that may still be running on one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qob {

struct ProgramContext;

// Ends a live application at once, or, when its code is running (a run on
// any thread, or the current context), stops its runs and leaves the end to
// whoever waits for its outermost run (the driver, the message loop).
void EndApplication(ProgramContext* context);

// createthread (stack size, procedure, parameter, flags, fifth value): runs
// the procedure (a start address of the current program) with the parameter
// on a new thread and pushes the thread's handle, or 0. Only the stack size
// is honoured, raised to kMinScriptThreadStack; the creation flags (a
// suspended start among them) and the fifth value are ignored. A script
// thread runs script code only while it holds the interpreter lock, so it
// runs while the threads that started it wait (sleep, wait for a message) or
// after they have left script code.
void Builtin_createthread();

// The least stack a script thread gets: what the machine, the fault guard
// and the built-ins need below a deep script recursion.
constexpr size_t kMinScriptThreadStack = 1024 * 1024;

// Whether a script thread is inside a run of the context (perhaps waiting in
// a blocking built-in while other threads run).
[[nodiscard]] bool HasScriptThreadRuns(const ProgramContext* context);

// Waits for a script thread to end and gives its exit code (the procedure's
// value as an unsigned 32-bit number; 0 when it left none or could not run),
// releasing its handle. Nullopt for a handle that names no thread. Lets other
// script threads run meanwhile.
[[nodiscard]] std::optional<uint32_t> JoinScriptThread(double handle);

}  // namespace qob
