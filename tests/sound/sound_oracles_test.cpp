// tests/sound/sound_oracles_test.cpp
// The loaders against outside decoders: sox for PCM WAVE, ffmpeg for MS
// ADPCM (bit for bit over whole blocks), and the sound files of Debian
// packages as regression fixtures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/temp_directory.h"
#include "sound/sound_sample.h"
#include "sound_file_support.h"

namespace qob {
namespace {

using namespace testing;

std::string SampleBytes(const SoundSample& sample) {
    const size_t frameBytes = (sample.eightBit ? 1u : 2u) * (sample.stereo ? 2u : 1u);
    return std::string(reinterpret_cast<const char*>(sample.data), static_cast<size_t>(sample.length) * frameBytes);
}

void SkipWithout(const char* tool) {
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
}

// Loads a file and the same bytes from memory; both must give the same PCM.
std::optional<std::string> LoadBoth(const std::string& path, int flags, SoundSample& sample) {
    if (SoundSampleLoadFile(sample, Utf16(path), flags) != 0) return std::nullopt;
    const std::string bytes = ReadWholeFile(path).value_or("");
    SoundSample inMemory;
    if (SoundSampleLoadMemory(inMemory, bytes.data(), bytes.size(), flags) != 0) return std::nullopt;
    const std::string pcm = SampleBytes(sample);
    if (SampleBytes(inMemory) != pcm || inMemory.length != sample.length) return std::nullopt;
    return pcm;
}

TEST(SoxOracle, PcmLoadsEqualSoxsRawOutput) {
    SkipWithout("sox");
    TempDirectory dir;
    struct Case {
        int channels, bits, rate;
        const char* encoding;
    };
    constexpr Case kCases[] = {{1, 8, 8000, "unsigned-integer"},  {2, 8, 11025, "unsigned-integer"},
                               {1, 16, 22050, "signed-integer"},  {2, 16, 44100, "signed-integer"},
                               {2, 16, 7350, "signed-integer"},   {1, 8, 96000, "unsigned-integer"}};
    for (const Case& c : kCases) {
        const std::string name = std::to_string(c.channels) + "x" + std::to_string(c.bits) + "@" + std::to_string(c.rate);
        const std::string path = dir.Join(name + ".wav");
        ASSERT_TRUE(RunQuietly("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " -b " +
                               std::to_string(c.bits) + " -e " + c.encoding + " " + Quoted(path) +
                               " synth 0.21 sine 300 whitenoise vol 0.8"));
        const std::optional<std::string> raw = CommandOutput("sox " + Quoted(path) + " -t raw -");
        const std::optional<std::string> frames = CommandOutput("sox --i -s " + Quoted(path));
        ASSERT_TRUE(raw && frames) << name;
        SoundSample sample;
        const std::optional<std::string> pcm = LoadBoth(path, 0, sample);
        ASSERT_TRUE(pcm) << name;
        EXPECT_TRUE(*pcm == *raw) << name << ": " << pcm->size() << " bytes against sox's " << raw->size();
        EXPECT_EQ(sample.length, std::atoll(frames->c_str())) << name;
        EXPECT_EQ(sample.rate, c.rate) << name;
        EXPECT_EQ(sample.eightBit, c.bits == 8 ? 1 : 0) << name;
        EXPECT_EQ(sample.stereo, c.channels == 2 ? 1 : 0) << name;
    }
}

// ffmpeg's MS ADPCM decoder is exact; a load decodes whole blocks only, so
// the comparison covers those.
TEST(FfmpegOracle, AdpcmDecodesAsFfmpegDoes) {
    SkipWithout("sox");
    SkipWithout("ffmpeg");
    TempDirectory dir;
    struct Case {
        const char* encoder;
        int channels, rate;
    };
    constexpr Case kCases[] = {{"sox", 1, 8000}, {"sox", 2, 22050}, {"ffmpeg", 1, 11025}, {"ffmpeg", 2, 44100}};
    for (const Case& c : kCases) {
        const std::string name = std::string(c.encoder) + std::to_string(c.channels) + "@" + std::to_string(c.rate);
        const std::string pcm = dir.Join(name + "-pcm.wav");
        const std::string adpcm = dir.Join(name + ".wav");
        ASSERT_TRUE(RunQuietly("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " -b 16 " +
                               Quoted(pcm) + " synth 0.37 sine 200-3000 whitenoise vol 0.9"));
        const std::string encode = std::string(c.encoder) == "sox"
                                       ? "sox " + Quoted(pcm) + " -e ms-adpcm " + Quoted(adpcm)
                                       : "ffmpeg -y -i " + Quoted(pcm) + " -c:a adpcm_ms " + Quoted(adpcm);
        ASSERT_TRUE(RunQuietly(encode)) << encode;
        const std::optional<std::string> reference =
            CommandOutput("ffmpeg -v quiet -i " + Quoted(adpcm) + " -f s16le -acodec pcm_s16le -");
        ASSERT_TRUE(reference) << name;
        SoundSample sample;
        const std::optional<std::string> decoded = LoadBoth(adpcm, 0, sample);
        ASSERT_TRUE(decoded) << name;
        EXPECT_EQ(sample.rate, c.rate) << name;
        EXPECT_EQ(sample.stereo, c.channels == 2 ? 1 : 0) << name;
        EXPECT_GT(decoded->size(), static_cast<size_t>(c.rate) * c.channels / 2) << name;
        ASSERT_LE(decoded->size(), reference->size()) << name;
        EXPECT_TRUE(*decoded == reference->substr(0, decoded->size())) << name << " differs from ffmpeg";
    }
}

// The sound files of Debian packages (found with dpkg -L; symbolic links
// are followed as the loaders open them): WAVE files against sox, Ogg
// Vorbis files against oggdec.
TEST(PackageFiles, WaveFilesLoadAsSoxReadsThem) {
    SkipWithout("sox");
    size_t checked = 0;
    for (const char* package : {"alsa-utils", "tecnoballz-data"}) {
        const std::vector<std::string> files = PackageFiles(package, ".wav");
        if (files.empty()) {
            std::printf("%s is not installed: its WAVE files are not checked\n", package);
            continue;
        }
        for (const std::string& path : files) {
            const std::optional<std::string> raw = CommandOutput("sox " + Quoted(path) + " -t raw -");
            if (!raw) continue;  // not a file sox reads either
            SoundSample sample;
            const std::optional<std::string> pcm = LoadBoth(path, 0, sample);
            ASSERT_TRUE(pcm) << path;
            EXPECT_TRUE(*pcm == *raw) << path;
            ++checked;
        }
    }
    if (checked == 0) GTEST_SKIP() << "neither alsa-utils nor tecnoballz-data is installed";
}

TEST(PackageFiles, OggVorbisFilesDecodeAsOggdecDoes) {
    SkipWithout("oggdec");
    const std::vector<std::string> files = PackageFiles("sound-theme-freedesktop", ".oga");
    if (files.empty()) GTEST_SKIP() << "sound-theme-freedesktop is not installed";
    TempDirectory dir;
    for (const std::string& path : files) {
        const std::string raw = dir.Join("out.raw");
        ASSERT_TRUE(RunQuietly("oggdec -Q -b 16 -e 0 -s 1 -R -o " + Quoted(raw) + " " + Quoted(path))) << path;
        const std::vector<int16_t> reference = SixteenBitValues(ReadWholeFile(raw).value_or(""));
        SoundSample sample;
        const std::optional<std::string> pcm = LoadBoth(path, kLoadDecodeWhole, sample);
        ASSERT_TRUE(pcm) << path;
        const std::vector<int16_t> values = SixteenBitValues(*pcm);
        ASSERT_EQ(values.size(), reference.size()) << path;
        int worst = 0;
        for (size_t i = 0; i < values.size(); ++i) worst = std::max(worst, std::abs(values[i] - reference[i]));
        EXPECT_LE(worst, 2) << path;
        SoundSample streamed;
        EXPECT_EQ(SoundSampleLoadFile(streamed, Utf16(path), 0), 0) << path;
        EXPECT_EQ(streamed.length, sample.length) << path;
    }
}

}  // namespace
}  // namespace qob
