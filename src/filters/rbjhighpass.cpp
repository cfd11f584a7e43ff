#include "filters/rbjhighpass.h"

#include <cmath>
#include <numbers>

void RbjHighPass::setup(double sampleRate, double cutoffHz, double q)
{
    const double w0 = 2.0 * std::numbers::pi * cutoffHz / sampleRate;
    const double alpha = std::sin(w0) / (2.0 * q);
    const double c = std::cos(w0);
    setSingleSection(1.0 + alpha, -2.0 * c, 1.0 - alpha, (1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0);
}
