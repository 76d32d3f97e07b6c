// sound/sound_builtins.cpp
// The sound built-ins: a thin layer that pops arguments (rightmost first),
// calls the program's sound handles and pushes the result.
#include "sound/sound_builtins.h"

#include <cstdint>
#include <span>
#include <string>

#include "sound/sound_codes.h"
#include "sound/sound_handles.h"
#include "sound/sound_mixer.h"
#include "runtime/values/number_rules.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

SoundHandles& Handles() { return ProgramSoundHandles(); }

// A number argument; a text that reads as a number counts as that number.
int32_t PopNumberArgument() { return TruncateToInt32(PopNumber()); }

std::span<const uint16_t> WideSpan(const uint16_t* text) {
    size_t length = 0;
    if (text)
        while (text[length] != 0) ++length;
    return {text, length};
}

// A load's result: the handle, or -1 after the report.
void PushLoaded(int code, const char* message) {
    if (code < 0) {
        RaiseRuntimeError(message, 0);
        PushNumber(-1);
        return;
    }
    PushNumber(code);
}

}  // namespace

void Builtin_s_init() {
    const int voices = PopNumberArgument();
    const int musicSlots = PopNumberArgument();
    const int stereo = PopNumberArgument();
    const int bits = PopNumberArgument();
    const int rate = PopNumberArgument();
    Handles().Init(rate, bits, stereo != 0, musicSlots, voices);
}

void Builtin_s_bufferlength() { (void)SoundSetBufferLength(Mixer, PopNumberArgument()); }

void Builtin_s_shut() { Handles().Shut(); }

void Builtin_loadsound() {
    const int type = PopNumberArgument();
    const StackEntry* file = PopStackEntry();
    const std::string name = StackEntryString(file);
    const int code = Handles().LoadFile(WideSpan(StackEntryWideString(file)), type);
    PushLoaded(code, ("Error loading sound " + name).c_str());
}

void Builtin_loadsoundfrommem() {
    const int type = PopNumberArgument();
    const int size = PopNumberArgument();
    // Program memory lies below 2 GiB: the address travels as 32 bits.
    const auto address = static_cast<uintptr_t>(static_cast<uint32_t>(PopInteger()));
    const int code = size < 0 ? kSoundNoMemory : Handles().LoadMemory(reinterpret_cast<const void*>(address), static_cast<size_t>(size), type);
    PushLoaded(code, "Error loading sound from memory");
}

void Builtin_playsound() { Handles().Play(PopNumberArgument()); }
void Builtin_stopsound() { Handles().Stop(PopNumberArgument()); }
void Builtin_pausesound() { Handles().Pause(PopNumberArgument()); }
void Builtin_resumesound() { Handles().Resume(PopNumberArgument()); }
void Builtin_soundstate() { PushNumber(Handles().State(PopNumberArgument())); }
void Builtin_volume() { PushNumber(Handles().Volume(PopNumberArgument())); }
void Builtin_frequency() { PushNumber(Handles().Frequency(PopNumberArgument())); }
void Builtin_pan() { PushNumber(Handles().Pan(PopNumberArgument())); }
void Builtin_loop() { PushNumber(Handles().Loop(PopNumberArgument())); }

void Builtin_setvolume() {
    const int volume = PopNumberArgument();
    Handles().SetVolume(PopNumberArgument(), volume);
}

void Builtin_setfrequency() {
    const int frequency = PopNumberArgument();
    Handles().SetFrequency(PopNumberArgument(), frequency);
}

void Builtin_setpan() {
    const int pan = PopNumberArgument();
    Handles().SetPan(PopNumberArgument(), pan);
}

void Builtin_setloop() {
    const int loop = PopNumberArgument();
    Handles().SetLoop(PopNumberArgument(), loop);
}

void Builtin_freesound() { Handles().Free(PopNumberArgument()); }

}  // namespace qob
