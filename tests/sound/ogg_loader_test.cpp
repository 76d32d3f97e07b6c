// tests/sound/ogg_loader_test.cpp
// Ogg Vorbis samples made by oggenc at test time, checked against oggdec,
// and played through the mixer decoded whole and streamed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_directory.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound/sound_sample.h"
#include "sound_file_support.h"
#include "sound_test_support.h"

namespace qob {
namespace {

using namespace testing;

class OggTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"sox", "oggenc", "oggdec"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    }

    // An Ogg Vorbis file of a tone (with noise for a second channel) made by
    // sox and oggenc; its path.
    std::string Encode(const std::string& name, int channels, int rate, double seconds, const char* synth = nullptr) {
        const std::string wave = dir.Join(name + ".wav");
        const std::string ogg = dir.Join(name + ".ogg");
        std::string tones = synth ? synth : "sine 440";
        if (!synth)
            for (int c = 1; c < channels; ++c) tones += c % 2 ? " whitenoise" : " sine 1234";
        const std::string command = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " +
                                    Quoted(wave) + " synth " + std::to_string(seconds) + " " + tones + " vol 0.7";
        EXPECT_TRUE(RunQuietly(command)) << command;
        EXPECT_TRUE(RunQuietly("oggenc -Q -o " + Quoted(ogg) + " " + Quoted(wave)));
        return ogg;
    }

    // oggdec's 16-bit little-endian decode of a file.
    std::vector<int16_t> Oggdec(const std::string& ogg) {
        const std::string raw = ogg + ".raw";
        EXPECT_TRUE(RunQuietly("oggdec -Q -b 16 -e 0 -s 1 -R -o " + Quoted(raw) + " " + Quoted(ogg)));
        return SixteenBitValues(ReadWholeFile(raw).value_or(""));
    }

    TempDirectory dir;
};

std::vector<int16_t> SampleValues(const SoundSample& sample) {
    const size_t values = static_cast<size_t>(sample.length) * (sample.stereo ? 2 : 1);
    return SixteenBitValues(std::string(reinterpret_cast<const char*>(sample.data), values * 2));
}

// Tremor is an integer decoder: it may differ from the reference decoder by
// a least significant bit or two.
void ExpectWithinTwo(const std::vector<int16_t>& got, const std::vector<int16_t>& expected, const std::string& name) {
    ASSERT_EQ(got.size(), expected.size()) << name;
    int worst = 0;
    for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - expected[i]));
    EXPECT_LE(worst, 2) << name;
}

TEST_F(OggTest, WholeDecodeMatchesOggdec) {
    struct Case {
        int channels, rate;
    };
    constexpr Case kCases[] = {{1, 8000}, {2, 8000}, {1, 22050}, {2, 44100}, {1, 48000}, {2, 96000}};
    for (const Case& c : kCases) {
        const std::string name = std::to_string(c.channels) + "x" + std::to_string(c.rate);
        const std::string ogg = Encode(name, c.channels, c.rate, 0.3);
        const std::vector<int16_t> reference = Oggdec(ogg);
        const std::string bytes = ReadWholeFile(ogg).value_or("");
        SoundSample fromFile, fromMemory;
        ASSERT_EQ(SoundSampleLoadFile(fromFile, Utf16(ogg), kLoadDecodeWhole), 0) << name;
        ASSERT_EQ(SoundSampleLoadMemory(fromMemory, bytes.data(), bytes.size(), kLoadDecodeWhole), 0) << name;
        for (const SoundSample* sample : {&fromFile, &fromMemory}) {
            EXPECT_EQ(sample->kind, SampleKind::Memory) << name;
            EXPECT_EQ(sample->eightBit, 0) << name;
            EXPECT_EQ(sample->stereo, c.channels == 2 ? 1 : 0) << name;
            EXPECT_EQ(sample->rate, c.rate) << name;
            EXPECT_EQ(sample->frequency, c.rate) << name;
            EXPECT_EQ(sample->length * c.channels, static_cast<int64_t>(reference.size())) << name;
            EXPECT_FALSE(sample->stream) << name << ": a whole decode keeps no stream";
            ExpectWithinTwo(SampleValues(*sample), reference, name);
        }
    }
}

TEST_F(OggTest, StreamedLoadKeepsTheStream) {
    const std::string ogg = Encode("s", 2, 22050, 0.2);
    const std::vector<int16_t> reference = Oggdec(ogg);
    SoundSample sample;
    ASSERT_EQ(LoadOggFile(sample, Utf16(ogg), 0), 0);
    EXPECT_EQ(sample.kind, SampleKind::Streamed);
    EXPECT_EQ(sample.data, nullptr);
    EXPECT_TRUE(sample.stream);
    EXPECT_EQ(sample.length * 2, static_cast<int64_t>(reference.size()));
    EXPECT_EQ(sample.stereo, 1);
}

TEST_F(OggTest, RefusedStreams) {
    const std::string six = Encode("six", 6, 8000, 0.1);
    const std::string a = Encode("a", 1, 8000, 0.1);
    const std::string b = Encode("b", 1, 11025, 0.1);
    const std::string c = Encode("c", 2, 8000, 0.1);
    const std::string a2 = Encode("a2", 1, 8000, 0.1);  // another serial number
    auto chain = [this](const std::string& name, const std::string& first, const std::string& second) {
        return dir.Write(name, ReadWholeFile(first).value_or("") + ReadWholeFile(second).value_or(""));
    };
    const std::string ab = chain("ab.ogg", a, b), ac = chain("ac.ogg", a, c), aa = chain("aa.ogg", a, a2);
    struct Case {
        const char* name;
        std::string path;
        int code;
    };
    const Case kCases[] = {
        {"six channels", six, kSoundUnknownFormat},
        {"links at other rates", ab, kSoundUnknownFormat},
        {"links of other channels", ac, kSoundUnknownFormat},
        {"links alike", aa, 0},
        {"missing", dir.Join("none.ogg"), kSoundCannotOpen},
        {"a WAVE file", dir.Join("a.wav"), kSoundUnknownFormat},
    };
    for (const Case& k : kCases) {
        for (int flags : {0, kLoadDecodeWhole}) {
            SoundSample sample;
            EXPECT_EQ(LoadOggFile(sample, Utf16(k.path), flags), k.code) << k.name << " flags " << flags;
            if (k.code != 0) {
                EXPECT_EQ(sample.kind, SampleKind::Empty) << k.name;
                EXPECT_FALSE(sample.stream) << k.name;
            }
            const std::string bytes = ReadWholeFile(k.path).value_or("");
            SoundSample inMemory;
            const int memoryCode = k.code == kSoundCannotOpen ? kSoundUnknownFormat : k.code;
            EXPECT_EQ(LoadOggMemory(inMemory, bytes.data(), bytes.size(), flags), memoryCode) << k.name;
        }
    }
    SoundSample alike;
    ASSERT_EQ(LoadOggFile(alike, Utf16(aa), kLoadDecodeWhole), 0);
    SoundSample single;
    ASSERT_EQ(LoadOggFile(single, Utf16(a), kLoadDecodeWhole), 0);
    EXPECT_EQ(alike.length, 2 * single.length) << "the links' lengths add up";
    SoundSample sample;
    EXPECT_EQ(LoadOggMemory(sample, nullptr, 10, 0), kSoundNoMemory);
}

// The Ogg page checksum: CRC-32 of polynomial 0x04C11DB7, not reflected,
// starting at 0, over the page with its checksum field zeroed.
uint32_t OggPageChecksum(const std::string& page) {
    uint32_t crc = 0;
    for (unsigned char byte : page) {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// The file with its last page's granule position (the stream's length in
// frames, as the decoder reports it) set to frames, and that page's
// checksum made right again.
std::string WithLastGranule(std::string bytes, uint64_t frames) {
    const size_t last = bytes.rfind("OggS");
    for (int i = 0; i < 8; ++i) bytes[last + 6 + i] = static_cast<char>(frames >> (8 * i));
    const size_t segments = static_cast<unsigned char>(bytes[last + 26]);
    size_t size = 27 + segments;
    for (size_t i = 0; i < segments; ++i) size += static_cast<unsigned char>(bytes[last + 27 + i]);
    bytes.replace(last + 22, 4, LittleEndian32(0));
    bytes.replace(last + 22, 4, LittleEndian32(OggPageChecksum(bytes.substr(last, size))));
    return bytes;
}

// A stream that gives more frames than its length claims: the whole decode
// stops at the end of its block (the sanitizer sees any write past it).
TEST_F(OggTest, WholeDecodeStopsAtTheClaimedLength) {
    const std::string ogg = Encode("claim", 1, 8000, 1.0);
    const std::string bytes = ReadWholeFile(ogg).value_or("");
    SoundSample original, shortened;
    ASSERT_EQ(LoadOggMemory(original, bytes.data(), bytes.size(), kLoadDecodeWhole), 0);
    ASSERT_EQ(original.length, 8000);
    const std::string claimed = WithLastGranule(bytes, 4000);
    ASSERT_EQ(LoadOggMemory(shortened, claimed.data(), claimed.size(), kLoadDecodeWhole), 0);
    ASSERT_EQ(shortened.length, 4000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(shortened.data), 8000),
              std::string(reinterpret_cast<const char*>(original.data), 8000));
}

class OggPlaybackTest : public OggTest {
protected:
    void SetUp() override {
        OggTest::SetUp();
        if (IsSkipped()) return;
        UseManualDevices({&device});
        ASSERT_EQ(SoundOpen(mixer, 8000, 16, true, 1, 8), 0);
    }
    void TearDown() override {
        SoundClose(mixer);
        RestoreDeviceOptions();
    }
    // The output of playing sample from a position (in GetPosition's units)
    // for frames of output; every voice is stopped first and after.
    std::vector<int16_t> Play(const SoundSample& sample, int64_t position, size_t frames, bool loop = false) {
        SoundStopAllVoices(mixer);
        const int id = SoundPlaySample(mixer, sample, kPlayFirstFree | kPlayPaused);
        EXPECT_GE(id, 0);
        if (id < 0) return {};
        SoundChannel* channel = SoundGetChannel(mixer, id);
        ChannelSetLoop(*channel, loop);
        if (position != 0) channel->SetPosition(position);
        ChannelResume(*channel);
        std::vector<int16_t> out = MixSixteen(mixer, frames * 2);
        SoundStopAllVoices(mixer);
        return out;
    }
    ManualDeviceState device;
    SoundMixer mixer;
};

// Streamed and whole-decoded samples play the same output, from the start,
// after SetPosition, and round a loop; each at a few playback rates.
TEST_F(OggPlaybackTest, StreamedPlaysAsWholeDecoded) {
    for (int channels : {1, 2}) {
        const std::string name = std::string("p").append(std::to_string(channels));
        const std::string ogg = Encode(name, channels, 11025, 0.25);
        SoundSample whole, streamed;
        ASSERT_EQ(LoadOggFile(whole, Utf16(ogg), kLoadDecodeWhole), 0);
        ASSERT_EQ(LoadOggFile(streamed, Utf16(ogg), 0), 0);
        const int64_t length = SoundGetChannel(mixer, SoundPlaySample(mixer, whole, kPlayFirstFree))->GetLength();
        SoundStopAllVoices(mixer);
        for (int frequency : {11025, 4000, 30000}) {
            whole.frequency = streamed.frequency = frequency;
            const size_t frames = static_cast<size_t>(whole.length) * 8000 / static_cast<size_t>(frequency) + 300;
            for (int64_t position : {int64_t{0}, length / 3, length - 10, length}) {
                const std::vector<int16_t> expected = Play(whole, position, frames);
                EXPECT_EQ(Play(streamed, position, frames), expected) << name << " at " << position << ", " << frequency;
            }
            const std::vector<int16_t> looped = Play(whole, length / 2, frames * 2, true);
            EXPECT_EQ(Play(streamed, length / 2, frames * 2, true), looped) << name << " looping, " << frequency;
        }
    }
}

// Several voices decode one sample's stream at once, each from a position of
// its own.
TEST_F(OggPlaybackTest, VoicesShareAStream) {
    const std::string ogg = Encode("shared", 1, 8000, 0.5);
    SoundSample whole, streamed;
    ASSERT_EQ(LoadOggFile(whole, Utf16(ogg), kLoadDecodeWhole), 0);
    ASSERT_EQ(LoadOggFile(streamed, Utf16(ogg), 0), 0);
    auto playThree = [this](const SoundSample& sample) {
        SoundStopAllVoices(mixer);
        for (int64_t position : {0, 300, 1000}) {
            const int id = SoundPlaySample(mixer, sample, kPlayFirstFree);
            EXPECT_GE(id, 0);
            if (position) SoundGetChannel(mixer, id)->SetPosition(position);
        }
        return MixSixteen(mixer, 2 * 5000);
    };
    const std::vector<int16_t> expected = playThree(whole);
    EXPECT_EQ(playThree(streamed), expected);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0) << "each voice ended at the end of its data";
}

// GetPosition and GetLength report 1/256 frames shifted by 9 (16-bit data)
// and one more for stereo: a 16-bit mono sample reports half its frames.
TEST_F(OggPlaybackTest, PositionUnits) {
    for (int channels : {1, 2}) {
        const std::string ogg = Encode(std::string("u").append(std::to_string(channels)), channels, 8000, 0.25);
        for (int flags : {0, kLoadDecodeWhole}) {
            SoundSample sample;
            ASSERT_EQ(LoadOggFile(sample, Utf16(ogg), flags), 0);
            SoundChannel* channel = SoundGetChannel(mixer, SoundPlaySample(mixer, sample, kPlayFirstFree));
            ASSERT_NE(channel, nullptr);
            EXPECT_EQ(channel->GetLength(), sample.length / (2 * channels)) << channels << " flags " << flags;
            (void)MixSixteen(mixer, 2 * 100);
            EXPECT_EQ(channel->GetPosition(), (int64_t{100} * 256 >> 9) / channels) << channels << " flags " << flags;
            channel->SetPosition(channel->GetLength() + 1);
            EXPECT_EQ(channel->GetPosition(), (int64_t{100} * 256 >> 9) / channels) << "beyond the length: refused";
            SoundStopAllVoices(mixer);
        }
    }
}

// With flag 1 the sample reads its own copy: the caller may free its block.
TEST_F(OggPlaybackTest, CopiedMemoryOutlivesTheCallersBlock) {
    const std::string ogg = Encode("copy", 1, 8000, 0.2);
    SoundSample whole, streamed;
    ASSERT_EQ(LoadOggFile(whole, Utf16(ogg), kLoadDecodeWhole), 0);
    auto bytes = std::make_unique<std::string>(ReadWholeFile(ogg).value_or(""));
    ASSERT_EQ(SoundSampleLoadMemory(streamed, bytes->data(), bytes->size(), kLoadCopy), 0);
    EXPECT_EQ(streamed.kind, SampleKind::Streamed);
    bytes.reset();
    const std::vector<int16_t> expected = Play(whole, 0, 2000);
    EXPECT_EQ(Play(streamed, 0, 2000), expected);
}

// Damaged data in the middle of a stream: the streamed voice ends where the
// decoder stops giving data, and a whole decode skips the gap, the rest of
// its block left silent.
TEST_F(OggPlaybackTest, DamagedStreamEndsCleanly) {
    const std::string ogg = Encode("damaged", 1, 8000, 2.0, "whitenoise");
    std::string bytes = ReadWholeFile(ogg).value_or("");
    ASSERT_GT(bytes.size(), 4000u);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 200; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    SoundSample whole, streamed;
    ASSERT_EQ(LoadOggMemory(whole, bytes.data(), bytes.size(), kLoadDecodeWhole), 0);
    ASSERT_EQ(LoadOggMemory(streamed, bytes.data(), bytes.size(), 0), 0);
    EXPECT_GT(whole.length, 0);
    EXPECT_LE(whole.length, 16000);
    const std::vector<int16_t> out = Play(streamed, 0, 20000);
    EXPECT_EQ(out.size(), 40000u);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0);
}

// Reloading a streamed sample stops the voices that decode its stream.
TEST_F(OggPlaybackTest, ReloadStopsStreamedVoices) {
    const std::string ogg = Encode("reload", 1, 8000, 1.0);
    SoundSample sample;
    ASSERT_EQ(LoadOggFile(sample, Utf16(ogg), 0), 0);
    ASSERT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
    ASSERT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree | kPlayPaused), 0);
    (void)MixSixteen(mixer, 200);
    ASSERT_EQ(LoadOggFile(sample, Utf16(ogg), 0), 0);
    SoundResumeAllVoices(mixer);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0);
    for (int i = 0; i < mixer.voiceCount; ++i) {
        EXPECT_EQ(mixer.voices[i].decoder, nullptr) << i;
        EXPECT_FALSE(mixer.voices[i].streamBuffer) << i;
    }
    // The voice limit counts the voices that decode this sample's stream.
    sample.SetVoiceLimit(2);
    EXPECT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
    EXPECT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
    EXPECT_EQ(SoundPlaySample(mixer, sample, kPlayFirstFree), kSoundUnavailable);
}

}  // namespace
}  // namespace qob
