#include "instruments/samplervoice.h"

#include "instruments/samplerzone.h"
#include "packfiles.h"
#include "proto/samplepack.pb.h"
#include "signalmeasure.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class SamplerVoiceTest : public ::testing::Test
{
protected:
    // A zone with a flat envelope around the given sample.
    std::unique_ptr<SamplerZone> makeZone(const std::vector<float>& samples, int rootKey)
    {
        packfiles::writeSample(m_dir.path().string(), "s.wav", samples);
        Quavertone::SamplePack::Zone zone;
        zone.set_root_key(rootKey);
        zone.set_filename("s.wav");
        auto* adsr = zone.mutable_adsr_params();
        adsr->set_attack_time(0);
        adsr->set_decay_time(0);
        adsr->set_sustain_level(1);
        return std::make_unique<SamplerZone>(zone, m_dir.path().string());
    }

    // Renders frames in blocks until the voice stops or frames are done.
    std::vector<float> play(SamplerVoice& voice, int frames, int block = 256)
    {
        std::vector<float> out(2 * frames, 0.0f);
        for (int done = 0; done < frames && voice.isActive(); done += block)
            voice.render(out.data() + 2 * done, std::min(block, frames - done));
        return out;
    }

    TempDir m_dir;
};

double largestStep(const std::vector<float>& out, int first, int last)
{
    double worst = 0.0;
    for (int i = first + 1; i < last; ++i)
        worst = std::max(worst, double(std::abs(out[2 * i] - out[2 * i - 2])));
    return worst;
}

TEST_F(SamplerVoiceTest, ShiftsFarBeyondTheFilteredBufferPlayToTheSampleEnd)
{
    auto zone = makeZone(packfiles::sine(100.0, 44100), 0);
    SamplerVoice voice;
    voice.setZone(zone.get());
    // 127 semitones up the source runs about 1535 times faster: a piece of 21
    // frames fills the filtered buffer, and the second one uses the sample up.
    voice.start(127);
    std::vector<float> mix(2 * 512, 0.0f);
    const int rendered = voice.render(mix.data(), 512);
    EXPECT_GT(rendered, 21);
    EXPECT_LT(rendered, 512);
    for (float v : mix)
        ASSERT_TRUE(std::isfinite(v) && std::abs(v) <= 1.0f);
    play(voice, 1 << 20);
    EXPECT_FALSE(voice.isActive()); // and it still comes to the sample's end
}

TEST_F(SamplerVoiceTest, SampleShorterThanACountingStepPlaysAboveTheRoot)
{
    auto zone = makeZone(packfiles::constant(0.5f, 10), 60);
    SamplerVoice voice;
    voice.setZone(zone.get());
    voice.start(79);
    const auto out = play(voice, 1024);
    EXPECT_FALSE(voice.isActive());
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v) && std::abs(v) <= 1.0f);
}

// The voice's resamplers keep their state from note to note, through notes
// that end early and notes on both sides of the root.
TEST_F(SamplerVoiceTest, ResamplerStateFromEarlierNotesLeavesNoClicks)
{
    constexpr double kHz = 441.0;
    auto shortZone = makeZone(packfiles::sine(kHz, 3001), 60);
    SamplerVoice voice;
    const int earlier[] = { 48, 67, 72, 55, 79 };
    for (int note : earlier) {
        voice.setZone(shortZone.get());
        voice.start(note);
        play(voice, 20000, 100); // odd block sizes end the sample mid-block
    }
    auto zone = makeZone(packfiles::sine(kHz, 44100), 60);
    for (int note : { 67, 72, 79 }) {
        voice.setZone(zone.get());
        voice.start(note);
        const auto out = play(voice, 8192, 100);
        const double ratio = std::pow(2.0, (note - 60) / 12.0);
        EXPECT_NEAR(signalmeasure::frequency(out, 8) / kHz, ratio, 0.0005) << note;
        // A sine of amplitude 0.5 moves at most 2 pi f / 44100 x 0.5 per frame.
        EXPECT_LT(largestStep(out, 8, 8192), 1.05 * M_PI * kHz * ratio / 44100.0) << note;
    }
}

// Two octaves up, a 16,384-frame buffer needs more source than the filtered
// buffer holds: long buffers take the note in pieces and play what short
// ones play, without gaps.
TEST_F(SamplerVoiceTest, LongBuffersPlayPitchedUpNotesAsShortOnesDo)
{
    constexpr int kFrames = 32768;
    auto zone = makeZone(packfiles::sine(441.0, 3 * 44100), 60);
    const auto renderIn = [&](int block) {
        SamplerVoice voice;
        voice.setZone(zone.get());
        voice.start(84);
        return play(voice, kFrames, block);
    };
    const std::vector<float> expected = renderIn(256);
    for (int w = 0; w < kFrames; w += 256)
        ASSERT_GT(signalmeasure::rms(expected, w, w + 256), 0.3) << "frame " << w;
    for (int block : { 4096, 16384 }) {
        const std::vector<float> out = renderIn(block);
        const auto differ = std::mismatch(out.begin(), out.end(), expected.begin());
        EXPECT_TRUE(differ.first == out.end())
            << block << "-frame buffers differ from frame " << (differ.first - out.begin()) / 2;
    }
}

TEST_F(SamplerVoiceTest, ZoneChangeStopsTheVoice)
{
    auto zone = makeZone(packfiles::constant(0.5f, 4096), 60);
    SamplerVoice voice;
    voice.setZone(zone.get());
    voice.start(60);
    EXPECT_TRUE(voice.isActive());
    voice.setZone(nullptr);
    EXPECT_FALSE(voice.isActive());
    std::vector<float> mix(2 * 64, 0.0f);
    EXPECT_EQ(voice.render(mix.data(), 64), 0);
}

} // namespace
