#pragma once

#include "filters/cascade.h"

// Direct Form II state of one channel through a cascade. A tiny offset that
// flips sign every sample keeps the state out of the denormal range.
class DirectFormIIState
{
public:
    void process(const Cascade& cascade, float* samples, int numSamples);

private:
    struct SectionState
    {
        double s1 = 0.0;
        double s2 = 0.0;
    };

    SectionState m_sections[Cascade::kMaxSections];
    double m_offset = 1e-8;
};
