// host/debugger_link.h
// The debugger link: an outside debugger drives a program run in debug mode
// through values of the registry key "QOBDEBUGGER" (breakpoints, stops,
// steps, views); the runtime polls it from the per-line hook.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qob {

struct Instruction;

// Values under HKEY_CURRENT_USER "QOBDEBUGGER": "IDE" holds the debugger's
// commands, "RUNNING" is present while a debugger is attached, "RUNTIME"
// holds the runtime's replies ("\nBREAK\n<file>\n<line>", "\nVAR%\n<count><items>").
constexpr const char* kDebuggerKey = "QOBDEBUGGER";

// Waits, in milliseconds of the tick count. Every wait sleeps between its
// polls and lets other script threads run meanwhile.
constexpr uint32_t kPeriodicPollInterval = 1000;  // lines running: the hook polls at most this often
constexpr uint32_t kStoppedPollInterval = 100;    // stopped: polls until a resume command
constexpr uint32_t kKeyRetryInterval = 101;       // opening the key: retries ...
constexpr uint32_t kKeyWaitLimit = 1000;          // ... until this much time has passed

constexpr int kMaxBreakpoints = 1024;

// A breakpoint; the file is kept in the form DebuggerFileName gives.
struct Breakpoint {
    std::string file;
    int32_t line;
    uint8_t temporary;  // set by RUNTO, removed when hit
    bool used;          // false: a free record
};

// Set to 1 by every SetBreakpoint, to 0 when it removes or reuses a record;
// the message and game loops read it.
extern uint8_t BreakpointUpdateFlag;

// Step mode: 0 run, 1 after STEPOVER, 2 after STEPINTO.
[[nodiscard]] int32_t DebugStepMode();

// The name both sides use for a source file: its file-name part, ASCII
// lower-cased ("<null>" for none). The hook sees the interned full path, the
// debugger sends names of its own; both are brought to this form.
[[nodiscard]] std::string DebuggerFileName(std::string_view file);

// --- the registry key ------------------------------------------------------------

// True when HKEY_CURRENT_USER\keyName can be opened: tries at once, then every
// kKeyRetryInterval ms until kKeyWaitLimit ms have passed.
[[nodiscard]] bool WaitForRegistryKey(const char* keyName);
// Creates or opens the debugger key and sets the value to the text (REG_SZ).
void WriteDebuggerValue(const char* valueName, std::string_view text);
// The value's text, or nullopt when the key or the value is missing.
[[nodiscard]] std::optional<std::string> ReadDebuggerValue(const char* valueName);
// Deletes one value when the key opens.
void DeleteRegistryValue(const char* keyName, const char* valueName);
// Deletes "RUNNING", "IDE" and "RUNTIME" (shut-down, and a debugger gone).
void DeleteDebuggerValues();

// --- breakpoints ---------------------------------------------------------------------

// A non-temporary breakpoint already set at the place is removed instead (a
// second "BREAK" toggles it). False when the table is full: the breakpoint
// is refused and no record beyond the table is written.
bool SetBreakpoint(std::string_view file, int32_t line, uint8_t temporary);
void ClearTemporaryBreakpoints(std::string_view file);
void ClearBreakpoints();
// Records below the count (free records included, with used false).
[[nodiscard]] int32_t BreakpointCount();
[[nodiscard]] const Breakpoint* BreakpointAt(int32_t index);

// Start-up in debug mode: connects the run-time error path to the debugger
// (after an OK in the error box the program stops for it, as at a
// breakpoint), then takes the initial breakpoint list from "IDE" (file names
// and line numbers alternating, separated by "|") and deletes it.
void ReadInitialBreakpoints();

// --- the hook --------------------------------------------------------------------------

// The per-line hook (line and source file of the statement about to run).
void DebugLineHook(int32_t line, const char* file);

// Reads and carries out the debugger's commands once (file: where the
// program stands). While polling (lines
// running), the commands that resume a stopped program are consumed without
// effect, except RUN. Returns true when a resume command was carried out.
// A missing "RUNNING" (the debugger has gone) or "STOP" ends the calling
// thread; on the main thread, the runtime shuts down and the process exits.
bool ServeDebugger(const char* file, bool poll);

// Stops the program at the line: tells the debugger "\nBREAK\n<file>\n<line>"
// and serves it until a resume command arrives. The run-time error path uses
// it too, after an OK in debug mode.
void BreakIntoDebugger(const char* file, int32_t line);

// Forgets the hook's state, the breakpoints and the step mode (a new run).
void ResetDebuggerLink();

// Whether the node is a per-line hook step (listings leave those out).
[[nodiscard]] bool IsDebugStep(const Instruction* node);

// __debug: the per-line hook step the compiler puts before each statement in
// debug mode; nothing for a node without a source position.
void Builtin___debug();

// debug (text): logs "DEBUG (<bytes free> bytes free)> <text>" when the
// run-time log is on.
void Builtin_debug();

}  // namespace qob
