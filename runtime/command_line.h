// runtime/command_line.h
// The command line: its tokens, and the process-wide switches that the
// tokens after the program name set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qob {

// The process-wide switches of the command line (every token after the first
// is compared with them, case-sensitively and whole). All off at start.
struct RuntimeSwitches {
    bool profiling = false;             // "P": compiled files are not used
    bool memoryTracking = false;        // "Y": compiled files are not used
    bool makeMode = false;              // "M", "M-name", "MD-name": make mode and compile only
    std::string makeName;               // the name of "M-name" or "MD-name"
    std::string includePath;            // "I-path": searched by #INCLUDE
    bool debugMode = false;             // "D": range checking, no compiled files used or written
    bool quiet = false;                 // "Q": no progress bar
    bool compileOnly = false;           // "C" (also "M" and "CC"): compile, do not run
    bool recompile = false;             // "RC": compiled files are not used
    bool noDefaultProgram = false;      // "ND": "DEFAULT.QOB" is not run
    bool rangeCheck = false;            // "R": range checking in every new context
    bool warnings = false;              // "W"
    bool parserWarnings = false;        // "W1": the parser's additional warnings
    bool explicitDeclarations = false;  // "X": explicit declarations in every new context
    bool completionList = false;        // "CC": "CC.TXT" is written
    int32_t linkPassCount = 1;          // "NL" 0, "L1" 1, "LM" 999
    bool optimiserOff = false;          // "NO"
    bool desktopPlatform = false;       // "FPC": "_WIN32", PLATFORM% 0, platform byte 0
    bool noErrorDisplay = false;        // "DM": failed compiles are not shown
};

extern RuntimeSwitches Switches;

// The command line split at "|", empty tokens skipped.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Applies one token to the switches; false when it is no switch.
bool ApplySwitch(std::string_view token, RuntimeSwitches& switches);

}  // namespace qob
