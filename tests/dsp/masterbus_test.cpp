#include "dsp/ghettocomp.h"
#include "dsp/masterbus.h"
#include "support/allocationcounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

// 441 frames hold whole periods of 100 Hz, 2 kHz and 10 kHz, so every block
// of a steady mix of them is exactly as loud as the last.
constexpr int kBlock = 441;

std::vector<float> steadyMix(int frames, double amp, bool sameOnBothSides = false)
{
    std::vector<float> s(2 * frames);
    for (int i = 0; i < frames; ++i) {
        const double t = 2.0 * std::numbers::pi * i / 44100.0;
        const double x = amp * (std::sin(100.0 * t) + std::sin(2000.0 * t) + std::sin(10000.0 * t));
        s[2 * i] = static_cast<float>(x);
        s[2 * i + 1] = static_cast<float>(sameOnBothSides ? x : -x);
    }
    return s;
}

// Blocks until the factor moves by less than a thousandth of itself.
int blocksToSettle(GhettoComp& comp, const std::vector<float>& block)
{
    for (int n = 1; n < 10000; ++n) {
        std::vector<float> b = block;
        const float before = comp.compFactor();
        comp.process(b.data(), static_cast<int>(b.size() / 2));
        if (std::abs(comp.compFactor() - before) < 1e-3f * before)
            return n;
    }
    return -1;
}

TEST(GhettoComp, SilenceAndQuietBlocksKeepUnityGain)
{
    for (float amp : { 0.0f, 0.02f }) {
        GhettoComp comp(11.6f);
        std::vector<float> block(2 * 256, amp), in = block;
        for (int i = 0; i < 10; ++i) {
            comp.process(block.data(), 256);
            EXPECT_EQ(comp.compFactor(), 1.0f) << amp;
            EXPECT_EQ(block, in) << amp;
        }
    }
}

TEST(GhettoComp, LoudBlocksPullTheGainDownToTheTarget)
{
    GhettoComp comp(11.6f);
    const std::vector<float> loud(2 * 1024, 0.5f); // level sqrt(0.5), target 30 sqrt(0.5)
    ASSERT_GT(blocksToSettle(comp, loud), 0);
    EXPECT_NEAR(comp.compFactor(), 30.0f * std::sqrt(0.5f), 0.05f);
    std::vector<float> b = loud;
    comp.process(b.data(), 1024);
    EXPECT_NEAR(b[0], 0.5f / std::sqrt(comp.compFactor()), 1e-6f);

    // Non-numbers leave the factor where it was instead of ruining it for good.
    const float before = comp.compFactor();
    std::vector<float> bad(2 * 16, INFINITY);
    comp.process(bad.data(), 16);
    EXPECT_EQ(comp.compFactor(), before);
}

TEST(GhettoComp, LongGlideSettlesSlower)
{
    const std::vector<float> loud = steadyMix(kBlock, 0.3);
    GhettoComp slow(100.0f), fast(11.6f);
    const int slowBlocks = blocksToSettle(slow, loud), fastBlocks = blocksToSettle(fast, loud);
    ASSERT_GT(fastBlocks, 0);
    EXPECT_GT(slowBlocks, 3 * fastBlocks);
}

TEST(MasterBus, SilenceInSilenceOut)
{
    MasterBus bus;
    for (int i = 0; i < 20; ++i) {
        std::vector<float> buffer(2 * 512, 0.0f);
        bus.process(buffer.data(), 512);
        for (float s : buffer)
            ASSERT_LT(std::abs(s), 1e-6f); // only the filters' anti-denormal offset, below -120 dB
    }
    EXPECT_EQ(bus.compFactor(MasterBus::kLow), 1.0f);
}

TEST(MasterBus, ALongSilencePassesUntouchedAndWhatFollowsSoundsTheSame)
{
    // Bus `resting` hears true silence between two loud passages; bus
    // `working` hears one sample of 1e-20 in every block of it, which no
    // one can hear but which keeps it computing.
    MasterBus resting, working;
    const std::vector<float> loud = steadyMix(kBlock, 0.3);
    auto both = [&](const std::vector<float>& in, float nudge) {
        std::vector<float> a = in, b = in;
        b[0] += nudge;
        resting.process(a.data(), kBlock);
        working.process(b.data(), kBlock);
        return std::make_pair(a, b);
    };
    for (int n = 0; n < 100; ++n)
        both(loud, 0.0f);
    const std::vector<float> silence(2 * kBlock, 0.0f);
    const int restBlocks = MasterBus::REST_AFTER_FRAMES / kBlock + 1;
    for (int n = 0; n < 2 * restBlocks; ++n) {
        const auto [a, b] = both(silence, 1e-20f);
        if (n <= restBlocks)
            continue; // the passage rings out
        ASSERT_EQ(a, silence) << "block " << n;
        for (float s : b)
            ASSERT_LT(std::abs(s), 1e-6f);
    }
    float worst = 0.0f;
    for (int n = 0; n < 100; ++n) {
        const auto [a, b] = both(loud, 0.0f);
        for (std::size_t i = 0; i < a.size(); ++i)
            worst = std::max(worst, std::abs(a[i] - b[i]));
    }
    EXPECT_LT(worst, 1e-6f); // -120 dB
}

TEST(MasterBus, LowBandSettlesSlowerThanTheOthers)
{
    MasterBus bus;
    const std::vector<float> loud = steadyMix(kBlock, 0.3);
    int settled[3] = { -1, -1, -1 };
    float previous[3] = { 1.0f, 1.0f, 1.0f };
    for (int n = 1; n < 2000; ++n) {
        std::vector<float> b = loud;
        bus.process(b.data(), kBlock);
        for (int band = 0; band < 3; ++band) {
            const float f = bus.compFactor(MasterBus::Band(band));
            if (settled[band] < 0 && n > 2 && std::abs(f - previous[band]) < 1e-3f * f)
                settled[band] = n;
            previous[band] = f;
        }
    }
    for (int band = 0; band < 3; ++band) {
        ASSERT_GT(settled[band], 0) << band;
        EXPECT_GT(previous[band], 1.5f) << band; // every band is loud enough to compress
    }
    EXPECT_GT(settled[MasterBus::kLow], 2 * settled[MasterBus::kMid]);
    EXPECT_GT(settled[MasterBus::kLow], 2 * settled[MasterBus::kHigh]);
}

TEST(MasterBus, RightChannelGetsTheLargerQuadraticTerm)
{
    // Once the compressors have settled both channels of a block get the same gain.
    MasterBus bus;
    const std::vector<float> in = steadyMix(kBlock, 0.2, true);
    std::vector<float> b;
    for (int n = 0; n < 400; ++n) {
        b = in;
        bus.process(b.data(), kBlock);
    }
    float largest = 0.0f;
    for (int i = 0; i < kBlock; ++i) {
        const float d = b[2 * i + 1] - b[2 * i]; // 0.4 h^2 with the same h on both sides
        ASSERT_GE(d, -1e-6f) << i;
        largest = std::max(largest, d);
    }
    EXPECT_GT(largest, 0.01f);
}

TEST(MasterBus, LongCallsRunInPiecesWithoutAllocating)
{
    const int frames = 40000;
    const std::vector<float> in = steadyMix(frames, 0.25);
    MasterBus whole, pieces;
    std::vector<float> a = in, b = in;
    {
        AllocationCounter counter;
        whole.process(a.data(), frames);
        EXPECT_EQ(counter.count(), 0u);
    }
    const int split[] = { 16383, 16383, frames - 2 * 16383 };
    float* p = b.data();
    for (int n : split) {
        pieces.process(p, n);
        p += 2 * n;
    }
    EXPECT_EQ(a, b);
    for (float s : a)
        ASSERT_TRUE(std::isfinite(s));
}

} // namespace
