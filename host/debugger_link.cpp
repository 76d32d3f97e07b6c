// host/debugger_link.cpp
// The registry protocol with the debugger, the breakpoint table, the per-line
// hook and the command loop that serves the debugger.

#include "host/debugger_link.h"

#include <pthread.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/engine_state.h"
#include "host/debugger_views.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/data/text_routines.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

uint8_t BreakpointUpdateFlag = 0;

namespace {

using platform::HKEY;

// The records, made with the first breakpoint (most runs never set one, and
// a start-up should not touch them); from then on all kMaxBreakpoints of
// them exist, so none moves. Records 0 to gBreakpointCount - 1 are in use or
// free; the table exists whenever that count is above 0.
std::unique_ptr<std::array<Breakpoint, kMaxBreakpoints>> gBreakpointTable;
int32_t gBreakpointCount = 0;

Breakpoint& BreakpointRecord(int32_t index) { return (*gBreakpointTable)[static_cast<size_t>(index)]; }

int32_t gStepMode = 0;
int32_t gStepNesting = 0;          // STEPOVER: lines of deeper runs do not stop
constexpr int32_t kNoLine = INT32_MIN;
int32_t gLastLine = kNoLine;       // line of the previous hook call
uint32_t gLastPollTick = 0;        // tick of the last periodic poll

ViewReply gReply;                  // served under the interpreter lock: one at a time

// Registry names are UTF-16; the system's texts are 8-bit.
std::vector<uint16_t> Wide(std::string_view text) { return platform::DecodeAnsi(text); }

HKEY OpenDebuggerKey() {
    HKEY key = nullptr;
    if (platform::RegOpenKeyExW(platform::HKEY_CURRENT_USER, Wide(kDebuggerKey), &key) != platform::ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Waits without holding the interpreter lock, so script threads go on.
void SleepUnlocked(uint32_t milliseconds) {
    InterpreterUnlockScope unlocked;
    platform::Sleep(milliseconds);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view FileNamePart(std::string_view file) {
    const size_t separator = file.find_last_of("\\/");
    return separator == std::string_view::npos ? file : file.substr(separator + 1);
}

// Whether a breakpoint's file (in DebuggerFileName form) names the hook's
// file; compared in place, since the hook runs before every line.
bool SameFile(const std::string& breakpointFile, const char* file) {
    if (!file) return breakpointFile == "<null>";
    const std::string_view name = FileNamePart(file);
    if (name.empty()) return breakpointFile == "<null>";
    if (name.size() != breakpointFile.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (LowerAscii(name[i]) != breakpointFile[i]) return false;
    return true;
}

void FreeBreakpoint(int32_t index) {
    BreakpointRecord(index).used = false;
    BreakpointRecord(index).file.clear();
}

// Puts a breakpoint into the first free record, or at the count; false when
// the table is full.
bool PlaceBreakpoint(std::string file, int32_t line, uint8_t temporary) {
    int32_t index = 0;
    while (index < gBreakpointCount && BreakpointRecord(index).used) ++index;
    if (index == kMaxBreakpoints) return false;
    if (!gBreakpointTable) gBreakpointTable = std::make_unique<std::array<Breakpoint, kMaxBreakpoints>>();
    if (index == gBreakpointCount) ++gBreakpointCount;
    else BreakpointUpdateFlag = 0;
    BreakpointRecord(index) = {std::move(file), line, temporary, true};
    return true;
}

int32_t LineOf(const std::string& token) {
    return static_cast<int32_t>(TruncToInt64(StringToNumber(token.c_str())));
}

// "a|b||c" -> "a", "b", "", "c".
std::vector<std::string> SplitTokens(std::string_view text) {
    std::vector<std::string> tokens;
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        tokens.emplace_back(text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    if (!tokens.empty() && tokens.back().empty()) tokens.pop_back();
    return tokens;
}

// The debugger has gone or asked to stop. A script thread ends alone; the
// main thread shuts the runtime down and ends the process.
[[noreturn]] void EndDebuggedThread() {
    if (gettid() == getpid()) {
        ShutdownRuntimeOnce();
        if (Engine.graphicsInitialised) ShutdownGraphics();
        std::fflush(nullptr);
        std::exit(0);
    }
    while (HoldsInterpreterLock()) ReleaseInterpreterLock();
    pthread_exit(nullptr);
}

// Bytes of physical memory still available: MemAvailable, else sysinfo.
uint64_t AvailablePhysicalMemory() {
    if (std::FILE* file = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kilobytes = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, file))
            found = std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1;
        std::fclose(file);
        if (found) return kilobytes * 1024;
    }
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return 0;
    return static_cast<uint64_t>(info.freeram) * info.mem_unit;
}

}  // namespace

int32_t DebugStepMode() { return gStepMode; }

std::string DebuggerFileName(std::string_view file) {
    std::string name(FileNamePart(file));
    if (name.empty()) return "<null>";
    for (char& c : name) c = LowerAscii(c);
    return name;
}

// --- the registry key ------------------------------------------------------------

bool WaitForRegistryKey(const char* keyName) {
    const uint32_t start = platform::GetTickCount();
    for (;;) {
        HKEY key = nullptr;
        if (platform::RegOpenKeyExW(platform::HKEY_CURRENT_USER, Wide(keyName), &key) == platform::ERROR_SUCCESS) {
            platform::RegCloseKey(key);
            return true;
        }
        if (platform::GetTickCount() - start >= kKeyWaitLimit) return false;
        SleepUnlocked(kKeyRetryInterval);
    }
}

void WriteDebuggerValue(const char* valueName, std::string_view text) {
    HKEY key = nullptr;
    if (platform::RegCreateKeyExW(platform::HKEY_CURRENT_USER, Wide(kDebuggerKey), &key) != platform::ERROR_SUCCESS)
        return;
    std::vector<uint16_t> units = Wide(text);
    units.push_back(0);
    platform::RegSetValueExW(key, Wide(valueName), platform::REG_SZ,
                             std::span(reinterpret_cast<const uint8_t*>(units.data()), units.size() * 2));
    platform::RegCloseKey(key);
}

std::optional<std::string> ReadDebuggerValue(const char* valueName) {
    HKEY key = OpenDebuggerKey();
    if (!key) return std::nullopt;
    const std::vector<uint16_t> name = Wide(valueName);
    // Read whole, whatever its length: a command cut short would be another command.
    std::vector<uint16_t> units;
    uint32_t size = 0;
    int32_t result = platform::RegQueryValueExW(key, name, nullptr, nullptr, &size);
    while (result == platform::ERROR_SUCCESS) {
        units.resize(size / 2 + 1);
        uint32_t capacity = static_cast<uint32_t>(units.size() * 2);
        result = platform::RegQueryValueExW(key, name, nullptr, reinterpret_cast<uint8_t*>(units.data()), &capacity);
        if (result == platform::ERROR_MORE_DATA) {
            size = capacity;
            result = platform::ERROR_SUCCESS;
            continue;
        }
        units.resize(capacity / 2);
        break;
    }
    platform::RegCloseKey(key);
    if (result != platform::ERROR_SUCCESS) return std::nullopt;
    while (!units.empty() && units.back() == 0) units.pop_back();
    return platform::EncodeAnsi(units);
}

void DeleteRegistryValue(const char* keyName, const char* valueName) {
    HKEY key = nullptr;
    if (platform::RegOpenKeyExW(platform::HKEY_CURRENT_USER, Wide(keyName), &key) != platform::ERROR_SUCCESS) return;
    platform::RegDeleteValueW(key, Wide(valueName));
    platform::RegCloseKey(key);
}

void DeleteDebuggerValues() {
    DeleteRegistryValue(kDebuggerKey, "RUNNING");
    DeleteRegistryValue(kDebuggerKey, "IDE");
    DeleteRegistryValue(kDebuggerKey, "RUNTIME");
}

// --- breakpoints ---------------------------------------------------------------------

bool SetBreakpoint(std::string_view file, int32_t line, uint8_t temporary) {
    BreakpointUpdateFlag = 1;
    std::string name = DebuggerFileName(file);
    if (!temporary) {
        for (int32_t i = 0; i < gBreakpointCount; ++i) {
            const Breakpoint& breakpoint = BreakpointRecord(i);
            if (!breakpoint.used || breakpoint.line != line || breakpoint.file != name) continue;
            FreeBreakpoint(i);
            BreakpointUpdateFlag = 0;
            return true;
        }
    }
    return PlaceBreakpoint(std::move(name), line, temporary);
}

void ClearTemporaryBreakpoints(std::string_view file) {
    const std::string name = DebuggerFileName(file);
    for (int32_t i = 0; i < gBreakpointCount; ++i) {
        const Breakpoint& breakpoint = BreakpointRecord(i);
        if (!breakpoint.used || !breakpoint.temporary || breakpoint.file != name) continue;
        FreeBreakpoint(i);
        if (i == gBreakpointCount - 1) --gBreakpointCount;
    }
}

void ClearBreakpoints() {
    for (int32_t i = 0; i < gBreakpointCount; ++i) FreeBreakpoint(i);
    gBreakpointCount = 0;
}

int32_t BreakpointCount() { return gBreakpointCount; }

const Breakpoint* BreakpointAt(int32_t index) {
    return index >= 0 && index < gBreakpointCount ? &BreakpointRecord(index) : nullptr;
}

void ReadInitialBreakpoints() {
    SetDebuggerBreakRoutine(BreakIntoDebugger);
    if (!WaitForRegistryKey(kDebuggerKey)) return;
    const std::optional<std::string> list = ReadDebuggerValue("IDE");
    if (!list) return;
    DeleteRegistryValue(kDebuggerKey, "IDE");
    const std::vector<std::string> tokens = SplitTokens(*list);
    for (size_t i = 0; i + 1 < tokens.size(); i += 2)
        if (!PlaceBreakpoint(DebuggerFileName(tokens[i]), LineOf(tokens[i + 1]), 0)) break;
}

// --- the hook ----------------------------------------------------------------------------

bool ServeDebugger(const char* file, bool poll) {
    const std::optional<std::string> commands = ReadDebuggerValue("IDE");
    if (!ReadDebuggerValue("RUNNING")) {
        DeleteDebuggerValues();
        EndDebuggedThread();
    }
    if (!commands) return false;
    DeleteRegistryValue(kDebuggerKey, "IDE");

    const std::vector<std::string> tokens = SplitTokens(*commands);
    const std::string here = file ? DebuggerFileName(file) : "<null>";
    gReply.Clear();
    bool resumed = false;
    // A command takes the argument tokens after it; an incomplete one does nothing.
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& command = tokens[i];
        const size_t left = tokens.size() - i - 1;
        if (command == "BREAK") {
            if (left >= 2) SetBreakpoint(tokens[i + 1], LineOf(tokens[i + 2]), 0);
            i += left < 2 ? left : 2;
        } else if (command == "STOP") {
            gStepMode = 0;
            DeleteDebuggerValues();
            EndDebuggedThread();
        } else if (command == "CLEAR") {
            ClearBreakpoints();
        } else if (command == "RUNTO") {
            if (left >= 2 && !poll) {
                gStepMode = 0;
                ClearTemporaryBreakpoints(tokens[i + 1]);
                SetBreakpoint(tokens[i + 1], LineOf(tokens[i + 2]), 1);
                resumed = true;
            }
            i += left < 2 ? left : 2;
        } else if (command == "STEPOVER" || command == "STEPINTO") {
            if (!poll) {
                gStepMode = command == "STEPOVER" ? 1 : 2;
                gStepNesting = RunNesting();
                resumed = true;
            }
        } else if (command == "RUN") {
            gStepMode = 0;
            ClearTemporaryBreakpoints(here);
            resumed = true;
        } else if (command == "LOCAL") {
            AppendLocalView(gReply);
        } else if (command == "LOCALSTACK") {
            if (left >= 1) AppendLocalStackView(gReply, tokens[++i]);
        } else if (command == "STACKPARAMS") {
            if (left >= 1) AppendStackParamsView(gReply, tokens[++i]);
        } else if (command == "APPGLOBAL") {
            AppendApplicationGlobalView(gReply);
        } else if (command == "GLOBAL") {
            AppendGlobalView(gReply);
        } else if (command == "TRACE") {
            // Every token after it is an expression to watch.
            for (++i; i < tokens.size(); ++i) AppendTraceView(gReply, tokens[i]);
        } else if (command == "CALLSTACK") {
            AppendCallStackView(gReply);
        } else if (command == "REGISTERS") {
            AppendRegistersView(gReply);
        } else if (command == "STACK") {
            AppendStackView(gReply);
            i += left >= 1 ? 1 : 0;
        } else if (command == "APPLICATION") {
            AppendApplicationView(gReply);
        } else if (command == "DISASM") {
            AppendDisassemblyView(gReply);
            i += left >= 1 ? 1 : 0;
        }
    }
    if (gReply.Count() == 0) return resumed;
    // Taken out before the wait, which lets other script threads serve the debugger.
    std::string reply = "\nVAR%\n" + std::to_string(gReply.Count());
    reply += gReply.Items();
    if (WaitForRegistryKey(kDebuggerKey)) WriteDebuggerValue("RUNTIME", reply);
    return resumed;
}

void BreakIntoDebugger(const char* file, int32_t line) {
    const std::string name = file ? DebuggerFileName(file) : "<null>";
    if (WaitForRegistryKey(kDebuggerKey))
        WriteDebuggerValue("RUNTIME", "\nBREAK\n" + name + "\n" + std::to_string(line));
    do {
        SleepUnlocked(kStoppedPollInterval);
    } while (!ServeDebugger(file, false));
}

void DebugLineHook(int32_t line, const char* file) {
    NoteDebuggedFrame(CurrentContext, LocalVariableList, CurrentProcName);
    // A program that stays on one line (a loop on one line) keeps the
    // debugger served, and stops at most once there.
    if (line == gLastLine) {
        ServeDebugger(file, true);
        return;
    }
    gLastLine = line;
    const uint32_t now = platform::GetTickCount();
    if (now - gLastPollTick >= kPeriodicPollInterval) {
        ServeDebugger(file, true);
        gLastPollTick = now;
    }
    bool hit = false;
    for (int32_t i = gBreakpointCount - 1; i >= 0 && !hit; --i) {
        const Breakpoint& breakpoint = BreakpointRecord(i);
        if (!breakpoint.used || breakpoint.line != line || !SameFile(breakpoint.file, file)) continue;
        hit = true;
        if (breakpoint.temporary) FreeBreakpoint(i);
    }
    if (!hit) {
        if (gStepMode == 0) return;
        // Stepping over a call: the lines of the called procedures run on.
        if (gStepMode == 1 && RunNesting() > gStepNesting) return;
    }
    BreakIntoDebugger(file, line);
}

void ResetDebuggerLink() {
    ClearBreakpoints();
    gStepMode = 0;
    gStepNesting = 0;
    gLastLine = kNoLine;
    gLastPollTick = 0;
    ForgetDebuggedFrames();
}

bool IsDebugStep(const Instruction* node) { return node && node->handler == &Builtin___debug; }

void Builtin___debug() {
    const InstructionExtra* extra = CurrentInstruction ? CurrentInstruction->extra : nullptr;
    if (!extra) return;
    DebugLineHook(extra->line, extra->sourceFile);
}

void Builtin_debug() {
    const StackEntry* cell = PopStackEntry();
    if (!RuntimeLogSwitch) return;
    std::string text;
    if (cell->text && (cell->flags & kEntryWide))
        text = platform::EncodeAnsi(std::span(reinterpret_cast<const uint16_t*>(cell->text),
                                              platform::WideTextLength(reinterpret_cast<const uint16_t*>(cell->text))));
    else if (const char* plain = StackEntryString(cell))
        text = plain;
    char available[32];
    std::snprintf(available, sizeof available, "%llu", static_cast<unsigned long long>(AvailablePhysicalMemory()));
    char* grouped = InsertThousandsSeparators(available);
    const std::string line = std::string("DEBUG (") + (grouped ? grouped : available) + " bytes free)> " + text + "\n";
    platform::FreeBlock(grouped);
    LogRuntimeError(line.c_str());
}

}  // namespace qob
