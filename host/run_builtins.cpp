// host/run_builtins.cpp
// run, runex, runfile, runfileex, eval, compile, makeexe and import.

#include "host/run_builtins.h"

#include <algorithm>
#include <string>

#include "compiler/compile_messages.h"
#include "host/command_line.h"
#include "host/driver.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "runtime/data/number_text.h"
#include "runtime/data/text_routines.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

namespace {

// The top cell as text; a number becomes its text.
std::string PopText() {
    const StackEntry* cell = PopStackEntry();
    const char* text = StackEntryString(cell);
    return text ? text : "";
}

void PushContext(const ProgramContext* context) {
    PushNumber(static_cast<double>(reinterpret_cast<uintptr_t>(context)));
}

// A name as a file to run: it must be a file, not merely match one (a
// source text may hold "*" or "?").
bool IsProgramFile(const std::string& name) { return platform::GetPathKind(name) == platform::PathKind::File; }

void ShowFileNotFound(const std::string& name) {
    const std::string message = "Syntax error of file not found!\n\"" + name + "\"";
    ShowMessageBox(message.c_str(), "Run error", platform::MB_OK);
}

bool EndsWithSourceExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension == ".qob";
}

// run and runfile, with or without range checking.
void RunBuiltin(bool fileOnly, bool rangeCheck) {
    const std::string name = PopText();
    if (IsCompileInProgress()) {
        PushNumber(0);
        return;
    }
    const bool savedRangeCheck = Switches.rangeCheck;
    if (rangeCheck) Switches.rangeCheck = true;
    ProgramContext* context = RunFileOrSource(name.c_str(), fileOnly);
    Switches.rangeCheck = savedRangeCheck;
    PushContext(context);
}

}  // namespace

ProgramContext* RunFileOrSource(const char* nameOrText, bool fileOnly) {
    const std::string resolved = FindCompiledFile(nameOrText);
    ProgramContext* context = nullptr;
    LoaderFlag = true;
    if (IsProgramFile(resolved))
        context = CompileAndRun(resolved.c_str(), nullptr, false, kContextIndependent);
    else if (fileOnly)
        ShowFileNotFound(resolved);
    else
        context = CompileAndRun(nullptr, nameOrText, false, kContextIndependent);
    LoaderFlag = false;
    return context;
}

ProgramContext* RunFileOrSourceEx(const char* nameOrText, bool fileOnly, int64_t parentMode) {
    const std::string resolved = FindCompiledFile(nameOrText);
    VariableRecord* savedLocals = LocalVariableList;
    ProgramContext* context = nullptr;
    if (IsProgramFile(resolved))
        context = CompileAndRun(resolved.c_str(), nullptr, false, parentMode);
    else if (fileOnly)
        ShowFileNotFound(nameOrText);
    else
        context = CompileAndRun(nullptr, nameOrText, false, parentMode);
    LocalVariableList = savedLocals;
    return context;
}

void CompileFile(const char* nameOrText, bool makeMode) {
    const std::string resolved = FindCompiledFile(nameOrText);
    // Only the compiled file of this very source goes; any other name could
    // be an unrelated file.
    if (EndsWithSourceExtension(resolved)) (void)platform::DeleteFile(CompiledFileNameFor(resolved));
    Switches.makeMode = makeMode;
    if (IsProgramFile(resolved))
        (void)CompileAndRun(resolved.c_str(), nullptr, true, kContextIndependent);
    else
        (void)CompileAndRun(nullptr, nameOrText, true, kContextIndependent);
    Switches.makeMode = false;
}

void Builtin_run() { RunBuiltin(false, false); }
void Builtin_runex() { RunBuiltin(false, true); }
void Builtin_runfileex() { RunBuiltin(true, true); }

void Builtin_runfile() {
    // The RUNFILE opcode names its file in its text and is a statement: it
    // leaves nothing on the stack.
    const Instruction* node = CurrentInstruction;
    if (node && node->opcode == static_cast<uint32_t>(Opcode::RUNFILE) && node->text) {
        if (!IsCompileInProgress()) (void)RunFileOrSource(std::string(node->text).c_str(), true);
        return;
    }
    RunBuiltin(true, false);
}

void Builtin_eval() {
    const double endFlag = PopNumber();
    const double mode = PopNumber();
    const std::string text = PopText();
    if (IsCompileInProgress()) {
        PushNumber(0);
        return;
    }
    ProgramContext* context = RunFileOrSourceEx(text.c_str(), false, TruncToInt64(mode));
    if (context && endFlag != 0.0) {
        EndProgramContext(context);
        context = nullptr;
    }
    PushContext(context);
}

void Builtin_compile() {
    const std::string name = PopText();
    if (IsCompileInProgress()) return;
    CompileFile(name.c_str(), false);
}

void Builtin_makeexe() {
    const double kind = PopNumber();
    (void)PopText();  // the executable's name: building one is left to outside tools
    const std::string program = PopText();
    if (IsCompileInProgress()) return;
    if (kind == 1.0) Switches.desktopPlatform = true;
    CompileFile(program.c_str(), true);
    Switches.desktopPlatform = false;
}

void Builtin_import() {
    const double callKind = PopNumber();
    const double wideTexts = PopNumber();
    const double resultKind = PopNumber();
    const double argumentCount = PopNumber();
    const std::string exportName = PopText();
    const std::string library = PopText();
    const std::string name = PopText();
    const auto count = static_cast<uint8_t>(std::clamp<int64_t>(TruncToInt64(argumentCount), 0, UINT8_MAX));
    (void)DeclareDllFunction(name, exportName, library, count, resultKind != 0.0, wideTexts != 0.0, callKind != 0.0);
}

}  // namespace qob
