// host/startup.cpp
// WinMain: the switches, registration, the predefined symbols, the programs
// in their order and shut-down; the embedded program; the exit status.

#include "host/startup.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "builtins/regex/regex_builtins.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "compiler/progress_window.h"
#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "host/compiler_hooks.h"
#include "host/debugger_link.h"
#include "host/driver.h"
#include "host/embedded_program.h"
#include "host/profiler.h"
#include "host/run_builtins.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/sdl/sdl_screen.h"
#include "runtime/data/file_routines.h"
#include "runtime/data/text_routines.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/version.h"
#include "sound/sound_handles.h"
#include "sound/sound_mixer.h"
#include "windows/forms.h"
#include "windows/message_loop.h"
#include "windows/window_system.h"

namespace qob {

namespace {

// Fixed stand-ins for what the device's loader handed the program.
constexpr double kInstanceHandle = 0x10000;
constexpr double kShowCommand = 1;

constexpr const char* kOwnExecutable = "/proc/self/exe";

bool gShutDown = false;
std::optional<std::vector<uint8_t>> gExecutableProgram;

// A constant whose value is a list of texts.
void DeclareTextList(const char* name, const std::vector<std::string>& texts) {
    VariableRecord* list = DeclareVariable(name, nullptr, 0.0, nullptr, 0);
    if (!list) return;
    list->flags |= kVarList;
    ListNode* first = nullptr;
    ListNode* last = nullptr;
    for (const std::string& text : texts) {
        ListNode* node = ListAppend(last);
        if (!node) break;
        if (!first) first = node;
        last = node;
        node->data = CopyValueText(text.c_str());
        if (node->data) node->flags |= kVarOwnsData;
        StampListNode(node);
    }
    list->currentNode = first;
    if (first) LoadListElement(list);
}

void DeclareNumber(const char* name, double value) { DeclareVariable(name, nullptr, value, nullptr, 0); }
void DeclareText(const char* name, const std::string& text) {
    DeclareVariable(name, text.c_str(), 0.0, nullptr, 0);
}


// The platform symbol, kept by every removal of a program's defines.
void DefinePlatformSymbol() {
    const std::string symbol = Switches.desktopPlatform ? "_WIN32" : "_WIN32_WCE";
    const int index = SetDefine(symbol, "{" + symbol + "}");
    if (DefineEntry* entry = GetDefine(index)) entry->owner = kDefineOwnerPredefined;
}

void RunIfPresent(const std::string& path) {
    if (platform::FileExists(path)) (void)CompileAndRun(path.c_str(), nullptr, false, 0);
}

// Step 13: the program named on the command line.
bool RunNamedProgram(const std::string& program) {
    if (platform::GetPathKind(program) != platform::PathKind::File) {
        const std::string message = "Syntax error of file not found!\n\"" + program + "\"";
        ShowMessageBox(message.c_str(), "Run error", platform::MB_OK | platform::MB_ICONERROR);
        return false;
    }
    if (Switches.compileOnly) {
        CompileFile(program.c_str(), Switches.makeMode);
        return true;
    }
    LoaderFlag = true;
    (void)CompileAndRun(program.c_str(), nullptr, false, 0);
    LoaderFlag = false;
    return true;
}

}  // namespace

void DeclarePredefinedSymbols(std::string_view commandLine, const std::vector<std::string>& tokens) {
    DeclareNumber("PLATFORM%", Switches.desktopPlatform ? 0 : 1);
    DeclareNumber("HINSTANCE%", kInstanceHandle);
    DeclareNumber("NCMDSHOW%", kShowCommand);
    DeclareText("CMDLINE%", std::string(commandLine));
    DeclareTextList("ARGV%", tokens);
    DeclareText("ROOT%", ApplicationDirectory());
    DeclareText("VERSION%", kVersionText);
    DeclareNumber("THREAD%", 65);
    DeclareNumber("PROCESS%", 66);
    DeclareNumber("THREADID%", static_cast<double>(syscall(SYS_gettid)));
    DeclareNumber("PROCESSID%", static_cast<double>(getpid()));
    DeclareTextList("LIBPATH%", {});
    for (const char* name : {"ERROR%", "LASTERROR%", "CS_DBLCLKS%", "T_COLLIDE%", "S_COLLIDE%", "BUFFER%", "DELTA%",
                             "DELTALIMIT%", "LIMITPPS%", "COMERROR%", "COMERRORDESC%", "REXERROR%"})
        DeclareNumber(name, 0);
    DeclareNumber("BITSPERPIXEL%", 16);
    DeclareNumber("FREQUENCY%", 60);
}

bool RunEmbeddedProgram() {
    if (!gExecutableProgram) return false;
    const std::vector<uint8_t> image = std::move(*gExecutableProgram);
    gExecutableProgram.reset();
    std::error_code error;
    const std::string executable = std::filesystem::read_symlink(kOwnExecutable, error).string();
    (void)RunCompiledImage(image, error ? kOwnExecutable : executable.c_str());
    return true;
}

void ShutdownRuntime() {
    if (gShutDown) return;
    gShutDown = true;
    if (ConstantList) {
        FreeVariableChain(nullptr, ConstantList, true);
        FreeVariableList(nullptr, ConstantList);
        ConstantList = nullptr;
    }
    // The sound device thread must stop before the static objects it mixes
    // from are destroyed at exit.
    SoundClose(Mixer);
    ReleaseSoundHandles();
    DeleteControlColourBrushes();
    platform::StopSdlScreen();
    WriteProfileReports();
    DeleteDebuggerValues();
    RegexFree();
    RemoveDefinesByOwner(kDefineOwnerGlobal);
}

int WinMain(std::string_view commandLine) {
    AcquireInterpreterLock();
    gExecutableProgram = ReadEmbeddedProgram(kOwnExecutable);
    const std::vector<std::string> tokens = SplitCommandLine(commandLine);
    for (size_t i = 1; i < tokens.size(); ++i) (void)ApplySwitch(tokens[i], Switches);
    SetApplicationDirectory(GetAppDirectory());
    const std::string root = ApplicationDirectory();
    if (Switches.debugMode) Switches.rangeCheck = true;
    if (Switches.completionList) {
        Switches.compileOnly = true;
        (void)platform::DeleteFile(root + "CC.TXT");
    }
    Profiling = Switches.profiling;
    MemoryTracking = Switches.memoryTracking;
    SetStatusWindowQuiet(Switches.quiet);
    RegisterBuiltins();
    DefinePlatformSymbol();
    DeclarePredefinedSymbols(commandLine, tokens);
    InstallCompilerHooks();
    StartWindowSystem();
    SetShutdownRoutine(ShutdownRuntime);
    const std::string program = tokens.empty() ? std::string() : FindCompiledFile(tokens[0]);
    if (Switches.debugMode) ReadInitialBreakpoints();

    bool programFound = true;
    if (!Switches.noDefaultProgram) RunIfPresent(root + "DEFAULT.QOB");
    RunEmbeddedProgram();
    ExitFollowsLastContext = true;
    if (!tokens.empty()) programFound = RunNamedProgram(program);
    else RunIfPresent(root + "MAIN.QOB");
    MessageLoop();

    ShutdownRuntimeOnce();
    ExitFollowsLastContext = false;
    const bool failed = !programFound || FailedCompileCount() > 0 || ReportedRuntimeErrorCount() > 0;
    ReleaseInterpreterLock();
    return failed ? 1 : 0;
}

}  // namespace qob
