#include "dsp/linearresampler.h"
#include "dsp/superresampler.h"
#include "support/allocationcounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Frame k of the source is (k + 1, -10 (k + 1)), so every frame is told apart.
std::vector<float> ramp(int frames)
{
    std::vector<float> s(2 * frames);
    for (int k = 0; k < frames; ++k) {
        s[2 * k] = float(k + 1);
        s[2 * k + 1] = -10.0f * float(k + 1);
    }
    return s;
}

struct Step
{
    float left;    // expected output (right is -10 times it)
    int consumed;  // samples
};

void expectSteps(LinearResampler& r, int semitones, double rate, const std::vector<Step>& steps)
{
    const std::vector<float> src = ramp(64);
    int pos = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        float l = 0.0f, rr = 0.0f;
        const int c = r.next(&l, &rr, semitones, rate, src.data() + pos, int(src.size()) - pos);
        EXPECT_FLOAT_EQ(l, steps[i].left) << "call " << i;
        EXPECT_FLOAT_EQ(rr, -10.0f * steps[i].left) << "call " << i;
        EXPECT_EQ(c, steps[i].consumed) << "call " << i;
        pos += c;
    }
}

TEST(LinearResampler, UnitStepSkipsToFrameTwoThenAveragesTheLastTwo)
{
    LinearResampler r;
    // f0; mean of f0 and f2; then the mean of the last two frames read.
    expectSteps(r, 0, 1.0, { { 1.0f, 2 }, { 2.0f, 4 }, { 3.5f, 2 }, { 4.5f, 2 }, { 5.5f, 2 } });
    EXPECT_DOUBLE_EQ(r.phase(), 0.5);
}

TEST(LinearResampler, HalfStepInterpolatesBetweenFrames)
{
    LinearResampler r;
    expectSteps(r, 0, 0.5, { { 0.5f, 2 }, { 1.0f, 0 }, { 1.5f, 2 }, { 2.0f, 0 }, { 2.5f, 2 }, { 3.0f, 0 } });
}

TEST(LinearResampler, SemitonesMultiplyTheRate)
{
    LinearResampler a, b;
    expectSteps(a, 12, 0.25, { { 0.5f, 2 }, { 1.0f, 0 }, { 1.5f, 2 } }); // an octave up at quarter rate
    expectSteps(b, -12, 2.0, { { 1.0f, 2 }, { 2.0f, 4 }, { 3.5f, 2 } }); // an octave down at double rate
}

TEST(LinearResampler, LargeStepsUseThePhaseFormula)
{
    LinearResampler r;
    // Phase 2.5 -> skip one frame, phase 1.5 / 2 = 0.75: reads f1, output 0 + f1 x 0.75.
    // Phase 3.25 -> skip two frames, phase 2.25 / 4 = 0.5625: reads f4.
    expectSteps(r, 0, 2.5, { { 1.5f, 4 }, { 2.0f + 3.0f * 0.5625f, 6 } });
    EXPECT_DOUBLE_EQ(r.phase(), 0.5625);

    LinearResampler counter;
    EXPECT_EQ(counter.countNext(0, 2.5), 4);
    EXPECT_EQ(counter.countNext(0, 2.5), 6);
}

TEST(LinearResampler, StarvedStepAddsNothingAndReadsLater)
{
    LinearResampler r;
    const std::vector<float> src = ramp(4);
    float l = 0.0f, rr = 0.0f;
    EXPECT_EQ(r.next(&l, &rr, 0, 1.0, src.data(), 1), 0);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(rr, 0.0f);
    // The frame is still wanted: the next call with data reads it.
    EXPECT_EQ(r.next(&l, &rr, 0, 0.5, src.data(), 8), 2);
    EXPECT_GT(l, 0.0f);
}

struct LoopAudio
{
    explicit LoopAudio(int frames) : samples(ramp(frames)), frames(frames) {}
    std::vector<float> samples;
    int frames;
};

TEST(SuperResampler, SlowRatesReadTheLoopDirectly)
{
    LoopAudio loop(1000);
    SuperResampler r;
    std::vector<float> out(16, 0.0f);
    // Rate 0.5: position moves half as far as the frames produced.
    EXPECT_EQ(r.process(loop.samples.data(), loop.frames, 0, out.data(), 8, 0, 0.5), 4);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[14], 4.0f);

    SuperResampler unit;
    std::fill(out.begin(), out.end(), 0.0f);
    EXPECT_EQ(unit.process(loop.samples.data(), loop.frames, 2 * 10 + 1, out.data(), 4, 0, 1.0), 5);
    EXPECT_FLOAT_EQ(out[0], 11.0f); // odd position rounds down to frame 10
    EXPECT_FLOAT_EQ(out[2], 12.0f); // mean of frames 10 and 12
}

TEST(SuperResampler, RateOneAndAHalfUpsamplesByTwo)
{
    LoopAudio loop(100000);
    SuperResampler r;
    std::vector<float> out(2 * 128);
    int64 pos = 0;
    int64 firstMove = 0;
    int steady = 0, steps = 0;
    float first = 0.0f, last = 0.0f;
    for (int block = 0; block < 20; ++block) {
        std::fill(out.begin(), out.end(), 0.0f);
        const int moved = r.process(loop.samples.data(), loop.frames, pos, out.data(), 128, 0, 1.5);
        if (block == 0) {
            firstMove = moved;
            first = out[2 * 8];
        }
        pos += 2 * moved;
        last = out[2 * 127];
        // A ramp played at 1.5 rises by 1.5 per output frame. Once about every
        // 52 frames the factor-2 read's phase reaches 3 by rounding and steps
        // one upsampled frame further; the counting pass does the same.
        for (int i = 8; i < 128; ++i, ++steps)
            steady += std::abs(out[2 * i] - out[2 * i - 2] - 1.5f) < 0.02f;
    }
    EXPECT_GT(steady, steps * 8 / 10);
    EXPECT_NEAR((last - first) / (20 * 128 - 8 - 1), 1.5, 0.05);
    EXPECT_NEAR(firstMove, 192, 4);
    EXPECT_NEAR(pos / 2, 20 * 192, 20 * 192 / 50);
}

TEST(SuperResampler, StopsAtTheLoopsEnd)
{
    struct Case { double rate; int64 expectedMove; };
    // Direct reading stops at the end; upsampling runs out of source and wraps.
    for (const Case& c : { Case { 1.0, 10 }, Case { 0.5, 5 }, Case { 1.5, -90 }, Case { 3.0, -90 } }) {
        LoopAudio loop(100);
        SuperResampler r;
        std::vector<float> out(2 * 32, 7.0f);
        const int moved = r.process(loop.samples.data(), loop.frames, 2 * 90, out.data(), 32, 0, c.rate);
        if (c.expectedMove > 0) {
            EXPECT_LE(moved, c.expectedMove) << c.rate; // never past the end
            EXPECT_GE(moved, c.expectedMove - 1) << c.rate;
        } else {
            EXPECT_EQ(moved, c.expectedMove) << c.rate; // back to frame 0
        }
        for (int i = 10; i < 32; ++i)
            EXPECT_EQ(out[2 * i], 7.0f) << "frame " << i << " at rate " << c.rate;
        EXPECT_NE(out[0], 7.0f) << c.rate;
    }
}

TEST(SuperResampler, NothingToPlayMovesNothing)
{
    LoopAudio loop(10);
    SuperResampler r;
    float out[8] = {};
    EXPECT_EQ(r.process(nullptr, 10, 0, out, 4, 0, 1.5), 0);
    EXPECT_EQ(r.process(loop.samples.data(), 10, 20, out, 4, 0, 1.5), 0); // at the end
    EXPECT_EQ(r.process(loop.samples.data(), 10, 0, out, 0, 0, 1.5), 0);
    for (float s : out)
        EXPECT_EQ(s, 0.0f);
}

TEST(SuperResampler, RenderBlocksAllocateNothing)
{
    LoopAudio loop(44100);
    SuperResampler r;
    std::vector<float> out(2 * 512);
    r.reserve(512, 4.0);
    AllocationCounter counter;
    int64 pos = 0;
    for (double rate : { 0.7, 1.0, 1.5, 2.0, 3.9 }) {
        for (int frames : { 128, 512 }) {
            pos = (pos + 2 * r.process(loop.samples.data(), loop.frames, pos, out.data(), frames, 0, rate))
                % (2 * loop.frames);
        }
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
