#include "dsp/fade.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Steps a running ramp with mixSample until it is steady; returns the steps.
int stepsToSteady(Fade& fade, int limit = 100000)
{
    int steps = 0;
    const float one = 1.0f;
    while (!fade.isSteady() && steps < limit) {
        float dst = 0.0f;
        fade.mixSample(&dst, &one);
        ++steps;
    }
    return steps;
}

TEST(Fade, RampsTakeTheirNumberOfSteps)
{
    struct Case { const char* what; void (*start)(Fade&); int steps; float end; };
    const Case cases[] = {
        { "startFade(true)", [](Fade& f) { f.startFade(true); }, 4410, 0.0f },
        { "startFade(false) from 0", [](Fade& f) { f.setValue(0.0f); f.startFade(false); }, 4410, 1.0f },
        // From the gain it has, at the same rate: half the steps.
        { "startFade(false) from 0.5", [](Fade& f) { f.setValue(0.5f); f.startFade(false); }, 2205, 1.0f },
        { "startFade(true) from 0.25", [](Fade& f) { f.setValue(0.25f); f.startFade(true); }, 1103, 0.0f },
        { "fadeOut(300)", [](Fade& f) { f.fadeOut(300.0f); }, 13230, 0.0f },
    };
    for (const Case& c : cases) {
        Fade fade;
        c.start(fade);
        EXPECT_FALSE(fade.isSteady()) << c.what;
        const int steps = stepsToSteady(fade);
        // The gain adds up float steps, so it may land a hair short of the
        // target and need a step or two more.
        EXPECT_GE(steps, c.steps) << c.what;
        EXPECT_LE(steps, c.steps + 2) << c.what;
        EXPECT_EQ(fade.value(), c.end) << c.what;
        EXPECT_TRUE(fade.isSteady()) << c.what;
    }
}

TEST(Fade, FadeInAtFullGainChangesNothing)
{
    Fade fade;
    fade.startFade(false);
    EXPECT_TRUE(fade.isSteady());
    EXPECT_EQ(fade.value(), 1.0f);

    fade.fadeOut(0.0f); // no time at all: silent at once
    EXPECT_TRUE(fade.isSteady());
    EXPECT_EQ(fade.value(), 0.0f);
}

TEST(Fade, MixSampleAddsScaledSamplesAndStepsPerSample)
{
    Fade fade;
    float dst = 1.0f;
    const float src = 2.0f;
    fade.mixSample(&dst, &src);
    EXPECT_EQ(dst, 3.0f); // steady at gain 1

    fade.startFade(true);
    dst = 0.0f;
    fade.mixSample(&dst, &src);
    EXPECT_FLOAT_EQ(dst, 2.0f * (1.0f - 1.0f / 4410.0f));
}

TEST(Fade, BlockOperationScalesFramesWhileARampRuns)
{
    Fade fade;
    std::vector<float> block(2 * 8, 1.0f);
    fade.process(block.data(), 8);
    EXPECT_EQ(block, std::vector<float>(16, 1.0f)); // steady: untouched

    fade.fadeOut(300.0f);
    fade.process(block.data(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(block[2 * i], block[2 * i + 1]);
        EXPECT_LT(block[2 * i], i == 0 ? 1.0f : block[2 * i - 2]);
    }

    // A ramp ending inside a block: later frames keep the target gain.
    Fade in;
    in.setValue(0.0f);
    in.startFade(false);
    std::vector<float> longBlock(2 * 5000, 1.0f);
    in.process(longBlock.data(), 5000);
    EXPECT_TRUE(in.isSteady());
    EXPECT_EQ(longBlock[2 * 4999], 1.0f);
    EXPECT_EQ(longBlock[2 * 4500 + 1], 1.0f);
    EXPECT_LT(longBlock[2 * 100], 0.05f);
}

TEST(Fade, MixingARunEqualsMixingSampleBySample)
{
    struct Case { const char* what; void (*start)(Fade&); };
    const Case cases[] = {
        { "steady at unity", [](Fade&) {} },
        { "steady at a set gain", [](Fade& f) { f.setValue(0.37f); } },
        { "fading out", [](Fade& f) { f.startFade(true); } },
        { "fading in, steady within the run", [](Fade& f) { f.setValue(0.5f); f.startFade(false); } },
    };
    std::vector<float> src(9000);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = float((i * 7919) % 2001) / 1000.0f - 1.0f;
    for (const Case& c : cases) {
        Fade byRun;
        Fade bySample;
        c.start(byRun);
        c.start(bySample);
        std::vector<float> run(src.size(), 0.25f);
        std::vector<float> samples(run);
        byRun.mix(run.data(), src.data(), int64(src.size()));
        for (std::size_t i = 0; i < src.size(); ++i)
            bySample.mixSample(&samples[i], &src[i]);
        EXPECT_EQ(run, samples) << c.what;
        EXPECT_EQ(byRun.value(), bySample.value()) << c.what;
        EXPECT_EQ(byRun.isSteady(), bySample.isSteady()) << c.what;
    }
}

} // namespace
