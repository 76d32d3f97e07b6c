// sound/module_player.cpp
// Playing a tracker module on a music slot: ticks counted in output frames,
// rows read with their effects on the tick that ends a row, the effects that
// run on the other ticks, and the order and row to read next.
#include "sound/module_player.h"

#include <algorithm>
#include <span>

#include "sound/module_loader.h"
#include "sound/sound_mixer.h"

namespace qob {
namespace {

constexpr int kCellBytes = 4;
constexpr int kTickReference = 44100;  // the frequency at which a tick lasts 1 / ticks per second

// Effects by number; the extended ones are 14 with their x nibble.
enum Effect : int {
    kArpeggio = 0,
    kPortamentoUp = 1,
    kPortamentoDown = 2,
    kTonePortamento = 3,
    kVibrato = 4,
    kTonePortamentoSlide = 5,
    kVibratoSlide = 6,
    kSampleOffset = 9,
    kVolumeSlide = 10,
    kOrderJump = 11,
    kSetVolume = 12,
    kPatternBreak = 13,
    kExtended = 14,
    kSetSpeed = 15,
};

enum Extended : int {
    kPatternLoop = 6,
    kVolumeUp = 10,
    kVolumeDown = 11,
    kNoteCut = 12,
    kNoteDelay = 13,
    kPatternDelay = 14,
};

uint64_t StepOf(const MusicChannel& slot, int period) {
    return PeriodStep(slot.mixer->stepTable, slot.mixer->rate, period);
}

// The nearest finetune-0 note; periods above the table's first are nearest
// to its first note.
int NearestNote(const MusicChannel& slot, int period) {
    return period > kHighestPeriod ? 0 : slot.mixer->noteTable[std::max(period, 0)];
}

int FinetuneOf(const MusicChannel& slot, const MusicTrack& track) { return slot.samples[track.sample].finetune; }

// Notes past the last one play the last.
int TablePeriod(int finetune, int note) {
    return ModulePeriods()[finetune * kNotesPerFinetune + std::clamp(note, 0, kNotesPerFinetune - 1)];
}

void FollowVolume(const MusicChannel& slot, MusicTrack& track) {
    track.effectiveVolume = (slot.effectiveVolume.load(std::memory_order_relaxed) * track.volume) >> 6;
}

void SetVolumeOf(const MusicChannel& slot, MusicTrack& track, int volume) {
    track.volume = volume;
    FollowVolume(slot, track);
}

void TakeSample(const MusicChannel& slot, MusicTrack& track, int sample) {
    const MusicSample& source = slot.samples[sample];
    track.sample = sample;
    track.sampleData = source.data;
    track.sampleLength = source.length;
    track.loopStart = source.loopStart;
    track.loopLength = source.loopLength;
    SetVolumeOf(slot, track, source.volume);
}

// The note nearest a period at the track's finetune: its period and step.
void TakeNote(const MusicChannel& slot, MusicTrack& track, int period) {
    const int finetune = FinetuneOf(slot, track);
    track.noteSlot = finetune * kNotesPerFinetune + NearestNote(slot, period);
    track.period = ModulePeriods()[track.noteSlot];
    if (track.sample != 0) track.step = StepOf(slot, track.period);
}

void TriggerNote(const MusicChannel& slot, MusicTrack& track, int period) {
    track.position = 0;
    TakeNote(slot, track, period);
}

int VolumeSlideOf(int parameter, int x, int y) {
    if (parameter == 0) return 0;
    return x == 0 ? -y : x;
}

void SetSamplesPerTick(MusicChannel& slot) {
    slot.samplesPerTick = SamplesPerTick(slot.mixer->rate, slot.frequency.load(std::memory_order_relaxed), slot.ticksPerSecond);
}

// A row's order jump, pattern break and pattern loop leave the next position
// in jumpOrder and jumpRow, or end the song.
void JumpToOrder(MusicChannel& slot, int order, int readOrder) {
    if (!slot.loop.load(std::memory_order_relaxed) && order <= readOrder) {
        slot.songEnds = true;
        return;
    }
    slot.jumpOrder = order;
    slot.jumpRow = 0;
}

void BreakPattern(MusicChannel& slot, int x, int y, int readOrder) {
    int row = x * 10 + y;
    if (row >= kModuleRowsPerPattern) row = 0;  // a row past the pattern starts it
    if (readOrder + 1 < slot.songLength) {
        slot.jumpOrder = readOrder + 1;
    } else if (slot.loop.load(std::memory_order_relaxed)) {
        slot.jumpOrder = slot.restartOrder;
    } else {
        slot.songEnds = true;
        return;
    }
    slot.jumpRow = row;
}

void LoopPattern(MusicChannel& slot, MusicTrack& track, int y, int readOrder, int readRow) {
    if (y == 0) {
        track.loopStartRow = static_cast<uint8_t>(readRow);
        return;
    }
    if ((track.loopState & 0xF0) == 0) {
        track.loopState = static_cast<uint8_t>(0xF0 | y);
    } else {
        const int count = (track.loopState & 0x0F) - 1;
        if (count == 0) {
            track.loopState = 0;
            return;
        }
        track.loopState = static_cast<uint8_t>(0xF0 | count);
    }
    slot.jumpOrder = readOrder;
    slot.jumpRow = track.loopStartRow;
}

void RunExtendedRowEffect(MusicChannel& slot, MusicTrack& track, int cellPeriod, int readOrder, int readRow) {
    const int y = track.y;
    switch (track.x) {
        case kPatternLoop: return LoopPattern(slot, track, y, readOrder, readRow);
        case kVolumeUp: return SetVolumeOf(slot, track, std::min(track.volume + y, kFullVolume));
        case kVolumeDown: return SetVolumeOf(slot, track, std::max(track.volume - y, 0));
        case kNoteCut: track.cutCounter = y; return;
        case kNoteDelay:
            // A delay of 0 ticks plays the note at once; a delay without a
            // note has nothing to play.
            track.delayPeriod = cellPeriod;
            track.delayCounter = y == 0 || cellPeriod == 0 ? kNoDelay : y - 1;
            if (y == 0 && cellPeriod != 0) TriggerNote(slot, track, cellPeriod);
            return;
        case kPatternDelay: slot.patternDelay = y; return;
        default: return;
    }
}

void RunRowEffect(MusicChannel& slot, MusicTrack& track, int cellPeriod, int readOrder, int readRow) {
    const int parameter = track.parameter;
    const int x = track.x;
    const int y = track.y;
    switch (track.effect) {
        case kArpeggio: {
            if (parameter == 0) return;
            const int finetune = track.noteSlot / kNotesPerFinetune;
            const int note = track.noteSlot % kNotesPerFinetune;
            track.arpeggioPhase = 0;
            track.arpeggioSteps[0] = StepOf(slot, TablePeriod(finetune, note));
            track.arpeggioSteps[1] = StepOf(slot, TablePeriod(finetune, note + x));
            track.arpeggioSteps[2] = StepOf(slot, TablePeriod(finetune, note + y));
            return;
        }
        case kPortamentoUp:
        case kPortamentoDown: track.portamentoPeriod = track.period; return;
        case kTonePortamento:
            if (cellPeriod != 0)
                track.portamentoTarget = TablePeriod(FinetuneOf(slot, track), NearestNote(slot, cellPeriod));
            else if (track.portamentoTarget == 0)
                track.portamentoTarget = ModulePeriods()[track.noteSlot];
            if (parameter != 0) track.portamentoSpeed = parameter;
            return;
        case kVibrato:
            if (parameter == 0) return;
            track.vibratoPosition = 0;
            track.vibratoSpeed = x;
            track.vibratoDepth = y;
            return;
        case kTonePortamentoSlide:
        case kVibratoSlide:
        case kVolumeSlide: track.volumeSlide = VolumeSlideOf(parameter, x, y); return;
        case kSampleOffset:
            if (parameter != 0) track.sampleOffset = static_cast<uint32_t>(parameter) * 256;
            track.position = static_cast<uint64_t>(track.sampleOffset) << 16;
            return;
        case kOrderJump: return JumpToOrder(slot, parameter, readOrder);
        case kSetVolume: return SetVolumeOf(slot, track, parameter);  // above 64 plays louder
        case kPatternBreak: return BreakPattern(slot, x, y, readOrder);
        case kExtended: return RunExtendedRowEffect(slot, track, cellPeriod, readOrder, readRow);
        case kSetSpeed:
            if (parameter > 32) {
                slot.ticksPerSecond = parameter * 2 / 5;
                SetSamplesPerTick(slot);
            } else if (parameter != 0) {
                slot.speed = parameter;
            }
            return;
        default: return;  // the other effects do nothing
    }
}

void ReadCell(MusicChannel& slot, MusicTrack& track, const uint8_t* cell, int readOrder, int readRow) {
    const int sample = (cell[0] & 0xF0) | (cell[2] >> 4);
    const int period = (cell[0] & 0x0F) << 8 | cell[1];
    track.effect = cell[2] & 0x0F;
    track.parameter = cell[3];
    track.x = cell[3] >> 4;
    track.y = cell[3] & 0x0F;
    // The cell has room for sample numbers up to 255; those past the 31
    // samples of the module name none, as 0 does.
    if (sample != 0 && sample <= kModuleSampleCount) TakeSample(slot, track, sample);
    const bool delayed = track.effect == kExtended && track.x == kNoteDelay;  // ED0 triggers in its effect
    if (period != 0 && track.effect != kTonePortamento && track.effect != kTonePortamentoSlide && !delayed)
        TriggerNote(slot, track, period);
    RunRowEffect(slot, track, period, readOrder, readRow);
}

void ReadRow(MusicChannel& slot, int order, int row) {
    const int pattern = slot.orders[order];
    if (pattern >= slot.patternCount) return;  // never the case for an order of the song
    const size_t rowCells = static_cast<size_t>(slot.trackCount);
    const uint8_t* cells =
        slot.patterns + (static_cast<size_t>(pattern) * kModuleRowsPerPattern + static_cast<size_t>(row)) * rowCells * kCellBytes;
    for (int t = 0; t < slot.trackCount; ++t) ReadCell(slot, slot.tracks[t], cells + t * kCellBytes, order, row);
}

// The order and row after the row just read; false when the song ends.
bool MoveToNextRow(MusicChannel& slot, int readOrder, int readRow) {
    if (slot.songEnds) return false;
    int order = readOrder;
    int row = readRow + 1;
    if (slot.jumpOrder >= 0) {
        order = slot.jumpOrder;
        row = slot.jumpRow;
        slot.jumpOrder = -1;
        if (order >= slot.songLength) return false;
    } else if (row >= kModuleRowsPerPattern) {
        row = 0;
        if (++order >= slot.songLength) {
            if (!slot.loop.load(std::memory_order_relaxed)) return false;
            order = slot.restartOrder;
        }
    }
    slot.currentOrder.store(order, std::memory_order_relaxed);
    slot.currentRow.store(row, std::memory_order_relaxed);
    return true;
}

void MoveToward(MusicTrack& track) {
    if (track.period < track.portamentoTarget)
        track.period = std::min(track.period + track.portamentoSpeed, track.portamentoTarget);
    else
        track.period = std::max(track.period - track.portamentoSpeed, track.portamentoTarget);
}

void Vibrate(const MusicChannel& slot, MusicTrack& track) {
    const int position = track.vibratoPosition;
    const int swing = (kVibratoTable[position & 31] * track.vibratoDepth) >> 7;
    track.step = StepOf(slot, position < 32 ? track.period + swing : track.period - swing);
    track.vibratoPosition = (position + track.vibratoSpeed) & 63;
}

void SlideVolume(const MusicChannel& slot, MusicTrack& track) {
    SetVolumeOf(slot, track, std::clamp(track.volume + track.volumeSlide, 0, kFullVolume));
}

void RunTickEffect(const MusicChannel& slot, MusicTrack& track) {
    switch (track.effect) {
        case kArpeggio:
            if (track.parameter == 0) return;
            track.arpeggioPhase = (track.arpeggioPhase + 1) % 3;
            track.step = track.arpeggioSteps[track.arpeggioPhase];
            return;
        case kPortamentoUp:
        case kPortamentoDown:
            track.portamentoPeriod = track.effect == kPortamentoUp
                                         ? std::max(track.portamentoPeriod - track.parameter, kLowestPeriod)
                                         : std::min(track.portamentoPeriod + track.parameter, kHighestPeriod);
            track.period = track.portamentoPeriod;
            track.step = StepOf(slot, track.period);
            return;
        case kTonePortamento:
        case kTonePortamentoSlide:
            MoveToward(track);
            track.step = StepOf(slot, track.period);
            if (track.effect == kTonePortamentoSlide) SlideVolume(slot, track);
            return;
        case kVibrato:
        case kVibratoSlide:
            Vibrate(slot, track);
            if (track.effect == kVibratoSlide) SlideVolume(slot, track);
            return;
        case kVolumeSlide: return SlideVolume(slot, track);
        case kExtended:
            if (track.x == kNoteCut) {
                if (track.cutCounter != 0) --track.cutCounter;
                if (track.cutCounter == 0) track.effectiveVolume = 0;
            } else if (track.x == kNoteDelay && track.delayCounter != kNoDelay) {
                if (track.delayCounter-- == 0) {
                    TakeNote(slot, track, track.delayPeriod);
                    track.delayCounter = kNoDelay;
                }
            }
            return;
        default: return;
    }
}

}  // namespace

int64_t SamplesPerTick(int outputRate, int frequency, int ticksPerSecond) {
    int64_t divisor = ((static_cast<int64_t>(frequency) << 8) / kTickReference) * ticksPerSecond;
    if (divisor <= 0) divisor = 1;
    return ((static_cast<int64_t>(outputRate) << 16) / divisor) >> 8;
}

bool StartModulePlayback(MusicChannel& slot, const SoundModule& module) {
    if (!module.data || !slot.mixer) return false;
    ModuleLayout layout;
    if (ReadModuleLayout({module.data, module.size}, layout) != 0) return false;
    if (layout.channels < 1 || layout.channels > kMostTracks) return false;

    slot.trackCount = layout.channels;
    slot.songLength = layout.songLength;
    slot.restartOrder = layout.restartOrder;
    slot.orders = module.data + 952;
    slot.patterns = module.data + kModuleHeaderBytes;
    slot.patternCount = layout.patternCount;
    slot.samples = {};
    for (int s = 0; s < kModuleSampleCount; ++s) {
        const ModuleSampleInfo& info = layout.samples[s];
        MusicSample& sample = slot.samples[s + 1];
        sample.data = reinterpret_cast<const int8_t*>(module.data + info.offset);
        sample.length = static_cast<uint64_t>(info.length) << 16;
        sample.loopStart = static_cast<uint64_t>(info.loopStart) << 16;
        sample.loopLength = static_cast<uint64_t>(info.loopLength) << 16;
        sample.volume = info.volume;
        sample.finetune = info.finetune;
    }
    for (MusicTrack& track : slot.tracks) {
        track = MusicTrack{};
        track.delayCounter = kNoDelay;
    }
    slot.currentOrder.store(0, std::memory_order_relaxed);
    slot.currentRow.store(0, std::memory_order_relaxed);
    slot.speed = 6;
    slot.tick = 6;  // the first frame reads row 0
    slot.ticksPerSecond = 50;
    slot.sampleCounter = 0;
    slot.jumpOrder = -1;
    slot.songEnds = false;
    slot.lastRowRead = false;
    slot.patternDelay = 0;
    slot.soundRate = module.rate;
    slot.frequency.store(module.frequency, std::memory_order_relaxed);
    slot.stepDirty.store(true, std::memory_order_relaxed);
    return true;
}

bool AdvanceModuleFrame(MusicChannel& slot) {
    if (slot.stepDirty.exchange(false, std::memory_order_relaxed)) SetSamplesPerTick(slot);
    if (slot.tick != slot.speed) {
        if (slot.sampleCounter < slot.samplesPerTick) {
            ++slot.sampleCounter;
            return true;
        }
        slot.sampleCounter = 0;
        if (++slot.tick != slot.speed)
            for (int t = 0; t < slot.trackCount; ++t) RunTickEffect(slot, slot.tracks[t]);
        return true;
    }
    if (slot.patternDelay != 0) {
        --slot.patternDelay;
    } else {
        // The song ends once its last row has played out, pattern delay and all.
        if (slot.lastRowRead) return false;
        const int order = slot.currentOrder.load(std::memory_order_relaxed);
        const int row = slot.currentRow.load(std::memory_order_relaxed);
        if (order >= slot.songLength) return false;
        ReadRow(slot, order, row);
        if (!MoveToNextRow(slot, order, row)) slot.lastRowRead = true;
    }
    slot.tick = 0;
    return true;
}

}  // namespace qob
