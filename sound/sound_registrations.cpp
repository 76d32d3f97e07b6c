// sound/sound_registrations.cpp
// The sound rows of the start-up registration.
#include "sound/sound_registrations.h"

#include "sound/sound_builtins.h"

namespace qob {
namespace {

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kSoundBuiltins[] = {
    // name                    args returns   arity   handler
    // 0 arguments, no value
    {"s_shut",                   0, Nothing, Fixed,  Builtin_s_shut},
    // 1 argument, no value
    {"playsound",                1, Nothing, Fixed,  Builtin_playsound},
    {"pausesound",               1, Nothing, Fixed,  Builtin_pausesound},
    {"resumesound",              1, Nothing, Fixed,  Builtin_resumesound},
    {"stopsound",                1, Nothing, Fixed,  Builtin_stopsound},
    {"freesound",                1, Nothing, Fixed,  Builtin_freesound},
    {"s_bufferlength",           1, Nothing, Fixed,  Builtin_s_bufferlength},
    // 1 argument, returns a value
    {"soundstate",               1, Value,   Fixed,  Builtin_soundstate},
    {"volume",                   1, Value,   Fixed,  Builtin_volume},
    {"frequency",                1, Value,   Fixed,  Builtin_frequency},
    {"pan",                      1, Value,   Fixed,  Builtin_pan},
    {"loop",                     1, Value,   Fixed,  Builtin_loop},
    // 2 arguments, no value
    {"setvolume",                2, Nothing, Fixed,  Builtin_setvolume},
    {"setfrequency",             2, Nothing, Fixed,  Builtin_setfrequency},
    {"setpan",                   2, Nothing, Fixed,  Builtin_setpan},
    {"setloop",                  2, Nothing, Fixed,  Builtin_setloop},
    // 2 arguments, returns a value
    {"loadsound",                2, Value,   Fixed,  Builtin_loadsound},
    // 3 arguments, returns a value
    {"loadsoundfrommem",         3, Value,   Fixed,  Builtin_loadsoundfrommem},
    // 5 arguments, no value
    {"s_init",                   5, Nothing, Fixed,  Builtin_s_init},
};

}  // namespace

std::span<const BuiltinRegistration> SoundRegistrations() {
    return kSoundBuiltins;
}

}  // namespace qob
