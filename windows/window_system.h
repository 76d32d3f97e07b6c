// windows/window_system.h
// Starting the window system for a run of the executable: the shell, the
// idle policy, and the input file a test gives.
#pragma once

namespace qob {

// Starts the shell's windows and chooses the idle policy: headless, the
// windows left open are closed once nothing can arrive any more, so that a
// run ends; the first form a program makes opens the screen window (see
// platform/sdl/sdl_screen.h) when there is a display and QOB_HEADLESS is not
// 1, and the run then waits for its user instead. QOB_INPUT names an input
// file (see platform/input.h): the run then goes on the test clock, standing
// at 0 at the start and moving as the message pump needs, and the file's
// input is delivered at its times. A file that cannot be read or holds a
// malformed line is reported on standard error and no input is scheduled.
void StartWindowSystem();

// Opens the screen window when the start asked for one and it is not open
// yet (a program is about to show its first form); nothing otherwise.
void EnsureScreenWindow();

// Hands a blocking wait of the window manager the interpreter lock's release.
void InstallWindowManagerWaits();

}  // namespace qob
