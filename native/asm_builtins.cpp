// native/asm_builtins.cpp
// asm, callasm, doasm and freeasm: assembling a source text into a code
// block, running a block with its arguments in AARGS$ and AARGSCOUNT$, and
// releasing a block and its texts.
#include "native/asm_builtins.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "compiler/compile_messages.h"
#include "native/arm_cpu.h"
#include "native/asm_routines.h"
#include "native/asm_runtime.h"
#include "native/asm_string_list.h"
#include "native/assembler.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/text_codec.h"
#include "runtime/data/file_routines.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/switches.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

constexpr uint32_t kPage = 4096;
// The most a block may take once the debug and profiling factors are applied.
constexpr int64_t kMaxAsmBlockBytes = int64_t{64} << 20;
// The entry sequence's eleven words: a smaller block cannot hold a program.
constexpr int64_t kEntryBytes = 11 * 4;
constexpr int32_t kTypeInt32 = -4;

// A global variable of the application: the typed block of count signed
// 32-bit words it holds, made on first use.
VariableRecord* RequireTypedGlobal(const char* name, uint32_t count) {
    ProgramContext* context = CurrentContext;
    VariableRecord* variable = FindVariable(name, 0);
    const size_t bytes = size_t{count} * 4;
    if (variable && variable->type == kTypeInt32 && variable->data &&
        platform::GetBlockSize(variable->data) >= bytes)
        return variable;
    if (!variable) variable = CreateVariable(context ? context->globalHead : nullptr, name, true);
    if (!variable) return nullptr;
    ReleaseVariable(context, variable, false, false);
    variable->data = static_cast<char*>(platform::AllocateZeroedBlock(bytes));
    variable->type = kTypeInt32;
    variable->flags |= kVarOwnsData | kVarHandedOver;
    if (count > 1) {
        variable->elementCount = count;
        variable->dimensionCount = 1;
        variable->dimensions[0] = static_cast<int32_t>(count);
    }
    return variable;
}

struct AsmArguments {
    VariableRecord* args;
    VariableRecord* count;
};

// SetAsmArguments: AARGS$ (128 words) and AARGSCOUNT$ (one word).
AsmArguments SetAsmArguments() {
    return {RequireTypedGlobal("AARGS$", kMaxAsmArguments), RequireTypedGlobal("AARGSCOUNT$", 1)};
}

void WriteWord(VariableRecord* variable, uint32_t index, int32_t value) {
    if (variable && variable->data) std::memcpy(variable->data + 4 * index, &value, 4);
}

// An argument word: a text's address, or a number truncated to 32 bits.
int32_t ArgumentWord(const StackEntry* cell) {
    if (cell->text) return static_cast<int32_t>(reinterpret_cast<uintptr_t>(cell->text));
    return AsmDoubleToInt32(cell->value);
}

// A block address or a size: a text is read as a number.
int32_t NumberWord(const StackEntry* cell) {
    return AsmDoubleToInt32(cell->text ? StringToNumber(cell->text) : cell->value);
}

// The source text of an entry: a number becomes its text, tracked at the
// current call depth.
const char* SourceText(const StackEntry* cell) {
    if (cell->text) return cell->text;
    char* text = NumberToString(cell->value);
    if (text && CurrentContext) TrackAllocation(CurrentContext, text, 0, kTrackedBlock);
    return text;
}

// Stores the arguments of a closed frame (cells from first up to last,
// inclusive, in push order). More than 128 report "Too many parameters"
// once they are counted; the first 128 are kept.
void StoreArguments(StackEntry* first, StackEntry* last, int32_t count) {
    if (count > static_cast<int32_t>(kMaxAsmArguments)) RaiseRuntimeError("Too many parameters", 0);
    const uint32_t kept = static_cast<uint32_t>(std::clamp(count, 0, static_cast<int32_t>(kMaxAsmArguments)));
    const AsmArguments arguments = SetAsmArguments();
    WriteWord(arguments.count, 0, static_cast<int32_t>(kept));
    StackEntry* cell = first;
    for (uint32_t i = 0; i < kept && cell != nullptr; ++i, cell = cell == last ? nullptr : cell->above)
        WriteWord(arguments.args, i, ArgumentWord(cell));
}

AsmOptions OptionsForCaller() {
    AsmOptions options;
    options.debugMode = Switches.debugMode;
    options.profiling = Switches.profiling;
    if ((options.debugMode || options.profiling) && CurrentInstruction && CurrentInstruction->extra) {
        options.sourceFile = CurrentInstruction->extra->sourceFile;
        options.lineOffset = CurrentInstruction->extra->line;
    }
    return options;
}

void ShowAssemblyErrors(const std::string& errors) {
    const std::string showError = ApplicationDirectory() + "ShowError.qob";
    if (platform::FileExists(showError) && AsmHooks.runProgramFile(showError.c_str())) {
        GetCompileMessageState().compileErrors = errors;
        return;
    }
    platform::MessageBoxW(platform::DecodeAnsi(errors), platform::DecodeAnsi("ERROR"), platform::MB_ICONSTOP);
}

void ClearRegisterBlock() { std::memset(AsmRegisterBlock(), 0, kAsmRegisterBlockWords * 4); }

// Runs a live block, or any address (which then faults as no code block).
ArmOutcome CallBlock(uint32_t base) {
    ArmOutcome outcome = RunAsmBlock(base);
    ClearRegisterBlock();
    return outcome;
}

struct StackTexts {
    std::unordered_set<const char*> texts;
    ProgramContext* context;
};

// A text a value-stack cell still points at goes to the current call depth.
bool KeepReferencedText(const char* text, void* user) {
    auto* stack = static_cast<StackTexts*>(user);
    if (!stack->texts.count(text)) return false;
    TrackAllocation(stack->context, const_cast<char*>(text), 0, kTrackedBlock);
    return true;
}

}  // namespace

uint32_t AssembleText(int32_t size, const char* source) {
    CompileMessageState& messages = GetCompileMessageState();
    ResetCompileMessages();
    (void)SetAsmArguments();
    int64_t bytes = size;
    if (Switches.debugMode) bytes *= 16;
    if (Switches.profiling) bytes *= 16;
    bytes = std::min(bytes, kMaxAsmBlockBytes);
    if (bytes < kEntryBytes) {
        ReportCompileMessage(nullptr, "Buffer size too small!", nullptr, -1, false);
        ShowAssemblyErrors(messages.compileErrors);
        return 0;
    }
    const AsmResult result = AssembleSource(static_cast<int32_t>(bytes), source ? source : "", OptionsForCaller());
    if (result.base != 0 && Switches.memoryTracking) {
        const char* file = CurrentInstruction && CurrentInstruction->extra ? CurrentInstruction->extra->sourceFile : nullptr;
        const uint32_t line = CurrentInstruction && CurrentInstruction->extra ? static_cast<uint32_t>(CurrentInstruction->extra->line) : 0;
        RegisterMemoryBlock(file, line, reinterpret_cast<void*>(uintptr_t{result.base}), static_cast<uint32_t>(bytes));
    }
    if (result.failed || !messages.compileErrors.empty()) {
        const std::string errors = messages.compileErrors;
        if (result.base != 0) FreeAsmCode(result.base);
        ShowAssemblyErrors(errors.empty() ? std::string("Buffer size too small!") : errors);
        return 0;
    }
    MarkArmCodeBlock(result.base, static_cast<uint32_t>((bytes + kPage - 1) & ~int64_t{kPage - 1}));
    return result.base;
}

void FreeAsmCode(uint32_t base) {
    if (!IsAsmBlock(base)) return;
    StackTexts stack{{}, CurrentContext};
    if (stack.context)
        for (const StackEntry* cell = stack.context->stackTop; cell != nullptr; cell = cell->below)
            if (cell->text) stack.texts.insert(cell->text);
    ReleaseAsmStrings(base, KeepReferencedText, &stack);
    UnmarkArmCodeBlock(base);
    if (Switches.memoryTracking) UnregisterMemoryBlock(reinterpret_cast<void*>(uintptr_t{base}));
    FreeAsmBlockMemory(base);
}

// asm(size, source) -> block address, 0 on failure.
void Builtin_asm() {
    ProgramContext* context = CurrentContext;
    const char* source = SourceText(PopStackEntryFrom(context));
    const int32_t size = NumberWord(PopStackEntryFrom(context));
    const uint32_t block = AssembleText(size, source);
    PushValue(nullptr, static_cast<double>(static_cast<int32_t>(block)), nullptr, 0);
}

// callasm(block, arguments...): the frame's lowest entry is the block.
void Builtin_callasm() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    StackEntry* top = context->stackTop;
    const int32_t entries = CountStackEntries(top) - CountStackEntries(saved);
    context->stackTop = saved;
    if (entries <= 0) return;
    StackEntry* blockCell = saved->above;
    const uint32_t block = static_cast<uint32_t>(NumberWord(blockCell));
    StoreArguments(blockCell->above, top, entries - 1);
    if (block == 0) {
        ClearRegisterBlock();
        return;
    }
    const ArmOutcome outcome = CallBlock(block);
    ReportAsmOutcome(outcome);
}

// doasm(size, arguments..., source): assembles, runs once, frees.
void Builtin_doasm() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    StackEntry* top = context->stackTop;
    const int32_t entries = CountStackEntries(top) - CountStackEntries(saved);
    context->stackTop = saved;
    if (entries < 2) return;
    StackEntry* sizeCell = saved->above;
    const int32_t size = NumberWord(sizeCell);
    const char* source = SourceText(top);
    StoreArguments(sizeCell->above, top->below, entries - 2);
    const uint32_t block = AssembleText(size, source);
    if (block == 0) {
        ClearRegisterBlock();
        return;
    }
    const ArmOutcome outcome = CallBlock(block);
    FreeAsmCode(block);
    ReportAsmOutcome(outcome);
}

// freeasm(block): nothing for an address that is no live block.
void Builtin_freeasm() {
    const uint32_t block = static_cast<uint32_t>(PopInteger());
    FreeAsmCode(block);
}

}  // namespace qob
