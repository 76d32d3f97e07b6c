// host/command_line.h
// The command line: its tokens, and how a token after the program name sets
// one of the process-wide switches.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/vm/switches.h"

namespace qob {

// The command line split at "|", empty tokens skipped.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Applies one token to the switches; false when it is no switch.
bool ApplySwitch(std::string_view token, RuntimeSwitches& switches);

}  // namespace qob
