#include "dsp/loopretimer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Stereo frames: a click (1.0 on the left, -1.0 on the right) at each of the
// given frames, silence elsewhere.
std::vector<float> clicks(int64 frames, const std::vector<int64>& at)
{
    std::vector<float> s(std::size_t(2 * frames), 0.0f);
    for (int64 f : at) {
        s[std::size_t(2 * f)] = 1.0f;
        s[std::size_t(2 * f + 1)] = -1.0f;
    }
    return s;
}

std::vector<float> retimed(const std::vector<float>& src, int64 dstFrames)
{
    std::vector<float> dst(std::size_t(2 * dstFrames), 99.0f);
    LoopRetimer().retime(src.data(), int64(src.size() / 2), dst.data(), dstFrames);
    return dst;
}

// The frame whose left channel is largest within radius of the guess.
int64 peakNear(const std::vector<float>& s, int64 guess, int64 radius)
{
    int64 best = guess;
    for (int64 f = std::max<int64>(0, guess - radius); f <= guess + radius && 2 * f < int64(s.size()); ++f)
        if (s[std::size_t(2 * f)] > s[std::size_t(2 * best)])
            best = f;
    return best;
}

TEST(LoopRetimer, EqualLengthsCopyTheSourceUnchanged)
{
    std::vector<float> src(2 * 1000);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = std::sin(0.37f * float(i));
    EXPECT_EQ(retimed(src, 1000), src);
}

// Beats of the source land on the beats of the new length however many
// frames it spans: the position is counted exactly, never stepped, so no
// frame is skipped late in the loop (a phase that drifts by a frame every
// few dozen steps would put the last beat hundreds of frames early).
TEST(LoopRetimer, BeatsLandWhereTheNewLengthPutsThem)
{
    struct Case { int64 from; int64 to; };
    const Case cases[] = { { 235200, 176400 }, { 176400, 235200 }, { 88200, 176400 }, { 338688, 352800 },
                           { 352800, 186174 } };
    for (const Case& c : cases) {
        const int beats = 8;
        std::vector<int64> at;
        for (int b = 0; b < beats; ++b)
            at.push_back(b * c.from / beats);
        const std::vector<float> out = retimed(clicks(c.from, at), c.to);
        for (int b = 1; b < beats; ++b) {
            const int64 expected = std::llround(double(at[std::size_t(b)]) * double(c.to) / double(c.from));
            EXPECT_EQ(peakNear(out, expected, 8), expected) << c.from << " -> " << c.to << " beat " << b;
        }
        for (std::size_t i = 0; i < out.size(); i += 2)
            ASSERT_FLOAT_EQ(out[i + 1], -out[i]) << "channels kept apart, frame " << i / 2;
    }
}

// The last frames read across the seam into the start: a steady signal
// stays steady to the end, and a click at frame 0 shows on both sides of it.
TEST(LoopRetimer, TheSeamIsInterpolatedNotPadded)
{
    for (int64 to : { int64(7000), int64(13000) }) {
        const std::vector<float> out = retimed(std::vector<float>(2 * 10000, 0.5f), to);
        for (int64 f = to - 50; f < to; ++f)
            ASSERT_NEAR(out[std::size_t(2 * f)], 0.5f, 1e-3f) << to << " frame " << f;
        const std::vector<float> click = retimed(clicks(10000, { 0 }), to);
        EXPECT_EQ(peakNear(click, 0, 8), 0);
        EXPECT_GT(std::fabs(click[std::size_t(2 * (to - 1))]), 1e-4f) << "the start rings back over the end";
    }
}

// Sped up, what lies above the new Nyquist frequency is filtered out rather
// than folded down: a tone at 0.9 of the source's Nyquist is nearly gone
// when the loop plays 4/3 as fast.
TEST(LoopRetimer, SpeedingUpFiltersWhatWouldAlias)
{
    const int64 from = 40000, to = 30000;
    std::vector<float> src(std::size_t(2 * from));
    for (int64 f = 0; f < from; ++f)
        src[std::size_t(2 * f)] = src[std::size_t(2 * f + 1)] = std::sin(0.9f * 3.14159265f * float(f));
    const std::vector<float> out = retimed(src, to);
    double energy = 0.0;
    for (int64 f = 1000; f < to - 1000; ++f)
        energy += double(out[std::size_t(2 * f)]) * out[std::size_t(2 * f)];
    EXPECT_LT(std::sqrt(energy / double(to - 2000)), 0.02) << "of 0.707 in";
}

} // namespace
