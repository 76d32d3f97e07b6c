// tests/sound/recording_test.cpp
// Recordings of the mixer's output through the device thread, read back by
// independent tools (sox, ffmpeg), and SDL2's output under its disk driver.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/temp_directory.h"
#include "sound/sound_mixer.h"
#include "sound_test_support.h"

namespace qob {
namespace {

using testing::MakeSample;
using testing::SixteenBitBytes;

std::string RunTool(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, count);
    pclose(pipe);
    return output;
}

bool HasTool(const char* name) { return RunTool(std::string("command -v ") + name).find(name) != std::string::npos; }

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The number after "key=" in the tool's output, or -1.
double FindValue(const std::string& output, const std::string& key) {
    const size_t at = output.find(key);
    if (at == std::string::npos) return -1;
    return std::strtod(output.c_str() + at + key.size(), nullptr);
}

struct OutputFormat {
    int rate, bits;
    bool stereo;
    int FrameBytes() const { return (bits / 8) * (stereo ? 2 : 1); }
    size_t BufferFrames() const { return (static_cast<size_t>(rate) * FrameBytes() * 20 / 1000 + 7) / 8 * 8 / FrameBytes(); }
};

class RecordingTest : public ::testing::Test {
protected:
    void TearDown() override {
        testing::RestoreDeviceOptions();
        for (const char* name : {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE", "SDL_DISKAUDIODELAY"}) unsetenv(name);
    }

    // Opens a mixer on the back end, plays the sample from the start and
    // lets the device run until the whole sound has gone through it; returns
    // the number of buffers the back end took.
    size_t Record(std::unique_ptr<platform::AudioBackend> backend, const OutputFormat& format, const SoundSample& sample,
                  size_t soundFrames) {
        testing::DoneCounter counter;
        auto* slot = new std::unique_ptr<platform::AudioBackend>(testing::CountDone(std::move(backend), &counter));
        WaveOutOptions.settleMilliseconds = 0;
        WaveOutOptions.listDevices = [slot] {
            platform::AudioDeviceList devices;
            devices.push_back(std::move(*slot));
            return devices;
        };
        SoundMixer mixer;
        EXPECT_EQ(SoundOpen(mixer, format.rate, format.bits, format.stereo, 1, 8), 0);
        EXPECT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
        // Up to a whole ring was mixed before the sample started.
        const size_t needed = counter.Count() + 32 + soundFrames / format.BufferFrames() + 2;
        EXPECT_TRUE(counter.WaitFor(needed));
        SoundClose(mixer);
        delete slot;
        return counter.Count();
    }

    // What SoundMix itself gives for the sample from its start.
    static std::vector<uint8_t> MixDirectly(const OutputFormat& format, const SoundSample& sample, size_t bytes) {
        testing::ManualDeviceState device;
        testing::UseManualDevices({&device});
        SoundMixer mixer;
        EXPECT_EQ(SoundOpen(mixer, format.rate, format.bits, format.stereo, 1, 8), 0);
        EXPECT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
        std::vector<uint8_t> out = testing::Mix(mixer, bytes);
        SoundClose(mixer);
        return out;
    }

    // The bytes from the first frame that is not silence.
    static std::vector<uint8_t> AfterLeadingSilence(const std::vector<uint8_t>& bytes, const OutputFormat& format) {
        const uint8_t silence = format.bits == 8 ? 0x80 : 0;
        size_t first = 0;
        while (first < bytes.size() && bytes[first] == silence) ++first;
        first -= first % format.FrameBytes();
        return {bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.end()};
    }

    void SetUp() override {
        if (!HasTool("sox") || !HasTool("ffmpeg") || !HasTool("ffprobe")) GTEST_SKIP() << "sox and ffmpeg are needed";
    }

    testing::TempDirectory directory;
};

// A 440 Hz tone of 16-bit mono frames whose first frame is loud.
std::vector<int16_t> Tone(int rate, double frequency, int frames, double amplitude) {
    std::vector<int16_t> values(frames);
    for (int i = 0; i < frames; ++i) {
        const double value = amplitude * std::sin(1.0 + 2 * M_PI * frequency * i / rate);
        // No frame so quiet that halving it gives 0: the sound's extent shows.
        values[i] = static_cast<int16_t>(std::fabs(value) < 4 ? (value < 0 ? -4 : 4) : std::lround(value));
    }
    return values;
}

TEST_F(RecordingTest, ToolsReadTheRecorderAndItsSamplesAreSoundMixs) {
    const OutputFormat formats[] = {{22050, 16, true}, {11025, 8, false}, {44100, 16, false}, {8000, 8, true}};
    for (const OutputFormat& format : formats) {
        const std::string name = std::to_string(format.rate) + "-" + std::to_string(format.bits) + (format.stereo ? "s" : "m");
        const std::string path = directory.Join(name + ".wav");
        const int frames = format.rate / 4;
        const std::vector<uint8_t> bytes = SixteenBitBytes(Tone(format.rate, 440, frames, 20000));
        const SoundSample sample = MakeSample(bytes, false, false, format.rate);
        const size_t buffers = Record(platform::MakePacedAudioBackend(0, path), format, sample, frames);
        const size_t recordedFrames = buffers * format.BufferFrames();

        const std::string soxi = RunTool("soxi -r '" + path + "'; soxi -c '" + path + "'; soxi -b '" + path +
                                         "'; soxi -s '" + path + "'");
        EXPECT_EQ(soxi, std::to_string(format.rate) + "\n" + (format.stereo ? "2" : "1") + "\n" +
                            std::to_string(format.bits) + "\n" + std::to_string(recordedFrames) + "\n")
            << name;
        const std::string probe = RunTool(
            "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels,bits_per_sample,duration_ts "
            "-of default=noprint_wrappers=1 '" + path + "'");
        EXPECT_EQ(FindValue(probe, "sample_rate="), format.rate) << probe;
        EXPECT_EQ(FindValue(probe, "channels="), format.stereo ? 2 : 1) << probe;
        EXPECT_EQ(FindValue(probe, "bits_per_sample="), format.bits) << probe;
        EXPECT_EQ(FindValue(probe, "duration_ts="), static_cast<double>(recordedFrames)) << probe;

        const std::string soxRaw = directory.Join(name + ".sox.raw");
        const std::string ffmpegRaw = directory.Join(name + ".ffmpeg.raw");
        RunTool("sox '" + path + "' -t raw '" + soxRaw + "'");
        const char* codec = format.bits == 8 ? "-f u8 -c:a pcm_u8" : "-f s16le -c:a pcm_s16le";
        RunTool("ffmpeg -v error -y -i '" + path + "' " + codec + " '" + ffmpegRaw + "'");
        const std::vector<uint8_t> fromSox = ReadFile(soxRaw);
        ASSERT_EQ(fromSox.size(), recordedFrames * format.FrameBytes()) << name;
        EXPECT_EQ(ReadFile(ffmpegRaw), fromSox) << name;

        const std::vector<uint8_t> recorded = AfterLeadingSilence(fromSox, format);
        ASSERT_GE(recorded.size(), static_cast<size_t>(frames) * format.FrameBytes()) << name << ": the whole sound";
        EXPECT_TRUE(MixDirectly(format, sample, recorded.size()) == recorded) << name;
    }
}

// At 16,000 Hz into 22,050 Hz the step is 185 (of 185.76): the voice plays
// ceil(frames x 256 / 185) frames, and the tone comes out 0.41% low.
TEST_F(RecordingTest, VoiceAtAnotherStepKeepsLevelAndFrequency) {
    const OutputFormat format{22050, 16, false};
    const int sourceRate = 16000;
    const int frames = 16000;
    const double toneFrequency = 1000;
    const std::vector<int16_t> tone = Tone(sourceRate, toneFrequency, frames, 12000);
    const std::vector<uint8_t> bytes = SixteenBitBytes(tone);
    const SoundSample sample = MakeSample(bytes, false, false, sourceRate);
    const uint64_t step = (static_cast<uint64_t>(sourceRate) << 16) / (static_cast<uint64_t>(format.rate) << 8);
    ASSERT_EQ(step, 185u);
    const size_t playedFrames = (static_cast<size_t>(frames) * 256 + step - 1) / step;

    const std::string path = directory.Join("step.wav");
    const size_t buffers = Record(platform::MakePacedAudioBackend(0, path), format, sample, playedFrames);
    EXPECT_EQ(RunTool("soxi -s '" + path + "'"), std::to_string(buffers * format.BufferFrames()) + "\n");

    const std::string raw = directory.Join("step.raw");
    RunTool("sox '" + path + "' -t raw '" + raw + "'");
    const std::vector<uint8_t> rawBytes = ReadFile(raw);
    std::vector<int16_t> out(rawBytes.size() / 2);
    std::memcpy(out.data(), rawBytes.data(), out.size() * 2);
    size_t first = 0;
    while (first < out.size() && out[first] == 0) ++first;
    size_t last = out.size();
    while (last > first && out[last - 1] == 0) --last;
    EXPECT_EQ(last - first, playedFrames) << "the voice's frames, exactly";

    // Levels from the source: each output sample is half a source sample.
    double peak = 0, squares = 0;
    for (int16_t value : tone) {
        peak = std::max(peak, std::fabs(value / 2.0));
        squares += (value / 2.0) * (value / 2.0);
    }
    const double expectedPeak = 20 * std::log10(peak / 32768);
    const double expectedRms = 20 * std::log10(std::sqrt(squares / frames) / 32768);
    const std::string stats =
        RunTool("sox '" + path + "' -n trim " + std::to_string(first) + "s " + std::to_string(last - first) + "s stats");
    EXPECT_NEAR(FindValue(stats, "Pk lev dB"), expectedPeak, 0.1) << stats;
    EXPECT_NEAR(FindValue(stats, "RMS lev dB"), expectedRms, 0.1) << stats;

    int crossings = 0;
    for (size_t i = first + 1; i < last; ++i) crossings += (out[i - 1] < 0) != (out[i] < 0) ? 1 : 0;
    const double measured = crossings / 2.0 * format.rate / static_cast<double>(last - first);
    const double stepError = 1 - step / (static_cast<double>(sourceRate) * 256 / format.rate);
    EXPECT_NEAR(measured / toneFrequency, 1 - stepError, 2.0 / crossings) << measured;
    EXPECT_GT(std::fabs(measured / toneFrequency - 1), stepError / 2) << "the step's error shows";
}

// SDL2's disk driver writes what SDL's callback copied out: after the leading
// silence the same bytes as the recorder's for the same sound.
TEST_F(RecordingTest, SdlDiskOutputEqualsTheRecording) {
    if (!platform::MakeSdlAudioBackend()) GTEST_SKIP() << "built without SDL2";
    const OutputFormat format{22050, 16, true};
    const int frames = 22050 / 2;
    const std::vector<uint8_t> bytes = SixteenBitBytes(Tone(format.rate, 440, frames, 15000));
    SoundSample sample = MakeSample(bytes, false, false, format.rate);
    sample.SetPan(64);

    const std::string diskPath = directory.Join("sdl.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", diskPath.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    Record(platform::MakeSdlAudioBackend(), format, sample, frames);
    const std::string wavePath = directory.Join("recorder.wav");
    Record(platform::MakePacedAudioBackend(0, wavePath), format, sample, frames);

    const std::vector<uint8_t> fromSdl = AfterLeadingSilence(ReadFile(diskPath), format);
    std::vector<uint8_t> wave = ReadFile(wavePath);
    ASSERT_GT(wave.size(), 44u);
    const std::vector<uint8_t> fromRecorder = AfterLeadingSilence({wave.begin() + 44, wave.end()}, format);
    const size_t common = std::min(fromSdl.size(), fromRecorder.size());
    ASSERT_GE(common, static_cast<size_t>(frames) * format.FrameBytes());
    EXPECT_TRUE(std::equal(fromSdl.begin(), fromSdl.begin() + static_cast<std::ptrdiff_t>(common), fromRecorder.begin()));
}

}  // namespace
}  // namespace qob
