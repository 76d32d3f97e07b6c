// sound/sound_tables.h
// The tables over Amiga periods: the module periods of every finetune and
// note, the vibrato half sine, the 16.16 playback step of a period at the
// output rate, and the nearest note of a period.
#pragma once

#include <array>
#include <cstdint>

namespace qob {

constexpr int kHighestPeriod = 1712;
constexpr int kLowestPeriod = 13;
constexpr int kNotesPerFinetune = 84;
constexpr int kFinetunes = 16;

// The periods of the 84 notes at finetune 0, lowest note first: the first
// octave as the format gives it, each later note half the one an octave
// below it, truncated.
constexpr std::array<uint16_t, kNotesPerFinetune> MakeFinetuneZeroPeriods() {
    std::array<uint16_t, kNotesPerFinetune> row{1712, 1616, 1525, 1440, 1357, 1281, 1209, 1141, 1077, 1017, 961, 907};
    for (int note = 12; note < kNotesPerFinetune; ++note) row[note] = static_cast<uint16_t>(row[note - 12] / 2);
    return row;
}
inline constexpr std::array<uint16_t, kNotesPerFinetune> kFinetuneZeroPeriods = MakeFinetuneZeroPeriods();

// Periods indexed finetune x 84 + note. Finetune f (1 to 15) tunes every
// note down by f/96 of an octave: trunc(finetune-0 period x 2^(-f/96)),
// never below 13, the lowest period a module plays.
using ModulePeriodTable = std::array<uint16_t, kFinetunes * kNotesPerFinetune>;
const ModulePeriodTable& ModulePeriods();

// Half a sine in 32 steps, 0 to 255: vibrato adds it, then takes it away.
inline constexpr std::array<uint8_t, 32> kVibratoTable = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                                                          224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                                                          212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

using StepTable = std::array<uint64_t, kHighestPeriod + 1>;
using NoteTable = std::array<uint8_t, kHighestPeriod + 1>;

// step(p) = ((7159090 / 2p) << 16) / rate in unsigned 64-bit steps; step(0) = 0.
void BuildStepTable(StepTable& table, int rate);
// The same step for any period: the table's entry for 0 to 1712, the same
// formula above it, and 0 for a period of 0 or less.
uint64_t PeriodStep(const StepTable& table, int rate, int period);

// The index of the finetune-0 note whose period is nearest to each period: an
// exact match wins, else the smallest difference, the first of equals.
void BuildNoteTable(NoteTable& table);
int FindNearestPeriod(int period);

}  // namespace qob
