// tests/sound/module_oracles_test.cpp
// The module player against two outside players (openmpt123 and xmp) at the
// level of features, never sample by sample: the song length of modules the
// tests write and of the tecnoballz-data game modules, the dominant pitch
// of one track, the level of each row, and the one game module without a
// channel tag. The period clock and the tick length differ from the
// references by design, so songs are compared in rows, pitches within 1.5%,
// and row levels within 1.5 dB, each row over its own length in each player
// (and, to see past those two differences, with this player run at the
// reference's clock and tick length).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/temp_directory.h"
#include "sound/module_loader.h"
#include "sound/module_player.h"
#include "sound/sound_codes.h"
#include "sound/sound_handles.h"
#include "sound/sound_mixer.h"
#include "sound/sound_tables.h"
#include "sound_file_support.h"
#include "sound_test_support.h"
#include "synthetic_module_support.h"

namespace qob {
namespace {

using testing::CommandOutput;
using testing::ConstantSample;
using testing::HaveTool;
using testing::Quoted;
using testing::SyntheticModule;
using testing::TempDirectory;

constexpr int kRate = 22050;

// How a song plays through our player, in the references' time: each row
// (a delayed row too) lasts speed / ticks-per-second seconds there.
struct SongTiming {
    int rows = 0;               // row lengths played
    double seconds = 0;         // at the references' tick length
    double longestRow = 0;      // seconds
    bool ended = false;
};

class ModuleOracleTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::UseManualDevices({&device});
        ASSERT_EQ(SoundOpen(mixer, kRate, 16, false, 1, 8), 0);
    }
    void TearDown() override {
        ClearModule(module);
        SoundClose(mixer);
        testing::RestoreDeviceOptions();
    }

    // Runs the tick and row logic alone (nothing is mixed), with short ticks:
    // the song's rows do not depend on the tick length.
    SongTiming Time(const std::vector<uint8_t>& bytes) {
        SongTiming timing;
        EXPECT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), false), 0);
        const int id = SoundPlayModule(mixer, &module, kPlayFirstFree);
        EXPECT_EQ(id, 0);
        if (id != 0) return timing;
        MusicChannel& slot = mixer.musicSlots[0];
        std::lock_guard guard(LockOf(mixer));
        ChannelSetFrequency(slot, 44100 * 100);  // a few frames a tick
        for (int frame = 0; frame < 50'000'000; ++frame) {
            const bool rowStarts = slot.tick == slot.speed;
            const bool playing = AdvanceModuleFrame(slot);
            if (rowStarts) {
                const double row = static_cast<double>(slot.speed) / slot.ticksPerSecond;
                ++timing.rows;
                timing.seconds += row;
                timing.longestRow = std::max(timing.longestRow, row);
            }
            if (!playing) {
                timing.ended = true;
                break;
            }
        }
        slot.Stop();
        return timing;
    }

    testing::ManualDeviceState device;
    SoundMixer mixer;
    SoundModule module;
};

void SkipWithout(const char* tool) {
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
}

// "Duration...: 01:09.119" of openmpt123 --info for the main song (subsong 0;
// orders that the song never reaches form further subsongs), in seconds.
std::optional<double> OpenmptDuration(const std::string& path) {
    const std::optional<std::string> info = CommandOutput("openmpt123 --info --subsong 0 " + Quoted(path) + " 2>&1");
    if (!info) return std::nullopt;
    const size_t at = info->find("Duration...: ");
    if (at == std::string::npos) return std::nullopt;
    int minutes = 0;
    double seconds = 0;
    if (std::sscanf(info->c_str() + at + 13, "%d:%lf", &minutes, &seconds) != 2) return std::nullopt;
    return minutes * 60 + seconds;
}

// Seconds of xmp's render of a module (mono, nearest sample, at most limit).
std::optional<double> XmpDuration(const std::string& path, const std::string& folder, int limit) {
    const std::string wave = folder + "/xmp.wav";
    if (!CommandOutput("xmp --norc --nocmd -q -o " + Quoted(wave) + " -f 22050 -m -i nearest -t " + std::to_string(limit) +
                       " " + Quoted(path) + " >/dev/null 2>&1; echo"))
        return std::nullopt;
    const std::optional<std::string> seconds = CommandOutput("soxi -D " + Quoted(wave) + " 2>/dev/null");
    if (!seconds || seconds->empty()) return std::nullopt;
    return std::strtod(seconds->c_str(), nullptr);
}

std::string WriteModule(TempDirectory& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    return dir.Write(name, std::string(bytes.begin(), bytes.end()));
}

struct WrittenModule {
    std::string name;
    SyntheticModule image;
    // openmpt123 (0.6.9) takes every pattern break of a module written like
    // these to row 0 of the next order, whatever its parameter (its render
    // plays the next order's first row); xmp goes to the row given, as the
    // format says. Such modules are held against xmp alone.
    bool breaksToRows = false;
};

// Modules written here, each with its jumps or timing effects on known rows.
std::vector<WrittenModule> WrittenModules() {
    std::vector<WrittenModule> modules;
    SyntheticModule base;
    base.samples = {ConstantSample(2048, 60)};
    base.songLength = 3;
    base.orders = {0, 1, 2};
    for (int order = 0; order < 3; ++order) base.Set(order, 0, 0, {1, 428, 0, 0});

    modules.push_back({"plain", base});
    SyntheticModule breaks = base;
    breaks.Set(0, 10, 1, {0, 0, 13, 0x32});  // D32
    breaks.Set(1, 40, 2, {0, 0, 13, 0x05});
    modules.push_back({"breaks", breaks, true});
    SyntheticModule speeds = base;
    speeds.Set(0, 0, 1, {0, 0, 15, 3});
    speeds.Set(1, 0, 1, {0, 0, 15, 0x7D});
    speeds.Set(1, 0, 2, {0, 0, 15, 9});
    speeds.Set(2, 0, 1, {0, 0, 15, 0x96});
    modules.push_back({"speeds", speeds});
    SyntheticModule jump = base;
    jump.Set(1, 20, 3, {0, 0, 11, 0});  // backward B: the song ends
    modules.push_back({"backward_jump", jump});
    SyntheticModule forward = base;
    forward.Set(0, 5, 0, {0, 0, 11, 2});
    modules.push_back({"forward_jump", forward});
    SyntheticModule loops = base;
    loops.Set(0, 8, 0, {0, 0, 14, 0x60});
    loops.Set(0, 15, 0, {0, 0, 14, 0x63});
    loops.Set(2, 2, 1, {0, 0, 14, 0xE3});  // pattern delay
    modules.push_back({"loops_and_delay", loops});
    return modules;
}

TEST_F(ModuleOracleTest, WrittenModulesLastAsLongAsInTheReferences) {
    SkipWithout("openmpt123");
    TempDirectory dir;
    for (const auto& [name, image, breaksToRows] : WrittenModules()) {
        const std::vector<uint8_t> bytes = image.Bytes();
        const std::string path = WriteModule(dir, name + ".mod", bytes);
        const SongTiming ours = Time(bytes);
        ASSERT_TRUE(ours.ended) << name;
        const std::optional<double> theirs = OpenmptDuration(path);
        ASSERT_TRUE(theirs) << name << ": openmpt123 does not read it";
        if (!breaksToRows) {
            EXPECT_LE(std::abs(ours.seconds - *theirs), ours.longestRow + 0.002)
                << name << ": " << ours.rows << " rows, " << ours.seconds << " s against openmpt123's " << *theirs << " s";
        }
        if (HaveTool("xmp") && HaveTool("soxi")) {
            const std::optional<double> xmp = XmpDuration(path, dir.Join(""), 120);
            ASSERT_TRUE(xmp) << name;
            // xmp renders whole ticks of its own length: one row more of slack.
            EXPECT_LE(std::abs(ours.seconds - *xmp), 2 * ours.longestRow) << name << " against xmp's " << *xmp << " s";
        }
    }
}

TEST_F(ModuleOracleTest, GameModulesLastAsLongAsInTheReferences) {
    SkipWithout("openmpt123");
    const std::vector<std::string> files = testing::PackageFiles("tecnoballz-data", ".mod");
    if (files.empty()) GTEST_SKIP() << "tecnoballz-data is not installed (scripts/install-deps installs it)";
    for (const std::string& path : files) {
        const std::optional<std::string> text = testing::ReadWholeFile(path);
        ASSERT_TRUE(text) << path;
        const std::vector<uint8_t> bytes(text->begin(), text->end());
        if (ModuleChannelCount(bytes.data() + 1080) == 0) continue;  // the negative case, below
        const SongTiming ours = Time(bytes);
        ASSERT_TRUE(ours.ended) << path;
        const std::optional<double> theirs = OpenmptDuration(path);
        ASSERT_TRUE(theirs) << path;
        EXPECT_LE(std::abs(ours.seconds - *theirs), ours.longestRow + 0.002)
            << path << ": " << ours.rows << " rows, " << ours.seconds << " s against openmpt123's " << *theirs << " s";
    }
}

TEST(ModuleOracles, TheGameModuleWithoutATagIsRefused) {
    const std::vector<std::string> files = testing::PackageFiles("tecnoballz-data", "area1-game2.mod");
    if (files.empty()) GTEST_SKIP() << "tecnoballz-data is not installed (scripts/install-deps installs it)";
    testing::ManualDeviceState device;
    testing::UseManualDevices({&device});
    SoundMixer mixer;
    SoundHandles handles(mixer);
    handles.Init(kRate, 16, false, 1, 8);
    EXPECT_EQ(handles.LoadFile(testing::Utf16(files[0]), 1), kSoundUnknownFormat);
    EXPECT_FALSE(handles.IsLoaded(kModuleHandleBase));
    handles.Shut();
    testing::RestoreDeviceOptions();
}

// Zero crossings upward per second of 16-bit mono samples.
double CrossingRate(const std::vector<int16_t>& samples, int rate) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) crossings += samples[i - 1] < 0 && samples[i] >= 0 ? 1 : 0;
    return static_cast<double>(crossings) * rate / static_cast<double>(samples.size());
}

TEST_F(ModuleOracleTest, OneTrackPlaysAtTheReferencePitch) {
    SkipWithout("openmpt123");
    // A looping 32-byte square wave: one period of the wave per loop, so the
    // pitch is clock / (2 x period x 32) Hz.
    SyntheticModule image;
    testing::SyntheticSample square;
    for (int i = 0; i < 32; ++i) square.data.push_back(static_cast<int8_t>(i < 16 ? 80 : -80));
    square.loopWords = 16;
    image.samples = {square};
    image.songLength = 1;
    struct Case {
        int period;
    };
    constexpr Case kCases[] = {{428}, {214}, {856}, {160}};
    TempDirectory dir;
    for (const Case& c : kCases) {
        for (int row = 0; row < 64; row += 8) image.Set(0, row, 0, {1, c.period, 0, 0});
        const std::vector<uint8_t> bytes = image.Bytes();
        const std::string path = WriteModule(dir, "pitch.mod", bytes);
        ASSERT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), false), 0);
        ASSERT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), 0);
        const std::vector<int16_t> ours = testing::MixSixteen(mixer, kRate);
        SoundStopAllMusic(mixer);
        std::string options = "--render --samplerate 22050 --channels 1 --filter 1 --ramping 0 --gain 0 --force";
        if (CommandOutput("openmpt123 --help 2>&1")->find("--ctl") != std::string::npos)
            options += " --ctl render.resampler.emulate_amiga=0";
        ASSERT_TRUE(CommandOutput("openmpt123 " + options + " " + Quoted(path) + " >/dev/null 2>&1; echo"));
        const std::optional<std::string> raw = CommandOutput("sox " + Quoted(path + ".wav") + " -t s16 -c 1 - trim 0 1");
        ASSERT_TRUE(raw && raw->size() >= 2 * kRate) << "openmpt123 rendered nothing";
        std::vector<int16_t> theirs(kRate);
        std::memcpy(theirs.data(), raw->data(), 2 * kRate);
        const double expected = 7159090.0 / (2.0 * c.period * 32);
        const double ourRate = CrossingRate(ours, kRate);
        const double theirRate = CrossingRate(theirs, kRate);
        EXPECT_NEAR(ourRate, expected, expected * 0.015) << c.period;
        EXPECT_NEAR(ourRate, theirRate, theirRate * 0.015) << c.period;
        if (HaveTool("xmp")) {
            // xmp's render of track 0 alone, 2 seconds.
            const std::string wave = dir.Join("xmp-pitch.wav");
            ASSERT_TRUE(CommandOutput("xmp --norc --nocmd -q -S 0 -o " + Quoted(wave) + " -f 22050 -m -i nearest -t 2 " +
                                      Quoted(path) + " >/dev/null 2>&1; echo"));
            const std::optional<std::string> xmpRaw = CommandOutput("sox " + Quoted(wave) + " -t s16 -c 1 - trim 0 1");
            ASSERT_TRUE(xmpRaw && xmpRaw->size() >= 2 * kRate) << "xmp rendered nothing";
            std::vector<int16_t> xmpSamples(kRate);
            std::memcpy(xmpSamples.data(), xmpRaw->data(), 2 * kRate);
            const double xmpRate = CrossingRate(xmpSamples, kRate);
            EXPECT_NEAR(ourRate, xmpRate, xmpRate * 0.015) << c.period << " against xmp";
        }
    }
}

// openmpt123's render of a module at 22,050 Hz mono, nearest sample, no
// ramping, as 16-bit samples; empty when it cannot render.
std::vector<int16_t> OpenmptRender(const std::string& path) {
    std::string options = "--render --subsong 0 --samplerate 22050 --channels 1 --filter 1 --ramping 0 --gain 0 --force";
    const std::optional<std::string> help = CommandOutput("openmpt123 --help 2>&1");
    if (help && help->find("--ctl") != std::string::npos) options += " --ctl render.resampler.emulate_amiga=0";
    if (!CommandOutput("openmpt123 " + options + " " + Quoted(path) + " >/dev/null 2>&1; echo")) return {};
    const std::optional<std::string> raw = CommandOutput("sox " + Quoted(path + ".wav") + " -t s16 -c 1 -");
    if (!raw) return {};
    std::vector<int16_t> samples(raw->size() / 2);
    std::memcpy(samples.data(), raw->data(), samples.size() * 2);
    return samples;
}

// The RMS of each of count rows of rowFrames samples, in dB relative to the
// RMS of them all; -inf for a silent row.
std::vector<double> RowLevels(const std::vector<int16_t>& samples, size_t rowFrames, int count) {
    std::vector<double> power(static_cast<size_t>(count), 0);
    double total = 0;
    for (int row = 0; row < count; ++row) {
        for (size_t i = 0; i < rowFrames; ++i) {
            const size_t at = static_cast<size_t>(row) * rowFrames + i;
            const double value = at < samples.size() ? samples[at] : 0;
            power[static_cast<size_t>(row)] += value * value;
        }
        total += power[static_cast<size_t>(row)];
    }
    std::vector<double> levels;
    for (double rowPower : power) levels.push_back(10 * std::log10(rowPower / (total / count)));
    return levels;
}

TEST_F(ModuleOracleTest, RowOnsetsAndLevelsFollowTheReference) {
    SkipWithout("openmpt123");
    SkipWithout("sox");
    // Held notes of a looping square wave on the four tracks, started,
    // changed in volume (C) and silenced (C00) on known rows.
    SyntheticModule image;
    testing::SyntheticSample square;
    for (int i = 0; i < 64; ++i) square.data.push_back(static_cast<int8_t>(i < 32 ? 90 : -90));
    square.loopWords = 32;
    image.samples = {square};
    image.songLength = 1;
    image.Set(0, 4, 0, {1, 428, 12, 0x40});
    image.Set(0, 10, 1, {1, 339, 12, 0x20});
    image.Set(0, 16, 0, {0, 0, 12, 0x10});
    image.Set(0, 22, 2, {1, 285, 12, 0x30});
    image.Set(0, 30, 1, {0, 0, 12, 0x00});
    image.Set(0, 36, 0, {0, 0, 12, 0x00});
    image.Set(0, 40, 3, {1, 214, 12, 0x08});
    image.Set(0, 48, 2, {0, 0, 12, 0x00});
    image.Set(0, 56, 3, {0, 0, 12, 0x40});
    TempDirectory dir;
    const std::vector<uint8_t> bytes = image.Bytes();
    const std::string path = WriteModule(dir, "levels.mod", bytes);
    const std::vector<int16_t> theirs = OpenmptRender(path);
    ASSERT_FALSE(theirs.empty()) << "openmpt123 rendered nothing";

    ASSERT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), false), 0);
    ASSERT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), 0);
    constexpr int kRows = 63;  // the last row ends the song
    constexpr size_t kOurRow = 6 * (441 + 1) + 1;
    constexpr size_t kTheirRow = 6 * 441;  // 125 beats a minute: 20 ms ticks
    const std::vector<int16_t> ours = testing::MixSixteen(mixer, kOurRow * kRows);
    const std::vector<double> ourLevels = RowLevels(ours, kOurRow, kRows);
    const std::vector<double> theirLevels = RowLevels(theirs, kTheirRow, kRows);
    for (int row = 0; row < kRows; ++row) {
        const double a = ourLevels[static_cast<size_t>(row)];
        const double b = theirLevels[static_cast<size_t>(row)];
        const bool ourSilence = a < -60;
        const bool theirSilence = b < -60;
        EXPECT_EQ(ourSilence, theirSilence) << "row " << row << ": " << a << " dB against " << b << " dB";
        if (!ourSilence && !theirSilence) {
            EXPECT_NEAR(a, b, 1.5) << "row " << row;
        }
    }
}

// The level in dB of each row between boundaries (sample indexes), relative
// to the mean power of all rows; -inf for a silent row.
std::vector<double> LevelsBetween(const std::vector<int16_t>& samples, const std::vector<size_t>& bounds) {
    std::vector<double> power;
    double total = 0;
    for (size_t row = 0; row + 1 < bounds.size(); ++row) {
        double sum = 0;
        for (size_t i = bounds[row]; i < bounds[row + 1]; ++i) {
            const double value = i < samples.size() ? samples[i] : 0;
            sum += value * value;
        }
        sum /= static_cast<double>(bounds[row + 1] - bounds[row]);
        power.push_back(sum);
        total += sum;
    }
    std::vector<double> levels;
    for (double rowPower : power) levels.push_back(10 * std::log10(rowPower / (total / static_cast<double>(power.size()))));
    return levels;
}

// xmp's render of a module at 22,050 Hz mono, nearest sample, at most
// seconds long, as 16-bit samples; empty when it cannot render.
std::vector<int16_t> XmpRender(const std::string& path, int seconds) {
    const std::string wave = path + ".xmp.wav";
    if (!CommandOutput("xmp --norc --nocmd -q -o " + Quoted(wave) + " -f 22050 -m -i nearest -t " + std::to_string(seconds) + " " +
                       Quoted(path) + " >/dev/null 2>&1; echo"))
        return {};
    const std::optional<std::string> raw = CommandOutput("sox " + Quoted(wave) + " -t s16 -c 1 - 2>/dev/null");
    if (!raw) return {};
    std::vector<int16_t> samples(raw->size() / 2);
    std::memcpy(samples.data(), raw->data(), samples.size() * 2);
    return samples;
}

// The references' period clock (7093789.2 / 2 Hz, about 0.9% below ours)
// and their tick at 125 beats a minute: 22,050 x 2.5 / 125 frames.
constexpr uint64_t kReferenceClock = 7093789;
constexpr size_t kReferenceTick = 441;

// A game module, and where its rows start here and in the references.
struct GameModuleRenders {
    std::vector<uint8_t> bytes;
    std::string path;                     // a copy in a temporary folder, where the references write their renders
    std::vector<size_t> ourBounds;        // row starts here, in frames
    std::vector<size_t> referenceBounds;  // row starts at the references' own tick length
    bool referenceTempoOnly = true;       // every row at 125 beats a minute
    double seconds = 0;                   // the song at the references' pace
};

// The beats a minute that a row sets (a speed parameter above 32), or 0.
int TempoSetBy(const std::vector<uint8_t>& bytes, int channels, int order, int row) {
    const size_t pattern = bytes[952 + static_cast<size_t>(order)];
    const size_t at = kModuleHeaderBytes + (pattern * 64 + static_cast<size_t>(row)) * static_cast<size_t>(channels) * 4;
    int tempo = 0;
    for (int track = 0; track < channels && at + static_cast<size_t>(track) * 4 + 3 < bytes.size(); ++track) {
        const uint8_t* cell = bytes.data() + at + static_cast<size_t>(track) * 4;
        if ((cell[2] & 0x0F) == 15 && cell[3] > 32) tempo = cell[3];
    }
    return tempo;
}

// The first rows + 1 boundaries (all when rows is 0).
std::vector<size_t> Leading(const std::vector<size_t>& bounds, size_t rows) {
    if (rows == 0 || rows + 1 >= bounds.size()) return bounds;
    return {bounds.begin(), bounds.begin() + static_cast<std::ptrdiff_t>(rows + 1)};
}

class GameModuleLevelTest : public ModuleOracleTest {
protected:
    // Reads the module, writes its copy, and finds its rows: their starts
    // here (speed x (samples per tick + 1) + 1 frames each, a pattern
    // delay's rows included) and in the references (speed x rate x 5 / (2 x
    // beats a minute) frames each). The module is then ready to play from
    // its start.
    bool Load(const std::string& name, GameModuleRenders& game) {
        const std::vector<std::string> files = testing::PackageFiles("tecnoballz-data", "/" + name);
        if (files.empty()) return false;
        const std::optional<std::string> text = testing::ReadWholeFile(files[0]);
        if (!text) return false;
        game.bytes.assign(text->begin(), text->end());
        game.path = WriteModule(dir, name, game.bytes);

        const int channels = ModuleChannelCount(game.bytes.data() + 1080);
        if (SoundModuleLoadMemory(module, game.bytes.data(), game.bytes.size(), false) != 0) return false;
        if (SoundPlayModule(mixer, &module, kPlayFirstFree) != 0) return false;
        MusicChannel& music = mixer.musicSlots[0];
        {
            std::lock_guard guard(LockOf(mixer));
            ChannelSetFrequency(music, 44100 * 100);  // the rows do not depend on the tick length
            game.ourBounds = {0};
            game.referenceBounds = {0};
            int tempo = 125;
            double referenceEnd = 0;
            for (;;) {
                const bool rowStarts = music.tick == music.speed;
                if (rowStarts && music.patternDelay == 0 && !music.lastRowRead) {
                    const int order = music.currentOrder.load();
                    if (order < music.songLength) {
                        const int set = TempoSetBy(game.bytes, channels, order, music.currentRow.load());
                        if (set != 0) tempo = set;
                    }
                }
                if (!AdvanceModuleFrame(music)) break;
                if (!rowStarts) continue;
                const int64_t tick = SamplesPerTick(kRate, 44100, music.ticksPerSecond) + 1;
                game.ourBounds.push_back(game.ourBounds.back() + static_cast<size_t>(music.speed * tick + 1));
                referenceEnd += music.speed * kRate * 5.0 / (2.0 * tempo);
                game.referenceBounds.push_back(static_cast<size_t>(std::lround(referenceEnd)));
                game.referenceTempoOnly = game.referenceTempoOnly && tempo == 125;
            }
            music.Stop();
            game.seconds = referenceEnd / kRate;
        }
        return SoundPlayModule(mixer, &module, kPlayFirstFree) == 0;
    }

    // The song played here from its start with the references' period
    // clock and tick length: every step from the other clock, and ticks of
    // 441 frames (samples per tick 440, and 439 on a row's first tick, whose
    // row-reading frame is the 441st), so that each row lasts what it lasts
    // there.
    std::vector<int16_t> RenderAtReferencePace(const GameModuleRenders& game) {
        for (size_t period = 1; period < mixer.stepTable.size(); ++period)
            mixer.stepTable[period] = ((kReferenceClock / (2 * period)) << 16) / kRate;
        EXPECT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), 0);
        MusicChannel& music = mixer.musicSlots[0];
        std::vector<int16_t> out(game.referenceBounds.back());
        const auto mix = [&](size_t at, size_t frames) {
            SoundMix(mixer, reinterpret_cast<uint8_t*>(out.data() + at), frames * 2);
        };
        for (size_t row = 0; row + 1 < game.referenceBounds.size(); ++row) {
            const size_t start = game.referenceBounds[row];
            mix(start, 1);  // reads the row, or counts down a pattern delay
            int speed = 0;
            {
                std::lock_guard guard(LockOf(mixer));
                speed = music.speed;
                music.samplesPerTick = static_cast<int64_t>(kReferenceTick) - 2;
            }
            EXPECT_EQ(game.referenceBounds[row + 1] - start, static_cast<size_t>(speed) * kReferenceTick) << row;
            mix(start + 1, kReferenceTick - 1);
            {
                std::lock_guard guard(LockOf(mixer));
                music.samplesPerTick = static_cast<int64_t>(kReferenceTick) - 1;
            }
            mix(start + kReferenceTick, static_cast<size_t>(speed - 1) * kReferenceTick);
        }
        SoundStopAllMusic(mixer);
        BuildStepTable(mixer.stepTable, kRate);
        return out;
    }

    TempDirectory dir;
};

// Each row's level here against the reference's on the same row, over the
// first rows (all when rows is 0), within 1.5 dB after normalising both to
// their mean power over those rows; silence (below -60 dB) on the same rows.
// Rows listed as excused are skipped.
void ExpectRowLevels(const std::string& what, const std::vector<int16_t>& ours, const std::vector<size_t>& ourBounds,
                     const std::vector<int16_t>& theirs, const std::vector<size_t>& theirBounds, size_t rows,
                     const std::set<size_t>& excused = {}) {
    const std::vector<double> ourLevels = LevelsBetween(ours, Leading(ourBounds, rows));
    const std::vector<double> theirLevels = LevelsBetween(theirs, Leading(theirBounds, rows));
    int sounding = 0;
    for (size_t row = 0; row < ourLevels.size(); ++row) {
        if (excused.contains(row)) continue;
        const double a = ourLevels[row];
        const double b = theirLevels[row];
        EXPECT_EQ(a < -60, b < -60) << what << " row " << row << ": " << a << " dB against " << b << " dB";
        if (a >= -60 && b >= -60) {
            EXPECT_NEAR(a, b, 1.5) << what << " row " << row;
            ++sounding;
        }
    }
    EXPECT_GT(sounding, static_cast<int>(ourLevels.size()) / 2) << what << ": most rows sound";
}

void SkipWithoutGameModules() {
    if (testing::PackageFiles("tecnoballz-data", "/high-score.mod").empty())
        GTEST_SKIP() << "tecnoballz-data is not installed (scripts/install-deps installs it)";
}

TEST_F(GameModuleLevelTest, RowLevelsFollowTheReferences) {
    SkipWithout("openmpt123");
    SkipWithout("sox");
    SkipWithoutGameModules();
    // Two comparisons per module, from one render of each reference.
    //
    // As played here: each row is measured over its own length in each
    // player. The period clock (0.9% apart) and the tick length (442 frames
    // here, 441 there) move where a one-shot note ends within its row, and
    // where a held note stands when a new one starts beside it, so that the
    // two add up louder or softer in the mono mix. The rows where that alone
    // passes 1.5 dB are excused by number below (openmptClock, xmpClock);
    // each of them agrees at the reference's pace. xmp's own mix differs
    // from openmpt's by more than 1.5 dB on a few rows (xmpsMix); those are
    // excused against xmp, and the two references must indeed differ there.
    //
    // At the reference's pace: the song played here with openmpt123's period
    // clock and tick length, so that what is left to differ is what the
    // player does on each row (notes, samples and their loops, volumes,
    // effects). Every row of every song agrees, none excused.
    struct Case {
        const char* name;
        size_t rows;  // compared as played here, from the start; 0: the whole song
        std::set<size_t> openmptClock;
        std::set<size_t> xmpClock;
        std::set<size_t> xmpsMix;
    };
    const Case kCases[] = {
        {"high-score.mod", 0, {}, {}, {}},
        {"area1-game.mod", 0, {}, {}, {}},
        {"area2-game.mod", 0, {}, {}, {}},
        {"area4-game.mod", 0, {}, {}, {}},
        {"area3-game.mod", 192, {}, {}, {}},
        // The rows excused below all lie where one-shot notes end near a
        // row boundary, or where two notes ring together, one of them held
        // from an earlier row (tecnoballz.mod rows 129 and 136: one held
        // note fading out by volume steps while another fades in).
        {"over-theme.mod", 192, {49, 88, 103, 104, 168, 182}, {119, 183}, {146, 147}},
        {"gardien-go.mod", 192, {173}, {173}, {}},
        {"tecnoballz.mod", 192, {136}, {129}, {}},
        {"area5-game.mod", 192, {36, 46, 47, 48, 49, 54, 55}, {39}, {52, 53}},
    };
    const bool haveXmp = HaveTool("xmp");
    for (const Case& c : kCases) {
        GameModuleRenders game;
        ASSERT_TRUE(Load(c.name, game)) << c.name;
        ASSERT_TRUE(game.referenceTempoOnly) << c.name << ": a tempo whose tick is not whole frames";
        const std::vector<int16_t> openmpt = OpenmptRender(game.path);
        ASSERT_FALSE(openmpt.empty()) << c.name << ": openmpt123 rendered nothing";
        const std::string name = c.name;

        const std::vector<int16_t> ours = testing::MixSixteen(mixer, Leading(game.ourBounds, c.rows).back());
        SoundStopAllMusic(mixer);
        ExpectRowLevels(name + " (openmpt123)", ours, game.ourBounds, openmpt, game.referenceBounds, c.rows, c.openmptClock);
        const std::vector<int16_t> atTheirPace = RenderAtReferencePace(game);
        ExpectRowLevels(name + " (openmpt123 at its pace)", atTheirPace, game.referenceBounds, openmpt, game.referenceBounds, 0);
        if (!haveXmp) continue;

        const std::vector<int16_t> xmp = XmpRender(game.path, static_cast<int>(game.seconds) + 10);
        ASSERT_FALSE(xmp.empty()) << c.name << ": xmp rendered nothing";
        std::set<size_t> excused = c.xmpClock;
        excused.insert(c.xmpsMix.begin(), c.xmpsMix.end());
        ExpectRowLevels(name + " (xmp)", ours, game.ourBounds, xmp, game.referenceBounds, c.rows, excused);
        // The excuses hold: a row of xmpClock agrees with xmp at its pace
        // (xmp's ticks last 441 frames too), and on a row of xmpsMix the
        // two references differ.
        const std::vector<size_t> bounds = Leading(game.referenceBounds, c.rows);
        const std::vector<double> atPace = LevelsBetween(atTheirPace, bounds);
        const std::vector<double> openmptLevels = LevelsBetween(openmpt, bounds);
        const std::vector<double> xmpLevels = LevelsBetween(xmp, bounds);
        for (size_t row : c.xmpClock) EXPECT_NEAR(atPace.at(row), xmpLevels.at(row), 1.5) << name << " row " << row << " at xmp's pace";
        for (size_t row : c.xmpsMix)
            EXPECT_GT(std::abs(openmptLevels.at(row) - xmpLevels.at(row)), 1.5) << name << " row " << row << " is no longer excused";
    }
}

}  // namespace
}  // namespace qob
