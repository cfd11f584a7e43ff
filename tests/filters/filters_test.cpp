#include "filters/chebyshevibandpass.h"
#include "filters/chebyshevilowpass.h"
#include "filters/rbjhighpass.h"
#include "filters/rbjlowpass.h"
#include "filters/stereofilter.h"
#include "support/allocationcounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double kFs = 44100.0;
constexpr double kRippleFloor = 0.8912509381337456; // 10^(-1/20)

// Runs a tone through channel 0 of the filter in 512-sample blocks and returns
// the amplitude of the settled output at the tone's frequency. 0 Hz feeds a
// constant, the Nyquist frequency an alternating +1/-1.
template <class Filter>
double measureGain(Filter& filter, double hz)
{
    const int total = 88200;
    const int settle = 44100;
    std::vector<float> x(total);
    for (int n = 0; n < total; ++n)
        x[n] = static_cast<float>(std::cos(2.0 * std::numbers::pi * hz * n / kFs));
    for (int n = 0; n < total; n += 512)
        filter.processChannel(0, x.data() + n, std::min(512, total - n));

    double re = 0.0, im = 0.0;
    for (int n = settle; n < total; ++n) {
        const double w = 2.0 * std::numbers::pi * hz * n / kFs;
        re += x[n] * std::cos(w);
        im += x[n] * std::sin(w);
    }
    const int m = total - settle;
    const bool edge = hz == 0.0 || hz == kFs / 2.0; // cos^2 averages to 1 there, not 1/2
    return std::hypot(re, im) / m * (edge ? 1.0 : 2.0);
}

StereoFilter<ChebyshevILowPass> voiceLowPass()
{
    StereoFilter<ChebyshevILowPass> f;
    f.setup(4, kFs, 20000.0, 1.0);
    return f;
}

StereoFilter<ChebyshevIBandPass> busBandPass()
{
    StereoFilter<ChebyshevIBandPass> f;
    f.setup(3, kFs, 3000.0, 5000.0, 1.0);
    return f;
}

TEST(ChebyshevLowPass, DcGainIsTheRippleFloor)
{
    auto f = voiceLowPass();
    EXPECT_NEAR(measureGain(f, 0.0), kRippleFloor, 1e-4);
}

TEST(ChebyshevLowPass, PassBandStaysInsideTheRippleBand)
{
    for (double hz : { 100.0, 1000.0, 5000.0, 10000.0, 15000.0, 18000.0, 19000.0, 19900.0 }) {
        auto f = voiceLowPass();
        const double g = measureGain(f, hz);
        EXPECT_GE(g, kRippleFloor - 2e-3) << hz << " Hz";
        EXPECT_LE(g, 1.0 + 2e-3) << hz << " Hz";
    }
}

TEST(ChebyshevLowPass, RipplesReachUnityAndStopBandFalls)
{
    double peak = 0.0;
    for (double hz = 1000.0; hz < 20000.0; hz += 250.0)
        peak = std::max(peak, std::abs(voiceLowPass().response(2.0 * std::numbers::pi * hz / kFs)));
    EXPECT_NEAR(peak, 1.0, 5e-3);

    auto f = voiceLowPass();
    EXPECT_LT(measureGain(f, 21500.0), 0.5);
}

TEST(ChebyshevBandPass, PassesTheMidBandAndRejectsTheEdges)
{
    struct Case { double hz; double min; double max; };
    const Case cases[] = {
        { 50.0, 0.0, 0.05 },   { 300.0, 0.0, 0.7 },
        { 500.0, kRippleFloor - 3e-3, kRippleFloor + 3e-3 }, // band edges: 3000 -/+ 2500 Hz
        { 5500.0, kRippleFloor - 3e-3, kRippleFloor + 3e-3 },
        { 1000.0, kRippleFloor - 2e-3, 1.002 }, { 3000.0, kRippleFloor - 2e-3, 1.002 },
        { 5000.0, kRippleFloor - 2e-3, 1.002 }, { 8000.0, 0.0, 0.5 },
        { 15000.0, 0.0, 0.05 },
    };
    for (const Case& c : cases) {
        auto f = busBandPass();
        const double g = measureGain(f, c.hz);
        EXPECT_GE(g, c.min) << c.hz << " Hz";
        EXPECT_LE(g, c.max) << c.hz << " Hz";
    }
}

TEST(ChebyshevBandPass, PeaksInsideTheBandNearThreeKilohertz)
{
    double peakHz = 0.0, peak = 0.0;
    const auto f = busBandPass();
    for (double hz = 20.0; hz < 22000.0; hz += 10.0) {
        const double g = std::abs(f.response(2.0 * std::numbers::pi * hz / kFs));
        if (g > peak) { peak = g; peakHz = hz; }
    }
    EXPECT_NEAR(peak, 1.0, 5e-3);
    EXPECT_GT(peakHz, 500.0);
    EXPECT_LT(peakHz, 5500.0);
}

// Frequency at which a second-order cookbook low-pass is 3 dB down: the analog
// prototype's corner, moved through the bilinear transform's frequency warp.
double rbjCornerHz(double f0, double q, bool highPass)
{
    const double k = 1.0 - 1.0 / (2.0 * q * q);
    double x = std::sqrt(k + std::sqrt(k * k + 1.0));
    if (highPass)
        x = 1.0 / x;
    const double w = 2.0 * std::atan(x * std::tan(std::numbers::pi * f0 / kFs));
    return w * kFs / (2.0 * std::numbers::pi);
}

TEST(RbjFilters, UnityPassBandAndCornersWhereTheFormulasPutThem)
{
    StereoFilter<RbjLowPass> lp;
    lp.setup(kFs, 160.0, 0.8);
    EXPECT_NEAR(measureGain(lp, 0.0), 1.0, 1e-5);
    StereoFilter<RbjHighPass> hp;
    hp.setup(kFs, 6000.0, 0.8);
    EXPECT_NEAR(measureGain(hp, kFs / 2.0), 1.0, 1e-5);

    struct Case { bool highPass; double f0; double hz; double gain; };
    const Case cases[] = {
        { false, 160.0, 160.0, 0.8 },  // gain Q at the design frequency
        { true, 6000.0, 6000.0, 0.8 },
        { false, 160.0, rbjCornerHz(160.0, 0.8, false), std::sqrt(0.5) },
        { true, 6000.0, rbjCornerHz(6000.0, 0.8, true), std::sqrt(0.5) },
    };
    for (const Case& c : cases) {
        double g;
        if (c.highPass) {
            StereoFilter<RbjHighPass> f;
            f.setup(kFs, c.f0, 0.8);
            g = measureGain(f, c.hz);
        } else {
            StereoFilter<RbjLowPass> f;
            f.setup(kFs, c.f0, 0.8);
            g = measureGain(f, c.hz);
        }
        EXPECT_NEAR(g, c.gain, 2e-3) << (c.highPass ? "high" : "low") << " pass at " << c.hz;
    }
}

TEST(StereoFilter, ChannelsKeepSeparateStateAndSilenceStaysTiny)
{
    auto f = voiceLowPass();
    std::vector<float> left(4096, 0.0f), right(4096, 0.0f);
    left[0] = 1.0f;
    float* channels[] = { left.data(), right.data() };
    {
        AllocationCounter counter;
        f.process(4096, channels);
        EXPECT_EQ(counter.count(), 0u);
    }
    // The right channel only ever sees the alternating offset, far below audibility.
    for (float s : right)
        EXPECT_LT(std::abs(s), 1e-7f);
    EXPECT_GT(std::abs(left[1]), 1e-3f);
}

} // namespace
