// runtime/registry/hooks.cpp
// The defaults of the runtime's hooks.

#include "runtime/registry/hooks.h"

#include <cstdio>

namespace qob {
namespace {

void DoNothing() {}
void DoNothingFor(ProgramContext*) {}
void VisitNoWindows(ProgramContext*, void (*)(uintptr_t, void*), void*) {}
void DoNothingWith(bool) {}

ProgramContext* RunNothing(const char*, bool, int64_t) { return nullptr; }

void PrintCompileMessage(std::string_view text, bool warning) {
    std::fprintf(stderr, "%s: %.*s\n", warning ? "warning" : "error", static_cast<int>(text.size()), text.data());
}

constexpr RuntimeHooks kDefaultHooks = {
    .endGraphics = DoNothing,
    .releaseContextDisplay = DoNothingFor,
    .destroyContextWindows = DoNothingFor,
    .removeContextEvents = DoNothingFor,
    .suspendWindowEvents = DoNothing,
    .resumeWindowEvents = DoNothing,
    .visitContextWindows = VisitNoWindows,
    .reportCompileMessage = PrintCompileMessage,
    .setQuietMode = DoNothingWith,
    .runFileOrSource = RunNothing,
};

}  // namespace

constinit RuntimeHooks Hooks = kDefaultHooks;

void ResetRuntimeHooks() { Hooks = kDefaultHooks; }

}  // namespace qob
