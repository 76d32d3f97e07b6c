// host/driver.cpp
// CompileAndRun step by step: the loader program, compiling or loading with
// the timed compile log, the report of a failed compile, the new context and
// its entry, and the way back to the caller.

#include "host/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "compiler/back_end/code_generator.h"
#include "compiler/back_end/linker.h"
#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/compiled_file/compiled_file.h"
#include "compiler/front_end/define_table.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "compiler/progress_window.h"
#include "engine/engine_state.h"
#include "host/app_builtins.h"
#include "host/command_line.h"
#include "host/compiler_hooks.h"
#include "platform/clock.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "runtime/data/file_routines.h"
#include "runtime/data/number_text.h"
#include "runtime/data/text_routines.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/memory/pool.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/script_threads.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/version.h"
#include "runtime/vm/vm.h"
#include "windows/window_records.h"

namespace qob {

bool LoaderFlag = false;

namespace {

constexpr uint32_t kInstructionPoolBlock = 0x80000;

int gCompileDepth = 0;     // compiles and loads under way (nested runs of the driver itself count too)
int gFailedCompiles = 0;

// The image RunCompiledImage hands to the run it starts.
struct EmbeddedImage {
    std::span<const uint8_t> bytes;
    const char* executable = nullptr;
};
EmbeddedImage gEmbedded;

// Marks the stretch in which script code run from a report must not start
// another compile (the compiler's state is process-wide).
class CompileInProgress {
public:
    CompileInProgress() { ++gCompileDepth; }
    ~CompileInProgress() { --gCompileDepth; }
    CompileInProgress(const CompileInProgress&) = delete;
    CompileInProgress& operator=(const CompileInProgress&) = delete;
};

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// "1,234": the milliseconds since a tick, as the compile log writes them.
std::string ElapsedText(uint32_t startTick) {
    const uint32_t elapsed = platform::GetTickCount() - startTick;  // the tick counter wraps
    char* number = NumberToString(static_cast<double>(elapsed));
    char* grouped = number ? InsertThousandsSeparators(number) : nullptr;
    std::string text = grouped ? grouped : "";
    platform::FreeBlock(number);
    platform::FreeBlock(grouped);
    return text;
}

// A step line is left open: a compile message written before the step's
// time then starts on a line of its own.
void OpenStep(const char* step) {
    WriteLogLine(step);
    GetCompileMessageState().separatorPending = true;
}

void CloseStep(uint32_t startTick) {
    GetCompileMessageState().separatorPending = false;
    WriteLogLine(" (" + ElapsedText(startTick) + " ms)\n");
}

bool HasCompileErrors() {
    const CompileMessageState& state = GetCompileMessageState();
    return state.errorCount > 0 || !state.compileErrors.empty();
}

void ReportError(const char* fileName, const char* text) { ReportCompileMessage(fileName, text, nullptr, -1, false); }

bool IsProcedureStart(const Instruction* node) {
    return node && (node->opcode == static_cast<uint32_t>(Opcode::STARTPROC) ||
                    node->opcode == static_cast<uint32_t>(Opcode::STARTPROCUNDEF));
}

bool SharesCallerStack(int64_t mode) { return mode != kContextIndependent && mode != kContextDetached; }
bool SharesClassRecords(int64_t mode) { return mode == kContextSharedCurrentList || mode == kContextSharedGlobals; }

// Any mode below -4 or above 0 names a variable list: it must be the head
// record of one, or the child would write through a wild pointer.
bool IsValidMode(int64_t mode) {
    if (mode <= 0 && mode >= kContextDetached) return true;
    if (mode < 0) return false;
    const void* list = reinterpret_cast<const void*>(static_cast<uintptr_t>(mode));
    return platform::GetBlockSize(list) >= sizeof(VariableRecord);
}

void MoveErrorToLastError() {
    VariableRecord* error = ConstantList ? FindNamedItem(ConstantList, "ERROR%") : nullptr;
    if (!error) return;
    if (error->data) {
        VariableRecord* lastError = FindNamedItem(ConstantList, "LASTERROR%");
        if (lastError) SetVariableValue(lastError, error->data, 0.0, nullptr, 0);
    }
    SetVariableValue(error, nullptr, 0.0, nullptr, 0);
}

// The context handle as programs see it: the context's address as a number.
double ContextHandle(const ProgramContext* context) {
    return static_cast<double>(reinterpret_cast<uintptr_t>(context));
}

char* CopyToBlock(const std::string& text) {
    auto* copy = static_cast<char*>(platform::AllocateBlock(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

uint32_t ListSize(const Instruction* first) {
    uint32_t size = 0;
    for (const Instruction* node = first; node; node = node->next) {
        size += sizeof(Instruction);
        if (node->extra) size += sizeof(InstructionExtra);
        if (node->text && !IsNativeCallOpcode(node->opcode)) size += static_cast<uint32_t>(platform::GetBlockSize(node->text));
    }
    return size;
}

// One run of the driver. The steps are the methods, in order.
class DriverRun {
public:
    DriverRun(const char* fileName, const char* sourceText, bool compileOnly, int64_t mode)
        : hasFile(fileName != nullptr), file(fileName ? LowerCase(fileName) : std::string()),
          text(sourceText), compileOnly(compileOnly), mode(mode), image(TakeEmbeddedImage()),
          embedded(image.executable != nullptr), verbose(!embedded), caller(CurrentContext),
          callerLocals(LocalVariableList), callerMembers(MemberList), callerInstruction(CurrentInstruction) {}

    ProgramContext* Run() {
        if (!IsValidMode(mode) || (SharesCallerStack(mode) && !caller)) {
            ReportError(FileName(), "Invalid parent mode for a program run");
            return nullptr;
        }
        InstallCompilerHooks();
        savedLogSwitch = RuntimeLogSwitch;
        RuntimeLogSwitch = 1;
        if (mode == kContextIndependent) StartLoaderProgram();
        Instruction* list = nullptr;
        {
            CompileInProgress inProgress;
            if (loader) CallLoaderUpdate(1, hasFile ? file.c_str() : nullptr, 0, 0);
            startTick = platform::GetTickCount();
            if (hasFile) compiledName = CompiledFileNameFor(file);
            ResetCompilerState();
            MoveErrorToLastError();
            if (mode == kContextIndependent && verbose) OpenLogs();
            list = CompileOrLoad();
            EndUnitTables();
            CheckEntry();
            CleanUpFiles();
            CloseLog();
        }
        ShowFailure();
        {
            CompileInProgress inProgress;
            if (mode == kContextIndependent) DestroyStatusWindow();
        }
        if (!context) return Finish(nullptr);
        if (HasCompileErrors() || compileOnly) {
            if (HasCompileErrors() && mode == kContextIndependent) ++gFailedCompiles;
            context->instructions = list ? list : context->instructions;
            ReleaseOwnClassRecords();
            EndProgramContext(context);
            context = nullptr;
            return Finish(nullptr);
        }
        StartContext(list);
        return Finish(RunEntry());
    }

private:
    // Only the run RunCompiledImage starts is embedded; the runs its program
    // starts in turn are not.
    static EmbeddedImage TakeEmbeddedImage() {
        const EmbeddedImage taken = gEmbedded;
        gEmbedded = {};
        return taken;
    }

    const char* FileName() const { return hasFile ? file.c_str() : nullptr; }

    // Step 3: the loader program, else the progress bar.
    void StartLoaderProgram() {
        if (LoaderFlag && !embedded) {
            const std::string loaderPath = ApplicationDirectory() + "LOAD.QOB";
            if (platform::FileExists(loaderPath)) {
                LoaderFlag = false;
                loader = CompileAndRun(loaderPath.c_str(), nullptr, false, kContextIndependent);
                LoaderFlag = true;
            }
        }
        SetLoaderContext(loader);
        if (!embedded && !loader) CreateStatusWindow();
    }

    // Step 6, with the switches each stage follows.
    void ResetCompilerState() {
        ResetPreprocessor(Switches.linkPassCount);
        ResetCompileMessages();
        CompileMessageState& messages = GetCompileMessageState();
        messages.warningsEnabled = Switches.warnings;
        messages.logEnabled = verbose;
        CompileOnly = compileOnly;
        CompileParentContext = SharesCallerStack(mode) ? caller : nullptr;
    }

    // Step 8.
    void OpenLogs() {
        OpenDebugLog(nullptr);
        if (!OpenCompileLog(ApplicationDirectory() + kCompileLogName)) return;
        WriteLogLine(std::string("QOB compiler v.") + kVersionText + "\n");
        WriteLogLine("\n");
        const std::string name = hasFile ? file : CutShortName(text ? text : "");
        WriteLogLine("Filename : " + name + "\n\n");
    }

    // Steps 9 to 14. A compiled file that is refused is replaced by a compile
    // of its source.
    Instruction* CompileOrLoad() {
        if (embedded || (hasFile && ShouldLoad())) {
            if (!CreateContext()) return nullptr;
            if (Instruction* loaded = Load()) return loaded;
            if (embedded || IsCompiledFileName(file)) {
                ReportError(FileName(), "The compiled program cannot be loaded");
                return nullptr;
            }
            TokenNode* tokens = ParseFile();
            return Compile(tokens);
        }
        TokenNode* tokens = hasFile ? ParseFile() : ParseText(text ? text : "", nullptr);
        if (!CreateContext()) {
            FreeTokenList(tokens);
            return nullptr;
        }
        return Compile(tokens);
    }

    bool ShouldLoad() {
        if (IsCompiledFileName(file)) return true;
        if (Switches.debugMode || Switches.recompile || compileOnly || Switches.profiling ||
            Switches.memoryTracking)
            return false;
        return IsCompiledFileCurrent(file.c_str(), compiledName.c_str());
    }

    // Step 11's compile branch: read the file, tokenise and parse it.
    TokenNode* ParseFile() {
        if (mode == kContextIndependent) WriteLogLine("Parsing...\n");
        const uint32_t parseStart = platform::GetTickCount();
        // The source is the compiler's own, not the program's: it goes to the
        // C heap, whose large stretch is in huge pages (one fault where a
        // block of the program's heap would take one per page).
        const std::optional<std::string> source = platform::ReadFileBytes(file);
        TokenNode* tokens = source ? Tokenize(source->c_str(), file.c_str()) : nullptr;
        if (mode == kContextIndependent) WriteLogLine("Total parsing time (" + ElapsedText(parseStart) + " ms)\n");
        if (!GetPreprocessorState().marks.library) (void)platform::DeleteFile(compiledName);
        return Link(tokens);
    }

    // Step 10.
    TokenNode* ParseText(const char* source, const char* name) {
        WriteLogLine("Parsing...\n");
        const uint32_t parseStart = platform::GetTickCount();
        TokenNode* tokens = Tokenize(source, name);
        if (mode == kContextIndependent) WriteLogLine("Total parsing time (" + ElapsedText(parseStart) + " ms)\n");
        return Link(tokens);
    }

    TokenNode* Tokenize(const char* source, const char* name) {
        TokenNode* tokens = PreprocessFile(name, source, nullptr, mode != kContextIndependent, 2);
        if (GetPreprocessorState().depth != -1) ReportError(name, "#ENDIF missing to close an #IFDEF statement");
        if (!tokens || HasCompileErrors()) return tokens;
        return ParseSource(name, mode != kContextIndependent ? 1 : 0, tokens);
    }

    TokenNode* Link(TokenNode* tokens) {
        if (mode != kContextIndependent || !tokens || HasCompileErrors()) return tokens;
        const uint32_t linkStart = platform::GetTickCount();
        OpenStep("Linking...");
        tokens = LinkProgram(FileName(), tokens, {Switches.linkPassCount, Switches.debugMode, UpdateStatusWindow});
        CloseStep(linkStart);
        return tokens;
    }

    // Step 13.
    bool CreateContext() {
        context = CreateProgramContext();
        if (!context) {
            ReportError(FileName(), "Not enough memory for the program");
            return false;
        }
        context->kind = static_cast<int32_t>(mode);
        context->savedLogSwitch = savedLogSwitch;  // put back when the context ends, however it ends
        context->rangeCheck = Switches.rangeCheck || Switches.debugMode;
        context->explicitDeclarations = Switches.explicitDeclarations;
        if (SharesCallerStack(mode)) {
            platform::HeapDestroy(context->heap);
            context->heap = caller->heap;
            context->parent = caller;
        }
        if (SharesClassRecords(mode)) {
            context->classRecords = caller->classRecords;
            sharedClasses = caller->classRecords;
        } else {
            context->ownsClassRecords = 1;
        }
        context->pool = CreatePool(kInstructionPoolBlock);
        CurrentCompilerPool = context->pool;
        if (!context->pool) {
            ReportError(FileName(), "Not enough memory for the program");
            return false;
        }
        return true;
    }

    // Step 14, compiling.
    Instruction* Compile(TokenNode* tokens) {
        if (!tokens || HasCompileErrors()) {
            FreeTokenList(tokens);
            return nullptr;
        }
        if (Switches.completionList) WriteCompletionList();
        uint32_t stepStart = platform::GetTickCount();
        if (mode == kContextIndependent) OpenStep("Compiling...");
        GeneratedEntry entry;
        CodeGenOptions options;
        options.optimize = !Switches.optimiserOff;
        options.firstNodeEntry = mode != kContextIndependent;
        options.progress = UpdateStatusWindow;
        Instruction* list = GenerateCode(FileName(), context, tokens, context->procedures, context->procedureCount,
                                         entry, options);
        if (mode == kContextIndependent) CloseStep(stepStart);
        const CompileMarks& marks = GetPreprocessorState().marks;
        library = marks.library;
        if (hasFile && list && !marks.library && !Switches.debugMode && !HasCompileErrors() &&
            (!marks.noCompiledFile || Switches.makeMode)) {
            stepStart = platform::GetTickCount();
            OpenStep("Saving qoc file...");
            savedCompiledFile = SaveCompiledProgram(compiledName.c_str(), list, context->pool) == SaveStatus::Saved;
            CloseStep(stepStart);
        }
        return list;
    }

    // Step 12: the names the parser met, then every name of the function table.
    static void WriteCompletionList() {
        std::FILE* list = platform::OpenFile(ApplicationDirectory() + "CC.TXT", "ab");
        if (!list) return;
        for (int i = 0; i < UnitProcedureCount(); ++i)
            if (const ProcedureRecord* procedure = UnitProcedureAt(i); procedure && procedure->name)
                std::fprintf(list, "%s\n", procedure->name);
        for (int i = 0; i < FunctionCount(); ++i)
            if (const FunctionRecord* record = FunctionRecordAt(i); record && !record->name.empty())
                std::fprintf(list, "%s\n", record->name.c_str());
        std::fclose(list);
    }

    void EndUnitTables() {
        FreeUnitProcedures();
        FreeUnitClasses();
        CompileParentContext = nullptr;
        CompileOnly = false;
    }

    // Step 14, loading.
    Instruction* Load() {
        const uint32_t stepStart = platform::GetTickCount();
        if (mode == kContextIndependent && verbose) OpenStep("Loading qoc file...");
        bool isWinMain = false;
        Instruction* list =
            embedded ? LoadCompiledImage(image.bytes, image.executable, context, context->procedures,
                                         context->procedureCount, isWinMain)
                     : LoadCompiledProgram(compiledName.c_str(), context, context->procedures,
                                           context->procedureCount, isWinMain);
        if (mode == kContextIndependent && verbose) CloseStep(stepStart);
        return list;
    }

    // Step 15: an independent program needs MAIN or WINMAIN.
    void CheckEntry() {
        if (!context || mode != kContextIndependent || HasCompileErrors()) return;
        if (!IsProcedureStart(context->entry)) ReportError(FileName(), "No main entry point defined");
    }

    // Step 16.
    void CleanUpFiles() {
        if (!hasFile || IsCompiledFileName(file)) return;
        const bool failed = HasCompileErrors();
        if (savedCompiledFile && ((failed && !library) || Switches.makeMode)) (void)platform::DeleteFile(compiledName);
        if (failed && Switches.makeMode) {
            std::string executable = compiledName;
            executable.replace(executable.size() - 4, 4, ".exe");
            (void)platform::DeleteFile(executable);
        }
    }

    // Step 17.
    void CloseLog() {
        if (mode != kContextIndependent || !verbose) return;
        const CompileMessageState& state = GetCompileMessageState();
        WriteLogLine("Completion time (" + ElapsedText(startTick) + " ms)\n");
        WriteLogLine("\n** " + std::to_string(state.errorCount) + " error(s), " + std::to_string(state.warningCount) +
                     " warning(s)\n");
        CloseCompileLog();
        GetCompileMessageState().logEnabled = false;
    }

    // Step 18: the user's error program, else the "ERROR" box.
    void ShowFailure() {
        CompileMessageState& state = GetCompileMessageState();
        if (state.compileErrors.empty() || Switches.noErrorDisplay || compileOnly) return;
        HideStatusBar();
        const std::string errorProgram = ApplicationDirectory() + "ShowError.qob";
        if (hasFile && LowerCase(errorProgram) != file && platform::FileExists(errorProgram)) {
            const std::string errors = state.compileErrors;
            ProgramContext* savedLoader = LoaderContext();
            SetLoaderContext(nullptr);
            const bool savedLoaderFlag = LoaderFlag;
            LoaderFlag = false;
            (void)CompileAndRun(errorProgram.c_str(), nullptr, false, kContextIndependent);
            LoaderFlag = savedLoaderFlag;
            SetLoaderContext(savedLoader);
            GetCompileMessageState().compileErrors = errors;
            return;
        }
        if (mode == kContextIndependent)
            ShowMessageBox(state.compileErrors.c_str(), "ERROR", platform::MB_OK | platform::MB_ICONSTOP);
    }

    // Steps 21 to 24: the context gets its program, stack, variables and names.
    void StartContext(Instruction* list) {
        const std::optional<platform::FaultReport> fault = platform::RunGuarded([&] { FillContext(list); });
        if (fault) {
            const FaultRecord record{static_cast<uint32_t>(fault->kind), fault->instructionAddress,
                                     fault->dataAddress};
            ReportException(context, nullptr, record);
        }
        RemoveDefinesByOwner(kDefineOwnerProgram);
        ClearIncludedFiles();
        MakeUniqueContextId(context);
        context->startTick = platform::GetTickCount();
        context->timingCounters[0] = context->timingCounters[1] = 0;
        if (mode == kContextIndependent && verbose) {
            char* memory = InsertThousandsSeparators(std::to_string(AvailableMemory()).c_str());
            LogRuntimeError((std::string("Available memory ") + (memory ? memory : "0") + " bytes").c_str());
            platform::FreeBlock(memory);
            LogRuntimeError((std::string(context->appName ? context->appName : "") + " started").c_str());
        }
    }

    void FillContext(Instruction* list) {
        context->instructions = list;
        if (!context->appSize) context->appSize = ListSize(list);  // a loaded program was sized by its loader
        if (embedded) {
            context->embedded = 1;
            context->embeddedFile = CopyToBlock(image.executable);
        }
        CurrentInstruction = nullptr;
        MemberList = nullptr;
        if (SharesCallerStack(mode)) {
            context->stackTop = caller->stackTop;
            context->globalHead = caller->globalHead;
        } else {
            CreateBottomStackEntry(context);
            context->globalHead = AllocateVariableRecord(context, false);
        }
        CurrentContext = context;
        LocalVariableList = CurrentListForMode();
        if (mode == kContextIndependent) SetApplicationNames();
    }

    VariableRecord* CurrentListForMode() {
        switch (mode) {
            case kContextIndependent:
            case kContextDetached:
            case kContextSharedGlobals: return context->globalHead;
            case kContextSharedCurrentList: return callerLocals;
            case kContextSharedOwnList: return context->localHead = AllocateVariableRecord(context, false);
            default: return reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(mode));
        }
    }

    // APPNAME$ and APPPATH$ (owned by their variables), the context's own
    // upper-cased copies, and APPHANDLE$.
    void SetApplicationNames() {
        std::string name;
        std::string path;
        if (hasFile) {
            name = ExtractFileName(file);
            path = ExtractFilePath(file);
            context->appPath = CopyToBlock(UpperCase(path));
        } else {
            char* number = NumberToString(ContextHandle(context));
            name = number ? number : "";
            platform::FreeBlock(number);
        }
        context->appName = CopyToBlock(hasFile ? UpperCase(name) : name);
        VariableRecord* appName = DeclareVariable("APPNAME$", name.c_str(), 0.0, nullptr, 0);
        if (hasFile) {
            VariableRecord* appPath = DeclareVariable("APPPATH$", path.c_str(), 0.0, nullptr, 0);
            if (MemoryTracking && appPath) RegisterValueBlock(appPath->data);
        }
        if (MemoryTracking && appName) RegisterValueBlock(appName->data);
        DeclareVariable("APPHANDLE$", nullptr, ContextHandle(context), nullptr, 0);
    }

    static uint64_t AvailableMemory() {
        std::optional<std::string> info = platform::ReadFileBytes("/proc/meminfo");
        if (!info) return 0;
        const size_t at = info->find("MemAvailable:");
        if (at == std::string::npos) return 0;
        return std::strtoull(info->c_str() + at + 13, nullptr, 10) * 1024;
    }

    // Steps 25 and 26: the entry runs; an independent program that keeps no
    // window is ended, one that does may hand over to the game loop.
    ProgramContext* RunEntry() {
        Instruction* entry = context->entry;
        StackEntry* topBefore = context->stackTop;
        // The loader flag was meant for this run: the runs the program starts
        // ask for the loader program themselves.
        const bool savedLoaderFlag = LoaderFlag;
        LoaderFlag = false;
        if (entry) RunProcedureIn(context, entry);
        LoaderFlag = savedLoaderFlag;
        const bool exited = EndingContext == context || context->endPending;
        if (exited) {
            if (EndingContext == context) EndingContext = nullptr;
            StopFlag = false;
        }
        if (!IsLiveContext(context)) return nullptr;
        if (mode != kContextIndependent) return context;
        bool keep = false;
        if (context->entryIsWinMain && !exited) {
            for (const WindowRecord* window = context->windows; window; window = window->next)
                if (window->firstWindow) keep = true;
            if (context->stackTop != topBefore) keep = PopNumber() != 0.0;
        }
        if (!keep) {
            // A script thread of the program may be inside a run of it, waiting
            // in a blocking built-in: its runs stop, and whoever waits for them
            // (the message loop) ends the program once they have returned.
            if (context->callDepth > 0 || HasScriptThreadRuns(context)) {
                context->endPending = 1;
                EndingContext = context;
            }
            else EndProgramContext(context);
            return nullptr;
        }
        if (Engine.startValue != 0.0 && Engine.graphicsInitialised && !Engine.gameLoopRunning) {
            if (Engine.mainLoopChoice) RunGameLoop2();
            else RunGameLoop();
        }
        return IsLiveContext(context) ? context : nullptr;
    }

    // Classes a child defined in front of the caller's shared list stay its
    // own: the caller's list is left as it was.
    void ReleaseOwnClassRecords() {
        if (!context || !SharesClassRecords(mode)) return;
        ClassRecord* own = context->classRecords;
        if (own == sharedClasses) {
            context->classRecords = nullptr;
            return;
        }
        ClassRecord* last = own;
        while (last->next && last->next != sharedClasses) last = last->next;
        last->next = nullptr;
        context->ownsClassRecords = 1;
    }

    // Steps 27 and 28.
    ProgramContext* Finish(ProgramContext* result) {
        if (result) {
            ReleaseOwnClassRecords();
            if (SharesCallerStack(mode) && IsLiveContext(caller)) caller->stackTop = result->stackTop;
        }
        CurrentContext = IsLiveContext(caller) ? caller : nullptr;
        LocalVariableList = callerLocals;
        MemberList = callerMembers;
        CurrentInstruction = callerInstruction;
        CurrentCompilerPool = nullptr;
        return result;
    }

    const bool hasFile;
    const std::string file;
    const char* text;
    const bool compileOnly;
    const int64_t mode;
    const EmbeddedImage image;
    const bool embedded;
    const bool verbose;
    ProgramContext* const caller;
    VariableRecord* const callerLocals;
    VariableRecord* const callerMembers;
    Instruction* const callerInstruction;
    int32_t savedLogSwitch = 0;
    uint32_t startTick = 0;
    std::string compiledName;
    ProgramContext* loader = nullptr;
    ProgramContext* context = nullptr;
    ClassRecord* sharedClasses = nullptr;
    bool library = false;
    bool savedCompiledFile = false;
};

}  // namespace

std::string CompiledFileNameFor(std::string_view fileName) {
    std::string name(fileName);
    size_t nameStart = 0;
    for (size_t i = name.size(); i > 0; --i)
        if (platform::IsPathSeparator(name[i - 1])) {
            nameStart = i;
            break;
        }
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > nameStart) name.resize(dot);
    return name + ".qoc";
}

ProgramContext* CompileAndRun(const char* fileName, const char* sourceText, bool compileOnly, int64_t parentMode) {
    DriverRun run(fileName, sourceText, compileOnly, parentMode);
    return run.Run();
}

ProgramContext* RunCompiledImage(std::span<const uint8_t> image, const char* executablePath) {
    gEmbedded = {image, executablePath};
    ProgramContext* context = CompileAndRun(nullptr, nullptr, false, kContextIndependent);
    gEmbedded = {};
    return context;
}

bool IsCompileInProgress() { return gCompileDepth > 0; }

int FailedCompileCount() { return gFailedCompiles; }

}  // namespace qob
