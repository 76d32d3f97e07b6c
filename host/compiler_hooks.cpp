// host/compiler_hooks.cpp
// The runtime's side of the compiler's hooks.

#include "host/compiler_hooks.h"

#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile_messages.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/progress_window.h"
#include "host/command_line.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"

namespace qob {

namespace {

// The "I-" folder first, then the elements of LIBPATH%.
std::vector<std::string> ReadLibraryPath() {
    std::vector<std::string> folders;
    if (!Switches.includePath.empty()) folders.push_back(Switches.includePath);
    VariableRecord* libraryPath = ConstantList ? FindNamedItem(ConstantList, "LIBPATH%") : nullptr;
    if (!libraryPath || !(libraryPath->flags & kVarList)) return folders;
    for (ListNode* node = ListFirst(libraryPath->currentNode); node; node = node->next)
        if (node->data) folders.emplace_back(node->data);
    return folders;
}

void OpenNamedDebugLog(std::string_view path) { OpenDebugLog(std::string(path).c_str()); }
void SetRuntimeLog(bool on) { RuntimeLogSwitch = on ? 1 : 0; }
void ShowProgressText(std::string_view text) { UpdateStatusWindow(std::string(text).c_str(), 0, 0); }

std::string ContextDirectory() {
    return CurrentContext && CurrentContext->appPath ? CurrentContext->appPath : std::string();
}

// Each compile error leaves the whole error text in ERROR%.
void WriteErrorVariable(std::string_view text) {
    const std::string copy(text);
    DeclareVariable("ERROR%", copy.c_str(), 0.0, nullptr, static_cast<int64_t>(copy.size() + 1));
}

}  // namespace

void InstallCompilerHooks() {
    PreprocessorHooks hooks;
    hooks.readLibraryPath = ReadLibraryPath;
    hooks.openDebugLog = OpenNamedDebugLog;
    hooks.setRuntimeLog = SetRuntimeLog;
    hooks.showProgressText = ShowProgressText;
    hooks.showProgressPosition = UpdateStatusWindow;
    hooks.contextDirectory = ContextDirectory;
    SetPreprocessorHooks(hooks);
    SetParserProgressHooks({ShowProgressText, UpdateStatusWindow});
    SetErrorVariableWriter(WriteErrorVariable);
}

}  // namespace qob
