// runtime/vm/switches.h
// The process-wide switches that steer compiling and running, set from the
// command line by the host and read by every layer.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace qob
