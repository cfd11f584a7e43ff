#pragma once

#include "filters/cascade.h"

// Chebyshev type I low-pass: the analog prototype through the bilinear
// low-pass transform. Designed once by setup().
class ChebyshevILowPass : public Cascade
{
public:
    static constexpr int kMaxOrder = 2 * kMaxSections;

    void setup(int order, double sampleRate, double cutoffHz, double rippleDb);
};
