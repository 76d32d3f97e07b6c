// sound/sound_tables.cpp
// The period, step and note tables.
#include "sound/sound_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qob {

namespace {

constexpr uint64_t kAmigaClock = 7159090;

uint64_t StepByFormula(uint64_t period, int rate) {
    return ((kAmigaClock / (2 * period)) << 16) / static_cast<uint64_t>(rate);
}

ModulePeriodTable MakeModulePeriods() {
    ModulePeriodTable table{};
    for (int finetune = 0; finetune < kFinetunes; ++finetune) {
        const double factor = std::exp2(-finetune / 96.0);
        for (int note = 0; note < kNotesPerFinetune; ++note) {
            const int period = finetune == 0 ? kFinetuneZeroPeriods[note]
                                             : static_cast<int>(std::trunc(kFinetuneZeroPeriods[note] * factor));
            table[finetune * kNotesPerFinetune + note] = static_cast<uint16_t>(std::max(period, kLowestPeriod));
        }
    }
    return table;
}

}  // namespace

const ModulePeriodTable& ModulePeriods() {
    static const ModulePeriodTable table = MakeModulePeriods();
    return table;
}

void BuildStepTable(StepTable& table, int rate) {
    table[0] = 0;
    for (uint64_t period = 1; period <= kHighestPeriod; ++period) table[period] = StepByFormula(period, rate);
}

uint64_t PeriodStep(const StepTable& table, int rate, int period) {
    if (period <= 0 || rate <= 0) return 0;
    if (period <= kHighestPeriod) return table[period];
    return StepByFormula(static_cast<uint64_t>(period), rate);
}

int FindNearestPeriod(int period) {
    int nearest = 0;
    int nearestDistance = -1;
    for (int note = 0; note < kNotesPerFinetune; ++note) {
        const int distance = std::abs(kFinetuneZeroPeriods[note] - period);
        if (distance == 0) return note;
        if (nearestDistance < 0 || distance < nearestDistance) nearest = note, nearestDistance = distance;
    }
    return nearest;
}

void BuildNoteTable(NoteTable& table) {
    for (int period = 0; period <= kHighestPeriod; ++period)
        table[period] = static_cast<uint8_t>(FindNearestPeriod(period));
}

}  // namespace qob
