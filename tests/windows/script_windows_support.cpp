// tests/windows/script_windows_support.cpp
// The script-windows fixture.

#include "script_windows_support.h"

#include <cctype>

#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "host/driver.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "runtime/data/file_routines.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"
#include "windows/event_calls.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"
#include "windows/window_system.h"

namespace qob::testing {

void ScriptWindowsTest::SetUp() {
    FreeFunctionTable();
    RegisterBuiltins();
    SetApplicationDirectory(root.Path() + "/");
    output = std::tmpfile();
    platform::SetMessageBoxOutput(output, output);
    platform::ResetWindowManager();
    platform::SetIdlePolicy(platform::IdlePolicy::Fail);
    platform::SetTestClock(1'000'000'000);
    ResetGameLink();
    RemoveOwnerEvents(nullptr);
    LastEventResult = 1;
    QuitRequested = false;
    platform::MSG message;
    while (platform::PeekQueuedMessage(&message, 0, 0, 0, true)) {
    }
}

void ScriptWindowsTest::TearDown() {
    while (LastContext) EndProgramContext(LastContext);
    platform::ResetWindowManager();
    platform::MSG message;
    while (platform::PeekQueuedMessage(&message, 0, 0, 0, true)) {
    }
    RemoveOwnerEvents(nullptr);
    ResetGameLink();
    platform::ClearTestClock();
    platform::SetMessageBoxOutput(nullptr, nullptr);
    std::fclose(output);
    CurrentContext = nullptr;
    LocalVariableList = nullptr;
    if (ConstantList) {
        FreeVariableChain(nullptr, ConstantList, true);
        FreeVariableList(nullptr, ConstantList);
        ConstantList = nullptr;
    }
    FreeFunctionTable();
    Switches = RuntimeSwitches{};
}

ProgramContext* ScriptWindowsTest::Load(const std::string& procedures) {
    const std::string source = procedures + "\nFUNC WINMAIN RETURN(1); END;\n";
    ProgramContext* application = CompileAndRun(nullptr, source.c_str(), false, 0);
    EXPECT_NE(application, nullptr) << source;
    CurrentContext = application;
    if (application) LocalVariableList = application->globalHead;
    return application;
}

Instruction* ScriptWindowsTest::Procedure(ProgramContext* application, const char* name) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Instruction* start = FindProcedureByName(application, upper.c_str());
    EXPECT_NE(start, nullptr) << name;
    return start;
}

std::string ScriptWindowsTest::Output() {
    std::fflush(output);
    std::rewind(output);
    std::string text;
    int c;
    while ((c = std::fgetc(output)) != EOF) text += static_cast<char>(c);
    std::fclose(output);
    output = std::tmpfile();
    platform::SetMessageBoxOutput(output, output);
    return text;
}

void ScriptWindowsTest::Pump() {
    platform::MSG message;
    while (PumpOneMessage(&message)) {
    }
}

}  // namespace qob::testing
