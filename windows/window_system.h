// windows/window_system.h
// Starting the window system for a run of the executable: the shell, the
// idle policy, and the input file a test gives.
#pragma once

namespace qob {

// Starts the shell's windows and chooses the idle policy: with
// QOB_HEADLESS=1 (or no screen) the windows left open are closed once
// nothing can arrive any more, so that a run ends. QOB_INPUT names an input
// file (see platform/input.h): the run then goes on the test clock, standing
// at 0 at the start and moving as the message pump needs, and the file's
// input is delivered at its times. A file that cannot be read or holds a
// malformed line is reported on standard error and no input is scheduled.
void StartWindowSystem();

// Hands a blocking wait of the window manager the interpreter lock's release.
void InstallWindowManagerWaits();

}  // namespace qob
