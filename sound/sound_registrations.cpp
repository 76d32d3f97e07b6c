// sound/sound_registrations.cpp
// The sound rows of the start-up registration.
#include "sound/sound_registrations.h"

#include "runtime/registry/placeholder_handlers.h"

namespace qob {
namespace {

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kSoundBuiltins[] = {
    // name                    args returns   arity   handler
    // 0 arguments, no value
    {"s_shut",                   0, Nothing, Fixed,  kNotBuilt},
    // 1 argument, no value
    {"playsound",                1, Nothing, Fixed,  kNotBuilt},
    {"pausesound",               1, Nothing, Fixed,  kNotBuilt},
    {"resumesound",              1, Nothing, Fixed,  kNotBuilt},
    {"stopsound",                1, Nothing, Fixed,  kNotBuilt},
    {"freesound",                1, Nothing, Fixed,  kNotBuilt},
    {"s_bufferlength",           1, Nothing, Fixed,  kNotBuilt},
    // 1 argument, returns a value
    {"soundstate",               1, Value,   Fixed,  kNotBuilt},
    {"volume",                   1, Value,   Fixed,  kNotBuilt},
    {"frequency",                1, Value,   Fixed,  kNotBuilt},
    {"pan",                      1, Value,   Fixed,  kNotBuilt},
    {"loop",                     1, Value,   Fixed,  kNotBuilt},
    // 2 arguments, no value
    {"setvolume",                2, Nothing, Fixed,  kNotBuilt},
    {"setfrequency",             2, Nothing, Fixed,  kNotBuilt},
    {"setpan",                   2, Nothing, Fixed,  kNotBuilt},
    {"setloop",                  2, Nothing, Fixed,  kNotBuilt},
    // 2 arguments, returns a value
    {"loadsound",                2, Value,   Fixed,  kNotBuilt},
    // 3 arguments, returns a value
    {"loadsoundfrommem",         3, Value,   Fixed,  kNotBuilt},
    // 5 arguments, no value
    {"s_init",                   5, Nothing, Fixed,  kNotBuilt},
};

}  // namespace

std::span<const BuiltinRegistration> SoundRegistrations() {
    return kSoundBuiltins;
}

}  // namespace qob
