// windows/event_calls.h
// Running a window's script event procedure with (window, message, wParam,
// lParam), the routing of messages and game events through the event table,
// and the event-table built-ins.
#pragma once

#include <cstdint>

#include "windows/event_table.h"

namespace qob {

struct Instruction;
struct ProgramContext;
struct StackEntry;
struct WindowRecord;

// The result of the last window event procedure or DispatchEvent call a
// window procedure made (the game loops read it too).
extern int32_t LastEventResult;

// Whether the node is the start of a procedure of the context's program.
[[nodiscard]] bool IsProcedureStartOf(const ProgramContext* context, const Instruction* node);
// Whether mark lies below top on a value stack (a run left cells above it).
[[nodiscard]] bool StackEntryIsAbove(const StackEntry* top, const StackEntry* mark);
// How many values the procedure's parameter nodes take off the stack.
[[nodiscard]] int32_t ProcedureParameterCount(const Instruction* procedure);

// Runs procedure (a procedure start of context's code) with the four values
// and gives its result: the value a function returned, as a 32-bit integer
// (a text converts as a number); 1 for a procedure that returned nothing or
// could not run (its context gone or ending). The value stack is left as it
// was found. A procedure whose parameters are four plain parameter nodes (or
// two fused ones) gets its values written straight into the parameters of
// its cached frame from its second run on.
int32_t RunWindowEventProcedure(ProgramContext* context, Instruction* procedure, int32_t window, int32_t message,
                                int32_t wParam, int32_t lParam);

// What every window procedure of a record runs first: the record's event
// procedure (in the context that supplied it) with (window, message, word,
// value), then, while the answer is not 0, the event table. The answer goes to
// LastEventResult too; 1 when neither ran. record may be null.
int32_t RunRecordEvents(uintptr_t window, const WindowRecord* record, ProgramContext* context, uint32_t message,
                        int32_t word, int32_t value);

// Runs the event procedure of the window's record without default
// processing: 0 when there is no record or procedure, else 1 when the
// procedure returned 0 and 0 otherwise; its result goes to LastEventResult.
int32_t CallWindowEvent(uintptr_t window, uint32_t message, int32_t wParam, int32_t lParam);

// Runs a record's procedure in its owner's context. The owner and procedure
// are read first: the procedure may remove the record.
int32_t InvokeScriptCallback(const EventRecord* record, uint32_t window, uint32_t message, int32_t wParam,
                             int32_t lParam);

// The result of the matching record's procedure, or 1 when none matches.
int32_t DispatchEvent(uint32_t window, uint32_t message, int32_t wParam, int32_t lParam);

// ADDEVENT (window, code, id, procedure): a record owned by the current
// context, at the head of the table; a procedure that is no procedure start
// of the current program adds nothing.
void Builtin_ADDEVENT();
// CLEAREVENTS (window): removes the window's records; 0 removes every record.
void Builtin_CLEAREVENTS();
// __controltoclipboard (value): takes its argument and does nothing else.
void Builtin___controltoclipboard();

}  // namespace qob
