// engine/engine_registrations.h
// What the game engine gives start-up registration: its rows, and the runtime
// hooks it owns (the display at a program's or a context's end).
#pragma once

#include <span>

#include "runtime/registry/registration.h"

namespace qob {

std::span<const BuiltinRegistration> EngineRegistrations();

// Points the runtime's graphics hooks at the engine.
void FillEngineRuntimeHooks();

}  // namespace qob
