// sound/sound_registrations.h
// What the sound layer gives start-up registration: its rows.
#pragma once

#include <span>

#include "runtime/registry/registration.h"

namespace qob {

std::span<const BuiltinRegistration> SoundRegistrations();

}  // namespace qob
