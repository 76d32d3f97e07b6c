// sound/module_loader.h
// Tracker modules: the layout of a module file, checked against the bytes
// present, and the loaders from files, memory and resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sound/music_channel.h"

namespace qob {

constexpr size_t kModuleHeaderBytes = 1084;
constexpr int kModuleSampleCount = 31;
constexpr int kModuleOrderCount = 128;
constexpr int kModuleRowsPerPattern = 64;
constexpr int kLeastModuleTracks = 1;
constexpr int kMostModuleTracks = 32;

// One sample of the module, in bytes; length and loop already cut to the
// sample data present. A loop length of 0 means no loop.
struct ModuleSampleInfo {
    size_t offset = 0;  // of its data, from the start of the module
    uint32_t length = 0;
    uint32_t loopStart = 0;
    uint32_t loopLength = 0;
    int finetune = 0;  // 0 to 15
    int volume = 0;    // the default volume byte
};

struct ModuleLayout {
    int channels = 0;       // from the tag
    int songLength = 0;     // orders, at most 128
    int restartOrder = 0;   // 0 when the byte is 127 or not below the song length
    int patternCount = 0;
    size_t sampleDataStart = 0;
    size_t size = 0;  // bytes used: up to the end of the last sample data present
    ModuleSampleInfo samples[kModuleSampleCount];
};

// The channel count a tag names: "M?K?" 4; else, when its second or third
// byte is "C", its leading decimal digits (two when the second byte is a
// digit too; a first byte that is no digit counts as 0); else 0.
[[nodiscard]] int ModuleChannelCount(const uint8_t* tag);

// The layout of a module's bytes: 0, or -100 for a tag that names no channel
// count or a header or pattern data that does not fit. The pattern count is
// the highest order byte of all 128 orders + 1 when the bytes hold that many
// patterns and the samples after them, else that of the song's orders.
[[nodiscard]] int ReadModuleLayout(std::span<const uint8_t> bytes, ModuleLayout& layout);

// Each returns 0 or a negative code and leaves the module empty on failure;
// every load first stops the slots that play the module and frees its data.
// -200 cannot open, -300 empty or unreadable, -10 memory or null data, -100
// not a module.
int SoundModuleLoadFile(SoundModule& module, std::span<const uint16_t> path);
// With copy the module gets a block of its own of the bytes it uses; without
// it the caller's block is played in place.
int SoundModuleLoadMemory(SoundModule& module, const void* data, size_t size, bool copy);
// The executable's resource of type "PTMOD"; -200 when it is missing.
int SoundModuleLoadResource(SoundModule& module, const void* instance, int resourceId, bool copy);

// Stops the slots that play the module, frees what it owns and leaves it
// empty, its settings as at construction.
void ClearModule(SoundModule& module);

}  // namespace qob
