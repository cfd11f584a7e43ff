#include "support/capturedsignal.h"

#include "dsp/masterbus.h"

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

double frequency(const std::vector<float>& mono, double rate)
{
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < mono.size(); ++i) {
        if (mono[i - 1] < 0.0f && mono[i] >= 0.0f) {
            const double at = double(i - 1) + mono[i - 1] / double(mono[i - 1] - mono[i]);
            if (first < 0.0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
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
