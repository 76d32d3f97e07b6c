// sound/sound_tables.cpp
// The step and note tables.
#include "sound/sound_tables.h"

#include <cstdlib>

namespace qob {

const std::array<uint16_t, kNotesPerFinetune> kFinetuneZeroPeriods = {
    1712, 1616, 1525, 1440, 1357, 1281, 1209, 1141, 1077, 1017, 961, 907,
    856,  808,  762,  720,  678,  640,  604,  570,  538,  508,  480, 453,
    428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240, 226,
    214,  202,  190,  180,  170,  160,  151,  143,  135,  127,  120, 113,
    107,  101,  95,   90,   85,   80,   76,   71,   67,   64,   60,  57,
    53,   50,   47,   45,   42,   40,   38,   36,   34,   32,   30,  28,
    27,   25,   24,   22,   21,   20,   19,   18,   17,   16,   15,  14,
};

namespace {

constexpr uint64_t kAmigaClock = 7159090;

}  // namespace

void BuildStepTable(StepTable& table, int rate) {
    table[0] = 0;
    for (uint64_t period = 1; period <= kHighestPeriod; ++period)
        table[period] = ((kAmigaClock / (2 * period)) << 16) / static_cast<uint64_t>(rate);
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
