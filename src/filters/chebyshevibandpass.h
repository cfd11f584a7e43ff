#pragma once

#include "filters/cascade.h"

// Chebyshev type I band-pass: the analog prototype through the bilinear
// band-pass transform, which doubles the order. Designed once by setup().
class ChebyshevIBandPass : public Cascade
{
public:
    static constexpr int kMaxOrder = kMaxSections;

    void setup(int order, double sampleRate, double centerHz, double widthHz, double rippleDb);
};
