// tests/fuzz/fuzz_support.cpp
// The shared set-up of the fuzz targets.

#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/define_table.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/procedure_table.h"
#include "host/builtin_registry.h"
#include "platform/message_box.h"
#include "runtime/memory/pool.h"
#include "runtime/vm/instruction.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/switches.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob::fuzz {

void PrepareProcess() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    // Boxes answer their default without printing; no run-time log is kept.
    static std::FILE* quiet = std::fopen("/dev/null", "w");
    platform::SetMessageBoxOutput(quiet, quiet);
    RuntimeLogSwitch = 0;
    Switches = RuntimeSwitches{};
    Switches.quiet = true;
    RegisterBuiltins();
}

ProgramContext* NewContext() {
    ProgramContext* context = CreateProgramContext();
    if (!context) std::abort();
    context->kind = kContextIndependent;
    context->quietEnd = 1;
    context->ownsClassRecords = 1;
    context->pool = CreatePool(0x80000);
    CreateBottomStackEntry(context);
    context->globalHead = AllocateVariableRecord(context, false);
    CurrentContext = context;
    LocalVariableList = context->globalHead;
    CurrentCompilerPool = context->pool;
    CurrentNamespaceHash = 0;
    CurrentInstruction = nullptr;
    StopFlag = false;
    return context;
}

void EndContext(ProgramContext* context) {
    CurrentContext = context;
    CurrentInstruction = nullptr;
    MemberList = nullptr;
    LocalVariableList = nullptr;
    EndProgramContext(context);
    CurrentContext = nullptr;
    CurrentCompilerPool = nullptr;
    if (ConstantList) {
        FreeVariableChain(nullptr, ConstantList, true);
        FreeVariableList(nullptr, ConstantList);
        ConstantList = nullptr;
    }
    StopFlag = false;
    EndingContext = nullptr;
    FreeUnitProcedures();
    FreeUnitClasses();
    ResetCompileMessages();
    RemoveDefinesByOwner(kDefineOwnerProgram);
    RemoveDefinesByOwner(kDefineOwnerGlobal);
    SetDefineGlobalMark(false);
    ClearIncludedFiles();
}

}  // namespace qob::fuzz
