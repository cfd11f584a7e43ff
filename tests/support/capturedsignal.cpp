#include "support/capturedsignal.h"

#include "dsp/masterbus.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace capturedsignal {

std::vector<float> channel(const std::vector<float>& frames, int channels, int which)
{
    std::vector<float> out;
    for (std::size_t i = which; i < frames.size(); i += channels)
        out.push_back(frames[i]);
    return out;
}

double rms(const std::vector<float>& mono, std::size_t first)
{
    double sum = 0.0;
    for (std::size_t i = first; i < mono.size(); ++i)
        sum += double(mono[i]) * mono[i];
    return mono.size() > first ? std::sqrt(sum / double(mono.size() - first)) : 0.0;
}

namespace {

// Rising zero crossings, interpolated between samples.
std::vector<double> risingCrossings(const std::vector<float>& mono)
{
    std::vector<double> at;
    for (std::size_t i = 1; i < mono.size(); ++i)
        if (mono[i - 1] < 0.0f && mono[i] >= 0.0f)
            at.push_back(double(i - 1) + mono[i - 1] / double(mono[i - 1] - mono[i]));
    return at;
}

} // namespace

double frequency(const std::vector<float>& mono, double rate)
{
    const std::vector<double> at = risingCrossings(mono);
    return at.size() > 1 ? double(at.size() - 1) * rate / (at.back() - at.front()) : 0.0;
}

double steadyFrequency(const std::vector<float>& mono, double rate)
{
    const std::vector<double> at = risingCrossings(mono);
    if (at.size() < 3)
        return 0.0;
    std::vector<double> periods;
    for (std::size_t i = 1; i < at.size(); ++i)
        periods.push_back(at[i] - at[i - 1]);
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0.0;
    int count = 0;
    for (double p : periods) {
        if (std::fabs(p - median) <= 0.05 * median) {
            sum += p;
            ++count;
        }
    }
    return count > 0 ? count * rate / sum : 0.0;
}

std::vector<long> onsets(const std::vector<float>& mono, float threshold)
{
    std::vector<long> found;
    long lastSound = -100000;
    for (std::size_t i = 0; i < mono.size(); ++i) {
        if (std::fabs(mono[i]) > threshold) {
            if (long(i) - lastSound > 4410)
                found.push_back(long(i));
            lastSound = long(i);
        }
    }
    return found;
}

double outputRms(double hz, float amplitude)
{
    // Two seconds through a fresh bus; the second one is measured.
    constexpr int kBlock = 256;
    MasterBus bus;
    std::vector<float> block(2 * kBlock);
    std::vector<float> left;
    double phase = 0.0;
    for (int b = 0; b < 2 * 44100 / kBlock; ++b) {
        for (int i = 0; i < kBlock; ++i) {
            block[2 * i] = block[2 * i + 1] = amplitude * float(std::sin(phase));
            phase += 2.0 * std::numbers::pi * hz / 44100.0;
        }
        bus.process(block.data(), kBlock);
        for (int i = 0; i < kBlock; ++i)
            left.push_back(block[2 * i]);
    }
    return rms(left, left.size() / 2);
}

} // namespace capturedsignal
