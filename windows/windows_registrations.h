// windows/windows_registrations.h
// What the window layer gives start-up registration: its rows, and the
// runtime hooks it owns (a context's windows and events, the error box).
#pragma once

#include <span>

#include "runtime/registry/registration.h"

namespace qob {

std::span<const BuiltinRegistration> WindowsRegistrations();

// Points the runtime's window hooks at the window layer.
void FillWindowsRuntimeHooks();

}  // namespace qob
