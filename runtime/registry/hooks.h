// runtime/registry/hooks.h
// Every way the runtime reaches a layer above it: one table of hooks, each
// with a safe default, filled in at start-up by the layer that owns it.
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

struct ProgramContext;

// The runtime never includes a higher layer. Where it needs that layer's
// service, it calls a hook of this table; the owning layer points the hook at
// its own function from its install function, which the host calls at
// start-up (RegisterBuiltins). Until then each hook does its default, which
// is what a process without that layer would do.
struct RuntimeHooks {
    // The game engine (engine/).
    // The engine ends its use of the display when it was started: the program
    // ends (HALT, EXIT, Cancel in the error box). Default: nothing.
    void (*endGraphics)();
    // A context ends: the engine gives up the display when the context owns
    // it. Runs first, before the context's windows go. Default: nothing.
    void (*releaseContextDisplay)(ProgramContext* context);

    // The window layer (windows/).
    // A context ends: its windows and the window classes it registered go,
    // with CurrentContext set to the context. Default: nothing.
    void (*destroyContextWindows)(ProgramContext* context);
    // A context ended: the event records it owns go. Default: nothing.
    void (*removeContextEvents)(ProgramContext* context);
    // A run-time error box is up: the window events of every script window
    // are parked, and resumed once the box is gone. Default: nothing.
    void (*suspendWindowEvents)();
    void (*resumeWindowEvents)();
    // The handles of the context's windows, in its window list's order, each
    // handed to visit with user. Default: none (no window layer, no windows).
    void (*visitContextWindows)(ProgramContext* context, void (*visit)(uintptr_t window, void* user), void* user);

    // The compiler (compiler/).
    // A declaration of a native function fails or its library does not link
    // while a program is compiled: the compile-message sink reports it
    // without a source position. Default: the text on standard error.
    void (*reportCompileMessage)(std::string_view text, bool warning);
    // A program switches quiet mode (QuietMode): the compile driver shows no
    // progress bar while it is on. Default: nothing.
    void (*setQuietMode)(bool quiet);

    // The run driver (host/).
    // Runs the program file a text names, or else the text as source, in a
    // child context of the given parent mode (the embedded expressions of
    // texts run so). Default: nothing runs, null.
    ProgramContext* (*runFileOrSource)(const char* nameOrText, bool fileOnly, int64_t parentMode);
};

extern RuntimeHooks Hooks;

// Puts every hook back to its default (tests that install a layer's hooks
// and must not leave them to the next test).
void ResetRuntimeHooks();

}  // namespace qob
