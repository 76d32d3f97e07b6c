// runtime/vm/runtime_error.h
// Run-time errors: the one reporting path, the run-time log "debuglog.txt" and
// the reports of hardware faults caught around running code.
#pragma once

#include <cstdint>

namespace qob {

struct ProgramContext;

// Process-wide run-time log switch (on at start): 0 drops every log line.
extern int32_t RuntimeLogSwitch;

// Reports a run-time error. Inside a TRY of the current context it only stores
// the report in ERROR%. Otherwise it logs it, shows the "QOB Runtime Error" box
// and, unless continueFlag, sets the stop flag: the machine stops at the next
// node boundary. It returns normally either way (Cancel ends the process).
void RaiseRuntimeError(const char* message, uint8_t continueFlag);

// How many reports reached the error box (errors no TRY took) since start-up;
// the executable's exit status reads it.
[[nodiscard]] int32_t ReportedRuntimeErrorCount();

// Where an attached debugger takes over after OK is chosen in debug mode: it
// is given the current instruction's source file (null when it names none)
// and line, tells the debugger and returns when the debugger resumes the
// program. The debugger link installs it; null (the default) skips the wait.
using DebuggerBreakRoutine = void (*)(const char* sourceFile, int32_t line);
void SetDebuggerBreakRoutine(DebuggerBreakRoutine routine);

// Appends "date time : text" to the run-time log when logging is on.
void LogRuntimeError(const char* text);

// (Re)creates the run-time log (null: the root directory's "debuglog.txt") and
// writes its header. A file that cannot be created turns logging off.
void OpenDebugLog(const char* path);

// The path of the run-time log, or null before it is first opened.
[[nodiscard]] const char* DebugLogPath();

// What the machine knows of a hardware fault.
struct FaultRecord {
    uint32_t code;          // exception code (0xC0000005 access violation, ...)
    uintptr_t address;      // address of the faulting instruction
    uintptr_t dataAddress;  // address the instruction touched, when known
};

// The last fault ReportException handled.
extern FaultRecord LastFault;

// Name of a fault code ("Access violation", ...).
[[nodiscard]] const char* FaultName(uint32_t code);

// Reports a fault of running code of the context (label: the procedure name,
// or null); always 1. Outside TRY in an independent context it is a run-time
// error; otherwise "<name> at <address>" goes to ERROR%.
int ReportException(ProgramContext* context, const char* label, const FaultRecord& fault);

// "<name> at <address>" for a fault, a new block the caller frees.
[[nodiscard]] char* FormatExceptionText(const FaultRecord& fault);

// The routine that shuts the runtime down; Cancel runs it once and ends the process.
using ShutdownRoutine = void (*)();
void SetShutdownRoutine(ShutdownRoutine routine);
// Runs the shutdown routine the first time it is called; later calls do nothing.
void ShutdownRuntimeOnce();

}  // namespace qob
