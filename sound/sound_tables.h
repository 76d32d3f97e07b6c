// sound/sound_tables.h
// The mixer's per-rate tables over Amiga periods: the 16.16 playback step of
// a period at the output rate, and the nearest note of a period.
#pragma once

#include <array>
#include <cstdint>

namespace qob {

constexpr int kHighestPeriod = 1712;
constexpr int kNotesPerFinetune = 84;

// The periods of the 84 notes at finetune 0, lowest note first.
extern const std::array<uint16_t, kNotesPerFinetune> kFinetuneZeroPeriods;

using StepTable = std::array<uint64_t, kHighestPeriod + 1>;
using NoteTable = std::array<uint8_t, kHighestPeriod + 1>;

// step(p) = ((7159090 / 2p) << 16) / rate in unsigned 64-bit steps; step(0) = 0.
void BuildStepTable(StepTable& table, int rate);

// The index of the finetune-0 note whose period is nearest to each period: an
// exact match wins, else the smallest difference, the first of equals.
void BuildNoteTable(NoteTable& table);
int FindNearestPeriod(int period);

}  // namespace qob
