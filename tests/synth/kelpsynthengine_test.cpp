#include "synth/kelpsynthengine.h"

#include "support/allocationcounter.h"
#include "synth/synthrender.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kFramesPerSecond = 44100;
constexpr int kTopVoice = KelpSynthEngine::kNumVoices - 1; // the first note takes the highest free voice

TEST(KelpSynthEngine, NoteFrequencyTableIsEqualTempered)
{
    EXPECT_NEAR(KelpSynthEngine::noteFrequency(69), 440.0f, 1e-3);
    EXPECT_NEAR(KelpSynthEngine::noteFrequency(60), 261.6256f, 1e-3);
    EXPECT_NEAR(KelpSynthEngine::noteFrequency(0), 8.1758f, 1e-4);
}

TEST(KelpSynthEngine, NoteSoundsFromTheNextFrameOn)
{
    KelpSynthEngine engine;
    setParameter(engine, KELP_ATTACK, 0.01f);
    std::vector<float> before = renderMono(engine, 64);
    EXPECT_EQ(rms(before), 0.0f);
    engine.noteOn(60, 127, 0);
    std::vector<float> after = renderMono(engine, 64);
    EXPECT_EQ(engine.voiceNote(kTopVoice), 60);
    EXPECT_NE(after[1], 0.0f); // frame 0 is the envelope's zero point
}

TEST(KelpSynthEngine, ThirtyThirdNoteIsDroppedAndRestrikesTakeNewVoices)
{
    KelpSynthEngine engine;
    engine.noteOn(60, 64, 0);
    engine.noteOn(60, 64, 0);
    for (int note = 1; note <= 31; ++note)
        engine.noteOn(note, 64, 0);
    renderMono(engine, 64);

    int voicesOn60 = 0;
    for (int v = 0; v < engine.numVoices(); ++v) {
        EXPECT_NE(engine.voiceNote(v), -1) << v;
        EXPECT_NE(engine.voiceNote(v), 31) << "the 33rd note must not take a voice";
        voicesOn60 += engine.voiceNote(v) == 60;
    }
    EXPECT_EQ(voicesOn60, 2);

    engine.noteOff(60, 0);
    renderMono(engine, 4);
    EXPECT_EQ(engine.voiceNote(kTopVoice), -2);
    EXPECT_EQ(engine.voiceNote(kTopVoice - 1), -2);
}

TEST(KelpSynthEngine, VoiceIsFreedAfterItsRelease)
{
    KelpSynthEngine engine;
    setParameter(engine, KELP_RELEASE, 0.1f);
    engine.noteOn(60, 100, 0);
    renderMono(engine, 4410);
    engine.noteOff(60, 0);
    renderMono(engine, 4000);
    EXPECT_EQ(engine.voiceNote(kTopVoice), -2);
    std::vector<float> tail = renderMono(engine, 1000);
    EXPECT_EQ(engine.voiceNote(kTopVoice), -1);
    EXPECT_EQ(rms(tail, 500), 0.0f);
}

TEST(KelpSynthEngine, MixGainIsAThirdUpToThreeVoicesThenOneOverTheEnvelopeSum)
{
    // Identical voices started in the same frame (directly: due events may
    // spread over frames): k voices give k times one voice up to three, and
    // three times one voice beyond.
    const auto render = [](int voices) {
        KelpSynthEngine engine;
        engine.useKernel(ModalKernel::sse2()); // sums modes as a tick does
        setParameter(engine, KELP_ATTACK, 0.01f);
        setParameter(engine, KELP_DECAY, 0.01f);
        setParameter(engine, KELP_SUSTAIN, 1.0f);
        renderMono(engine, 1); // block setup reads the changed program
        for (int i = 0; i < voices; ++i)
            engine.startNote(57, 127);
        return renderMono(engine, 4410);
    };
    const std::vector<float> one = render(1);
    struct Case
    {
        int voices;
        float factor;
    };
    for (const Case c : { Case { 2, 2 }, Case { 3, 3 }, Case { 4, 3 }, Case { 5, 3 } }) {
        const std::vector<float> many = render(c.voices);
        for (int f = 1000; f < 4410; f += 7)
            ASSERT_NEAR(many[f], c.factor * one[f], 1e-5) << c.voices << " voices, frame " << f;
    }
    // One voice at full envelope: out = mix x 3.1622 / 3. A voice of its own,
    // laid out from the same program, gives the mix.
    KelpSynthEngine reference;
    setParameter(reference, KELP_SUSTAIN, 1.0f);
    ModalModel model;
    model.applyProgram(*reference.currentProgram());
    ModalVoice voice(&model);
    voice.start(KelpSynthEngine::noteFrequency(57));
    for (int f = 0; f < 4410; ++f) {
        const float mix = voice.tick();
        if (f >= 1000)
            ASSERT_FLOAT_EQ(one[f], 0.33333334f * mix * KelpSynthEngine::kOutputGain) << f;
    }
}

TEST(KelpSynthEngine, ModeInitZeroIsSilentUntilTheFirstShift)
{
    KelpSynthEngine engine;
    setParameter(engine, KELP_MODE_INIT, 0);
    setParameter(engine, KELP_SHIFT_INTERVAL, -1); // half a beat: 0.25 s at 120 bpm
    setParameter(engine, KELP_ATTACK, 0.01f);
    engine.noteOn(60, 127, 0);
    const std::vector<float> out = renderMono(engine, kFramesPerSecond / 2);
    const int shift = kFramesPerSecond / 4;
    EXPECT_EQ(rms(out, 0, shift - 2), 0.0f);
    EXPECT_GT(rms(out, shift + 2000), 0.01f);
    EXPECT_EQ(engine.voice(kTopVoice).targetCount(), 2); // the default Min Modes
}

TEST(KelpSynthEngine, ModesShiftEveryShiftInterval)
{
    KelpSynthEngine engine;
    setParameter(engine, KELP_SHIFT_INTERVAL, -1); // 0.25 s
    setParameter(engine, KELP_MODE_SHIFT, 1);
    setParameter(engine, KELP_MODE_INIT, 4);
    engine.noteOn(60, 127, 0);
    struct Step
    {
        int frames;
        int expectedModes;
    };
    // The voice clock is single precision: allow it a millisecond of drift.
    const Step steps[] = { { 11000, 4 }, { 50, 5 }, { 10975, 5 }, { 50, 6 }, { 10975, 6 }, { 50, 7 } };
    for (const Step& step : steps) {
        renderMono(engine, step.frames, 1);
        EXPECT_EQ(engine.voice(kTopVoice).targetCount(), step.expectedModes)
            << "at " << engine.voice(kTopVoice).time() << " s";
    }
}

TEST(KelpSynthEngine, FreqDropFactor)
{
    EXPECT_EQ(ModalModel::dropFactorFor(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(ModalModel::dropFactorFor(8.0f), 1.01f);
    EXPECT_FLOAT_EQ(ModalModel::dropFactorFor(-8.0f), 0.99f);

    KelpSynthEngine engine;
    setParameter(engine, KELP_FREQ_DROP, 8);
    engine.noteOn(60, 127, 0);
    renderMono(engine, 1);
    const float f = KelpSynthEngine::noteFrequency(60);
    const ModalVoice& voice = engine.voice(kTopVoice);
    for (int h = 1; h <= 10; ++h)
        EXPECT_FLOAT_EQ(voice.frequency(h - 1), h * f * 1.01f) << h;
    renderMono(engine, 1);
    EXPECT_FLOAT_EQ(voice.frequency(0), f * 1.01f * 1.01f);
}

TEST(KelpSynthEngine, FreqDropZeroKeepsThePitchExactly)
{
    KelpSynthEngine engine;
    engine.noteOn(60, 127, 0);
    renderMono(engine, 20000);
    EXPECT_EQ(engine.voice(kTopVoice).frequency(0), KelpSynthEngine::noteFrequency(60));
}

TEST(KelpSynthEngine, RunawayFrequencyIsSkippedNotPrinted)
{
    // Freq Drop 8 overflows the mode frequencies within a second of holding.
    KelpSynthEngine engine;
    setParameter(engine, KELP_FREQ_DROP, 8);
    engine.noteOn(60, 127, 0);
    const std::vector<float> out = renderMono(engine, kFramesPerSecond);
    for (float s : out)
        ASSERT_TRUE(std::isfinite(s));
    EXPECT_GT(engine.voice(kTopVoice).invalidLookups(), 0);
}

TEST(KelpSynthEngine, PrimeModesSitBelowTheNote)
{
    KelpSynthEngine engine;
    setParameter(engine, KELP_MODES, 2);
    setParameter(engine, KELP_DETUNE, 0.5f);
    engine.noteOn(69, 127, 0);
    renderMono(engine, 1);
    const ModalVoice& voice = engine.voice(kTopVoice);
    EXPECT_NEAR(voice.frequency(0), 440.0 / std::sqrt(2.0), 1e-3);
    EXPECT_NEAR(voice.frequency(1), 440.0 / std::sqrt(3.0), 1e-3);
    EXPECT_FLOAT_EQ(voice.amplitude(0), voice.amplitude(1));
    EXPECT_NEAR(voice.frequency(2), 440.0, 1e-3); // the harmonic series follows
}

TEST(KelpSynthEngine, ParitySilencesEvenOrOddHarmonics)
{
    struct Case
    {
        float parity;
        std::vector<int> silent;
        std::vector<int> sounding;
    };
    const Case cases[] = {
        { 1.0f, { 2, 4, 6 }, { 1, 3, 5 } },
        { -1.0f, { 1, 3, 5 }, { 2, 4, 6 } },
    };
    for (const Case& c : cases) {
        KelpSynthEngine engine;
        setParameter(engine, KELP_PARITY, c.parity);
        setParameter(engine, KELP_MODES, 1); // a prime mode at 440 / sqrt(2): parity leaves it alone
        setParameter(engine, KELP_MODE_INIT, 8);
        setParameter(engine, KELP_MIN_MODES, 8);
        setParameter(engine, KELP_MAX_MODES, 8);
        setParameter(engine, KELP_ATTACK, 0.01f);
        engine.noteOn(69, 127, 0);
        const std::vector<float> out = renderMono(engine, kFramesPerSecond);
        const std::size_t begin = kFramesPerSecond / 4;
        const std::size_t end = kFramesPerSecond;
        const double prime = toneLevel(out, begin, end, 440.0 / std::sqrt(2.0));
        EXPECT_GT(prime, 0.01) << "parity " << c.parity;
        for (int h : c.sounding)
            EXPECT_GT(toneLevel(out, begin, end, 440.0 * h), 0.005) << "parity " << c.parity << " harmonic " << h;
        for (int h : c.silent)
            EXPECT_LT(toneLevel(out, begin, end, 440.0 * h), 1e-4) << "parity " << c.parity << " harmonic " << h;
    }
}

TEST(KelpSynthEngine, PitchBendScalesEveryMode)
{
    KelpSynthEngine engine;
    engine.pitchBend(1.0f, 0);
    renderMono(engine, 1);
    EXPECT_FLOAT_EQ(engine.model().m_bend, 2.0f);
}

TEST(KelpSynthEngine, InterleavedProcessAddsTheSameSoundToBothChannels)
{
    KelpSynthEngine separate;
    KelpSynthEngine interleaved;
    separate.noteOn(64, 90, 0);
    interleaved.noteOn(64, 90, 0);
    const std::vector<float> expected = renderMono(separate, 512);
    std::vector<float> buffer(512 * ZUB_FRAMESIZE, 0.25f);
    interleaved.process(buffer.data(), 256);
    interleaved.process(buffer.data() + 256 * ZUB_FRAMESIZE, 256);
    for (int f = 0; f < 512; ++f) {
        ASSERT_FLOAT_EQ(buffer[2 * f], 0.25f + expected[f]) << f;
        ASSERT_FLOAT_EQ(buffer[2 * f + 1], 0.25f + expected[f]) << f;
    }
}

TEST(KelpSynthEngine, ProcessAllocatesNothing)
{
    KelpSynthEngine engine;
    std::vector<float> left(256);
    std::vector<float> right(256);
    float* outputs[2] = { left.data(), right.data() };
    std::vector<float> interleaved(256 * ZUB_FRAMESIZE);
    for (int note = 40; note < 80; ++note)
        engine.noteOn(note, 100, note % 7);
    engine.setProgram(5); // a crushed saw: the wavetable is rebuilt in the cycle
    engine.noteOff(45, 300);
    AllocationCounter counter;
    for (int block = 0; block < 20; ++block) {
        engine.process(outputs, outputs, 256);
        engine.process(interleaved.data(), 256);
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
