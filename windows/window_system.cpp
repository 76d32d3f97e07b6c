// windows/window_system.cpp
// The window system's start for a run of the executable.

#include "windows/window_system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/shell.h"
#include "platform/window_manager.h"
#include "runtime/vm/interpreter_lock.h"

namespace qob {

namespace {

void WaitUnlocked(void (*wait)(void*), void* argument) {
    InterpreterUnlockScope unlocked;
    wait(argument);
}

void ScheduleInputFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "QOB_INPUT: cannot read \"%s\"\n", path);
        return;
    }
    std::ostringstream text;
    text << file.rdbuf();
    platform::SetTestClock(0);
    const platform::InputScriptResult result = platform::ScheduleInputScript(text.str(), platform::GetTickCount());
    if (!result.ok)
        std::fprintf(stderr, "QOB_INPUT: \"%s\" line %d: %s\n", path, result.line, result.message.c_str());
}

}  // namespace

void InstallWindowManagerWaits() { platform::SetWaitWrapper(WaitUnlocked); }

void StartWindowSystem() {
    InstallWindowManagerWaits();
    platform::SetIdlePolicy(platform::IdlePolicy::Close);
    platform::StartShell();
    if (const char* input = std::getenv("QOB_INPUT"); input && *input) ScheduleInputFile(input);
}

}  // namespace qob
