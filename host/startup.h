// host/startup.h
// Process start and end: the predefined symbols, the start-up programs in
// their order, the message loop and shut-down.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qob {

// The process entry: start-up, the programs in their order, the message loop
// and shut-down. Returns the exit status: 0 after clean runs, 1 when a
// program failed to compile or stopped on a run-time error nobody caught.
int WinMain(std::string_view commandLine);

// Declares the constants every program sees (PLATFORM%, CMDLINE%, ARGV%,
// ROOT%, VERSION%, ERROR% and the rest) from the command line and its tokens.
void DeclarePredefinedSymbols(std::string_view commandLine, const std::vector<std::string>& tokens);

// Runs the compiled program carried at the end of the executable; false when
// it carries none.
bool RunEmbeddedProgram();

// Frees the constants, writes the reports, deletes the debugger's registry
// values. Runs once; later calls do nothing.
void ShutdownRuntime();

}  // namespace qob
