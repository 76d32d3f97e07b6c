// native/native_registrations.h
// What the native-code layer gives start-up registration: its rows.
#pragma once

#include <span>

#include "runtime/registry/registration.h"

namespace qob {

std::span<const BuiltinRegistration> NativeRegistrations();

// The rows of the native call opcodes (SCALLP0 ... CALLF16).
std::span<const OpcodeRegistration> NativeOpcodeRegistrations();

}  // namespace qob
