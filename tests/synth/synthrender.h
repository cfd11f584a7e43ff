#pragma once

#include "synth/kelpparameter.h"
#include "synth/kelpsynthengine.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

// Renders the left channel of numFrames frames in host-sized blocks.
inline std::vector<float> renderMono(KelpSynthEngine& engine, int numFrames, int blockFrames = 256)
{
    std::vector<float> left(numFrames);
    std::vector<float> right(numFrames);
    for (int frame = 0; frame < numFrames; frame += blockFrames) {
        const int n = std::min(blockFrames, numFrames - frame);
        float* outputs[2] = { left.data() + frame, right.data() + frame };
        engine.process(outputs, outputs, n);
    }
    return left;
}

inline void setParameter(KelpSynthEngine& engine, KelpParameter index, float value)
{
    engine.currentProgram()->parameter(index)->setValue(value);
}

inline float rms(const std::vector<float>& x, std::size_t begin = 0, std::size_t end = SIZE_MAX)
{
    end = std::min(end, x.size());
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i)
        sum += double(x[i]) * x[i];
    return end > begin ? static_cast<float>(std::sqrt(sum / double(end - begin))) : 0.0f;
}

// Squared error of actual against expected over the energy of expected:
// 1e-6 is an error 60 dB below the signal.
inline double normalizedSquaredError(const std::vector<float>& actual, const std::vector<float>& expected)
{
    double error = 0.0;
    double energy = 0.0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const double d = double(actual[i]) - double(expected[i]);
        error += d * d;
        energy += double(expected[i]) * expected[i];
    }
    return error / energy;
}

// RMS after a DC blocker: what is left to hear of a signal that may sit
// off zero.
inline float acRms(const std::vector<float>& x)
{
    std::vector<float> y(x.size());
    float previousX = 0.0f;
    float previousY = 0.0f;
    for (std::size_t i = 0; i < x.size(); ++i) {
        previousY = x[i] - previousX + 0.997f * previousY;
        previousX = x[i];
        y[i] = previousY;
    }
    return rms(y);
}

// Amplitude of one frequency in x[begin, end), Hann-windowed.
inline double toneLevel(const std::vector<float>& x, std::size_t begin, std::size_t end, double hz)
{
    const double n = double(end - begin);
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
        const double k = double(i - begin);
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / n);
        const double a = 2.0 * std::numbers::pi * hz * k / 44100.0;
        re += w * x[i] * std::cos(a);
        im += w * x[i] * std::sin(a);
    }
    return 4.0 * std::sqrt(re * re + im * im) / n;
}
