// compiler/progress_window.h
// The compile progress report: a one-line bar on a terminal's standard error
// while a program is compiled, saved or loaded, and the loader program's UPDATE calls.
#pragma once

#include <cstdint>
#include <cstdio>

namespace qob {

struct ProgramContext;

// Makes the (headless) window: reports draw from now on until it is destroyed.
void CreateStatusWindow();

// A report: with a text it sets the caption line and redraws all; without one
// it only advances the bar. Independently of the window and of quiet mode, the
// loader program's UPDATE receives (3, text, current, total). Returns the
// next position under the same total that a report could change anything
// for: positions before it may be skipped (none with a loader program).
int64_t UpdateStatusWindow(const char* text, int32_t current, int32_t total);

// Removes the bar, then gives the loader program its last UPDATE (2, 0, 0, 0)
// and ends its context.
void DestroyStatusWindow();

// Clears the bar's line so that a message box's text starts on a clean
// line; the next report that draws puts the bar back.
void HideStatusBar();

// The bar's step for a report: 1 + the whole part of 10 * current / total in
// single precision; 0 when total is 0. The bar only grows between texts.
[[nodiscard]] int32_t ComputeProgressStep(int32_t current, int32_t total);

// Quiet mode ("Q", QuietMode): no bar at all. Enabled (showstatuswindow): on at start.
void SetStatusWindowQuiet(bool quiet);
[[nodiscard]] bool IsStatusWindowQuiet();
void SetStatusWindowEnabled(bool enabled);
[[nodiscard]] bool IsStatusWindowEnabled();

// The loader program's context while "LOAD.QOB" runs for a top-level run
// (null: none); DestroyStatusWindow ends it.
void SetLoaderContext(ProgramContext* context);
[[nodiscard]] ProgramContext* LoaderContext();

// Runs UPDATE of the loader program, when there is one and it defines that
// procedure, with the four arguments in this order. text may be null.
void CallLoaderUpdate(double kind, const char* text, double current, double total);

// Where the bar is drawn and whether that stream is a terminal; by default
// standard error, drawn only when it is a terminal. For tests.
void SetStatusWindowOutput(std::FILE* stream, bool isTerminal);

}  // namespace qob
