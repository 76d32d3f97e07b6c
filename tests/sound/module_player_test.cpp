// tests/sound/module_player_test.cpp
// The module player over modules written by the tests: tags, tick and row
// timing, every row and tick effect on a known row, the next-position rules,
// and the period and vibrato tables, all checked against values worked out
// by hand from the format's arithmetic at 22,050 Hz 16-bit mono.
#include "sound/module_player.h"

#include <gtest/gtest.h>

#include <vector>

#include "sound/module_loader.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound/sound_tables.h"
#include "sound_test_support.h"
#include "synthetic_module_support.h"

namespace qob {
namespace {

using testing::ConstantSample;
using testing::ModuleCell;
using testing::SyntheticModule;
using testing::SyntheticSample;

constexpr int kRate = 22050;
constexpr int kTickFrames = 441 + 1;                // samples per tick at 22,050 Hz and 50 ticks, + 1
constexpr int kRowFrames = 6 * kTickFrames + 1;     // speed 6
constexpr int kEffective = 64;                      // full master, module and sample volumes

// step(p) = ((7159090 / 2p) << 16) / rate, as the mixer's step table gives it.
uint64_t ExpectedStep(int period) {
    if (period <= 0) return 0;
    return ((uint64_t{7159090} / (2 * static_cast<uint64_t>(period))) << 16) / kRate;
}

class ModulePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::UseManualDevices({&device});
        ASSERT_EQ(SoundOpen(mixer, kRate, 16, false, 2, 8), 0);
    }
    void TearDown() override {
        SoundClose(mixer);
        testing::RestoreDeviceOptions();
    }

    // Loads the module and starts it on a slot; null when it does not start.
    MusicChannel* Play(const SyntheticModule& image, bool loop = false) {
        bytes = image.Bytes();
        EXPECT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), false), 0);
        module.SetLoop(loop);
        const int id = SoundPlayModule(mixer, &module, kPlayFirstFree);
        if (id < 0) return nullptr;
        return &mixer.musicSlots[id];
    }
    std::vector<int16_t> Frames(size_t count) {
        mixed += count;
        return testing::MixSixteen(mixer, count);
    }
    // Mixes up to (not including) the frame of that index.
    void MixUntil(size_t frame) {
        if (frame > mixed) Frames(frame - mixed);
    }

    testing::ManualDeviceState device;
    SoundMixer mixer;
    SoundModule module;
    std::vector<uint8_t> bytes;
    size_t mixed = 0;
};

// A module of one sample on track 0 with the cells given for pattern 0.
SyntheticModule OneTrack(std::vector<std::pair<int, ModuleCell>> rows, SyntheticSample sample = ConstantSample(64, 100)) {
    SyntheticModule image;
    image.samples = {sample};
    for (const auto& [row, cell] : rows) image.Set(0, row, 0, cell);
    return image;
}

TEST(ModuleTables, PeriodTableKeepsTheGivenEntries) {
    const ModulePeriodTable& periods = ModulePeriods();
    const int firstOctave[] = {1712, 1616, 1525, 1440, 1357, 1281, 1209, 1141, 1077, 1017, 961, 907};
    for (int note = 0; note < 12; ++note) EXPECT_EQ(periods[note], firstOctave[note]) << note;
    const int finetuneOne[] = {1699, 1604, 1514, 1429};
    for (int note = 0; note < 4; ++note) EXPECT_EQ(periods[84 + note], finetuneOne[note]) << note;
    EXPECT_EQ(periods.back(), 13);
}

TEST(ModuleTables, PeriodTableOctavesAndFinetunes) {
    struct Case {
        int finetune, note, period;
    };
    // Octaves halve, truncated: 1357 / 2 = 678, 339 / 2 = 169. Finetunes
    // scale by 2^(-f/96), truncated: 856 x 2^(-1/96) = 849.8, 1712 x
    // 2^(-15/96) = 1536.5; below 13 becomes 13.
    constexpr Case kCases[] = {{0, 12, 856}, {0, 16, 678}, {0, 24, 428}, {0, 40, 169}, {0, 83, 14},
                               {1, 12, 849}, {1, 24, 424}, {8, 0, 1615}, {15, 0, 1536}, {15, 24, 384},
                               {7, 83, 13},  {15, 82, 13}};
    for (const Case& c : kCases) EXPECT_EQ(ModulePeriods()[c.finetune * 84 + c.note], c.period) << c.finetune << " " << c.note;
    for (int finetune = 0; finetune < 16; ++finetune)
        for (int note = 1; note < 84; ++note)
            EXPECT_LE(ModulePeriods()[finetune * 84 + note], ModulePeriods()[finetune * 84 + note - 1]) << finetune << " " << note;
}

TEST(ModuleTables, VibratoTableIsAHalfSine) {
    EXPECT_EQ(kVibratoTable[0], 0);
    EXPECT_EQ(kVibratoTable[16], 255);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(kVibratoTable[i], kVibratoTable[32 - i]) << i;
}

TEST(ModuleTables, StepsOutsideTheTable) {
    StepTable table;
    BuildStepTable(table, kRate);
    struct Case {
        int period;
        uint64_t step;
    };
    const Case kCases[] = {{-16, 0}, {0, 0}, {13, ExpectedStep(13)}, {428, 24856}, {1712, ExpectedStep(1712)},
                           {1713, ExpectedStep(1713)}, {1741, 6110}, {4095, ExpectedStep(4095)}};
    for (const Case& c : kCases) EXPECT_EQ(PeriodStep(table, kRate, c.period), c.step) << c.period;
}

TEST(ModuleTables, SamplesPerTick) {
    struct Case {
        int rate, frequency, ticks;
        int64_t samples;
    };
    // ((rate << 16) / (((f << 8) / 44100) x ticks)) >> 8; a divisor of 0
    // (f below 173 Hz) counts as 1 instead of trapping.
    constexpr Case kCases[] = {{22050, 44100, 50, 441},       {44100, 44100, 50, 882}, {22050, 44100, 13, 1696},
                               {22050, 22050, 50, 882},       {22050, 100, 50, 22050 * 256},
                               {22050, 172, 50, 22050 * 256}, {22050, -5000, 50, 22050 * 256}};
    for (const Case& c : kCases) EXPECT_EQ(SamplesPerTick(c.rate, c.frequency, c.ticks), c.samples) << c.frequency;
}

TEST_F(ModulePlayerTest, TagsNameTheTracks) {
    struct Case {
        const char* tag;
        int channels;
        bool plays;
    };
    constexpr Case kCases[] = {{"M.K.", 4, true}, {"8CHN", 8, true}, {"32CH", 32, true}, {"1CHN", 1, true}, {"33CH", 33, false}};
    for (const Case& c : kCases) {
        SyntheticModule image;
        image.tag = c.tag;
        image.channels = c.channels;
        MusicChannel* slot = Play(image);
        EXPECT_EQ(slot != nullptr, c.plays) << c.tag;
        if (slot) {
            EXPECT_EQ(slot->trackCount, c.channels) << c.tag;
        }
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, ConstantSampleAndTheSecondRow) {
    // 64 bytes of +100 at period 428 (step 24,856): 64 << 16 / 24,856 =
    // 168.7, so 169 frames of 64 x 100; the note on row 1 starts at frame
    // 6 x (441 + 1) + 1.
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 0, 0}}, {1, {1, 428, 0, 0}}}));
    ASSERT_NE(slot, nullptr);
    const std::vector<int16_t> out = Frames(kRowFrames + 200);
    EXPECT_EQ(slot->samplesPerTick, 441);
    for (int i = 0; i < 169; ++i) ASSERT_EQ(out[i], 6400) << i;
    for (int i = 169; i < kRowFrames; ++i) ASSERT_EQ(out[i], 0) << i;
    EXPECT_EQ(kRowFrames, 2653);
    for (int i = kRowFrames; i < kRowFrames + 169; ++i) ASSERT_EQ(out[i], 6400) << i;
    EXPECT_EQ(out[kRowFrames + 169], 0);
}

TEST_F(ModulePlayerTest, SetSpeedAndTempo) {
    struct Case {
        int parameter;
        int speed, ticksPerSecond;
        int64_t samplesPerTick;
    };
    // 0x7D = 125: 125 x 2 / 5 = 50 ticks; 33 x 2 / 5 = 13 ticks, 1,696 samples.
    constexpr Case kCases[] = {{0x7D, 6, 50, 441}, {0x06, 6, 50, 441}, {0x03, 3, 50, 441},
                               {0x20, 32, 50, 441}, {0x21, 6, 13, 1696}, {0x00, 6, 50, 441}};
    for (const Case& c : kCases) {
        MusicChannel* slot = Play(OneTrack({{0, {0, 0, 15, c.parameter}}, {1, {1, 428, 0, 0}}}));
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(1);
        EXPECT_EQ(slot->speed, c.speed) << c.parameter;
        EXPECT_EQ(slot->ticksPerSecond, c.ticksPerSecond) << c.parameter;
        EXPECT_EQ(slot->samplesPerTick, c.samplesPerTick) << c.parameter;
        // Row 1 sounds after speed x (samples per tick + 1) + 1 frames.
        const size_t onset = static_cast<size_t>(c.speed * (c.samplesPerTick + 1) + 1);
        MixUntil(onset);
        EXPECT_EQ(Frames(1)[0], 6400) << c.parameter;
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, PatternBreakJumpsToTheRowOfTheNextOrder) {
    struct Case {
        int parameter;
        int row;
    };
    // D32: row 32; D99 and DF0 name rows past the pattern and start it.
    constexpr Case kCases[] = {{0x32, 32}, {0x00, 0}, {0x63, 63}, {0x64, 0}, {0x99, 0}, {0xF0, 0}};
    for (const Case& c : kCases) {
        SyntheticModule image = OneTrack({{0, {0, 0, 13, c.parameter}}});
        image.songLength = 2;
        image.orders = {0, 1};
        MusicChannel* slot = Play(image);
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(1);
        EXPECT_EQ(slot->GetPosition(), 64 + c.row) << c.parameter;
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, PatternBreakOnTheLastOrder) {
    // Without the loop flag the song ends; with it the restart order's row.
    SyntheticModule image = OneTrack({{0, {1, 428, 13, 0x05}}});
    image.songLength = 2;
    image.orders = {1, 0};
    image.restart = 1;
    MusicChannel* slot = Play(image);
    ASSERT_NE(slot, nullptr);
    slot->SetPosition(64);
    EXPECT_EQ(Frames(1)[0], 6400) << "the row with the break plays";
    Frames(kRowFrames - 1);
    EXPECT_FALSE(slot->stopped.load());
    EXPECT_EQ(Frames(2), (std::vector<int16_t>{0, 0})) << "the song ends where the next row would start";
    EXPECT_TRUE(slot->stopped.load());
    slot = Play(image, true);
    slot->SetPosition(64);
    Frames(1);
    EXPECT_EQ(slot->GetPosition(), 64 + 5);
    EXPECT_FALSE(slot->stopped.load());
}

TEST_F(ModulePlayerTest, OrderJumps) {
    struct Case {
        int fromOrder, toOrder;
        bool loop;
        int position;  // -1: the song ends
    };
    constexpr Case kCases[] = {{0, 2, false, 128}, {1, 2, false, 128}, {1, 1, false, -1}, {2, 0, false, -1},
                               {2, 0, true, 0},    {1, 1, true, 64},   {0, 3, true, -1}};
    for (const Case& c : kCases) {
        SyntheticModule image;
        image.samples = {ConstantSample(64, 100)};
        image.songLength = 3;
        image.orders = {0, 1, 2};
        image.Set(c.fromOrder, 0, 0, {1, 428, 11, c.toOrder});
        MusicChannel* slot = Play(image, c.loop);
        ASSERT_NE(slot, nullptr);
        slot->SetPosition(c.fromOrder * 64);
        const int16_t first = Frames(1)[0];
        EXPECT_EQ(first, 6400) << "the row with the jump plays";
        if (c.position < 0) {
            Frames(kRowFrames - 1);
            EXPECT_FALSE(slot->stopped.load()) << c.fromOrder << " to " << c.toOrder;
            Frames(1);
            EXPECT_TRUE(slot->stopped.load()) << c.fromOrder << " to " << c.toOrder;
        } else {
            EXPECT_EQ(slot->GetPosition(), c.position) << c.fromOrder << " to " << c.toOrder;
        }
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, SongEndAndRestartOrder) {
    SyntheticModule image = OneTrack({{63, {1, 428, 0, 0}}});
    image.songLength = 3;
    image.orders = {0, 0, 0};
    image.restart = 1;
    MusicChannel* slot = Play(image);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->GetLength(), 3 * 64);
    slot->SetPosition(2 * 64 + 63);
    EXPECT_EQ(Frames(1)[0], 6400) << "the last row plays";
    Frames(kRowFrames);
    EXPECT_TRUE(slot->stopped.load()) << "past the last order without the loop flag";
    slot = Play(image, true);
    slot->SetPosition(2 * 64 + 63);
    EXPECT_EQ(Frames(1)[0], 6400);
    EXPECT_EQ(slot->GetPosition(), 64) << "the restart order";
    slot->SetPosition(3 * 64);
    EXPECT_EQ(slot->GetPosition(), 64) << "orders past the song length are ignored";
    slot->SetPosition(5);
    EXPECT_EQ(slot->GetPosition(), 5);
}

TEST_F(ModulePlayerTest, TheLastRowPlaysWithItsPatternDelay) {
    // Row 63 of the one order holds a note and EE2: it lasts three row
    // lengths, and the song ends where row 64 would start.
    MusicChannel* slot = Play(OneTrack({{63, {1, 428, 14, 0xE2}}}, ConstantSample(8192, 100)));
    ASSERT_NE(slot, nullptr);
    const size_t lastRow = 63 * kRowFrames;
    MixUntil(lastRow);
    EXPECT_EQ(Frames(1)[0], 6400);
    MixUntil(lastRow + 3 * kRowFrames - 1);
    EXPECT_NE(Frames(1)[0], 0) << "the note still sounds at the end of the delay";
    EXPECT_FALSE(slot->stopped.load());
    EXPECT_EQ(Frames(1)[0], 0);
    EXPECT_TRUE(slot->stopped.load());
}

TEST_F(ModulePlayerTest, SongLengthAboveTheOrderTable) {
    SyntheticModule image;
    image.songLength = 200;
    MusicChannel* slot = Play(image);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->GetLength(), 128 * 64);
}

TEST_F(ModulePlayerTest, PatternLoop) {
    // E60 marks row 0, E62 on row 1 plays rows 0 and 1 twice more.
    MusicChannel* slot = Play(OneTrack({{0, {0, 0, 14, 0x60}}, {1, {0, 0, 14, 0x62}}}));
    ASSERT_NE(slot, nullptr);
    std::vector<int64_t> positions;
    Frames(1);
    positions.push_back(slot->GetPosition());
    for (int i = 0; i < 6; ++i) {
        Frames(kRowFrames);
        positions.push_back(slot->GetPosition());
    }
    EXPECT_EQ(positions, (std::vector<int64_t>{1, 0, 1, 0, 1, 2, 3}));
}

TEST_F(ModulePlayerTest, PatternDelayRepeatsTheRowLength) {
    MusicChannel* slot = Play(OneTrack({{0, {0, 0, 14, 0xE2}}, {1, {1, 428, 0, 0}}}));
    ASSERT_NE(slot, nullptr);
    MixUntil(3 * kRowFrames - 1);
    EXPECT_EQ(Frames(1)[0], 0);
    EXPECT_EQ(Frames(1)[0], 6400) << "row 1 after three row lengths";
}

TEST_F(ModulePlayerTest, TrackPans) {
    struct Case {
        int pan, even, odd;
    };
    constexpr Case kCases[] = {{255, 64, 192}, {0, 127, 129}, {128, 95, 161}};
    for (const Case& c : kCases) {
        SyntheticModule image;
        bytes = image.Bytes();
        ASSERT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), false), 0);
        module.SetPan(c.pan);
        const int id = SoundPlayModule(mixer, &module, kPlayFirstFree);
        ASSERT_GE(id, 0);
        for (int t = 0; t < 4; ++t) EXPECT_EQ(mixer.musicSlots[id].tracks[t].pan, t % 2 == 0 ? c.even : c.odd) << c.pan;
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, VolumeEffects) {
    struct Case {
        int effect, parameter, startVolume;
        int volumeAfterRow;  // after the row's five ticks
        int effectiveAfterRow;
    };
    // C: any value, above 64 too; A, 5, 6: +x or -y a tick within 0..64;
    // EA / EB: +y / -y once, within 0..64; EC2 cuts at tick 2.
    constexpr Case kCases[] = {{12, 0x20, 64, 0x20, 32}, {12, 0x80, 64, 0x80, 128}, {10, 0x02, 40, 30, 30},
                               {10, 0x20, 40, 50, 50},   {10, 0x40, 50, 64, 64},    {10, 0x0F, 40, 0, 0},
                               {5, 0x03, 40, 25, 25},    {6, 0x10, 40, 45, 45},     {10, 0x00, 40, 40, 40},
                               {14, 0xA5, 40, 45, 45},   {14, 0xA5, 62, 64, 64},    {14, 0xB5, 40, 35, 35},
                               {14, 0xB5, 3, 0, 0},      {14, 0xC2, 40, 40, 0},     {14, 0xC0, 40, 40, 0}};
    for (const Case& c : kCases) {
        MusicChannel* slot = Play(OneTrack({{0, {1, 428, c.effect, c.parameter}}}, ConstantSample(4096, 100, c.startVolume)));
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(kRowFrames - 1);
        EXPECT_EQ(slot->tracks[0].volume, c.volumeAfterRow) << c.effect << " " << c.parameter;
        EXPECT_EQ(slot->tracks[0].effectiveVolume, c.effectiveAfterRow) << c.effect << " " << c.parameter;
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, NoteCutOnItsTick) {
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 14, 0xC2}}}, ConstantSample(4096, 100)));
    ASSERT_NE(slot, nullptr);
    const std::vector<int16_t> out = Frames(3 * kTickFrames);
    EXPECT_EQ(out[2 * kTickFrames - 1], 6400);
    EXPECT_EQ(out[2 * kTickFrames], 0) << "cut on tick 2";
}

TEST_F(ModulePlayerTest, PortamentoLimitsAndSteps) {
    struct Case {
        int period, effect, parameter;
        std::vector<int> periods;  // after ticks 1 to 5
    };
    const Case kCases[] = {
        {428, 1, 4, {424, 420, 416, 412, 408}},
        {428, 2, 4, {432, 436, 440, 444, 448}},
        {113, 1, 0x30, {65, 17, 13, 13, 13}},
        {1616, 2, 0x30, {1664, 1712, 1712, 1712, 1712}},
        {1712, 2, 0xFF, {1712, 1712, 1712, 1712, 1712}},
    };
    for (const Case& c : kCases) {
        MusicChannel* slot = Play(OneTrack({{0, {1, c.period, c.effect, c.parameter}}}, ConstantSample(4096, 100)));
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(1);
        for (int tick = 1; tick <= 5; ++tick) {
            MixUntil(static_cast<size_t>(tick) * kTickFrames + 1);
            EXPECT_EQ(slot->tracks[0].period, c.periods[tick - 1]) << c.period << " tick " << tick;
            EXPECT_EQ(slot->tracks[0].step, ExpectedStep(c.periods[tick - 1])) << c.period << " tick " << tick;
        }
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, TonePortamentoMovesWithoutPassing) {
    // 428 toward 404 by 10 a tick: 418, 408, 404, 404, 404; the row's note
    // does not restart the sample. The next row goes on at the stored speed.
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 0, 0}}, {1, {0, 404, 3, 10}}, {2, {0, 0, 3, 0}}}, ConstantSample(4096, 100)));
    ASSERT_NE(slot, nullptr);
    MixUntil(kRowFrames + 1);
    const uint64_t position = slot->tracks[0].position;
    EXPECT_GT(position, uint64_t{900} << 16) << "no restart";
    EXPECT_EQ(slot->tracks[0].portamentoTarget, 404);
    const int expected[] = {418, 408, 404, 404, 404};
    for (int tick = 1; tick <= 5; ++tick) {
        MixUntil(kRowFrames + static_cast<size_t>(tick) * kTickFrames + 1);
        EXPECT_EQ(slot->tracks[0].period, expected[tick - 1]) << tick;
    }
    EXPECT_EQ(slot->tracks[0].step, ExpectedStep(404));
}

TEST_F(ModulePlayerTest, TonePortamentoTargets) {
    // The cell's period is taken as the table's nearest note.
    MusicChannel* slot = Play(OneTrack({{0, {1, 400, 3, 8}}}, ConstantSample(4096, 100)));
    ASSERT_NE(slot, nullptr);
    Frames(1);
    EXPECT_EQ(slot->tracks[0].period, 0) << "no note was triggered";
    EXPECT_EQ(slot->tracks[0].portamentoTarget, 404) << "400 is nearest to 404";
    // No target set and none in the cell: the current note's period.
    slot = Play(OneTrack({{0, {1, 428, 0, 0}}, {1, {0, 0, 3, 8}}}, ConstantSample(4096, 100)));
    ASSERT_NE(slot, nullptr);
    mixed = 0;
    MixUntil(kRowFrames + 1);
    EXPECT_EQ(slot->tracks[0].portamentoTarget, 428);
    EXPECT_EQ(slot->tracks[0].portamentoSpeed, 8);
}

TEST_F(ModulePlayerTest, Arpeggio) {
    // 428 is note 24; +3 is note 27 (360), +7 note 31 (285).
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 0, 0x37}}}, ConstantSample(4096, 100)));
    ASSERT_NE(slot, nullptr);
    Frames(1);
    EXPECT_EQ(slot->tracks[0].step, ExpectedStep(428));
    const int expected[] = {360, 285, 428, 360, 285};
    for (int tick = 1; tick <= 5; ++tick) {
        MixUntil(static_cast<size_t>(tick) * kTickFrames + 1);
        EXPECT_EQ(slot->tracks[0].step, ExpectedStep(expected[tick - 1])) << tick;
    }
}

TEST_F(ModulePlayerTest, ArpeggioPastTheLastNote) {
    // Note 83 of finetune 15 plus 15: the last note, never the next row of
    // the table or past it.
    SyntheticSample sample = ConstantSample(4096, 100);
    sample.finetune = 15;
    MusicChannel* slot = Play(OneTrack({{0, {1, 14, 0, 0xFF}}}, sample));
    ASSERT_NE(slot, nullptr);
    Frames(1);
    EXPECT_EQ(slot->tracks[0].noteSlot, 15 * 84 + 83);
    for (int phase = 0; phase < 3; ++phase) EXPECT_EQ(slot->tracks[0].arpeggioSteps[phase], ExpectedStep(13)) << phase;
}

TEST_F(ModulePlayerTest, FinetuneIsTheLowNibble) {
    struct Case {
        int finetuneByte, period;
    };
    constexpr Case kCases[] = {{0, 428}, {1, 424}, {0x11, 424}, {0xFF, 384}, {0xF0, 428}};
    for (const Case& c : kCases) {
        SyntheticSample sample = ConstantSample(64, 100);
        sample.finetune = c.finetuneByte;
        MusicChannel* slot = Play(OneTrack({{0, {1, 428, 0, 0}}}, sample));
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(1);
        EXPECT_EQ(slot->tracks[0].period, c.period) << c.finetuneByte;
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, SampleNumbersPastTheLastSample) {
    // Cells hold 8 bits of sample number; above 31 none is named and the
    // track keeps the sample it has.
    struct Case {
        int sample;
        int kept;
    };
    constexpr Case kCases[] = {{32, 1}, {0x30, 1}, {0xFF, 1}, {31, 31}, {2, 2}};
    for (const Case& c : kCases) {
        SyntheticModule image = OneTrack({{0, {1, 428, 0, 0}}, {1, {c.sample, 428, 0, 0}}});
        image.samples.resize(31, ConstantSample(64, 50, 32));
        MusicChannel* slot = Play(image);
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        MixUntil(kRowFrames + 1);
        EXPECT_EQ(slot->tracks[0].sample, c.kept) << c.sample;
        EXPECT_EQ(slot->tracks[0].position, slot->tracks[0].step) << c.sample << ": the note restarts all the same";
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, CellPeriodsAboveTheTable) {
    // Periods up to 4,095 fit a cell; above 1712 the nearest note is note 0.
    struct Case {
        int period, played;
    };
    constexpr Case kCases[] = {{4095, 1712}, {1713, 1712}, {2000, 1712}, {1700, 1712}, {1, 14}};
    for (const Case& c : kCases) {
        MusicChannel* slot = Play(OneTrack({{0, {1, c.period, 0, 0}}}));
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(1);
        EXPECT_EQ(slot->tracks[0].period, c.played) << c.period;
        EXPECT_EQ(slot->tracks[0].step, ExpectedStep(c.played)) << c.period;
        SoundStopAllMusic(mixer);
    }
}

TEST_F(ModulePlayerTest, VibratoAndItsExtremes) {
    struct Case {
        int period, parameter;
        std::vector<int> periods;  // heard on ticks 1 to 5
    };
    // Speed x, depth y: tick 1 reads position 0, then x further each tick;
    // the swing is table x depth >> 7, added below position 32 and taken
    // away from 32 on. At 1712 with depth 15 the top lies 29 above the step
    // table; at 14 it goes below 0, where the step is 0.
    const Case kCases[] = {
        {428, 0x48, {428, 428 + (97 * 8 >> 7), 428 + (180 * 8 >> 7), 428 + (235 * 8 >> 7), 428 + (255 * 8 >> 7)}},
        {1712, 0x8F, {1712, 1712 + (180 * 15 >> 7), 1712 + (255 * 15 >> 7), 1712 + (180 * 15 >> 7), 1712}},
        {14, 0x8F, {14, 14 + (180 * 15 >> 7), 14 + (255 * 15 >> 7), 14 + (180 * 15 >> 7), 14}},
    };
    for (const Case& c : kCases) {
        MusicChannel* slot = Play(OneTrack({{0, {1, c.period, 4, c.parameter}}}, ConstantSample(4096, 100)));
        ASSERT_NE(slot, nullptr);
        mixed = 0;
        Frames(1);
        for (int tick = 1; tick <= 5; ++tick) {
            MixUntil(static_cast<size_t>(tick) * kTickFrames + 1);
            EXPECT_EQ(slot->tracks[0].step, ExpectedStep(c.periods[tick - 1])) << c.period << " tick " << tick;
        }
        SoundStopAllMusic(mixer);
    }
    // The second half of the sine swings below the period.
    MusicChannel* slot = Play(OneTrack({{0, {1, 14, 4, 0xFF}}}, ConstantSample(4096, 100)));
    ASSERT_NE(slot, nullptr);
    mixed = 0;
    Frames(1);
    MixUntil(3 * kTickFrames + 1);  // positions 0, 15, 30, then 45: 14 - (244 x 15 >> 7) < 0
    EXPECT_EQ(slot->tracks[0].vibratoPosition, 45);
    MixUntil(4 * kTickFrames + 1);
    EXPECT_EQ(slot->tracks[0].step, 0u);
}

TEST_F(ModulePlayerTest, SampleOffset) {
    std::vector<int8_t> ramp(1024);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int8_t>(i / 8);
    SyntheticSample sample;
    sample.data = ramp;
    // 902: 2 x 256 bytes in; a later 900 uses the stored offset again.
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 9, 2}}, {1, {1, 428, 9, 0}}}, sample));
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(Frames(1)[0], 64 * (512 / 8));
    MixUntil(kRowFrames);
    EXPECT_EQ(Frames(1)[0], 64 * (512 / 8));
}

TEST_F(ModulePlayerTest, NoteDelay) {
    // ED2: the note's period arrives on tick 2 without restarting the
    // sample; ED0 plays it at once.
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 0, 0}}, {1, {0, 214, 14, 0xD2}}}, ConstantSample(8192, 100)));
    ASSERT_NE(slot, nullptr);
    MixUntil(kRowFrames + 1);
    EXPECT_EQ(slot->tracks[0].period, 428);
    MixUntil(kRowFrames + kTickFrames + 1);
    EXPECT_EQ(slot->tracks[0].period, 428);
    const uint64_t before = slot->tracks[0].position;
    MixUntil(kRowFrames + 2 * kTickFrames + 1);
    EXPECT_EQ(slot->tracks[0].period, 214);
    EXPECT_EQ(slot->tracks[0].step, ExpectedStep(214));
    EXPECT_GT(slot->tracks[0].position, before) << "the sample goes on";

    slot = Play(OneTrack({{0, {1, 428, 14, 0xD0}}}));
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(Frames(1)[0], 6400) << "ED0 plays at once";
    EXPECT_EQ(slot->tracks[0].period, 428);

    // A delay without a note has nothing to play: the track goes on.
    slot = Play(OneTrack({{0, {1, 428, 0, 0}}, {1, {0, 0, 14, 0xD1}}}, ConstantSample(8192, 100)));
    ASSERT_NE(slot, nullptr);
    mixed = 0;
    MixUntil(kRowFrames + 3 * kTickFrames);
    EXPECT_EQ(slot->tracks[0].period, 428);
    EXPECT_EQ(Frames(1)[0], 6400);
}

TEST_F(ModulePlayerTest, UnlistedEffectsDoNothing) {
    // 7, 8, E0 to E5, E7 to E9 and EF leave the track as a row without an effect.
    SyntheticModule plain = OneTrack({{0, {1, 428, 0, 0}}, {1, {0, 0, 0, 0}}}, ConstantSample(8192, 60));
    plain.Set(0, 1, 0, {0, 0, 0, 0});
    Play(plain);
    const std::vector<int16_t> expected = Frames(2 * kRowFrames);
    struct Case {
        int effect, parameter;
    };
    constexpr Case kCases[] = {{7, 0x48}, {8, 0x80}, {14, 0x01}, {14, 0x12}, {14, 0x22}, {14, 0x31},
                               {14, 0x47}, {14, 0x51}, {14, 0x73}, {14, 0x80}, {14, 0x93}, {14, 0xF3}};
    for (const Case& c : kCases) {
        SoundStopAllMusic(mixer);
        Play(OneTrack({{0, {1, 428, 0, 0}}, {1, {0, 0, c.effect, c.parameter}}}, ConstantSample(8192, 60)));
        EXPECT_EQ(Frames(2 * kRowFrames), expected) << c.effect << " " << c.parameter;
    }
}

TEST_F(ModulePlayerTest, SlotVolumeAndFrequency) {
    MusicChannel* slot = Play(OneTrack({{0, {1, 428, 0, 0}}}, ConstantSample(4096, 100, 48)));
    ASSERT_NE(slot, nullptr);
    Frames(1);
    SoundSetMusicVolume(mixer, 32);
    slot->SetVolume(32);
    EXPECT_EQ(slot->effectiveVolume.load(), 16);
    EXPECT_EQ(slot->tracks[0].effectiveVolume, 16 * 48 >> 6);
    // A frequency below 173 Hz stops the ticks instead of dividing by 0.
    ChannelSetFrequency(*slot, 100);
    Frames(100);
    EXPECT_EQ(slot->samplesPerTick, 22050 * 256);
    EXPECT_FALSE(slot->stopped.load());
}

}  // namespace
}  // namespace qob
