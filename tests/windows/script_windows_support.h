// tests/windows/script_windows_support.h
// A fixture for the window layer's script side: every built-in registered,
// the window manager fresh, output of showmessage captured, and programs
// compiled from source into applications that stay loaded.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/temp_directory.h"
#include "platform/window_manager.h"

namespace qob {
struct Instruction;
struct ProgramContext;
}  // namespace qob

namespace qob::testing {

class ScriptWindowsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Compiles the source (procedures and functions, without WINMAIN) into a
    // new application that stays loaded, and makes it the current one.
    ProgramContext* Load(const std::string& procedures);
    // The start node of a procedure of the application by its name.
    Instruction* Procedure(ProgramContext* application, const char* name);
    // What showmessage printed since the last call.
    std::string Output();
    // Takes and dispatches every message there is.
    void Pump();

    TempDirectory root;
    ScopedEnvironment rootVariable{"QOB_ROOT", (root.Path() + "/").c_str()};
    std::FILE* output = nullptr;
};

// A number as a script holds an address.
inline double Address(const void* pointer) { return static_cast<double>(reinterpret_cast<uintptr_t>(pointer)); }

}  // namespace qob::testing
