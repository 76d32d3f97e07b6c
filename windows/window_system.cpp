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
#include "platform/sdl/sdl_screen.h"
#include "platform/shell.h"
#include "platform/window_manager.h"
#include "runtime/vm/interpreter_lock.h"

namespace qob {

namespace {

// Set by the executable's start: the first form opens the screen window.
bool gScreenWanted = false;

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

void EnsureScreenWindow() {
    if (!gScreenWanted) return;
    gScreenWanted = false;
    if (platform::StartSdlScreen()) platform::SetIdlePolicy(platform::IdlePolicy::Wait);
}

void StartWindowSystem() {
    InstallWindowManagerWaits();
    // Headless, what is left open is closed once nothing can arrive any
    // more; the screen window, once a program shows a form, waits for its user.
    platform::SetIdlePolicy(platform::IdlePolicy::Close);
    platform::StartShell();
    gScreenWanted = true;
    if (const char* input = std::getenv("QOB_INPUT"); input && *input) ScheduleInputFile(input);
}

}  // namespace qob
