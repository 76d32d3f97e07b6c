// compiler/progress_window.cpp
// The progress bar drawn on a terminal (there is no window without a display)
// and the reports handed to the loader program's UPDATE procedure.

#include "compiler/progress_window.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/memory.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

namespace {

constexpr int kBarWidth = 20;

struct StatusWindowState {
    bool exists = false;
    bool drawn = false;       // something is on the terminal line
    bool enabled = true;
    bool quiet = false;
    std::string text;
    int32_t step = 0;         // last step shown
    ProgramContext* loader = nullptr;
    std::FILE* stream = nullptr;  // null: standard error
    int isTerminal = -1;          // -1: ask the stream
    // Reports without a text under quietTotal at positions from 0 below
    // quietBelow change nothing: the stages report every token and node, and
    // nearly every report leaves the bar as it is. 0: nothing known.
    int32_t quietTotal = 0;
    int64_t quietBelow = 0;
};

StatusWindowState gWindow;

std::FILE* OutputStream() { return gWindow.stream ? gWindow.stream : stderr; }

bool OutputIsTerminal() {
    if (gWindow.isTerminal >= 0) return gWindow.isTerminal != 0;
    return isatty(fileno(OutputStream())) != 0;
}

// Stage texts end in a line end for the compile log; the bar keeps one line.
std::string CaptionOf(const char* text) {
    std::string caption = text;
    while (!caption.empty() && (caption.back() == '\n' || caption.back() == '\r')) caption.pop_back();
    return caption;
}

// One line: the caption, then the bar filled as the window fills its bar area
// ((width + 1) * step / 10 of it), redrawn in place.
void DrawBar() {
    if (!OutputIsTerminal()) return;
    const int filled = std::clamp((kBarWidth + 1) * gWindow.step / 10, 0, kBarWidth);
    std::string line = "\r" + gWindow.text + " [";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '.');
    line += "]\033[K";
    std::FILE* stream = OutputStream();
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
    gWindow.drawn = true;
}

void EraseBar() {
    if (!gWindow.drawn) return;
    gWindow.drawn = false;
    if (!OutputIsTerminal()) return;
    std::FILE* stream = OutputStream();
    std::fputs("\r\033[K", stream);
    std::fflush(stream);
}

}  // namespace

int32_t ComputeProgressStep(int32_t current, int32_t total) {
    if (total == 0) return 0;
    // The window computes in single precision; the clamp only keeps the
    // conversion defined for absurd ratios.
    const float tenths = std::clamp(10.0f * static_cast<float>(current) / static_cast<float>(total), -1e6f, 1e6f);
    return 1 + static_cast<int32_t>(tenths);
}

namespace {

void ForgetQuietStretch() { gWindow.quietBelow = 0; }

bool IsShown() { return !gWindow.quiet && gWindow.exists && gWindow.enabled; }

// The step only grows with the position (for positions from 0 and a
// positive total), so the smallest position past the shown step is found by
// halving; past the largest position it is 2^31.
int64_t FirstRedrawPosition(int32_t total, int32_t shownStep) {
    int64_t low = 0;
    int64_t high = int64_t{1} << 31;
    while (low < high) {
        const int64_t middle = low + (high - low) / 2;
        if (ComputeProgressStep(static_cast<int32_t>(middle), total) > shownStep) high = middle;
        else low = middle + 1;
    }
    return low;
}

// With a loader program every report is passed on, so none is quiet.
void RememberQuietStretch(int32_t total) {
    gWindow.quietTotal = total;
    gWindow.quietBelow = 0;
    if (gWindow.loader || total <= 0) return;
    gWindow.quietBelow = IsShown() ? FirstRedrawPosition(total, gWindow.step) : INT64_MAX;
}

}  // namespace

void CreateStatusWindow() {
    ForgetQuietStretch();
    gWindow.step = 0;
    gWindow.exists = gWindow.enabled;
}

namespace {

void ShowStep(const char* text, int32_t step) {
    gWindow.step = step;
    if (text) gWindow.text = CaptionOf(text);
    DrawBar();
}

// Kept out of line: the quiet reports then return without saving registers.
[[gnu::noinline]] void ReportStatus(const char* text, int32_t current, int32_t total) {
    if (IsShown()) {
        const int32_t step = ComputeProgressStep(current, total);
        if (text || step > gWindow.step) ShowStep(text, step);
    }
    if (gWindow.loader) CallLoaderUpdate(3, text, current, total);
    RememberQuietStretch(total);
}

}  // namespace

// Called for every token and every node of a compilation: most calls change
// nothing, and they return here without further calls.
int64_t UpdateStatusWindow(const char* text, int32_t current, int32_t total) {
    if (text || total != gWindow.quietTotal || current < 0 || current >= gWindow.quietBelow)
        ReportStatus(text, current, total);
    // The quiet stretch now holds for this total (kept by ReportStatus).
    return current >= 0 ? std::max(gWindow.quietBelow, int64_t{current} + 1) : int64_t{current} + 1;
}

void HideStatusBar() { EraseBar(); }

void DestroyStatusWindow() {
    ForgetQuietStretch();
    EraseBar();
    gWindow.exists = false;
    gWindow.text.clear();
    gWindow.step = 0;
    ProgramContext* loader = gWindow.loader;
    if (!loader) return;
    CallLoaderUpdate(2, nullptr, 0, 0);
    gWindow.loader = nullptr;
    if (IsLiveContext(loader)) EndProgramContext(loader);
}

void SetStatusWindowQuiet(bool quiet) {
    ForgetQuietStretch();
    gWindow.quiet = quiet;
}
bool IsStatusWindowQuiet() { return gWindow.quiet; }
void SetStatusWindowEnabled(bool enabled) {
    ForgetQuietStretch();
    gWindow.enabled = enabled;
}
bool IsStatusWindowEnabled() { return gWindow.enabled; }

void SetLoaderContext(ProgramContext* context) {
    ForgetQuietStretch();
    gWindow.loader = context;
}
ProgramContext* LoaderContext() { return gWindow.loader; }

void CallLoaderUpdate(double kind, const char* text, double current, double total) {
    ProgramContext* loader = gWindow.loader;
    if (!loader || !IsLiveContext(loader)) return;
    Instruction* update = FindProcedureByName(loader, "UPDATE");
    if (!update) return;
    // The parameter takes its own copy of the text; ours lives for the call.
    char* copy = nullptr;
    if (text) {
        const size_t size = std::strlen(text) + 1;
        copy = static_cast<char*>(platform::AllocateBlock(size));
        if (copy) std::memcpy(copy, text, size);
    }
    StackEntry* savedTop = loader->stackTop;
    PushValueTo(loader, nullptr, kind, nullptr);
    PushValueTo(loader, copy, 0.0, nullptr);
    PushValueTo(loader, nullptr, current, nullptr);
    PushValueTo(loader, nullptr, total, nullptr);
    RunProcedureIn(loader, update);
    // Whatever UPDATE left (a function's result, or arguments an error left
    // unread) is dropped.
    if (IsLiveContext(loader)) loader->stackTop = savedTop;
    platform::FreeBlock(copy);
}

void SetStatusWindowOutput(std::FILE* stream, bool isTerminal) {
    gWindow.stream = stream;
    gWindow.isTerminal = stream ? (isTerminal ? 1 : 0) : -1;
}

}  // namespace qob
