#include "filters/directformiistate.h"

void DirectFormIIState::process(const Cascade& cascade, float* samples, int numSamples)
{
    const int numSections = cascade.numSections();
    for (int n = 0; n < numSamples; ++n) {
        const double offset = m_offset;
        m_offset = -m_offset;
        double y = samples[n];
        for (int k = 0; k < numSections; ++k) {
            const Biquad& b = cascade.section(k);
            SectionState& s = m_sections[k];
            double w = y - b.a1() * s.s1 - b.a2() * s.s2;
            if (k == 0)
                w -= offset;
            y = b.b0() * w + b.b1() * s.s1 + b.b2() * s.s2;
            s.s2 = s.s1;
            s.s1 = w;
        }
        samples[n] = static_cast<float>(y);
    }
}
