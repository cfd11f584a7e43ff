// The engine at 44,100 Hz on devices at other rates: pitch, level and timing
// survive the conversion both ways, whatever the callback sizes.
#include "core/playbackengine.h"
#include "dsp/captureresampler.h"
#include "dsp/playbackresampler.h"
#include "support/allocationcounter.h"
#include "support/capturedsignal.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace {

using namespace capturedsignal;

constexpr int kRates[] = { 32000, 48000, 88200, 96000 };
// Callback sizes a host may hand over, changing from call to call.
constexpr int kCallbackSizes[] = { 256, 1, 64, 1000, 7, 4096, 5000, 128, 3, 2048 };

// A sine in both channels, or a single click at one engine frame.
class TestEngine : public PlaybackEngine
{
public:
    void process(float* buffer, int numFrames) override
    {
        ++calls;
        largest = std::max(largest, numFrames);
        for (int i = 0; i < numFrames; ++i, ++frame) {
            const float v = clickAt >= 0 ? (frame == clickAt ? 1.0f : 0.0f)
                                         : 0.5f * float(std::sin(2.0 * std::numbers::pi * hz * double(frame) / 44100.0));
            buffer[2 * i] += v;
            buffer[2 * i + 1] += v;
        }
    }
    double hz = 441.0;
    long clickAt = -1;
    long frame = 0;
    int calls = 0;
    int largest = 0;
};

std::vector<float> play(PlaybackResampler& r, long deviceFrames)
{
    std::vector<float> out;
    for (std::size_t i = 0; long(out.size()) < 2 * deviceFrames; ++i) {
        std::vector<float> block(2 * kCallbackSizes[i % std::size(kCallbackSizes)], 9.0f);
        AllocationCounter counter;
        r.render(block.data(), long(block.size() / 2));
        EXPECT_EQ(counter.count(), 0u);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

double peakFrame(const std::vector<float>& mono)
{
    const auto peak = std::max_element(mono.begin(), mono.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    const std::size_t k = std::size_t(peak - mono.begin());
    if (k == 0 || k + 1 >= mono.size())
        return double(k);
    // The top of a parabola through the peak and its neighbours.
    const double a = mono[k - 1], b = mono[k], c = mono[k + 1];
    return double(k) + 0.5 * (a - c) / (a - 2 * b + c);
}

TEST(PlaybackResampler, KeepsPitchLevelAndTimingAtEveryRate)
{
    for (int rate : kRates) {
        SCOPED_TRACE(rate);
        TestEngine sine;
        PlaybackResampler toDevice(&sine, rate);
        ASSERT_TRUE(toDevice.isValid());
        const std::vector<float> left = channel(play(toDevice, rate), 2, 0);
        EXPECT_NEAR(frequency(left, rate), 441.0, 0.1);
        EXPECT_NEAR(rms(left, left.size() / 4), 0.5 / std::sqrt(2.0), 0.01);
        EXPECT_LE(sine.largest, PlaybackResampler::MAX_ENGINE_BLOCK);
        // The engine runs no further ahead than one block and the filter.
        EXPECT_LT(double(toDevice.engineFrames()) - double(left.size()) / toDevice.ratio(), 4096 + 200);

        TestEngine click;
        click.clickAt = 20000;
        PlaybackResampler clickToDevice(&click, rate);
        EXPECT_NEAR(peakFrame(channel(play(clickToDevice, rate / 2), 2, 1)), 20000.0 * rate / 44100.0, 1.0);
    }
}

std::vector<float> deviceSine(int rate, int channels, long frames, double hz)
{
    std::vector<float> in;
    for (long k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            in.push_back(0.5f * float(std::sin(2.0 * std::numbers::pi * hz * double(k) / rate)) * (c == 0 ? 1.0f : 0.5f));
    return in;
}

std::vector<float> capture(CaptureResampler& r, const std::vector<float>& in, int channels)
{
    std::vector<float> out;
    out.reserve(4 * in.size() / channels + 8192); // the sink allocates nothing either
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < in.size(); ++i) {
        const long n = std::min<long>(kCallbackSizes[i % std::size(kCallbackSizes)], long((in.size() - pos) / channels));
        AllocationCounter counter;
        r.convert(in.data() + pos, n, [&](const float* frames, int64 count) { out.insert(out.end(), frames, frames + 2 * count); });
        EXPECT_EQ(counter.count(), 0u);
        pos += std::size_t(n) * channels;
    }
    return out;
}

TEST(CaptureResampler, MonoAndStereoArriveAtTheEngineRateAtTheirPitchAndTime)
{
    for (int rate : kRates) {
        for (int channels : { 1, 2 }) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
            CaptureResampler toEngine(channels, rate);
            ASSERT_TRUE(toEngine.isValid());
            const std::vector<float> out = capture(toEngine, deviceSine(rate, channels, rate, 441.0), channels);
            // All but the frames the filter holds back.
            EXPECT_NEAR(double(out.size() / 2), 44100.0, 100.0);
            EXPECT_EQ(toEngine.engineFrames(), long(out.size() / 2));
            const std::vector<float> left = channel(out, 2, 0);
            const std::vector<float> right = channel(out, 2, 1);
            EXPECT_NEAR(frequency(left), 441.0, 0.1);
            EXPECT_NEAR(rms(left, left.size() / 4), 0.5 / std::sqrt(2.0), 0.01);
            EXPECT_NEAR(rms(right, right.size() / 4), (channels == 1 ? 0.5 : 0.25) / std::sqrt(2.0), 0.01);

            std::vector<float> click(std::size_t(rate / 2) * channels, 0.0f);
            click[std::size_t(10000) * channels] = 1.0f;
            CaptureResampler clickToEngine(channels, rate);
            EXPECT_NEAR(peakFrame(channel(capture(clickToEngine, click, channels), 2, 0)), 10000.0 * 44100.0 / rate, 1.0);
        }
    }
}

} // namespace
